#include "core/piecerelay.h"

#include "core/errors.h"
#include "core/executor.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <vector>

namespace tlg {

namespace {

// How long the first take waits for a worker to begin filling before it fills by itself.
constexpr auto kWorkerGrace = std::chrono::milliseconds(20);

} // namespace

struct PieceRelay::State {
    enum class Mode {
        Waiting, // the filling task has not begun
        Beside,  // a worker fills
        Inline,  // the caller fills as it takes
        Closed,  // the relay ended before the task began
    };

    Fill fill;
    std::vector<std::unique_ptr<Piece>> pieces;
    std::mutex mutex;
    std::condition_variable changed;
    Mode mode = Mode::Waiting;  // guarded by mutex, as are the six below
    std::deque<Piece*> empty;
    std::deque<Piece*> full;
    bool finished = false;      // the last piece was filled, or filling failed
    bool quit = false;
    bool fillerEnded = false;
    std::exception_ptr failure;

    // Fills `piece`; under no lock.
    void fillOne(Piece* piece)
    {
        bool last = true;
        std::exception_ptr thrown;
        try {
            piece->length = 0;
            last = fill(*piece);
        } catch (...) {
            thrown = std::current_exception();
        }
        const std::lock_guard lock(mutex);
        if (thrown)
            failure = thrown;
        else
            full.push_back(piece);
        finished = last;
    }

    void fillBeside()
    {
        {
            const std::lock_guard lock(mutex);
            if (mode != Mode::Waiting)
                return; // the caller fills, or the relay ended: `fill` may be gone
            mode = Mode::Beside;
        }
        changed.notify_all();
        for (;;) {
            Piece* piece = nullptr;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [this] { return quit || finished || !empty.empty(); });
                if (quit || finished)
                    break;
                piece = empty.front();
                empty.pop_front();
            }
            fillOne(piece);
            changed.notify_all();
        }
        {
            const std::lock_guard lock(mutex);
            fillerEnded = true;
        }
        changed.notify_all();
    }
};

PieceRelay::PieceRelay(std::size_t room, std::size_t pieces, Fill fill) : m_state(std::make_shared<State>())
{
    m_state->fill = std::move(fill);
    for (std::size_t i = 0; i < pieces; ++i) {
        m_state->pieces.push_back(std::make_unique<Piece>());
        m_state->pieces.back()->bytes.reset(new char[std::max<std::size_t>(room, 1)]);
        m_state->empty.push_back(m_state->pieces.back().get());
    }
    Executor::shared().post(Executor::Priority::User, [state = m_state] { state->fillBeside(); });
}

PieceRelay::~PieceRelay()
{
    std::unique_lock lock(m_state->mutex);
    m_state->quit = true;
    if (m_state->mode == State::Mode::Waiting)
        m_state->mode = State::Mode::Closed;
    m_state->changed.notify_all();
    m_state->changed.wait(lock, [this] { return m_state->mode != State::Mode::Beside || m_state->fillerEnded; });
}

bool PieceRelay::filledBeside() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->mode == State::Mode::Beside;
}

PieceRelay::Piece* PieceRelay::take(const std::atomic<bool>* stop)
{
    State& state = *m_state;
    {
        std::unique_lock lock(state.mutex);
        if (state.mode == State::Mode::Waiting) {
            state.changed.wait_for(lock, kWorkerGrace, [&] { return state.mode != State::Mode::Waiting; });
            if (state.mode == State::Mode::Waiting)
                state.mode = State::Mode::Inline;
        }
    }
    for (;;) {
        ThrowIfStopped(stop);
        Piece* toFill = nullptr;
        {
            std::unique_lock lock(state.mutex);
            if (state.mode == State::Mode::Beside)
                state.changed.wait_for(lock, std::chrono::milliseconds(50),
                                       [&] { return state.finished || !state.full.empty(); });
            if (!state.full.empty()) {
                Piece* piece = state.full.front();
                state.full.pop_front();
                return piece;
            }
            if (state.finished) {
                if (state.failure)
                    std::rethrow_exception(state.failure);
                return nullptr;
            }
            if (state.mode == State::Mode::Inline && !state.empty.empty()) {
                toFill = state.empty.front();
                state.empty.pop_front();
            }
        }
        if (toFill)
            state.fillOne(toFill);
    }
}

void PieceRelay::giveBack(Piece* piece)
{
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->empty.push_back(piece);
    }
    m_state->changed.notify_all();
}

} // namespace tlg
