#include "document/keptlines.h"
#include "document/logdocument.h"
#include "support/syntheticlines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

// Every question a view or a pass asks, answered by the kept lines and by a document of the
// same bytes built whole.
void expectSameAsText(const KeptLines& kept, const std::vector<LineNumber>& lines, std::mt19937& random)
{
    const LinesPtr& base = kept.base();
    std::string expected;
    for (const LineNumber line : lines)
        expected += base->slice(base->lineIndex(line), base->lineIndex(line + 1)).view();
    const DocumentPtr whole = LogDocument::fromBytes(expected);
    ASSERT_EQ(kept.copyText(), expected);
    ASSERT_EQ(kept.lineCount(), whole->lineCount());
    ASSERT_EQ(kept.rowCount(), whole->rowCount());
    for (LineNumber line = -1; line <= EndLine(kept.rowCount()); ++line) {
        ASSERT_EQ(kept.lineIndex(line), whole->lineIndex(line)) << line;
        ASSERT_EQ(kept.lineContentEnd(line), whole->lineContentEnd(line)) << line;
        if (line >= 0 && line < EndLine(kept.lineCount())) {
            ASSERT_EQ(kept.lineInLog(line), lines[static_cast<std::size_t>(line)]);
        }
    }
    for (ByteOffset offset = -1; offset <= kept.size() + 1; ++offset)
        ASSERT_EQ(kept.lineFromOffset(offset), whole->lineFromOffset(offset)) << offset;
    for (int i = 0; i < 50; ++i) {
        std::uniform_int_distribution<std::int64_t> at(0, kept.size().value());
        ByteOffset from = at(random), to = at(random);
        if (from > to)
            std::swap(from, to);
        ASSERT_EQ(kept.slice(from, to).view(), whole->slice(from, to).view());
        ASSERT_EQ(kept.read(from, to).view(), whole->read(from, to).view());
    }
    std::string pieces;
    kept.forEachLineBlock(0, EndLine(kept.rowCount()), 7, [&pieces](const LineBlock& block) {
        pieces += block.bytes;
        return true;
    });
    ASSERT_EQ(pieces, expected);
}

// Lone CR breaks are left out: a line ending in CR kept just before an empty LF line reads as
// one CR LF break in a text built from the same bytes.
std::string randomLog(std::mt19937& random, int lines, bool finalBreak)
{
    std::string text;
    for (int i = 0; i < lines; ++i) {
        text += std::string(random() % 4, static_cast<char>('a' + i % 26));
        if (i + 1 < lines || finalBreak)
            text += random() % 3 == 0 ? "\r\n" : "\n";
    }
    return text;
}

TEST(KeptLines, ReadsAsTheTextOfTheKeptLines)
{
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        const DocumentPtr base = LogDocument::fromBytes(randomLog(random, 1 + round * 3, round % 2 == 0));
        std::vector<LineNumber> lines;
        for (LineNumber line = 0; line < EndLine(base->lineCount()); ++line)
            if (random() % 3 != 0)
                lines.push_back(line);
        if (round % 5 == 0)
            lines.clear();
        expectSameAsText(*KeptLines::of(base, lines), lines, random);
    }
}

TEST(KeptLines, GrowingMatchesKeepingAnew)
{
    std::mt19937 random(11);
    // Every other line kept: thousands of runs, past the chunks' seams.
    const auto keptOf = [](const LogDocument& document, LineNumber from) {
        std::vector<LineNumber> lines;
        for (LineNumber line = from; line < EndLine(document.lineCount()); ++line)
            if (document.lineText(line).size() % 2 == 0)
                lines.push_back(line);
        return lines;
    };
    const DocumentPtr before = LogDocument::fromBytes(randomLog(random, 5000, false));
    const KeptLinesPtr first = KeptLines::of(before, keptOf(*before, 0));
    const DocumentPtr after = before->appended("xx\n" + randomLog(random, 3000, true));
    for (const LineNumber fromLine : {EndLine(before->lineCount()) - 1, LineNumber(2100), LineNumber(0)}) {
        std::vector<LineNumber> all = keptOf(*after, 0);
        const KeptLinesPtr grown = first->grownTo(after, fromLine, keptOf(*after, fromLine));
        expectSameAsText(*grown, all, random);
        // Grown without losing a line of the earlier kept text only when nothing before the
        // last line was kept again.
        const bool lostNone = first->lineCount() == 0 || first->lineInLog(EndLine(first->lineCount()) - 1) < fromLine;
        EXPECT_EQ(grown->grewFrom(*first), lostNone) << fromLine;
    }
}

TEST(KeptLines, CountsPastTwoBillionLinesInFewRuns)
{
    const LineCount total = 3'000'000'000;
    const auto base = std::make_shared<testing::SyntheticLines>(total);
    const KeptLinesPtr kept = KeptLines::ofRanges(base, {{0, 1'000'000'000}, {1'500'000'000, EndLine(total)}});
    EXPECT_EQ(kept->lineCount(), 2'500'000'000);
    EXPECT_LT(kept->runMemory(), 4096u);
    const LineNumber past = (std::int64_t{1} << 31) + 5;
    EXPECT_EQ(kept->lineInLog(past), past + 500'000'000);
    EXPECT_EQ(kept->lineFromOffset(kept->lineIndex(past) + 3), past);
    // A read across the seam of the two runs.
    const ByteOffset seam = kept->lineIndex(1'000'000'000);
    EXPECT_EQ(kept->slice(seam - 4, seam + 4).view(), "999\n0000");
}

// Lines kept of lines kept: numbered as the log numbers them, and a line of the log found as
// the first line shown at or after it.
TEST(KeptLines, KeptOfKeptNumbersLinesAsTheLog)
{
    const DocumentPtr log = LogDocument::fromBytes("l0\nl1\nl2\nl3\nl4\nl5\nl6\nl7\n");
    const KeptLinesPtr outer = KeptLines::ofRanges(log, {{1, 3}, {5, 8}}); // l1 l2 l5 l6 l7
    const KeptLinesPtr inner = KeptLines::of(outer, {1, 3});               // l2 l6
    EXPECT_EQ(inner->copyText(), "l2\nl6\n");
    EXPECT_EQ(inner->lineInLog(0).value(), 2);
    EXPECT_EQ(inner->lineInLog(1).value(), 6);
    EXPECT_EQ(inner->lineInBase(1).value(), 3);
    const std::pair<std::int64_t, std::int64_t> showing[] = {{0, 0}, {2, 0}, {3, 1}, {6, 1}, {7, 2}, {9, 2}};
    for (const auto& [logLine, row] : showing)
        EXPECT_EQ(inner->lineShowing(logLine).value(), row) << "log line " << logLine;
    EXPECT_EQ(outer->lineShowing(3).value(), 2);
    EXPECT_EQ(log->lineShowing(3).value(), 3);
}

} // namespace
} // namespace tlg
