#pragma once

// Paints one screen row of a log line into a QPainter. It knows the font and the colours it is
// given and nothing of documents, scrolling or widgets.

#include "document/encoding.h"
#include "document/linelayout.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>
#include <QString>

#include <cstdint>
#include <string_view>
#include <vector>

class QPainter;

namespace tlg {

// A stretch of a line's bytes [start, end) painted in one colour.
struct ColourSpan {
    std::size_t start;
    std::size_t end;
    QColor colour;
};

class LineRenderer {
public:
    explicit LineRenderer(const QFont& font);

    const QFont& font() const { return m_font; }
    // Height of one text line in pixels.
    int lineHeight() const { return m_lineHeight; }
    // Width of one character cell in pixels (the font is fixed-pitch).
    qreal cellWidth() const { return m_cellWidth; }

    struct Row {
        std::string_view line;        // the line's content, without its break
        Cell start{0, 0};             // the cell under firstColumn: where painting starts
        std::int64_t firstColumn = 0; // the column shown at x
        std::int64_t columns = 0;     // how many columns to paint
        // The selected part of the line, in columns; the break cell after the line's last
        // column is selected when the selection runs past the line's end.
        std::int64_t selectionStartColumn = 0;
        std::int64_t selectionEndColumn = 0;
        std::size_t selectionStart = 0; // the same in bytes, [start, end)
        std::size_t selectionEnd = 0;
        bool breakSelected = false;
        std::int64_t lineColumns = 0;   // the width of the whole line
        bool lastRowOfLine = true;      // the break cell belongs to this row
        const std::vector<ColourSpan>* spans = nullptr; // sorted, disjoint; may be null
        // Where the row ends, in bytes (word wrap ends a row after a space); painting also
        // stops after `columns` columns.
        std::size_t endByte = std::string_view::npos;
        // How the line holds its characters: Windows-1252, ISO-8859-1 or UTF-8.
        Encoding encoding = Encoding::Windows1252;
    };

    struct Palette {
        QColor text;
        QColor selectionBackground;
        QColor selectionText;
    };

    // Paints the row with its top-left corner at (x, y). Returns the cell where painting
    // stopped: the start of the next wrapped row of the same line.
    Cell paintRow(QPainter& painter, qreal x, int y, const Row& row, const Palette& palette) const;

    // The character shown for a byte: its Windows-1252 (or ISO-8859-1) character, or a
    // visible stand-in for control bytes so that they are never invisible.
    static QChar glyphFor(unsigned char byte, Encoding encoding = Encoding::Windows1252);
    static bool isControl(unsigned char byte, Encoding encoding = Encoding::Windows1252);
    // What a cell of a line shows: a tab as a tab, a control as its stand-in, a byte that is
    // not valid UTF-8 as its Windows-1252 character, other characters as themselves.
    static QString cellText(std::string_view line, const Cluster& cell, Encoding encoding);

private:
    // Whether the view's own font draws the character: its cells can then be painted as one
    // string, since a fixed-pitch font puts each of them on its column.
    bool inOwnFont(char32_t c) const;
    // Paints a cell's text on its own at the cell's top-left corner.
    void paintCell(QPainter& painter, QPointF topLeft, const QString& text, const QColor& colour) const;

    QFont m_font;
    QFontMetricsF m_metrics;
    int m_lineHeight;
    int m_ascent;
    qreal m_cellWidth;
    mutable std::vector<std::uint8_t> m_ownFont; // per basic-plane character: 0 unknown, 1 yes, 2 no
    mutable QHash<QString, QImage> m_cellImages;  // cells painted on their own, by text and colour
};

} // namespace tlg
