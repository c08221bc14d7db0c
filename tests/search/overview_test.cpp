#include "search/overview.h"

#include "core/faststrings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(UpperTable[static_cast<unsigned char>(c)]);
    return out;
}

bool breakInLabels(const ColourRules& rules)
{
    for (const auto* labels : {&rules.infoLabels, &rules.errorLabels}) {
        for (const std::string& label : *labels) {
            if (label.find_first_of("\r\n") != std::string::npos)
                return true;
        }
    }
    return false;
}

// The marks as the whole-text colouring pass and a plain search per line give them. The view
// colours line by line, where a label with a line break in it cannot match across lines as
// it does in the whole text: with such labels, the colours are the view's.
std::vector<std::uint8_t> referenceMarks(const LogDocument& document, const ColourRules& rules,
                                         const std::string& pattern)
{
    const std::string text = document.copyText();
    std::vector<LabelColour> colours = ColourWholeText(text, rules);
    if (breakInLabels(rules)) {
        std::fill(colours.begin(), colours.end(), LabelColour::None);
        std::vector<LabelSpan> spans;
        for (LineNumber line = 0; line < document.lineCount(); ++line) {
            const auto start = static_cast<std::size_t>(document.lineIndex(line));
            ColourLine(std::string_view(text).substr(start, static_cast<std::size_t>(document.lineIndex(line + 1)) - start), rules, spans);
            for (const LabelSpan& span : spans) {
                for (std::size_t i = span.start; i < span.end && start + i < colours.size(); ++i)
                    colours[start + i] = span.colour;
            }
        }
    }
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(document.lineCount()), 0);
    for (LineNumber line = 0; line < document.lineCount(); ++line) {
        auto& mark = marks[static_cast<std::size_t>(line)];
        for (ByteOffset i = document.lineIndex(line); i < document.lineIndex(line + 1); ++i) {
            if (colours[static_cast<std::size_t>(i)] == LabelColour::Error)
                mark |= kMarkError;
            if (colours[static_cast<std::size_t>(i)] == LabelColour::Info)
                mark |= kMarkInfo;
        }
        if (!pattern.empty() && upper(document.lineText(line).view()).find(upper(pattern)) != std::string::npos)
            mark |= kMarkFound;
    }
    return marks;
}

std::string randomText(std::mt19937& random, std::size_t length, std::string_view alphabet)
{
    std::string text;
    for (std::size_t i = 0; i < length; ++i)
        text += alphabet[random() % alphabet.size()];
    return text;
}

TEST(Overview, MarksEqualTheWholeTextPassOnRandomTexts)
{
    std::mt19937 random(1919);
    // Few letters, so that labels occur often, overlap, sit inside words and across spaces;
    // line breaks of every kind; Windows-1252 letters that only the code page's table folds
    // (é É, š Š, ÿ Ÿ) and UTF-8 bytes it would fold too (Ã ã); a regular expression's
    // metacharacters, which must match as themselves.
    const std::string_view alphabet = "eErRoO  \r\n\n\t\xE9\xC9\x9A\x8A\xFF\x9F\xC3\xE3\xA9x.*[]()\\+?";
    const std::string_view labelAlphabet = "eErRoO \xE9\xC9\x9A\xFF\x9F\xC3\xE3\xA9x.*[]()\\+?";
    for (int round = 0; round < 400; ++round) {
        const std::string text = randomText(random, random() % 300, alphabet);
        // Now and then labels with line breaks in them, which the colouring matches across lines.
        const std::string withBreaks = std::string(labelAlphabet) + "\r\n";
        const std::string_view labelBytes = random() % 8 == 0 ? std::string_view(withBreaks) : labelAlphabet;
        ColourRules rules;
        for (std::size_t i = 0; i < 10; ++i) {
            if (random() % 3 == 0)
                rules.infoLabels[i] = randomText(random, 1 + random() % 4, labelBytes);
            if (random() % 4 == 0)
                rules.errorLabels[i] = randomText(random, 1 + random() % 4, labelBytes);
        }
        rules.showInfo = random() % 4 != 0;
        rules.showErrors = random() % 4 != 0;
        rules.asciiCaseOnly = random() % 2 == 0;
        const std::string pattern = random() % 3 == 0 ? std::string() : randomText(random, 1 + random() % 3, labelAlphabet);
        const DocumentPtr document = LogDocument::fromBytes(text);
        // Blocks of a few bytes, so that labels meet their seams; and the plain search that
        // stands in where the scanner cannot run.
        MarkLinesTuning tuning;
        const std::size_t blockSizes[] = {1, 2, 5, 16, 64, tuning.blockBytes};
        tuning.blockBytes = blockSizes[random() % std::size(blockSizes)];
        tuning.plainSearch = random() % 3 == 0;
        SCOPED_TRACE("round " + std::to_string(round) + ", blocks of " + std::to_string(tuning.blockBytes) +
                     (tuning.plainSearch ? ", plain search" : ""));

        const std::vector<std::uint8_t> expected = referenceMarks(*document, rules, pattern);
        EXPECT_EQ(MarkLines(*document, 0, &rules, pattern, nullptr, tuning), expected);
        // Only the lines from `first` on, as a growing log asks for them.
        const LineNumber first = document->lineCount() == 0 ? 0 : static_cast<LineNumber>(random() % document->lineCount());
        EXPECT_EQ(MarkLines(*document, first, &rules, pattern, nullptr, tuning),
                  std::vector<std::uint8_t>(expected.begin() + first, expected.end()));
        // No rules: only the find marks.
        std::vector<std::uint8_t> foundOnly = expected;
        for (auto& mark : foundOnly)
            mark &= kMarkFound;
        EXPECT_EQ(MarkLines(*document, 0, nullptr, pattern, nullptr, tuning), foundOnly);
    }
}

TEST(Overview, LabelsIgnoreCaseAsTheLogsCodePageDoes)
{
    for (const bool plainSearch : {false, true}) {
        SCOPED_TRACE(plainSearch ? "plain search" : "scan");
        MarkLinesTuning tuning;
        tuning.plainSearch = plainSearch;
        // Windows-1252: "ÉCHEC" is found in "échec", "ŠKODA" in "škoda".
        ColourRules rules;
        rules.errorLabels[0] = "\xC9" "CHEC";
        rules.infoLabels[0] = "\x8AKODA";
        const DocumentPtr latin = LogDocument::fromBytes("un \xE9" "chec ici\n\x9Akoda\nechec\n");
        EXPECT_EQ(MarkLines(*latin, 0, &rules, "\xC9" "CH", nullptr, tuning),
                  (std::vector<std::uint8_t>{kMarkError | kMarkFound, kMarkInfo, 0}));
        // UTF-8: only a to z ignore case; "é" (C3 A9) does not find "ã©" (E3 A9), which the
        // code page's table would take for it. The find text still ignores case by that table.
        rules = ColourRules();
        rules.asciiCaseOnly = true;
        rules.errorLabels[0] = "\xC3\xA9" "CHEC";
        const DocumentPtr utf8 = LogDocument::fromBytes("\xE3\xA9" "chec\n\xC3\xA9" "chec\n");
        EXPECT_EQ(MarkLines(*utf8, 0, &rules, "\xC3\xA9", nullptr, tuning),
                  (std::vector<std::uint8_t>{kMarkFound, kMarkError | kMarkFound}));
        // A regular expression's metacharacters are plain bytes.
        rules = ColourRules();
        rules.infoLabels[0] = ".*[a]\\(b)+?";
        const DocumentPtr marks = LogDocument::fromBytes("xab\n.*[A]\\(B)+?\n");
        EXPECT_EQ(MarkLines(*marks, 0, &rules, "", nullptr, tuning), (std::vector<std::uint8_t>{0, kMarkInfo}));
    }
}

TEST(Overview, AGrownLogCostsItsNewLinesAndGivesTheSameMarks)
{
    ColourRules rules;
    rules.errorLabels[0] = "error";
    rules.infoLabels[0] = "start";
    const DocumentPtr before = LogDocument::fromBytes("start here\nnothing\nan err");
    std::vector<std::uint8_t> marks = MarkLines(*before, 0, &rules, "here");
    EXPECT_EQ(marks, (std::vector<std::uint8_t>{kMarkInfo | kMarkFound, 0, 0}));
    // The last line grew: it is marked again with the new lines.
    const DocumentPtr after = before->appended("or now\nStart\nERRORS started\n");
    const LineNumber first = before->lineCount() - 1;
    marks.resize(static_cast<std::size_t>(first));
    const std::vector<std::uint8_t> more = MarkLines(*after, first, &rules, "here");
    marks.insert(marks.end(), more.begin(), more.end());
    EXPECT_EQ(marks, referenceMarks(*after, rules, "here"));
    EXPECT_EQ(marks, (std::vector<std::uint8_t>{kMarkInfo | kMarkFound, 0, kMarkError, kMarkInfo, kMarkError | kMarkInfo}));
}

TEST(Overview, RowsStandForEvenShares)
{
    // Fewer lines than rows: a row a line from the top.
    EXPECT_EQ(MarksPerRow({kMarkInfo, 0, kMarkError}, 5),
              (std::vector<std::uint8_t>{kMarkInfo, 0, kMarkError, 0, 0}));
    // More lines than rows: each row takes the union of its share, and every line counts.
    std::vector<std::uint8_t> lines(1000, 0);
    lines[0] = kMarkInfo;
    lines[499] = kMarkError;
    lines[999] = kMarkFound;
    const std::vector<std::uint8_t> rows = MarksPerRow(lines, 10);
    EXPECT_EQ(rows, (std::vector<std::uint8_t>{kMarkInfo, 0, 0, 0, kMarkError, 0, 0, 0, 0, kMarkFound}));
    EXPECT_EQ(LineOfRow(9, 10, 1000), 900);
    EXPECT_EQ(LineOfRow(0, 0, 1000), 0);
    EXPECT_TRUE(MarksPerRow({}, 4) == std::vector<std::uint8_t>(4, 0));
    // Many lines in few pixel rows do not overflow.
    EXPECT_EQ(LineOfRow(4000, 4001, 1LL << 40), (4000LL << 40) / 4001);
}

} // namespace
} // namespace tlg
