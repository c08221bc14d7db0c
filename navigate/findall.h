#pragma once

// Find in all open logs: every line of every log that holds the text, listed as the log's
// name, the line's number (from 1) and its text. The logs are searched one after the other
// beside the GUI thread, each read a chunk at a time, matched as Find matches in the view
// (case, whole word, a PCRE2 expression); the rows reach the list in batches. A click, Enter
// or a double click on a row asks for that line of that log.

#include "document/encoding.h"
#include "document/linesource.h"
#include "navigate/findquery.h"

#include <QElapsedTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeView;

namespace tlg {

// A log to search.
struct FindAllLog {
    quint64 key = 0; // the caller's name for the log (its tab), given back on activation
    QString name;    // as the list shows it
    LinesPtr lines;
    // How `lines` holds its characters (LogView::encoding(); a 16-bit log is held as UTF-8).
    Encoding encoding = Encoding::Windows1252;
};

class FindAllResults : public QWidget {
    Q_OBJECT

public:
    explicit FindAllResults(QWidget* parent = nullptr);
    // Stops the search under way without waiting for it: it ends at its next chunk.
    ~FindAllResults() override;

    // Empties the list and searches the logs for the query, in order; a search under way
    // stops first and shows nothing more. An invalid expression says why in the summary and
    // searches nothing.
    void start(const FindQuery& query, std::vector<FindAllLog> logs);
    // Stops the search under way (the "Stop" button, Esc in the list); what it found stays.
    void stop();
    bool searching() const { return m_job != nullptr; }

    // The rows listed so far, and what the summary says ("3 matches in 2 logs",
    // "Not found: "text"", "Invalid pattern: ...").
    int resultCount() const;
    QString summary() const;

    // The list keeps this many rows; the summary says when more were not listed.
    static constexpr int kMaxResults = 100000;
    // A line's text is cut to this many characters.
    static constexpr int kMaxTextLength = 500;

signals:
    // A row was clicked, double-clicked or chosen with Enter: the log's key and the line,
    // from 0.
    void resultActivated(quint64 key, tlg::LineNumber line);
    // The search ended by itself or was stopped (not when a new one replaced it).
    void finished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row;
    struct Job;
    class Model;

    // Takes the rows the search found since last time into the list.
    void takeRows();
    // Takes the rows found so far into the list, shows the progress, and ends the search once
    // its work is done.
    void deliver();
    // Ends the search: its last rows listed, the summary said.
    void finish(bool stopped);
    // Stops the search (if any) without showing anything more.
    void abandon();
    void activate(const QModelIndex& index);
    void showSummary(bool stopped);

    Model* m_model = nullptr;
    QTreeView* m_list = nullptr;       // FindAllList
    QLabel* m_summary = nullptr;       // FindAllSummary
    QProgressBar* m_progress = nullptr; // FindAllProgress
    QPushButton* m_stop = nullptr;     // FindAllStop
    QTimer* m_poll = nullptr;

    std::shared_ptr<Job> m_job; // the search under way
    QElapsedTimer m_sinceStart;
    QString m_text;            // what is searched for
    std::vector<quint64> m_keys; // of the logs of the rows
    int m_logsWithRows = 0;
    int m_lastLogListed = -1;
    bool m_more = false; // the bound was reached
    QString m_failure;   // a log that could not be read
};

} // namespace tlg
