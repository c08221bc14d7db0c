// FindForward, with and without case, from any start, against a search of every position.

#include "core/faststrings.h"
#include "fuzzinput.h"

using namespace tlg;

namespace {

std::int64_t naiveFind(std::string_view pattern, std::string_view text, bool ignoreCase, std::int64_t start)
{
    if (pattern.empty() || pattern.size() > text.size())
        return 0;
    const auto same = [ignoreCase](char a, char b) {
        const auto x = static_cast<unsigned char>(a);
        const auto y = static_cast<unsigned char>(b);
        return ignoreCase ? UpperTable[x] == UpperTable[y] : x == y;
    };
    for (std::size_t at = static_cast<std::size_t>(start - 1); at + pattern.size() <= text.size(); ++at) {
        bool match = true;
        for (std::size_t k = 0; match && k < pattern.size(); ++k)
            match = same(pattern[k], text[at + k]);
        if (match)
            return static_cast<std::int64_t>(at) + 1;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const bool ignoreCase = input.flag();
    const std::int64_t start = 1 + input.byte();
    const std::string_view pattern = input.piece();
    const std::string_view text = input.rest();
    FUZZ_CHECK(FindForward(pattern, text, ignoreCase, start) == naiveFind(pattern, text, ignoreCase, start));
    // Every occurrence in turn, as the find and the colouring walk them.
    std::int64_t at = 1;
    for (int i = 0; i < 64 && at > 0; ++i) {
        const std::int64_t found = FindForward(pattern, text, ignoreCase, at);
        FUZZ_CHECK(found == naiveFind(pattern, text, ignoreCase, at));
        at = found > 0 ? found + 1 : 0;
    }
    return 0;
}
