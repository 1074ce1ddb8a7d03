#!/usr/bin/env python3
"""Differential test of hsptab against DIAMOND, which writes BLAST's pairwise
layout (--outfmt 0) under "BLASTP 2.3.0+" for blastp and blastx alike.

The test's proteins and coding sequences under hostile titles (see
hostile_titles.py) are searched with diamond blastp and blastx, as a report
and as DIAMOND's own table of the same search; hsptab's rows from the report
must equal DIAMOND's, field by field. Where DIAMOND's table and BLAST's
conventions differ, hsptab follows BLAST's (its manual lists them): pident
to three decimals where DIAMOND writes one, so percentages are compared as
numbers within DIAMOND's rounding; a subject without a definition line is
N/A where DIAMOND writes nothing, and a query without one Query_N; a
blastp query's frame is 1, not 0.

usage: diamond_differential.py --hsptab BINARY --workdir DIR [--diamond PATH] [--seed N]
"""

import argparse
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import blast_differential as bd  # noqa: E402  (beside this script)
import hostile_titles  # noqa: E402

FIELDS = "qseqid sseqid qlen slen pident length mismatch gapopen qstart qend sstart send evalue bitscore qframe"
# Fields that DIAMOND rounds otherwise than BLAST: compared as numbers, to
# within half of DIAMOND's last place.
ROUNDED = {"pident": 0.05}


def run(command, workdir, output=None):
    with open(os.path.join(workdir, output), "wb") if output else open(os.devnull, "wb") as out:
        done = subprocess.run(command, cwd=workdir, stdout=out, stderr=subprocess.PIPE, timeout=600)
    if done.returncode != 0:
        raise RuntimeError("%s failed (exit %d): %s" % (" ".join(command), done.returncode,
                                                         done.stderr.decode(errors="replace")[:2000]))


def same_value(name, diamond, hsptab):
    if name == "sseqid" and diamond == "" and hsptab == "N/A":
        return True
    if name == "qseqid" and diamond == "" and re.fullmatch(r"Query_[0-9]+", hsptab):
        return True
    # BLAST+'s table gives an untranslated protein query the frame 1.
    if name == "qframe" and diamond == "0" and hsptab == "1":
        return True
    if name in ROUNDED:
        try:
            return abs(float(diamond) - float(hsptab)) <= ROUNDED[name] + 1e-9
        except ValueError:
            return False
    return diamond == hsptab


def compare(name, diamond_lines, hsptab_lines):
    fields = FIELDS.split()
    differences = []
    if len(diamond_lines) != len(hsptab_lines):
        differences.append("%s: DIAMOND wrote %d rows, hsptab %d" % (name, len(diamond_lines), len(hsptab_lines)))
    for row, (d, h) in enumerate(zip(diamond_lines, hsptab_lines), 1):
        dv, hv = d.split("\t"), h.split("\t")
        if len(dv) != len(fields) or len(hv) != len(fields):
            differences.append("%s row %d: fields %d and %d" % (name, row, len(dv), len(hv)))
            continue
        for field, a, b in zip(fields, dv, hv):
            if not same_value(field, a, b):
                differences.append("%s row %d %s: DIAMOND %r, hsptab %r" % (name, row, field, a[:80], b[:80]))
    return differences


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hsptab", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--diamond", default="diamond")
    parser.add_argument("--seed", type=int, default=bd.DEFAULT_SEED)
    options = parser.parse_args()
    hsptab = os.path.abspath(options.hsptab)
    workdir = os.path.abspath(options.workdir)
    os.makedirs(workdir, exist_ok=True)
    print("seed %d" % options.seed)

    data = bd.Data(options.seed)
    hostile = hostile_titles.HostileData(options.seed, data, hostile_titles.gapped_pair(bd.Generator(1).dna))
    for name in ("hostile_prot.fa", "hostile_prot_queries.fa"):
        bd.write_fasta(os.path.join(workdir, name), hostile.files[name])
    bd.write_fasta(os.path.join(workdir, "coding_queries.fa"), data.coding_queries)
    run([options.diamond, "makedb", "--in", "hostile_prot.fa", "--db", "hostile_prot", "--quiet"], workdir)

    searches = [("diamond_blastp", "blastp", "hostile_prot_queries.fa"),
                ("diamond_blastx", "blastx", "coding_queries.fa")]
    failed = 0
    for name, program, queries in searches:
        base = [options.diamond, program, "--query", queries, "--db", "hostile_prot", "--sensitive", "--quiet",
                "--threads", "1", "--evalue", "10"]
        run(base + ["--outfmt", "0", "--out", name + ".report"], workdir)
        run(base + ["--outfmt", "6"] + FIELDS.split() + ["--out", name + ".diamond.tsv"], workdir)
        done = subprocess.run([hsptab, "-f", FIELDS, name + ".report"], cwd=workdir, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=300)
        differences = []
        if done.returncode != 0:
            differences.append("hsptab exit %d: %s" % (done.returncode, done.stderr.decode(errors="replace")[:500]))
        else:
            ours = done.stdout.decode(errors="replace").splitlines()
            theirs = bd.lines_of(os.path.join(workdir, name + ".diamond.tsv"))
            differences = compare(name, [line for line in theirs if line], ours)
        if differences:
            failed += 1
            print("FAIL %s (%d differences)" % (name, len(differences)))
            print("".join("  %s\n" % d for d in differences[:10]), end="")
        else:
            print("ok   %s" % name)
    print("%d passed, %d failed" % (len(searches) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
