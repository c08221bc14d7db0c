#include "document/logdocument.h"
#include "search/overview.h"

#include "core/faststrings.h"
#include "search/textsearch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tlg {
namespace {

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

// The lines where Find, as the log's encoding has it ignore case, finds the text: one walk over
// every occurrence of the text.
std::vector<bool> linesFindFinds(const LogDocument& document, const std::string& pattern, Encoding encoding)
{
    std::vector<bool> lines(static_cast<std::size_t>(document.lineCount()), false);
    const TextSearch search = TextSearch::forLog(pattern, encoding);
    for (ByteOffset at = FindOccurrenceFrom(search, document, 0); at >= 0; at = FindOccurrenceFrom(search, document, at + 1))
        lines[static_cast<std::size_t>(document.lineFromOffset(at))] = true;
    return lines;
}

// The marks as the whole-text colouring pass and Find give them. The view colours line by
// line, where a label with a line break in it cannot match across lines as it does in the
// whole text: with such labels, the colours are the view's.
std::vector<std::uint8_t> referenceMarks(const LogDocument& document, const ColourRules& rules,
                                         const std::string& pattern, Encoding encoding = Encoding::Windows1252)
{
    const std::string text = document.copyText();
    std::vector<LabelColour> colours = ColourWholeText(text, rules);
    if (breakInLabels(rules)) {
        std::fill(colours.begin(), colours.end(), LabelColour::None);
        std::vector<LabelSpan> spans;
        for (LineNumber line = 0; line < EndLine(document.lineCount()); ++line) {
            const auto start = static_cast<std::size_t>(document.lineIndex(line));
            ColourLine(std::string_view(text).substr(start, static_cast<std::size_t>(document.lineIndex(line + 1)) - start), rules, spans);
            for (const LabelSpan& span : spans) {
                for (std::size_t i = span.start; i < span.end && start + i < colours.size(); ++i)
                    colours[start + i] = span.colour;
            }
        }
    }
    std::vector<std::uint8_t> marks(static_cast<std::size_t>(document.lineCount()), 0);
    const std::vector<bool> found = linesFindFinds(document, pattern, encoding);
    for (LineNumber line = 0; line < EndLine(document.lineCount()); ++line) {
        auto& mark = marks[static_cast<std::size_t>(line)];
        for (ByteOffset i = document.lineIndex(line); i < document.lineIndex(line + 1); ++i) {
            if (colours[static_cast<std::size_t>(i)] == LabelColour::Error)
                mark |= kMarkError;
            if (colours[static_cast<std::size_t>(i)] == LabelColour::Info)
                mark |= kMarkInfo;
        }
        if (found[static_cast<std::size_t>(line)])
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
        // The log's encoding chooses how labels and the find text ignore case, as the view
        // chooses it.
        const Encoding encodings[] = {Encoding::Windows1252, Encoding::Utf8, Encoding::Iso8859_1};
        const Encoding encoding = encodings[random() % std::size(encodings)];
        const CaseFolding folding = CaseFoldingFor(encoding);
        rules.asciiCaseOnly = folding == CaseFolding::Ascii;
        const std::string pattern = random() % 3 == 0 ? std::string() : randomText(random, 1 + random() % 3, labelAlphabet);
        const DocumentPtr document = LogDocument::fromBytes(text);
        // Blocks of a few bytes, so that labels meet their seams; and the plain search that
        // stands in where the scanner cannot run.
        MarkLinesTuning tuning;
        const std::size_t blockSizes[] = {1, 2, 5, 16, 64, tuning.blockBytes};
        tuning.blockBytes = blockSizes[random() % std::size(blockSizes)];
        tuning.plainSearch = random() % 3 == 0;
        // Now and then lines too long to be read whole, scanned in windows of a few bytes.
        const std::size_t longLines[] = {2, 3, 7, 40};
        if (random() % 3 == 0)
            tuning.longLine = longLines[random() % std::size(longLines)];
        SCOPED_TRACE("round " + std::to_string(round) + ", blocks of " + std::to_string(tuning.blockBytes) +
                     (tuning.plainSearch ? ", plain search" : "") + ", long lines from " +
                     std::to_string(tuning.longLine) + ", encoding " + EncodingName(encoding));

        const std::vector<std::uint8_t> expected = referenceMarks(*document, rules, pattern, encoding);
        EXPECT_EQ(MarkLines(*document, 0, &rules, pattern, folding, nullptr, tuning), expected);
        // Only the lines from `first` on, as a growing log asks for them.
        const LineNumber first = document->lineCount() == 0 ? 0 : static_cast<LineNumber>(random() % document->lineCount().value());
        EXPECT_EQ(MarkLines(*document, first, &rules, pattern, folding, nullptr, tuning),
                  std::vector<std::uint8_t>(expected.begin() + first.value(), expected.end()));
        // No rules: only the find marks, still Find's.
        std::vector<std::uint8_t> foundOnly = expected;
        for (auto& mark : foundOnly)
            mark &= kMarkFound;
        EXPECT_EQ(MarkLines(*document, 0, nullptr, pattern, folding, nullptr, tuning), foundOnly);
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
        // code page's table would take for it; nor does the find text, as in Find: "Ü" (C3 9C)
        // is not in "Ì" (C3 8C), with or without rules.
        rules = ColourRules();
        rules.asciiCaseOnly = true;
        rules.errorLabels[0] = "\xC3\xA9" "CHEC";
        const DocumentPtr utf8 = LogDocument::fromBytes("\xE3\xA9" "chec\n\xC3\xA9" "chec\n\xC3\x8C\n\xC3\x9C\n");
        EXPECT_EQ(MarkLines(*utf8, 0, &rules, "\xC3\xA9", CaseFolding::Ascii, nullptr, tuning),
                  (std::vector<std::uint8_t>{0, kMarkError | kMarkFound, 0, 0}));
        EXPECT_EQ(MarkLines(*utf8, 0, nullptr, "\xC3\x9C", CaseFolding::Ascii, nullptr, tuning),
                  (std::vector<std::uint8_t>{0, 0, 0, kMarkFound}));
        EXPECT_EQ(MarkLines(*utf8, 0, &rules, "\xC3\x9C", nullptr, tuning), // the rules' folding
                  (std::vector<std::uint8_t>{0, kMarkError, 0, kMarkFound}));
        // The same bytes in a Windows-1252 log are "Ã\x8C" and "Ãœ", which its table folds alike.
        EXPECT_EQ(MarkLines(*utf8, 0, nullptr, "\xC3\x9C", CaseFolding::Windows1252, nullptr, tuning),
                  (std::vector<std::uint8_t>{0, 0, kMarkFound, kMarkFound}));
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
    const LineNumber first = EndLine(before->lineCount()) - 1;
    marks.resize(static_cast<std::size_t>(first));
    const std::vector<std::uint8_t> more = MarkLines(*after, first, &rules, "here");
    marks.insert(marks.end(), more.begin(), more.end());
    EXPECT_EQ(marks, referenceMarks(*after, rules, "here"));
    EXPECT_EQ(marks, (std::vector<std::uint8_t>{kMarkInfo | kMarkFound, 0, kMarkError, kMarkInfo, kMarkError | kMarkInfo}));
}

TEST(Overview, RowsStandForEvenShares)
{
    // Fewer lines than rows: spread over them all, as the scroll bar spreads them.
    EXPECT_EQ(MarksPerRow({kMarkInfo, 0, kMarkError}, 5),
              (std::vector<std::uint8_t>{kMarkInfo, kMarkInfo, 0, 0, kMarkError}));
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
    // Each row's share of colour lines, so that a cluster stands out from scattered ones.
    std::vector<std::uint8_t> clustered(100, 0);
    for (int i = 0; i < 100; i += 10)
        clustered[static_cast<std::size_t>(i)] = kMarkError; // one in ten across the log
    for (int i = 50; i < 60; ++i)
        clustered[static_cast<std::size_t>(i)] = kMarkError | kMarkInfo; // a cluster
    const std::vector<RowShare> shares = SharesPerRow(clustered, 10);
    EXPECT_FLOAT_EQ(shares[0].error, 0.1f);
    EXPECT_FLOAT_EQ(shares[5].error, 1.0f);
    EXPECT_FLOAT_EQ(shares[5].info, 1.0f);
    EXPECT_FLOAT_EQ(shares[9].info, 0.0f);
    // Many lines in few pixel rows do not overflow.
    EXPECT_EQ(LineOfRow(4000, 4001, 1LL << 40), (4000LL << 40) / 4001);
}

} // namespace
} // namespace tlg
