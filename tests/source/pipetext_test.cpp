#include "source/pipetext.h"

#include "support/pipefeed.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

namespace {

using tlg::EncodingChoice;
using tlg::HeldText;
using tlg::PipeSpool;
using tlg::testing::PipeFeed;
using tlg::testing::TempDir;
using tlg::testing::WaitUntil;

std::string utf16le(std::string_view ascii)
{
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string lineOf(const tlg::LogDocument& text, std::int64_t line)
{
    const auto from = text.lineIndex(tlg::LineNumber(line));
    return std::string(text.slice(from, text.lineContentEnd(tlg::LineNumber(line))).view());
}

// A pipe kept by a spool, grown as a source grows it.
struct Piped {
    TempDir folder;
    PipeFeed feed;
    PipeSpool spool{feed.takeReadEnd(), [] {}, {folder.folder()}};
    HeldText text = [] {
        HeldText empty;
        empty.document = tlg::LogDocument::empty();
        return empty;
    }();
    std::int64_t sent = 0;

    void send(std::string_view bytes)
    {
        ASSERT_TRUE(feed.write(bytes));
        sent += static_cast<std::int64_t>(bytes.size());
        ASSERT_TRUE(WaitUntil([this] { return spool.bytes() == sent; }));
    }
    bool grow(const EncodingChoice& choice = {})
    {
        std::atomic<std::int64_t> done{0};
        bool detected = false;
        text = tlg::GrowPipeText(spool, text, choice, detected, done);
        return detected;
    }
};

TEST(GrowPipeText, WaitsForTheFirstBytesThenDetectsOnceAndGrowsByTheNewBytes)
{
    Piped pipe;
    EXPECT_FALSE(pipe.grow());
    EXPECT_EQ(pipe.text.document->size(), 0);

    pipe.send("\xFF\xFE" + utf16le("first\r\nsec"));
    EXPECT_TRUE(pipe.grow());
    EXPECT_EQ(pipe.text.encoding, tlg::Encoding::Utf16Le);
    EXPECT_EQ(pipe.text.kind, tlg::UnicodeKind::Utf16);
    ASSERT_EQ(pipe.text.document->lineCount(), 2);
    EXPECT_EQ(lineOf(*pipe.text.document, 0), "first");
    EXPECT_EQ(lineOf(*pipe.text.document, 1), "sec");

    const tlg::DocumentPtr before = pipe.text.document;
    pipe.send(utf16le("ond\r\nthird\r\n"));
    EXPECT_FALSE(pipe.grow());
    EXPECT_TRUE(pipe.text.document->grewFrom(*before));
    ASSERT_EQ(pipe.text.document->lineCount(), 3);
    EXPECT_EQ(lineOf(*pipe.text.document, 1), "second");
    EXPECT_EQ(lineOf(*pipe.text.document, 2), "third");
    // Nothing new: the same text.
    const tlg::DocumentPtr grown = pipe.text.document;
    EXPECT_FALSE(pipe.grow());
    EXPECT_EQ(pipe.text.document, grown);
}

TEST(GrowPipeText, NulsAmongTheFirstBytesAreDroppedAndAChosenEncodingHolds)
{
    Piped nuls;
    nuls.send(std::string("a\0b\nc\n", 6));
    EXPECT_TRUE(nuls.grow());
    EXPECT_EQ(nuls.text.kind, tlg::UnicodeKind::NulBytes);
    EXPECT_EQ(lineOf(*nuls.text.document, 0), "ab");

    Piped chosen;
    chosen.send("caf\xE9\n");
    EXPECT_TRUE(chosen.grow({false, tlg::Encoding::Iso8859_1}));
    EXPECT_EQ(chosen.text.encoding, tlg::Encoding::Iso8859_1);
    EXPECT_EQ(lineOf(*chosen.text.document, 0), "caf\xE9");
}

} // namespace
