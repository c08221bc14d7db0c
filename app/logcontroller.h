#pragma once

// The open log as the window shows it: the source that reads it, the view that shows it, the
// switches that drive following (Timer1, Auto refresh, Goto Bottom, the interval), and the
// requests of the window (File > Open File, a drop, the command line, Reload, a file-list pick,
// Apply Now, the Encoding menu). Every read runs on the source's thread; the controller asks
// and, when the source answers, shows the text, places the caret and reports in the status
// bar. A request made while the source is busy waits, and the last one made runs as soon as
// the source is idle.
//
// The controller reports through signals (the title, the reload alert) and reads the switches
// that the window hands it; it never reaches into the window.

#include "document/encoding.h"
#include "document/logdocument.h"
#include "document/unicode.h"
#include "source/logsource.h"
#include "source/watchstate.h"
#include "app/openlogdialog.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <string>

class QAbstractButton;
class QFileDialog;
class QSlider;
class QTimer;
class QWidget;

namespace tlg {

class Colouring;
class LogView;
class StatusPanels;

// The window's controls that drive the open log. The controller connects their signals to its
// handlers and reads their state when a handler runs.
struct FollowerControls {
    QAbstractButton* autoRefreshButton = nullptr; // ToolButton17
    QAbstractButton* autoRefreshBox = nullptr;    // CheckBox5
    QAbstractButton* gotoBottomButton = nullptr;  // ToolButton14
    QAbstractButton* scrollToBottomBox = nullptr; // CheckBox3
    QAbstractButton* unicodeButton = nullptr;     // ToolButton16
    QAbstractButton* wordWrapBox = nullptr;       // CheckBox1
    QAbstractButton* followInstantlyBox = nullptr; // "Follow changes instantly"
    QSlider* intervalSlider = nullptr;            // TrackBar1
};

class LogController : public QObject {
    Q_OBJECT

public:
    // view is RichEdit1; window is the parent of the open dialog and the message boxes, and
    // the timer Timer1 (running from the start, every 2 s) is its child. colouring gives the
    // rules and the colour switch; status is the status bar the controller reports in.
    LogController(QWidget* window, LogView* view, const FollowerControls& controls, const Colouring* colouring,
                  StatusPanels* status);
    ~LogController() override;

    LogSource* source() const { return m_source; }
    LogView* view() const { return m_view; }
    // The path of the open log ("" when none), as the open dialog holds it.
    QString currentPath() const { return m_source->path(); }
    QString previousPath() const { return m_source->previousPath(); }
    WatchState& watchState() { return m_source->watchState(); }
    const WatchState& watchState() const { return m_source->watchState(); }
    // The source reads, a request waits for it to end, or the open dialog is up.
    bool busy() const;
    // For tests: runs on the source's thread before each read, so that a read can be held.
    void setReadHook(std::function<void()> hook) { m_source->setReadHook(std::move(hook)); }
    QTimer* watchTimer() const { return m_watchTimer; }

    // The staging text (RichEdit2): the last text read, which colouring works on.
    const DocumentPtr& stagingText() const { return m_stagingText; }
    UnicodeKind unicodeKind() const { return m_source->unicodeKind(); }
    Encoding encoding() const { return m_source->encoding(); }
    EncodingChoice encodingChoice() const { return m_source->encodingChoice(); }
    // The Encoding menu: the choice holds for every later open or manual reload; the open
    // log is read again at once (detected again for Auto).
    void chooseEncoding(EncodingChoice choice);

    // Caret placement: at the end of the text, or on the reader's saved line.
    void scrollToBottom();
    void restoreCaretLine();
    // ColorLogText: the staging text into the view with the rules of this moment, keeping the
    // reader's line and what is in sight.
    void colourText();

    // CommandLineOpen: the log named on the command line, kept for loadCommandLineLog;
    // nothing happens for a blank or missing path.
    void setCommandLineLog(const QString& path);
    // Opens the log named on the command line, once the window is on screen.
    void loadCommandLineLog();
    // The shortest time between two looks that change notifications start.
    static constexpr int kNotifiedTickGapMs = 100;
    // OpenListedFile, a pick in the file list: "File already loaded" for the open log, "FILE
    // DOES NOT EXIST" for a missing file, else the manual reload of the picked file.
    void openListed(const std::string& path);

public slots:
    // OpenFile1Click: File > Open File, a window-modal dialog; the pick opens when it closes.
    void openFromDialog();
    // Refresh1Click and ToolButton12Click: reads the open log again with its encoding detected.
    void reloadNow();
    // Timer1Timer: the watcher's look at the file.
    void onWatchTick();
    // TrackBar1Change: the watcher's interval.
    void onIntervalChanged();
    // ToolButton17Click and CheckBox5Click: Auto refresh, from the button or the box.
    void onAutoRefreshButton();
    void onAutoRefreshBox();
    // ToolButton14Click and CheckBox3Click: Goto Bottom, from the button or the box.
    void onGotoBottomButton();
    void onScrollToBottomBox();
    // CheckBox1Click: word wrap.
    void onWordWrapBox();
    // WMDropFiles: opens the one dropped file, or refuses several with a message box.
    void openDropped(const QList<QUrl>& urls);
    // ApplyFormatNow, the format editor's Apply Now: the open log is read again whole and
    // coloured with the labels as they are now.
    void applyFormatNow();
    // The colouring switches changed: the view shows its text with the rules of now.
    void showRulesNow();

signals:
    // The window's title names the open log.
    void titleChanged(const QString& title);
    // A change of the file waits to be shown (the reload button's picture).
    void reloadAlert(bool alert);
    // A watcher tick is about to sample the open log; the line indicator updates here.
    void aboutToSample();
    // Apply Now read the log again; path names it.
    void formatApplied(const QString& path);
    // Another log became the open one (by the open dialog, a drop, the command line or a
    // file-list pick); path names it.
    void logOpened(const QString& path);

private:
    // While the source is busy keeps request (replacing one kept before) and returns true.
    bool deferWhileBusy(std::function<void()> request);
    void runPending();

    // Open File and a drop: opened, then shown with the reset for a new file, the title and
    // watching; a file that cannot be read leaves the open log as it was, watched as
    // watchBackOnFailure says, and its reason goes to the error box.
    void openNewFile(const QString& path, bool watchBackOnFailure);
    // After an open: "View Unicode" shows a conversion, the view and the second panel take
    // the encoding.
    void showEncoding();
    // A new file is shown: the watcher's record starts again, keeping what was sampled before
    // the read.
    void resetForNewFile();
    // Shows a text read again by hand in the view and colours it.
    void showReloaded();
    // The colouring step for a text just read into the staging text: coloured at once while
    // colouring is on (with the caret at the end while "Goto Bottom" is down), and "Format"
    // with the time in the second panel.
    void colourLoadedText();
    // A text just read, shown: coloured at once while colouring is on, else as it is, with
    // the caret at the end or on the reader's line.
    void showLoadedText();
    // What the source answered to a look of the watcher.
    void showFollowed(const LogSource::Outcome& outcome);
    void watchOpenLog();
    // A change was notified: a look runs at once, but no sooner than kNotifiedTickGapMs after
    // the last notified one, so that a burst of writes costs one read.
    void changeNotified();
    void showProgress(int percent);
    void setTitleToPath();
    bool convertAlways() const;
    // Brings the main window forward when the program is the active one; never takes the
    // focus from another program.
    void focusMainWindow();
    void setStatusText(int panel, const QString& text);
    QFileDialog* openDialog();

    QWidget* m_window;
    LogSource* m_source;
    LogView* m_view; // RichEdit1
    FollowerControls m_controls;
    const Colouring* m_colouring;
    StatusPanels* m_status;
    QTimer* m_watchTimer = nullptr;   // Timer1
    QTimer* m_notifiedTick = nullptr; // the coalesced look after a change notification
    QElapsedTimer m_sinceNotifiedTick;
    bool m_inNotifiedTick = false;    // the look under way came from a notification
    QString m_commandLinePath;
    QPointer<QFileDialog> m_openDialog; // Open1
    NameOnlyIconProvider m_iconProvider;
    std::function<void()> m_pending; // the request that waits for the source
    bool m_pendingQueued = false;    // it is about to run
    QString m_beforeProgress;        // the first panel's text before a progress report
    bool m_progressShown = false;
    DocumentPtr m_stagingText; // RichEdit2
};

} // namespace tlg
