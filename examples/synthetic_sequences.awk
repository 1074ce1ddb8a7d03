# Writes synthetic reference genes (queries) and sequencing reads (database)
# as FASTA. Deterministic on every awk: its own Park-Miller generator, no
# rand(). Usage: awk -v genes=G.fa -v reads=R.fa -f synthetic_sequences.awk
function next_random() { state = (state * 16807) % 2147483647; return state }
function below(n) { return next_random() % n }
function random_dna(n,    s, i) { s = ""; for (i = 0; i < n; i++) s = s substr("ACGT", below(4) + 1, 1); return s }
function random_name(n,    s, i) { s = ""; for (i = 0; i < n; i++) s = s substr("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", below(36) + 1, 1); return s }
function complement(s,    r, i, c) {
    r = ""
    for (i = length(s); i > 0; i--) { c = substr(s, i, 1); r = r (c == "A" ? "T" : c == "C" ? "G" : c == "G" ? "C" : "A") }
    return r
}
# About one base in `every` replaced, and now and then one dropped.
function mutate(s, every,    r, i, c) {
    r = ""
    for (i = 1; i <= length(s); i++) {
        c = substr(s, i, 1)
        if (below(every) == 0) c = substr("ACGT", below(4) + 1, 1)
        if (below(every * 4) != 0) r = r c
    }
    return r
}
function fasta(file, title, s,    i) {
    print ">" title > file
    for (i = 1; i <= length(s); i += 70) print substr(s, i, 70) > file
}
function write_read(s) {
    read_count++
    fasta(reads, sprintf("DRR%06d.%d %s length=%d", 1369 + below(3), 100000 + below(900000), random_name(14), length(s)), s)
}
BEGIN {
    state = 20261208
    split("900 1200 700 1500 800", gene_length, " ")
    for (g = 1; g <= 5; g++) {
        gene[g] = random_dna(gene_length[g])
        fasta(genes, sprintf("gene%d synthetic reference gene %d", g, g), gene[g])
    }
    fasta(genes, "gene_nohit synthetic sequence found in no read", random_dna(400))

    for (g = 1; g <= 5; g++) {
        for (r = 0; r < 6; r++) {
            len = 150 + below(250)
            start = below(gene_length[g] - len) + 1
            s = mutate(substr(gene[g], start, len), 60 + below(200))
            write_read(below(2) ? complement(s) : s)
        }
        # Two pieces of the gene joined by unrelated bases: several alignments in one read.
        a = substr(gene[g], 1, 120); b = substr(gene[g], gene_length[g] - 150, 140)
        write_read(mutate(a, 80) random_dna(60) complement(mutate(b, 80)))
    }
    for (r = 0; r < 20; r++) write_read(random_dna(200 + below(300)))
}
