#include "document/compressedtext.h"

#include "core/errors.h"
#include "core/piecerelay.h"
#include "document/archivedecoder.h"
#include "document/compressedindexcache.h"
#include "document/decompression.h"
#include "document/xzblockdecoder.h"

#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlg {

namespace {

constexpr std::size_t kEdge = 64u << 10;     // the stretch at each end of the file that is checked
constexpr std::size_t kIdleDecoders = 4;     // decoders kept where a read ended

} // namespace

CompressedText::CompressedText(FileHandle file, std::string path, Compression how, std::size_t restartEvery,
                               std::size_t keptBehind, std::string member, Transcoding shown)
    : m_file(std::move(file)), m_path(std::move(path)), m_how(how), m_member(std::move(member)),
      m_every(std::max<std::size_t>(restartEvery, 1)), m_behind(keptBehind),
      m_shown(shown == Transcoding::Utf16Le || shown == Transcoding::Utf16Be ? shown : Transcoding::None)
{
}

CompressedText::~CompressedText() = default;

std::unique_ptr<CompressedText::Decoder> CompressedText::decoderAt(const RestartPoint& point) const
{
    if (m_xzBlocks)
        return std::make_unique<XzBlockDecoder>(m_file.fd(), point, false, m_xzCheck, m_xzEnd);
    if (m_how == Compression::Archive)
        return std::make_unique<ArchiveDecoder>(m_file.fd(), m_member, m_path, false);
    return StreamDecoder(m_file.fd(), m_how, point, false);
}

void CompressedText::openSpool()
{
    const std::string folder = CacheFolder();
    std::string name = folder + "spool-XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        throw Failure("Cannot write the spool file for " + m_path + " in " + folder + ": " + std::strerror(errno));
    // The spool goes with the last handle on it, however the program ends.
    ::unlink(name.c_str());
    auto spool = std::make_shared<const FileHandle>(fd);
    const std::lock_guard lock(m_mutex);
    m_spool = std::move(spool);
    m_spooled = 0;
}

void CompressedText::writeSpool(const char* bytes, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(m_spool->fd(), bytes, length, static_cast<off_t>(m_spooled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw Failure("Cannot write the spool file for " + m_path + " in " + CacheFolder() + ": " +
                          std::strerror(n < 0 ? errno : ENOSPC));
        bytes += n;
        length -= static_cast<std::size_t>(n);
        m_spooled += n;
    }
}

std::uint64_t CompressedText::edgeCheck(int fd, std::int64_t offset, std::size_t length) const
{
    std::string bytes(length, '\0');
    if (ReadAt(fd, bytes.data(), length, offset) != static_cast<std::int64_t>(length))
        throw Failure("Cannot read file " + m_path);
    return XXH3_64bits(bytes.data(), length);
}

void CompressedText::scan(const std::function<void(const char*, std::size_t)>& sink,
                          std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    struct stat st {};
    if (::fstat(m_file.fd(), &st) != 0)
        throw Failure("Cannot read file " + m_path);
    m_fileSize = st.st_size;
    m_points.clear();
    if (m_how == Compression::Xz)
        m_points = XzBlockStarts(m_file.fd(), m_fileSize, m_xzCheck, m_xzEnd);
    m_xzBlocks = !m_points.empty();
    std::unique_ptr<Decoder> decoder;
    if (m_xzBlocks) {
        decoder = std::make_unique<XzBlockDecoder>(m_file.fd(), m_points.front(), true, m_xzCheck, m_xzEnd);
    } else if (m_how == Compression::Archive) {
        m_points.push_back(RestartPoint{});
        decoder = std::make_unique<ArchiveDecoder>(m_file.fd(), m_member, m_path, true);
    } else {
        m_points.push_back(RestartPoint{});
        decoder = StreamDecoder(m_file.fd(), m_how, m_points.front(), true);
    }
    // A gzip member restarts anywhere; the others are spooled until a second unit shows. A
    // transcoded text is spooled whole: its offsets are not those of the decompressed bytes.
    const bool spooling = m_shown != Transcoding::None || (m_how != Compression::Gzip && !m_xzBlocks);
    if (spooling)
        openSpool();
    run(std::move(decoder), spooling, sink, bytesRead, stop);
    if (m_damaged && textSize() == 0)
        throw Failure("Cannot read file " + m_path + ": its " + CompressionName(m_how) + " data is damaged");
}

void CompressedText::resume(const CompressedText& earlier, const std::function<void(const char*, std::size_t)>& sink,
                            std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    struct stat st {};
    if (::fstat(m_file.fd(), &st) != 0)
        throw Failure("Cannot read file " + m_path);
    m_fileSize = st.st_size;
    m_points = earlier.m_points;
    m_xzBlocks = false;
    run(StreamDecoder(m_file.fd(), m_how, m_points.back(), true), false, sink, bytesRead, stop);
}

void CompressedText::run(std::unique_ptr<Decoder> decoder, bool spooling,
                         const std::function<void(const char*, std::size_t)>& sink,
                         std::atomic<std::int64_t>* bytesRead, const std::atomic<bool>* stop)
{
    // Decoding runs on a thread of its own, a piece or two ahead of what `sink` does with the
    // text, so that a pass costs little more than the decompression alone. (Pieces are smaller
    // where restart points are close, as tests make them.)
    const std::size_t pieceBytes = std::clamp<std::size_t>(m_every, 64u << 10, 1u << 20);
    // 16-bit text: decompressed a piece at a time into `raw`, decoded into the piece given on.
    const bool transcoding = m_shown != Transcoding::None;
    std::unique_ptr<char[]> raw(transcoding ? new char[pieceBytes] : nullptr);
    const std::size_t room = transcoding ? TextDecoder::room(pieceBytes) : pieceBytes;
    std::optional<TextDecoder> shown;
    std::int64_t shownBytes = 0;
    std::int64_t counted = 0;
    auto decodePiece = [&](PieceRelay::Piece& piece) {
        char* const into = transcoding ? raw.get() : piece.bytes.get();
        std::size_t got = 0;
        while (got < pieceBytes && decoder->state == Decoder::State::Going && !(stop && *stop)) {
            got += decoder->decode(into + got, pieceBytes - got);
            if (decoder->state == Decoder::State::Going && decoder->atBoundary() && !m_xzBlocks && !transcoding) {
                if (spooling) {
                    // A second unit: the text restarts there and needs no spool.
                    spooling = false;
                    const std::lock_guard lock(m_mutex);
                    m_spool.reset();
                }
                if (decoder->text - m_points.back().text >= static_cast<std::int64_t>(m_every)) {
                    RestartPoint here = decoder->point();
                    const std::lock_guard lock(m_mutex);
                    m_points.push_back(std::move(here));
                }
            }
        }
        const bool ended = decoder->state != Decoder::State::Going;
        if (transcoding) {
            std::size_t from = 0;
            if (!shown) {
                // The mark of the byte order, when the text has one, is left out.
                const std::string_view mark = m_shown == Transcoding::Utf16Be ? "\xFE\xFF" : "\xFF\xFE";
                from = got >= 2 && std::string_view(raw.get(), 2) == mark ? 2 : 0;
                shown.emplace(m_shown, static_cast<std::int64_t>(from), 0);
            }
            piece.length = shown->decode(raw.get() + from, got - from, piece.bytes.get());
            if (ended)
                piece.length += shown->finish(piece.bytes.get() + piece.length);
            shownBytes += static_cast<std::int64_t>(piece.length);
        } else {
            piece.length = got;
        }
        if (spooling)
            writeSpool(piece.bytes.get(), piece.length);
        // Reads may reach what the sink is given now.
        m_textSize.store(transcoding ? shownBytes : decoder->text, std::memory_order_release);
        if (bytesRead) {
            const std::int64_t now = decoder->consumed();
            bytesRead->fetch_add(now - counted, std::memory_order_relaxed);
            counted = now;
        }
        return ended || (stop && *stop);
    };
    {
        // However the indexing ends (stopped, or the sink fails), the decoding ends with it.
        PieceRelay relay(room, 3, decodePiece);
        while (PieceRelay::Piece* piece = relay.take(stop)) {
            if (piece->length > 0)
                sink(piece->bytes.get(), piece->length);
            relay.giveBack(piece);
        }
    }
    ThrowIfStopped(stop);
    if (decoder->readFailed())
        throw Failure("Cannot read file " + m_path);
    m_damaged = decoder->state == Decoder::State::Damaged;
    m_textSize.store(transcoding ? shownBytes : decoder->text, std::memory_order_release);
    const auto edge = static_cast<std::size_t>(std::min<std::int64_t>(m_fileSize, kEdge));
    m_headCheck = edgeCheck(m_file.fd(), 0, edge);
    m_tailCheck = edgeCheck(m_file.fd(), m_fileSize - static_cast<std::int64_t>(edge), edge);
}

std::int64_t CompressedText::read(std::int64_t offset, std::size_t length, char* out) const
{
    const std::int64_t size = textSize();
    if (offset >= size)
        return 0;
    length = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), size - offset));
    std::shared_ptr<const FileHandle> spool;
    RestartPoint point;
    std::unique_ptr<Decoder> decoder;
    {
        const std::lock_guard lock(m_mutex);
        spool = m_spool;
        if (!spool) {
            // The nearest restart point before the stretch (copied: the scan may add more).
            const auto next = std::upper_bound(m_points.begin(), m_points.end(), offset,
                                               [](std::int64_t at, const RestartPoint& p) { return at < p.text; });
            point = *(next - 1);
        }
    }
    if (spool)
        return ReadAt(spool->fd(), out, length, offset);
    // A decoder left where a read ended serves when the stretch starts in the text it keeps
    // behind it, or after it and after the restart point: the one with the least to decode.
    {
        const std::lock_guard lock(m_mutex);
        auto best = m_idle.end();
        std::int64_t bestSkip = 0;
        for (auto it = m_idle.begin(); it != m_idle.end(); ++it) {
            const Decoder& idle = **it;
            std::int64_t skip = 0;
            if (idle.keptFrom() <= offset && offset <= idle.text)
                skip = 0;
            else if (idle.text < offset && idle.text >= point.text && idle.state == Decoder::State::Going)
                skip = offset - idle.text;
            else
                continue;
            if (best == m_idle.end() || skip < bestSkip) {
                best = it;
                bestSkip = skip;
            }
        }
        if (best != m_idle.end()) {
            decoder = std::move(*best);
            m_idle.erase(best);
        }
    }
    if (!decoder) {
        decoder = decoderAt(point);
        decoder->keepBehind(m_behind);
        m_readRestarts.fetch_add(1, std::memory_order_relaxed);
    }
    std::size_t got = 0;
    if (decoder->text > offset) {
        got = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(length), decoder->text - offset));
        decoder->copyKept(offset, out, got);
    }
    constexpr std::size_t kSkip = 256u << 10;
    std::unique_ptr<char[]> scratch;
    const std::int64_t end = offset + static_cast<std::int64_t>(length);
    while (decoder->text < offset && decoder->state == Decoder::State::Going) {
        if (!scratch)
            scratch.reset(new char[kSkip]);
        const std::size_t skipped =
            decoder->decode(scratch.get(), static_cast<std::size_t>(std::min<std::int64_t>(kSkip, offset - decoder->text)));
        // Only what may still be behind the decoder when this read ends is kept.
        if (decoder->text + static_cast<std::int64_t>(m_behind) > end)
            decoder->keep(scratch.get(), skipped);
        else
            decoder->forget();
    }
    while (decoder->text == offset + static_cast<std::int64_t>(got) && got < length &&
           decoder->state == Decoder::State::Going) {
        const std::size_t given = decoder->decode(out + got, length - got);
        decoder->keep(out + got, given);
        got += given;
    }
    if (decoder->readFailed())
        return -1;
    // A decoder at the end of the text still serves reads of what it keeps behind it.
    if (decoder->state != Decoder::State::Damaged) {
        const std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(decoder));
        if (m_idle.size() > kIdleDecoders)
            m_idle.erase(m_idle.begin());
    }
    return static_cast<std::int64_t>(got);
}

bool CompressedText::sameFile(int fd) const
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        throw Failure("Cannot read file " + m_path);
    if (st.st_size < m_fileSize)
        return false;
    const auto edge = static_cast<std::size_t>(std::min<std::int64_t>(m_fileSize, kEdge));
    return edgeCheck(fd, 0, edge) == m_headCheck &&
           edgeCheck(fd, m_fileSize - static_cast<std::int64_t>(edge), edge) == m_tailCheck;
}

bool CompressedText::spooled() const
{
    const std::lock_guard lock(m_mutex);
    return m_spool != nullptr;
}

std::size_t CompressedText::restartPoints() const
{
    const std::lock_guard lock(m_mutex);
    return m_points.size();
}

std::size_t CompressedText::memory() const
{
    const std::lock_guard lock(m_mutex);
    std::size_t sum = m_points.size() * sizeof(RestartPoint);
    for (const RestartPoint& point : m_points)
        sum += point.window.capacity();
    for (const auto& decoder : m_idle)
        sum += decoder->memory() + decoder->keptMemory();
    return sum;
}

void CompressedText::writePoints(std::string& out) const
{
    PutVarint(out, static_cast<std::uint64_t>(m_how));
    for (std::int64_t value : {m_fileSize, textSize(), m_xzEnd})
        PutFixed(out, static_cast<std::uint64_t>(value));
    PutFixed(out, m_headCheck);
    PutFixed(out, m_tailCheck);
    PutVarint(out, m_xzBlocks ? 1 : 0);
    PutVarint(out, static_cast<std::uint64_t>(m_xzCheck));
    PutVarint(out, m_points.size());
    for (const RestartPoint& point : m_points) {
        PutFixed(out, static_cast<std::uint64_t>(point.text));
        PutFixed(out, static_cast<std::uint64_t>(point.file));
        PutVarint(out, static_cast<std::uint64_t>(point.bits));
        PutVarint(out, point.unitStart ? 1 : 0);
        PutVarint(out, point.window.size());
        out.append(reinterpret_cast<const char*>(point.window.data()), point.window.size());
    }
}

bool CompressedText::readPoints(std::string_view& in)
{
    std::uint64_t how = 0, fileSize = 0, textSize = 0, xzEnd = 0, head = 0, tail = 0, xzBlocks = 0, xzCheck = 0, count = 0;
    if (!TakeVarint(in, how) || how != static_cast<std::uint64_t>(m_how) || !TakeFixed(in, fileSize) ||
        !TakeFixed(in, textSize) || !TakeFixed(in, xzEnd) || !TakeFixed(in, head) || !TakeFixed(in, tail) ||
        !TakeVarint(in, xzBlocks) || !TakeVarint(in, xzCheck) || !TakeVarint(in, count) || count == 0 ||
        count > in.size())
        return false;
    std::vector<RestartPoint> points(static_cast<std::size_t>(count));
    for (RestartPoint& point : points) {
        std::uint64_t text = 0, file = 0, bits = 0, unitStart = 0, window = 0;
        if (!TakeFixed(in, text) || !TakeFixed(in, file) || !TakeVarint(in, bits) || bits > 7 ||
            !TakeVarint(in, unitStart) || !TakeVarint(in, window) || window > kRestartWindow || window > in.size())
            return false;
        point = {static_cast<std::int64_t>(text), static_cast<std::int64_t>(file), static_cast<int>(bits),
                 unitStart != 0, std::vector<unsigned char>(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(window))};
        in.remove_prefix(static_cast<std::size_t>(window));
    }
    if (points.front().text != 0)
        return false;
    m_points = std::move(points);
    m_fileSize = static_cast<std::int64_t>(fileSize);
    m_textSize.store(static_cast<std::int64_t>(textSize), std::memory_order_release);
    m_xzEnd = static_cast<std::int64_t>(xzEnd);
    m_headCheck = head;
    m_tailCheck = tail;
    m_xzBlocks = xzBlocks != 0;
    m_xzCheck = static_cast<int>(xzCheck);
    m_damaged = false;
    return true;
}

} // namespace tlg
