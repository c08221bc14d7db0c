// Pieces filled on a thread of their own, taken in order: every piece once, a failure after the
// pieces before it, and an end at any time without waiting on the filler.

#include "core/errors.h"
#include "core/piecerelay.h"

#include <gtest/gtest.h>

#include <string>

using tlg::PieceRelay;

TEST(PieceRelay, GivesThePiecesInOrderThenWhatTheFillerThrew)
{
    for (const int failAt : {-1, 0, 5}) {
        int filled = 0;
        PieceRelay relay(8, 2, [&](PieceRelay::Piece& piece) {
            if (filled == failAt)
                throw tlg::Failure("Cannot read file x");
            const std::string text = std::to_string(filled++);
            text.copy(piece.bytes.get(), text.size());
            piece.length = text.size();
            return filled == 20;
        });
        std::string taken;
        try {
            while (PieceRelay::Piece* piece = relay.take(nullptr)) {
                taken.append(piece->bytes.get(), piece->length).append(",");
                relay.giveBack(piece);
            }
            EXPECT_EQ(failAt, -1);
        } catch (const tlg::Failure& failure) {
            EXPECT_STREQ(failure.what(), "Cannot read file x");
        }
        EXPECT_EQ(taken, failAt == -1 ? "0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19," : failAt == 0 ? "" : "0,1,2,3,4,");
    }
}

TEST(PieceRelay, StopsWhenToldAndEndsWithoutTakingEveryPiece)
{
    std::atomic<bool> stop{false};
    {
        // Never the last piece: the relay's end must not wait for one.
        PieceRelay relay(4, 3, [](PieceRelay::Piece& piece) {
            piece.length = 1;
            return false;
        });
        PieceRelay::Piece* piece = relay.take(&stop);
        ASSERT_TRUE(piece);
        relay.giveBack(piece);
        stop = true;
        EXPECT_THROW(relay.take(&stop), tlg::ReadStopped);
    }
}
