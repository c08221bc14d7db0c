#include "document/compressedtext.h"

#include "core/errors.h"
#include "core/piecerelay.h"
#include "document/archivereader.h"
#include "document/compressedindexcache.h"

#include <bzlib.h>
#include <lzma.h>
#include <xxhash.h>
#include <zlib.h>
#include <zstd.h>

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

constexpr std::size_t kWindow = 32768;       // what deflate may look back
constexpr std::size_t kInput = 256u << 10;   // compressed bytes read at a time
constexpr std::size_t kEdge = 64u << 10;     // the stretch at each end of the file that is checked
constexpr std::size_t kIdleDecoders = 4;     // decoders kept where a read ended

// The compressed bytes a decoder is fed, read from the file a piece at a time.
struct Input {
    int fd = -1;
    std::unique_ptr<unsigned char[]> buffer{new unsigned char[kInput]};
    const unsigned char* next = nullptr;
    std::size_t avail = 0;
    std::int64_t end = 0; // the file offset after the last byte read
    bool failed = false;  // a read error

    std::int64_t position() const { return end - static_cast<std::int64_t>(avail); }
    void seek(std::int64_t at)
    {
        end = at;
        avail = 0;
    }
    // Makes bytes available; false at the end of the file or on a read error.
    bool fill()
    {
        if (avail > 0)
            return true;
        const std::int64_t got = ReadAt(fd, buffer.get(), kInput, end);
        if (got <= 0) {
            failed = failed || got < 0;
            return false;
        }
        next = buffer.get();
        avail = static_cast<std::size_t>(got);
        end += got;
        return true;
    }
    void consumedTo(const unsigned char* at)
    {
        avail -= static_cast<std::size_t>(at - next);
        next = at;
    }
    void skip(std::size_t bytes)
    {
        if (avail >= bytes) {
            next += bytes;
            avail -= bytes;
        } else {
            seek(position() + static_cast<std::int64_t>(bytes));
        }
    }
    // Whether the next bytes are `magic` (what is there is left unread).
    bool startsWith(std::string_view magic)
    {
        if (avail >= magic.size())
            return std::memcmp(next, magic.data(), magic.size()) == 0;
        std::string head(magic.size(), '\0');
        const std::int64_t got = ReadAt(fd, head.data(), head.size(), position());
        failed = failed || got < 0;
        return got == static_cast<std::int64_t>(magic.size()) && head == magic;
    }
};

} // namespace

// One decoding run from a restart point: gives the text in order, and tells where it stands.
class CompressedText::Decoder {
public:
    enum class State { Going, End, Damaged };
    virtual ~Decoder() = default;
    // Decodes up to `room` bytes into out and returns their number. In a scan a decoder also
    // returns early where a restart point can be taken (atBoundary()).
    virtual std::size_t decode(char* out, std::size_t room) = 0;
    // The restart point where the decoding stands (at a boundary).
    virtual RestartPoint point() const { return {text, input.position(), 0, true, {}}; }
    bool atBoundary() const { return boundary; }
    // Compressed bytes read so far, and whether a read of the file failed.
    virtual std::int64_t consumed() const { return input.position() - startedAt; }
    virtual bool readFailed() const { return input.failed; }
    // Bytes of memory the decoder holds.
    virtual std::size_t memory() const { return kInput; }

    // The text kept behind the decoder: up to `room` bytes that end where it stands, taken by
    // keep() from what a read was given, in order; forget() drops them, as a read does that
    // skips text without keeping it (what is kept must end at `text`).
    void keepBehind(std::size_t room)
    {
        m_behind.reset(room > 0 ? new char[room] : nullptr);
        m_behindRoom = room;
        m_behindAt = m_behindKept = 0;
    }
    void keep(const char* bytes, std::size_t length)
    {
        if (m_behindRoom == 0)
            return;
        if (length >= m_behindRoom) {
            std::memcpy(m_behind.get(), bytes + length - m_behindRoom, m_behindRoom);
            m_behindAt = 0;
            m_behindKept = m_behindRoom;
            return;
        }
        const std::size_t first = std::min(length, m_behindRoom - m_behindAt);
        std::memcpy(m_behind.get() + m_behindAt, bytes, first);
        std::memcpy(m_behind.get(), bytes + first, length - first);
        m_behindAt = (m_behindAt + length) % m_behindRoom;
        m_behindKept = std::min(m_behindRoom, m_behindKept + length);
    }
    void forget() { m_behindKept = 0; }
    // The text offset of the first byte kept (`text` when none is).
    std::int64_t keptFrom() const { return text - static_cast<std::int64_t>(m_behindKept); }
    // Copies the kept text [from, from + length), which lies within [keptFrom(), text).
    void copyKept(std::int64_t from, char* out, std::size_t length) const
    {
        // The byte `back` bytes before `text` is the one `back` places before m_behindAt.
        const auto back = static_cast<std::size_t>(text - from);
        const std::size_t at = (m_behindAt + m_behindRoom - back) % m_behindRoom;
        const std::size_t first = std::min(length, m_behindRoom - at);
        std::memcpy(out, m_behind.get() + at, first);
        std::memcpy(out + first, m_behind.get(), length - first);
    }
    std::size_t keptMemory() const { return m_behindRoom; }

    std::int64_t text = 0; // the text offset of the next byte given
    State state = State::Going;
    Input input;

protected:
    Decoder(int fd, const RestartPoint& from, bool scan) : scanning(scan), startedAt(from.file)
    {
        text = from.text;
        input.fd = fd;
        input.seek(from.file);
    }
    // Ends the run at the end of the file: cleanly when no unit is open.
    void endOfInput(bool open) { state = open || input.failed ? State::Damaged : State::End; }

    bool scanning;
    bool boundary = false;
    std::int64_t startedAt;

private:
    std::unique_ptr<char[]> m_behind; // a ring: the last byte kept lies before m_behindAt
    std::size_t m_behindRoom = 0;
    std::size_t m_behindAt = 0;
    std::size_t m_behindKept = 0;
};

namespace {

using Decoder = CompressedText::Decoder;
using RestartPoint = CompressedText::RestartPoint;

// gzip, one member after another. From a point inside a member it inflates raw deflate data
// primed with the bits and window kept (as zlib's zran example does).
class GzipDecoder final : public Decoder {
public:
    GzipDecoder(int fd, const RestartPoint& from, bool scan)
        : Decoder(fd, from, scan), m_memberStart(from.unitStart), m_memberAt(from.file)
    {
        if (from.unitStart) {
            inflateInit2(&m_z, 31);
            return;
        }
        inflateInit2(&m_z, -15);
        m_raw = true;
        if (from.bits > 0) {
            unsigned char before = 0;
            if (ReadAt(fd, &before, 1, from.file - 1) != 1) {
                input.failed = true;
                state = State::Damaged;
                return;
            }
            inflatePrime(&m_z, from.bits, before >> (8 - from.bits));
        }
        inflateSetDictionary(&m_z, from.window.data(), static_cast<uInt>(from.window.size()));
        if (scan) // the next points' windows reach back into this one
            keepWindow(reinterpret_cast<const char*>(from.window.data()), from.window.size());
    }
    ~GzipDecoder() override { inflateEnd(&m_z); }

    std::size_t decode(char* out, std::size_t room) override
    {
        boundary = false;
        m_z.next_out = reinterpret_cast<Bytef*>(out);
        m_z.avail_out = static_cast<uInt>(room);
        while (m_z.avail_out > 0 && state == State::Going && !boundary) {
            if (!input.fill()) {
                endOfInput(true);
                break;
            }
            m_z.next_in = const_cast<Bytef*>(input.next);
            m_z.avail_in = static_cast<uInt>(input.avail);
            const uInt room = m_z.avail_out;
            const int result = inflate(&m_z, scanning ? Z_BLOCK : Z_NO_FLUSH);
            input.consumedTo(m_z.next_in);
            if (m_z.avail_out != room)
                m_memberStart = false;
            if (result == Z_STREAM_END)
                nextMember();
            else if (result != Z_OK && result != Z_BUF_ERROR)
                state = State::Damaged;
            else if (scanning && (m_z.data_type & 128) && !(m_z.data_type & 64))
                boundary = true; // between two blocks of a member, the last one not yet begun
        }
        const std::size_t given = room - m_z.avail_out;
        if (scanning)
            keepWindow(out, given);
        text += static_cast<std::int64_t>(given);
        return given;
    }

    RestartPoint point() const override
    {
        // A member whose first text is yet to come starts again from its header.
        RestartPoint here{text, m_memberStart ? m_memberAt : input.position(), 0, m_memberStart, {}};
        if (!m_memberStart) {
            here.bits = m_z.data_type & 7;
            const std::size_t have = std::min<std::size_t>(kWindow, static_cast<std::size_t>(m_kept));
            here.window.resize(have);
            // The ring holds the last `have` bytes ending at m_ringAt.
            for (std::size_t i = 0; i < have; ++i)
                here.window[i] = m_ring[(m_ringAt + kWindow - have + i) % kWindow];
        }
        return here;
    }

    std::size_t memory() const override { return kInput + 3 * kWindow; }

private:
    void nextMember()
    {
        // A raw run stops before the member's trailer (CRC and size); a gzip one after it.
        if (m_raw)
            input.skip(8);
        if (!input.startsWith("\x1f\x8b")) {
            state = input.failed ? State::Damaged : State::End; // what follows the last member is not text
            return;
        }
        inflateReset2(&m_z, 31);
        m_raw = false;
        m_memberStart = true;
        m_memberAt = input.position();
        boundary = scanning;
    }
    void keepWindow(const char* out, std::size_t given)
    {
        const std::size_t take = std::min(given, kWindow);
        const char* from = out + given - take;
        for (std::size_t i = 0; i < take; ++i) {
            m_ring[m_ringAt] = static_cast<unsigned char>(from[i]);
            m_ringAt = (m_ringAt + 1) % kWindow;
        }
        m_kept += static_cast<std::int64_t>(given);
    }

    z_stream m_z{};
    bool m_raw = false;
    bool m_memberStart;         // no text has come of the member begun at m_memberAt yet
    std::int64_t m_memberAt;
    std::unique_ptr<unsigned char[]> m_ring{new unsigned char[kWindow]};
    std::size_t m_ringAt = 0;
    std::int64_t m_kept = 0;
};

// zstd, one frame after another (skippable frames give nothing).
class ZstdDecoder final : public Decoder {
public:
    ZstdDecoder(int fd, const RestartPoint& from, bool scan) : Decoder(fd, from, scan), m_d(ZSTD_createDStream())
    {
        ZSTD_initDStream(m_d);
    }
    ~ZstdDecoder() override { ZSTD_freeDStream(m_d); }

    std::size_t decode(char* out, std::size_t room) override
    {
        boundary = false;
        ZSTD_outBuffer output{out, room, 0};
        while (output.pos < output.size && state == State::Going && !boundary) {
            const bool more = input.fill();
            ZSTD_inBuffer in{more ? input.next : nullptr, more ? input.avail : 0, 0};
            const std::size_t before = output.pos;
            const std::size_t result = ZSTD_decompressStream(m_d, &output, &in);
            if (more)
                input.consumedTo(input.next + in.pos);
            if (ZSTD_isError(result)) {
                state = State::Damaged;
            } else if (result == 0) {
                m_open = false;
                if (!input.fill())
                    endOfInput(false);
                else
                    boundary = scanning;
            } else {
                m_open = true;
                if (!more && output.pos == before)
                    endOfInput(true); // cut off within a frame
            }
        }
        text += static_cast<std::int64_t>(output.pos);
        return output.pos;
    }
    std::size_t memory() const override { return kInput + ZSTD_sizeof_DStream(m_d); }

private:
    ZSTD_DStream* m_d;
    bool m_open = false;
};

// bzip2, one stream after another.
class Bzip2Decoder final : public Decoder {
public:
    Bzip2Decoder(int fd, const RestartPoint& from, bool scan) : Decoder(fd, from, scan)
    {
        BZ2_bzDecompressInit(&m_s, 0, 0);
    }
    ~Bzip2Decoder() override { BZ2_bzDecompressEnd(&m_s); }

    std::size_t decode(char* out, std::size_t room) override
    {
        boundary = false;
        m_s.next_out = out;
        m_s.avail_out = static_cast<unsigned>(room);
        while (m_s.avail_out > 0 && state == State::Going && !boundary) {
            if (!input.fill()) {
                endOfInput(true);
                break;
            }
            m_s.next_in = reinterpret_cast<char*>(const_cast<unsigned char*>(input.next));
            m_s.avail_in = static_cast<unsigned>(input.avail);
            const int result = BZ2_bzDecompress(&m_s);
            input.consumedTo(reinterpret_cast<const unsigned char*>(m_s.next_in));
            if (result == BZ_STREAM_END) {
                if (!input.startsWith("BZh")) {
                    state = input.failed ? State::Damaged : State::End;
                } else {
                    const unsigned left = m_s.avail_out;
                    BZ2_bzDecompressEnd(&m_s);
                    m_s = bz_stream{};
                    BZ2_bzDecompressInit(&m_s, 0, 0);
                    m_s.next_out = out + (room - left);
                    m_s.avail_out = left;
                    boundary = scanning;
                }
            } else if (result != BZ_OK) {
                state = State::Damaged;
            }
        }
        const std::size_t given = m_given(room);
        text += static_cast<std::int64_t>(given);
        return given;
    }

private:
    std::size_t m_given(std::size_t room) const { return room - m_s.avail_out; }
    bz_stream m_s{};
};

// xz as one stream decoder from the file's start: streams one after another.
class XzDecoder final : public Decoder {
public:
    XzDecoder(int fd, const RestartPoint& from, bool scan) : Decoder(fd, from, scan)
    {
        if (lzma_stream_decoder(&m_s, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK)
            state = State::Damaged;
    }
    ~XzDecoder() override { lzma_end(&m_s); }

    std::size_t decode(char* out, std::size_t room) override
    {
        m_s.next_out = reinterpret_cast<std::uint8_t*>(out);
        m_s.avail_out = room;
        while (m_s.avail_out > 0 && state == State::Going) {
            const bool more = input.fill();
            if (!more && input.failed) {
                state = State::Damaged;
                break;
            }
            m_s.next_in = more ? input.next : nullptr;
            m_s.avail_in = more ? input.avail : 0;
            const lzma_ret result = lzma_code(&m_s, more ? LZMA_RUN : LZMA_FINISH);
            if (more)
                input.consumedTo(m_s.next_in);
            if (result == LZMA_STREAM_END)
                state = State::End;
            else if (result != LZMA_OK)
                state = State::Damaged; // (LZMA_BUF_ERROR at the end: cut off)
        }
        const std::size_t given = room - m_s.avail_out;
        text += static_cast<std::int64_t>(given);
        return given;
    }

private:
    lzma_stream m_s = LZMA_STREAM_INIT;
};

// xz read a block at a time, from any block's start to the end of the blocks.
class XzBlockDecoder final : public Decoder {
public:
    XzBlockDecoder(int fd, const RestartPoint& from, bool scan, int check, std::int64_t blocksEnd)
        : Decoder(fd, from, scan), m_check(static_cast<lzma_check>(check)), m_blocksEnd(blocksEnd)
    {
        startBlock();
    }
    ~XzBlockDecoder() override
    {
        lzma_end(&m_s);
        lzma_filters_free(m_filters, nullptr);
    }

    std::size_t decode(char* out, std::size_t room) override
    {
        boundary = false;
        m_s.next_out = reinterpret_cast<std::uint8_t*>(out);
        m_s.avail_out = room;
        while (m_s.avail_out > 0 && state == State::Going && !boundary) {
            if (!input.fill()) {
                endOfInput(true);
                break;
            }
            m_s.next_in = input.next;
            m_s.avail_in = input.avail;
            const lzma_ret result = lzma_code(&m_s, LZMA_RUN);
            input.consumedTo(m_s.next_in);
            if (result == LZMA_STREAM_END) {
                if (input.position() >= m_blocksEnd) {
                    state = State::End;
                } else {
                    boundary = scanning;
                    const std::size_t left = m_s.avail_out;
                    startBlock();
                    m_s.next_out = reinterpret_cast<std::uint8_t*>(out) + (room - left);
                    m_s.avail_out = left;
                }
            } else if (result != LZMA_OK) {
                state = State::Damaged;
            }
        }
        const std::size_t given = room - m_s.avail_out;
        text += static_cast<std::int64_t>(given);
        return given;
    }

private:
    void startBlock()
    {
        lzma_end(&m_s);
        m_s = LZMA_STREAM_INIT;
        lzma_filters_free(m_filters, nullptr);
        std::uint8_t header[LZMA_BLOCK_HEADER_SIZE_MAX];
        const std::int64_t at = input.position();
        if (ReadAt(input.fd, header, 1, at) != 1) {
            input.failed = true;
            state = State::Damaged;
            return;
        }
        m_block = lzma_block{};
        m_block.version = 1;
        m_block.check = m_check;
        m_block.filters = m_filters;
        m_block.header_size = lzma_block_header_size_decode(header[0]);
        if (header[0] == 0 ||
            ReadAt(input.fd, header, m_block.header_size, at) != static_cast<std::int64_t>(m_block.header_size) ||
            lzma_block_header_decode(&m_block, nullptr, header) != LZMA_OK ||
            lzma_block_decoder(&m_s, &m_block) != LZMA_OK) {
            state = State::Damaged;
            return;
        }
        input.skip(m_block.header_size);
    }

    lzma_stream m_s = LZMA_STREAM_INIT;
    lzma_block m_block{};
    lzma_filter m_filters[LZMA_FILTERS_MAX + 1] = {{LZMA_VLI_UNKNOWN, nullptr}};
    lzma_check m_check;
    std::int64_t m_blocksEnd;
};

// The block starts of an xz file of one stream, read from its index; empty when the file is
// not one whole stream (several, padded, cut off or damaged) or holds one block only.
std::vector<RestartPoint> XzBlockStarts(int fd, std::int64_t size, int& check, std::int64_t& blocksEnd)
{
    std::vector<RestartPoint> starts;
    if (size < 2 * LZMA_STREAM_HEADER_SIZE)
        return starts;
    std::uint8_t head[LZMA_STREAM_HEADER_SIZE];
    std::uint8_t foot[LZMA_STREAM_HEADER_SIZE];
    lzma_stream_flags headFlags{};
    lzma_stream_flags footFlags{};
    if (ReadAt(fd, head, sizeof head, 0) != sizeof head ||
        ReadAt(fd, foot, sizeof foot, size - LZMA_STREAM_HEADER_SIZE) != sizeof foot ||
        lzma_stream_header_decode(&headFlags, head) != LZMA_OK ||
        lzma_stream_footer_decode(&footFlags, foot) != LZMA_OK ||
        lzma_stream_flags_compare(&headFlags, &footFlags) != LZMA_OK)
        return starts;
    const auto indexSize = static_cast<std::int64_t>(footFlags.backward_size);
    const std::int64_t indexAt = size - LZMA_STREAM_HEADER_SIZE - indexSize;
    if (indexAt < LZMA_STREAM_HEADER_SIZE || indexSize > (64 << 20))
        return starts;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(indexSize));
    if (ReadAt(fd, bytes.data(), bytes.size(), indexAt) != indexSize)
        return starts;
    lzma_index* index = nullptr;
    std::uint64_t memLimit = UINT64_MAX;
    std::size_t pos = 0;
    if (lzma_index_buffer_decode(&index, &memLimit, nullptr, bytes.data(), &pos, bytes.size()) != LZMA_OK)
        return starts;
    if (lzma_index_stream_size(index) == static_cast<lzma_vli>(size) && lzma_index_block_count(index) > 1) {
        lzma_index_iter it;
        lzma_index_iter_init(&it, index);
        while (!lzma_index_iter_next(&it, LZMA_INDEX_ITER_BLOCK))
            starts.push_back({static_cast<std::int64_t>(it.block.uncompressed_file_offset),
                              static_cast<std::int64_t>(it.block.compressed_file_offset), 0, true, {}});
        check = static_cast<int>(footFlags.check);
        blocksEnd = indexAt;
    }
    lzma_index_end(index, nullptr);
    return starts;
}

// One member of an archive, read through libarchive from the archive's start.
class ArchiveDecoder final : public Decoder {
public:
    ArchiveDecoder(int fd, const std::string& member, const std::string& path, bool scan)
        : Decoder(fd, RestartPoint{}, scan), m_reader(fd)
    {
        if (!m_reader.find(member)) {
            if (m_reader.readError())
                return; // said by the scan
            if (m_reader.failed())
                throw Failure("Cannot read the archive " + path + ": " + m_reader.reason());
            throw Failure("No file " + member + " in the archive " + path);
        }
    }
    std::size_t decode(char* out, std::size_t room) override
    {
        if (m_reader.readError()) {
            state = State::Damaged;
            return 0;
        }
        const std::int64_t got = m_reader.read(out, room);
        if (got <= 0) {
            state = got == 0 ? State::End : State::Damaged;
            return 0;
        }
        text += got;
        return static_cast<std::size_t>(got);
    }
    std::int64_t consumed() const override { return m_reader.consumed(); }
    bool readFailed() const override { return m_reader.readError(); }

private:
    ArchiveReader m_reader;
};

std::unique_ptr<Decoder> StreamDecoder(int fd, Compression how, const RestartPoint& from, bool scan)
{
    switch (how) {
    case Compression::Gzip:
        return std::make_unique<GzipDecoder>(fd, from, scan);
    case Compression::Zstd:
        return std::make_unique<ZstdDecoder>(fd, from, scan);
    case Compression::Bzip2:
        return std::make_unique<Bzip2Decoder>(fd, from, scan);
    case Compression::Xz:
    case Compression::Archive: // (made by name: ArchiveDecoder)
    case Compression::None:
        break;
    }
    return std::make_unique<XzDecoder>(fd, from, scan);
}

} // namespace

Compression CompressionOf(std::string_view head)
{
    if (head.starts_with("\x1f\x8b\x08"))
        return Compression::Gzip;
    if (head.starts_with(std::string_view("\xfd" "7zXZ\0", 6)))
        return Compression::Xz;
    if (head.size() >= 4 && head.starts_with("BZh") && head[3] >= '1' && head[3] <= '9')
        return Compression::Bzip2;
    if (head.starts_with("\x28\xb5\x2f\xfd"))
        return Compression::Zstd;
    return Compression::None;
}

const char* CompressionName(Compression how)
{
    switch (how) {
    case Compression::Gzip:
        return "gzip";
    case Compression::Xz:
        return "xz";
    case Compression::Bzip2:
        return "bzip2";
    case Compression::Zstd:
        return "zstd";
    case Compression::Archive:
        return "archive";
    case Compression::None:
        break;
    }
    return "";
}

std::string DecompressedHead(int fd, Compression how, std::size_t length, const std::string& member)
{
    std::string head(length, '\0');
    std::unique_ptr<Decoder> decoder;
    try {
        decoder = how == Compression::Archive ? std::make_unique<ArchiveDecoder>(fd, member, std::string(), false)
                                              : StreamDecoder(fd, how, RestartPoint{}, false);
    } catch (const Failure&) {
        return {}; // (the load that follows says why)
    }
    std::size_t got = 0;
    while (got < length && decoder->state == Decoder::State::Going)
        got += decoder->decode(head.data() + got, length - got);
    head.resize(got);
    return head;
}

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
            !TakeVarint(in, unitStart) || !TakeVarint(in, window) || window > kWindow || window > in.size())
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
