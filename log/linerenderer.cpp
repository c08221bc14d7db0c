#include "log/linerenderer.h"

#include "core/cp1252.h"
#include "log/linelayout.h"

#include <QPainter>
#include <QString>

#include <algorithm>
#include <cmath>

namespace tlg {

LineRenderer::LineRenderer(const QFont& font)
    : m_font(font), m_metrics(font), m_lineHeight(static_cast<int>(std::ceil(m_metrics.height()))),
      m_ascent(static_cast<int>(std::ceil(m_metrics.ascent()))),
      m_cellWidth(m_metrics.horizontalAdvance(QLatin1Char('M')))
{
    if (m_cellWidth <= 0)
        m_cellWidth = 1;
}

bool LineRenderer::isControl(unsigned char byte)
{
    const char16_t c = cp1252ToUnicode(byte);
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

QChar LineRenderer::glyphFor(unsigned char byte)
{
    const char16_t c = cp1252ToUnicode(byte);
    if (c < 0x20)
        return QChar(0x2400 + c); // the Control Pictures block: NUL shows as a small "NUL"
    if (c == 0x7F)
        return QChar(0x2421);
    if (c >= 0x80 && c <= 0x9F)
        return QChar(0xFFFD); // bytes that Windows-1252 leaves undefined
    return QChar(c);
}

Cell LineRenderer::paintRow(QPainter& painter, qreal x, int y, const Row& row,
                            const Palette& palette) const
{
    const std::string_view line = row.line;
    const std::int64_t lastColumn = row.firstColumn + row.columns; // exclusive
    auto cellX = [&](std::int64_t col) {
        return x + static_cast<qreal>(col - row.firstColumn) * m_cellWidth;
    };

    // Selection background first, so that the text paints over it.
    const std::int64_t selLeft = std::max(row.selectionStartColumn, row.firstColumn);
    const std::int64_t selRight = std::min(row.selectionEndColumn, lastColumn);
    if (selRight > selLeft)
        painter.fillRect(QRectF(cellX(selLeft), y, cellX(selRight) - cellX(selLeft), m_lineHeight),
                         palette.selectionBackground);
    if (row.breakSelected && row.lastRowOfLine && row.lineColumns >= row.firstColumn &&
        row.lineColumns <= lastColumn)
        painter.fillRect(QRectF(cellX(row.lineColumns), y, m_cellWidth, m_lineHeight),
                         palette.selectionBackground);

    painter.setFont(m_font);
    const qreal baseline = y + m_ascent;
    std::size_t spanIndex = 0;
    auto colourOf = [&](std::size_t byte) -> QColor {
        if (byte >= row.selectionStart && byte < row.selectionEnd)
            return palette.selectionText;
        if (row.spans) {
            const auto& spans = *row.spans;
            while (spanIndex < spans.size() && spans[spanIndex].end <= byte)
                ++spanIndex;
            if (spanIndex < spans.size() && spans[spanIndex].start <= byte)
                return spans[spanIndex].colour;
        }
        return palette.text;
    };

    // Paint runs of printable bytes that share a colour as one string; tabs only advance the
    // column, and each control byte is painted on its own cell so that a stand-in glyph from a
    // fallback font can never shift the columns after it.
    std::size_t pos = row.start.byte;
    std::int64_t column = row.start.column;
    QString run;
    std::int64_t runColumn = column;
    QColor runColour;
    auto flush = [&]() {
        if (run.isEmpty())
            return;
        painter.setPen(runColour);
        painter.drawText(QPointF(cellX(runColumn), baseline), run);
        run.clear();
    };
    while (pos < line.size() && column < lastColumn) {
        const unsigned char byte = static_cast<unsigned char>(line[pos]);
        if (byte == '\t') {
            flush();
            column = (column / kTabWidth + 1) * kTabWidth;
            ++pos;
            continue;
        }
        const QColor colour = colourOf(pos);
        if (isControl(byte)) {
            flush();
            painter.setPen(colour);
            painter.drawText(QPointF(cellX(column), baseline), QString(glyphFor(byte)));
        } else {
            if (!run.isEmpty() && colour != runColour)
                flush();
            if (run.isEmpty()) {
                runColumn = column;
                runColour = colour;
            }
            run.append(glyphFor(byte));
        }
        ++column;
        ++pos;
    }
    flush();
    return {pos, column};
}

} // namespace tlg
