#include "document/logdocument.h"
#include "document/mergedlines.h"
#include "support/zone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace tlg {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kStart = 1796637600; // 2026-12-07 10:00:00 UTC
constexpr std::int64_t kNoTime = INT64_MIN;

// One log written for a test: its lines (without breaks), the time each carries (INT64_MIN
// before its first stamp), its breaks.
struct TestLog {
    TimeForm form;
    std::vector<std::string> lines;
    std::vector<std::int64_t> times;
    std::vector<std::string> breaks;

    std::string text() const
    {
        std::string bytes;
        for (std::size_t i = 0; i < lines.size(); ++i)
            bytes += lines[i] + breaks[i];
        return bytes;
    }
};

std::string stamp(TimeForm form, std::int64_t seconds)
{
    const std::time_t t = seconds;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    if (form == TimeForm::Iso)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    else if (form == TimeForm::Syslog)
        std::snprintf(text, sizeof text, "Dec %2d %02d:%02d:%02d", tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    else
        std::strftime(text, sizeof text, "127.0.0.1 - - [%d/Dec/%Y:%H:%M:%S +0000]", &tm);
    return text;
}

// Appends lines to a log: stamped lines a few seconds apart (often the same second, so that
// logs tie), some followed by unstamped continuation lines.
void addLines(TestLog& log, std::mt19937& random, int count, std::int64_t& seconds, const std::string& tag)
{
    for (int i = 0; i < count; ++i) {
        const bool continuation = !log.lines.empty() && random() % 4 == 0;
        const std::string body = " " + tag + " line " + std::to_string(log.lines.size());
        if (continuation) {
            log.lines.push_back("    at" + body);
            log.times.push_back(log.times.back());
        } else {
            seconds += static_cast<std::int64_t>(random() % 3);
            log.lines.push_back(stamp(log.form, seconds) + body);
            log.times.push_back(seconds * kSecond);
        }
        log.breaks.push_back(random() % 5 == 0 ? "\r\n" : "\n");
    }
}

TestLog makeLog(TimeForm form, std::mt19937& random, int count, int preamble, const std::string& tag)
{
    TestLog log{form, {}, {}, {}};
    for (int i = 0; i < preamble; ++i) {
        log.lines.push_back(tag + " starting " + std::to_string(i));
        log.times.push_back(kNoTime);
        log.breaks.push_back("\n");
    }
    std::int64_t seconds = kStart + static_cast<std::int64_t>(random() % 5);
    addLines(log, random, count, seconds, tag);
    return log;
}

StampContext context()
{
    return StampContext((kStart + 86400) * kSecond); // syslog stamps fall in 2026
}

// The merge done the plain way: every line of the shown logs sorted by (time, log, line).
struct Reference {
    struct Row {
        std::int64_t time;
        std::size_t file;
        std::int64_t line;
    };
    std::vector<Row> rows;
    std::string text;

    Reference(const std::vector<TestLog>& logs, const std::vector<bool>& shown)
    {
        for (std::size_t f = 0; f < logs.size(); ++f)
            for (std::size_t i = 0; f < shown.size() && shown[f] && i < logs[f].lines.size(); ++i)
                rows.push_back({logs[f].times[i], f, static_cast<std::int64_t>(i)});
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
            return std::tie(a.time, a.file, a.line) < std::tie(b.time, b.file, b.line);
        });
        for (const Row& row : rows) {
            const TestLog& log = logs[row.file];
            const auto i = static_cast<std::size_t>(row.line);
            text += log.lines[i] + (log.breaks[i].empty() ? "\n" : log.breaks[i]);
        }
    }

    LineNumber firstAtOrAfter(std::int64_t time) const
    {
        return std::partition_point(rows.begin(), rows.end(), [time](const Row& row) { return row.time < time; }) -
               rows.begin();
    }
};

std::vector<MergedLines::Log> sourcesOf(const std::vector<TestLog>& logs)
{
    std::vector<MergedLines::Log> sources;
    for (const TestLog& log : logs)
        sources.push_back({LogDocument::fromBytes(log.text()), log.form, context()});
    return sources;
}

// The merge answers as the reference's rows and as a document of the reference's bytes.
void expectAsReference(const MergedLines& merged, const Reference& reference, std::mt19937& random)
{
    const DocumentPtr whole = LogDocument::fromBytes(reference.text);
    ASSERT_TRUE(merged.copyText() == reference.text) << "the merged text differs";
    ASSERT_EQ(merged.lineCount(), whole->lineCount());
    ASSERT_EQ(merged.rowCount(), whole->rowCount());
    for (LineNumber row = -1; row <= EndLine(merged.rowCount()); ++row) {
        ASSERT_EQ(merged.lineIndex(row), whole->lineIndex(row)) << row;
        ASSERT_EQ(merged.lineContentEnd(row), whole->lineContentEnd(row)) << row;
        const ByteOffset start = whole->lineIndex(row);
        ASSERT_EQ(merged.lineFromOffset(start), whole->lineFromOffset(start)) << row;
        ASSERT_EQ(merged.lineFromOffset(start - 1), whole->lineFromOffset(start - 1)) << row;
        if (row >= 0 && row < EndLine(merged.lineCount())) {
            const Reference::Row& expected = reference.rows[static_cast<std::size_t>(row.value())];
            ASSERT_EQ(merged.fileOf(row), expected.file) << row;
            ASSERT_EQ(merged.lineInFile(row).value(), expected.line) << row;
            // The merged log numbers its own rows, so that a caret kept by its line in the log
            // comes back to the same row.
            ASSERT_EQ(merged.lineShowing(merged.lineInLog(row)), row);
            ASSERT_EQ(merged.rowOfFileLine(expected.file, expected.line), row);
            const std::optional<std::int64_t> time = merged.timeOfRow(row);
            ASSERT_EQ(time.value_or(kNoTime), expected.time) << row;
        }
    }
    std::uniform_int_distribution<std::int64_t> at(-2, merged.size().value() + 2);
    for (int i = 0; i < 300; ++i) {
        const ByteOffset offset = at(random);
        ASSERT_EQ(merged.lineFromOffset(offset), whole->lineFromOffset(offset)) << offset;
        ByteOffset from = at(random), to = at(random);
        if (from > to)
            std::swap(from, to);
        ASSERT_EQ(merged.slice(from, to).view(), whole->slice(from, to).view()) << from << " " << to;
        ASSERT_EQ(merged.read(from, to).view(), whole->read(from, to).view()) << from << " " << to;
    }
    std::string pieces;
    merged.forEachLineBlock(0, EndLine(merged.rowCount()), 4096, [&pieces](const LineBlock& block) {
        pieces += block.bytes;
        return true;
    });
    ASSERT_EQ(pieces, reference.text);
}

std::vector<TestLog> threeForms(std::mt19937& random)
{
    std::vector<TestLog> logs;
    logs.push_back(makeLog(TimeForm::Iso, random, 1500, 2, "iso"));
    logs.push_back(makeLog(TimeForm::Syslog, random, 900, 0, "syslog"));
    logs.push_back(makeLog(TimeForm::WebServer, random, 1200, 1, "web"));
    logs[1].breaks.back() = ""; // a last line without a break
    return logs;
}

TEST(MergedLines, MergesLogsOfThreeFormsInTimeOrder)
{
    testing::ZoneGuard zone("UTC0");
    std::mt19937 random(3);
    const std::vector<TestLog> logs = threeForms(random);
    std::atomic<std::int64_t> bytes{0};
    const MergedLinesPtr merged = MergedLines::build(sourcesOf(logs), {}, nullptr, &bytes);
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->fileCount(), 3u);
    EXPECT_EQ(bytes.load(), static_cast<std::int64_t>(logs[0].text().size() + logs[1].text().size() + logs[2].text().size()));
    expectAsReference(*merged, Reference(logs, {true, true, true}), random);
    // A continuation line stays behind the line before it in its log.
    for (LineNumber row = 1; row < EndLine(merged->lineCount()); ++row)
        if (merged->lineText(row).view().starts_with("    at")) {
            ASSERT_EQ(merged->fileOf(row), merged->fileOf(row - 1)) << row;
        }

    // Going to a time: the first row at or after it.
    const Reference reference(logs, {true, true, true});
    EXPECT_EQ(merged->firstRowAtOrAfter(INT64_MIN).value(), 0);
    std::uniform_int_distribution<std::int64_t> seconds(kStart - 2, kStart + 1500 * 2 + 10);
    for (int i = 0; i < 200; ++i) {
        const std::int64_t time = seconds(random) * kSecond + (i % 2 == 0 ? 0 : kSecond / 2);
        ASSERT_EQ(merged->firstRowAtOrAfter(time), reference.firstAtOrAfter(time)) << time;
    }
    for (const Reference::Row& row : reference.rows)
        if (row.time != kNoTime) {
            ASSERT_EQ(merged->firstRowAtOrAfter(row.time), reference.firstAtOrAfter(row.time));
        }
}

TEST(MergedLines, LeavesOutHiddenLogs)
{
    testing::ZoneGuard zone("UTC0");
    std::mt19937 random(5);
    const std::vector<TestLog> logs = threeForms(random);
    const std::vector<bool> shown{true, false, true};
    const MergedLinesPtr merged = MergedLines::build(sourcesOf(logs), shown);
    expectAsReference(*merged, Reference(logs, shown), random);
    EXPECT_EQ(merged->rowOfFileLine(1, 0), EndLine(merged->lineCount()));
    const MergedLinesPtr onlyMiddle = merged->withShown({false, true, false});
    expectAsReference(*onlyMiddle, Reference(logs, {false, true, false}), random);
    EXPECT_FALSE(onlyMiddle->grewFrom(*merged));
}

TEST(MergedLines, GrowsByAppendingNewestLinesAndMergesOlderOnesInPlace)
{
    testing::ZoneGuard zone("UTC0");
    std::mt19937 random(9);
    std::vector<TestLog> logs = threeForms(random);
    std::vector<MergedLines::Log> sources = sourcesOf(logs);
    // Documents with room after their text grow in place, each from the one before.
    for (std::size_t f = 0; f < sources.size(); ++f)
        sources[f].lines = LogDocument::fromBytes("")->appended(logs[f].text());
    const MergedLinesPtr first = MergedLines::build(sources);
    const std::int64_t last = std::max({logs[0].times.back(), logs[1].times.back(), logs[2].times.back()}) / kSecond;

    // Grows `file` of the logs by `lines` (and the log's bytes by `bytes`), merges the grown
    // logs onto `merged` and checks the result against the reference and a merge done anew.
    const auto grow = [&](const MergedLinesPtr& merged, std::vector<TestLog>& now, std::vector<LinesPtr>& docs,
                          std::size_t file, const std::string& bytes) {
        docs[file] = std::static_pointer_cast<const LogDocument>(docs[file])->appended(bytes);
        const MergedLinesPtr grown = merged->grownTo(docs);
        std::vector<MergedLines::Log> fresh = sources;
        for (std::size_t f = 0; f < fresh.size(); ++f)
            fresh[f].lines = docs[f];
        EXPECT_TRUE(grown->copyText() == MergedLines::build(fresh)->copyText()) << "not as merged anew";
        expectAsReference(*grown, Reference(now, {true, true, true}), random);
        return grown;
    };
    std::vector<LinesPtr> docs;
    for (const auto& source : sources)
        docs.push_back(source.lines);

    // The newest line, then a continuation of it: appended.
    std::vector<TestLog> now = logs;
    now[2].lines.push_back(stamp(TimeForm::WebServer, last + 1) + " newest");
    now[2].times.push_back((last + 1) * kSecond);
    now[2].breaks.push_back("\n");
    MergedLinesPtr grown = grow(first, now, docs, 2, now[2].lines.back() + "\n");
    EXPECT_TRUE(grown->grewFrom(*first));
    EXPECT_EQ(grown->fileOf(EndLine(grown->lineCount()) - 1), 2u);
    now[2].lines.push_back("    at the newest");
    now[2].times.push_back((last + 1) * kSecond);
    now[2].breaks.push_back("\n");
    MergedLinesPtr next = grow(grown, now, docs, 2, now[2].lines.back() + "\n");
    EXPECT_TRUE(next->grewFrom(*grown));
    EXPECT_TRUE(next->grewFrom(*first));

    // A line of the same time in an earlier log goes before the newest lines: merged anew from
    // a checkpoint.
    now[0].lines.push_back(stamp(TimeForm::Iso, last + 1) + " as new");
    now[0].times.push_back((last + 1) * kSecond);
    now[0].breaks.push_back("\n");
    grown = grow(next, now, docs, 0, now[0].lines.back() + "\n");
    EXPECT_FALSE(grown->grewFrom(*next));
    EXPECT_EQ(grown->lineText(EndLine(grown->lineCount()) - 3).view(), now[0].lines.back());

    // The syslog lags behind the others: its last line, which had no break, grows and gets
    // one, and it writes a line older than the others' last ones, which lands at its place.
    const std::int64_t lagging = logs[1].times.back() / kSecond + 1;
    ASSERT_LT(lagging + 2, last);
    now[1].lines.back() += " and more";
    now[1].breaks.back() = "\n";
    now[1].lines.push_back(stamp(TimeForm::Syslog, lagging) + " late");
    now[1].times.push_back(lagging * kSecond);
    now[1].breaks.push_back("");
    next = grow(grown, now, docs, 1, " and more\n" + now[1].lines.back());
    EXPECT_FALSE(next->grewFrom(*grown));
    const LineNumber late = next->rowOfFileLine(1, static_cast<std::int64_t>(now[1].lines.size()) - 1);
    EXPECT_EQ(next->lineText(late).view(), now[1].lines.back());
    EXPECT_LT(late, EndLine(next->lineCount()) - 10);
}

TEST(MergedLines, LargeMergeCostsAboutAByteARow)
{
    testing::ZoneGuard zone("UTC0");
    std::mt19937 random(1);
    std::vector<TestLog> logs;
    logs.push_back(makeLog(TimeForm::Iso, random, 120000, 0, "a"));
    logs.push_back(makeLog(TimeForm::Iso, random, 100000, 0, "b"));
    logs.push_back(makeLog(TimeForm::WebServer, random, 80000, 0, "c"));
    const std::vector<MergedLines::Log> sources = sourcesOf(logs);
    const MergedLinesPtr merged = MergedLines::build(sources);
    ASSERT_EQ(merged->lineCount(), 300000);
    const auto rows = static_cast<std::size_t>(merged->lineCount().value());
    EXPECT_LT(merged->memory(), rows + rows / 8 + (64u << 10));
    const Reference reference(logs, {true, true, true});
    for (const LineNumber row : {LineNumber(0), LineNumber(150001), LineNumber(299999)}) {
        const Reference::Row& expected = reference.rows[static_cast<std::size_t>(row.value())];
        const TestLog& log = logs[expected.file];
        EXPECT_EQ(merged->lineText(row).view(), log.lines[static_cast<std::size_t>(expected.line)]);
        EXPECT_EQ(merged->lineFromOffset(merged->lineIndex(row) + 3), row);
    }
    EXPECT_EQ(merged->size().value(), static_cast<std::int64_t>(reference.text.size()));

    // A merge stopped gives nothing.
    std::atomic<bool> stop{true};
    EXPECT_EQ(MergedLines::build(sources, {}, &stop), nullptr);
}

} // namespace
} // namespace tlg
