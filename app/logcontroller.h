#pragma once

// One open log as a tab shows it: the source that reads it, the view that shows it, its own
// switches that drive following (Timer1, Auto refresh, Goto Bottom, word wrap, "View Unicode"),
// and the requests made of it (open, Reload, Apply Now, the Encoding menu). Every read runs on
// the source's thread; the controller asks and, when the source answers, shows the text,
// places the caret and reports in its status panels. A request made while the source is busy
// waits, and the last one made runs as soon as the source is idle.
//
// The controller reports through signals (the title, the reload alert, a grown log) and shows
// its switches on the window's controls while they are bound to it; it never reaches into
// the window.

#include "document/encoding.h"
#include "document/logdocument.h"
#include "document/unicode.h"
#include "source/logsource.h"
#include "source/watchstate.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>

class QAbstractButton;
class QSlider;
#include <QTimer>
class QWidget;

namespace tlg {

class Colouring;
class LogView;
class StatusPanels;

// The window's controls that drive the log in sight. The log in sight is bound to them: it
// shows its own switches on them and hears their clicks; a log out of sight keeps its switches.
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

// How a log came to be opened, which decides how a failure is said.
enum class OpenWay {
    Chosen,      // File > Open File, a drop, the command line: a failure in the error box
    Listed,      // the file list or Recent Logs: a failure in the status bar
    Restored,    // the last session: a failure in the status bar
};

class LogController : public QObject {
    Q_OBJECT

public:
    // view is RichEdit1; window is the parent of the message boxes; owner holds the
    // controller, which holds the timer Timer1 (running from the start, every 2 s). colouring gives the rules and
    // the colour switch; status is the status bar the controller reports in.
    LogController(QWidget* window, QObject* owner, LogView* view, const Colouring* colouring, StatusPanels* status);
    ~LogController() override;

    // The window's switches show this log's from now on, and drive it; unbinding leaves them.
    void bindControls(const FollowerControls& controls);
    void unbindControls();
    // The switches every log shares: the watcher's interval and following changes at once.
    void setIntervalSeconds(int seconds);
    void setFollowInstantly(bool on);
    // This log's own switches.
    bool autoRefreshDown() const { return m_autoRefreshDown; }
    bool gotoBottom() const { return m_gotoBottom; }
    bool wordWrap() const { return m_wordWrap; }
    bool convertAlways() const { return m_convertAlways; }
    void setGotoBottom(bool on, bool fromButton);
    void setWordWrap(bool on);
    void setConvertAlways(bool on);

    LogSource* source() const { return m_source; }
    LogView* view() const { return m_view; }
    // The path of the open log ("" when none, and for a pipe), as it was opened.
    QString currentPath() const { return m_source->path(); }
    // The open log's name as the tab and title say it: its path, or "standard input".
    QString logName() const { return m_source->name(); }
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

    // What the view shows of a text read in an encoding (a filter stack keeps some lines of it);
    // without one, the text itself.
    using ShownLines = std::function<LinesPtr(const LinesPtr& text, Encoding encoding)>;
    void setShownLines(ShownLines shownOf);
    // The lines shown of the text changed (a filter stack's pass ended, or its rows changed):
    // the view shows them, with the caret on the same line of the log, or the next one shown.
    void showShownLinesAgain();

    // Caret placement: at the end of the text, or on the reader's saved line.
    void scrollToBottom();
    void restoreCaretLine();
    // ColorLogText: the staging text into the view with the rules of this moment, keeping the
    // reader's line and what is in sight.
    void colourText();

    // Opens path as this controller's log (which it then follows), once a read under way has
    // ended. done hears whether it opened; a file that cannot be read leaves the log that was
    // open as it was, and says why as `way` asks. A listed log says "File Loaded" and its
    // time.
    void openLog(const QString& path, OpenWay way, std::function<void(bool opened)> done = {});
    // Shows a pipe (standard input) as this controller's log, growing as bytes come: the title
    // and tab say "standard input", the status bar says when its writer closed its end. The
    // watcher leaves it alone, and Reload shows it again as it came. done hears whether it
    // opened; a spool that cannot be made is said in the error box.
    void openPipe(FileHandle input, std::function<void(bool opened)> done = {}, PipeSpool::Options options = {});
    // The shortest time between two looks that change notifications start.
    static constexpr int kNotifiedTickGapMs = 100;

public slots:
    // Refresh1Click and ToolButton12Click: reads the open log again with its encoding detected.
    void reloadNow();
    // Timer1Timer: the watcher's look at the file.
    void onWatchTick();
    // ToolButton17Click and CheckBox5Click: Auto refresh, from the button (which sets the box
    // too) or the box.
    void setAutoRefresh(bool on, bool fromButton);
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
    // A watcher tick is about to sample the open log (a pipe's samples nothing); the line
    // indicator updates here.
    void aboutToSample();
    // Apply Now read the log again; path names it.
    void formatApplied(const QString& path);
    // Another log became the open one (by the open dialog, a drop, the command line or a
    // file-list pick); path names it.
    void logOpened(const QString& path);
    // A look found the log grew or was written anew, and shows it.
    void followed();
    // The log asks that another be opened (a Reload of a log that has gone goes back to the
    // one open before it).
    void openRequested(const QString& path);
    // A switch of this log changed by itself (a 16-bit log turns "View Unicode" on).
    void switchesChanged();

private:
    // While the source is busy keeps request (replacing one kept before) and returns true.
    bool deferWhileBusy(std::function<void()> request);
    void runPending();

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
    // The first lines of a log being opened are shown (`first`: a new log in the view), then
    // more of them, keeping what is in sight.
    void showPartialOpen(bool first);
    // The source's text shown as growth of what the view shows: the top line and the selection
    // stay, unless "Goto Bottom" is down and the view showed the end. `show` shows it.
    void showAsGrowth(const std::function<void()>& show);
    // A pipe's text grew, or its writer closed its end.
    void showPipeGrowth(bool detected);
    void showPipeEnd(const QString& note, bool failed);
    // A compressed log read with damage says after which line its data is damaged; one read
    // from a spool file says so after the load's own report.
    void showCompressedNote();
    // What the source answered to a look of the watcher.
    void showFollowed(const LogSource::Outcome& outcome);
    void watchOpenLog();
    // A change was notified: a look runs at once, but no sooner than kNotifiedTickGapMs after
    // the last notified one, so that a burst of writes costs one read.
    void changeNotified();
    void showProgress(int percent);
    void setTitleToPath();
    // Brings the main window forward when the program is the active one; never takes the
    // focus from another program.
    void focusMainWindow();
    void setStatusText(int panel, const QString& text);
    LinesPtr shownOf(const DocumentPtr& text) const;
    // Shows this log's switches on the bound controls.
    void showSwitches();

    QWidget* m_window;
    LogSource* m_source;
    LogView* m_view; // RichEdit1
    FollowerControls m_controls; // the window's, while this log is in sight
    QList<QMetaObject::Connection> m_bindings;
    bool m_autoRefreshDown = true; // ToolButton17
    bool m_gotoBottom = false;     // ToolButton14 and CheckBox3
    bool m_wordWrap = false;       // CheckBox1
    bool m_convertAlways = false;  // ToolButton16
    bool m_followInstantly = true;
    const Colouring* m_colouring;
    StatusPanels* m_status;
    QPointer<QTimer> m_watchTimer;    // Timer1
    QTimer* m_notifiedTick = nullptr; // the coalesced look after a change notification
    QElapsedTimer m_sinceNotifiedTick;
    bool m_inNotifiedTick = false;    // the look under way came from a notification
    std::function<void()> m_pending; // the request that waits for the source
    bool m_pendingQueued = false;    // it is about to run
    QString m_beforeProgress;        // the first panel's text before a progress report
    bool m_progressShown = false;
    bool m_partialShown = false; // the open under way shows the first lines of its log
    DocumentPtr m_stagingText; // RichEdit2
    ShownLines m_shownLines;
};

} // namespace tlg
