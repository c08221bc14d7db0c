#pragma once

// Some lines of another line source, shown as a source of their own: its line i is the other
// source's line lineInLog(i), with its line break, so its text is those lines one after the
// other. Lines kept one after the other are held as one run, so that keeping most of a log's
// lines costs little: memory grows with the runs, whatever their length.

#include "document/linesource.h"

#include <memory>
#include <vector>

namespace tlg {

class KeptLines;
using KeptLinesPtr = std::shared_ptr<const KeptLines>;

class KeptLines : public LineSource {
public:
    // Lines [first, end) of the base, kept one after the other.
    struct Range {
        LineNumber first = 0;
        LineNumber end = 0;
    };

    // The lines of `base` in `lines`, ascending; lines past the base's last line are left out.
    static KeptLinesPtr of(LinesPtr base, const std::vector<LineNumber>& lines);
    // The same given as ranges, ascending and apart.
    static KeptLinesPtr ofRanges(LinesPtr base, const std::vector<Range>& ranges);

    // Kept lines made a range at a time (ascending and apart), without a list of them first.
    class Builder {
    public:
        explicit Builder(LinesPtr base);
        void keep(Range range);
        KeptLinesPtr finish();

    private:
        std::shared_ptr<KeptLines> m_kept;
        const LineSource* m_base = nullptr;
        LineNumber m_next = 0; // the base's line after the last kept
    };

    // This source over `grown`, a base that grew from this one's base: the kept lines from the
    // base's line `fromLine` on are dropped and `lines` (ascending, from fromLine on) are kept
    // after the others. Costs the lines added, not those kept before. Only the newest of the
    // sources grown from one another should be grown.
    KeptLinesPtr grownTo(LinesPtr grown, LineNumber fromLine, const std::vector<LineNumber>& lines) const;

    const LinesPtr& base() const { return m_base; }

    ByteOffset size() const override { return m_size; }
    LineCount lineCount() const override { return m_kept; }
    LineCount rowCount() const override { return m_kept + (m_endsWithBreak || m_kept == 0 ? 1 : 0); }
    ByteOffset lineIndex(LineNumber line) const override;
    ByteOffset lineContentEnd(LineNumber line) const override;
    LineNumber lineFromOffset(ByteOffset offset) const override;
    TextSlice slice(ByteOffset from, ByteOffset to) const override;
    TextSlice read(ByteOffset from, ByteOffset to) const override;
    // The base's, which no kept line exceeds.
    std::int64_t longestLine() const override { return m_base->longestLine(); }
    std::int64_t widestLineColumns() const override { return m_base->widestLineColumns(); }
    // The base's line; the empty row after the last kept line's break stands for the base's
    // line after it.
    LineNumber lineInBase(LineNumber line) const;
    // The line of the log the base's line comes from (the base may keep some lines of another).
    LineNumber lineInLog(LineNumber line) const override;
    bool grewFrom(const LineSource& earlier) const override;
    // The line here that shows the base's line, or -1 when it is not kept.
    LineNumber lineOfBaseLine(LineNumber baseLine) const;
    std::size_t fileOf(LineNumber line) const override { return m_base->fileOf(lineInBase(line)); }
    LineNumber lineInFile(LineNumber line) const override { return m_base->lineInFile(lineInBase(line)); }
    LineNumber lineShowing(LineNumber logLine) const override;

    // Memory the runs take, for benchmarks and tests.
    std::size_t runMemory() const;

private:
    // Kept lines that follow one another in the base: from the base's line `first`, which is
    // this source's line `row` and starts at `at` here and at `baseAt` in the base. A run ends
    // where the next begins (the last one at the last kept line).
    struct Run {
        LineNumber first = 0;
        LineNumber row = 0;
        ByteOffset at = 0;
        ByteOffset baseAt = 0;
    };
    // Runs in chunks that never change once shared: growing copies only the last chunk.
    using Chunk = std::vector<Run>;
    static constexpr std::size_t kChunkRuns = 1024;

    KeptLines() = default;
    std::size_t runCount() const;
    const Run& run(std::size_t index) const;
    // The index of the last run whose row (or offset) is at or before the one given.
    template <typename Key, typename Value>
    std::size_t lastRunAtOrBefore(Key Run::*key, Value value) const;
    std::size_t runOfRow(LineNumber row) const;
    std::size_t runOfOffset(ByteOffset offset) const;
    // The base's line kept last; -1 when none is.
    LineNumber lastKept() const;
    // Keeps the base's lines of a range (those after the last kept one, and before the base's
    // end).
    void keep(Range range);
    // Drops the kept lines from the base's line `fromLine` on; whether there were any.
    bool dropFrom(LineNumber fromLine);
    // The bytes [from, to): sliced from the base, or read for a pass.
    TextSlice gather(ByteOffset from, ByteOffset to, bool pass) const;
    // Where this source's offset lies in the base.
    static ByteOffset baseOffset(const Run& run, ByteOffset offset) { return run.baseAt + (offset - run.at); }
    // Where the base's offset lies here.
    static ByteOffset keptOffset(const Run& run, ByteOffset baseOffset) { return run.at + (baseOffset - run.baseAt); }
    void finish();

    LinesPtr m_base;
    LineNumber m_baseEnd = 0; // the base's end line while lines are being kept
    std::vector<std::shared_ptr<const Chunk>> m_chunks;
    Chunk m_tail; // the last chunk while lines are being kept
    LineCount m_kept = 0;
    ByteOffset m_size = 0;
    bool m_endsWithBreak = false;
    // Shared by the sources grown from one another without dropping a line.
    std::shared_ptr<const int> m_lineage;
};

} // namespace tlg
