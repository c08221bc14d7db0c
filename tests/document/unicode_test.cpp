#include "core/errors.h"
#include "document/textload.h"
#include "document/unicode.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tlg {
namespace {

using namespace std::string_literals;

struct KindCase {
    const char* name;
    std::string fileBytes;
    UnicodeKind kind;
};

void PrintTo(const KindCase& c, std::ostream* out)
{
    *out << c.name;
}

class ClassifyTest : public ::testing::TestWithParam<KindCase> {};

// The detection compares the plain load (every byte) with the NUL-free bytes.
TEST_P(ClassifyTest, TellsSixteenBitTextFromSingleByteText)
{
    const KindCase& c = GetParam();
    std::string nulFree;
    for (char b : c.fileBytes) {
        if (b != '\0')
            nulFree.push_back(b);
    }
    EXPECT_EQ(ClassifyUnicode(c.fileBytes, nulFree), c.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ClassifyTest,
    ::testing::Values(
        KindCase{"single_byte", "plain text log\r\n", UnicodeKind::SingleByte},
        KindCase{"empty", "", UnicodeKind::SingleByte},
        KindCase{"utf16le_without_mark", "l\0o\0g\0\r\0\n\0"s, UnicodeKind::NulBytes},
        KindCase{"utf16le_with_mark", "\xFF\xFEl\0o\0g\0"s, UnicodeKind::NulBytes},
        KindCase{"nul_only_at_the_ends", "\0\0 text \0"s, UnicodeKind::SingleByte},
        KindCase{"mark_without_inner_nuls", "\xFF\xFEtext\0"s, UnicodeKind::ByteOrderMark},
        KindCase{"two_bytes_with_mark", "\xFF\xFE", UnicodeKind::ByteOrderMark},
        KindCase{"three_bytes_without_mark", "abc", UnicodeKind::SingleByte},
        KindCase{"two_bytes_without_mark", "\xFE\xFF", UnicodeKind::SingleByte}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClassifyTest, OneReadAnswersAsTheComparisonDoes)
{
    std::mt19937 random(3);
    const char alphabet[] = {'\0', '\xFF', '\xFE', ' ', '\r', 'a', 'A', '\x01'};
    for (int round = 0; round < 5000; ++round) {
        std::string loaded(random() % 8, ' ');
        for (char& c : loaded)
            c = alphabet[random() % sizeof(alphabet)];
        ASSERT_EQ(ClassifyLoadedText(loaded), ClassifyUnicode(loaded, DropNuls(loaded)))
            << ::testing::PrintToString(loaded);
    }
}

TEST(ClassifyTest, IgnoresCaseAndBlanksAtTheEndsOnly)
{
    EXPECT_EQ(ClassifyUnicode("Error Here", "ERROR HERE"), UnicodeKind::SingleByte);
    EXPECT_EQ(ClassifyUnicode(" \t\rtext\n\x01", "text"), UnicodeKind::SingleByte);
    EXPECT_EQ(ClassifyUnicode("caf\xE9", "CAF\xC9"), UnicodeKind::NulBytes); // ASCII only
    EXPECT_EQ(ClassifyUnicode("a b", "a  b"), UnicodeKind::NulBytes);
}

TEST(UnicodeReadTest, DropsNulsAndTheMarkWithoutDecoding)
{
    testing::TempDir dir;
    const std::string plain = dir.write("u.log", "h\0i\0\r\0\n\0\x41\x04"s);
    EXPECT_EQ(ReadDroppingNuls(plain), "hi\r\n\x41\x04"); // a high byte stays a character

    const std::string marked = dir.write("m.log", "\xFF\xFEh\0i\0"s);
    EXPECT_EQ(ReadDroppingNuls(marked), "\xFF\xFEhi");
    EXPECT_EQ(ReadAfterMark(marked), "hi"); // offsets 2 to size - 2

    EXPECT_EQ(ReadAfterMark(dir.write("short.log", "\xFF\xFEx")), "");
    EXPECT_EQ(ReadAfterMark(dir.write("tiny.log", "")), "");

    EXPECT_THROW(ReadDroppingNuls(dir.path("missing.log")), Failure);
    EXPECT_THROW(ReadAfterMark(dir.folder()), Failure);
}

TEST(UnicodeReadTest, ReadersFailWhileAnyLockIsHeld)
{
    testing::TempDir dir;
    const std::string path = dir.write("l.log", "a\0b\0"s);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_SH | LOCK_NB), 0);
    // A shared lock lets the plain load through but not the exclusive readers.
    EXPECT_EQ(LoadPlainText(path)->size(), 4);
    EXPECT_THROW(ReadDroppingNuls(path), Failure);
    EXPECT_THROW(ReadAfterMark(path), Failure);
    ::close(fd);
    EXPECT_EQ(ReadDroppingNuls(path), "ab");
}

} // namespace
} // namespace tlg
