#pragma once

// The filter pane (FilterPane) below the log view: a pattern (FilterText), "Match case"
// (FilterCase), "Regular expression" (FilterRegex) and the list of the shown log's lines that
// match (FilterView), each with its line number from 1. Typing filters again after a short
// pause; the search runs beside the GUI thread with its progress in sight, and typing again
// cancels it. Lines that a followed log appends are filtered as they arrive. A click (or
// Enter) on a listed line puts the view's caret on it. The list is a table over the matches:
// it asks only for the rows in sight, so a million matches cost what ten do.

#include "document/encoding.h"
#include "document/linesource.h"

#include <QWidget>

#include <atomic>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QModelIndex;
class QProgressBar;
class QTableView;
class QTimer;

namespace tlg {

class LineFilter;
class LogView;

class FilterPane : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int matchCount READ matchCount)

public:
    explicit FilterPane(QWidget* parent);
    ~FilterPane() override;

    // Follows the text the log view shows; Ctrl+Shift+F in the window shows or hides the pane.
    void setLogView(LogView* view);

    // How many lines the list holds, and the line (from 0) of one of its rows.
    int matchCount() const { return static_cast<int>(m_matches.size()); }
    LineNumber matchedLine(int row) const { return m_matches.at(static_cast<std::size_t>(row)); }
    // A search is under way beside the GUI thread.
    bool searching() const { return m_job != nullptr; }
    QTableView* view() const { return m_view; }

public slots:
    // Shows the pane with the focus in its pattern, or hides it.
    void toggle();

signals:
    // A search ran to its end (the list is complete for the shown text).
    void searchFinished();

private:
    class Model;
    struct Job;

    // Filters the shown text again from the start with the pattern as it is now.
    void restart();
    // The view was given a text: a text that only grew is filtered from its first new line on;
    // an edited pattern not yet applied filters the whole text anew.
    void shownTextChanged();
    // Searches the document from a line on beside the GUI thread; the lines found are added.
    void startJob(LineNumber fromLine);
    void cancelJob();
    void addMatches(const std::vector<LineNumber>& lines);
    void truncateMatches(LineNumber fromLine);
    void showCount();
    void jumpTo(const QModelIndex& index);

    LogView* m_log = nullptr;
    QLineEdit* m_text = nullptr;       // FilterText
    QCheckBox* m_case = nullptr;       // FilterCase
    QCheckBox* m_regex = nullptr;      // FilterRegex
    QLabel* m_status = nullptr;        // FilterStatus: the count, or why a pattern is invalid
    QProgressBar* m_progress = nullptr; // FilterProgress
    QTableView* m_view = nullptr;      // FilterView
    Model* m_model = nullptr;
    QTimer* m_typing = nullptr;        // the pause after typing
    QTimer* m_progressTimer = nullptr;

    std::shared_ptr<const LineFilter> m_filter; // null: no pattern, or an invalid one
    LinesPtr m_document;                      // the text the matches belong to
    Encoding m_encoding = Encoding::Windows1252; // and how it holds its characters
    std::vector<LineNumber> m_matches;
    std::shared_ptr<Job> m_job;                  // the search under way
};

} // namespace tlg
