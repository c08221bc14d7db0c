#include "document/layoutcache.h"
#include "document/logdocument.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace tlg;

namespace {

// The lines of another source, with the bytes read from them counted.
class CountedLines : public LineSource {
public:
    explicit CountedLines(LinesPtr inner) : m_inner(std::move(inner)) {}
    mutable std::size_t bytesRead = 0;

    ByteOffset size() const override { return m_inner->size(); }
    LineCount lineCount() const override { return m_inner->lineCount(); }
    LineCount rowCount() const override { return m_inner->rowCount(); }
    ByteOffset lineIndex(LineNumber line) const override { return m_inner->lineIndex(line); }
    ByteOffset lineContentEnd(LineNumber line) const override { return m_inner->lineContentEnd(line); }
    LineNumber lineFromOffset(ByteOffset offset) const override { return m_inner->lineFromOffset(offset); }
    TextSlice slice(ByteOffset from, ByteOffset to) const override
    {
        TextSlice bytes = m_inner->slice(from, to);
        bytesRead += bytes.size();
        return bytes;
    }
    std::int64_t longestLine() const override { return m_inner->longestLine(); }
    std::int64_t widestLineColumns() const override { return m_inner->widestLineColumns(); }
    bool grewFrom(const LineSource&) const override { return true; }

private:
    LinesPtr m_inner;
};

// A line of every kind of cell: ASCII, tabs, accented, wide and combined characters, an emoji
// sequence and bytes that are not UTF-8, so that remembered points and chunks cut through them.
std::string mixedLine(std::size_t bytes)
{
    const char* pieces[] = {"word ", "\t", "\xC3\xA9", "\xE6\x9C\x8D", "e\xCC\x81\xCC\x81", "\xF0\x9F\x98\x80",
                            "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB", "\xFF", "ab"};
    std::string line;
    for (unsigned seed = 3; line.size() < bytes;) {
        seed = seed * 1103515245u + 12345u;
        line += pieces[(seed >> 16) % std::size(pieces)];
    }
    return line;
}

LongLineSizes tinySizes()
{
    LongLineSizes sizes;
    sizes.longLine = 1000;
    sizes.checkpointBytes = 333;
    sizes.scanChunk = 500;
    return sizes;
}

} // namespace

// A long line is read by stretches between remembered points; every answer must be that of a
// walk over the whole line, on both sides of every point and chunk seam.
TEST(LayoutCache, LongLinesAnswerAsAWalkOverTheWholeLine)
{
    const std::string line = mixedLine(20000);
    const LinesPtr lines = LogDocument::fromBytes("head\n" + line + "\r\nend\n");
    for (const bool utf8 : {false, true}) {
        SCOPED_TRACE(utf8 ? "utf-8" : "single-byte");
        LayoutCache cache;
        cache.setSizes(tinySizes());
        cache.setUtf8(utf8);
        cache.setLines(lines);
        ASSERT_TRUE(cache.isLong(1));
        ASSERT_FALSE(cache.isLong(0));
        const std::int64_t width = columnOfByte(line, line.size(), utf8);
        EXPECT_EQ(cache.lineColumns(1), width);
        EXPECT_EQ(cache.checkpoints(1).back().byte, line.size());

        std::vector<std::size_t> indexes;
        for (std::size_t at = 0; at < line.size(); at += 41)
            indexes.push_back(at);
        for (std::size_t seam = 333; seam < line.size(); seam += 333) {
            for (std::size_t near = seam - 5; near < seam + 5; ++near)
                indexes.push_back(near);
        }
        for (const std::size_t i : indexes) {
            ASSERT_EQ(cache.columnAt(1, i), columnOfByte(line, i, utf8)) << i;
            ASSERT_EQ(cache.boundaryAt(1, i), boundaryAtOrBefore(line, i, utf8)) << i;
            ASSERT_EQ(cache.nextBoundaryAt(1, i), nextBoundary(line, i, utf8)) << i;
            const auto column = static_cast<std::int64_t>(i * width / line.size());
            const Cell cell = cache.cellAt(1, column);
            const Cell whole = cellAtColumn(line, column, utf8);
            ASSERT_EQ(cell.byte, whole.byte) << column;
            ASSERT_EQ(cell.column, whole.column) << column;
            ASSERT_EQ(cache.caretIndexAt(1, column + 0.6), caretIndexAtColumn(line, column + 0.6, utf8)) << column;
        }

        // A long line's rows are a width each; the row of an offset starts where its row does.
        const LayoutCache::Rows rows = cache.rows(70, 0);
        EXPECT_EQ(rows.wrappedRowStarts(1), nullptr);
        EXPECT_EQ(rows.rowsOfLine(1), wrappedRows(width, 70));
        for (std::int64_t subRow = 0; subRow < rows.rowsOfLine(1); subRow += 7) {
            const Cell start = rows.rowStart({1, subRow});
            EXPECT_EQ(start.byte, cellAtColumn(line, subRow * 70, utf8).byte);
            if (start.column == subRow * 70) { // not a wide character across the row's edge
                EXPECT_EQ(rows.rowOfOffset(lines->lineIndex(1) + static_cast<ByteOffset>(start.byte)),
                          (LayoutCache::RowPos{1, subRow}));
            }
        }
    }
}

// A log whose long last line grows: what was measured stays, the line is measured on from
// where it ended, and the answers are those of a cache that measured the grown line afresh.
TEST(LayoutCache, GrownLinesAreMeasuredOnFromWhereTheyEnded)
{
    // The old end cuts a character in two, and marks that join the character before it follow.
    const std::string earlier = mixedLine(3000) + "\n" + mixedLine(30000) + "e\xE6\x9C";
    const auto first = LogDocument::fromBytes(earlier);
    LayoutCache cache;
    cache.setSizes(tinySizes());
    cache.setUtf8(true);
    cache.setLines(first);
    cache.checkpoints(0);
    cache.checkpoints(1);

    const auto grown = std::make_shared<CountedLines>(first->appended("\x8D\xCC\x81 and more\tafter"));
    cache.setLines(grown, first->rowCount());
    cache.checkpoints(0);
    EXPECT_EQ(grown->bytesRead, 0u); // the lines before the last are not measured again
    const std::vector<Cell> points = cache.checkpoints(1);
    EXPECT_LT(grown->bytesRead, 2 * tinySizes().scanChunk);

    LayoutCache fresh;
    fresh.setSizes(tinySizes());
    fresh.setUtf8(true);
    fresh.setLines(grown);
    const std::vector<Cell>& expected = fresh.checkpoints(1);
    ASSERT_EQ(points.back().byte, expected.back().byte);
    EXPECT_EQ(points.back().column, expected.back().column);
    for (std::size_t i = grown->lineContentEnd(1).value() - grown->lineIndex(1).value(); i > 29900; --i)
        ASSERT_EQ(cache.columnAt(1, i), fresh.columnAt(1, i)) << i;
}

// Wrapped rows are remembered per width: a narrower view breaks the same line anew, and moving
// by rows walks every row of every line.
TEST(LayoutCache, WrappedRowsFollowTheWidth)
{
    const std::string line = "the quick brown fox jumps over the lazy dog, again and again and again";
    const LinesPtr lines = LogDocument::fromBytes(line + "\nshort\n" + line + "\n");
    LayoutCache cache;
    cache.setLines(lines);
    for (const std::int64_t width : {30, 12, 30}) {
        SCOPED_TRACE(width);
        std::vector<Cell> expected;
        wrapLine(line, false, width, expected);
        const LayoutCache::Rows rows = cache.rows(width, 0);
        ASSERT_NE(rows.wrappedRowStarts(0), nullptr);
        ASSERT_EQ(rows.wrappedRowStarts(0)->size(), expected.size());
        EXPECT_EQ(rows.wrappedRowStarts(0)->back().byte, expected.back().byte);

        // Down over every row, to the empty line after the last break, and back up.
        const auto total = static_cast<std::int64_t>(2 * expected.size() + 2);
        LayoutCache::RowPos pos{0, 0};
        EXPECT_EQ(rows.moveRows(pos, 1000), total - 1);
        EXPECT_EQ(pos, (LayoutCache::RowPos{3, 0}));
        EXPECT_EQ(rows.moveRows(pos, -(total - 2)), -(total - 2));
        EXPECT_EQ(pos, (LayoutCache::RowPos{0, 1}));
        EXPECT_EQ(rows.rowStart(pos).byte, expected[1].byte);
    }
    // Without wrap a row is a line, shown from the first column in sight.
    const LayoutCache::Rows unwrapped = cache.rows(0, 10);
    EXPECT_EQ(unwrapped.rowsOfLine(0), 1);
    EXPECT_EQ(unwrapped.rowStart({2, 0}).byte, 10u);
}
