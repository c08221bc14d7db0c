#include "document/keptlines.h"

#include <algorithm>

namespace tlg {

KeptLinesPtr KeptLines::of(LinesPtr base, const std::vector<LineNumber>& lines)
{
    std::shared_ptr<KeptLines> kept(new KeptLines());
    kept->m_base = std::move(base);
    kept->m_lineage = std::make_shared<const int>(0);
    kept->m_baseEnd = EndLine(kept->m_base->lineCount());
    for (const LineNumber line : lines)
        kept->keep({line, line + 1});
    kept->finish();
    return kept;
}

KeptLinesPtr KeptLines::ofRanges(LinesPtr base, const std::vector<Range>& ranges)
{
    Builder builder(std::move(base));
    for (const Range& range : ranges)
        builder.keep(range);
    return builder.finish();
}

KeptLines::Builder::Builder(LinesPtr base) : m_kept(new KeptLines())
{
    m_kept->m_base = std::move(base);
    m_kept->m_lineage = std::make_shared<const int>(0);
    m_kept->m_baseEnd = EndLine(m_kept->m_base->lineCount());
    m_kept->m_tail.reserve(kChunkRuns);
    m_base = m_kept->m_base.get();
}

void KeptLines::Builder::keep(Range range)
{
    // As KeptLines::keep, with the last kept line at hand: called once a run, a million times
    // for a filter stack's lines.
    KeptLines& kept = *m_kept;
    range.first = std::max(range.first, m_next);
    range.end = std::min(range.end, kept.m_baseEnd);
    if (range.first >= range.end)
        return;
    const ByteOffset start = m_base->lineIndex(range.first);
    if (range.first != m_next || kept.m_kept == 0) {
        Chunk& tail = kept.m_tail;
        if (tail.size() == kChunkRuns) {
            kept.m_chunks.push_back(std::make_shared<const Chunk>(std::move(tail)));
            tail = Chunk();
            tail.reserve(kChunkRuns);
        }
        tail.push_back({range.first, EndLine(kept.m_kept), kept.m_size, start});
    }
    kept.m_kept += range.end - range.first;
    kept.m_size += m_base->lineIndex(range.end) - start;
    m_next = range.end;
}

KeptLinesPtr KeptLines::Builder::finish()
{
    m_kept->finish();
    return std::move(m_kept);
}

KeptLinesPtr KeptLines::grownTo(LinesPtr grown, LineNumber fromLine, const std::vector<LineNumber>& lines) const
{
    std::shared_ptr<KeptLines> kept(new KeptLines(*this));
    // The lines before fromLine start where they did: the base only grew after them.
    if (kept->dropFrom(fromLine))
        kept->m_lineage = std::make_shared<const int>(0);
    kept->m_base = std::move(grown);
    kept->m_baseEnd = EndLine(kept->m_base->lineCount());
    for (const LineNumber line : lines)
        kept->keep({line, line + 1});
    kept->finish();
    return kept;
}

LineNumber KeptLines::lastKept() const
{
    if (m_kept == 0)
        return -1;
    const Run& last = m_tail.empty() ? m_chunks.back()->back() : m_tail.back();
    return last.first + (EndLine(m_kept) - 1 - last.row);
}

void KeptLines::keep(Range range)
{
    const LineNumber next = lastKept() + 1;
    range.first = std::max(range.first, next);
    range.end = std::min(range.end, m_baseEnd);
    if (range.first >= range.end)
        return;
    const ByteOffset start = m_base->lineIndex(range.first);
    if (range.first != next || m_kept == 0) {
        if (m_tail.size() == kChunkRuns) {
            m_chunks.push_back(std::make_shared<const Chunk>(std::move(m_tail)));
            m_tail.clear();
        }
        if (m_tail.capacity() < kChunkRuns)
            m_tail.reserve(kChunkRuns);
        m_tail.push_back({range.first, EndLine(m_kept), m_size, start});
    }
    m_kept += range.end - range.first;
    m_size += m_base->lineIndex(range.end) - start;
}

bool KeptLines::dropFrom(LineNumber fromLine)
{
    LineCount kept = m_kept;
    ByteOffset size = m_size;
    for (;;) {
        if (m_tail.empty()) {
            if (m_chunks.empty())
                break;
            m_tail = *m_chunks.back();
            m_chunks.pop_back();
        }
        const Run& last = m_tail.back();
        if (last.first >= fromLine) {
            kept = LinesBefore(last.row);
            size = last.at;
            m_tail.pop_back();
            continue;
        }
        if (last.first + (EndLine(kept) - last.row) > fromLine) {
            kept = LinesBefore(last.row + (fromLine - last.first));
            size = last.at + (m_base->lineIndex(fromLine) - last.baseAt);
        }
        break;
    }
    const bool dropped = kept != m_kept;
    m_kept = kept;
    m_size = size;
    return dropped;
}

void KeptLines::finish()
{
    if (!m_tail.empty())
        m_chunks.push_back(std::make_shared<const Chunk>(std::move(m_tail)));
    m_tail.clear();
    const LineNumber last = lastKept();
    // The last kept line has its break unless it is the base's last line, which may not.
    m_endsWithBreak = last >= 0 && (last < EndLine(m_base->lineCount()) - 1 || m_base->rowCount() > m_base->lineCount());
}

std::size_t KeptLines::runCount() const
{
    return m_chunks.empty() ? 0 : (m_chunks.size() - 1) * kChunkRuns + m_chunks.back()->size();
}

const KeptLines::Run& KeptLines::run(std::size_t index) const
{
    // Every chunk but the last is full.
    return (*m_chunks[index / kChunkRuns])[index % kChunkRuns];
}

template <typename Key, typename Value>
std::size_t KeptLines::lastRunAtOrBefore(Key Run::*key, Value value) const
{
    std::size_t low = 0;
    std::size_t high = runCount(); // the answer lies in [low, high)
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (run(middle).*key <= value)
            low = middle;
        else
            high = middle;
    }
    return low;
}

std::size_t KeptLines::runOfRow(LineNumber row) const
{
    return lastRunAtOrBefore(&Run::row, row);
}

std::size_t KeptLines::runOfOffset(ByteOffset offset) const
{
    return lastRunAtOrBefore(&Run::at, offset);
}

ByteOffset KeptLines::lineIndex(LineNumber line) const
{
    if (line <= 0 || m_kept == 0)
        return 0;
    if (line >= EndLine(m_kept))
        return m_size;
    const Run& at = run(runOfRow(line));
    return keptOffset(at, m_base->lineIndex(at.first + (line - at.row)));
}

ByteOffset KeptLines::lineContentEnd(LineNumber line) const
{
    if (line >= EndLine(m_kept) || m_kept == 0)
        return m_size;
    line = std::max<LineNumber>(line, 0);
    const Run& at = run(runOfRow(line));
    return keptOffset(at, m_base->lineContentEnd(at.first + (line - at.row)));
}

LineNumber KeptLines::lineFromOffset(ByteOffset offset) const
{
    if (m_kept == 0)
        return 0;
    if (offset >= m_size)
        return m_endsWithBreak ? EndLine(m_kept) : EndLine(m_kept) - 1;
    offset = std::max<ByteOffset>(offset, 0);
    const Run& at = run(runOfOffset(offset));
    return at.row + (m_base->lineFromOffset(at.baseAt + (offset - at.at)) - at.first);
}

LineNumber KeptLines::lineInLog(LineNumber line) const
{
    return m_base->lineInLog(lineInBase(line));
}

LineLevel KeptLines::lineLevel(LineNumber line) const
{
    if (line < 0 || line >= EndLine(m_kept))
        return LineLevel::None;
    return m_base->lineLevel(lineInBase(line));
}

LineNumber KeptLines::lineInBase(LineNumber line) const
{
    if (line >= EndLine(m_kept) || m_kept == 0)
        return lastKept() + 1;
    line = std::max<LineNumber>(line, 0);
    const Run& at = run(runOfRow(line));
    return at.first + (line - at.row);
}

TextSlice KeptLines::gather(ByteOffset from, ByteOffset to, bool pass) const
{
    from = std::clamp<ByteOffset>(from, 0, m_size);
    to = std::clamp<ByteOffset>(to, from, m_size);
    if (from == to)
        return TextSlice();
    const auto baseBytes = [this, pass](ByteOffset start, ByteOffset end) {
        return pass ? m_base->read(start, end) : m_base->slice(start, end);
    };
    std::size_t index = runOfOffset(from);
    const std::size_t runs = runCount();
    std::string joined;
    for (ByteOffset at = from; at < to; ++index) {
        const Run& piece = run(index);
        const ByteOffset runEnd = index + 1 < runs ? run(index + 1).at : m_size;
        const ByteOffset end = std::min(to, runEnd);
        if (at == from && end == to)
            return baseBytes(baseOffset(piece, at), baseOffset(piece, end)); // within one run
        joined += baseBytes(baseOffset(piece, at), baseOffset(piece, end)).view();
        at = end;
    }
    return TextSlice::owning(std::move(joined));
}

TextSlice KeptLines::slice(ByteOffset from, ByteOffset to) const
{
    return gather(from, to, false);
}

TextSlice KeptLines::read(ByteOffset from, ByteOffset to) const
{
    return gather(from, to, true);
}

LineNumber KeptLines::lineOfBaseLine(LineNumber baseLine) const
{
    if (m_kept == 0 || baseLine < run(0).first)
        return -1;
    const std::size_t low = lastRunAtOrBefore(&Run::first, baseLine);
    const Run& at = run(low);
    const LineCount length = (low + 1 < runCount() ? run(low + 1).row : EndLine(m_kept)) - at.row;
    return baseLine - at.first < length ? at.row + (baseLine - at.first) : LineNumber(-1);
}

LineNumber KeptLines::lineShowing(LineNumber logLine) const
{
    const LineNumber baseLine = m_base->lineShowing(logLine);
    if (m_kept == 0 || baseLine <= run(0).first)
        return 0;
    const std::size_t low = lastRunAtOrBefore(&Run::first, baseLine);
    const Run& at = run(low);
    const LineNumber end = low + 1 < runCount() ? run(low + 1).row : EndLine(m_kept);
    // Within the run, or past its end: then the next run's first line, or the end.
    return std::min(at.row + (baseLine - at.first), end);
}

bool KeptLines::grewFrom(const LineSource& earlierSource) const
{
    const auto* earlier = dynamic_cast<const KeptLines*>(&earlierSource);
    return earlier && earlier->m_lineage == m_lineage && m_kept >= earlier->m_kept && m_size >= earlier->m_size &&
           (m_base == earlier->m_base || m_base->grewFrom(*earlier->m_base));
}

std::size_t KeptLines::runMemory() const
{
    return m_chunks.size() * sizeof(Chunk) + runCount() * sizeof(Run);
}

} // namespace tlg
