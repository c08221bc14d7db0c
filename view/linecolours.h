#pragma once

// The colours of a view's lines: the stretches of a line that the colour rules' labels colour
// and the colour of the rest of its text. Colours are worked out for the bytes painted only.
// A short line is coloured whole and remembered; a long one is coloured by the words around
// the part in sight; a word of it longer than the reach around that part is measured through
// once and its colour remembered. While the view paints, such a word is not measured then: it
// is asked for, and measured on the executor once the paint is over (see setPainting).

#include "document/encoding.h"
#include "document/layoutcache.h"
#include "search/colourrules.h"

#include <QColor>
#include <QObject>

#include <atomic>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tlg {

struct ColourSpan;

class LineColours : public QObject {
    Q_OBJECT

public:
    using RulesPtr = std::shared_ptr<const ColourRules>;

    // Colours the lines of `layout`, which must outlive this.
    explicit LineColours(const LayoutCache& layout);
    ~LineColours() override;

    // The rules (none: every line in its base colour) and the text's encoding: the rules'
    // labels (held in Windows-1252) are encoded by it before they are matched. A change
    // forgets every colour worked out.
    void setRules(RulesPtr rules);
    void setEncoding(Encoding held);
    const RulesPtr& rules() const { return m_rules; }
    // The rules as they are matched: with their labels in the text's encoding.
    const RulesPtr& matchRules() const { return m_matchRules; }
    // The colour of text that no label and no level colours.
    void setBaseColour(const QColor& colour) { m_baseColour = colour; }
    const QColor& baseColour() const { return m_baseColour; }

    // The layout's lines changed: with keptRows > 0 they grew from those before, and the
    // colours of long words that lie before their last keptRows line stay. Everything else
    // worked out is forgotten.
    void linesChanged(LineCount keptRows);
    // Forgets every colour worked out.
    void forget();

    // The coloured stretches of a line, sure for its bytes [from, to).
    const std::vector<LabelSpan>& labelSpans(LineNumber line, std::size_t from, std::size_t to) const;
    // The colour of a line's text where no label colours it: its level's (a line whose source
    // gives it one, while the level's gate is open), or the base colour.
    QColor lineTextColour(LineNumber line) const;
    // The colour in which the byte at offset is painted, selection aside.
    QColor colourAt(ByteOffset offset) const;
    static QColor colourOf(LabelColour colour, const QColor& base);
    // The colours of a row that shows the bytes [start, end) of a line, in `text` where no
    // label colours them, as painted from the line's byte `base` (spans clipped to the
    // `shown` bytes read from there).
    void rowSpans(LineNumber line, std::size_t start, std::size_t end, std::size_t base, std::size_t shown,
                  const QColor& text, std::vector<ColourSpan>& spans) const;

    // While on, a long word not measured yet is not measured when asked for: it comes back
    // uncoloured, and the first one asked for is measured on the executor after the paint
    // (one at a time), then longWordMeasured is emitted.
    void setPainting(bool on);

signals:
    // A long word asked for while painting was measured: a paint now colours it.
    void longWordMeasured();

private:
    // A word of a long line longer than colourReach: its run [start, end) (with the boundary
    // byte after it) and its colour, found by a pass over it in chunks.
    struct LongWord {
        LineNumber line = 0;
        std::size_t start = 0;
        std::size_t end = 0;
        LabelColour colour = LabelColour::None;
    };
    // The colours of a long line, from the words around [from, to) only.
    const std::vector<LabelSpan>& longLineSpans(LineNumber line, std::size_t from, std::size_t to) const;
    LongWord longWordAt(LineNumber line, std::size_t index) const;
    static LongWord measureLongWord(const LineSource& lines, const ColourRules& rules, std::size_t chunk,
                                    LineNumber line, std::size_t index, const std::atomic<bool>* cancel);
    void keepLongWord(const LongWord& word) const;
    void forgetLongWords();
    // Measures the word asked for while painting, on the executor.
    void measureWantedWord();
    void stopLongWordJob();

    const LayoutCache& m_layout;
    Encoding m_encoding = Encoding::Windows1252;
    RulesPtr m_rules;      // as given
    RulesPtr m_matchRules; // the same with the labels in the text's encoding
    QColor m_baseColour;
    mutable std::unordered_map<LineNumber, std::vector<LabelSpan>> m_spans;
    mutable std::vector<LabelSpan> m_windowSpans; // of a long line, sure for [from, to)
    mutable LineNumber m_windowLine = -1;
    mutable std::size_t m_windowFrom = 0;
    mutable std::size_t m_windowTo = 0;
    mutable bool m_windowLacksWord = false; // a word in it was left unmeasured by a paint
    mutable std::vector<LongWord> m_longWords; // the last few, newest last
    bool m_painting = false;
    // The word a paint asked for: its line and a byte in it.
    mutable std::optional<std::pair<LineNumber, std::size_t>> m_wantedWord;
    // The stop flag of the word being measured on the executor; null when none is.
    std::shared_ptr<std::atomic<bool>> m_longWordCancel;
};

} // namespace tlg
