// Following a growing log: a document built by appending equals one built from the whole text,
// and the incremental load equals a full reload whatever happens to the file.

#include "document/linelayout.h"
#include "document/logdocument.h"
#include "document/textcheck.h"
#include "document/textload.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <random>

namespace tlg {
namespace {

void expectSameDocument(const LogDocument& actual, const LogDocument& expected, const std::string& where)
{
    ASSERT_EQ(actual.copyText(), expected.copyText()) << where;
    ASSERT_EQ(actual.rowCount(), expected.rowCount()) << where;
    ASSERT_EQ(actual.lineCount(), expected.lineCount()) << where;
    for (LineNumber line = 0; line < EndLine(expected.rowCount()); ++line) {
        ASSERT_EQ(actual.lineIndex(line), expected.lineIndex(line)) << where << " line " << line;
        ASSERT_EQ(actual.lineText(line), expected.lineText(line)) << where << " line " << line;
    }
    EXPECT_EQ(actual.longestLine(), expected.longestLine()) << where;
    EXPECT_EQ(actual.widestLineColumns(), expected.widestLineColumns()) << where;
    EXPECT_EQ(actual.holdsNul(), expected.holdsNul()) << where;
}

std::string randomText(std::mt19937& random, std::size_t length)
{
    const char alphabet[] = {'a', 'b', ' ', '\t', '\r', '\n', '\n', 'x', 'y', 'z', '\0'};
    std::string text(length, ' ');
    for (char& c : text)
        c = alphabet[random() % sizeof(alphabet)];
    return text;
}

TEST(AppendTest, AppendingPiecesEqualsIndexingTheWhole)
{
    std::mt19937 random(17);
    for (int round = 0; round < 300; ++round) {
        const std::string text = randomText(random, random() % 80);
        DocumentPtr doc = LogDocument::fromBytes(std::string_view());
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t piece = 1 + random() % 7; // pieces split CR LF pairs too
            doc = doc->appended(std::string_view(text).substr(at, piece));
            at += piece;
        }
        expectSameDocument(*doc, *LogDocument::fromBytes(text), "round " + std::to_string(round));
    }
}

TEST(AppendTest, AnOlderDocumentNeverSeesWhatIsAppendedAfterIt)
{
    const DocumentPtr base = LogDocument::fromBytes("one\r\ntwo\r");
    const DocumentPtr first = base->appended("\nthree\n");
    const DocumentPtr second = first->appended("four\n");
    // A branch from an older document gets buffers of its own.
    const DocumentPtr other = first->appended("FIVE\r\n");
    const DocumentPtr fromBase = base->appended("x");
    expectSameDocument(*base, *LogDocument::fromBytes("one\r\ntwo\r"), "base");
    expectSameDocument(*first, *LogDocument::fromBytes("one\r\ntwo\r\nthree\n"), "first");
    expectSameDocument(*second, *LogDocument::fromBytes("one\r\ntwo\r\nthree\nfour\n"), "second");
    expectSameDocument(*other, *LogDocument::fromBytes("one\r\ntwo\r\nthree\nFIVE\r\n"), "other");
    expectSameDocument(*fromBase, *LogDocument::fromBytes("one\r\ntwo\rx"), "fromBase");
    EXPECT_EQ(first->appended("")->copyText(), first->copyText());
}

TEST(AppendTest, TheIncrementalLoadEqualsAFullReloadWhateverTheFileGoesThrough)
{
    testing::TempDir dir;
    const std::string path = dir.path("followed.log");
    std::mt19937 random(23);
    std::string content;
    auto write = [&](const std::string& bytes, bool append) {
        std::ofstream(path, append ? std::ios::binary | std::ios::app : std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        content = append ? content + bytes : bytes;
    };
    write(randomText(random, 9000), false);
    DocumentPtr followed = LoadPlainTextAfter(path, nullptr);
    for (int step = 0; step < 200; ++step) {
        const int what = static_cast<int>(random() % 10);
        std::string change;
        if (what < 6) {
            write(randomText(random, random() % 3000), true); // grows
            change = "append";
        } else if (what == 6) {
            write(randomText(random, random() % 5000), false); // truncated and rewritten
            change = "rewrite";
        } else if (what == 7) {
            // Replaced by a new file under the same name, as log rotation does.
            const std::string fresh = randomText(random, 100 + random() % 9000);
            std::ofstream(dir.path("next.log"), std::ios::binary).write(fresh.data(), static_cast<std::streamsize>(fresh.size()));
            ASSERT_EQ(std::rename(dir.path("next.log").c_str(), path.c_str()), 0);
            content = fresh;
            change = "replace";
        } else if (what == 8 && content.size() > 10) {
            // The same size, a byte changed near the start or near the old end.
            std::string changed = content;
            const std::size_t at = random() % 2 ? random() % std::min<std::size_t>(4096, changed.size())
                                                 : changed.size() - 1 - random() % std::min<std::size_t>(4096, changed.size());
            changed[at] = changed[at] == 'Q' ? 'R' : 'Q';
            write(changed, false);
            change = "edit";
        } else {
            change = "nothing";
        }
        followed = LoadPlainTextAfter(path, followed);
        expectSameDocument(*followed, *LogDocument::fromBytes(content), "step " + std::to_string(step) + " " + change);
    }
}

TEST(AppendTest, AGrowingFollowedLogSharesItsBufferAndReadsOnlyTheNewBytes)
{
    testing::TempDir dir;
    const std::string path = dir.write("grow.log", std::string(100000, 'a') + "\n");
    std::atomic<std::int64_t> read{0};
    const DocumentPtr first = LoadPlainText(path, &read);
    EXPECT_EQ(read.load(), 100001);
    std::ofstream(path, std::ios::binary | std::ios::app) << "tail line\n";
    read = 0;
    const DocumentPtr second = LoadPlainTextAfter(path, first, &read);
    EXPECT_EQ(read.load(), 10);
    EXPECT_TRUE(second->grewFrom(*first)); // read on from the same open file
    EXPECT_EQ(second->lineCount(), 2);
    EXPECT_EQ(LoadPlainTextAfter(path, second, &read), second); // nothing new

    // Past its room the text moves to a larger buffer once, and the appends after share it.
    // (A text held in memory, as a converted one is: a text read from its file holds no bytes.)
    const std::string held = second->copyText();
    auto room = std::make_shared<TextBuffer>(TextRoomFor(held.size()));
    std::copy(held.begin(), held.end(), room->data());
    DocumentPtr followed = LogDocument::adopt(room, held.size(), second->identity());
    int copies = 0;
    for (int i = 0; i < 40; ++i) {
        const DocumentPtr next = followed->appended(std::string(100000, 'b') + "\n");
        copies += !next->grewFrom(*followed);
        followed = next;
    }
    EXPECT_LE(copies, 3);
    EXPECT_EQ(followed->lineCount(), 42);
}

TEST(AppendTest, TheFollowedTextEqualsTheFileAfterEveryChangeEvenInTheMiddle)
{
    testing::TempDir dir;
    const std::string path = dir.path("followed.log");
    std::mt19937 random(29);
    std::string content;
    auto write = [&](const std::string& bytes, bool append) {
        std::ofstream(path, append ? std::ios::binary | std::ios::app : std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        content = append ? content + bytes : bytes;
    };
    write(randomText(random, 30000), false);
    TextCheck check;
    DocumentPtr followed = LoadFollowedText(path, nullptr, check, false);
    for (int step = 0; step < 300; ++step) {
        const int what = static_cast<int>(random() % 12);
        std::string change;
        if (what < 5) {
            write(randomText(random, random() % 3000), true);
            change = "append";
        } else if (what == 5) {
            write(randomText(random, random() % 5000), false);
            change = "rewrite";
        } else if (what == 6) {
            const std::string fresh = randomText(random, 100 + random() % 9000);
            std::ofstream(dir.path("next.log"), std::ios::binary).write(fresh.data(), static_cast<std::streamsize>(fresh.size()));
            ASSERT_EQ(std::rename(dir.path("next.log").c_str(), path.c_str()), 0);
            content = fresh;
            change = "replace";
        } else if ((what == 7 || what == 8) && content.size() > 9000) {
            // A byte changed away from both ends (the status of a line rewritten in place),
            // then, or not, the log grows: the same head and the same bytes before the old end.
            std::string changed = content;
            const std::size_t at = 4096 + random() % (changed.size() - 8192);
            changed[at] = changed[at] == 'Q' ? 'R' : 'Q';
            write(changed, false);
            if (what == 8)
                write(randomText(random, 1 + random() % 2000), true);
            change = what == 7 ? "edit in the middle" : "edit in the middle, then growth";
        } else if (what == 9 && content.size() > 9000) {
            // Truncated and written again past the old size, the same except in the middle.
            std::string again = content;
            again[again.size() / 2] = again[again.size() / 2] == 'Z' ? 'Y' : 'Z';
            write("", false);
            write(again + randomText(random, 10 + random() % 500), false);
            change = "truncated and regrown";
        } else {
            change = "nothing";
        }
        followed = LoadFollowedText(path, followed, check, false);
        expectSameDocument(*followed, *LogDocument::fromBytes(content), "step " + std::to_string(step) + " " + change);
        EXPECT_EQ(check.unchecked, 0);
    }
}

TEST(AppendTest, ALongTextIsComparedWindowByWindowWithinABoundedNumberOfChecks)
{
    testing::TempDir dir;
    std::mt19937 random(31);
    std::string content = randomText(random, 100000);
    const std::string path = dir.write("long.log", content);
    const DocumentPtr held = LogDocument::fromBytes(content);
    // A budget far below the text: the first and last 4 KiB and a window of the rest per check.
    constexpr std::size_t kBudget = 8192 + 10000;
    const std::size_t checksForAll = (content.size() + 9999) / 10000;
    for (std::size_t at : {std::size_t(5000), std::size_t(50000), std::size_t(95000)}) {
        std::string changed = content;
        changed[at] = changed[at] == 'Q' ? 'R' : 'Q';
        std::ofstream(path, std::ios::binary).write(changed.data(), static_cast<std::streamsize>(changed.size()));
        TextCheck check;
        check.cursor = random() % content.size();
        check.unchecked = static_cast<std::int64_t>(content.size());
        std::size_t checks = 0;
        bool same = true;
        while (same && checks <= checksForAll) {
            same = TextStillInFile(path, *held, check, kBudget);
            ++checks;
        }
        EXPECT_FALSE(same) << "a change at " << at << " went unseen for " << checks << " checks";
    }
    // The file unchanged: every check agrees, and a full round leaves nothing unchecked.
    std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    TextCheck check;
    check.unchecked = static_cast<std::int64_t>(content.size());
    for (std::size_t i = 0; i < checksForAll; ++i)
        EXPECT_TRUE(TextStillInFile(path, *held, check, kBudget));
    EXPECT_EQ(check.unchecked, 0);
    // A file now shorter than the text differs.
    std::ofstream(path, std::ios::binary).write(content.data(), 50000);
    EXPECT_FALSE(TextStillInFile(path, *held, check, kBudget));
}

} // namespace
} // namespace tlg
