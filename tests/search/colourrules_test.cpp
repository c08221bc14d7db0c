#include "search/colourrules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include <random>
#include <string>

namespace tlg {
namespace {

ColourRules rulesWith(std::initializer_list<std::string> info, std::initializer_list<std::string> error)
{
    ColourRules rules;
    std::size_t i = 0;
    for (const std::string& label : info)
        rules.infoLabels[i++] = label;
    i = 0;
    for (const std::string& label : error)
        rules.errorLabels[i++] = label;
    return rules;
}

// The text with each byte replaced by its colour: '.', 'i' or 'E'.
std::string picture(std::string_view text, const ColourRules& rules)
{
    std::string out;
    for (LabelColour colour : ColourWholeText(text, rules))
        out += colour == LabelColour::Error ? 'E' : colour == LabelColour::Info ? 'i' : '.';
    return out;
}

struct PictureCase {
    const char* name;
    std::string text;
    ColourRules rules;
    std::string expected;
};

void PrintTo(const PictureCase& c, std::ostream* out)
{
    *out << c.name;
}

class ColourPassTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(ColourPassTest, ColoursWordRunsOfLabels)
{
    const PictureCase& c = GetParam();
    EXPECT_EQ(picture(c.text, c.rules), c.expected) << c.text;
}

ColourRules noGates(ColourRules rules, bool info, bool errors)
{
    rules.showInfo = info;
    rules.showErrors = errors;
    return rules;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ColourPassTest,
    ::testing::Values(
        PictureCase{"word_with_its_trailing_space", "Internal Error: disk",
                    rulesWith({}, {"error"}), ".........EEEEEEE...."},
        PictureCase{"label_inside_a_word", "InternalError:x", rulesWith({}, {"error"}),
                    "EEEEEEEEEEEEEEE"},
        PictureCase{"inner_space_colours_the_first_word", "files were updated ok",
                    rulesWith({"were updated"}, {}), "......iiiii.........."},
        PictureCase{"tab_is_not_a_boundary", "x a\terror y", rulesWith({}, {"error"}),
                    "..EEEEEEEE."},
        PictureCase{"error_wins_over_info", "Failed*** ok", rulesWith({"***"}, {"Failed"}),
                    "EEEEEEEEEE.."},
        PictureCase{"run_takes_cr_not_lf", "a error\r\nb", rulesWith({}, {"error"}),
                    "..EEEEEE.."},
        PictureCase{"start_and_end_of_text", "fatal x Fatal", rulesWith({}, {"FATAL"}),
                    "EEEEEE..EEEEE"},
        PictureCase{"any_case_and_accents", "\xC9T\xC9 et \xE9t\xE9", rulesWith({"\xE9t\xE9"}, {}),
                    "iiii...iii"},
        PictureCase{"blank_labels_are_skipped", "a b  c", rulesWith({" ", "\t"}, {""}), "......"},
        PictureCase{"error_gate_up", "error Start", noGates(rulesWith({"start"}, {"error"}), true, false),
                    "......iiiii"},
        PictureCase{"both_gates_up", "error Start", noGates(rulesWith({"start"}, {"error"}), false, false),
                    "..........."},
        PictureCase{"every_word_once", "err err", rulesWith({}, {"err"}), "EEEEEEE"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WordRunTest, StopsAtSpacesAndLineBreaksOnly)
{
    const std::string text = "ab cd\tef\r\ngh";
    using Run = std::pair<std::size_t, std::size_t>;
    EXPECT_EQ(WordRun(text, 0), Run(0, 3));
    EXPECT_EQ(WordRun(text, 4), Run(3, 9));
    EXPECT_EQ(WordRun(text, 11), Run(10, 12));
}

// Colouring line by line, as the view does for the lines it paints, must give every byte the
// colour the pass over the whole text gives it.
TEST(ColourLineTest, EqualsTheWholeTextPassOnGeneratedTexts)
{
    std::mt19937 random(2026);
    const std::vector<std::string> pieces = {"error", "Err", "fatal", "FAILED", "txt", "Start",
                                             "\xE9t\xE9", "\xC9T\xC9", "ab", " ", " ", "  ", "\t",
                                             "\r\n", "\n", "\r", "***", "x", "were", "updated"};
    const std::vector<std::string> labelPool = {"error", "ERR", "fa", "t", "r e", "***", "\xE9t",
                                                "were updated", "x", "d\tS", " ", "", "ab ab"};
    for (int round = 0; round < 400; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 40);
        for (int i = 0; i < length; ++i)
            text += pieces[random() % pieces.size()];
        ColourRules rules;
        for (std::string& label : rules.infoLabels)
            label = random() % 3 ? labelPool[random() % labelPool.size()] : "";
        for (std::string& label : rules.errorLabels)
            label = random() % 3 ? labelPool[random() % labelPool.size()] : "";
        rules.showInfo = random() % 4 != 0;
        rules.showErrors = random() % 4 != 0;

        const std::vector<LabelColour> whole = ColourWholeText(text, rules);
        std::vector<LabelColour> byLine(text.size(), LabelColour::None);
        std::vector<LabelSpan> spans;
        for (std::size_t start = 0; start < text.size();) {
            // A line runs to just after its break: LF, CR LF or a lone CR.
            std::size_t end = start;
            while (end < text.size() && text[end] != '\n' && text[end] != '\r')
                ++end;
            if (end < text.size()) {
                const bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
                end += crLf ? 2 : 1;
            }
            const std::string_view line = std::string_view(text).substr(start, end - start);
            // A window of the line gets the same colours for the bytes it holds.
            if (!line.empty()) {
                const std::size_t from = random() % line.size();
                const std::size_t to = from + 1 + random() % (line.size() - from);
                ColourLine(line, rules, spans, from, to);
                std::vector<LabelColour> window(line.size(), LabelColour::None);
                for (const LabelSpan& span : spans) {
                    for (std::size_t i = span.start; i < span.end; ++i)
                        window[i] = span.colour;
                }
                for (std::size_t i = from; i < to; ++i)
                    ASSERT_EQ(window[i], whole[start + i]) << "round " << round << " byte " << start + i;
            }
            ColourLine(line, rules, spans);
            for (std::size_t s = 0; s < spans.size(); ++s) {
                ASSERT_LT(spans[s].start, spans[s].end);
                if (s > 0) {
                    ASSERT_LE(spans[s - 1].end, spans[s].start);
                }
                for (std::size_t i = spans[s].start; i < spans[s].end; ++i)
                    byLine[start + i] = spans[s].colour;
            }
            start = end;
        }
        ASSERT_EQ(byLine, whole) << "round " << round << " text [" << text << "]";
    }
}

TEST(ColourRulesTest, AnEmptyWindowGivesNoSpansAndReadsNothingOutsideTheLine)
{
    ColourRules rules;
    rules.errorLabels[0] = "error";
    // The line lies alone in its own buffer, so a read before its start is caught.
    const std::unique_ptr<char[]> bytes(new char[9]);
    std::memcpy(bytes.get(), "error x\r\n", 9);
    const std::string_view line(bytes.get(), 9);
    std::vector<LabelSpan> spans{{0, 1, LabelColour::Info}};
    ColourLine(line, rules, spans, 0, 0);
    EXPECT_TRUE(spans.empty());
    ColourLine(line, rules, spans, 5, 0);
    EXPECT_TRUE(spans.empty());
    ColourLine(line, rules, spans, 0, 1);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].end, 6u);
}

} // namespace
} // namespace tlg
