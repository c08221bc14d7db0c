#pragma once

// The filter pane (FilterPane) below the log view: a pattern (FilterText), "Match case"
// (FilterCase), "Regular expression" (FilterRegex) and the list of the shown log's lines that
// match (FilterView), each with its line number from 1. Typing filters again after a short
// pause; the search runs beside the GUI thread with its progress in sight, and typing again
// cancels it. Lines that a followed log appends are filtered as they arrive. A click (or
// Enter) on a listed line puts the view's caret on it. The list is a log view of the lines
// kept from the log's text, coloured as the log is: it paints only the rows in sight and holds
// matching lines that follow one another as one run, so a billion matches cost what ten do.

#include "document/encoding.h"
#include "document/keptlines.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <set>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTimer;

namespace tlg {

class LineFilter;
class LogView;

class FilterPane : public QWidget {
    Q_OBJECT
    Q_PROPERTY(qint64 matchCount READ matchCount)

public:
    explicit FilterPane(QWidget* parent);
    ~FilterPane() override;

    // Follows the text the log view shows; Ctrl+Shift+F in the window shows or hides the pane.
    void setLogView(LogView* view);

    // How many lines the list holds, and the line (from 0) in the log of one of its rows.
    qint64 matchCount() const { return m_kept ? m_kept->lineCount().value() : 0; }
    LineNumber matchedLine(LineNumber row) const { return m_kept ? m_kept->lineInBase(row) : 0; }
    // The pattern and its switches as the reader left them, and set again at start.
    QString pattern() const;
    bool matchCase() const;
    bool regex() const;
    void setPattern(const QString& pattern, bool matchCase, bool regex);
    // A search is under way beside the GUI thread.
    bool searching() const { return m_job != nullptr; }
    LogView* list() const { return m_list; }

public slots:
    // Shows the pane with the focus in its pattern, or hides it.
    void toggle();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // A search ran to its end (the list is complete for the shown text).
    void searchFinished();

private:
    struct Job;

    // Filters the shown text again from the start with the pattern as it is now.
    void restart();
    // The view was given a text: a text that only grew is filtered from its first new line on;
    // an edited pattern not yet applied filters the whole text anew.
    void shownTextChanged();
    // Searches the document from a line on beside the GUI thread; the lines found are added.
    void startJob(LineNumber fromLine);
    void cancelJob();
    // Lists the lines kept before `fromLine` and then `lines`, over the text now filtered; the
    // list keeps its caret and what is in sight.
    void keepMatches(LineNumber fromLine, const std::vector<LineNumber>& lines);
    // Lists `kept`; a list that only changed at its end keeps its caret and what is in sight.
    void showKept(KeptLinesPtr kept, bool sameStart);
    void showCount();
    // The log's marks, shown on the listed lines.
    void showLogMarks();
    // Puts the log view's caret on the line of the list's caret.
    void jumpToCaretLine();

    LogView* m_log = nullptr;
    QLineEdit* m_text = nullptr;       // FilterText
    QCheckBox* m_case = nullptr;       // FilterCase
    QCheckBox* m_regex = nullptr;      // FilterRegex
    QLabel* m_status = nullptr;        // FilterStatus: the count, or why a pattern is invalid
    QProgressBar* m_progress = nullptr; // FilterProgress
    LogView* m_list = nullptr;         // FilterView
    QTimer* m_typing = nullptr;        // the pause after typing
    QTimer* m_progressTimer = nullptr;

    std::shared_ptr<const LineFilter> m_filter; // null: no pattern, or an invalid one
    LinesPtr m_document;                         // the text the matches belong to
    Encoding m_encoding = Encoding::Windows1252; // and how it holds its characters
    KeptLinesPtr m_kept;                         // the list's lines
    std::shared_ptr<Job> m_job;                  // the search under way
};

} // namespace tlg
