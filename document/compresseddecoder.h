#pragma once

// What every decoder of a compressed file shares: the restart points a run can start from, the
// compressed bytes it is fed, and the text it keeps behind where it stands. One decoder per
// format lives in a file of its own; decoders.h makes the one a format needs.

#include "core/fileops.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tlg {

// What deflate may look back, and so the most a restart point's window holds.
inline constexpr std::size_t kRestartWindow = 32768;
// Compressed bytes read at a time.
inline constexpr std::size_t kCompressedInput = 256u << 10;

// Where decoding can start again: the text offset and file offset of a unit's start, and for
// gzip's inside of a member the bits of the byte before and the window that precedes it.
struct RestartPoint {
    std::int64_t text = 0;
    std::int64_t file = 0;
    int bits = 0;          // gzip: bits of the byte before `file` that the next block uses
    bool unitStart = true; // a member, frame, stream or block starts here
    std::vector<unsigned char> window;
};

// The compressed bytes a decoder is fed, read from the file a piece at a time.
struct CompressedInput {
    int fd = -1;
    std::unique_ptr<unsigned char[]> buffer{new unsigned char[kCompressedInput]};
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
    bool fill();
    void consumedTo(const unsigned char* at)
    {
        avail -= static_cast<std::size_t>(at - next);
        next = at;
    }
    void skip(std::size_t bytes);
    // Whether the next bytes are `magic` (what is there is left unread).
    bool startsWith(std::string_view magic);
};

// One decoding run from a restart point: gives the text in order, and tells where it stands.
class CompressedDecoder {
public:
    enum class State { Going, End, Damaged };
    virtual ~CompressedDecoder() = default;
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
    virtual std::size_t memory() const { return kCompressedInput; }

    // The text kept behind the decoder: up to `room` bytes that end where it stands, taken by
    // keep() from what a read was given, in order; forget() drops them, as a read does that
    // skips text without keeping it (what is kept must end at `text`).
    void keepBehind(std::size_t room);
    void keep(const char* bytes, std::size_t length);
    void forget() { m_behindKept = 0; }
    // The text offset of the first byte kept (`text` when none is).
    std::int64_t keptFrom() const { return text - static_cast<std::int64_t>(m_behindKept); }
    // Copies the kept text [from, from + length), which lies within [keptFrom(), text).
    void copyKept(std::int64_t from, char* out, std::size_t length) const;
    std::size_t keptMemory() const { return m_behindRoom; }

    std::int64_t text = 0; // the text offset of the next byte given
    State state = State::Going;
    CompressedInput input;

protected:
    CompressedDecoder(int fd, const RestartPoint& from, bool scan) : scanning(scan), startedAt(from.file)
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

} // namespace tlg
