#include "document/logdocument.h"
#include "document/mergedlines.h"
#include "search/overview.h"
#include "search/timehistogram.h"
#include "support/zone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

using testing::kCentralEurope;
using testing::utcNanos;
using testing::ZoneGuard;

constexpr std::int64_t kSecond = 1'000'000'000;

ColourRules labelRules()
{
    ColourRules rules;
    rules.errorLabels[0] = "error";
    rules.errorLabels[1] = "fail";
    rules.infoLabels[0] = "info";
    rules.infoLabels[1] = "warn";
    return rules;
}

std::string isoStamp(std::int64_t seconds)
{
    const std::time_t t = seconds;
    std::tm parts{};
    ::gmtime_r(&t, &parts);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return stamp;
}

// A log whose lines are minutes apart, with labels of both kinds (in any case, inside words),
// stack traces without stamps, a few lines before the first stamp and (unless not wanted) a few
// steps backwards.
std::string randomLog(std::mt19937& random, int lines, std::int64_t maxStep = 400, bool backwards = true)
{
    static const char* const kWords[] = {"plain text", "ERROR here", "a xErRoRx word", "Info only", "warning",
                                         "it failed", "both info and Error", "nothing", "unwarned"};
    std::string text = "started without a time\n  info before any stamp\n";
    std::int64_t seconds = utcNanos(2026, 12, 7, 10, 0, 0) / kSecond;
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<std::int64_t> step(0, maxStep);
    for (int i = 0; i < lines; ++i) {
        const int k = kind(random);
        const std::string words = kWords[random() % std::size(kWords)];
        if (k < 2) {
            text += "    at " + words + " frame " + std::to_string(i) + "\n";
            continue;
        }
        seconds += k == 2 && backwards ? -30 : step(random);
        text += isoStamp(seconds) + " " + words + " " + std::to_string(i) + "\n";
    }
    return text;
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

struct Direct {
    std::vector<std::int64_t> times; // carried, or -1 before the first stamp
    std::vector<TimeBucket> kinds;   // one line each: its error or info part
};

// Each line's carried time and kind, line by line: an error label anywhere in the line, else an
// info label, ignoring case.
Direct directCount(const LineSource& lines, const StampContext& ctx)
{
    Direct direct;
    std::int64_t carried = -1;
    for (LineNumber line = 0; line < EndLine(lines.lineCount()); ++line) {
        const std::string text = upper(std::string(lines.lineText(line).view()));
        if (const auto time = ParseStamp(text, TimeForm::Iso, ctx))
            carried = *time;
        direct.times.push_back(carried);
        const bool error = text.find("ERROR") != std::string::npos || text.find("FAIL") != std::string::npos;
        const bool info = text.find("INFO") != std::string::npos || text.find("WARN") != std::string::npos;
        direct.kinds.push_back({1, error ? 1 : 0, !error && info ? 1 : 0});
    }
    return direct;
}

// The buckets the direct count gives on the histogram's own intervals.
std::vector<TimeBucket> directBuckets(const Direct& direct, const TimeHistogram& histogram)
{
    std::vector<TimeBucket> buckets(histogram.buckets().size());
    for (std::size_t i = 0; i < direct.times.size(); ++i) {
        if (direct.times[i] < 0)
            continue;
        const std::int64_t at = direct.times[i] - histogram.origin();
        EXPECT_GE(at, 0);
        const auto bucket = static_cast<std::size_t>(at / histogram.interval());
        EXPECT_LT(bucket, buckets.size());
        if (at >= 0 && bucket < buckets.size())
            buckets[bucket] += direct.kinds[i];
    }
    return buckets;
}

TEST(TimeHistogram, CountsEqualADirectCountLineByLine)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    const auto rules = std::make_shared<const ColourRules>(labelRules());
    std::mt19937 random(5);
    for (const std::int64_t maxStep : {0, 3, 400}) {
        const DocumentPtr log = LogDocument::fromBytes(randomLog(random, 500, maxStep));
        const LogHistogramPtr counts = LogHistogram::count(log, TimeForm::Iso, ctx, rules);
        ASSERT_TRUE(counts);
        const TimeHistogram& histogram = counts->histogram();
        const Direct direct = directCount(*log, ctx);
        EXPECT_EQ(histogram.buckets(), directBuckets(direct, histogram)) << maxStep;
        // Every line after the first stamp counts, stack traces at their header's time.
        EXPECT_EQ(histogram.lines(), std::count_if(direct.times.begin(), direct.times.end(), [](auto t) { return t >= 0; }));
        // The intervals are the finest of the ladder that the range fits in, on whole intervals.
        const std::int64_t interval = histogram.interval();
        EXPECT_LE(static_cast<std::int64_t>(histogram.buckets().size()), TimeHistogram::kMaxBuckets);
        EXPECT_EQ(histogram.origin() % interval, 0);
        if (interval > TimeHistogram::kFirstInterval) {
            std::int64_t finer = TimeHistogram::kFirstInterval;
            while (NextInterval(finer) < interval)
                finer = NextInterval(finer);
            const std::int64_t start = histogram.intervalStart(histogram.firstTime(), finer);
            EXPECT_GT((histogram.endTime() - start + finer - 1) / finer, TimeHistogram::kMaxBuckets) << maxStep;
        }
    }
    // Without rules there are no error or info parts; a log without stamps counts nothing.
    const DocumentPtr log = LogDocument::fromBytes(randomLog(random, 50));
    const LogHistogramPtr unlabelled = LogHistogram::count(log, TimeForm::Iso, ctx, nullptr);
    EXPECT_GT(unlabelled->histogram().lines(), 0);
    for (const TimeBucket& bucket : unlabelled->histogram().buckets())
        EXPECT_EQ(bucket.errors + bucket.infos, 0);
    EXPECT_TRUE(LogHistogram::count(LogDocument::fromBytes("no\ntimes\n"), TimeForm::Iso, ctx, rules)->histogram().empty());
}

TEST(TimeHistogram, BarsGatherWholeBucketsToFitAWidth)
{
    const ZoneGuard zone(kCentralEurope);
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    std::mt19937 random(9);
    const DocumentPtr log = LogDocument::fromBytes(randomLog(random, 400, 900));
    const LogHistogramPtr counts = LogHistogram::count(log, TimeForm::Iso, ctx, nullptr);
    const TimeHistogram& histogram = counts->histogram();
    for (const int maxBars : {1, 7, 100, 5000}) {
        const TimeHistogram::Bars bars = histogram.bars(maxBars);
        ASSERT_FALSE(bars.bars.empty());
        EXPECT_LE(static_cast<int>(bars.bars.size()), maxBars);
        EXPECT_EQ(bars.interval % histogram.interval(), 0);
        EXPECT_EQ(IntervalAtLeast(bars.interval), bars.interval);
        // Bars begin on the local clock's whole intervals (Central Europe is an hour ahead in
        // winter), and hold every line counted, each in the bar of its time.
        EXPECT_EQ((bars.start + 3600 * kSecond) % std::min(bars.interval, 86400 * kSecond), 0);
        std::int64_t lines = 0;
        for (const TimeBucket& bar : bars.bars)
            lines += bar.lines;
        EXPECT_EQ(lines, histogram.lines());
        const Direct direct = directCount(*log, ctx);
        for (std::size_t i = 0; i < direct.times.size(); i += 37) {
            if (direct.times[i] >= 0) {
                EXPECT_GT(bars.bars[static_cast<std::size_t>((direct.times[i] - bars.start) / bars.interval)].lines, 0);
            }
        }
    }
    EXPECT_EQ(IntervalText(IntervalAtLeast(2 * kSecond)), "5 s");
    EXPECT_EQ(IntervalText(IntervalAtLeast(61 * kSecond)), "5 min");
    EXPECT_EQ(IntervalText(IntervalAtLeast(2 * 3600 * kSecond)), "3 h");
    EXPECT_EQ(IntervalText(IntervalAtLeast(86400 * kSecond)), "1 day");
    EXPECT_EQ(IntervalText(NextInterval(7 * 86400 * kSecond)), "14 days");
}

// A log read through another, telling the lowest offset a pass read.
class ReadWatch : public LineSource {
public:
    explicit ReadWatch(DocumentPtr inner) : m_inner(std::move(inner)) {}
    ByteOffset size() const override { return m_inner->size(); }
    LineCount lineCount() const override { return m_inner->lineCount(); }
    LineCount rowCount() const override { return m_inner->rowCount(); }
    ByteOffset lineIndex(LineNumber line) const override { return m_inner->lineIndex(line); }
    ByteOffset lineContentEnd(LineNumber line) const override { return m_inner->lineContentEnd(line); }
    LineNumber lineFromOffset(ByteOffset offset) const override { return m_inner->lineFromOffset(offset); }
    TextSlice slice(ByteOffset from, ByteOffset to) const override
    {
        lowest = std::min(lowest, from);
        return m_inner->slice(from, to);
    }
    std::int64_t longestLine() const override { return m_inner->longestLine(); }
    std::int64_t widestLineColumns() const override { return m_inner->widestLineColumns(); }
    bool grewFrom(const LineSource& earlier) const override
    {
        const auto* watched = dynamic_cast<const ReadWatch*>(&earlier);
        return watched && m_inner->grewFrom(*watched->m_inner);
    }
    mutable ByteOffset lowest = INT64_MAX;

protected:
    std::string_view passBytes(ByteOffset start, std::size_t length, std::string& buffer) const override
    {
        lowest = std::min(lowest, start);
        buffer = m_inner->read(start, start + static_cast<std::int64_t>(length)).view();
        return buffer;
    }

private:
    DocumentPtr m_inner;
};

TEST(TimeHistogram, GrowingCountsOnlyTheNewLinesAndEqualsAFreshCount)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    const auto rules = std::make_shared<const ColourRules>(labelRules());
    std::mt19937 random(17);
    const std::string text = randomLog(random, 400, 30) + "2026-12-07T23:59:59Z the last line fails\n";
    // Cut anywhere: in a stamp, in a label (the last line's part changes as it grows), at a line's
    // start, and before any line.
    for (const std::size_t cut : {std::size_t{0}, std::size_t{10}, text.size() / 2, text.find("ERROR", 2000) + 3,
                                  text.find("\n", 3000) + 1, text.size() - 5}) {
        auto buffer = std::make_shared<TextBuffer>(text.size());
        std::copy(text.begin(), text.end(), buffer->data());
        const DocumentPtr before = LogDocument::adopt(buffer, cut, FileIdentity{});
        const DocumentPtr after = before->appended(std::string_view(text).substr(cut));
        const auto watchedBefore = std::make_shared<ReadWatch>(before);
        const auto watchedAfter = std::make_shared<ReadWatch>(after);
        const LogHistogramPtr first = LogHistogram::count(watchedBefore, TimeForm::Iso, ctx, rules);
        const LogHistogramPtr grown = first->grownTo(watchedAfter);
        ASSERT_TRUE(grown);
        // Nothing before the last line counted before was read again.
        const LineNumber lastBefore = std::max<LineNumber>(EndLine(before->lineCount()) - 1, 0);
        EXPECT_GE(watchedAfter->lowest, before->lineIndex(lastBefore)) << cut;
        const LogHistogramPtr fresh = LogHistogram::count(after, TimeForm::Iso, ctx, rules);
        EXPECT_EQ(grown->histogram().buckets(), fresh->histogram().buckets()) << cut;
        EXPECT_EQ(grown->histogram().origin(), fresh->histogram().origin()) << cut;
        EXPECT_EQ(grown->histogram().lines(), fresh->histogram().lines()) << cut;
        EXPECT_EQ(grown->histogram().buckets(), directBuckets(directCount(*after, ctx), grown->histogram())) << cut;
    }
}

TEST(TimeHistogram, AWindowCountsItsLinesOnly)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    const auto rules = std::make_shared<const ColourRules>(labelRules());
    std::mt19937 random(23);
    const DocumentPtr log = LogDocument::fromBytes(randomLog(random, 600, 60));
    const Direct direct = directCount(*log, ctx);
    const std::int64_t from = utcNanos(2026, 12, 7, 11, 0, 0);
    const std::int64_t to = utcNanos(2026, 12, 7, 11, 7, 30);
    // The whole log counted in the window, and only the stretch of lines around it: the same.
    const std::optional<TimeHistogram> whole =
        CountWindow(*log, 0, EndLine(log->lineCount()), std::nullopt, from, to, TimeForm::Iso, ctx, rules.get());
    ASSERT_TRUE(whole);
    // Seven and a half minutes in at most 4096 buckets: half seconds.
    EXPECT_EQ(whole->interval(), kSecond / 2);
    std::int64_t inside = 0;
    std::size_t firstInside = direct.times.size(), lastInside = 0;
    for (std::size_t i = 0; i < direct.times.size(); ++i) {
        if (direct.times[i] >= from && direct.times[i] < to) {
            ++inside;
            firstInside = std::min(firstInside, i);
            lastInside = i;
        }
    }
    ASSERT_GT(inside, 0);
    EXPECT_EQ(whole->lines(), inside);
    EXPECT_EQ(whole->buckets(), directBuckets(
                                    [&] {
                                        Direct in = direct;
                                        for (std::int64_t& time : in.times)
                                            time = time >= from && time < to ? time : -1;
                                        return in;
                                    }(),
                                    *whole));
    const std::optional<TimeHistogram> part =
        CountWindow(*log, static_cast<std::int64_t>(firstInside), static_cast<std::int64_t>(lastInside) + 1,
                    direct.times[firstInside - 1] >= 0 ? std::optional(direct.times[firstInside - 1]) : std::nullopt,
                    from, to, TimeForm::Iso, ctx, rules.get());
    ASSERT_TRUE(part);
    EXPECT_EQ(part->buckets(), whole->buckets());
    const std::atomic<bool> cancelled{true};
    EXPECT_FALSE(CountWindow(*log, 0, EndLine(log->lineCount()), std::nullopt, from, to, TimeForm::Iso, ctx,
                             rules.get(), &cancelled));
}

// A web server's log over the same hours, in its own form of stamps, with labels and lines
// without a stamp.
std::string webLog(std::mt19937& random, int lines)
{
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static const char* const kWords[] = {"GET /", "GET /error", "POST /info", "GET /failed", "HEAD /"};
    std::string text;
    std::int64_t seconds = utcNanos(2026, 12, 7, 10, 0, 30) / kSecond;
    for (int i = 0; i < lines; ++i) {
        if (i % 9 == 8) {
            text += "  continued " + std::to_string(i) + "\n";
            continue;
        }
        seconds += static_cast<std::int64_t>(random() % 200);
        const std::time_t t = seconds;
        std::tm parts{};
        ::gmtime_r(&t, &parts);
        char stamp[48];
        std::snprintf(stamp, sizeof stamp, "[%02d/%s/%04d:%02d:%02d:%02d +0000]", parts.tm_mday, kMonths[parts.tm_mon],
                      parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
        text += std::string("10.0.0.1 - - ") + stamp + " \"" + kWords[random() % std::size(kWords)] + "\" 200 " +
                std::to_string(i) + "\n";
    }
    return text;
}

// Each merged row's time, as the merge gives it, and its kind, row by row.
Direct directRows(const MergedLines& merged)
{
    Direct direct;
    for (LineNumber row = 0; row < EndLine(merged.lineCount()); ++row) {
        const std::string text = upper(std::string(merged.lineText(row).view()));
        direct.times.push_back(merged.timeOfRow(row).value_or(-1));
        const bool error = text.find("ERROR") != std::string::npos || text.find("FAIL") != std::string::npos;
        const bool info = text.find("INFO") != std::string::npos || text.find("WARN") != std::string::npos;
        direct.kinds.push_back({1, error ? 1 : 0, !error && info ? 1 : 0});
    }
    return direct;
}

// A log of several parts that is no merge, shown as the merge it wraps shows them: the counts
// reach its parts through the line source alone.
class Parted final : public LineSource, public TimedParts {
public:
    explicit Parted(MergedLinesPtr merge) : m_merge(std::move(merge)) {}
    ByteOffset size() const override { return m_merge->size(); }
    LineCount lineCount() const override { return m_merge->lineCount(); }
    LineCount rowCount() const override { return m_merge->rowCount(); }
    ByteOffset lineIndex(LineNumber line) const override { return m_merge->lineIndex(line); }
    ByteOffset lineContentEnd(LineNumber line) const override { return m_merge->lineContentEnd(line); }
    LineNumber lineFromOffset(ByteOffset offset) const override { return m_merge->lineFromOffset(offset); }
    TextSlice slice(ByteOffset from, ByteOffset to) const override { return m_merge->slice(from, to); }
    std::int64_t longestLine() const override { return m_merge->longestLine(); }
    std::int64_t widestLineColumns() const override { return m_merge->widestLineColumns(); }
    bool grewFrom(const LineSource&) const override { return false; }
    const TimedParts* timedParts() const override { return this; }
    std::size_t partCount() const override { return m_merge->partCount(); }
    Part part(std::size_t index) const override { return m_merge->part(index); }
    std::vector<Place> placesAt(LineNumber row) const override { return m_merge->placesAt(row); }
    LineNumber firstRowAtOrAfter(std::int64_t time) const override { return m_merge->firstRowAtOrAfter(time); }

private:
    MergedLinesPtr m_merge;
};

// A merged log's counts are those of its rows, whatever form each file writes its stamps in;
// they grow with a file at the cost of its new lines, follow the files shown, and a window of
// them counts the rows in it.
TEST(TimeHistogram, AMergedLogCountsItsRowsInEachFilesForm)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    const auto rules = std::make_shared<const ColourRules>(labelRules());
    std::mt19937 random(31);
    // The application's log grows by lines whose times fall among the web server's. (Its times
    // never go backwards, so that a window's rows lie between the rows the merge finds for it.)
    const std::string app = randomLog(random, 700, 40, false);
    const std::size_t cut = app.find('\n', app.size() * 2 / 3) + 1;
    auto buffer = std::make_shared<TextBuffer>(app.size());
    std::copy(app.begin(), app.end(), buffer->data());
    const DocumentPtr appBefore = LogDocument::adopt(buffer, cut, FileIdentity{});
    const DocumentPtr appAfter = appBefore->appended(std::string_view(app).substr(cut));
    const auto web = std::make_shared<ReadWatch>(LogDocument::fromBytes(webLog(random, 600)));
    ASSERT_EQ(DetectTimeForm(*web), TimeForm::WebServer);

    const MergedLinesPtr merged =
        MergedLines::build({{appBefore, TimeForm::Iso, ctx}, {web, TimeForm::WebServer, ctx}});
    const LogHistogramPtr counts = LogHistogram::countParts(merged, rules);
    ASSERT_TRUE(counts);
    EXPECT_TRUE(counts->byParts());
    const Direct direct = directRows(*merged);
    EXPECT_EQ(counts->histogram().buckets(), directBuckets(direct, counts->histogram()));
    EXPECT_EQ(counts->histogram().lines(), std::count_if(direct.times.begin(), direct.times.end(), [](auto t) { return t >= 0; }));

    // The grown file's new lines are read, the other file not at all.
    const MergedLinesPtr grown = merged->grownTo({appAfter, web});
    web->lowest = INT64_MAX;
    const LogHistogramPtr grownCounts = counts->grownTo(grown);
    ASSERT_TRUE(grownCounts);
    EXPECT_EQ(web->lowest, INT64_MAX);
    EXPECT_EQ(grownCounts->histogram().buckets(), directBuckets(directRows(*grown), grownCounts->histogram()));
    EXPECT_EQ(grownCounts->histogram().buckets(), LogHistogram::countParts(grown, rules)->histogram().buckets());

    // A hidden file's rows are not counted; shown again, they are, without a new read.
    const MergedLinesPtr appOnly = grown->withShown({true, false});
    const LogHistogramPtr appCounts = LogHistogram::countParts(appOnly, rules, grownCounts.get());
    EXPECT_EQ(appCounts->histogram().buckets(), directBuckets(directRows(*appOnly), appCounts->histogram()));
    const MergedLinesPtr both = grown->withShown({true, true});
    web->lowest = INT64_MAX;
    const LogHistogramPtr bothAgain = LogHistogram::countParts(both, rules, appCounts.get());
    EXPECT_EQ(web->lowest, INT64_MAX);
    EXPECT_EQ(bothAgain->histogram().lines(), grownCounts->histogram().lines());

    // A closer look: the rows whose times fall in the window, from both files.
    const std::int64_t from = utcNanos(2026, 12, 7, 10, 40, 0);
    const std::int64_t to = utcNanos(2026, 12, 7, 11, 5, 0);
    const std::optional<TimeHistogram> window = CountPartsWindow(*grown, from, to, rules.get());
    ASSERT_TRUE(window);
    Direct inside = directRows(*grown);
    for (std::int64_t& time : inside.times)
        time = time >= from && time < to ? time : -1;
    EXPECT_GT(window->lines(), 0);
    EXPECT_EQ(window->buckets(), directBuckets(inside, *window));

    // Any source made of parts is counted through them, whatever its kind; one of a single log
    // is not counted so.
    const auto parted = std::make_shared<const Parted>(grown);
    EXPECT_EQ(LogHistogram::countParts(parted, rules)->histogram().buckets(), grownCounts->histogram().buckets());
    EXPECT_EQ(counts->grownTo(parted)->histogram().buckets(), grownCounts->histogram().buckets());
    EXPECT_EQ(CountPartsWindow(*parted, from, to, rules.get())->buckets(), window->buckets());
    EXPECT_FALSE(LogHistogram::countParts(appAfter, rules));
    EXPECT_EQ(CountPartsWindow(*appAfter, from, to, rules.get())->lines(), 0);
}

TEST(MarkLineBlocks, VisitsEveryLineInOrderWithTheMarksOfMarkLines)
{
    const ColourRules rules = labelRules();
    std::mt19937 random(3);
    std::string text = randomLog(random, 200);
    text.insert(text.find('\n', 1000) + 1, "ERROR " + std::string(300, 'x') + " info\n"); // a long line
    const DocumentPtr log = LogDocument::fromBytes(text);
    const std::vector<std::uint8_t> reference = MarkLines(*log, 0, &rules, {});
    for (const bool plain : {false, true}) {
        MarkLinesTuning tuning;
        tuning.blockBytes = 64;
        tuning.longLine = 100;
        tuning.plainSearch = plain;
        for (const auto& [first, end] : {std::pair<std::int64_t, std::int64_t>{0, log->lineCount().value()}, {17, 90}}) {
            LineNumber next = first;
            EXPECT_TRUE(MarkLineBlocks(
                *log, first, end, &rules,
                [&](LineNumber blockFirst, LineNumber blockEnd, std::string_view bytes, const std::uint8_t* marks) {
                    EXPECT_EQ(blockFirst, next);
                    const TextSlice startSlice = log->lineText(blockFirst);
                    const std::string_view start = startSlice;
                    EXPECT_EQ(bytes.substr(0, std::min(start.size(), bytes.size())), start.substr(0, std::min(start.size(), bytes.size())));
                    for (LineNumber line = blockFirst; line < blockEnd; ++line)
                        EXPECT_EQ(marks[(line - blockFirst).value()], reference[static_cast<std::size_t>(line)] & (kMarkError | kMarkInfo)) << line;
                    next = blockEnd;
                    return true;
                },
                nullptr, tuning));
            EXPECT_EQ(next, end);
        }
    }
    // A visit that says stop ends the pass.
    int visits = 0;
    MarkLinesTuning small;
    small.blockBytes = 64;
    EXPECT_FALSE(MarkLineBlocks(*log, 0, EndLine(log->lineCount()), nullptr,
                                [&](LineNumber, LineNumber, std::string_view, const std::uint8_t*) { return ++visits < 3; },
                                nullptr, small));
    EXPECT_EQ(visits, 3);
}

} // namespace
} // namespace tlg
