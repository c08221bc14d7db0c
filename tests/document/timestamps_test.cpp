#include "document/logdocument.h"
#include "document/timestamps.h"
#include "support/zone.h"

#include <gtest/gtest.h>

#include <string>

namespace tlg {
namespace {

using testing::kCentralEurope;
using testing::utcNanos;
using testing::ZoneGuard;

constexpr std::int64_t kMs = 1'000'000;

struct StampCase {
    const char* line;
    TimeForm form;
    std::int64_t time;
};

void expectStamps(const StampContext& ctx, std::initializer_list<StampCase> cases)
{
    for (const StampCase& c : cases) {
        EXPECT_EQ(RecogniseStamp(c.line, ctx), c.form) << c.line;
        EXPECT_EQ(ParseStamp(c.line, c.form, ctx), c.time) << c.line;
    }
}

TEST(TimeStamps, EveryFormWithZonesAndFractions)
{
    const ZoneGuard zone(kCentralEurope); // UTC+1, +2 in summer
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    expectStamps(ctx, {
        {"2026-12-07T10:00:01Z rest", TimeForm::Iso, utcNanos(2026, 12, 7, 10, 0, 1)},
        {"2026-12-07 10:00:01,123 INFO started", TimeForm::Iso, utcNanos(2026, 12, 7, 9, 0, 1, 123 * kMs)},
        {"2026-12-07T10:00:01.123456789+01:00 x", TimeForm::Iso, utcNanos(2026, 12, 7, 9, 0, 1, 123456789)},
        {"2026-12-07T10:00:01.1234567899-0130 x", TimeForm::Iso, utcNanos(2026, 12, 7, 11, 30, 1, 123456789)},
        {"2026-07-07 10:00:01 summer", TimeForm::Iso, utcNanos(2026, 7, 7, 8, 0, 1)},
        {"[2026-12-07 10:00:01.5] x", TimeForm::Iso, utcNanos(2026, 12, 7, 9, 0, 1, 500 * kMs)},
        {"INFO  2026-12-07 10:00:01 x", TimeForm::Iso, utcNanos(2026, 12, 7, 9, 0, 1)},
        {"[ERROR] 2026-12-07 10:00 no seconds", TimeForm::Iso, utcNanos(2026, 12, 7, 9, 0, 0)},
        {"[main] warning: 2026-12-07 10:00:02 x", TimeForm::Iso, utcNanos(2026, 12, 7, 9, 0, 2)},
        {"<13>1 2026-12-07T10:00:01.003Z host app - -", TimeForm::Iso, utcNanos(2026, 12, 7, 10, 0, 1, 3 * kMs)},
        {"2026-12-07T10:00:01+0000 host systemd[1]: ok", TimeForm::Iso, utcNanos(2026, 12, 7, 10, 0, 1)},
        {"2026-12-07 10:00:01 +0200 x", TimeForm::Iso, utcNanos(2026, 12, 7, 8, 0, 1)},
        {"2026-12-07 10:00:01 - message", TimeForm::Iso, utcNanos(2026, 12, 7, 9, 0, 1)},
        {"Dec  7 10:00:01 host sshd[12]: x", TimeForm::Syslog, utcNanos(2026, 12, 7, 9, 0, 1)},
        {"Dec 07 10:00:01.250 host kernel: x", TimeForm::Syslog, utcNanos(2026, 12, 7, 9, 0, 1, 250 * kMs)},
        {"<30>Jul 7 10:00:01 host x", TimeForm::Syslog, utcNanos(2026, 7, 7, 8, 0, 1)},
        {"127.0.0.1 - frank [07/Dec/2026:10:00:01 +0000] \"GET / HTTP/1.1\" 200", TimeForm::WebServer,
         utcNanos(2026, 12, 7, 10, 0, 1)},
        {"::1 - - [07/Jul/2026:10:00:01 -0700] \"GET /a HTTP/1.1\"", TimeForm::WebServer,
         utcNanos(2026, 7, 7, 17, 0, 1)},
        {"[07/Dec/2026:10:00:01] no zone", TimeForm::WebServer, utcNanos(2026, 12, 7, 9, 0, 1)},
        {"2026/12/07 10:00:01.25 x", TimeForm::Slashed, utcNanos(2026, 12, 7, 9, 0, 1, 250 * kMs)},
        {"1765101601 x", TimeForm::EpochSeconds, std::int64_t{1765101601} * 1'000'000'000},
        {"[1765101601.123] x", TimeForm::EpochSeconds, std::int64_t{1765101601} * 1'000'000'000 + 123 * kMs},
        {"1765101601123 x", TimeForm::EpochMillis, std::int64_t{1765101601123} * kMs},
        {"[1765101601123.5] x", TimeForm::EpochMillis, std::int64_t{1765101601123} * kMs + 500'000},
    });

    // The same stamps without a zone in UTC.
    const ZoneGuard utc("UTC");
    const StampContext utcCtx(utcNanos(2026, 12, 8, 0, 0, 0));
    expectStamps(utcCtx, {
        {"2026-12-07 10:00:01,123 x", TimeForm::Iso, utcNanos(2026, 12, 7, 10, 0, 1, 123 * kMs)},
        {"Dec  7 10:00:01 host", TimeForm::Syslog, utcNanos(2026, 12, 7, 10, 0, 1)},
        {"2026/12/07 10:00:01 x", TimeForm::Slashed, utcNanos(2026, 12, 7, 10, 0, 1)},
    });
}

TEST(TimeStamps, SyslogYearComesFromTheReference)
{
    const ZoneGuard zone(kCentralEurope);
    // 2 January 2027, 01:00 local: a stamp up to a day later is this year's, any later one last
    // year's.
    const StampContext ctx(utcNanos(2027, 1, 2, 0, 0, 0));
    EXPECT_EQ(ParseStamp("Dec 31 23:00:00 h", TimeForm::Syslog, ctx), utcNanos(2026, 12, 31, 22, 0, 0));
    EXPECT_EQ(ParseStamp("Jan  2 20:00:00 h", TimeForm::Syslog, ctx), utcNanos(2027, 1, 2, 19, 0, 0));
    EXPECT_EQ(ParseStamp("Jan  3 00:30:00 h", TimeForm::Syslog, ctx), utcNanos(2027, 1, 2, 23, 30, 0));
    EXPECT_EQ(ParseStamp("Jan  3 12:00:00 h", TimeForm::Syslog, ctx), utcNanos(2026, 1, 3, 11, 0, 0));
    EXPECT_EQ(ParseStamp("Feb 29 10:00:00 h", TimeForm::Syslog, ctx), utcNanos(2024, 2, 29, 9, 0, 0));
    // Late on New Year's Eve, a stamp just after midnight is next year's.
    const StampContext eve(utcNanos(2026, 12, 31, 22, 30, 0));
    EXPECT_EQ(ParseStamp("Jan  1 00:10:00 h", TimeForm::Syslog, eve), utcNanos(2026, 12, 31, 23, 10, 0));
}

TEST(TimeStamps, NumbersAndWordsThatAreNoStamps)
{
    const ZoneGuard zone("UTC");
    const StampContext ctx(utcNanos(2026, 12, 8, 0, 0, 0));
    for (const char* line : {
             "1.2.3 released",
             "192.168.1.10 - - connected",
             "9876543210 request id",          // past 2099
             "0123456789 request id",          // before 2000
             "12345678901 eleven digits",
             "1765101601abc",
             "[1765101601.1.2] a version",
             "user 1765101601 logged in",      // an epoch only at the start or after "["
             "2026-13-07 10:00:01 month",
             "2026-02-30 10:00:01 day",
             "2026-12-07 25:00:01 hour",
             "2026-12-07 10:61:01 minute",
             "2026-12-07x10:00:01",
             "Version 2026-12-07 10:00:01", // not a level word
             "Decimal 7 10:00:01",
             "Dec 32 10:00:01 h",
             "Dec  7 10:00 h", // syslog has its seconds
             "[07/Foo/2026:10:00:01 +0000]",
             "    at com.example.Foo.bar(Foo.java:10)",
             "[a field far too long to close before the sixty-fourth byte of the line] 2026-12-07 10:00:01",
             "",
         }) {
        EXPECT_EQ(RecogniseStamp(line, ctx), TimeForm::None) << line;
    }
    // A stamp cut by the end of the head is not read past it.
    const std::string full = "2026-12-07 10:00:01.123 x";
    EXPECT_EQ(ParseStamp(std::string_view(full).substr(0, 12), TimeForm::Iso, ctx), std::nullopt);
    EXPECT_EQ(ParseStamp(std::string_view(full).substr(0, 21), TimeForm::Iso, ctx),
              utcNanos(2026, 12, 7, 10, 0, 1, 100 * kMs));
}

TEST(TimeStamps, DetectsTheFormMostLinesHave)
{
    // Continuation lines and a few lines of other forms do not count against the log's own.
    const DocumentPtr mixed = LogDocument::fromBytes(
        "1765101601 first\n"
        "2026-12-07 10:00:01,001 ERROR failed\n"
        "java.lang.IllegalStateException: 1765101602\n"
        "    at a.b.C.d(C.java:1)\n"
        "    at a.b.C.e(C.java:2)\n"
        "    at a.b.C.f(C.java:3)\n"
        "Dec  7 10:00:02 host relayed\n"
        "2026-12-07 10:00:02,001 INFO next\n"
        "[2026-12-07 10:00:03] bracketed\n");
    EXPECT_EQ(DetectTimeForm(*mixed), TimeForm::Iso);
    // Only the lines in the bytes looked at count.
    EXPECT_EQ(DetectTimeForm(*mixed, 1), TimeForm::EpochSeconds);

    const DocumentPtr web = LogDocument::fromBytes(
        "10.0.0.2 - - [07/Dec/2026:10:00:01 +0100] \"GET / HTTP/1.1\" 200 12\r\n"
        "10.0.0.3 - bob [07/Dec/2026:10:00:02 +0100] \"POST /x HTTP/1.1\" 500 0\r\n");
    EXPECT_EQ(DetectTimeForm(*web), TimeForm::WebServer);

    EXPECT_EQ(DetectTimeForm(*LogDocument::fromBytes("no stamps\n  at all\n")), TimeForm::None);
    EXPECT_EQ(DetectTimeForm(*LogDocument::empty()), TimeForm::None);
}

} // namespace
} // namespace tlg
