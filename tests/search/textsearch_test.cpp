// Find's search in a log's bytes: forwards, backwards, and the occurrences that the marks of
// the lines in sight show.

#include "document/logdocument.h"
#include "search/textsearch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>

using tlg::ByteOffset;
using tlg::FindOccurrenceBefore;
using tlg::FindOccurrenceFrom;
using tlg::OccurrencesTouching;
using tlg::TextSearch;

namespace {

using Ranges = std::vector<std::pair<ByteOffset, ByteOffset>>;

} // namespace

TEST(TextSearch, ForwardAndBackwardStopAtTheTextsEnds)
{
    const std::string text = "Beta one beta two BETA";
    const TextSearch search{"beta", true, false};
    EXPECT_EQ(FindOccurrenceFrom(search, text, 0), 0);
    EXPECT_EQ(FindOccurrenceFrom(search, text, 1), 9);
    EXPECT_EQ(FindOccurrenceFrom(search, text, 18), 18); // the last, ending the text
    EXPECT_EQ(FindOccurrenceFrom(search, text, 19), -1);
    EXPECT_EQ(FindOccurrenceFrom(search, text, 100), -1);

    // Backwards: the last one that starts before the given offset.
    EXPECT_EQ(FindOccurrenceBefore(search, text, static_cast<ByteOffset>(text.size())), 18);
    EXPECT_EQ(FindOccurrenceBefore(search, text, 18), 9);
    EXPECT_EQ(FindOccurrenceBefore(search, text, 1), 0); // the first, at the text's start
    EXPECT_EQ(FindOccurrenceBefore(search, text, 0), -1);
    EXPECT_EQ(FindOccurrenceBefore({"", true, false}, text, 10), -1);
    EXPECT_EQ(FindOccurrenceFrom({"", true, false}, text, 0), -1);

    // Case counts when asked to; outside Windows-1252 only a to z fold.
    EXPECT_EQ(FindOccurrenceFrom({"BETA", false, false}, text, 0), 18);
    EXPECT_EQ(FindOccurrenceBefore({"beta", false, false}, text, 22), 9);
    const std::string accented = "\xC9t\xE9 \xE9t\xE9";
    EXPECT_EQ(FindOccurrenceFrom({"\xE9t\xE9", true, false}, accented, 0), 0);
    EXPECT_EQ(FindOccurrenceFrom({"\xE9t\xE9", true, true}, accented, 0), 4);
    EXPECT_EQ(FindOccurrenceBefore({"\xE9t\xE9", true, true}, accented, 4), -1);
}

TEST(TextSearch, BackwardsCrossesBlocks)
{
    // Occurrences megabytes apart, so that the search back walks several blocks.
    std::string text(5u << 20, '.');
    text.replace(10, 5, "needl");
    text.replace(3u << 20, 6, "NEEDLE");
    text.replace(text.size() - 6, 6, "needle");
    const TextSearch search{"needle", true, false};
    EXPECT_EQ(FindOccurrenceBefore(search, text, static_cast<ByteOffset>(text.size()) - 6), 3 << 20);
    EXPECT_EQ(FindOccurrenceBefore(search, text, static_cast<ByteOffset>(text.size()) - 5),
              static_cast<ByteOffset>(text.size()) - 6);
    EXPECT_EQ(FindOccurrenceBefore(search, text, 3 << 20), -1); // "needl" is no occurrence
    // One that starts just before a block's end and runs into the next block.
    text.replace((4u << 20) - 2, 6, "needle");
    EXPECT_EQ(FindOccurrenceBefore(search, text, static_cast<ByteOffset>(text.size()) - 6), (4 << 20) - 2);
}

TEST(TextSearch, MarksCoverEveryOccurrenceTouchingAStretch)
{
    const TextSearch search{"ab", true, false};
    // The first and the last bytes of the text.
    EXPECT_EQ(OccurrencesTouching(search, "ab x AB", 0, 7), (Ranges{{0, 2}, {5, 7}}));
    // Only what touches the stretch, including one that starts before it or runs past it.
    EXPECT_EQ(OccurrencesTouching(search, "xab ab abx", 2, 8), (Ranges{{1, 3}, {4, 6}, {7, 9}}));
    EXPECT_EQ(OccurrencesTouching(search, "xab ab abx", 3, 4), Ranges{});
    EXPECT_EQ(OccurrencesTouching(search, "ab", 1, 1), Ranges{});
    // Overlapping occurrences each count.
    EXPECT_EQ(OccurrencesTouching({"aa", true, false}, "aaaa", 0, 4), (Ranges{{0, 2}, {1, 3}, {2, 4}}));
    EXPECT_EQ(OccurrencesTouching({"aba", true, false}, "ababa", 3, 5), (Ranges{{2, 5}}));
    // Across a CR LF: each line's stretch (its content) sees the occurrence.
    const std::string text = "one x\r\ny two\r\n";
    const TextSearch crossing{"x\r\ny", true, false};
    EXPECT_EQ(OccurrencesTouching(crossing, text, 0, 5), (Ranges{{4, 8}}));
    EXPECT_EQ(OccurrencesTouching(crossing, text, 7, 12), (Ranges{{4, 8}}));
    EXPECT_EQ(OccurrencesTouching({"two", true, false}, text, 7, 12), (Ranges{{9, 12}}));
    EXPECT_EQ(OccurrencesTouching({"", true, false}, text, 0, 12), Ranges{});
}

TEST(TextSearch, EachEncodingsRuleAgreesWithComparingByteByByte)
{
    // Texts long enough for the sixteen-at-a-time filter, over bytes whose case differs by rule:
    // a to z, Windows-1252 letters (é É, š Š, ÿ Ÿ) and UTF-8 bytes the code page would fold
    // (Ã ã). Every occurrence found forwards is the next one a byte-by-byte comparison finds.
    std::mt19937 random(7);
    const std::string_view alphabet = "aAbB\xE9\xC9\x9A\x8A\xFF\x9F\xC3\xE3\xA9 \n";
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (std::size_t i = random() % 600; i > 0; --i)
            text += alphabet[random() % alphabet.size()];
        std::string pattern;
        for (std::size_t i = 1 + random() % 3; i > 0; --i)
            pattern += alphabet[random() % (alphabet.size() - 2)];
        for (const tlg::Encoding encoding : {tlg::Encoding::Windows1252, tlg::Encoding::Utf8, tlg::Encoding::Iso8859_1}) {
            for (const bool matchCase : {false, true}) {
                const TextSearch search = TextSearch::forLog(pattern, encoding, matchCase);
                const auto& fold = tlg::FoldingTable(tlg::CaseFoldingFor(encoding, matchCase));
                auto naive = [&](ByteOffset from) -> ByteOffset {
                    for (std::size_t at = static_cast<std::size_t>(from); at + pattern.size() <= text.size(); ++at) {
                        std::size_t k = 0;
                        while (k < pattern.size() && fold[static_cast<unsigned char>(text[at + k])] ==
                                                         fold[static_cast<unsigned char>(pattern[k])])
                            ++k;
                        if (k == pattern.size())
                            return static_cast<ByteOffset>(at);
                    }
                    return -1;
                };
                for (ByteOffset at = 0, found = 0; found >= 0; at = found + 1) {
                    found = FindOccurrenceFrom(search, text, at);
                    ASSERT_EQ(found, naive(at)) << tlg::EncodingName(encoding) << (matchCase ? ", match case" : "");
                }
            }
        }
    }
    // Outside Windows-1252 only a to z fold: "Ü" (C3 9C) is not in "Ì" (C3 8C).
    EXPECT_EQ(FindOccurrenceFrom(TextSearch::forLog("\xC3\x9C", tlg::Encoding::Utf8), "\xC3\x8C", 0), -1);
    EXPECT_EQ(FindOccurrenceFrom(TextSearch::forLog("\xC3\x9C", tlg::Encoding::Windows1252), "\xC3\x8C", 0), 0);
}

TEST(TextSearch, ACancelledFindOverADocumentStops)
{
    // The word at the end of three chunks of text: found when left alone, not looked for once
    // the flag is set.
    const std::string text = std::string(12 << 20, 'x') + " needle";
    const auto document = tlg::LogDocument::fromBytes(text);
    const TextSearch search{"needle", true, false};
    std::atomic<bool> cancel{false};
    EXPECT_EQ(FindOccurrenceFrom(search, *document, 0, &cancel), (12 << 20) + 1);
    EXPECT_EQ(FindOccurrenceBefore(search, *document, document->size(), &cancel), (12 << 20) + 1);
    cancel = true;
    EXPECT_EQ(FindOccurrenceFrom(search, *document, 0, &cancel), tlg::kSearchCancelled);
    EXPECT_EQ(FindOccurrenceBefore(search, *document, document->size(), &cancel), tlg::kSearchCancelled);
}
