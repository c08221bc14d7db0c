#include "source/textoperations.h"

#include "core/errors.h"
#include "document/encoding.h"
#include "document/unicode.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using tlg::testing::TempDir;

void append(const std::string& path, std::string_view bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::app).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string utf16le(std::string_view ascii)
{
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

struct Case {
    const char* name;
    std::string bytes;   // the file
    std::string more;    // appended to it
    tlg::UnicodeKind kind;
};

std::vector<Case> everyKind()
{
    const std::string filler(100 * 1024, 'x'); // past the bytes that decide the encoding
    return {
        {"plain", "one\ntwo\n", "three\n", tlg::UnicodeKind::SingleByte},
        {"NUL among the first bytes", std::string("ab\0c\nd", 6) + "\n", "e\0f\n", tlg::UnicodeKind::NulBytes},
        {"NUL far on", "start\n" + filler + std::string("\n\0tail\n", 7), "more\0\n", tlg::UnicodeKind::NulBytes},
        {"UTF-16LE with its mark", "\xFF\xFE" + utf16le("one\r\ntwo\r\n"), utf16le("three\r\n"), tlg::UnicodeKind::Utf16},
    };
}

// Every kind of text is read from its file by the one open, shown as its conversion of old,
// and a followed file costs only what was appended.
TEST(TextOperations, EveryKindOpensPagedAndGrowsByItsNewBytes)
{
    for (const Case& c : everyKind()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.write("log", c.bytes);
        std::atomic<std::int64_t> done{0};
        const tlg::HeldText opened = tlg::OpenText(path, {}, done);
        EXPECT_EQ(opened.kind, c.kind);
        EXPECT_TRUE(opened.document->paged());
        auto shown = [&](const std::string& bytes) {
            switch (c.kind) {
            case tlg::UnicodeKind::NulBytes:
                return tlg::DropNuls(bytes);
            case tlg::UnicodeKind::Utf16:
                return tlg::Utf16ToUtf8(bytes.substr(2), false);
            default:
                return bytes;
            }
        };
        EXPECT_EQ(opened.document->copyText(), shown(c.bytes));

        append(path, c.more);
        bool whole = true;
        const tlg::HeldText grown = tlg::FollowText(path, opened, true, true, false, whole, done);
        EXPECT_FALSE(whole);
        EXPECT_TRUE(grown.document->grewFrom(*opened.document));
        EXPECT_EQ(grown.document->copyText(), shown(c.bytes + c.more));

        // "View Unicode" up: the watcher reads the file as its bytes are.
        const tlg::HeldText raw = tlg::FollowText(path, grown, false, true, false, whole, done);
        EXPECT_EQ(raw.document->copyText(), c.bytes + c.more);
        EXPECT_EQ(whole, c.kind != tlg::UnicodeKind::SingleByte);
    }
}

// A read told to stop gives no text at all, not the part read so far, whichever way it reads
// the file: an open, the new bytes of a followed log (compared first or not), the whole file
// again.
TEST(TextOperations, AStoppedReadGivesNoText)
{
    const std::atomic<bool> stop{true};
    for (const Case& c : everyKind()) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.write("log", c.bytes);
        std::atomic<std::int64_t> done{0};
        EXPECT_THROW(tlg::OpenText(path, {}, done, &stop), tlg::ReadStopped);
        const tlg::HeldText opened = tlg::OpenText(path, {}, done);
        append(path, c.more);
        bool whole = false;
        for (const bool compare : {false, true})
            EXPECT_THROW(tlg::FollowText(path, opened, true, compare, false, whole, done, &stop), tlg::ReadStopped);
        EXPECT_THROW(tlg::FollowText(path, opened, false, true, false, whole, done, &stop), tlg::ReadStopped);
        EXPECT_THROW(tlg::ReadAgain(path, opened, true, done, &stop), tlg::ReadStopped);
    }
}

} // namespace
