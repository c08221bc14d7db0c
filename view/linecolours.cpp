#include "view/linecolours.h"

#include "core/beside.h"
#include "core/cp1252.h"
#include "view/linerenderer.h"

#include <QMetaObject>

#include <algorithm>

namespace tlg {

namespace {

// Words longer than colourReach whose colours are remembered.
constexpr std::size_t kLongWordsKept = 16;
// Short lines whose colours are remembered, before they are forgotten.
constexpr std::size_t kLinesKept = 4096;

// The bytes that end a coloured word run (colourrules.h).
bool isRunBoundary(char c)
{
    return c == ' ' || c == '\r' || c == '\n';
}

std::size_t longestLabel(const ColourRules& rules)
{
    std::size_t longest = 0;
    for (const auto* labels : {&rules.infoLabels, &rules.errorLabels}) {
        for (const std::string& label : *labels)
            longest = std::max(longest, label.size());
    }
    return longest;
}

// The rules with their labels in the text's encoding: a label that cannot occur in it is left
// out rather than turned into something that could match.
LineColours::RulesPtr rulesFor(const LineColours::RulesPtr& rules, Encoding held)
{
    if (!rules || held == Encoding::Windows1252)
        return rules;
    auto encoded = std::make_shared<ColourRules>(*rules);
    for (auto* labels : {&encoded->infoLabels, &encoded->errorLabels}) {
        for (std::string& label : *labels)
            label = RecodeCp1252ForLog(label, held).value_or(std::string());
    }
    encoded->asciiCaseOnly = true;
    return encoded;
}

} // namespace

LineColours::LineColours(const LayoutCache& layout) : m_layout(layout), m_baseColour(0, 0, 128) {}

LineColours::~LineColours()
{
    stopLongWordJob();
}

void LineColours::setRules(RulesPtr rules)
{
    if (rules == m_rules)
        return;
    m_rules = std::move(rules);
    m_matchRules = rulesFor(m_rules, m_encoding);
    forget();
}

void LineColours::setEncoding(Encoding held)
{
    m_encoding = held;
    m_matchRules = rulesFor(m_rules, m_encoding);
    forget();
}

void LineColours::forget()
{
    m_spans.clear();
    m_windowLine = -1;
    forgetLongWords();
}

void LineColours::linesChanged(LineCount keptRows)
{
    if (keptRows <= 0) {
        forget();
        return;
    }
    m_spans.clear();
    m_windowLine = -1;
    // A word reaching the old last line's break may run on; a lone CR there may become CR LF.
    const LineNumber last = EndLine(keptRows) - 1;
    std::erase_if(m_longWords, [last](const LongWord& word) { return word.line + 1 >= last; });
    m_wantedWord.reset();
    stopLongWordJob();
}

const std::vector<LabelSpan>& LineColours::labelSpans(LineNumber line, std::size_t from, std::size_t to) const
{
    static const std::vector<LabelSpan> none;
    if (!m_matchRules)
        return none;
    // A long line is coloured around the part in sight only, and not remembered.
    if (m_layout.isLong(line))
        return longLineSpans(line, from, to);
    if (const auto known = m_spans.find(line); known != m_spans.end())
        return known->second;
    if (m_spans.size() > kLinesKept)
        m_spans.clear();
    // The line with its break: a word run ends with the boundary byte after it.
    const LineSource& lines = *m_layout.lines();
    const TextSlice text = lines.slice(lines.lineIndex(line), lines.lineIndex(line + 1));
    std::vector<LabelSpan>& spans = m_spans[line];
    ColourLine(text, *m_matchRules, spans);
    return spans;
}

const std::vector<LabelSpan>& LineColours::longLineSpans(LineNumber line, std::size_t from, std::size_t to) const
{
    const LineSource& lines = *m_layout.lines();
    const ByteOffset lineStart = lines.lineIndex(line);
    const auto size = static_cast<std::size_t>(lines.lineIndex(line + 1) - lineStart); // with its break
    to = std::clamp<std::size_t>(to, 1, size);
    from = std::min(from, to - 1);
    // The rows of a paint ask for parts of the stretch asked for first. Colours that lack a
    // word left for after the paint serve that paint only.
    if (m_windowLine == line && m_windowFrom <= from && to <= m_windowTo && (m_painting || !m_windowLacksWord))
        return m_windowSpans;
    m_windowLine = line;
    m_windowFrom = from;
    m_windowTo = to;
    m_windowLacksWord = false;
    const std::size_t room = longestLabel(*m_matchRules);
    m_windowSpans.clear();
    if (room == 0 || (!m_matchRules->showInfo && !m_matchRules->showErrors))
        return m_windowSpans; // nothing can colour a word
    // The words that hold the window are coloured alike from a stretch around it, unless one
    // of them runs past the stretch: such a word is measured on its own.
    const std::size_t reach = m_layout.sizes().colourReach;
    const std::size_t first = from > reach ? from - reach : 0;
    const std::size_t last = std::min(size, to + reach + room);
    const TextSlice part =
        lines.slice(lineStart + static_cast<ByteOffset>(first), lineStart + static_cast<ByteOffset>(last));
    ColourLine(part, *m_matchRules, m_windowSpans, from - first, to - first);
    for (LabelSpan& span : m_windowSpans) {
        span.start += first;
        span.end += first;
    }
    std::vector<LongWord> cut;
    if (first > 0 && WordRun(part, from - first).first == 0)
        cut.push_back(longWordAt(line, from));
    if (last < size && WordRun(part, to - 1 - first).second + room > part.size())
        cut.push_back(longWordAt(line, to - 1));
    for (const LongWord& word : cut) {
        // The word's colour replaces what the stretch gave its bytes.
        std::vector<LabelSpan> kept;
        for (const LabelSpan& span : m_windowSpans) {
            if (span.start < word.start)
                kept.push_back({span.start, std::min(span.end, word.start), span.colour});
            if (span.end > word.end)
                kept.push_back({std::max(span.start, word.end), span.end, span.colour});
        }
        if (word.colour != LabelColour::None)
            kept.push_back({word.start, word.end, word.colour});
        std::sort(kept.begin(), kept.end(), [](const LabelSpan& a, const LabelSpan& b) { return a.start < b.start; });
        m_windowSpans = std::move(kept);
    }
    return m_windowSpans;
}

LineColours::LongWord LineColours::longWordAt(LineNumber line, std::size_t index) const
{
    for (const LongWord& word : m_longWords) {
        if (word.line == line && word.start <= index && index < word.end)
            return word;
    }
    if (m_painting) {
        // A paint never waits for a pass over a huge word: the first one it asks for is
        // measured after it, and until then the words around the window colour it.
        if (!m_wantedWord && !m_longWordCancel)
            m_wantedWord = std::make_pair(line, index);
        m_windowLacksWord = true;
        return {line, index, index, LabelColour::None};
    }
    const LongWord word =
        measureLongWord(*m_layout.lines(), *m_matchRules, m_layout.sizes().scanChunk, line, index, nullptr);
    keepLongWord(word);
    return word;
}

void LineColours::keepLongWord(const LongWord& word) const
{
    if (m_longWords.size() >= kLongWordsKept)
        m_longWords.erase(m_longWords.begin());
    m_longWords.push_back(word);
}

void LineColours::forgetLongWords()
{
    m_longWords.clear();
    m_wantedWord.reset();
    stopLongWordJob();
}

void LineColours::setPainting(bool on)
{
    m_painting = on;
    // Measured from the event loop: the paint that asked for the word is over by then.
    if (!on && m_wantedWord)
        QMetaObject::invokeMethod(this, &LineColours::measureWantedWord, Qt::QueuedConnection);
}

void LineColours::stopLongWordJob()
{
    if (m_longWordCancel)
        m_longWordCancel->store(true);
    m_longWordCancel.reset();
}

void LineColours::measureWantedWord()
{
    if (!m_wantedWord || m_longWordCancel || !m_matchRules)
        return; // one at a time: the paint after it asks for the next
    const auto [line, index] = *std::exchange(m_wantedWord, std::nullopt);
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_longWordCancel = cancel;
    RunBeside(
        this, Executor::Priority::User,
        [lines = m_layout.lines(), rules = m_matchRules, chunk = m_layout.sizes().scanChunk, line, index, cancel] {
            return measureLongWord(*lines, *rules, chunk, line, index, cancel.get());
        },
        [this, cancel](const LongWord& word) {
            // A word of other lines or rules, or stopped: dropped.
            if (cancel != m_longWordCancel)
                return;
            m_longWordCancel.reset();
            keepLongWord(word);
            m_windowLine = -1; // the window's colours are worked out again with it
            emit longWordMeasured();
        });
}

LineColours::LongWord LineColours::measureLongWord(const LineSource& lines, const ColourRules& rules, std::size_t chunk,
                                                   LineNumber line, std::size_t index, const std::atomic<bool>* cancel)
{
    auto going = [cancel] { return !cancel || !cancel->load(std::memory_order_relaxed); };
    const ByteOffset lineStart = lines.lineIndex(line);
    const auto size = static_cast<std::size_t>(lines.lineIndex(line + 1) - lineStart);
    LongWord word{line, 0, size, LabelColour::None};
    lines.forEachChunkBackwards(lineStart, lineStart + static_cast<ByteOffset>(index), chunk, 0,
                                [&](ByteOffset at, std::string_view bytes) {
                                    for (std::size_t i = bytes.size(); i > 0; --i) {
                                        if (isRunBoundary(bytes[i - 1])) {
                                            word.start = static_cast<std::size_t>(at - lineStart) + i;
                                            return false;
                                        }
                                    }
                                    return going();
                                });
    lines.forEachChunk(lineStart + static_cast<ByteOffset>(index), lineStart + static_cast<ByteOffset>(size), chunk, 0,
                       [&](ByteOffset at, std::string_view bytes) {
                           for (std::size_t i = 0; i < bytes.size(); ++i) {
                               if (isRunBoundary(bytes[i])) {
                                   word.end = static_cast<std::size_t>(at - lineStart) + i + 1;
                                   return false;
                               }
                           }
                           return going();
                       });
    // A label colours the word when it starts in it, and may run `room` bytes past its end.
    // Each chunk, read with the `room` bytes before it, is coloured on its own: the run at its
    // start is the word's, coloured by the labels that start in that part of it.
    const std::size_t room = longestLabel(rules);
    std::vector<LabelSpan> spans;
    lines.forEachChunk(lineStart + static_cast<ByteOffset>(word.start),
                       lineStart + static_cast<ByteOffset>(std::min(size, word.end + room)), chunk, room,
                       [&](ByteOffset at, std::string_view bytes) {
                           if (static_cast<std::size_t>(at - lineStart) >= word.end)
                               return false;
                           ColourLine(bytes, rules, spans, 0, 1);
                           if (!spans.empty() && spans.front().start == 0)
                               word.colour = std::max(word.colour, spans.front().colour);
                           return word.colour != LabelColour::Error && going();
                       });
    return word;
}

QColor LineColours::colourOf(LabelColour colour, const QColor& base)
{
    switch (colour) {
    case LabelColour::Info:
        return QColor::fromRgb(kInfoRgb);
    case LabelColour::Error:
        return QColor::fromRgb(kErrorRgb);
    case LabelColour::None:
        break;
    }
    return base;
}

QColor LineColours::lineTextColour(LineNumber line) const
{
    if (!m_matchRules)
        return m_baseColour;
    switch (m_layout.lines()->lineLevel(line)) {
    case LineLevel::Error:
        return m_matchRules->showErrors ? colourOf(LabelColour::Error, m_baseColour) : m_baseColour;
    case LineLevel::Info:
        return m_matchRules->showInfo ? colourOf(LabelColour::Info, m_baseColour) : m_baseColour;
    case LineLevel::None:
        break;
    }
    return m_baseColour;
}

QColor LineColours::colourAt(ByteOffset offset) const
{
    const LineSource& lines = *m_layout.lines();
    const LineNumber line = lines.lineFromOffset(offset);
    const auto index = static_cast<std::size_t>(offset - lines.lineIndex(line));
    const QColor base = lineTextColour(line);
    for (const LabelSpan& span : labelSpans(line, index, index + 1)) {
        if (span.start <= index && index < span.end)
            return colourOf(span.colour, base);
    }
    return base;
}

void LineColours::rowSpans(LineNumber line, std::size_t start, std::size_t end, std::size_t base, std::size_t shown,
                           const QColor& text, std::vector<ColourSpan>& spans) const
{
    spans.clear();
    for (const LabelSpan& span : labelSpans(line, start, std::max(end, start + 1))) {
        if (span.end > start && span.start < end)
            spans.push_back({std::max(span.start, base) - base, std::min(span.end, base + shown) - base,
                             colourOf(span.colour, text)});
    }
}

} // namespace tlg
