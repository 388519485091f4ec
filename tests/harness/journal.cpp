// Parsing of the simulated board's journal.
#include <ctype.h>
#include <stdlib.h>

#include <algorithm>

#include "scenario.h"

namespace scenario {

namespace {

// Reads a quoted field starting at text[i] == '"'; false when it is malformed.
bool read_quoted(const std::string &text, size_t &i, std::string &out) {
    for (++i; i < text.size();) {
        const char c = text[i++];
        if (c == '"') {
            return true;
        }
        if (c != '\\') {
            out.push_back(c);
        } else if (i < text.size() && text[i] == 'x') {
            if (i + 2 >= text.size() || !isxdigit(text[i + 1]) || !isxdigit(text[i + 2])) {
                return false;
            }
            out.push_back(static_cast<char>(strtol(text.substr(i + 1, 2).c_str(), nullptr, 16)));
            i += 3;
        } else {
            // The other escapes: a letter for the byte below it.
            static const std::string letters = "nrt0\"\\", bytes("\n\r\t\0\"\\", 6);
            const size_t k = i < text.size() ? letters.find(text[i++]) : std::string::npos;
            if (k == std::string::npos) {
                return false;
            }
            out.push_back(bytes[k]);
        }
    }
    return false;
}

bool parse_line(const std::string &line, JournalLine &out) {
    const size_t sp = line.find(' ');
    char *end = nullptr;
    out = JournalLine{};
    out.ms = strtoll(line.c_str(), &end, 10);
    if (sp == std::string::npos || sp == 0 || end != line.c_str() + sp) {
        return false;
    }
    out.text = line.substr(sp + 1);
    const std::string &t = out.text;
    for (size_t i = 0; i < t.size();) {
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
            const size_t next = std::min(t.find(' ', i), t.size());
            field = t.substr(i, next - i);
            i = next;
        }
        out.fields.push_back(field);
    }
    if (out.fields.empty()) {
        return false;
    }
    out.kind = out.fields.front();
    out.fields.erase(out.fields.begin());
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
    // A last line without its newline is still being written.
    for (size_t start = 0, nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        JournalLine line;
        if (parse_line(text.substr(start, nl - start), line)) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

}  // namespace scenario
