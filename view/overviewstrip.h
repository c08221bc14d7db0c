#pragma once

// The overview strip beside the log view: the whole log beside the scroll bar's groove, each
// pixel row shaded red by the share of the lines it stands for that hold an error word, else
// blue by the share holding an info word, and marked in a third colour where a line holds the
// find text. The marks are computed on the executor, as work that can wait, by the rules the
// view colours with; when the log grows only its new lines are marked. A click asks for the
// line the row stands for.

#include "document/linesource.h"
#include "search/overview.h"
#include "view/logview.h"

#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tlg {

class OverviewStrip : public QWidget {
    Q_OBJECT

public:
    // shownView gives the view whose log the strip shows (it may change from call to call);
    // the strip follows what it shows.
    explicit OverviewStrip(std::function<LogView*()> shownView, QWidget* parent = nullptr);
    ~OverviewStrip() override;

    // Watches a view for new text, rules or encoding.
    void watch(LogView* view);
    // The find text to mark (empty: none), as typed; encoded for the log when matched.
    void setFindText(const QString& text);

    // The marks of the lines, one byte each (see OverviewMark), as far as they are computed.
    const std::vector<std::uint8_t>& lineMarks() const { return m_marks; }
    // No computation is under way or waiting.
    bool idle() const { return !m_running && !m_dirty; }

    static QColor errorColour() { return QColor(230, 0, 0); }
    static QColor infoColour() { return QColor(0, 0, 255); }
    static QColor foundColour() { return QColor(255, 150, 0); }

public slots:
    // Looks at the shown view again: nothing happens when its log, rules and find text are
    // those already marked; a log grown from the one marked costs its new lines.
    void refresh();

signals:
    // A row was clicked: the line it stands for.
    void lineClicked(LineNumber line);
    // A computation ended and the strip shows its result.
    void marksUpdated();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Job {
        LinesPtr document;
        LogView::RulesPtr rules;
        std::string pattern;
        LineNumber first = 0;
        CaseFolding folding = CaseFolding::Windows1252; // the find text's, as Find folds it
    };
    // The rows lines stand on: beside the view's scroll bar groove (the whole strip without one).
    QRect rowArea() const;
    void start(Job job);
    void finished(const Job& job, std::vector<std::uint8_t> marks);

    std::function<LogView*()> m_shownView;
    QString m_findText;
    // What the marks were computed for.
    LinesPtr m_document;
    LogView::RulesPtr m_rules;
    std::string m_pattern;
    std::vector<std::uint8_t> m_marks;
    std::vector<RowShare> m_rowShares; // per pixel row of rowArea(), for painting
    bool m_rowsStale = true;

    // The stop flag of the pass under way, raised when the strip goes.
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_running = false;
    bool m_dirty = false; // something changed while a computation ran
};

} // namespace tlg
