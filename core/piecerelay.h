#pragma once

// Work kept a few pieces ahead on a thread of its own: `fill` fills piece after piece of bytes
// there (reading a file, decompressing it) while the caller takes them in order and gives each
// back when done with it, so that the two take about as long as the slower of them.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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
    // Stops the filling after the piece under way and waits for its thread.
    ~PieceRelay();
    PieceRelay(const PieceRelay&) = delete;
    PieceRelay& operator=(const PieceRelay&) = delete;

    // The next piece filled, or null once the last was taken. Throws what `fill` threw once
    // the pieces before were taken, and Stopped when `stop` is set (looked at every 50 ms).
    Piece* take(const std::atomic<bool>* stop);
    void giveBack(Piece* piece);

private:
    void fillPieces();

    Fill m_fill;
    std::vector<std::unique_ptr<Piece>> m_pieces;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Piece*> m_empty; // guarded by m_mutex, as are the four below
    std::deque<Piece*> m_full;
    bool m_finished = false;
    bool m_quit = false;
    std::exception_ptr m_failure;
    std::thread m_thread; // last: started once the rest is made
};

} // namespace tlg
