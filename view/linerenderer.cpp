#include "view/linerenderer.h"

#include "core/cp1252.h"
#include "document/linelayout.h"

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

bool LineRenderer::isControl(unsigned char byte, Encoding encoding)
{
    const char16_t c = encoding == Encoding::Iso8859_1 ? byte : cp1252ToUnicode(byte);
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

QChar LineRenderer::glyphFor(unsigned char byte, Encoding encoding)
{
    const char16_t c = encoding == Encoding::Iso8859_1 ? byte : cp1252ToUnicode(byte);
    if (c < 0x20)
        return QChar(0x2400 + c); // the Control Pictures block: NUL shows as a small "NUL"
    if (c == 0x7F)
        return QChar(0x2421);
    if (c >= 0x80 && c <= 0x9F)
        return QChar(0xFFFD); // bytes that Windows-1252 leaves undefined
    return QChar(c);
}

QString LineRenderer::cellText(std::string_view line, const Cluster& cell, Encoding encoding)
{
    const auto first = static_cast<unsigned char>(line[cell.byte]);
    if (first == '\t')
        return QStringLiteral("\t");
    if (encoding != Encoding::Utf8 || (first < 0x80 && cell.end == cell.byte + 1))
        return QString(glyphFor(first, encoding));
    char32_t c = 0;
    if (Utf8SequenceAt(line, cell.byte, c) == 0)
        return QString(glyphFor(first, Encoding::Windows1252)); // not UTF-8: the byte as it is
    if (c >= 0x80 && c <= 0x9F)
        return QString(QChar(0xFFFD)); // a C1 control
    return QString::fromUtf8(line.data() + cell.byte, static_cast<qsizetype>(cell.end - cell.byte));
}

void LineRenderer::paintCell(QPainter& painter, QPointF topLeft, const QString& text,
                             const QColor& colour) const
{
    // Drawn once into an image and then copied: a character from a fallback font is shaped
    // anew at every drawText, and a colour emoji decoded from its PNG each time, which costs
    // far more than the copy. A cell may draw a little past its columns, so the image has a
    // cell of room on either side.
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    QString key = text;
    key += QChar(0);
    key += QString::number(colour.rgba(), 16);
    key += QChar(0);
    key += QString::number(ratio);
    auto found = m_cellImages.constFind(key);
    if (found == m_cellImages.constEnd()) {
        if (m_cellImages.size() > 4096)
            m_cellImages.clear();
        const QSizeF size(4 * m_cellWidth, m_lineHeight);
        QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter cell(&image);
        cell.setFont(m_font);
        cell.setPen(colour);
        cell.drawText(QPointF(m_cellWidth, m_ascent), text);
        cell.end();
        found = m_cellImages.insert(key, image);
    }
    painter.drawImage(QPointF(topLeft.x() - m_cellWidth, topLeft.y()), *found);
}

bool LineRenderer::inOwnFont(char32_t c) const
{
    if (c >= 0x10000)
        return m_metrics.inFontUcs4(c);
    if (m_ownFont.empty())
        m_ownFont.assign(0x10000, 0);
    std::uint8_t& known = m_ownFont[c];
    if (known == 0)
        known = m_metrics.inFontUcs4(c) ? 1 : 2;
    return known == 1;
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

    // Paint runs of printable characters that share a colour as one string; tabs only advance
    // the column, and each control byte (and, in UTF-8, each character the view's font lacks,
    // each wide character and each cluster of several) is painted on its own cells, so that a
    // glyph from a fallback font can never shift the columns after it.
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
    auto addToRun = [&](auto text, const QColor& colour) { // a QChar or a QString
        if (!run.isEmpty() && colour != runColour)
            flush();
        if (run.isEmpty()) {
            runColumn = column;
            runColour = colour;
        }
        run.append(text);
    };
    auto paintAlone = [&](const QString& text, const QColor& colour) {
        flush();
        paintCell(painter, QPointF(cellX(column), y), text, colour);
    };
    const std::size_t endByte = std::min(line.size(), row.endByte);
    if (row.encoding != Encoding::Utf8) {
        while (pos < endByte && column < lastColumn) {
            const unsigned char byte = static_cast<unsigned char>(line[pos]);
            if (byte == '\t') {
                flush();
                column = (column / kTabWidth + 1) * kTabWidth;
                ++pos;
                continue;
            }
            const QColor colour = colourOf(pos);
            if (isControl(byte, row.encoding))
                paintAlone(QString(glyphFor(byte, row.encoding)), colour);
            else
                addToRun(glyphFor(byte, row.encoding), colour);
            ++column;
            ++pos;
        }
        flush();
        return {pos, column};
    }

    while (pos < endByte && column < lastColumn) {
        const auto byte = static_cast<unsigned char>(line[pos]);
        if (byte >= 0x20 && byte < 0x7F && (pos + 1 >= line.size() || static_cast<unsigned char>(line[pos + 1]) < 0x80)) {
            // Plain ASCII, the common case, without decoding.
            addToRun(QChar(QLatin1Char(static_cast<char>(byte))), colourOf(pos));
            ++column;
            ++pos;
            continue;
        }
        const Cluster cell = clusterAt(line, {pos, column}, true);
        if (byte == '\t') {
            flush();
        } else {
            const QString text = cellText(line, cell, Encoding::Utf8);
            const QColor colour = colourOf(pos);
            const char32_t first = text.size() == 1 ? text.at(0).unicode() : 0;
            if (cell.width == 1 && first >= 0x20 && first != 0xFFFD && byte >= 0x20 && byte != 0x7F &&
                inOwnFont(first))
                addToRun(text, colour);
            else
                paintAlone(text, colour);
        }
        pos = cell.end;
        column = cell.column + cell.width;
    }
    flush();
    return {pos, column};
}

} // namespace tlg
