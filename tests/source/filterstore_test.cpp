// The filter stacks kept per log in the settings folder's Filters.TLG.

#include "source/filterstore.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

using tlg::FilterRow;
using tlg::LoadFilterStack;
using tlg::SaveFilterStack;

namespace {

using Rows = std::vector<FilterRow>;

// The settings folder of a test: TLGVIEW_HOME names a fresh folder while it lives.
class SettingsHome {
public:
    SettingsHome()
    {
        if (const char* old = std::getenv("TLGVIEW_HOME"))
            m_old = old;
        ::setenv("TLGVIEW_HOME", m_dir.folder().c_str(), 1);
    }
    ~SettingsHome()
    {
        if (m_old)
            ::setenv("TLGVIEW_HOME", m_old->c_str(), 1);
        else
            ::unsetenv("TLGVIEW_HOME");
    }
    const tlg::testing::TempDir& dir() const { return m_dir; }

private:
    tlg::testing::TempDir m_dir;
    std::optional<std::string> m_old;
};

} // namespace

TEST(FilterStore, KeepsEachLogsRowsAsTheyWere)
{
    const SettingsHome home;
    const Rows first = {{"a\tb\\c\r\nd", true, true, FilterRow::ShowOnly, false},
                        {"", false, false, FilterRow::Hide, true},
                        {"caf\xC3\xA9 \\n", false, true, FilterRow::Hide, true}};
    const Rows second = {{"error", false, false, FilterRow::ShowOnly, true}};
    SaveFilterStack("/var/log/one.log", first);
    SaveFilterStack("/var/log/two.log", second);
    EXPECT_EQ(LoadFilterStack("/var/log/one.log"), first);
    EXPECT_EQ(LoadFilterStack("/var/log/two.log"), second);
    EXPECT_TRUE(LoadFilterStack("/var/log/three.log").empty());
    // Updating one log leaves the other; no rows forgets it.
    SaveFilterStack("/var/log/one.log", second);
    EXPECT_EQ(LoadFilterStack("/var/log/one.log"), second);
    SaveFilterStack("/var/log/two.log", {});
    EXPECT_TRUE(LoadFilterStack("/var/log/two.log").empty());
    EXPECT_EQ(LoadFilterStack("/var/log/one.log"), second);
    EXPECT_EQ(tlg::testing::readFile(home.dir().path("Filters.TLG")), "/var/log/one.log\tpis1:error\r\n");
}

TEST(FilterStore, ReadsWhatItCanOfADamagedFileAndKeepsTheNewestLogs)
{
    const SettingsHome home;
    // A NUL and stray bytes, a line without a path, rows with unknown letters, without a colon
    // or ending in a lone backslash; a log's last line counts.
    const char damaged[] = "\x00\xff junk\n\t\tno path\n/a.log\tpis1:x\tzzz1:bad\tpch0\tpch0:tail\\\n"
                           "/a.log\trcs0:y\\\\\\t\n/b.log\n";
    home.dir().write("Filters.TLG", std::string(damaged, sizeof damaged - 1));
    EXPECT_EQ(LoadFilterStack("/a.log"), (Rows{{"y\\\t", true, true, FilterRow::ShowOnly, false}}));
    EXPECT_TRUE(LoadFilterStack("/b.log").empty());
    // Saving over it keeps the logs that still read.
    std::string many;
    for (int i = 0; i < 500; ++i)
        many += "/log" + std::to_string(i) + "\tpih1:w\r\n";
    home.dir().write("Filters.TLG", many);
    SaveFilterStack("/new.log", {{"n", false, false, FilterRow::Hide, true}});
    EXPECT_TRUE(LoadFilterStack("/log0").empty());
    EXPECT_EQ(LoadFilterStack("/log1"), (Rows{{"w", false, false, FilterRow::Hide, true}}));
    EXPECT_EQ(LoadFilterStack("/new.log").size(), 1u);
}
