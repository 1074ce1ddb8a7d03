// Writes a deterministic, realistic BLAST+ blastn text report of about the
// requested size: program header, queries with their hit summaries, hits with
// one or more Score/Identities/Strand groups and 60-column alignment blocks,
// some queries without hits, and the statistics footers.
//
// usage: generate_report OUTPUT SIZE_IN_MIB [current|spaced|long-line]
//   current:   title lines as ">DRR001369.139710 GEKBKKN08JJ5PQ length=777"
//   spaced:    the older layout, "> DRR001369.139710 GEKBKKN08JJ5PQ length=777"
//   long-line: a short report whose one title line is SIZE_IN_MIB long
//   few-queries: the current layout, but four queries of many hits each, as
//              a few genes searched against a read database give
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Random {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    unsigned below(unsigned n) { return static_cast<unsigned>(next() % n); }
};

struct Output {
    std::FILE* file;
    std::string buffer;
    std::uint64_t written = 0;
    void flush() {
        if (std::fwrite(buffer.data(), 1, buffer.size(), file) != buffer.size()) {
            std::perror("generate_report: write");
            std::exit(1);
        }
        written += buffer.size();
        buffer.clear();
    }
    void line(const std::string& text) {
        buffer += text;
        buffer += '\n';
        if (buffer.size() > (1u << 22)) flush();
    }
    std::uint64_t size() const { return written + buffer.size(); }
};

const char bases[] = "ACGT";

std::string random_bases(Random& random, unsigned n) {
    std::string s(n, 'A');
    for (char& c : s) c = bases[random.below(4)];
    return s;
}

std::string random_name(Random& random) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string s(14, 'A');
    for (char& c : s) c = alphabet[random.below(36)];
    return s;
}

std::string padded(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

void header(Output& out) {
    for (const char* line : {"BLASTN 2.12.0+", "", "", "Reference: Zheng Zhang, Scott Schwartz, Lukas Wagner, and Webb",
                             "Miller (2000), \"A greedy algorithm for aligning DNA sequences\", J",
                             "Comput Biol 2000; 7(1-2):203-14.", "", "", "", "Database: synthetic_reads",
                             "           4,000,000 sequences; 1,200,000,000 total letters", "", "", ""}) {
        out.line(line);
    }
}

void query_footer(Output& out, Random& random) {
    out.line("");
    out.line("");
    out.line("Lambda      K        H");
    out.line("    1.33    0.621     1.12 ");
    out.line("");
    out.line("Gapped");
    out.line("Lambda      K        H");
    out.line("    1.28    0.460    0.850 ");
    out.line("");
    out.line("Effective search space used: " + std::to_string(1000000 + random.below(90000000)));
    out.line("");
    out.line("");
}

void alignment_group(Output& out, Random& random, unsigned length, bool first) {
    // Within the subject (at least 150 letters) from either end it starts at.
    unsigned aligned = 40 + random.below(length > 140 ? length - 139 : 1);
    unsigned mismatches = random.below(aligned / 20 + 1);
    // Stated, not drawn: a gap column is no identity.
    unsigned gaps = random.below(3);
    if (gaps > mismatches) gaps = mismatches;
    unsigned bits = aligned * 18 / 10;
    if (!first) out.line("");
    out.line(" Score = " + std::to_string(bits) + " bits (" + std::to_string(aligned) + "),  Expect = " +
             (bits > 400 ? std::string("0.0") : std::to_string(1 + random.below(9)) + "e-" + std::to_string(bits / 4)));
    out.line(" Identities = " + std::to_string(aligned - mismatches) + "/" + std::to_string(aligned) + " (" +
             std::to_string(100 * (aligned - mismatches) / aligned) + "%), Gaps = " + std::to_string(gaps) + "/" +
             std::to_string(aligned) + " (" + std::to_string(100 * gaps / aligned) + "%)");
    bool minus = random.below(2) != 0;
    out.line(minus ? " Strand=Plus/Minus" : " Strand=Plus/Plus");
    out.line("");
    unsigned query_at = 1 + random.below(500);
    unsigned subject_at = minus ? aligned + random.below(100) : 1 + random.below(100);
    for (unsigned done = 0; done < aligned;) {
        unsigned width = aligned - done < 60 ? aligned - done : 60;
        std::string query = random_bases(random, width);
        std::string subject = query;
        std::string match(width, '|');
        for (unsigned i = 0; i < width; ++i) {
            if (random.below(40) == 0) {
                subject[i] = bases[random.below(4)];
                if (subject[i] != query[i]) match[i] = ' ';
            }
        }
        unsigned subject_end = minus ? subject_at - width + 1 : subject_at + width - 1;
        out.line(padded("Query  " + std::to_string(query_at), 12) + query + "  " +
                 std::to_string(query_at + width - 1));
        out.line(std::string(12, ' ') + match);
        out.line(padded("Sbjct  " + std::to_string(subject_at), 12) + subject + "  " + std::to_string(subject_end));
        out.line("");
        query_at += width;
        subject_at = minus ? subject_end - 1 : subject_end + 1;
        done += width;
    }
}

// Query `number`, with 1 to 12 hits, or `many_hits` when that is not 0.
void query(Output& out, Random& random, unsigned number, bool spaced_titles, unsigned many_hits = 0) {
    out.line("Query= gene" + std::to_string(number) + " synthetic reference gene " + std::to_string(number));
    out.line("");
    // Long enough for any alignment: one begins by letter 500 and spans
    // at most a subject's 650 letters.
    out.line("Length=" + std::to_string(1200 + random.below(2100)));
    if (many_hits == 0 && random.below(10) == 0) {
        out.line("");
        out.line("");
        out.line("***** No hits found *****");
        out.line("");
        query_footer(out, random);
        return;
    }
    unsigned hits = many_hits != 0 ? many_hits : 1 + random.below(12);
    std::vector<std::string> titles(hits);
    for (unsigned h = 0; h < hits; ++h) {
        titles[h] = "DRR00" + std::to_string(1369 + random.below(3)) + "." +
                    std::to_string(100000 + random.below(900000)) + " " + random_name(random) +
                    " length=" + std::to_string(150 + random.below(500));
    }
    out.line(std::string(70, ' ') + "Score     E");
    out.line(padded("Sequences producing significant alignments:", 69) + "(Bits)  Value");
    out.line("");
    for (unsigned h = 0; h < hits; ++h)
        out.line(padded(titles[h], 70) + std::to_string(200 + random.below(500)) + "     0.0   ");
    out.line("");
    out.line("");
    for (unsigned h = 0; h < hits; ++h) {
        out.line((spaced_titles ? "> " : ">") + titles[h]);
        std::size_t tag = titles[h].rfind("length=");
        unsigned length = static_cast<unsigned>(std::atoi(titles[h].c_str() + tag + 7));
        out.line("Length=" + std::to_string(length));
        out.line("");
        unsigned groups = random.below(5) == 0 ? 2 + random.below(2) : 1;
        for (unsigned g = 0; g < groups; ++g) alignment_group(out, random, length, g == 0);
        out.line("");
    }
    query_footer(out, random);
}

void footer(Output& out) {
    for (const char* line :
         {"  Database: synthetic_reads", "    Posted date:  Dec 8, 2026  1:43 PM",
          "  Number of letters in database: 1,200,000,000", "  Number of sequences in database:  4,000,000", "", "", "",
          "Matrix: blastn matrix 1 -2", "Gap Penalties: Existence: 0, Extension: 2.5"}) {
        out.line(line);
    }
}

// A one-hit report whose title line holds an identifier of `size` bytes.
void long_line_report(Output& out, std::uint64_t size) {
    header(out);
    out.line("Query= gene1 synthetic reference gene 1");
    out.line("");
    out.line("Length=900");
    out.buffer += ">DRR001369.1 ";
    for (std::uint64_t written = 0; written < size; written += 4096) {
        out.buffer.append(static_cast<std::size_t>(size - written < 4096 ? size - written : 4096), 'A');
        if (out.buffer.size() > (1u << 22)) out.flush();
    }
    out.line(" length=777");
    out.line(" Score = 1376 bits (745),  Expect = 0.0");
    out.line(" Identities = 745/745 (100%), Gaps = 0/745 (0%)");
    out.line(" Strand=Plus/Plus");
    footer(out);
}

}  // namespace

int main(int argc, char** argv) {
    std::string layout = argc == 4 ? argv[3] : "current";
    if (argc < 3 || argc > 4 ||
        (layout != "current" && layout != "spaced" && layout != "long-line" && layout != "few-queries")) {
        std::fprintf(stderr, "usage: generate_report OUTPUT SIZE_IN_MIB [current|spaced|long-line|few-queries]\n");
        return 1;
    }
    std::uint64_t target = std::strtoull(argv[2], nullptr, 10) << 20;
    Output out{std::fopen(argv[1], "wb"), {}};
    if (out.file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    if (layout == "long-line") {
        long_line_report(out, target);
    } else {
        Random random;
        header(out);
        // A hit with its alignments takes about 1.3 KB.
        unsigned many_hits = layout == "few-queries" ? static_cast<unsigned>(target / 4 / 1300) + 1 : 0;
        for (unsigned number = 1; out.size() < target; ++number) {
            query(out, random, number, layout == "spaced", many_hits);
        }
        footer(out);
    }
    out.flush();
    if (std::fclose(out.file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
