#include "document/linesource.h"

#include <algorithm>

namespace tlg {

TextSlice TextSlice::owning(std::string bytes)
{
    auto held = std::make_shared<const std::string>(std::move(bytes));
    const std::string_view view(*held);
    return TextSlice(view, std::move(held));
}

void LineSource::lineStarts(LineNumber first, LineNumber end, ByteOffset* out) const
{
    for (LineNumber line = first; line < end; ++line)
        *out++ = lineIndex(line);
}

std::string LineSource::copyText() const
{
    return std::string(read(0, size()).view());
}

std::string_view LineSource::passBytes(ByteOffset start, std::size_t length, std::string& buffer) const
{
    const TextSlice bytes = read(start, start + static_cast<ByteOffset>(length));
    buffer.assign(bytes.data(), bytes.size());
    return buffer;
}

bool LineSource::forEachChunk(ByteOffset from, ByteOffset to, std::size_t chunk, std::size_t overlap,
                               const std::function<bool(ByteOffset, std::string_view)>& visit) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    chunk = std::max<std::size_t>(chunk, 1);
    std::string buffer;
    for (ByteOffset at = from; at < to;) {
        const ByteOffset start = std::max(from, at - static_cast<ByteOffset>(overlap));
        const ByteOffset end = std::min(to, at + static_cast<ByteOffset>(chunk));
        const auto length = static_cast<std::size_t>(end - start);
        if (!visit(start, passBytes(start, length, buffer)))
            return false;
        at = end;
    }
    return true;
}

bool LineSource::forEachChunkBackwards(ByteOffset from, ByteOffset to, std::size_t chunk, std::size_t overlap,
                                        const std::function<bool(ByteOffset, std::string_view)>& visit) const
{
    from = std::clamp<ByteOffset>(from, 0, size());
    to = std::clamp<ByteOffset>(to, from, size());
    chunk = std::max<std::size_t>(chunk, 1);
    std::string buffer;
    for (ByteOffset at = to; at > from;) {
        const ByteOffset start = std::max(from, at - static_cast<ByteOffset>(chunk));
        const ByteOffset end = std::min(to, at + static_cast<ByteOffset>(overlap));
        const auto length = static_cast<std::size_t>(end - start);
        if (!visit(start, passBytes(start, length, buffer)))
            return false;
        at = start;
    }
    return true;
}

bool LineSource::forEachLineBlock(LineNumber first, LineNumber end, std::size_t chunk,
                                   const std::function<bool(const LineBlock&)>& visit) const
{
    const LineCount rows = rowCount();
    first = std::clamp<LineNumber>(first, 0, EndLine(rows));
    end = std::clamp<LineNumber>(end, first, EndLine(rows));
    chunk = std::max<std::size_t>(chunk, 1);
    std::string buffer;
    for (LineNumber blockFirst = first; blockFirst < end;) {
        // Whole lines, at most `chunk` bytes of them: those before the line that holds the
        // byte `chunk` bytes on.
        const ByteOffset base = lineIndex(blockFirst);
        const LineNumber blockEnd = std::min(lineFromOffset(base + static_cast<ByteOffset>(chunk)), end);
        if (blockEnd > blockFirst) {
            const auto length = static_cast<std::size_t>(lineIndex(blockEnd) - base);
            if (!visit({blockFirst, blockEnd, base, passBytes(base, length, buffer), true, true}))
                return false;
            blockFirst = blockEnd;
            continue;
        }
        // A line longer than the chunk, a piece at a time (the empty row after a final break
        // as one empty block).
        const ByteOffset lineEnd = lineIndex(blockFirst + 1);
        if (lineEnd == base && !visit({blockFirst, blockFirst + 1, base, std::string_view(), true, true}))
            return false;
        for (ByteOffset at = base; at < lineEnd;) {
            const ByteOffset pieceEnd = std::min(lineEnd, at + static_cast<ByteOffset>(chunk));
            const std::string_view bytes = passBytes(at, static_cast<std::size_t>(pieceEnd - at), buffer);
            if (!visit({blockFirst, blockFirst + 1, at, bytes, at == base, pieceEnd == lineEnd}))
                return false;
            at = pieceEnd;
        }
        ++blockFirst;
    }
    return true;
}

bool LineSource::forEachLineBlock(LineNumber first, LineNumber end, std::size_t chunk,
                                   const std::function<bool(LineNumber, LineNumber, std::string_view)>& visit) const
{
    const LineCount rows = rowCount();
    first = std::clamp<LineNumber>(first, 0, EndLine(rows));
    end = std::clamp<LineNumber>(end, first, EndLine(rows));
    std::string buffer;
    for (LineNumber blockFirst = first; blockFirst < end;) {
        // Whole lines, about `chunk` bytes of them (a longer line makes a block on its own).
        const ByteOffset base = lineIndex(blockFirst);
        LineNumber blockEnd = std::min(lineFromOffset(base + static_cast<ByteOffset>(chunk)), end);
        if (blockEnd <= blockFirst)
            blockEnd = blockFirst + 1;
        const auto length = static_cast<std::size_t>(lineIndex(blockEnd) - base);
        if (!visit(blockFirst, blockEnd, passBytes(base, length, buffer)))
            return false;
        blockFirst = blockEnd;
    }
    return true;
}

} // namespace tlg
