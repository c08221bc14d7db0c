#pragma once

// What the harnesses share: a check that stops the run with its place when a property fails
// (libFuzzer and the replay then report the input), and a reader that cuts one input into the
// several arguments a function takes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

namespace tlg::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : m_rest(reinterpret_cast<const char*>(data), size)
    {
    }

    // One byte, or 0 when none is left.
    std::uint8_t byte()
    {
        if (m_rest.empty())
            return 0;
        const auto b = static_cast<std::uint8_t>(m_rest.front());
        m_rest.remove_prefix(1);
        return b;
    }
    bool flag() { return (byte() & 1) != 0; }
    // A piece as long as the next byte says (at most what is left).
    std::string_view piece()
    {
        const std::size_t length = byte();
        const std::string_view taken = m_rest.substr(0, length);
        m_rest.remove_prefix(taken.size());
        return taken;
    }
    // Everything not taken yet.
    std::string_view rest()
    {
        const std::string_view taken = m_rest;
        m_rest = {};
        return taken;
    }
    bool empty() const { return m_rest.empty(); }

private:
    std::string_view m_rest;
};

} // namespace tlg::fuzz
