#pragma once

// Work kept a few pieces ahead beside the caller: `fill` fills piece after piece of bytes on a
// worker of the executor (reading a file, decompressing it) while the caller takes them in
// order and gives each back when done with it, so that the two take about as long as the
// slower of them. When no worker is free soon, the caller fills the pieces itself as it takes
// them: slower, but it never waits for a worker busy elsewhere.

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>

namespace tlg {

class PieceRelay {
public:
    struct Piece {
        std::unique_ptr<char[]> bytes;
        std::size_t length = 0;
    };
    // Fills the piece given, `room` bytes at most; true when it was the last.
    using Fill = std::function<bool(Piece&)>;

    PieceRelay(std::size_t room, std::size_t pieces, Fill fill);
    // Stops the filling after the piece under way and waits for it.
    ~PieceRelay();
    PieceRelay(const PieceRelay&) = delete;
    PieceRelay& operator=(const PieceRelay&) = delete;

    // The next piece filled, or null once the last was taken. Throws what `fill` threw once
    // the pieces before were taken, and Stopped when `stop` is set (looked at every 50 ms).
    Piece* take(const std::atomic<bool>* stop);
    void giveBack(Piece* piece);
    // Whether the pieces were filled beside the caller (false: by the caller, as it took them).
    bool filledBeside() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace tlg
