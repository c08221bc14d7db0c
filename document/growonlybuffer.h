#pragma once

// Buffers that only grow, shared by a document and the documents grown from it: the text of a
// document held in memory, and the check values and decoding points of one read from a file.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace tlg {

// Room for `bytes` bytes, uninitialised: a large room is mapped with huge pages where the
// system offers them, which makes filling it from a file much cheaper; untouched pages cost
// nothing. Released with ReleaseRoom.
void* AllocateRoom(std::size_t bytes);
void ReleaseRoom(void* room, std::size_t bytes);

// Room for a text of this size and what a followed log may append to it before the buffer must
// be copied; the room past the text costs nothing until it is written.
std::size_t TextRoomFor(std::size_t size);

// A buffer that only grows, shared by a document and those appended to it. Each document reads
// only its own prefix; only the newest one may claim the room after it, so nothing a reader
// sees is ever written again.
template <typename T>
class GrowOnlyBuffer {
public:
    explicit GrowOnlyBuffer(std::size_t capacity)
        : m_capacity(capacity == 0 ? 1 : capacity),
          m_data(static_cast<T*>(AllocateRoom(m_capacity * sizeof(T))))
    {
    }
    ~GrowOnlyBuffer() { ReleaseRoom(m_data, m_capacity * sizeof(T)); }
    GrowOnlyBuffer(const GrowOnlyBuffer&) = delete;
    GrowOnlyBuffer& operator=(const GrowOnlyBuffer&) = delete;

    T* data() { return m_data; }
    const T* data() const { return m_data; }
    std::size_t capacity() const { return m_capacity; }
    // Takes [from, to) for writing when `from` is the end of what has been handed out and the
    // room is there; false otherwise.
    bool claim(std::size_t from, std::size_t to)
    {
        if (to > m_capacity)
            return false;
        std::size_t expected = from;
        return m_used.compare_exchange_strong(expected, to);
    }
    // Gives back [to, from) of what the caller claimed last and did not use.
    void unclaim(std::size_t from, std::size_t to)
    {
        std::size_t expected = from;
        m_used.compare_exchange_strong(expected, to);
    }

private:
    std::size_t m_capacity;
    T* m_data;
    std::atomic<std::size_t> m_used{0};
};

using TextBuffer = GrowOnlyBuffer<char>;

// Entries claimed from a shared GrowOnlyBuffer: a holder sees the first `count`; the newest
// holder of a line of copies may claim what follows, a step at a time, and takes a buffer of
// its own when another took the room first. Copies share the buffer.
template <typename T>
struct ClaimedEntries {
    // Entries claimed at a time.
    static constexpr std::size_t kStep = 4096;

    std::shared_ptr<GrowOnlyBuffer<T>> buffer;
    std::size_t count = 0;
    std::size_t claimed = 0;

    // A buffer of its own, room for `capacity` entries, empty.
    void reserve(std::size_t capacity)
    {
        buffer = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(capacity, 16));
        count = claimed = 0;
    }
    void push(const T& value)
    {
        if (count == claimed) {
            std::size_t want = std::min(count + kStep, buffer->capacity());
            if (want == count || !buffer->claim(count, want)) {
                // Out of room, or another holder took the room after ours: a buffer of our own.
                auto bigger = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(2 * count, kStep));
                std::copy(buffer->data(), buffer->data() + count, bigger->data());
                want = std::min(count + kStep, bigger->capacity());
                bigger->claim(0, want);
                buffer = std::move(bigger);
            }
            claimed = want;
        }
        buffer->data()[count++] = value;
    }
    // Gives back what was claimed and not used, for a copy to claim.
    void finish()
    {
        if (claimed > count)
            buffer->unclaim(claimed, count);
        claimed = count;
    }
    // A buffer of its own holding the first `keep` entries.
    void makeOwn(std::size_t keep)
    {
        auto own = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(buffer->capacity(), kStep));
        std::copy(buffer->data(), buffer->data() + keep, own->data());
        own->claim(0, keep);
        buffer = std::move(own);
        count = claimed = keep;
    }
    // A buffer of its own holding the `n` entries whose bytes are given (at any alignment).
    void assign(std::string_view bytes, std::size_t n)
    {
        buffer = std::make_shared<GrowOnlyBuffer<T>>(std::max<std::size_t>(n, 16));
        std::memcpy(static_cast<void*>(buffer->data()), bytes.data(), n * sizeof(T));
        buffer->claim(0, n);
        count = claimed = n;
    }
    const T& operator[](std::size_t i) const { return buffer->data()[i]; }
    const T* data() const { return buffer ? buffer->data() : nullptr; }
};

} // namespace tlg
