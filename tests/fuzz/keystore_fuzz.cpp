// The association store: any text parses or is refused, and a parsed tree written and parsed
// again is the same tree (its text the same), whatever its depth or breadth.

#include "core/errors.h"
#include "shell/keystore.h"
#include "fuzzinput.h"

#include <string>

using namespace tlg;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const std::string_view path = input.piece();
    const std::string_view value = input.piece();
    const std::string_view text = input.rest();
    KeyTree tree;
    try {
        tree = KeyTree::parse(text);
    } catch (const Failure&) {
        return 0;
    }
    const std::string written = tree.text();
    FUZZ_CHECK(KeyTree::parse(written).text() == written);

    // A change through the tree survives the file too.
    if (tree.createKey(path)) {
        FUZZ_CHECK(tree.hasKey(path));
        FUZZ_CHECK(tree.setValue(path, "", value));
        FUZZ_CHECK(tree.value(path, "") == value);
        const KeyTree again = KeyTree::parse(tree.text());
        FUZZ_CHECK(again.value(path, "") == value);
        FUZZ_CHECK(again.text() == tree.text());
        FUZZ_CHECK(tree.removeKey(path));
        FUZZ_CHECK(!tree.hasKey(path));
        FUZZ_CHECK(KeyTree::parse(tree.text()).text() == tree.text());
    }
    return 0;
}
