#!/usr/bin/env python3
"""Differential test of hsptab against BLAST+ itself.

Makes synthetic sequences and databases, runs every BLAST+ search program
as a text report and as BLAST's own tables (all fields, all fields with
comments, the standard fields), and requires hsptab's rows from the report
to equal BLAST's; and each report's queries, repeated into one report large
enough to be read on two threads, must give the table that reading it from
standard input gives. Every file stays in the work directory;
NAME.differences lists every difference of search NAME.

usage: blast_differential.py --hsptab BINARY --workdir DIR [--blast-dir DIR]
                             [--only NAME ...] [--jobs N] [--seed N]

Another --seed gives other sequences, hence searches hsptab has not seen.
"""

import argparse
import concurrent.futures
import decimal
import difflib
import os
import random
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile_titles  # noqa: E402  (beside this script)

ALL_KEYWORDS = ("qseqid qlen sseqid stitle slen pident length mismatch gapopen gaps nident positive ppos "
                "qstart qend sstart send qframe sframe frames sstrand evalue bitscore score qcovhsp btop qseq sseq")
STD_KEYWORDS = "qseqid sseqid pident length mismatch gapopen qstart qend sstart send evalue bitscore"
MAX_LINES_PER_SEARCH = 10
DEFAULT_SEED = 20240611

# ---------------------------------------------------------------------------
# Synthetic sequences

AMINO_ACIDS = "ARNDCQEGHILKMFPSTWYV"
# Background frequencies, so that BLAST's composition statistics see an
# ordinary protein rather than a uniform one.
AMINO_WEIGHTS = [78, 51, 45, 54, 19, 43, 63, 74, 22, 51, 90, 57, 22, 39, 52, 71, 58, 13, 32, 64]
CODONS = {
    "A": ["GCT", "GCC", "GCA", "GCG"], "R": ["CGT", "CGC", "CGA", "CGG", "AGA", "AGG"],
    "N": ["AAT", "AAC"], "D": ["GAT", "GAC"], "C": ["TGT", "TGC"], "Q": ["CAA", "CAG"],
    "E": ["GAA", "GAG"], "G": ["GGT", "GGC", "GGA", "GGG"], "H": ["CAT", "CAC"],
    "I": ["ATT", "ATC", "ATA"], "L": ["TTA", "TTG", "CTT", "CTC", "CTA", "CTG"], "K": ["AAA", "AAG"],
    "M": ["ATG"], "F": ["TTT", "TTC"], "P": ["CCT", "CCC", "CCA", "CCG"],
    "S": ["TCT", "TCC", "TCA", "TCG", "AGT", "AGC"], "T": ["ACT", "ACC", "ACA", "ACG"], "W": ["TGG"],
    "Y": ["TAT", "TAC"], "V": ["GTT", "GTC", "GTA", "GTG"],
}
COMPLEMENT = str.maketrans("ACGTacgt", "TGCAtgca")


class Generator:
    def __init__(self, seed):
        self.random = random.Random(seed)

    def dna(self, length):
        return "".join(self.random.choice("ACGT") for _ in range(length))

    def protein(self, length):
        return "M" + "".join(self.random.choices(AMINO_ACIDS, AMINO_WEIGHTS, k=length - 1))

    def coding(self, protein):
        return "".join(self.random.choice(CODONS[a]) for a in protein)

    def mutate(self, sequence, substitution_rate, indels, alphabet):
        """Substitutions at the given rate and `indels` short insertions or deletions."""
        letters = [self.random.choice(alphabet.replace(c, "")) if self.random.random() < substitution_rate else c
                   for c in sequence]
        for _ in range(indels):
            where = self.random.randrange(10, len(letters) - 10)
            size = self.random.randint(1, 4)
            if self.random.random() < 0.5:
                del letters[where:where + size]
            else:
                letters[where:where] = [self.random.choice(alphabet) for _ in range(size)]
        return "".join(letters)

    def mutate_dna(self, sequence, rate, indels=0):
        return self.mutate(sequence, rate, indels, "ACGT")

    def mutate_protein(self, sequence, rate, indels=0):
        return self.mutate(sequence, rate, indels, AMINO_ACIDS)


def reverse_complement(sequence):
    return sequence.translate(COMPLEMENT)[::-1]


LONG_TITLE_WORDS = ("synthetic chromosome segment assembled from overlapping clones with several repeated "
                    "regions inverted copies and a protein coding open reading frame annotated by hand "
                    "for testing the conversion of pairwise reports into tables").split()
LONG_WORD = "Synthetic_contig_with_an_extremely_long_identifier_that_has_no_spaces_at_all_" \
            "so_that_BLAST_must_cut_it_somewhere_when_it_wraps_the_title_line_of_the_report_END"


def long_title(prefix):
    """A title well over 200 characters, so that BLAST wraps it."""
    return prefix + " " + " ".join(LONG_TITLE_WORDS + LONG_TITLE_WORDS[:12])


class Data:
    """Every sequence of the test, as (title, sequence) pairs per file."""

    def __init__(self, seed=DEFAULT_SEED):
        g = Generator(seed)
        # Proteins: the coded ones and a family for psiblast to iterate over.
        p1, p2, p3, p4 = g.protein(260), g.protein(210), g.protein(180), g.protein(230)
        # Each member drifts from the one before, so that psiblast's later
        # rounds find members its first round missed.
        family = [g.mutate_protein(p4, 0.35, 2)]
        for _ in range(4):
            family.append(g.mutate_protein(family[-1], 0.33, 2))

        g1, g2 = g.dna(2400), g.dna(1500)
        cds1, cds2, cds3 = g.coding(p1), g.coding(p2), g.coding(p3)

        # Nucleotide subjects, each with several HSPs against the queries.
        alpha = (g.dna(100) + g.mutate_dna(g1[0:700], 0.03, 2) + g.dna(150)
                 + reverse_complement(g.mutate_dna(g1[900:1500], 0.04, 2)) + g.dna(120)
                 + g.mutate_dna(g1[0:700], 0.06, 3) + g.dna(80)
                 + g.mutate_dna(g1[1600:2400], 0.14, 4) + g.dna(90))
        beta = (g.dna(60) + g.mutate_dna(g2[800:1200], 0.02, 1) + g.dna(70) + g.mutate_dna(g2[0:400], 0.05, 2)
                + g.dna(50) + reverse_complement(g.mutate_dna(g2[400:800], 0.08, 2)) + g.dna(100))
        # Coding regions on several frames of both strands.
        gamma = (g.dna(31) + g.mutate_dna(cds1, 0.05, 0) + g.dna(200)
                 + reverse_complement(g.dna(2) + g.mutate_dna(cds2, 0.06, 0)) + g.dna(77))
        delta = (g.dna(53) + reverse_complement(g.mutate_dna(cds3, 0.04, 0)) + g.dna(101)
                 + g.mutate_dna(cds1[:450], 0.12, 0) + g.dna(64) + g.mutate_dna(g1[300:600], 0.01, 0) + g.dna(40))
        unrelated = g.dna(900)

        nt_subjects = [
            ("contig_alpha Synthetic contig alpha with repeats and an inverted copy", alpha),
            ("contig_beta " + " ".join(LONG_TITLE_WORDS[:8]), beta),
            (LONG_WORD, gamma),
            (long_title("contig_delta"), delta),
            ("contig_unrelated nothing matches this one", unrelated),
        ]
        self.nt_plain = nt_subjects
        self.nt_ids = [
            ("ref|NM_000001.1| Homo sapiens synthetic gene alpha (SGA), mRNA", alpha),
            ("gb|AB123456.2| " + long_title("Synthetic"), beta),
            ("emb|X12345.1| " + LONG_WORD, gamma),
            ("contig_7 local identifier and a plain title", delta),
            ("gi|123456|ref|NM_000002.1| Homo sapiens unrelated transcript", unrelated),
        ]

        masked = g1[0:900]
        masked = masked[:120] + masked[120:330].lower() + masked[330:600] + masked[600:640].lower() + masked[640:]
        coding_query = (g.dna(20) + g.mutate_dna(cds1, 0.03, 0) + g.dna(41)
                        + reverse_complement(g.mutate_dna(cds3, 0.05, 0)) + g.dna(33))
        self.nt_queries = [
            ("q_alpha first nucleotide query, several words", g1),
            ("ref|NM_999999.1| " + long_title("Query"), g2[:1300]),
            ("q_nohit random sequence that matches nothing", g.dna(500)),
            ("q_masked lower-case letters mark low complexity", masked),
        ]
        self.coding_queries = [
            ("q_coding two open reading frames, one reversed", coding_query),
            (LONG_WORD + "_query", g.dna(11) + reverse_complement(g.mutate_dna(cds2[:360], 0.04, 0)) + g.dna(16)),
            ("q_noncoding nothing to translate", g.dna(400)),
            ("q_coding_masked a reading frame partly in lower case",
             g.dna(25) + cds2[:240] + cds2[240:420].lower() + cds2[420:] + g.dna(30)),
        ]
        self.short_queries = [
            ("short_exact a short query", alpha[200:228]),
            ("short_mismatch one substitution", beta[150:170] + ("A" if beta[170] != "A" else "C") + beta[171:180]),
            ("short_reverse from the other strand", reverse_complement(alpha[1000:1024])),
            ("short_nohit", g.dna(24)),
        ]

        self.prot_plain = [
            ("prot_alpha Alpha protein with a repeated domain", g.mutate_protein(p1, 0.15, 2) + g.protein(30)[1:]
             + g.mutate_protein(p1[50:200], 0.25, 2)),
            ("prot_beta " + " ".join(LONG_TITLE_WORDS[:9]), g.mutate_protein(p2, 0.30, 4)),
            (LONG_WORD, g.mutate_protein(p3[100:180], 0.10, 1) + g.protein(40)[1:]
             + g.mutate_protein(p3[0:100], 0.2, 1)),
            (long_title("prot_delta"), g.mutate_protein(p4, 0.20, 2)),
        ] + [("family_%d member %d of a diverging family" % (i, i), s) for i, s in enumerate(family)] + [
            ("prot_unrelated", g.protein(150)),
        ]
        self.prot_ids = [
            ("sp|P12345.1|ALPHA_HUMAN Alpha protein OS=Homo sapiens OX=9606 GN=ALPHA PE=1 SV=1",
             self.prot_plain[0][1]),
            ("ref|NP_000001.1| " + long_title("beta protein"), self.prot_plain[1][1]),
            ("tr|A0A024R161|A0A024R161_HUMAN " + LONG_WORD, self.prot_plain[2][1]),
            ("gb|AAA12345.1| delta protein", self.prot_plain[3][1]),
        ] + [("sp|Q%05d.1|FAM%d_MOUSE family member %d" % (10000 + i, i, i), s) for i, s in enumerate(family)] + [
            ("pdb|1ABC|A Chain A, unrelated", self.prot_plain[-1][1]),
        ]
        p3_masked = p3[:40] + p3[40:90].lower() + p3[90:]
        self.prot_queries = [
            ("pq_alpha first protein query", p1),
            ("sp|Q99999.2|QUERY_HUMAN " + long_title("query protein"), p2),
            ("pq_nohit random protein", g.protein(120)),
            ("pq_masked lower-case stretch", p3_masked),
            ("pq_delta family founder", p4),
        ]
        # Each becomes one profile of the rpsblast database, named like CDD's.
        self.profile_seeds = [
            ("gnl|CDD|100001 cd00001, ALPHA, alpha domain found in synthetic proteins", p1),
            ("gnl|CDD|100002 pfam00002, BETA, " + long_title("beta family"), p2),
            ("prof_gamma " + LONG_WORD, p3),
            ("gnl|CDD|100004 COG0004, DELTA, delta family founder", p4),
        ]


def write_fasta(path, records, width=60):
    with open(path, "w") as out:
        for title, sequence in records:
            out.write(">" + title + "\n")
            for i in range(0, len(sequence), width):
                out.write(sequence[i:i + width] + "\n")


# ---------------------------------------------------------------------------
# The searches

def searches(rpsblast, rpstblastn):
    """(name, program, arguments, report-only arguments) of every search."""
    nt_q, cod_q, short_q, prot_q = "nt_queries.fa", "coding_queries.fa", "short_queries.fa", "prot_queries.fa"
    found = [
        ("megablast_db", "blastn", ["-task", "megablast", "-query", nt_q, "-db", "nt_plain"], []),
        ("megablast_ids_ll100", "blastn", ["-task", "megablast", "-query", nt_q, "-db", "nt_ids"],
         ["-line_length", "100"]),
        ("megablast_lcase", "blastn", ["-task", "megablast", "-query", nt_q, "-db", "nt_plain", "-lcase_masking"], []),
        ("dc_megablast_db", "blastn", ["-task", "dc-megablast", "-query", nt_q, "-db", "nt_plain"], []),
        ("dc_megablast_subject", "blastn", ["-task", "dc-megablast", "-query", cod_q, "-subject", "nt_plain.fa"], []),
        ("blastn_ids", "blastn", ["-task", "blastn", "-query", nt_q, "-db", "nt_ids", "-evalue", "1"], []),
        ("blastn_subject_ll37", "blastn", ["-task", "blastn", "-query", nt_q, "-subject", "nt_plain.fa"],
         ["-line_length", "37"]),
        ("blastn_lcase_ll100", "blastn", ["-task", "blastn", "-query", nt_q, "-db", "nt_plain", "-lcase_masking",
                                          "-evalue", "1e-5"], ["-line_length", "100"]),
        ("blastn_subject_deflines", "blastn", ["-task", "megablast", "-query", nt_q, "-subject", "nt_ids.fa",
                                               "-parse_deflines"], []),
        ("blastn_short_db", "blastn", ["-task", "blastn-short", "-query", short_q, "-db", "nt_plain"], []),
        ("blastn_short_subject", "blastn", ["-task", "blastn-short", "-query", short_q, "-subject", "nt_ids.fa"], []),
        ("blastp_db", "blastp", ["-query", prot_q, "-db", "prot_plain"], []),
        ("blastp_ids_ll100", "blastp", ["-query", prot_q, "-db", "prot_ids"], ["-line_length", "100"]),
        ("blastp_subject_ll37", "blastp", ["-query", prot_q, "-subject", "prot_plain.fa"], ["-line_length", "37"]),
        ("blastp_lcase", "blastp", ["-query", prot_q, "-db", "prot_ids", "-lcase_masking"], []),
        ("blastx_db", "blastx", ["-query", cod_q, "-db", "prot_plain"], []),
        ("blastx_ids_ll37", "blastx", ["-query", cod_q, "-db", "prot_ids"], ["-line_length", "37"]),
        ("blastx_subject", "blastx", ["-query", cod_q, "-subject", "prot_ids.fa"], []),
        ("blastx_lcase", "blastx", ["-query", cod_q, "-db", "prot_plain", "-lcase_masking"], []),
        ("tblastn_db", "tblastn", ["-query", prot_q, "-db", "nt_plain"], []),
        ("tblastn_ids_lcase", "tblastn", ["-query", prot_q, "-db", "nt_ids", "-lcase_masking"], []),
        ("tblastn_subject_ll100", "tblastn", ["-query", prot_q, "-subject", "nt_plain.fa"], ["-line_length", "100"]),
        ("tblastx_db", "tblastx", ["-query", cod_q, "-db", "nt_plain", "-evalue", "1e-3"], []),
        ("tblastx_ids_ll37", "tblastx", ["-query", cod_q, "-db", "nt_ids", "-evalue", "1e-3"], ["-line_length", "37"]),
        ("tblastx_subject", "tblastx", ["-query", cod_q, "-subject", "nt_ids.fa", "-evalue", "1e-3"], []),
        ("psiblast_db", "psiblast", ["-query", prot_q, "-db", "prot_plain", "-num_iterations", "3"], []),
        ("psiblast_ids_ll37", "psiblast", ["-query", prot_q, "-db", "prot_ids", "-num_iterations", "3"],
         ["-line_length", "37"]),
    ]
    if rpsblast:
        found += [
            ("rpsblast_db", rpsblast, ["-query", prot_q, "-db", "profiles"], []),
            ("rpsblast_ll100", rpsblast, ["-query", prot_q, "-db", "profiles"], ["-line_length", "100"]),
        ]
    if rpsblast and rpstblastn:
        found.append(("rpstblastn_db", rpstblastn, ["-query", cod_q, "-db", "profiles"], []))
    return found


def is_blast_plus(path, name):
    """Whether `path` is BLAST+'s program `name`: it answers -version with
    "NAME: 2.12.0+" (or "NAME+: ..."). Debian's ncbi-blast+-legacy installs
    wrappers of the legacy blastall syntax under some of BLAST+'s names
    (rpsblast among them), which answer -version with a usage error."""
    try:
        done = subprocess.run([path, "-version"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return False
    first_line = done.stdout.decode(errors="replace").split("\n", 1)[0]
    said_name, _, version = first_line.partition(": ")
    return done.returncode == 0 and said_name in (name, name + "+") and version.rstrip().endswith("+")


def find_program(blast_dir, name):
    """BLAST+'s program `name`, found by what it is, not by the first
    executable of that name: the "+" name first (Debian's for some programs),
    then the plain one, each only if it says it is BLAST+."""
    for candidate in (name + "+", name):
        path = os.path.join(blast_dir, candidate) if blast_dir else shutil.which(candidate)
        if path and os.access(path, os.X_OK) and is_blast_plus(path, name):
            return path
    return None


def run(command, workdir, output=None):
    """Runs `command` in `workdir`; returns (exit status, standard error)."""
    with open(os.path.join(workdir, output), "wb") if output else open(os.devnull, "wb") as out:
        done = subprocess.run(command, cwd=workdir, stdout=out, stderr=subprocess.PIPE, timeout=300)
    return done.returncode, done.stderr.decode(errors="replace")


class SetupError(Exception):
    pass


def checked(command, workdir, output=None):
    status, error = run(command, workdir, output)
    if status != 0:
        raise SetupError("%s failed (exit %d): %s" % (" ".join(command), status, error.strip()[:2000]))


def prepare(workdir, blast_dir, seed):
    """Writes the sequences and builds the databases; returns the rpsblast
    program, or None with the reason it is left out, and the hostile
    searches' line widths."""
    data = Data(seed)
    hostile = hostile_titles.HostileData(seed, data, hostile_titles.gapped_pair(Generator(seed + 1).dna))
    files = {
        "nt_plain.fa": data.nt_plain, "nt_ids.fa": data.nt_ids, "nt_queries.fa": data.nt_queries,
        "coding_queries.fa": data.coding_queries, "short_queries.fa": data.short_queries,
        "prot_plain.fa": data.prot_plain, "prot_ids.fa": data.prot_ids, "prot_queries.fa": data.prot_queries,
    }
    files.update(hostile.files)
    for name, records in files.items():
        write_fasta(os.path.join(workdir, name), records)
    for name, text in hostile.texts.items():
        with open(os.path.join(workdir, name), "w") as out:
            out.write(text)
    makeblastdb = find_program(blast_dir, "makeblastdb")
    if not makeblastdb:
        raise SetupError("makeblastdb not found")
    for fasta, kind, options in hostile.databases:
        checked([makeblastdb, "-in", fasta, "-dbtype", kind, "-out", fasta[:-3]] + options, workdir)
    checked([makeblastdb, "-in", "nt_plain.fa", "-dbtype", "nucl", "-out", "nt_plain"], workdir)
    checked([makeblastdb, "-in", "nt_ids.fa", "-dbtype", "nucl", "-parse_seqids", "-out", "nt_ids"], workdir)
    checked([makeblastdb, "-in", "prot_plain.fa", "-dbtype", "prot", "-out", "prot_plain"], workdir)
    checked([makeblastdb, "-in", "prot_ids.fa", "-dbtype", "prot", "-parse_seqids", "-out", "prot_ids"], workdir)

    # Debian installs rpsblast as rpsblast+; with ncbi-blast+-legacy,
    # rpsblast is the legacy wrapper, which find_program passes over.
    rpsblast = find_program(blast_dir, "rpsblast")
    makeprofiledb = find_program(blast_dir, "makeprofiledb")
    psiblast = find_program(blast_dir, "psiblast")
    if not (rpsblast and makeprofiledb and psiblast):
        return None, "rpsblast, makeprofiledb or psiblast not found", hostile.widths
    # One profile per seed protein, from psiblast's model after its last
    # round; -parse_deflines gives each profile its own identifier.
    names = []
    for i, (title, sequence) in enumerate(data.profile_seeds):
        seed, profile = "profile_seed_%d.fa" % i, "profile_%d.smp" % i
        write_fasta(os.path.join(workdir, seed), [(title, sequence)])
        checked([psiblast, "-query", seed, "-db", "prot_plain", "-num_iterations", "2", "-parse_deflines",
                 "-out_pssm", profile, "-save_pssm_after_last_round", "-num_threads", "1"], workdir)
        names.append(profile)
    with open(os.path.join(workdir, "profiles.pn"), "w") as out:
        out.write("\n".join(names) + "\n")
    checked([makeprofiledb, "-in", "profiles.pn", "-out", "profiles", "-title", "synthetic profiles"], workdir)
    return rpsblast, None, hostile.widths


# ---------------------------------------------------------------------------
# Comparison

DECIMAL = decimal.Context(prec=1000, Emin=-999999, Emax=999999)


def as_decimal(text):
    if text.startswith("e"):  # BLAST's legacy form of 1e-102
        text = "1" + text
    try:
        value = DECIMAL.create_decimal(text)
    except decimal.InvalidOperation:
        return None
    return value if value.is_finite() else None


def evalue_matches(blast, hsptab):
    """Whether hsptab's expect value, copied from the report, is BLAST's
    exact one rounded: at hsptab's decimal places without losing BLAST's
    leading digit (3.10e-90 -> 3e-90, 1.55 -> 1.6), or at hsptab's number
    of significant digits (9.96e-90 -> 1e-89). A tie counts either way, as
    BLAST's table itself is rounded. "0.0", BLAST's word for below 1e-180,
    matches only itself."""
    if blast == hsptab:
        return True
    b, h = as_decimal(blast), as_decimal(hsptab)
    if b is None or h is None:
        return False
    if b.is_zero() or h.is_zero():
        return False
    modes = (decimal.ROUND_HALF_UP, decimal.ROUND_HALF_DOWN, decimal.ROUND_HALF_EVEN)
    places = h.as_tuple().exponent
    if places <= b.adjusted():
        if any(b.quantize(DECIMAL.create_decimal(1).scaleb(places), m, DECIMAL) == h for m in modes):
            return True
    digits = len(h.as_tuple().digits)  # as written: 0.010 has two
    quantum = DECIMAL.create_decimal(1).scaleb(b.adjusted() - digits + 1)
    return any(b.quantize(quantum, m, DECIMAL) == h for m in modes)


def lines_of(path):
    with open(path, "rb") as f:
        text = f.read().decode("utf-8", errors="replace")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    # psiblast writes its convergence notice, after an empty line, into its
    # tables too: a message on standard output, not part of the table.
    kept = []
    for line in lines:
        if line == "Search has CONVERGED!":
            if kept and kept[-1] == "":
                kept.pop()
            continue
        kept.append(line)
    return kept


def excerpt(a, b):
    """Both values, cut around their first difference when long."""
    if len(a) <= 60 and len(b) <= 60:
        return repr(a), repr(b)
    at = next((i for i in range(min(len(a), len(b))) if a[i] != b[i]), min(len(a), len(b)))
    start = max(0, at - 25)

    def cut(s):
        piece = s[start:at + 25]
        return ("..." if start > 0 else "") + repr(piece) + ("..." if at + 25 < len(s) else "") + \
            " (%d chars)" % len(s)
    return cut(a), cut(b)


class Difference:
    def __init__(self, check, where, field, blast, hsptab):
        self.check, self.where, self.field, self.blast, self.hsptab = check, where, field, blast, hsptab

    def kind(self):
        return (self.check, self.field)

    def __str__(self):
        b, h = excerpt(self.blast, self.hsptab)
        return "[%s] %s: %s: BLAST %s, hsptab %s" % (self.check, self.where, self.field, b, h)


def short(value, width=30):
    return value if len(value) <= width else value[:width - 3] + "..."


def compare_lines(check, fields, blast_lines, hsptab_lines):
    """Differences between BLAST's table and hsptab's. Comment lines are
    matched by their text and rows by their place among the rows, so that a
    missing comment line does not shift every row after it."""
    found = []

    def key(line):
        return line if line.startswith("#") else "\trow"

    def where(i):
        row = sum(1 for line in blast_lines[:i + 1] if not line.startswith("#"))
        return "row %d (line %d)" % (row, i + 1) if any(l.startswith("#") for l in blast_lines) else "row %d" % row

    def compare_pair(i, j):
        b, h = blast_lines[i], hsptab_lines[j]
        if b.startswith("#") or h.startswith("#"):
            if b != h:
                found.append(Difference(check, "line %d" % (i + 1), "comment" if b.startswith("#") else "line", b, h))
            return
        b_fields, h_fields = b.split("\t"), h.split("\t")
        if len(b_fields) != len(fields) or len(h_fields) != len(fields):
            found.append(Difference(check, where(i), "number of fields", "%d: %s" % (len(b_fields), b),
                                    "%d: %s" % (len(h_fields), h)))
            return
        label = "%s (%s, %s)" % (where(i), short(b_fields[0]),
                                 short(b_fields[fields.index("sseqid")]) if "sseqid" in fields else "")
        for name, bv, hv in zip(fields, b_fields, h_fields):
            if bv != hv and not (name == "evalue" and evalue_matches(bv, hv)):
                found.append(Difference(check, label, name, bv, hv))

    matcher = difflib.SequenceMatcher(None, [key(l) for l in blast_lines], [key(l) for l in hsptab_lines],
                                      autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        pairs = min(i2 - i1, j2 - j1)
        for k in range(pairs):
            compare_pair(i1 + k, j1 + k)
        for i in range(i1 + pairs, i2):
            found.append(Difference(check, "line %d" % (i + 1) if blast_lines[i].startswith("#") else where(i),
                                    "line", blast_lines[i], "(missing)"))
        for j in range(j1 + pairs, j2):
            found.append(Difference(check, "after line %d" % i2, "line", "(nothing)", hsptab_lines[j]))
    if len(blast_lines) != len(hsptab_lines):
        found.insert(0, Difference(check, "whole table", "lines", "%d lines" % len(blast_lines),
                                   "%d lines" % len(hsptab_lines)))
    return found


# ---------------------------------------------------------------------------
# Running and checking

CHECKS = (
    # (label, BLAST's output, hsptab's arguments, fields)
    ("-outfmt 6", "6 " + ALL_KEYWORDS, ["-f", ALL_KEYWORDS], ALL_KEYWORDS.split()),
    ("-outfmt 7", "7 " + ALL_KEYWORDS, ["--comments", "-f", ALL_KEYWORDS], ALL_KEYWORDS.split()),
    ("default fields", "6 " + STD_KEYWORDS, [], STD_KEYWORDS.split()),
)


class Outcome:
    def __init__(self, name, description):
        self.name, self.description = name, description
        self.differences = []
        self.errors = []  # a program that failed
        self.notes = []
        self.blast_ran = False

    @property
    def passed(self):
        return not self.differences and not self.errors


def table_name(name, index, who):
    return "%s.%s.%d.tsv" % (name, who, index)


TABLE_ONLY = {}  # arguments of a search's tables alone, by name


def blast_tables(workdir, name, program, arguments, report_only):
    base = [program] + arguments + ["-num_threads", "1"]
    checked(base + ["-outfmt", "0"] + report_only, workdir, name + ".report")
    for index, (_, outfmt, _, _) in enumerate(CHECKS):
        checked(base + TABLE_ONLY.get(name, []) + ["-outfmt", outfmt], workdir, table_name(name, index, "blast"))


# What a text report cannot carry. BLAST's report shows a parsed sequence id
# (a database built with -parse_seqids, a -parse_deflines search, a profile
# database) as its accession alone, where the table writes the whole id; it
# names the database by its title, where the commented table writes the -db
# argument. hsptab writes what the report shows, and says so in its manual;
# BLAST's tables are brought to that form here, field by field, and nothing
# else is changed.

def id_as_reported(seqid):
    """How a text report shows a parsed sequence id: "ref|NM_000001.1|" as
    NM_000001.1, "gnl|CDD|100001" as CDD:100001, "pdb|1ABC|A" as 1ABC_A."""
    parts = seqid.split("|")
    if len(parts) < 2:
        return seqid
    if parts[0] == "gi" and len(parts) >= 4:
        parts = parts[2:]
    if parts[0] == "gnl" and len(parts) >= 3:
        return parts[1] + ":" + parts[2]
    if parts[0] == "pdb" and len(parts) >= 3:
        return parts[1] + "_" + parts[2]
    return parts[1]


ARGUMENTS_OF = {}  # each search's BLAST arguments, by name


def parsed_ids(search):
    """(queries, subjects): whether the search's ids were parsed."""
    arguments = ARGUMENTS_OF.get(search, [])
    deflines = "-parse_deflines" in arguments
    subjects = deflines or any(db in arguments for db in ("nt_ids", "prot_ids", "profiles", "hostile_merged"))
    return deflines, subjects


def database_title(report_path):
    with open(report_path, encoding="latin-1") as report:
        for line in report:
            if line.startswith("Database: "):
                title = line[len("Database: "):].strip()
                return title[:-1] if title.endswith(".") else title
    return None


def as_report_shows(lines, fields, search, report_path):
    parsed_queries, parsed_subjects = parsed_ids(search)
    title = database_title(report_path)
    result = []
    for line in lines:
        if line.startswith("# Database: ") and title is not None:
            result.append("# Database: " + title)
            continue
        if line.startswith("#") or not line:
            result.append(line)
            continue
        values = line.split("\t")
        if len(values) != len(fields):
            result.append(line)
            continue
        named = dict(zip(fields, values))
        if parsed_queries and "qseqid" in named:
            values[fields.index("qseqid")] = id_as_reported(named["qseqid"])
        # A subject without a definition line, which BLAST names by its
        # place in the database or among the -subject sequences.
        if "sseqid" in named and (named["sseqid"].startswith("gnl|BL_ORD_ID|") or
                                  re.fullmatch(r"Subject_[0-9]+", named["sseqid"])):
            values[fields.index("sseqid")] = "N/A"
        elif parsed_subjects and "sseqid" in named:
            shown = id_as_reported(named["sseqid"])
            values[fields.index("sseqid")] = shown
            # Profile titles leave the id out in the report too.
            if "stitle" in named and named["stitle"] != "N/A" and "profiles" not in ARGUMENTS_OF.get(search, []):
                values[fields.index("stitle")] = shown + " " + named["stitle"]
        result.append("\t".join(values))
    return result


def hsptab_checks(hsptab, workdir, outcome, reports, blast_tables_of):
    """Runs hsptab on `reports` for every check and compares its rows with
    the concatenated BLAST tables `blast_tables_of(index)`."""
    for index, (label, _, options, fields) in enumerate(CHECKS):
        output = table_name(outcome.name, index, "hsptab")
        status, error = run([hsptab] + options + reports, workdir, output)
        if status != 0:
            outcome.errors.append("[%s] hsptab exit %d: %s" % (label, status, error.strip()[:500]))
            continue
        if error:
            outcome.notes.append("[%s] hsptab wrote to standard error: %s" % (label, error.strip()[:300]))
        expected = []
        for table in blast_tables_of(index):
            search = table.split(".blast.")[0]
            expected += as_report_shows(lines_of(os.path.join(workdir, table)), fields, search,
                                        os.path.join(workdir, search + ".report"))
        got = lines_of(os.path.join(workdir, output))
        outcome.differences += compare_lines(label, fields, expected, got)


def check_search(hsptab, workdir, search):
    name, program, arguments, report_only = search
    ARGUMENTS_OF[name] = arguments
    outcome = Outcome(name, " ".join([os.path.basename(program)] + arguments + report_only))
    try:
        blast_tables(workdir, name, program, arguments, report_only)
    except (SetupError, subprocess.TimeoutExpired) as e:
        outcome.errors.append(str(e))
        return outcome
    outcome.blast_ran = True
    hsptab_checks(hsptab, workdir, outcome, [name + ".report"], lambda index: [table_name(name, index, "blast")])
    return outcome


def same_output(workdir, outcome, first, others):
    """Notes whether hsptab's output for `first` equals its output for `others`."""
    for index, (label, _, _, _) in enumerate(CHECKS):
        text = b"".join(open(os.path.join(workdir, table_name(n, index, "hsptab")), "rb").read() for n in others)
        mine = open(os.path.join(workdir, table_name(first, index, "hsptab")), "rb").read()
        outcome.notes.append("[%s] hsptab's output %s its output for %s" % (
            label, "equals" if mine == text else "differs from", " + ".join(others)))


def check_concatenated(hsptab, workdir, first, second):
    """Two reports in one file: the rows of both, in order."""
    name = "concatenated"
    outcome = Outcome(name, "hsptab on the reports of %s and %s in one file" % (first, second))
    with open(os.path.join(workdir, name + ".report"), "wb") as out:
        for search in (first, second):
            out.write(open(os.path.join(workdir, search + ".report"), "rb").read())
    hsptab_checks(hsptab, workdir, outcome, [name + ".report"],
                  lambda index: [table_name(first, index, "blast"), table_name(second, index, "blast")])
    same_output(workdir, outcome, name, [first, second])
    return outcome


def check_crlf(hsptab, workdir, search):
    """The report with CR LF line ends: the same rows."""
    name = "crlf_" + search
    outcome = Outcome(name, "hsptab on the report of %s with CR LF line ends" % search)
    text = open(os.path.join(workdir, search + ".report"), "rb").read()
    with open(os.path.join(workdir, name + ".report"), "wb") as out:
        out.write(text.replace(b"\n", b"\r\n"))
    hsptab_checks(hsptab, workdir, outcome, [name + ".report"], lambda index: [table_name(search, index, "blast")])
    same_output(workdir, outcome, name, [search])
    return outcome


# Large reports are read on two threads, in pieces that begin at query lines;
# standard input is read from start to end. Both must give the same table.
LARGE_REPORT = 3 << 20


def many_queries(text):
    """The report `text` with its queries repeated into one run larger than
    LARGE_REPORT: its lines before the first query, the queries again and
    again, then its closing lines."""
    lines = text.splitlines(keepends=True)
    first = next((i for i, line in enumerate(lines) if line.startswith(b"Query=")), None)
    if first is None:
        return None
    last = max((i for i, line in enumerate(lines) if line.startswith(b"  Database:")), default=len(lines))
    head, queries, tail = b"".join(lines[:first]), b"".join(lines[first:last]), b"".join(lines[last:])
    if not queries:
        return None
    return head + queries * (LARGE_REPORT // len(queries) + 1) + tail


def check_read_in_pieces(hsptab, workdir, search):
    """The report's queries many times over in one large report: read from
    the file, the table that reading it from standard input gives."""
    name = "many_" + search
    outcome = Outcome(name, "hsptab on the queries of %s repeated into %d MiB, from the file and from standard "
                      "input" % (search, LARGE_REPORT >> 20))
    large = many_queries(open(os.path.join(workdir, search + ".report"), "rb").read())
    if large is None:
        outcome.errors.append("the report of %s has no queries to repeat" % search)
        return outcome
    path = os.path.join(workdir, name + ".report")
    with open(path, "wb") as out:
        out.write(large)
    try:
        for label, _, options, _ in CHECKS:
            from_file = subprocess.run([hsptab] + options + [path], capture_output=True, timeout=300)
            with open(path, "rb") as report:
                from_input = subprocess.run([hsptab] + options, stdin=report, capture_output=True, timeout=300)
            if from_file.returncode != 0 or from_input.returncode != 0:
                outcome.errors.append("[%s] hsptab exit %d from the file, %d from standard input: %s" % (
                    label, from_file.returncode, from_input.returncode,
                    (from_file.stderr + from_input.stderr).decode(errors="replace").strip()[:500]))
            elif from_file.stdout != from_input.stdout:
                a, b = from_file.stdout.decode(errors="replace"), from_input.stdout.decode(errors="replace")
                outcome.errors.append("[%s] the tables differ: %s from the file, %s from standard input" % (
                    (label,) + excerpt(a, b)))
    finally:
        os.remove(path)
    return outcome


# A report cut short, or with a value made to contradict the report, must
# fail, after rows that begin its table; only a cut past its closing
# "Matrix:" line may give the whole table.
CUTS_PER_REPORT = 12


def mutations(text, rand):
    """Copies of the report `text`, each with one value that BLAST would
    never write: (what was changed, the report)."""
    found = []

    def one(label, pattern, replace):
        matches = list(re.finditer(pattern, text, re.M))
        if matches:
            m = rand.choice(matches)
            found.append((label, text[:m.start(1)] + replace(m) + text[m.end(1):]))

    one("identities beyond the length", rb"Identities = (\d+)/(\d+)", lambda m: str(int(m.group(2)) + 1).encode())
    # An alignment's first coordinate (the line after its header), not a
    # later line's start, which no field is made from.
    one("a start coordinate moved", rb"^ (?:Strand|Frame|Identities)[^\n]*\n\n(?:Query|Sbjct)\s+(\d+)",
        lambda m: str(int(m.group(1)) + 1).encode())
    one("a bit score that is no number", rb"Score = +(\S+) bits", lambda m: b"XX")
    one("a tab after the E-value", rb"Expect(?:\(\d+\))? = (\S+)$", lambda m: m.group(1) + b"\t")
    one("a subject length of 1", rb"^Length=(\d+)\n\n Score", lambda m: b"1")
    return found


def check_cut_and_changed(hsptab, workdir, search, seed):
    """The report cut at sampled line ends and inside alignment lines' last
    numbers, and with values changed: a failure after a prefix of the table,
    or the whole table where the cut leaves the report whole."""
    name = "cut_" + search
    rand = random.Random("%d %s" % (seed, search))
    outcome = Outcome(name, "hsptab on the report of %s cut short and with values changed (seed %d)" % (search, seed))
    text = open(os.path.join(workdir, search + ".report"), "rb").read()
    path = os.path.join(workdir, name + ".report")
    whole = subprocess.run([hsptab, os.path.join(workdir, search + ".report")], capture_output=True, timeout=60)
    if whole.returncode != 0:
        outcome.errors.append("the whole report fails: %s" % whole.stderr.decode(errors="replace")[:300])
        return outcome
    closing = text.rfind(b"\nMatrix:") + len(b"\nMatrix:")
    line_ends = [m.end() for m in re.finditer(b"\n", text)]
    numbers = [i for m in re.finditer(rb"^Sbjct[^\n]* (\d+)$", text, re.M) for i in range(m.start(1) + 1, m.end(1))]
    cuts = sorted(set(rand.sample(line_ends, min(CUTS_PER_REPORT, len(line_ends))) +
                      rand.sample(numbers, min(CUTS_PER_REPORT, len(numbers)))))
    cases = [("cut at byte %d" % cut, text[:cut], cut >= closing) for cut in cuts]
    cases += [(label, changed, False) for label, changed in mutations(text, rand)]
    try:
        for label, report, may_be_whole in cases:
            with open(path, "wb") as out:
                out.write(report)
            got = subprocess.run([hsptab, path], capture_output=True, timeout=60)
            error = got.stderr.decode(errors="replace").strip()
            if got.returncode == 0 and not (may_be_whole and got.stdout == whole.stdout):
                outcome.errors.append("%s: exit 0 with %d of %d rows" % (
                    label, got.stdout.count(b"\n"), whole.stdout.count(b"\n")))
            elif got.returncode not in (0, 1):
                outcome.errors.append("%s: exit %d: %s" % (label, got.returncode, error[:300]))
            elif got.returncode == 1 and (not whole.stdout.startswith(got.stdout) or "line " not in error):
                outcome.errors.append("%s: the rows before the failure are no prefix of the table, or it names "
                                      "no line: %s" % (label, error[:300]))
    finally:
        if os.path.exists(path):
            os.remove(path)
    return outcome


def account(outcome):
    """A few readable lines on a failed search; every difference goes to NAME.differences."""
    lines = ["FAIL %s: %s" % (outcome.name, outcome.description)]
    lines += ["  " + e for e in outcome.errors]
    lines += ["  " + n for n in outcome.notes]
    # One example of each field first (the commented table repeats the
    # plain one's), then more of them, within the limit.
    shown, fields, kinds = [], set(), {}
    for d in outcome.differences:
        kinds.setdefault(d.kind(), []).append(d)
        if d.field not in fields:
            fields.add(d.field)
            shown.append(d)
    for d in outcome.differences:
        if d not in shown:
            shown.append(d)
    room = max(1, MAX_LINES_PER_SEARCH - len(lines))
    lines += ["  " + str(d) for d in shown[:room]]
    if len(shown) > room:
        counts = ", ".join("%s %s x%d" % (check, field, len(group)) for (check, field), group in kinds.items())
        lines.append("  ... %d differences in all: %s" % (len(outcome.differences), counts))
    return lines


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hsptab", required=True, help="the hsptab binary")
    parser.add_argument("--workdir", required=True, help="a scratch directory for sequences, databases and tables")
    parser.add_argument("--blast-dir", default="", help="the directory of BLAST+'s programs (default: PATH)")
    parser.add_argument("--only", nargs="*", help="run only these searches")
    parser.add_argument("--jobs", type=int, default=2, help="searches run at once")
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED, help="the sequences' random seed")
    options = parser.parse_args()
    hsptab = os.path.abspath(options.hsptab)
    workdir = os.path.abspath(options.workdir)
    os.makedirs(workdir, exist_ok=True)
    started = time.monotonic()

    try:
        rpsblast, why, widths = prepare(workdir, options.blast_dir, options.seed)
    except (SetupError, subprocess.TimeoutExpired) as e:
        print("cannot prepare the test: %s" % e)
        return 1
    if why:
        print("rpsblast searches left out: " + why)
    chosen = []
    every_search = searches(rpsblast, find_program(options.blast_dir, "rpstblastn"))
    for name, program, arguments, report_only, table_only in hostile_titles.hostile_searches(widths):
        TABLE_ONLY[name] = table_only
        every_search.append((name, program, arguments, report_only))
    for name, program, arguments, report_only in every_search:
        if options.only and name not in options.only:
            continue
        path = program if os.path.isabs(program) else find_program(options.blast_dir, program)
        if path is None:
            print("cannot find %s" % program)
            return 1
        chosen.append((name, path, arguments, report_only))

    with concurrent.futures.ThreadPoolExecutor(max(1, options.jobs)) as pool:
        outcomes = list(pool.map(lambda search: check_search(hsptab, workdir, search), chosen))
    ran = {o.name for o in outcomes if o.blast_ran}
    if {"megablast_db", "blastp_ids_ll100"} <= ran:
        outcomes.append(check_concatenated(hsptab, workdir, "megablast_db", "blastp_ids_ll100"))
    for search in ("blastn_subject_ll37", "psiblast_db"):
        if search in ran:
            outcomes.append(check_crlf(hsptab, workdir, search))
    # HTML pages are read from start to end, never in pieces.
    for search in sorted(ran):
        if not search.endswith("_html"):
            outcomes.append(check_read_in_pieces(hsptab, workdir, search))
    for search in sorted(ran):
        outcomes.append(check_cut_and_changed(hsptab, workdir, search, options.seed))

    failed = 0
    for outcome in outcomes:
        with open(os.path.join(workdir, outcome.name + ".differences"), "w") as out:
            out.write("".join(str(d) + "\n" for d in outcome.differences))
        if outcome.passed:
            print("ok   %s: %s" % (outcome.name, outcome.description))
            print("".join("  %s\n" % n for n in outcome.notes), end="")
        else:
            failed += 1
            print("\n".join(account(outcome)))
    print("%d passed, %d failed (%.0f s)" % (len(outcomes) - failed, failed, time.monotonic() - started))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
