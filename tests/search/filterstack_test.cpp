// A stack of filters on a log: the lines shown against grep pipelines and against the filter's
// own line matching, over blocks of every size, as the log grows.

#include "core/errors.h"
#include "document/logdocument.h"
#include "search/filterstack.h"
#include "search/linefilter.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <random>
#include <string>
#include <vector>

using tlg::Encoding;
using tlg::FilterRow;
using tlg::FilterStack;
using tlg::FilterStackOptions;
using tlg::LineNumber;
using tlg::LogDocument;

namespace {

using Rows = std::vector<FilterRow>;

FilterRow show(std::string pattern, bool regex, bool matchCase = false)
{
    return {std::move(pattern), regex, matchCase, FilterRow::ShowOnly, true};
}

FilterRow hide(std::string pattern, bool regex, bool matchCase = false)
{
    return {std::move(pattern), regex, matchCase, FilterRow::Hide, true};
}

FilterStackOptions sized(std::int64_t block, bool vectorscan = true)
{
    FilterStackOptions options;
    options.block = block;
    options.vectorscan = vectorscan;
    // Small logs are divided between threads too.
    options.threads = 3;
    options.threadPart = 4 * block;
    return options;
}

tlg::FilterMatchesPtr runStack(const FilterStack& stack, const tlg::DocumentPtr& document)
{
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    tlg::FilterMatchesPtr matches = stack.run(document, cancel, done);
    EXPECT_TRUE(matches);
    EXPECT_EQ(done.load(), document->size().value());
    return matches;
}

// The contents of the lines shown, each followed by LF, as grep prints them.
std::string shownText(const FilterStack& stack, const std::string& text)
{
    const tlg::DocumentPtr document = LogDocument::fromBytes(text);
    const tlg::KeptLinesPtr kept = runStack(stack, document)->shown(stack.rows());
    std::string out;
    for (LineNumber line = 0; line < tlg::EndLine(kept->lineCount()); ++line)
        out += std::string(kept->lineText(line).view()) + "\n";
    return out;
}

std::vector<LineNumber> shownLines(const tlg::FilterMatches& matches, const Rows& rows)
{
    std::vector<LineNumber> lines;
    for (const auto& range : matches.shownRanges(rows)) {
        for (LineNumber line = range.first; line < range.end; ++line)
            lines.push_back(line);
    }
    return lines;
}

// What the shell pipeline prints for the log's lines (given with LF breaks).
std::string grepped(const std::string& lfText, const std::string& pipeline)
{
    const tlg::testing::TempDir dir;
    const std::string in = dir.write("log", lfText);
    const std::string out = dir.path("out");
    const std::string command = "LC_ALL=C; export LC_ALL; cat '" + in + "' | " + pipeline + " > '" + out + "'";
    std::system(command.c_str()); // grep fails when it prints nothing
    return tlg::testing::readFile(out);
}

std::string randomLog(std::mt19937& random, int lines)
{
    static const std::vector<std::string> words = {"error", "Error", "ERROR", "warn", "GET", "get", "timeout",
                                                   "a", "b", "12", "7", "x", "y", "z", "  ", "\t", "err", "ok"};
    std::string text;
    for (int i = 0; i < lines; ++i) {
        const int count = static_cast<int>(random() % 7);
        for (int w = 0; w < count; ++w)
            text += (w > 0 && random() % 3 ? " " : "") + words[random() % words.size()];
        text += '\n';
    }
    return text;
}

std::string withBreaks(const std::string& lfText, const std::string& lineBreak)
{
    std::string out;
    for (const char c : lfText)
        out += c == '\n' ? lineBreak : std::string(1, c);
    return out;
}

struct Case {
    Rows rows;
    std::string pipeline;
};

} // namespace

TEST(FilterStack, ShowsWhatGrepPipelinesPrint)
{
    const std::vector<Case> cases = {
        {{hide("timeout", false), show("^(error|warn)", true), hide("[0-9]$", true, true), show("GET", false, true)},
         "grep -v -F -i timeout | grep -E -i '^(error|warn)' | grep -v -E '[0-9]$' | grep -F GET"},
        {{hide("err", false, true), hide("x y", false), hide("(a|b) [0-9]+", true)},
         "grep -v -F err | grep -v -F -i 'x y' | grep -v -E -i '(a|b) [0-9]+'"},
        // Rows whose matches over a block may run across a break, and one that is off.
        {{show("error\\s+[0-9]", true), hide("ok[^a-z]", true, true), {"GET", false, false, FilterRow::Hide, false}},
         "grep -E -i 'error\\s+[0-9]' | grep -v -E 'ok[^a-z]'"},
        {{show("\\bget\\b", true, true), show("^[a-z]+ [a-z]+$", true)}, "grep -E '\\bget\\b' | grep -E -i '^[a-z]+ [a-z]+$'"},
        {{{"error", false, false, FilterRow::ShowOnly, false}}, "cat"},
    };
    std::mt19937 random(7);
    for (int round = 0; round < 3; ++round) {
        std::string lf = randomLog(random, 400);
        if (round == 2)
            lf.pop_back(); // the last line without its break
        const std::string reference = lf + (round == 2 ? "\n" : "");
        for (const Case& each : cases) {
            const std::string expected = grepped(reference, each.pipeline);
            for (const std::string& lineBreak : {"\n", "\r\n"}) {
                for (const std::int64_t block : {std::int64_t{4} << 20, std::int64_t{64}, std::int64_t{5}}) {
                    const FilterStack stack(each.rows, Encoding::Utf8, sized(block));
                    EXPECT_EQ(shownText(stack, withBreaks(lf, lineBreak)), expected)
                        << each.pipeline << " block " << block << " CR LF " << (lineBreak.size() == 2);
                }
            }
        }
    }
}

TEST(FilterStack, AgreesWithTheLineFilterLineByLine)
{
    // Lone CR breaks, empty lines, lines with UTF-8 letters that a regular expression reads
    // as characters, Windows-1252 letters that fold.
    const std::vector<std::pair<Encoding, Rows>> stacks = {
        {Encoding::Utf8, {show("caf.", true), hide("^\\w+$", true), hide("x\\s", true)}},
        {Encoding::Utf8, {show("(?i)CAFÉ|get", true), hide("^$", true)}},
        {Encoding::Windows1252, {show("\xC9T\xC9", false), hide("te$", true, true)}},
        {Encoding::Iso8859_1, {hide("\xE9t\xE9", false), show("[a-z]", true, true)}},
    };
    const std::vector<std::string> texts = {
        "café GET\rcafe\r\rcafé\r\nx \r\xC9t\xE9 get\r\xE9t\xE9\nété\rword\r\rcaf\xE9\r",
        "cafX\n\n\ncafé x\n x y\n\xC3\xA9t\xC3\xA9\r\nget\r\nGETTE",
    };
    for (const auto& [encoding, rows] : stacks) {
        for (const std::string& text : texts) {
            const tlg::DocumentPtr document = LogDocument::fromBytes(text);
            std::vector<LineNumber> expected;
            for (LineNumber line = 0; line < tlg::EndLine(document->lineCount()); ++line) {
                bool shown = true;
                for (const FilterRow& row : rows) {
                    tlg::LineFilterOptions how;
                    how.regex = row.regex;
                    how.matchCase = row.matchCase;
                    how.encoding = encoding;
                    const bool matches = tlg::LineFilter(row.pattern, how).matchesLine(document->lineText(line).view());
                    shown = shown && matches == (row.kind == FilterRow::ShowOnly);
                }
                if (shown)
                    expected.push_back(line);
            }
            for (const std::int64_t block : {std::int64_t{1} << 20, std::int64_t{3}}) {
                const FilterStack stack(rows, encoding, sized(block));
                EXPECT_EQ(shownLines(*runStack(stack, document), rows), expected) << rows[0].pattern << " " << block;
            }
        }
    }
}

TEST(FilterStack, VectorscanAndPcreAgree)
{
    const Rows rows = {show("\\bget\\b", true),     show("[0-9]{2,3}", true),   show("a.b", true, true),
                       show("(?i)error\\s+\\d", true), show("x[^y]z", true),   show("\\s$", true),
                       show("^\\w+$", true),          show("^err", true, true), show("GET", false),
                       show("y z", false, true),      show("k\\sx", true),      show("\\d\\W\\d", true)};
    const FilterStack together(rows, Encoding::Utf8);
    const FilterStack alone(rows, Encoding::Utf8, sized(4 << 20, false));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        EXPECT_TRUE(together.scannedTogether(row)) << rows[row].pattern;
        EXPECT_FALSE(alone.scannedTogether(row));
    }
    std::mt19937 random(11);
    std::string text = randomLog(random, 3000);
    text += "a\vb\nget\x0b\n12\t\n5\n3 4\r\nerror\r\n7\rok\vx\n\nxz\nz";
    for (const std::string& lineBreak : {"\n", "\r", "\r\n"}) {
        const tlg::DocumentPtr document = LogDocument::fromBytes(withBreaks(text, lineBreak));
        const auto scanned = runStack(together, document);
        const auto matched = runStack(alone, document);
        for (std::size_t row = 0; row < rows.size(); ++row) {
            std::vector<LineNumber> differ;
            for (LineNumber line = 0; line < tlg::EndLine(document->lineCount()); ++line) {
                if (scanned->matches(row, line) != matched->matches(row, line))
                    differ.push_back(line);
            }
            EXPECT_TRUE(differ.empty()) << rows[row].pattern << " differs first on line " << differ.front();
            EXPECT_GT(matched->matchCount(row), 0) << rows[row].pattern;
        }
    }
}

TEST(FilterStack, InvalidRowsSayWhyAndTheOthersApply)
{
    const Rows rows = {show("err(", true), hide("b", false), show("", false), hide("a[", true)};
    const FilterStack stack(rows, Encoding::Utf8);
    tlg::LineFilterOptions how;
    how.regex = true;
    std::string message;
    try {
        tlg::LineFilter("err(", how);
    } catch (const tlg::Failure& failure) {
        message = failure.what();
    }
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(stack.error(0), message);
    EXPECT_TRUE(stack.error(1).empty());
    EXPECT_TRUE(stack.error(2).empty());
    EXPECT_FALSE(stack.error(3).empty());
    EXPECT_EQ(shownText(stack, "a\nb\nerr(\nc"), "a\nerr(\nc\n");
}

TEST(FilterStack, GrowingGivesWhatAFreshPassGives)
{
    const Rows rows = {hide("timeout", false), show("e", false), hide("^\\w+ \\w+$", true), show("r\\s", true)};
    std::mt19937 random(3);
    const std::string text = randomLog(random, 2000);
    for (const std::int64_t block : {std::int64_t{4} << 20, std::int64_t{9}}) {
        const FilterStack stack(rows, Encoding::Utf8, sized(block));
        // Cut inside a line, at a line's end and between a CR and its LF.
        std::string crlf = withBreaks(text, "\r\n");
        for (const std::size_t cut : {std::size_t{3}, crlf.find('\n', 500) + 1, crlf.find('\r', 900) + 1}) {
            tlg::DocumentPtr document = LogDocument::fromBytes(crlf.substr(0, cut));
            auto matches = runStack(stack, document);
            tlg::KeptLinesPtr kept = matches->shown(rows);
            for (std::size_t at = cut; at < crlf.size();) {
                const std::size_t more = std::min(crlf.size() - at, std::size_t{1 + random() % 3000});
                document = document->appended(crlf.substr(at, more));
                at += more;
                std::atomic<bool> cancel{false};
                std::atomic<std::int64_t> done{0};
                matches = stack.grow(*matches, document, cancel, done);
                ASSERT_TRUE(matches);
                kept = matches->shownGrown(*kept, rows);
            }
            const auto fresh = runStack(stack, document);
            EXPECT_EQ(shownLines(*matches, rows), shownLines(*fresh, rows)) << cut;
            EXPECT_EQ(kept->copyText(), fresh->shown(rows)->copyText()) << cut;
        }
    }
}

TEST(FilterStack, ShowsWhatThePlainRowsLeaveFirstAndSettlesTheRest)
{
    // Plain rows decide; the others are scanned together, one may run across a break, one
    // (a back reference) is matched line by line; a plain row that is off decides nothing.
    Rows rows = {hide("timeout", false), show("e", false), hide("[0-9]$", true), show("r\\s", true),
                 hide("(o)\\1", true), {"GET", false, false, FilterRow::ShowOnly, false}};
    std::mt19937 random(11);
    const std::string text = withBreaks(randomLog(random, 3000), "\r\n");
    const std::size_t cut = text.find('\n', text.size() / 2) + 1;
    for (const std::int64_t block : {std::int64_t{4} << 20, std::int64_t{7}}) {
        const FilterStack stack(rows, Encoding::Utf8, sized(block));
        auto bitsOf = [&](const tlg::FilterMatches& matches) {
            std::vector<bool> bits;
            for (std::size_t row = 0; row < rows.size(); ++row) {
                for (LineNumber line = 0; line < tlg::EndLine(matches.lineCount()); ++line)
                    bits.push_back(matches.matches(row, line));
            }
            return bits;
        };
        std::atomic<bool> cancel{false};
        std::atomic<std::int64_t> done{0};
        tlg::DocumentPtr document = LogDocument::fromBytes(text.substr(0, cut));
        auto first = stack.run(document, cancel, done, &rows);
        ASSERT_TRUE(first);
        EXPECT_FALSE(first->settled());
        EXPECT_EQ(shownLines(*first, rows), shownLines(*runStack(stack, document), rows));
        // Known while the deciding rows stay as they were; other rows may change.
        Rows switched = rows;
        switched[2].on = false;
        switched[5].on = true;
        EXPECT_TRUE(first->knownUnder(switched));
        switched[1].kind = FilterRow::Hide;
        EXPECT_FALSE(first->knownUnder(switched));
        // The grown log, its new lines decided as the old ones were, then settled.
        document = document->appended(text.substr(cut));
        auto grown = stack.grow(*first, document, cancel, done, &rows);
        ASSERT_TRUE(grown);
        const auto fresh = runStack(stack, document);
        EXPECT_EQ(shownLines(*grown, rows), shownLines(*fresh, rows));
        const auto settled = stack.settle(*grown, cancel, done);
        ASSERT_TRUE(settled);
        EXPECT_TRUE(settled->settled());
        EXPECT_EQ(bitsOf(*settled), bitsOf(*fresh)) << block;
        EXPECT_EQ(shownLines(*settled, switched), shownLines(*fresh, switched));
    }
    // An expression that is plain text, matching case, decides as a plain row does.
    const Rows literal = {hide("timeout", true, true), show("[0-9]", true)};
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    const auto document = LogDocument::fromBytes(text);
    const auto first = FilterStack(literal, Encoding::Utf8).run(document, cancel, done, &literal);
    EXPECT_FALSE(first->settled());
    EXPECT_EQ(shownLines(*first, literal), shownLines(*runStack(FilterStack(literal, Encoding::Utf8), document), literal));
}

TEST(FilterStack, SwitchingRowsCombinesWithoutAPass)
{
    Rows rows = {show("a", false), hide("b", false)};
    const FilterStack stack(rows, Encoding::Utf8);
    const auto matches = runStack(stack, LogDocument::fromBytes(std::string("ab\na\nb\nc\n").append(200, 'a')));
    EXPECT_EQ(shownLines(*matches, rows), (std::vector<LineNumber>{1, 4}));
    rows[0].on = false;
    EXPECT_EQ(shownLines(*matches, rows), (std::vector<LineNumber>{1, 3, 4}));
    rows[1].kind = FilterRow::ShowOnly;
    EXPECT_EQ(shownLines(*matches, rows), (std::vector<LineNumber>{0, 2}));
    rows[1].on = false;
    EXPECT_EQ(shownLines(*matches, rows), (std::vector<LineNumber>{0, 1, 2, 3, 4}));
}

TEST(FilterStack, CancelledPassGivesNothing)
{
    const FilterStack stack({show("a", false)}, Encoding::Utf8, sized(16));
    std::atomic<bool> cancel{true};
    std::atomic<std::int64_t> done{0};
    EXPECT_FALSE(stack.run(LogDocument::fromBytes(std::string(1000, 'a')), cancel, done));
}

TEST(FilterStack, APassIsMatchedWholeWhileEveryWorkerIsBusy)
{
    // The pass's own executor, its only worker held: the caller matches every part alone, and
    // keeps the same lines as a pass whose parts go to free workers.
    tlg::Executor executor(1, 1, false);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    executor.post(tlg::Executor::Priority::User, [released] { released.wait(); });
    std::mt19937 random(11);
    const tlg::DocumentPtr document = LogDocument::fromBytes(randomLog(random, 3000));
    const Rows rows = {hide("timeout", false), show("err(or)?\\s+[0-9]|GET", true)};
    const FilterStack stack(rows, Encoding::Utf8, sized(64));
    std::atomic<bool> cancel{false};
    std::atomic<std::int64_t> done{0};
    const tlg::FilterMatchesPtr alone = stack.run(document, cancel, done, nullptr, executor);
    release.set_value();
    ASSERT_TRUE(alone);
    EXPECT_EQ(done.load(), document->size().value());
    const std::vector<LineNumber> shown = shownLines(*alone, rows);
    EXPECT_FALSE(shown.empty());
    EXPECT_EQ(shown, shownLines(*runStack(stack, document), rows));
}
