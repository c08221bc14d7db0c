#include "source/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tlg {
namespace {

// A session file written before the local journal was kept: plain logs of four fields and a
// merged log of five.
constexpr const char* kOlderSession =
    "Log=%2Fvar%2Flog%2Fa.log|12|1|Auto\r\n"
    "Log=%2Ftmp%2Fb%7Cc.log|0|0|UTF-8|%2Ftmp%2Fd.log,%2Ftmp%2Fe.log\r\n";

TEST(Session, OlderFilesStillLoadAndTheJournalKeepsItsPlace)
{
    const std::vector<SessionLog> older = ReadSessionText(kOlderSession);
    ASSERT_EQ(older.size(), 2u);
    EXPECT_EQ(older[0].path, "/var/log/a.log");
    EXPECT_EQ(older[0].caretLine, 12);
    EXPECT_TRUE(older[0].encoding.automatic);
    EXPECT_EQ(older[1].path, "/tmp/b|c.log");
    EXPECT_FALSE(older[1].followed);
    EXPECT_EQ(older[1].mergedWith, (std::vector<std::string>{"/tmp/d.log", "/tmp/e.log"}));
    EXPECT_FALSE(older[0].journal || older[1].journal);

    // The local journal between the two, with units whose names hold the separators.
    SessionLog journal;
    journal.followed = false;
    journal.journal = JournalQuery{};
    journal.journal->units = {"a|b,c.service", "ssh"};
    journal.journal->lowestPriority = 3;
    journal.journal->highestPriority = 5;
    journal.journal->boot = "-1";
    std::vector<SessionLog> logs = older;
    logs.insert(logs.begin() + 1, journal);
    const std::string text = SessionText(logs);
    const std::vector<SessionLog> read = ReadSessionText(text);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].path, "/var/log/a.log");
    ASSERT_TRUE(read[1].journal);
    EXPECT_EQ(*read[1].journal, *journal.journal);
    EXPECT_FALSE(read[1].followed);
    EXPECT_EQ(read[2].mergedWith, older[1].mergedWith);
    // The files' lines are as they were, so that an older version reads them and passes over
    // the journal's.
    EXPECT_EQ(text.substr(0, text.find("Journal=")) + text.substr(text.find("\r\n", text.find("Journal=")) + 2),
              kOlderSession);

    // A journal of every unit, priority and boot; a line that says nothing readable goes.
    SessionLog whole;
    whole.journal = JournalQuery{};
    const std::vector<SessionLog> bare = ReadSessionText(SessionText({whole}) + "Journal=1||x..9|\r\n");
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_EQ(*bare[0].journal, JournalQuery{});
    EXPECT_TRUE(bare[0].followed);
}

} // namespace
} // namespace tlg
