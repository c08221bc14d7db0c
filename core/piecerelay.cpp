#include "core/piecerelay.h"

#include "core/errors.h"

#include <algorithm>
#include <chrono>

namespace tlg {

PieceRelay::PieceRelay(std::size_t room, std::size_t pieces, Fill fill) : m_fill(std::move(fill))
{
    for (std::size_t i = 0; i < pieces; ++i) {
        m_pieces.push_back(std::make_unique<Piece>());
        m_pieces.back()->bytes.reset(new char[std::max<std::size_t>(room, 1)]);
        m_empty.push_back(m_pieces.back().get());
    }
    m_thread = std::thread([this] { fillPieces(); });
}

PieceRelay::~PieceRelay()
{
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void PieceRelay::fillPieces()
{
    for (;;) {
        Piece* piece = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_quit || !m_empty.empty(); });
            if (m_quit)
                return;
            piece = m_empty.front();
            m_empty.pop_front();
        }
        bool last = true;
        std::exception_ptr failure;
        try {
            piece->length = 0;
            last = m_fill(*piece);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            const std::lock_guard lock(m_mutex);
            if (failure)
                m_failure = failure;
            else
                m_full.push_back(piece);
            m_finished = last;
        }
        m_changed.notify_all();
        if (last)
            return;
    }
}

PieceRelay::Piece* PieceRelay::take(const std::atomic<bool>* stop)
{
    for (;;) {
        ThrowIfStopped(stop);
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::milliseconds(50), [this] { return m_finished || !m_full.empty(); });
        if (!m_full.empty()) {
            Piece* piece = m_full.front();
            m_full.pop_front();
            return piece;
        }
        if (m_finished) {
            if (m_failure)
                std::rethrow_exception(m_failure);
            return nullptr;
        }
    }
}

void PieceRelay::giveBack(Piece* piece)
{
    {
        const std::lock_guard lock(m_mutex);
        m_empty.push_back(piece);
    }
    m_changed.notify_all();
}

} // namespace tlg
