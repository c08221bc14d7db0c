#include "document/mergedlines.h"

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>

namespace tlg {

namespace {

// Bytes of whole lines a merge reads from one log at a time.
constexpr std::int64_t kWindowBytes = 256 << 10;
// Rows merged between two looks at the stop flag.
constexpr std::int64_t kStopCheckRows = 4096;

// The first bytes of a log's lines, read in windows of whole lines as the merge takes them,
// one line after the other; a line longer than a window has only its head read.
struct HeadReader {
    const LineSource* lines = nullptr;
    TextSlice window;
    ByteOffset windowStart = 0;
    LineNumber first = 0;
    LineNumber end = 0;
    std::vector<ByteOffset> starts; // of the window's lines, and of the line after them

    // The first bytes of `line`; `length` is set to its bytes with its break.
    std::string_view head(LineNumber line, ByteOffset& length, std::atomic<std::int64_t>* bytesDone)
    {
        if (line < first || line >= end)
            refill(line, bytesDone);
        // The line's bytes up to the next line's start, its break left out: finding where its
        // content ends would read the file again for each line.
        const ByteOffset start = starts[static_cast<std::size_t>((line - first).value())];
        const ByteOffset next = starts[static_cast<std::size_t>((line - first).value()) + 1];
        length = next - start;
        const auto at = static_cast<std::size_t>((start - windowStart).value());
        std::string_view head = window.view().substr(at, static_cast<std::size_t>((next - start).value()));
        if (head.size() == static_cast<std::size_t>((next - start).value())) {
            if (!head.empty() && head.back() == '\n')
                head.remove_suffix(1);
            if (!head.empty() && head.back() == '\r')
                head.remove_suffix(1);
        }
        return head.substr(0, kStampHead);
    }

    void refill(LineNumber line, std::atomic<std::int64_t>* bytesDone)
    {
        const LineNumber count = EndLine(lines->lineCount());
        const ByteOffset start = lines->lineIndex(line);
        const ByteOffset limit = start + kWindowBytes;
        LineNumber windowEnd = limit >= lines->size() ? count : lines->lineFromOffset(limit);
        first = line;
        windowStart = start;
        if (windowEnd <= line) {
            // A line longer than a window: its head is all a stamp needs.
            end = line + 1;
            window = lines->read(start, std::min(lines->lineContentEnd(line), start + ByteOffset(kStampHead)));
        } else {
            end = std::min(windowEnd, count);
            window = lines->read(start, lines->lineIndex(end));
        }
        starts.resize(static_cast<std::size_t>((end - first).value()) + 1);
        lines->lineStarts(first, end + 1, starts.data());
        if (bytesDone != nullptr)
            *bytesDone += (starts.back() - start).value();
    }
};

} // namespace

MergedLinesPtr MergedLines::build(std::vector<Log> logs, std::vector<bool> shown, const std::atomic<bool>* stop,
                                  std::atomic<std::int64_t>* bytesDone)
{
    if (logs.size() > kMaxLogs)
        throw std::invalid_argument("at most 255 logs can be merged");
    std::shared_ptr<MergedLines> merged(new MergedLines());
    shown.resize(logs.size(), true);
    merged->m_logs = std::move(logs);
    merged->m_shown = std::move(shown);
    merged->m_end.assign(merged->m_logs.size(), Cursor{0, kNoTime});
    merged->m_lineage = std::make_shared<const int>(0);
    if (!merged->merge(stop, bytesDone))
        return nullptr;
    return merged;
}

MergedLinesPtr MergedLines::withShown(std::vector<bool> shown, const std::atomic<bool>* stop,
                                      std::atomic<std::int64_t>* bytesDone) const
{
    return build(m_logs, std::move(shown), stop, bytesDone);
}

MergedLinesPtr MergedLines::grownTo(std::vector<LinesPtr> grown, const std::atomic<bool>* stop,
                                    std::atomic<std::int64_t>* bytesDone) const
{
    if (grown.size() != m_logs.size())
        throw std::invalid_argument("a grown merge needs one source per log");
    std::vector<Log> logs = m_logs;
    bool rewritten = false;
    for (std::size_t file = 0; file < logs.size(); ++file) {
        if (grown[file] != logs[file].lines && !grown[file]->grewFrom(*logs[file].lines))
            rewritten = true;
        logs[file].lines = grown[file];
    }
    if (rewritten)
        return build(std::move(logs), m_shown, stop, bytesDone);

    // What each grown log changes: its first new line, or its last line when that had no
    // break and grew (its bytes, and perhaps its stamp, are not those merged).
    struct Change {
        std::size_t file;
        LineNumber line;
        bool regrown;
        std::int64_t time; // the new line's, when not regrown
    };
    std::vector<Change> changes;
    for (std::size_t file = 0; file < logs.size(); ++file) {
        const LineSource& before = *m_logs[file].lines;
        const LineSource& after = *grown[file];
        if (!m_shown[file] || &before == &after || after.size() == before.size())
            continue;
        const LineCount count = before.lineCount();
        if (count > 0 && before.rowCount() == count) {
            changes.push_back({file, EndLine(count) - 1, true, kNoTime});
        } else if (after.lineCount() > count) {
            StampContext ctx = logs[file].ctx;
            changes.push_back({file, EndLine(count), false, carriedTime(file, EndLine(count), m_end[file].carried, ctx, &after)});
        }
    }

    std::shared_ptr<MergedLines> merged(new MergedLines(*this));
    merged->m_logs = std::move(logs);
    const bool appends = std::all_of(changes.begin(), changes.end(), [this](const Change& change) {
        return !change.regrown && (change.time > m_highest || (change.time == m_highest && change.file >= m_highestFile));
    });
    if (appends) {
        merged->ownLastChunk();
    } else {
        // The last checkpoint before which no row would have been taken otherwise: every new
        // line comes after every row before it, and no regrown line was taken before it.
        std::int64_t restart = pointCount() - 1;
        const auto fits = [this](std::int64_t p, const Change& change) {
            if (p == 0)
                return true;
            if (change.regrown)
                return cursorsAt(p)[change.file].line < change.line;
            return change.time > point(p).highest;
        };
        while (restart > 0 && !std::all_of(changes.begin(), changes.end(), [&](const Change& c) { return fits(restart, c); }))
            --restart;
        merged->truncateTo(restart);
        merged->m_lineage = std::make_shared<const int>(0);
    }
    if (!merged->merge(stop, bytesDone))
        return nullptr;
    return merged;
}

std::int64_t MergedLines::carriedTime(std::size_t file, LineNumber line, std::int64_t before, const StampContext& ctx,
                                      const LineSource* lines) const
{
    if (lines == nullptr)
        lines = m_logs[file].lines.get();
    const ByteOffset start = lines->lineIndex(line);
    const ByteOffset end = std::min(lines->lineContentEnd(line), start + ByteOffset(kStampHead));
    const TextSlice head = lines->slice(start, end);
    const auto time = ParseStamp(head.view(), m_logs[file].form, ctx);
    return time ? *time : before;
}

void MergedLines::ownLastChunk()
{
    if (!m_chunks.empty())
        m_chunks.back() = std::make_shared<Chunk>(*m_chunks.back());
}

void MergedLines::truncateTo(std::int64_t p)
{
    const auto chunk = static_cast<std::size_t>(p * kStep / kChunkRows);
    const auto inChunk = static_cast<std::size_t>(p % (kChunkRows / kStep));
    const std::size_t files = m_logs.size();
    m_chunks.resize(chunk + 1);
    ownLastChunk();
    Chunk& last = *m_chunks.back();
    const Point at = last.points[inChunk];
    m_end.assign(last.cursors.begin() + static_cast<std::ptrdiff_t>(inChunk * files),
                 last.cursors.begin() + static_cast<std::ptrdiff_t>((inChunk + 1) * files));
    last.files.resize(inChunk * kStep);
    last.points.resize(inChunk);
    last.cursors.resize(inChunk * files);
    m_rows = p * kStep;
    m_size = at.at;
    m_highest = at.highest;
    m_highestFile = at.highestFile;
}

bool MergedLines::merge(const std::atomic<bool>* stop, std::atomic<std::int64_t>* bytesDone)
{
    const std::size_t files = m_logs.size();
    std::vector<HeadReader> readers(files);
    // Each log's line count, and the merged length of its next line (its bytes and break, and
    // the break added after a last line without one).
    std::vector<LineNumber> counts(files);
    std::vector<ByteOffset> lengths(files);
    // The logs' next lines as (time carried, log): the least first, the earlier log on a tie.
    using Head = std::pair<std::int64_t, std::uint32_t>;
    std::vector<Head> heads;
    const auto pushHead = [&](std::size_t file) {
        const Cursor& cursor = m_end[file];
        if (cursor.line >= counts[file])
            return;
        const auto time = ParseStamp(readers[file].head(cursor.line, lengths[file], bytesDone), m_logs[file].form,
                                     m_logs[file].ctx);
        if (cursor.line + 1 == counts[file])
            lengths[file] = mergedIndex(file, cursor.line + 1) - mergedIndex(file, cursor.line);
        heads.emplace_back(time ? *time : cursor.carried, static_cast<std::uint32_t>(file));
        std::push_heap(heads.begin(), heads.end(), std::greater<>{});
    };
    for (std::size_t file = 0; file < files; ++file) {
        readers[file].lines = m_logs[file].lines.get();
        counts[file] = EndLine(m_logs[file].lines->lineCount());
        if (m_shown[file])
            pushHead(file);
    }
    while (!heads.empty()) {
        if (m_rows % kStep == 0) {
            if (m_rows % kChunkRows == 0 && EndLine(m_rows) >= static_cast<std::int64_t>(m_chunks.size()) * kChunkRows) {
                m_chunks.push_back(std::make_shared<Chunk>());
                m_chunks.back()->files.reserve(kChunkRows);
            }
            Chunk& chunk = *m_chunks.back();
            chunk.points.push_back({m_size, m_highest, m_highestFile});
            chunk.cursors.insert(chunk.cursors.end(), m_end.begin(), m_end.end());
            if (stop != nullptr && m_rows % kStopCheckRows == 0 && stop->load(std::memory_order_relaxed))
                return false;
        }
        std::pop_heap(heads.begin(), heads.end(), std::greater<>{});
        const auto [time, file] = heads.back();
        heads.pop_back();
        Cursor& cursor = m_end[file];
        m_chunks.back()->files.push_back(static_cast<std::uint8_t>(file));
        m_size += lengths[file];
        ++cursor.line;
        cursor.carried = time;
        if (time > m_highest) {
            m_highest = time;
            m_highestFile = file;
        } else if (time == m_highest) {
            m_highestFile = std::max(m_highestFile, file);
        }
        ++m_rows;
        pushHead(file);
    }
    return true;
}

ByteOffset MergedLines::mergedIndex(std::size_t file, LineNumber line) const
{
    const LineSource& lines = *m_logs[file].lines;
    const LineCount count = lines.lineCount();
    if (line < EndLine(count))
        return lines.lineIndex(line);
    const bool lastHasNoBreak = count > 0 && lines.rowCount() == count;
    return lines.size() + (lastHasNoBreak ? 1 : 0);
}

std::int64_t MergedLines::pointCount() const
{
    return m_chunks.empty() ? 0
                            : static_cast<std::int64_t>(m_chunks.size() - 1) * (kChunkRows / kStep) +
                                  static_cast<std::int64_t>(m_chunks.back()->points.size());
}

const MergedLines::Point& MergedLines::point(std::int64_t index) const
{
    return m_chunks[static_cast<std::size_t>(index / (kChunkRows / kStep))]
        ->points[static_cast<std::size_t>(index % (kChunkRows / kStep))];
}

const MergedLines::Cursor* MergedLines::cursorsAt(std::int64_t index) const
{
    const Chunk& chunk = *m_chunks[static_cast<std::size_t>(index / (kChunkRows / kStep))];
    return chunk.cursors.data() + static_cast<std::size_t>(index % (kChunkRows / kStep)) * m_logs.size();
}

std::uint8_t MergedLines::fileAt(LineNumber row) const
{
    const std::int64_t r = row.value();
    return m_chunks[static_cast<std::size_t>(r / kChunkRows)]->files[static_cast<std::size_t>(r % kChunkRows)];
}

MergedLines::Walk MergedLines::walkFrom(std::int64_t p) const
{
    const Cursor* cursors = cursorsAt(p);
    return Walk{p * kStep, point(p).at, std::vector<Cursor>(cursors, cursors + m_logs.size())};
}

MergedLines::Walk MergedLines::walkTo(LineNumber row) const
{
    Walk walk = walkFrom(row.value() / kStep);
    const std::vector<Cursor> start = walk.cursors;
    for (; walk.row < row; ++walk.row)
        ++walk.cursors[fileAt(walk.row)].line;
    for (std::size_t file = 0; file < start.size(); ++file)
        if (walk.cursors[file].line != start[file].line)
            walk.at += mergedIndex(file, walk.cursors[file].line) - mergedIndex(file, start[file].line);
    return walk;
}

MergedLines::Walk MergedLines::walkToOffset(ByteOffset offset) const
{
    // The last checkpoint at or before the offset.
    std::int64_t low = 0;
    std::int64_t high = pointCount();
    while (high - low > 1) {
        const std::int64_t middle = low + (high - low) / 2;
        if (point(middle).at <= offset)
            low = middle;
        else
            high = middle;
    }
    Walk walk = walkFrom(low);
    for (;;) {
        const std::size_t file = fileAt(walk.row);
        const LineNumber line = walk.cursors[file].line;
        const ByteOffset length = mergedIndex(file, line + 1) - mergedIndex(file, line);
        if (walk.at + length > offset)
            return walk;
        walk.at += length;
        ++walk.cursors[file].line;
        ++walk.row;
    }
}

std::size_t MergedLines::fileOf(LineNumber row) const
{
    if (m_rows == 0)
        return 0;
    return fileAt(std::clamp<LineNumber>(row, 0, EndLine(m_rows) - 1));
}

LineNumber MergedLines::lineInFile(LineNumber row) const
{
    if (m_rows == 0)
        return 0;
    if (row >= EndLine(m_rows))
        return lineInFile(EndLine(m_rows) - 1) + 1;
    row = std::max<LineNumber>(row, 0);
    return walkTo(row).cursors[fileAt(row)].line;
}

LineNumber MergedLines::rowOfFileLine(std::size_t file, LineNumber line) const
{
    if (file >= m_logs.size() || !m_shown[file] || line >= m_end[file].line)
        return EndLine(m_rows);
    line = std::max<LineNumber>(line, 0);
    // The last checkpoint where the log had not yet passed the line.
    std::int64_t low = 0;
    std::int64_t high = pointCount();
    while (high - low > 1) {
        const std::int64_t middle = low + (high - low) / 2;
        if (cursorsAt(middle)[file].line <= line)
            low = middle;
        else
            high = middle;
    }
    LineNumber next = cursorsAt(low)[file].line;
    for (LineNumber row = low * kStep; row < EndLine(m_rows); ++row) {
        if (fileAt(row) != file)
            continue;
        if (next == line)
            return row;
        ++next;
    }
    return EndLine(m_rows);
}

LineNumber MergedLines::firstRowAtOrAfter(std::int64_t time) const
{
    if (m_rows == 0 || time <= kNoTime)
        return 0;
    // The checkpoints' highest times never decrease: start at the last one still before `time`
    // (the first is before every time).
    std::int64_t low = 0;
    std::int64_t high = pointCount();
    while (high - low > 1) {
        const std::int64_t middle = low + (high - low) / 2;
        if (point(middle).highest < time)
            low = middle;
        else
            high = middle;
    }
    Walk walk = walkFrom(low);
    std::int64_t highest = point(low).highest;
    std::vector<StampContext> contexts;
    for (const Log& log : m_logs)
        contexts.push_back(log.ctx);
    for (; walk.row < EndLine(m_rows); ++walk.row) {
        const std::size_t file = fileAt(walk.row);
        Cursor& cursor = walk.cursors[file];
        cursor.carried = carriedTime(file, cursor.line, cursor.carried, contexts[file]);
        ++cursor.line;
        highest = std::max(highest, cursor.carried);
        if (highest >= time)
            return walk.row;
    }
    return EndLine(m_rows);
}

std::optional<std::int64_t> MergedLines::timeOfRow(LineNumber row) const
{
    if (row < 0 || row >= EndLine(m_rows))
        return std::nullopt;
    Walk walk = walkFrom(row.value() / kStep);
    std::vector<StampContext> contexts;
    for (const Log& log : m_logs)
        contexts.push_back(log.ctx);
    for (;; ++walk.row) {
        const std::size_t file = fileAt(walk.row);
        Cursor& cursor = walk.cursors[file];
        cursor.carried = carriedTime(file, cursor.line, cursor.carried, contexts[file]);
        if (walk.row == row)
            return cursor.carried == kNoTime ? std::nullopt : std::optional<std::int64_t>(cursor.carried);
        ++cursor.line;
    }
}

std::vector<MergedLines::Place> MergedLines::placesAt(LineNumber row) const
{
    row = std::clamp<LineNumber>(row, 0, EndLine(m_rows));
    std::vector<Cursor> cursors = m_end;
    if (row < EndLine(m_rows)) {
        Walk walk = walkFrom(row.value() / kStep);
        std::vector<StampContext> contexts;
        for (const Log& log : m_logs)
            contexts.push_back(log.ctx);
        for (; walk.row < row; ++walk.row) {
            const std::size_t file = fileAt(walk.row);
            Cursor& cursor = walk.cursors[file];
            cursor.carried = carriedTime(file, cursor.line, cursor.carried, contexts[file]);
            ++cursor.line;
        }
        cursors = std::move(walk.cursors);
    }
    std::vector<Place> places;
    for (const Cursor& cursor : cursors)
        places.push_back({cursor.line, cursor.carried == kNoTime ? std::nullopt : std::optional<std::int64_t>(cursor.carried)});
    return places;
}

std::optional<std::int64_t> MergedLines::lastTime() const
{
    return m_highest == kNoTime ? std::nullopt : std::optional<std::int64_t>(m_highest);
}

ByteOffset MergedLines::lineIndex(LineNumber line) const
{
    if (line <= 0)
        return 0;
    if (line >= EndLine(m_rows))
        return m_size;
    return walkTo(line).at;
}

ByteOffset MergedLines::lineContentEnd(LineNumber line) const
{
    if (line >= EndLine(m_rows))
        return m_size;
    line = std::max<LineNumber>(line, 0);
    const Walk walk = walkTo(line);
    const LineSource& lines = *m_logs[fileAt(line)].lines;
    const LineNumber inFile = walk.cursors[fileAt(line)].line;
    return walk.at + (lines.lineContentEnd(inFile) - lines.lineIndex(inFile));
}

LineNumber MergedLines::lineFromOffset(ByteOffset offset) const
{
    if (m_rows == 0)
        return 0;
    if (offset >= m_size)
        return EndLine(m_rows); // the merged text ends with a break
    return walkToOffset(std::max<ByteOffset>(offset, 0)).row;
}

TextSlice MergedLines::gather(ByteOffset from, ByteOffset to, bool pass) const
{
    from = std::clamp<ByteOffset>(from, 0, m_size);
    to = std::clamp<ByteOffset>(to, from, m_size);
    if (from == to)
        return TextSlice();
    Walk walk = walkToOffset(from);
    std::string joined;
    while (walk.at < to) {
        // The rows from here on that come from one log: one stretch of its bytes.
        const std::size_t file = fileAt(walk.row);
        const LineSource& lines = *m_logs[file].lines;
        const LineNumber first = walk.cursors[file].line;
        LineCount run = 1;
        while (walk.row + run < EndLine(m_rows) && fileAt(walk.row + run) == file) {
            if (run.value() % 256 == 0 && walk.at + (mergedIndex(file, first + run) - mergedIndex(file, first)) >= to)
                break;
            ++run;
        }
        const ByteOffset fileStart = lines.lineIndex(first);
        const ByteOffset fileBytes = lines.lineIndex(first + run) - fileStart;
        const ByteOffset runEnd = walk.at + (mergedIndex(file, first + run) - mergedIndex(file, first));
        const ByteOffset start = std::max(from, walk.at);
        const ByteOffset end = std::min(to, runEnd);
        const ByteOffset fromFile = std::min(end, walk.at + fileBytes);
        if (start < fromFile) {
            const ByteOffset a = fileStart + (start - walk.at);
            const ByteOffset b = fileStart + (fromFile - walk.at);
            TextSlice bytes = pass ? lines.read(a, b) : lines.slice(a, b);
            if (start == from && fromFile == to)
                return bytes; // all within one stretch of one log
            joined += bytes.view();
        }
        if (end > fromFile)
            joined += '\n'; // the break added after a log's last line
        walk.at = runEnd;
        walk.row += run;
        walk.cursors[file].line += run;
    }
    return TextSlice::owning(std::move(joined));
}

TextSlice MergedLines::slice(ByteOffset from, ByteOffset to) const
{
    return gather(from, to, false);
}

TextSlice MergedLines::read(ByteOffset from, ByteOffset to) const
{
    return gather(from, to, true);
}

std::int64_t MergedLines::longestLine() const
{
    std::int64_t longest = 0;
    for (std::size_t file = 0; file < m_logs.size(); ++file)
        if (m_shown[file])
            longest = std::max(longest, m_logs[file].lines->longestLine());
    return longest;
}

std::int64_t MergedLines::widestLineColumns() const
{
    std::int64_t widest = 0;
    for (std::size_t file = 0; file < m_logs.size(); ++file)
        if (m_shown[file])
            widest = std::max(widest, m_logs[file].lines->widestLineColumns());
    return widest;
}

LineNumber MergedLines::lineShowing(LineNumber logLine) const
{
    return std::clamp<LineNumber>(logLine, 0, EndLine(m_rows));
}

bool MergedLines::grewFrom(const LineSource& earlierSource) const
{
    const auto* earlier = dynamic_cast<const MergedLines*>(&earlierSource);
    return earlier && earlier->m_lineage == m_lineage && m_rows >= earlier->m_rows && m_size >= earlier->m_size;
}

TimedParts::Part MergedLines::part(std::size_t index) const
{
    const Log& log = m_logs[index];
    return {log.lines, log.form, log.ctx, m_shown[index]};
}

std::size_t MergedLines::memory() const
{
    std::size_t bytes = sizeof(*this) + m_chunks.capacity() * sizeof(m_chunks[0]) + m_end.capacity() * sizeof(Cursor);
    for (const auto& chunk : m_chunks)
        bytes += sizeof(Chunk) + chunk->files.capacity() + chunk->points.capacity() * sizeof(Point) +
                 chunk->cursors.capacity() * sizeof(Cursor);
    return bytes;
}

LineLevel MergedLines::lineLevel(LineNumber line) const
{
    if (line < 0 || line >= EndLine(m_rows))
        return LineLevel::None;
    return m_logs[fileOf(line)].lines->lineLevel(lineInFile(line));
}

} // namespace tlg
