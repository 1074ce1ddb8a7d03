"""Titles, definitions and IDs that BLAST wraps into lines beginning as
other lines of a report do, for the BLAST+ differential test.

Each seed gives other words, other lengths and other line widths: a title
holds words of a report's own lines ("Length=1234", ">s2", "Query=",
"BLASTN 2.12.0+", "Score =", digits), runs of spaces and tabs, placed at
every distance from BLAST's wrap point; IDs run from 1 to 1,500 characters,
with and without hyphens; some sequences have no definition line at all,
and some database entries stand for several (NCBI's merged nr style,
definition lines joined by Ctrl-A). The searches use line widths from 10
to 1,000, fewer alignments than descriptions, and an indel long enough to
fill whole alignment lines with gaps.
"""

import random

# Words that begin other lines of a report, or break its words.
TRAPS = [
    "Length=1234", "Length=99", "Length=", "Length = 12", ">s2", ">", ">notasubject", "BLASTN 2.12.0+",
    "BLASTP 2.12.0+", "TBLASTN 2.2.26+", "Query=", "Query= q9", "Query", "Sbjct", "Score =", "12345",
    "0.0", "Identities", "Strand=Plus/Plus", "Frame = +1", "Database:", "Lambda", "Effective", "Matrix:",
    "***** No hits found *****", "Sequences producing", "(Bits)", "Value", "Results from round 2",
    "Sequence ID: X", "Reference:", "|", "gi|12|", "a-b-c-d", "a,b,c", "x" * 80, "end",
]
WORDS = ["alpha", "beta", "protein", "hypothetical", "strain", "chromosome", "1", "2.5", "contig", "[Homo sapiens]"]
# Only in subjects' titles: a query's definition loses spaces where BLAST
# wraps it, and a word ending in a hyphen or comma wraps as a cut ID does
# (the manual lists both as not carried by a report).
SUBJECT_ONLY = ["  ", "   ", "replicate   coverage", "\t", "a\tb", "-", "--", "gene-", "x,", " Score = 1"]
WIDTHS = [10, 13, 20, 37, 60, 61, 80, 100, 150, 250, 1000]


def hostile_id(rand, prefix):
    """An ID of 1 to 1,500 characters: short, long with hyphens (where
    BLAST breaks it), or long without (where it cuts it)."""
    kind = rand.random()
    if kind < 0.45:
        return prefix
    if kind < 0.8:
        parts = ["".join(rand.choice("ACGTxyz") for _ in range(rand.randint(1, 40)))
                 for _ in range(rand.randint(1, 60))]
        return (prefix + "-" + "-".join(parts))[:1500]
    # BLAST's table drops the periods that end a local ID.
    return (prefix + "_" + "".join(rand.choice("ACGTxyz.") for _ in range(rand.randint(50, 1500))))[:1499] + "A"


def hostile_words(rand, width, for_subject):
    """Words whose traps land at every distance from the wrap point: a
    filler of 0 to a line's width before each trap."""
    words = []
    for _ in range(rand.choice([0, 1, 4, 12, 24])):
        filler = rand.randint(0, width)
        while filler > 0:
            word = rand.choice(WORDS)
            words.append(word)
            filler -= len(word) + 1
        pool = TRAPS + SUBJECT_ONLY if for_subject else TRAPS
        words.append(rand.choice(pool))
    return words


def hostile_definition(rand, prefix, width, for_subject):
    """A definition line, or "" for a sequence that has none."""
    if rand.random() < 0.1:
        return ""
    words = hostile_words(rand, width, for_subject)
    identifier = hostile_id(rand, prefix)
    # An ID without a hyphen whose last line fills the 68 columns of a
    # query's definition exactly wraps as one cut at the width: the manual
    # lists it as not carried.
    if not for_subject and "-" not in identifier and len(identifier) % 68 == 0:
        identifier += "A"
    title = " ".join([identifier] + words)
    # makeblastdb's odd IDs left out: ",," inside an ID, a word after it
    # beginning with a comma.
    while ",," in title:
        title = title.replace(",,", ",")
    return title.replace(" ,", " x,")


def retitled(rand, records, prefix, width, for_subject):
    """The same sequences under hostile definition lines."""
    return [(hostile_definition(rand, "%s%d" % (prefix, i), width, for_subject), sequence)
            for i, (_, sequence) in enumerate(records)]


def merged(rand, records, prefix):
    """Database entries that stand for several, NCBI's nr style: definition
    lines joined by Ctrl-A (a database built with -parse_seqids)."""
    result = []
    for i, (_, sequence) in enumerate(records):
        deflines = ["gb|%s%05d.%d| %s" % (prefix, 100 * i + k, k + 1,
                                          " ".join(hostile_words(rand, 60, True)[:6]) or "entry")
                    for k in range(rand.randint(1, 4))]
        result.append(("\x01".join(deflines), sequence))
    return result


class HostileData:
    """Every hostile file of one seed, from the plain test's sequences."""

    def __init__(self, seed, data, gapped_pair):
        rand = random.Random(seed * 7919 + 17)
        self.widths = [rand.choice(WIDTHS) for _ in range(6)]
        self.files = {
            "hostile_nt.fa": retitled(rand, data.nt_plain, "hs", 60, True),
            "hostile_nt_queries.fa": retitled(rand, data.nt_queries, "hq", 68, False),
            "hostile_prot.fa": retitled(rand, data.prot_plain, "hp", 60, True),
            "hostile_prot_queries.fa": retitled(rand, data.prot_queries, "hpq", 68, False),
            "hostile_merged.fa": merged(rand, data.nt_plain, "HM"),
            "gapped_query.fa": [(hostile_definition(rand, "gq", 68, False), gapped_pair[0])],
            "gapped_subject.fa": [(hostile_definition(rand, "gs", 60, True), gapped_pair[1])],
        }
        # PHI-BLAST searches for a pattern the query holds: two of its
        # letters, one apart.
        phi_query = self.files["hostile_prot_queries.fa"][0]
        self.files["phi_query.fa"] = [phi_query]
        self.texts = {"phi_pattern.txt": "ID  synthetic\nPA   %s-x-%s.\n" % (phi_query[1][10], phi_query[1][12])}
        self.databases = [("hostile_nt.fa", "nucl", []), ("hostile_prot.fa", "prot", []),
                          ("hostile_merged.fa", "nucl", ["-parse_seqids"])]


def gapped_pair(rand_dna):
    """A query and a subject that align across an indel of 25 letters."""
    left, right = rand_dna(400), rand_dna(400)
    return left + rand_dna(25) + right, left + right


def hostile_searches(widths):
    """(name, program, arguments, report-only arguments, table-only
    arguments) of the hostile searches."""
    nt_q, prot_q, cod_q = "hostile_nt_queries.fa", "hostile_prot_queries.fa", "coding_queries.fa"
    w = [str(width) for width in widths]
    return [
        ("hostile_blastn", "blastn", ["-task", "blastn", "-query", nt_q, "-db", "hostile_nt", "-evalue", "1"],
         ["-line_length", w[0]], []),
        ("hostile_blastn_subject", "blastn", ["-task", "megablast", "-query", nt_q, "-subject", "hostile_nt.fa"],
         ["-line_length", w[1]], []),
        ("hostile_blastp", "blastp", ["-query", prot_q, "-db", "hostile_prot"], ["-line_length", w[2]], []),
        ("hostile_blastx_fewer_alignments", "blastx", ["-query", cod_q, "-db", "hostile_prot"],
         ["-line_length", w[3], "-num_descriptions", "5", "-num_alignments", "2"], ["-max_target_seqs", "2"]),
        ("hostile_tblastn", "tblastn", ["-query", prot_q, "-db", "hostile_nt"], ["-line_length", w[4]], []),
        ("hostile_merged_entries", "blastn", ["-task", "megablast", "-query", nt_q, "-db", "hostile_merged"],
         ["-line_length", w[5]], []),
        ("hostile_phiblast", "psiblast", ["-query", "phi_query.fa", "-db", "hostile_prot", "-phi_pattern",
                                          "phi_pattern.txt", "-num_iterations", "2"], ["-line_length", w[2]], []),
        # The same reports as HTML pages (-html).
        ("hostile_blastn_html", "blastn", ["-task", "blastn", "-query", nt_q, "-db", "hostile_nt", "-evalue", "1"],
         ["-line_length", w[0], "-html"], []),
        ("hostile_blastp_subject_html", "blastp", ["-query", prot_q, "-subject", "hostile_prot.fa"],
         ["-line_length", w[3], "-html"], []),
        ("hostile_tblastx_html", "tblastx", ["-query", cod_q, "-db", "hostile_nt", "-evalue", "1e-3"],
         ["-html"], []),
        ("hostile_lines_of_gaps", "blastn",
         ["-task", "blastn", "-query", "gapped_query.fa", "-subject", "gapped_subject.fa", "-xdrop_gap_final",
          "200"], ["-line_length", "10"], []),
    ]
