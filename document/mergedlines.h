#pragma once

// Several logs shown as one: every line of each, in the order of the times they carry. A line
// carries its own stamp's time, or that of the line before it in its log, so a stack trace's
// frames stay behind the line that began it; the lines before a log's first stamp carry the
// earliest time there is and come first. Lines carrying the same time keep their log's order,
// and the logs are taken in the order given (a stable merge); a log whose times go backwards
// is merged as it stands, each of its lines at the head of its log until it is taken.
//
// The merged text is the lines one after the other, each with its own line break as its log
// has it. A log's last line without a break gets "\n" after it here, so that it never runs into
// the next line: the merged text of any line ends with a break, and its last row is the empty
// one after the last break.
//
// Memory: one byte per merged line (which log it comes from, so at most 255 logs), and every
// kStep lines a checkpoint: the merged offset there, the highest time so far and, for each log,
// the line it has reached and the time that line carried. A question about a line starts at
// its checkpoint and counts forward over fewer than kStep lines, taking the lines' lengths from
// the logs' own line indexes.

#include "document/linesource.h"
#include "document/timedparts.h"
#include "document/timestamps.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tlg {

class MergedLines;
using MergedLinesPtr = std::shared_ptr<const MergedLines>;

class MergedLines : public LineSource, public TimedParts {
public:
    // One log to merge: its lines and how it writes its stamps.
    struct Log {
        LinesPtr lines;
        TimeForm form = TimeForm::None;
        StampContext ctx;
    };
    static constexpr std::size_t kMaxLogs = 255;
    // Lines between checkpoints.
    static constexpr std::int64_t kStep = 1024;

    // Merges the logs, reading each once from start to end; a log whose `shown` is false is
    // left out (its lines take no row), a missing entry counts as shown. `bytesDone`, when
    // given, counts the bytes read; once `stop` is raised the merge ends at its next block and
    // nothing comes of it (nullptr). Throws std::invalid_argument for more than kMaxLogs logs.
    static MergedLinesPtr build(std::vector<Log> logs, std::vector<bool> shown = {},
                                const std::atomic<bool>* stop = nullptr,
                                std::atomic<std::int64_t>* bytesDone = nullptr);

    // The merge of the logs grown to `grown` (one per log, in the same order; a log that did
    // not grow may be passed as it was). When every new line comes after all merged lines,
    // they are merged after them, which costs the new lines, and the result grewFrom this one;
    // otherwise the merge is done again from the last checkpoint before the first line it
    // changes, and it does not. A log that did not grow from its earlier lines has everything
    // merged anew. Only the newest of the merges grown from one another should be grown.
    MergedLinesPtr grownTo(std::vector<LinesPtr> grown, const std::atomic<bool>* stop = nullptr,
                           std::atomic<std::int64_t>* bytesDone = nullptr) const;
    // The same logs merged with another choice of those shown.
    MergedLinesPtr withShown(std::vector<bool> shown, const std::atomic<bool>* stop = nullptr,
                             std::atomic<std::int64_t>* bytesDone = nullptr) const;

    std::size_t fileCount() const { return m_logs.size(); }
    const Log& log(std::size_t file) const { return m_logs[file]; }
    bool shown(std::size_t file) const { return m_shown[file]; }
    // The log a line comes from (an index into the logs given), and its number there. The
    // empty row after the last line gives the last line's log and the line after it.
    std::size_t fileOf(LineNumber row) const override;
    LineNumber lineInFile(LineNumber row) const override;
    // The row that shows line `line` of log `file`, or else the first row after it from that
    // log; the line count when there is none (or the log is hidden).
    LineNumber rowOfFileLine(std::size_t file, LineNumber line) const;
    // The first row from which on the highest time carried so far is at or after `time`
    // (nanoseconds since 1970 UTC): on logs whose times never go backwards, the first row at or
    // after `time`. The line count when there is none. Reads fewer than kStep lines.
    LineNumber firstRowAtOrAfter(std::int64_t time) const override;

    ByteOffset size() const override { return m_size; }
    LineCount lineCount() const override { return m_rows; }
    LineCount rowCount() const override { return m_rows + 1; }
    ByteOffset lineIndex(LineNumber line) const override;
    ByteOffset lineContentEnd(LineNumber line) const override;
    LineNumber lineFromOffset(ByteOffset offset) const override;
    TextSlice slice(ByteOffset from, ByteOffset to) const override;
    TextSlice read(ByteOffset from, ByteOffset to) const override;
    // The greatest of the logs', which no merged line exceeds.
    std::int64_t longestLine() const override;
    std::int64_t widestLineColumns() const override;
    // The merged log numbers its own rows: a line's number in its file is lineInFile.
    LineNumber lineInLog(LineNumber line) const override { return line; }
    // The level its log gives the line.
    LineLevel lineLevel(LineNumber line) const override;
    LineNumber lineShowing(LineNumber logLine) const override;
    // The time a row carries (its stamp's, or that of the line before it in its log), and the
    // highest time of all rows; nothing before any stamp. Reads fewer than kStep lines.
    std::optional<std::int64_t> timeOfRow(LineNumber row) const;
    // Where each log stands at a row (the end of the rows at most): the next of its lines the
    // merge takes, and the time the line before it carries (nothing before its first stamp).
    // A hidden log stands at its start. Reads fewer than kStep lines.
    using Place = TimedParts::Place;
    std::vector<Place> placesAt(LineNumber row) const override;
    std::optional<std::int64_t> lastTime() const;
    bool grewFrom(const LineSource& earlier) const override;
    // Its logs, each with its form and context, as parts.
    const TimedParts* timedParts() const override { return this; }
    std::size_t partCount() const override { return m_logs.size(); }
    Part part(std::size_t index) const override;

    // Memory the rows and checkpoints take, for benchmarks and tests.
    std::size_t memory() const;

private:
    // How far a log has been merged: the next line to take and the time the line before it
    // carried (kNoTime before its first stamp).
    struct Cursor {
        LineNumber line = 0;
        std::int64_t carried = 0;
    };
    // Before row i * kStep: where it starts, the highest time the rows before it carried and
    // the greatest log among the rows carrying that time.
    struct Point {
        ByteOffset at = 0;
        std::int64_t highest = 0;
        std::uint32_t highestFile = 0;
    };
    // kChunkRows rows with their checkpoints (and fileCount() cursors per checkpoint). A chunk
    // is never changed once another merge shares it: growing copies only the last one.
    struct Chunk {
        std::vector<std::uint8_t> files;
        std::vector<Point> points;
        std::vector<Cursor> cursors;
    };
    static constexpr std::int64_t kChunkRows = 64 * kStep;
    static constexpr std::int64_t kNoTime = INT64_MIN;

    // The state at a row: the row, its offset and each log's cursor (only `line` is kept up
    // by walking; `carried` is the checkpoint's).
    struct Walk {
        LineNumber row = 0;
        ByteOffset at = 0;
        std::vector<Cursor> cursors;
    };

    MergedLines() = default;
    std::uint8_t fileAt(LineNumber row) const;
    const Point& point(std::int64_t index) const;
    const Cursor* cursorsAt(std::int64_t point) const;
    std::int64_t pointCount() const;
    // The state at the checkpoint at or before a row.
    Walk walkFrom(std::int64_t point) const;
    // The state at a row (within the rows), walked from its checkpoint.
    Walk walkTo(LineNumber row) const;
    // The state at the row that holds a byte (within the text).
    Walk walkToOffset(ByteOffset offset) const;
    // Where a log's line starts in the merged text, counting from its line 0: its offset, and
    // one more for the break added after a last line without one.
    ByteOffset mergedIndex(std::size_t file, LineNumber line) const;
    // The time a log's line carries, given the time of the line before it; read from `lines`
    // when given, a grown source of the log.
    std::int64_t carriedTime(std::size_t file, LineNumber line, std::int64_t before, const StampContext& ctx,
                             const LineSource* lines = nullptr) const;
    // Takes the logs' lines in time order from the state in m_end on, to the end of every log.
    bool merge(const std::atomic<bool>* stop, std::atomic<std::int64_t>* bytesDone);
    // Drops the rows from checkpoint `point` on and sets m_end to the state there.
    void truncateTo(std::int64_t point);
    // Makes the last chunk this merge's own before rows are added to it.
    void ownLastChunk();
    TextSlice gather(ByteOffset from, ByteOffset to, bool pass) const;

    std::vector<Log> m_logs;
    std::vector<bool> m_shown;
    std::vector<std::shared_ptr<Chunk>> m_chunks;
    LineCount m_rows = 0;
    ByteOffset m_size = 0;
    // After the last row: each log's cursor, the highest time carried and the greatest log
    // among the rows carrying it.
    std::vector<Cursor> m_end;
    std::int64_t m_highest = kNoTime;
    std::uint32_t m_highestFile = 0;
    // Shared by the merges grown from one another by appending.
    std::shared_ptr<const int> m_lineage;
};

} // namespace tlg
