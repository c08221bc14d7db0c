#include "document/checkvalues.h"

#include "document/compressedindexcache.h"

#include <xxhash.h>

#include <algorithm>

namespace tlg {

// The check value over the bytes after the last whole block.
struct CheckValues::Tail {
    XXH3_state_t* state = XXH3_createState();
    std::size_t bytes = 0;
    Tail() { XXH3_64bits_reset(state); }
    Tail(const Tail& other) : bytes(other.bytes) { XXH3_copyState(state, other.state); }
    Tail& operator=(const Tail&) = delete;
    ~Tail() { XXH3_freeState(state); }
};

CheckValues::CheckValues(std::size_t block, std::size_t textBytes)
    : m_block(std::max<std::size_t>(block, 1)), m_tail(std::make_unique<Tail>())
{
    m_values.reserve(TextRoomFor(textBytes) / m_block + 16);
}

CheckValues::CheckValues(const CheckValues& other)
    : m_block(other.m_block), m_values(other.m_values), m_tail(std::make_unique<Tail>(*other.m_tail)),
      m_tailValue(other.m_tailValue)
{
}

CheckValues& CheckValues::operator=(const CheckValues& other)
{
    if (this != &other) {
        m_block = other.m_block;
        m_values = other.m_values;
        m_tail = std::make_unique<Tail>(*other.m_tail);
        m_tailValue = other.m_tailValue;
    }
    return *this;
}

CheckValues::CheckValues(CheckValues&&) noexcept = default;
CheckValues& CheckValues::operator=(CheckValues&&) noexcept = default;
CheckValues::~CheckValues() = default;

void CheckValues::add(const char* bytes, std::size_t length)
{
    while (length > 0) {
        const std::size_t piece = std::min(length, m_block - m_tail->bytes);
        XXH3_64bits_update(m_tail->state, bytes, piece);
        m_tail->bytes += piece;
        bytes += piece;
        length -= piece;
        if (m_tail->bytes == m_block) {
            m_values.push(XXH3_64bits_digest(m_tail->state));
            XXH3_64bits_reset(m_tail->state);
            m_tail->bytes = 0;
        }
    }
}

void CheckValues::finish()
{
    m_values.finish();
    m_tailValue = XXH3_64bits_digest(m_tail->state);
}

CheckValues CheckValues::snapshot() const
{
    CheckValues copy(*this);
    copy.m_values.claimed = copy.m_values.count;
    copy.m_tailValue = XXH3_64bits_digest(copy.m_tail->state);
    return copy;
}

void CheckValues::truncate(ByteOffset stable)
{
    // Values a copy sees are never written again: this one takes its own.
    const std::size_t whole = static_cast<std::size_t>(stable) / m_block;
    if (whole < m_values.count)
        m_values.makeOwn(whole);
    m_tail = std::make_unique<Tail>();
}

bool CheckValues::matches(ByteOffset start, std::string_view bytes, ByteOffset size) const
{
    std::size_t h = static_cast<std::size_t>(start) / m_block;
    for (std::size_t at = 0; at < bytes.size(); at += m_block, ++h) {
        const std::size_t length = std::min(m_block, bytes.size() - at);
        bool same = true;
        if (h < m_values.count) {
            if (length == m_block)
                same = XXH3_64bits(bytes.data() + at, m_block) == m_values[h];
        } else if (start + static_cast<ByteOffset>(at + length) == size) {
            same = XXH3_64bits(bytes.data() + at, length) == m_tailValue; // the bytes after the last whole block
        }
        if (!same)
            return false;
    }
    return true;
}

std::size_t CheckValues::blockLength(std::size_t index, ByteOffset size) const
{
    if (index < m_values.count)
        return m_block;
    const auto start = static_cast<ByteOffset>(index * m_block);
    return size > start ? static_cast<std::size_t>(size - start) : 0;
}

bool CheckValues::matchesBlock(std::size_t index, std::string_view bytes) const
{
    return XXH3_64bits(bytes.data(), bytes.size()) == (index < m_values.count ? m_values[index] : m_tailValue);
}

void CheckValues::write(std::string& out) const
{
    PutVarint(out, m_block);
    PutVarint(out, m_values.count);
    out.append(reinterpret_cast<const char*>(m_values.data()), m_values.count * sizeof(std::uint64_t));
    PutFixed(out, m_tailValue);
}

bool CheckValues::read(std::string_view& in, ByteOffset size)
{
    std::uint64_t block = 0, count = 0, tail = 0;
    if (!TakeVarint(in, block) || block != m_block || !TakeVarint(in, count) ||
        count != static_cast<std::uint64_t>(size.value()) / block || count > in.size() / sizeof(std::uint64_t))
        return false;
    const auto n = static_cast<std::size_t>(count);
    const std::string_view values = in.substr(0, n * sizeof(std::uint64_t));
    in.remove_prefix(values.size());
    if (!TakeFixed(in, tail))
        return false;
    m_values.assign(values, n);
    m_tail = std::make_unique<Tail>();
    m_tailValue = tail;
    return true;
}

} // namespace tlg

