#include "core/fields.h"

#include <cstddef>

namespace tlg {

std::string_view trimBlanks(std::string_view s)
{
    std::size_t begin = 0;
    std::size_t end = s.size();
    while (begin < end && isBlank(s[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(s[end - 1])) {
        --end;
    }
    return s.substr(begin, end - begin);
}

std::string upperAscii(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string ExtractField(std::string_view line, int n, char separator)
{
    // Only spaces are stripped here: a tab or another control character at the ends still
    // belongs to the first or last field (and is trimmed from that field below).
    std::size_t begin = 0;
    std::size_t end = line.size();
    while (begin < end && line[begin] == ' ') {
        ++begin;
    }
    while (end > begin && line[end - 1] == ' ') {
        --end;
    }
    if (begin == end) {
        return std::string(line);
    }
    const std::string_view t = line.substr(begin, end - begin);
    if (n < 1) {
        n = 1;
    }

    // Walk the separators instead of splitting, so any number of them costs nothing extra.
    // The space that goes between two adjacent separators only matters for the whole-line
    // result: inside a single field it is trimmed away again.
    std::size_t fieldStart = 0;
    int index = 1;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i] != separator) {
            continue;
        }
        if (index == n) {
            return std::string(trimBlanks(t.substr(fieldStart, i - fieldStart)));
        }
        ++index;
        fieldStart = i + 1;
    }
    // index is now c + 1, and fieldStart the start of the text after the last separator.
    if (index == n && index > 1) {
        return std::string(trimBlanks(t.substr(fieldStart)));
    }

    std::string whole;
    whole.reserve(t.size() + static_cast<std::size_t>(index));
    for (std::size_t i = 0; i < t.size(); ++i) {
        whole.push_back(t[i]);
        if (t[i] == separator && i + 1 < t.size() && t[i + 1] == separator) {
            whole.push_back(' ');
        }
    }
    return std::string(trimBlanks(whole));
}

std::string TextBetween(std::string_view s, char open, char close)
{
    const std::size_t from = s.find(open);
    const std::size_t to = s.find(close);
    if (from == std::string_view::npos || to == std::string_view::npos || to <= from) {
        return {};
    }
    return std::string(s.substr(from + 1, to - from - 1));
}

std::string RemoveChar(std::string_view s, char c)
{
    std::string out;
    out.reserve(s.size());
    for (char x : s) {
        if (x != c) {
            out.push_back(x);
        }
    }
    return out;
}

bool ContainsSub(std::string_view s, std::string_view sub)
{
    if (sub.empty() || sub.size() > s.size()) {
        return false;
    }
    return s.find(sub) != std::string_view::npos;
}

} // namespace tlg
