#include "document/logdocument.h"
#include "document/timeindex.h"
#include "support/zone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

using testing::kCentralEurope;
using testing::utcNanos;
using testing::ZoneGuard;

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::int64_t kNoTime = INT64_MIN;

// A log of ISO stamps a second or so apart: runs of equal times, stamp-less runs (stack
// traces), lines before the first stamp, a few steps backwards.
std::string randomLog(std::mt19937& random, int lines)
{
    std::string text = "header without a time\n  second header line\n";
    std::int64_t seconds = 600;
    std::uniform_int_distribution<int> kind(0, 9);
    for (int i = 0; i < lines; ++i) {
        const int k = kind(random);
        if (k < 2) {
            text += "    at a.b.C.d(C.java:" + std::to_string(i) + ")\n";
            continue;
        }
        if (k == 2)
            seconds -= 3; // a thread that wrote late
        else if (k < 6)
            seconds += 1; // else the same second again
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "2026-12-07T10:%02lld:%02lldZ ", static_cast<long long>(seconds / 60 % 60),
                      static_cast<long long>(seconds % 60));
        text += std::string(k == 9 ? "[INFO] " : "") + stamp + "line " + std::to_string(i) + "\n";
    }
    return text;
}

// The carried time of every line, parsed one line at a time.
std::vector<std::int64_t> carriedTimes(const LineSource& lines, const StampContext& ctx)
{
    std::vector<std::int64_t> times;
    std::int64_t carried = kNoTime;
    for (LineNumber line = 0; line < EndLine(lines.lineCount()); ++line) {
        if (const auto time = ParseStamp(lines.lineText(line).view(), TimeForm::Iso, ctx))
            carried = *time;
        times.push_back(carried);
    }
    return times;
}

// Every line's time and the line found for every time that matters against the reference.
void expectAsReference(const TimeIndex& index, const std::vector<std::int64_t>& carried)
{
    const auto count = static_cast<std::int64_t>(carried.size());
    std::vector<std::int64_t> highest(carried.size());
    std::vector<std::int64_t> queries{utcNanos(2020, 1, 1, 0, 0, 0), utcNanos(2030, 1, 1, 0, 0, 0)};
    std::int64_t high = kNoTime;
    for (std::size_t i = 0; i < carried.size(); ++i) {
        high = std::max(high, carried[i]);
        highest[i] = high;
        if (carried[i] != kNoTime) {
            queries.push_back(carried[i]);
            queries.push_back(carried[i] + 1);
            queries.push_back(carried[i] - 1);
        }
    }
    for (std::int64_t line = -1; line <= count; ++line) {
        const std::optional<std::int64_t> expected =
            line < 0 || line >= count || carried[static_cast<std::size_t>(line)] == kNoTime
                ? std::nullopt
                : std::optional(carried[static_cast<std::size_t>(line)]);
        ASSERT_EQ(index.timeOfLine(line), expected) << "line " << line << " step " << index.step();
    }
    for (const std::int64_t time : queries) {
        const auto first = std::find_if(highest.begin(), highest.end(), [&](std::int64_t h) { return h >= time; });
        ASSERT_EQ(index.firstLineAtOrAfter(time), LineNumber(first - highest.begin()))
            << "time " << time << " step " << index.step();
    }
    EXPECT_EQ(index.lastTime(), carried.empty() || carried.back() == kNoTime ? std::nullopt
                                                                            : std::optional(carried.back()));
}

TEST(TimeIndex, FindsLinesAndTimesAsALineByLineReading)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    std::mt19937 random(7);
    const std::string text = randomLog(random, 600);
    const DocumentPtr doc = LogDocument::fromBytes(text);
    const std::vector<std::int64_t> carried = carriedTimes(*doc, ctx);
    for (const std::int64_t step : {1, 3, 16, 1024}) {
        const TimeIndexPtr index = TimeIndex::build(doc, TimeForm::Iso, ctx, nullptr, nullptr, step);
        ASSERT_TRUE(index);
        expectAsReference(*index, carried);
    }
    // A record point costs 16 bytes.
    const TimeIndexPtr sparse = TimeIndex::build(doc, TimeForm::Iso, ctx, nullptr, nullptr, 16);
    EXPECT_LE(sparse->memory(), sizeof(TimeIndex) + 16 * (doc->lineCount().value() / 16 + 1) * 2);

    // A log without stamps, and an empty one.
    const DocumentPtr plain = LogDocument::fromBytes("a\nb\nc\n");
    const TimeIndexPtr none = TimeIndex::build(plain, TimeForm::Iso, ctx, nullptr, nullptr, 2);
    EXPECT_EQ(none->firstLineAtOrAfter(0), 3);
    EXPECT_EQ(none->timeOfLine(1), std::nullopt);
    const TimeIndexPtr empty = TimeIndex::build(LogDocument::empty(), TimeForm::Iso, ctx);
    EXPECT_EQ(empty->firstLineAtOrAfter(0), 0);
    EXPECT_EQ(empty->lastTime(), std::nullopt);
}

TEST(TimeIndex, GrowingEqualsAFreshBuild)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    std::mt19937 random(11);
    const std::string text = randomLog(random, 300);
    for (const std::int64_t step : {1, 5, 64}) {
        // Cut anywhere, in a stamp too: the last line before the cut grows with the rest.
        for (std::size_t cut : {std::size_t{0}, std::size_t{50}, text.size() / 3, text.find("T10:", 400) + 5,
                                text.size() - 1}) {
            // A buffer with room for the rest, which the grown text then shares.
            auto buffer = std::make_shared<TextBuffer>(text.size());
            std::copy(text.begin(), text.end(), buffer->data());
            const DocumentPtr before = LogDocument::adopt(buffer, cut, FileIdentity{});
            const DocumentPtr after = before->appended(std::string_view(text).substr(cut));
            ASSERT_TRUE(after->grewFrom(*before)) << cut;
            const TimeIndexPtr first = TimeIndex::build(before, TimeForm::Iso, ctx, nullptr, nullptr, step);
            const TimeIndexPtr grown = first->grownTo(after);
            ASSERT_TRUE(grown);
            expectAsReference(*grown, carriedTimes(*after, ctx));
            // Growing again by nothing changes nothing.
            expectAsReference(*grown->grownTo(after), carriedTimes(*after, ctx));
        }
    }
    // Another text is indexed anew.
    const TimeIndexPtr small = TimeIndex::build(LogDocument::fromBytes("2026-12-07T10:00:00Z a\n"), TimeForm::Iso, ctx);
    const DocumentPtr other = LogDocument::fromBytes("2026-12-07T11:00:00Z b\n2026-12-07T12:00:00Z c\n");
    expectAsReference(*small->grownTo(other), carriedTimes(*other, ctx));
}

TEST(TimeIndex, CountsItsBytesAndStopsWhenAsked)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    std::string text;
    while (text.size() < (3u << 20))
        text += "2026-12-07T10:00:00Z a line of some length to fill a few blocks quickly\n";
    const DocumentPtr doc = LogDocument::fromBytes(text);
    std::atomic<std::int64_t> bytes{0};
    ASSERT_TRUE(TimeIndex::build(doc, TimeForm::Iso, ctx, nullptr, &bytes));
    EXPECT_EQ(bytes.load(), doc->size().value());
    const std::atomic<bool> stop{true};
    bytes = 0;
    EXPECT_EQ(TimeIndex::build(doc, TimeForm::Iso, ctx, &stop, &bytes), nullptr);
    EXPECT_LT(bytes.load(), doc->size().value());
}

TEST(TimeIndex, TimeQueriesInLocalTime)
{
    const ZoneGuard zone(kCentralEurope);
    const std::int64_t reference = utcNanos(2026, 12, 7, 15, 0, 0); // 16:00 local
    EXPECT_EQ(ParseTimeQuery("2026-12-07 10:15:30.250", reference), utcNanos(2026, 12, 7, 9, 15, 30, 250'000'000));
    EXPECT_EQ(ParseTimeQuery("2026-12-07T10:15", reference), utcNanos(2026, 12, 7, 9, 15, 0));
    EXPECT_EQ(ParseTimeQuery("2026/07/01 10:00", reference), utcNanos(2026, 7, 1, 8, 0, 0));
    EXPECT_EQ(ParseTimeQuery("2026-12-07", reference), utcNanos(2026, 12, 6, 23, 0, 0));
    EXPECT_EQ(ParseTimeQuery("2026-12-07T10:15Z", reference), utcNanos(2026, 12, 7, 10, 15, 0));
    EXPECT_EQ(ParseTimeQuery("2026-12-07 10:15 +05:30", reference), utcNanos(2026, 12, 7, 4, 45, 0));
    EXPECT_EQ(ParseTimeQuery("12-06 10:15", reference), utcNanos(2026, 12, 6, 9, 15, 0));
    EXPECT_EQ(ParseTimeQuery("10:15", reference), utcNanos(2026, 12, 7, 9, 15, 0));
    EXPECT_EQ(ParseTimeQuery(" 10:15:30 ", reference), utcNanos(2026, 12, 7, 9, 15, 30));
    EXPECT_EQ(ParseTimeQuery("9:15:30.5", reference), utcNanos(2026, 12, 7, 8, 15, 30, 500'000'000));
    // The day is the reference's local day: 00:30 on the 8th here.
    EXPECT_EQ(ParseTimeQuery("10:15", utcNanos(2026, 12, 7, 23, 30, 0)), utcNanos(2026, 12, 8, 9, 15, 0));
    // A day later in the year than the reference is last year's.
    EXPECT_EQ(ParseTimeQuery("12-31 10:00", utcNanos(2027, 1, 1, 12, 0, 0)), utcNanos(2026, 12, 31, 9, 0, 0));
    for (const char* text : {"", "hello", "25:00", "10:5", "10:15 foo", "10:15:", "10:15.", "2026-13-01 10:00",
                             "2026-02-30", "26-12-07 10:00", "2026-12-07 10:15 +5"}) {
        EXPECT_EQ(ParseTimeQuery(text, reference), std::nullopt) << text;
    }
}

} // namespace
} // namespace tlg
