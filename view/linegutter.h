#pragma once

// The gutter at a log view's left and the reader's marks on lines. It numbers the lines from 1
// (by their numbers in their file, for a source that shows some lines of a log or several
// files), on the first row of each line, and paints only the rows in sight. It keeps the
// marks the reader set, by the line of the log (lineInLog), so that a filtered log shows the
// marks of the lines it keeps; a click beside a line sets or takes away its mark.

#include "document/layoutcache.h"

#include <QColor>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>

namespace tlg {

class LineRenderer;

class LineGutter : public QWidget {
    Q_OBJECT

public:
    // The rows its view shows: how the view's lines break into rows, and the row at its top.
    struct RowsInSight {
        LayoutCache::Rows rows;
        LayoutCache::RowPos top;
    };
    // `renderer` (the view's font and sizes) must outlive the gutter; `sight` is asked for the
    // rows in sight whenever the gutter paints or is clicked.
    LineGutter(const LineRenderer& renderer, std::function<RowsInSight()> sight, QWidget* parent);

    // Off at start: the gutter then wants no room.
    void setNumbersShown(bool on) { m_numbersShown = on; }
    bool numbersShown() const { return m_numbersShown; }
    // The room it wants: for the highest number, at least three digits, so that a growing log
    // rarely moves its text sideways; 0 while numbers are off.
    int widthWanted() const;

    void setMarks(std::set<std::int64_t> logLines);
    const std::set<std::int64_t>& marks() const { return m_marks; }
    // Sets or takes away the mark of the log's line; emits marksChanged.
    void toggleMark(std::int64_t logLine);
    // The nearest line after (or before) the line `from` of the shown lines whose log line is
    // marked and shown; none when there is none that way.
    std::optional<LineNumber> markedLineFrom(LineNumber from, bool forward) const;

    // A log made of several files names them in the order its line source numbers them
    // (LineSource::fileOf): each line's file is then a narrow bar in the file's colour, with
    // the file's name in its tooltip. One name or none shows no bar.
    void setFileNames(QStringList names);
    const QStringList& fileNames() const { return m_fileNames; }
    static QColor fileColour(std::size_t file);
    // The file of the line beside the height y ("" when there is none or one file).
    QString fileNameAt(int y) const;

    static QColor markColour() { return QColor(0, 150, 70); }
    static QColor gapColour() { return QColor(200, 100, 0); }

signals:
    // A mark was set or taken away by the reader.
    void marksChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    // The line beside the height y (the last one below the text); none beside the empty line
    // after a final line break, or in an empty log.
    std::optional<LineNumber> lineAt(int y) const;

    const LineRenderer& m_renderer;
    std::function<RowsInSight()> m_sight;
    bool m_numbersShown = false;
    std::set<std::int64_t> m_marks;
    QStringList m_fileNames;
    static constexpr int kFileBarWidth = 4;
};

} // namespace tlg
