// The quick 16-bit test of a loaded text gives the answer of the test against its NUL-free copy.

#include "document/unicode.h"
#include "fuzzinput.h"

#include <string>

using namespace tlg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view loaded(reinterpret_cast<const char*>(data), size);
    const std::string nulFree = DropNuls(loaded);
    FUZZ_CHECK(nulFree.find('\0') == std::string::npos);
    const UnicodeKind expected = ClassifyUnicode(loaded, nulFree);
    FUZZ_CHECK(ClassifyLoadedText(loaded) == expected);
    FUZZ_CHECK(ClassifyLoadedText(loaded, loaded.find('\0') != std::string_view::npos) == expected);
    return 0;
}
