#pragma once

// What one tab shows of its log: the one pipeline from the log's lines through the tab's
// filter stack to its view, each new snapshot handed to the view once, with the caret placed
// as the change asks ("Goto Bottom" down takes the reader to the end of a followed log), the
// colour rules of the moment, and what the status bar says of it.

#include "source/log.h"
#include "source/watchstate.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace tlg {

class Colouring;
class FilterStackRunner;
class LogView;
class StatusPanels;

class LogPresenter : public QObject {
    Q_OBJECT

public:
    // `window` parents the error box and comes forward when a change asks it to.
    LogPresenter(QWidget* window, LogView* view, FilterStackRunner* stack, const Colouring* colouring,
                 StatusPanels* status, QObject* parent);

    // The log shown from now on (null: none).
    void setLog(Log* log);
    Log* log() const { return m_log; }

    // ToolButton14Click and CheckBox3Click: the button, pressed, goes to the bottom at once,
    // not only at the next change.
    void setGotoBottom(bool on, bool fromButton);
    bool gotoBottom() const { return m_gotoBottom; }
    // The caret to the end of the text.
    void scrollToBottom();
    // The colouring switches changed: the view shows its text with the rules of now.
    void showRulesNow();
    // The watcher ticked: a colouring due since a text was read with colouring off is done
    // once colouring is on again.
    void colourIfDue(int intervalMs);
    // The filter stack's lines changed: the view shows them, the caret on the same line of the
    // log, or the next one shown.
    void showStackAgain();

signals:
    // New lines were shown (the log grew or was written anew).
    void grew();
    // Apply Now read the log again; `path` names it.
    void formatApplied(const QString& path);

private:
    void show(const LogChange& change);
    void showProgress(int percent);
    // The status of the colouring: "Format" with the time and the encoding in use.
    void sayColoured();
    void setStatusText(int panel, const QString& text);
    // Whether the last line is in sight.
    bool endInSight() const;

    QWidget* m_window;
    LogView* m_view; // RichEdit1
    FilterStackRunner* m_stack;
    const Colouring* m_colouring;
    StatusPanels* m_status;
    QPointer<Log> m_log;
    bool m_gotoBottom = false; // ToolButton14 and CheckBox3
    bool m_colouredOnce = false;
    ColouringDue m_due;
    QString m_beforeProgress; // the first panel's text before a progress report
    bool m_progressShown = false;
};

} // namespace tlg
