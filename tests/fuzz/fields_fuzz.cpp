// ExtractField, TextBetween, RemoveChar and ContainsSub against plain re-statements.

#include "core/fields.h"
#include "fuzzinput.h"

#include <string>
#include <vector>

using namespace tlg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const char separator = static_cast<char>(input.byte());
    const char open = static_cast<char>(input.byte());
    const char close = static_cast<char>(input.byte());
    const int n = static_cast<int>(input.byte() % 16) - 2;
    const std::string_view sub = input.piece();
    const std::string_view line = input.rest();

    // The fields of a line that is not only spaces, once the spaces at its ends are gone, up to
    // the one after the last separator.
    std::string_view stripped = line;
    while (!stripped.empty() && stripped.front() == ' ')
        stripped.remove_prefix(1);
    while (!stripped.empty() && stripped.back() == ' ')
        stripped.remove_suffix(1);
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t next = stripped.find(separator, at);
        parts.push_back(stripped.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos)
            break;
        at = next + 1;
    }
    const std::string field = ExtractField(line, n, separator);
    const std::size_t index = static_cast<std::size_t>(n < 1 ? 1 : n) - 1;
    if (line.find_first_not_of(' ') == std::string_view::npos)
        FUZZ_CHECK(field == line);
    else if (parts.size() > 1 && index < parts.size())
        FUZZ_CHECK(field == trimBlanks(parts[index]));

    const std::size_t first = line.find(open);
    const std::size_t end = line.find(close);
    const std::string between = TextBetween(line, open, close);
    if (first == std::string_view::npos || end == std::string_view::npos || end <= first)
        FUZZ_CHECK(between.empty());
    else
        FUZZ_CHECK(between == line.substr(first + 1, end - first - 1));

    std::string removed;
    for (const char c : line) {
        if (c != open)
            removed += c;
    }
    FUZZ_CHECK(RemoveChar(line, open) == removed);
    FUZZ_CHECK(ContainsSub(line, sub) == (!sub.empty() && line.find(sub) != std::string_view::npos));
    return 0;
}
