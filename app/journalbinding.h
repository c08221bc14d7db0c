#pragma once

// A tab that shows the systemd journal: the journal source whose lines the tab's view shows,
// through the tab's filter stack, in place of a file's. The tab's file controller stays
// without a file, so that nothing of the file's path runs for a journal; the tab asks this
// binding for the journal's lines where it would ask the controller for the file's.
//
// The view first shows the journal's last entries, and the whole journal once it is read,
// with the caret on the same entry; new entries follow as a file's new lines do: a caret on
// the last line stays on the last line.

#include "journal/journallines.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class QWidget;

namespace tlg {

class Colouring;
class FilterStackRunner;
class JournalFieldsPanel;
class JournalSource;
class LogTimes;
class LogView;
class StatusPanels;

class JournalBinding : public QObject {
    Q_OBJECT

public:
    // window is the parent of the error box.
    JournalBinding(QWidget* window, LogView* view, FilterStackRunner* stack, LogTimes* times,
                   const Colouring* colouring, StatusPanels* status, QObject* parent);
    ~JournalBinding() override;

    // Opens the journal; a journal that cannot be opened is said in the error box, and
    // failed() follows.
    void open(const JournalQuery& query);
    JournalSource* source() const { return m_source; }
    // The journal's file or folder, "" for the local machine's journal.
    QString path() const;
    // What the tab and the window's title call it.
    QString title() const;
    // The filter stack's choice changed: the view shows its lines, the caret on the same entry.
    void showShownLinesAgain();
    // The panel that lists the journal's fields and shows the caret's entry: ticking values
    // there opens the journal again with their matches.
    void setFieldsPanel(JournalFieldsPanel* panel);
    // Whether the view keeps to the last line as entries come.
    void setGotoBottom(bool on) { m_gotoBottom = on; }

signals:
    // The whole journal is shown (after its tail).
    void opened();
    void failed(const QString& text);
    // New entries came.
    void grew();

private:
    void showLines(bool grown);
    void showStatus();
    void showProgress(int percent);
    // The caret's entry's fields in the panel.
    void showEntryFields();

    QWidget* m_window;
    LogView* m_view;
    FilterStackRunner* m_stack;
    LogTimes* m_times;
    const Colouring* m_colouring;
    StatusPanels* m_status;
    JournalSource* m_source;
    JournalLinesPtr m_shown; // the journal's lines the view shows, before the filter stack
    QElapsedTimer m_sinceOpen;
    JournalFieldsPanel* m_panel = nullptr;
    LineNumber m_entryShown = -1; // the first line of the entry whose fields the panel shows
    bool m_gotoBottom = false;
};

} // namespace tlg
