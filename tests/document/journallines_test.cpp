#include "journal/journallines.h"
#include "document/logdocument.h"
#include "document/mergedlines.h"
#include "document/timestamps.h"

#include "core/errors.h"
#include "support/journalfiles.h"
#include "support/tempdir.h"
#include "support/zone.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace tlg;
using namespace tlg::testing;

namespace {

constexpr std::uint64_t kStart = 1700000000000000ULL; // 2023-11-14T22:13:20Z

ExportEntry Entry(std::uint64_t realtime, std::string message, std::string identifier = "app", int priority = 6,
                  std::string unit = "")
{
    ExportEntry entry;
    entry.realtime = realtime;
    entry.fields = {{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", std::move(identifier)}, {"_PID", "42"},
                    {"MESSAGE", std::move(message)}};
    if (priority >= 0)
        entry.fields.emplace_back("PRIORITY", std::to_string(priority));
    if (!unit.empty())
        entry.fields.emplace_back("_SYSTEMD_UNIT", std::move(unit));
    return entry;
}

// Entries that probe the corners of journalctl's short form.
std::vector<ExportEntry> OddEntries()
{
    std::vector<ExportEntry> entries;
    std::uint64_t t = kStart;
    auto add = [&](std::vector<std::pair<std::string, std::string>> fields) {
        ExportEntry entry;
        entry.realtime = t += 1500000;
        entry.fields = std::move(fields);
        entries.push_back(std::move(entry));
    };
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "sshd"}, {"_PID", "42"}, {"MESSAGE", "plain"}});
    add({{"_HOSTNAME", "box"}, {"_COMM", "cron"}, {"SYSLOG_PID", "7"}, {"MESSAGE", "by its command"}});
    add({{"MESSAGE", "no host, no name"}});
    add({{"_PID", "9"}, {"MESSAGE", "no name but a pid"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "ml"}, {"MESSAGE", "line one\nline two\n  line three\n"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "x"}, {"MESSAGE", "a\n\nb\n\n"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "tabs"}, {"MESSAGE", "a\tb\t\tc"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "crlf"}, {"MESSAGE", "dos\r\nline\r"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "cr"}, {"MESSAGE", "q\rr"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "bin"}, {"MESSAGE", std::string("nul\0byte", 8)}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "utf"}, {"MESSAGE", "h\xc3\xa9llo \xe2\x82\xac"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "bad"}, {"MESSAGE", "bad \xff utf"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "big"}, {"MESSAGE", std::string(70000, 'z') + "\x01"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "ansi"}, {"MESSAGE", "\x1b[1;31mred\x1b[0m \x1b]0;title\a!"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "esc"}, {"MESSAGE", "lone \x1b[x"}});
    add({{"_HOSTNAME", "b\x01x"}, {"SYSLOG_IDENTIFIER", std::string(300, 'i')}, {"_COMM", "fallback"}, {"MESSAGE", "m"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "src"}, {"_SOURCE_REALTIME_TIMESTAMP", "1600000000000000"},
         {"MESSAGE", "the sender's time"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "nomessage"}});
    add({{"_HOSTNAME", "box"}, {"SYSLOG_IDENTIFIER", "last"}, {"MESSAGE", "done"}});
    return entries;
}

// Many entries, some of several lines, over more than a few checkpoints.
std::vector<ExportEntry> ManyEntries(int count, std::uint64_t from = kStart, int units = 3)
{
    std::vector<ExportEntry> entries;
    for (int i = 0; i < count; ++i) {
        std::string message = "entry " + std::to_string(i);
        if (i % 7 == 3)
            message += "\n  continued " + std::to_string(i) + "\n  and more";
        entries.push_back(Entry(from + static_cast<std::uint64_t>(i) * 1000000, message, "app" + std::to_string(i % 4),
                                i % 8, "unit" + std::to_string(i % units) + ".service"));
    }
    return entries;
}

JournalQuery FileQuery(const std::string& path)
{
    JournalQuery query;
    query.where = JournalQuery::Where::Files;
    query.paths = {path};
    return query;
}

} // namespace

// The lines are journalctl's, byte for byte, in UTC and in a zone with summer time; every
// question the line source answers agrees with the text.
TEST(JournalLines, LinesAreJournalctls)
{
    TempDir dir;
    const std::string file = dir.path("odd.journal");
    ASSERT_TRUE(MakeJournal(file, ExportText(OddEntries())));
    {
        ZoneGuard zone("UTC");
        const JournalLinesPtr lines = JournalLines::build(FileQuery(file));
        const std::string expected = Journalctl("--file " + file);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(lines->copyText(), expected);
        EXPECT_EQ(lines->entryCount(), 18); // the one without a message shows nothing
        EXPECT_EQ(lines->skipped(), 1);
    }
    {
        ZoneGuard zone(kCentralEurope);
        const JournalLinesPtr lines = JournalLines::build(FileQuery(file));
        EXPECT_EQ(lines->copyText(),
                  CommandOutput(std::string("TZ=") + kCentralEurope + " journalctl -q --file " + file + " -o short-iso"));
    }
}

TEST(JournalLines, IndexAgreesWithTextAcrossCheckpoints)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string file = dir.path("many.journal");
    ASSERT_TRUE(MakeJournal(file, ExportText(ManyEntries(700))));
    const JournalLinesPtr lines = JournalLines::build(FileQuery(file));
    const std::string text = Journalctl("--file " + file);
    ASSERT_EQ(lines->copyText(), text);
    ASSERT_EQ(lines->size(), static_cast<std::int64_t>(text.size()));

    std::int64_t line = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (at == 0 || text[at - 1] == '\n') {
            ASSERT_EQ(lines->lineIndex(line), static_cast<std::int64_t>(at)) << line;
            ++line;
        }
        ASSERT_EQ(lines->lineFromOffset(static_cast<std::int64_t>(at)), line - 1) << at;
    }
    EXPECT_EQ(lines->lineCount(), line);
    EXPECT_EQ(lines->rowCount(), line + 1);
    EXPECT_EQ(lines->lineFromOffset(lines->size()), line);
    EXPECT_EQ(lines->lineIndex(line + 5), lines->size());

    // Slices that start and end anywhere, within a checkpoint's stretch and across several.
    for (std::size_t from = 0; from < text.size(); from += 997)
        for (std::size_t length : {1UL, 50UL, 5000UL, 20000UL})
            ASSERT_EQ(lines->slice(static_cast<std::int64_t>(from), static_cast<std::int64_t>(from + length)).view(),
                      text.substr(from, length));
    EXPECT_EQ(lines->lineText(EndLine(lines->lineCount()) - 1).view(), "2023-11-14T22:24:59+0000 box app3[42]: entry 699");
}

// Readers renewed all the time (every 4096 entries in the pass, every 64 stretches when
// reading again) read the same text.
TEST(JournalLines, RenewedReadersReadTheSame)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string file = dir.path("renewed.journal");
    ASSERT_TRUE(MakeJournal(file, ExportText(ManyEntries(9000))));
    JournalLines::setReaderGrowth(0);
    const JournalLinesPtr lines = JournalLines::build(FileQuery(file));
    const std::string text = lines->copyText();
    JournalLines::setReaderGrowth(48 << 20);
    EXPECT_EQ(lines->entryCount(), 9000);
    EXPECT_EQ(lines->skipped(), 0);
    EXPECT_EQ(text, Journalctl("--file " + file));
}

// A message with line breaks is one entry on several lines: all of them carry its priority,
// and its first line is where the entry starts.
TEST(JournalLines, MultiLineEntriesAndPriorities)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string file = dir.path("levels.journal");
    std::vector<ExportEntry> entries = {Entry(kStart, "one", "a", 3), Entry(kStart + 1, "two\nlines", "b", 4),
                                        Entry(kStart + 2, "none", "c", -1), Entry(kStart + 3, "x\ny\nz", "d", 0)};
    ASSERT_TRUE(MakeJournal(file, ExportText(entries)));
    const JournalLinesPtr lines = JournalLines::build(FileQuery(file));
    ASSERT_EQ(lines->lineCount(), 7);
    EXPECT_EQ(lines->entryCount(), 4);
    const int priorities[] = {3, 4, 4, -1, 0, 0, 0};
    const std::int64_t starts[] = {0, 1, 1, 3, 4, 4, 4};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(lines->priority(i), priorities[i]) << i;
        EXPECT_EQ(lines->entryStart(i), starts[i]) << i;
    }
    EXPECT_EQ(lines->lineText(2).view(), std::string(36, ' ') + "lines");
    EXPECT_EQ(lines->lineText(2).view().find("lines"), lines->lineText(1).view().find("two"));

    const std::string fields = lines->fieldsOf(5);
    EXPECT_NE(fields.find("SYSLOG_IDENTIFIER=d\n"), std::string::npos) << fields;
    EXPECT_NE(fields.find("PRIORITY=0\n"), std::string::npos) << fields;
    EXPECT_NE(fields.find("MESSAGE=[5B blob data]\n"), std::string::npos) << fields;
}

// Matches narrow the entries as journalctl's -u and -p do, through the journal's index.
TEST(JournalLines, MatchesAsJournalctl)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string file = dir.path("units.journal");
    ASSERT_TRUE(MakeJournal(file, ExportText(ManyEntries(300))));

    JournalQuery byUnit = FileQuery(file);
    byUnit.units = {"unit1"};
    const std::string unitText = Journalctl("--file " + file, "-u unit1");
    ASSERT_FALSE(unitText.empty());
    EXPECT_EQ(JournalLines::build(byUnit)->copyText(), unitText);

    JournalQuery byPriority = FileQuery(file);
    byPriority.highestPriority = ParsePriority("warning");
    EXPECT_EQ(byPriority.highestPriority, 4);
    EXPECT_EQ(JournalLines::build(byPriority)->copyText(), Journalctl("--file " + file, "-p warning"));

    JournalQuery both = byUnit;
    both.highestPriority = 3;
    both.units = {"unit1.service", "unit2"};
    EXPECT_EQ(JournalLines::build(both)->copyText(), Journalctl("--file " + file, "-u unit1.service -u unit2 -p 3"));

    // The values of the listed fields, with their counts, in the order first met.
    const JournalLinesPtr all = JournalLines::build(FileQuery(file));
    const JournalLines::FieldCounts units = all->fieldCounts(0);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0], (std::pair<std::string, std::int64_t>("unit0.service", 100)));
    EXPECT_EQ(units[2], (std::pair<std::string, std::int64_t>("unit2.service", 100)));
    EXPECT_EQ(all->fieldCounts(1).size(), 4u);
    const JournalLines::FieldCounts priorities = all->fieldCounts(2);
    ASSERT_EQ(priorities.size(), 8u);
    EXPECT_EQ(priorities[3], (std::pair<std::string, std::int64_t>("3", 38)));
    EXPECT_EQ(all->fieldCounts(3), (JournalLines::FieldCounts{{"0123456789abcdef0123456789abcdef", 300}}));

    JournalQuery byField = FileQuery(file);
    byField.fields = {"SYSLOG_IDENTIFIER=app1", "SYSLOG_IDENTIFIER=app2", "PRIORITY=1"};
    EXPECT_EQ(JournalLines::build(byField)->copyText(),
              Journalctl("--file " + file, "SYSLOG_IDENTIFIER=app1 SYSLOG_IDENTIFIER=app2 PRIORITY=1"));
}

// Boots by number: 0 the last, -1 the one before, 1 the first.
TEST(JournalLines, BootsByNumber)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string file = dir.path("boots.journal");
    std::vector<ExportEntry> entries = ManyEntries(30);
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i].boot = i < 10 ? "11111111111111111111111111111111"
                          : i < 20 ? "22222222222222222222222222222222"
                                   : "33333333333333333333333333333333";
    ASSERT_TRUE(MakeJournal(file, ExportText(entries)));
    for (const char* boot : {"0", "-1", "1", "-2"}) {
        JournalQuery query = FileQuery(file);
        query.boot = boot;
        EXPECT_EQ(JournalLines::build(query)->copyText(), Journalctl("--file " + file, std::string("-b ") + boot)) << boot;
    }
    JournalQuery none = FileQuery(file);
    none.boot = "-7";
    EXPECT_THROW(JournalLines::build(none), Failure);
}

// A folder's files are merged in time, as journalctl -D does; entries written later into it
// come as a grown source.
TEST(JournalLines, FolderMergedAndGrowing)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    std::vector<ExportEntry> even, odd;
    for (int i = 0; i < 200; ++i)
        (i % 2 ? odd : even).push_back(Entry(kStart + static_cast<std::uint64_t>(i) * 1000, "at " + std::to_string(i)));
    for (auto& entry : odd)
        entry.boot = "fedcba9876543210fedcba9876543210";
    ASSERT_TRUE(MakeJournal(dir.path("even.journal"), ExportText(even)));
    ASSERT_TRUE(MakeJournal(dir.path("odd.journal"), ExportText(odd)));
    JournalQuery query;
    query.where = JournalQuery::Where::Folder;
    query.paths = {dir.folder()};
    const JournalLinesPtr lines = JournalLines::build(query);
    EXPECT_EQ(lines->copyText(), Journalctl("-D " + dir.folder()));
    EXPECT_EQ(lines->lineCount(), 200);
    EXPECT_NE(lines->lineText(1).view().find("at 1"), std::string_view::npos);
    EXPECT_EQ(lines->grown(), nullptr);

    std::vector<ExportEntry> later;
    for (int i = 200; i < 260; ++i) {
        later.push_back(Entry(kStart + static_cast<std::uint64_t>(i) * 1000, "at " + std::to_string(i)));
        later.back().boot = "00000000000000000000000000000001";
    }
    ASSERT_TRUE(MakeJournal(dir.path("later.journal"), ExportText(later)));
    const JournalLinesPtr grown = lines->grown();
    ASSERT_NE(grown, nullptr);
    EXPECT_TRUE(grown->grewFrom(*lines));
    EXPECT_FALSE(lines->grewFrom(*grown));
    EXPECT_EQ(grown->lineCount(), 260);
    EXPECT_EQ(lines->lineCount(), 200); // the earlier one stands as it was
    EXPECT_EQ(grown->copyText(), Journalctl("-D " + dir.folder()));
    EXPECT_EQ(grown->copyText().substr(0, static_cast<std::size_t>(lines->size().value())), lines->copyText());
}

// A journal merges with a plain log by time, as any log does: its stamps are the short-iso
// form, its continuation lines go with their entry, and its lines keep their levels.
TEST(JournalLines, MergesWithALogByTime)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string file = dir.path("merge.journal");
    std::vector<ExportEntry> entries;
    for (int i = 0; i < 6; ++i)
        entries.push_back(Entry(kStart + static_cast<std::uint64_t>(i) * 2000000, "journal " + std::to_string(i) + (i == 2 ? "\nmore" : ""), "app", 3));
    ASSERT_TRUE(MakeJournal(file, ExportText(entries)));
    const JournalLinesPtr journal = JournalLines::build(FileQuery(file));
    EXPECT_EQ(DetectTimeForm(*journal), TimeForm::Iso);
    // A plain log with a line between each two entries: 22:13:21, :23, ...
    std::string text;
    for (int i = 0; i < 5; ++i)
        text += "2023-11-14T22:13:2" + std::to_string(1 + 2 * i) + "Z plain " + std::to_string(i) + "\n";
    const DocumentPtr plain = LogDocument::fromBytes(text);
    const MergedLinesPtr merged = MergedLines::build({{journal, TimeForm::Iso, StampContext()}, {plain, TimeForm::Iso, StampContext()}});
    ASSERT_NE(merged, nullptr);
    ASSERT_EQ(merged->lineCount(), 12);
    const std::vector<std::pair<std::size_t, std::string>> expected = {
        {0, "journal 0"}, {1, "plain 0"}, {0, "journal 1"}, {1, "plain 1"}, {0, "journal 2"}, {0, "more"},
        {1, "plain 2"},   {0, "journal 3"}, {1, "plain 3"}, {0, "journal 4"}, {1, "plain 4"}, {0, "journal 5"}};
    for (std::size_t row = 0; row < expected.size(); ++row) {
        EXPECT_EQ(merged->fileOf(static_cast<std::int64_t>(row)), expected[row].first) << row;
        EXPECT_TRUE(merged->lineText(static_cast<std::int64_t>(row)).view().ends_with(expected[row].second)) << row;
        EXPECT_EQ(merged->lineLevel(static_cast<std::int64_t>(row)), expected[row].first == 0 ? LineLevel::Error : LineLevel::None);
    }
}

// The tail is the last entries only, as journalctl -n gives them.
TEST(JournalLines, TailAndTime)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string file = dir.path("tail.journal");
    ASSERT_TRUE(MakeJournal(file, ExportText(ManyEntries(500))));
    const JournalLinesPtr tail = JournalLines::tail(FileQuery(file), 50);
    EXPECT_TRUE(tail->partial());
    EXPECT_EQ(tail->entryCount(), 50);
    EXPECT_EQ(tail->copyText(), Journalctl("--file " + file, "-n 50"));

    const JournalLinesPtr lines = JournalLines::build(FileQuery(file));
    // Entry i is at kStart + i seconds.
    for (int i : {0, 1, 63, 64, 65, 300, 499}) {
        const LineNumber line = lines->lineAtTime(kStart + static_cast<std::uint64_t>(i) * 1000000 - 500000);
        EXPECT_NE(lines->lineText(line).view().find(": entry " + std::to_string(i)), std::string_view::npos) << i;
    }
    EXPECT_EQ(lines->lineAtTime(kStart + 600ULL * 1000000), EndLine(lines->lineCount()));
}

// A file that is no journal, or a broken one, says why; entries that cannot be read are
// skipped and counted.
TEST(JournalLines, CorruptedFiles)
{
    ZoneGuard zone("UTC");
    TempDir dir;
    const std::string garbage = dir.write("garbage.journal", std::string(4096, 'x'));
    try {
        JournalLines::build(FileQuery(garbage));
        ADD_FAILURE() << "a file of garbage opened";
    } catch (const Failure& failure) {
        EXPECT_NE(std::string(failure.what()).find(garbage), std::string::npos) << failure.what();
    }
    EXPECT_THROW(JournalLines::build(FileQuery(dir.path("missing.journal"))), Failure);

    // Break the objects of two entries' messages: journalctl leaves those entries out, and so
    // do we, counting them.
    const std::string file = dir.path("broken.journal");
    ASSERT_TRUE(MakeJournal(file, ExportText(ManyEntries(400))));
    std::string bytes = readFile(file);
    for (const char* message : {"MESSAGE=entry 123", "MESSAGE=entry 321"}) {
        const std::size_t payload = bytes.find(std::string(message) + '\0');
        ASSERT_NE(payload, std::string::npos);
        // The data object's header: its type (1) and its size, up to the payload's end.
        std::size_t object = payload - 8;
        auto sizeAt = [&](std::size_t at) {
            std::uint64_t size = 0;
            for (int i = 7; i >= 0; --i)
                size = size << 8 | static_cast<unsigned char>(bytes[at + 8 + static_cast<std::size_t>(i)]);
            return size;
        };
        while (object > payload - 200 && !(bytes[object] == 1 && sizeAt(object) == payload - object + std::strlen(message)))
            --object;
        ASSERT_EQ(bytes[object], 1);
        bytes[object] = 0x55;
    }
    const std::string brokenFile = dir.write("scribbled.journal", bytes);
    const JournalLinesPtr lines = JournalLines::build(FileQuery(brokenFile));
    EXPECT_EQ(lines->copyText(), Journalctl("--file " + brokenFile));
    EXPECT_EQ(lines->entryCount(), 398);
    EXPECT_EQ(lines->skipped(), 2);
}
