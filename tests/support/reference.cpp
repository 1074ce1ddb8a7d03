// A deliberately plain converter, written straight from the description of
// the report and the table, sharing no code with the tool. Tests and fuzz
// targets hold the tool to it.
#include <string>
#include <vector>

#include "conversion.hpp"

namespace hittab::tests {

bool is_whitespace_byte(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' || byte == '\r' ||
           (byte >= 0x1C && byte <= 0x1F);
}

std::vector<std::string> split_at_whitespace(const std::string& text) {
    std::vector<std::string> tokens;
    std::string token;
    for (char c : text) {
        if (!is_whitespace_byte(c)) {
            token += c;
        } else if (!token.empty()) {
            tokens.push_back(token);
            token.clear();
        }
    }
    if (!token.empty()) tokens.push_back(token);
    return tokens;
}

namespace {

bool begins_with(const std::string& line, const std::string& prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

struct Stop {
    FailureKind kind;
    std::string message;
};

}  // namespace

Outcome convert_by_reference(std::string_view report) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < report.size(); ++i) {
        char c = report[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line + "\n");
            line.clear();
            if (c == '\r' && i + 1 < report.size() && report[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);

    std::vector<std::string> field = {"id1",     "id2",        "length", "score", "length2",
                                      "e_value", "identities", "gaps",   "strand"};
    Outcome outcome;
    bool header_written = false;
    auto dump = [&] {
        if (!header_written) {
            outcome.table += "id1 id2 length score length2 e_value identities gaps strand\n";
            header_written = true;
            return;
        }
        for (std::size_t i = 0; i < field.size(); ++i) outcome.table += field[i] + (i + 1 < field.size() ? " " : "\n");
    };
    try {
        for (std::size_t n = 0; n < lines.size(); ++n) {
            const std::string& text = lines[n];
            outcome.line_number = n + 1;
            if (begins_with(text, ">")) {
                dump();
                std::string rest = text.substr(1);
                std::string cleaned;
                for (std::size_t at = 0; at < rest.size();) {
                    if (rest.compare(at, 7, "length=") == 0) {
                        at += 7;
                    } else {
                        cleaned += rest[at++];
                    }
                }
                std::vector<std::string> values = split_at_whitespace(cleaned);
                if (values.size() < 3) {
                    throw Stop{FailureKind::unpacking, "not enough values to unpack (expected 4, got " +
                                                           std::to_string(values.size() + 1) + ")"};
                }
                if (values.size() > 3) throw Stop{FailureKind::unpacking, "too many values to unpack (expected 4)"};
                field[0] = values[0];
                field[1] = values[1];
                field[2] = values[2];
            } else if (begins_with(text, " Score = ")) {
                std::vector<std::string> items = split_at_whitespace(text);
                if (items.size() < 8) throw Stop{FailureKind::index, "list index out of range"};
                field[3] = items[2];
                field[4] = items[4].size() > 3 ? items[4].substr(1, items[4].size() - 3) : "";
                field[5] = items[7];
            } else if (begins_with(text, " Identities = ")) {
                std::vector<std::string> items = split_at_whitespace(text);
                if (items.size() < 7) throw Stop{FailureKind::index, "list index out of range"};
                field[6] = items[2];
                field[7] = items[6];
            } else if (begins_with(text, " Strand=")) {
                std::string value = text.substr(8);
                if (!value.empty() && value.back() == '\n') value.pop_back();
                field[8] = value;
            }
        }
        dump();
        outcome.line_number = 0;
    } catch (const Stop& stop) {
        outcome.failed = true;
        outcome.kind = stop.kind;
        outcome.message = stop.message;
    }
    return outcome;
}

}  // namespace hittab::tests
