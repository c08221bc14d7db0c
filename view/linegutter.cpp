#include "view/linegutter.h"

#include "view/linerenderer.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace tlg {

LineGutter::LineGutter(const LineRenderer& renderer, std::function<RowsInSight()> sight, QWidget* parent)
    : QWidget(parent), m_renderer(renderer), m_sight(std::move(sight))
{
}

int LineGutter::widthWanted() const
{
    if (!m_numbersShown)
        return 0;
    const LineSource& lines = *m_sight().rows.lines();
    int digits = 1;
    const LineCount count = lines.lineCount();
    for (std::int64_t n = count > 0 ? lines.lineInLog(EndLine(count) - 1).value() + 1 : 1; n >= 10; n /= 10)
        ++digits;
    const int bar = m_fileNames.size() > 1 ? kFileBarWidth : 0;
    return static_cast<int>(std::ceil(std::max(digits, 3) * m_renderer.cellWidth())) + 2 * 4 + bar;
}

void LineGutter::setMarks(std::set<std::int64_t> logLines)
{
    m_marks = std::move(logLines);
    update();
}

void LineGutter::toggleMark(std::int64_t logLine)
{
    if (!m_marks.erase(logLine))
        m_marks.insert(logLine);
    update();
    emit marksChanged();
}

std::optional<LineNumber> LineGutter::markedLineFrom(LineNumber from, bool forward) const
{
    const LineSource& lines = *m_sight().rows.lines();
    if (lines.lineCount() == 0)
        return std::nullopt;
    // The next marked line of the log that these lines show (a filtered log hides some).
    const std::int64_t start = lines.lineInLog(from).value();
    const auto shows = [&lines](std::int64_t logLine) {
        const LineNumber row = lines.lineShowing(logLine);
        return row < EndLine(lines.lineCount()) && lines.lineInLog(row) == logLine;
    };
    if (forward) {
        for (auto next = m_marks.upper_bound(start); next != m_marks.end(); ++next) {
            if (shows(*next))
                return lines.lineShowing(*next);
        }
    } else {
        for (auto next = m_marks.lower_bound(start); next != m_marks.begin();) {
            --next;
            if (shows(*next))
                return lines.lineShowing(*next);
        }
    }
    return std::nullopt;
}

void LineGutter::setFileNames(QStringList names)
{
    m_fileNames = std::move(names);
    update();
}

QColor LineGutter::fileColour(std::size_t file)
{
    // Hues far apart for the first files, then between them.
    static const QColor colours[] = {QColor(31, 119, 180), QColor(255, 127, 14), QColor(44, 160, 44),
                                     QColor(148, 103, 189), QColor(140, 86, 75),  QColor(227, 119, 194),
                                     QColor(127, 127, 127), QColor(188, 189, 34), QColor(23, 190, 207),
                                     QColor(214, 39, 40)};
    constexpr std::size_t count = std::size(colours);
    if (file < count)
        return colours[file];
    return QColor::fromHsv(static_cast<int>((file * 137) % 360), 160, 200);
}

std::optional<LineNumber> LineGutter::lineAt(int y) const
{
    const RowsInSight sight = m_sight();
    LayoutCache::RowPos pos = sight.top;
    sight.rows.moveRows(pos, static_cast<std::int64_t>(std::floor(static_cast<double>(y) / m_renderer.lineHeight())));
    if (pos.line >= EndLine(sight.rows.lines()->lineCount()))
        return std::nullopt; // the empty line after a final break, or no line
    return pos.line;
}

QString LineGutter::fileNameAt(int y) const
{
    if (m_fileNames.size() < 2)
        return {};
    const std::optional<LineNumber> line = lineAt(y);
    if (!line)
        return {};
    const std::size_t file = m_sight().rows.lines()->fileOf(*line);
    return file < static_cast<std::size_t>(m_fileNames.size()) ? m_fileNames[static_cast<int>(file)] : QString();
}

void LineGutter::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor(240, 240, 240));
    painter.setPen(QColor(128, 128, 128));
    painter.setFont(m_renderer.font());
    const int lineHeight = m_renderer.lineHeight();
    const int rows = height() / lineHeight + 1;
    const RowsInSight sight = m_sight();
    const LineSource& lines = *sight.rows.lines();
    const LineNumber end = EndLine(lines.lineCount());
    const int bar = m_fileNames.size() > 1 ? kFileBarWidth : 0;
    LayoutCache::RowPos pos = sight.top;
    for (int i = 0, y = 0; i < rows; ++i, y += lineHeight) {
        if (pos.line >= end)
            break;
        // A wrapped line is numbered on its first row only.
        if (pos.subRow == 0) {
            const LineNumber inLog = lines.lineInLog(pos.line);
            if (m_marks.count(inLog.value()))
                painter.fillRect(1, y + 1, 4, lineHeight - 2, markColour());
            painter.drawText(QRect(0, y, width() - 4 - bar, lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(lines.lineInFile(pos.line).value() + 1));
            // Lines of the log left out just above this one: a dashed rule across the gutter.
            const LineNumber above = pos.line > 0 ? lines.lineInLog(pos.line - 1) : LineNumber(-1);
            if (inLog != above + 1) {
                painter.save();
                painter.setPen(QPen(gapColour(), 1, Qt::DashLine));
                painter.drawLine(0, y, width(), y);
                painter.restore();
            }
        }
        // A log made of several files: a bar in each file's colour along the gutter's edge.
        if (bar > 0)
            painter.fillRect(width() - bar, y, bar, lineHeight, fileColour(lines.fileOf(pos.line)));
        if (!sight.rows.nextRow(pos))
            break;
    }
}

void LineGutter::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const LineSource& lines = *m_sight().rows.lines();
    const std::optional<LineNumber> line = lineAt(static_cast<int>(event->position().y()));
    if (line)
        toggleMark(lines.lineInLog(*line).value());
}

bool LineGutter::event(QEvent* event)
{
    // Over a log made of several files, the tooltip names the file of the line beside it.
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString name = fileNameAt(help->pos().y());
    if (name.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), name, this);
    return true;
}

} // namespace tlg
