// Parsing of the simulated board's journal.
#include <stdlib.h>

#include "scenario.h"

namespace scenario {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads a quoted field starting at text[i] == '"'; false when it is malformed.
bool read_quoted(const std::string &text, size_t &i, std::string &out) {
    ++i;
    while (i < text.size()) {
        char c = text[i++];
        if (c == '"') {
            return true;
        }
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (i >= text.size()) {
            return false;
        }
        char e = text[i++];
        switch (e) {
            case 'n':
                out.push_back('\n');
                break;
            case 'r':
                out.push_back('\r');
                break;
            case 't':
                out.push_back('\t');
                break;
            case '0':
                out.push_back('\0');
                break;
            case '"':
                out.push_back('"');
                break;
            case '\\':
                out.push_back('\\');
                break;
            case 'x': {
                if (i + 1 >= text.size() || hex_digit(text[i]) < 0 || hex_digit(text[i + 1]) < 0) {
                    return false;
                }
                out.push_back(static_cast<char>(hex_digit(text[i]) * 16 + hex_digit(text[i + 1])));
                i += 2;
                break;
            }
            default:
                return false;
        }
    }
    return false;
}

bool parse_line(const std::string &line, JournalLine &out) {
    size_t sp = line.find(' ');
    if (sp == std::string::npos || sp == 0) {
        return false;
    }
    char *end = nullptr;
    long long ms = strtoll(line.c_str(), &end, 10);
    if (end != line.c_str() + sp) {
        return false;
    }
    out = JournalLine{};
    out.ms = ms;
    out.text = line.substr(sp + 1);
    const std::string &t = out.text;
    size_t i = 0;
    bool first = true;
    while (i < t.size()) {
        if (t[i] == ' ') {
            ++i;
            continue;
        }
        std::string field;
        if (t[i] == '"') {
            if (!read_quoted(t, i, field)) {
                return false;
            }
        } else {
            size_t next = t.find(' ', i);
            if (next == std::string::npos) {
                next = t.size();
            }
            field = t.substr(i, next - i);
            i = next;
        }
        if (first) {
            out.kind = field;
            first = false;
        } else {
            out.fields.push_back(field);
        }
    }
    return !out.kind.empty();
}

}  // namespace

std::string JournalLine::field(size_t i) const {
    return i < fields.size() ? fields[i] : "";
}

std::string JournalLine::tag(const std::string &key) const {
    const std::string prefix = key + "=";
    // Tags follow the quoted bytes of a data line.
    for (size_t i = 4; i < fields.size(); ++i) {
        if (fields[i].compare(0, prefix.size(), prefix) == 0) {
            return fields[i].substr(prefix.size());
        }
    }
    return "";
}

std::vector<JournalLine> parse_journal(const std::string &text) {
    std::vector<JournalLine> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) {
            break;  // a line still being written
        }
        JournalLine line;
        if (parse_line(text.substr(start, nl - start), line)) {
            lines.push_back(std::move(line));
        }
        start = nl + 1;
    }
    return lines;
}

std::string journal_escape(const std::string &bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\0':
                out += "\\0";
                break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    out.push_back(static_cast<char>(c));
                } else {
                    out += "\\x";
                    out.push_back(kHex[c >> 4]);
                    out.push_back(kHex[c & 15]);
                }
        }
    }
    return out;
}

}  // namespace scenario
