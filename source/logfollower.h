#pragma once

// The open log: its path and the one before it, the load buffer and the staging text, the
// 16-bit step, the change watcher (Timer1) and the colouring run that swaps the two views.
// Opening (File > Open File, a drop, the command line, a file-list pick), the manual reload and
// "Apply Now" all come here. Handlers keep the names the design gives them.
//
// The follower reports through signals (status texts, the title, the reload alert) and reads
// the switches that the window hands it; it never reaches into the window.

#include "document/encoding.h"
#include "document/logdocument.h"
#include "document/textcheck.h"
#include "document/unicode.h"
#include "source/watchstate.h"

#include <QElapsedTimer>
#include <QFileIconProvider>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <string>

class QAbstractButton;
class QFileDialog;
class QFileSystemWatcher;
class QSlider;
class QTimer;
class QWidget;

namespace tlg {

class Colouring;
class LogView;
class StatusPanels;

// The window's controls that drive the open log. The follower connects their signals to its
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

class LogFollower : public QObject {
    Q_OBJECT

public:
    // view1 and view3 are RichEdit1 and RichEdit3, which fill the same place; window is the
    // parent of the open dialog and the message boxes, and the timer Timer1 (running from the
    // start, every 2 s) is its child. colouring gives the rules and the colour switch; status
    // is the status bar the follower reports in.
    LogFollower(QWidget* window, LogView* view1, LogView* view3, const FollowerControls& controls,
                const Colouring* colouring, StatusPanels* status);
    ~LogFollower() override;

    // The path of the open log ("" when none), as the open dialog holds it.
    QString currentPath() const { return m_currentPath; }
    QString previousPath() const { return m_previousPath; }
    WatchState& watchState() { return m_watch; }
    const WatchState& watchState() const { return m_watch; }
    // A file is being opened or reloaded. Open File, a drop, Reload, a file-list pick and Apply
    // Now asked for meanwhile wait, and the last of them runs as soon as the load ends.
    bool opening() const { return m_opening; }
    // For tests: runs on the worker thread before each read, so that a load can be held open.
    void setReadHook(std::function<void()> hook) { m_readHook = std::move(hook); }
    QTimer* watchTimer() const { return m_watchTimer; }

    // The view on screen: RichEdit1 unless it is hidden, then RichEdit3.
    LogView* shownView() const;
    LogView* view1() const { return m_view1; }
    LogView* view3() const { return m_view3; }
    // The view the reader's caret line is sampled from (the one the last colouring wrote
    // into, by the view toggle).
    LogView* markedView() const;
    // The load buffer (every load reads into it first) and the staging text (the last loaded
    // text, which colouring works on and a manual reload shows).
    const DocumentPtr& loadBuffer() const { return m_loadBuffer; }
    const DocumentPtr& stagingText() const { return m_stagingText; }
    // The kind of 16-bit text that the last detection found.
    UnicodeKind unicodeKind() const { return m_unicodeKind; }
    // The encoding of the open log, as the last open or manual reload found or was told it
    // (the watcher's reloads keep it), and what the Encoding menu asks for.
    Encoding encoding() const { return m_encoding; }
    EncodingChoice encodingChoice() const { return m_encodingChoice; }
    // The Encoding menu: the choice holds for every later open or manual reload; the open
    // log is read again at once (detected again for Auto).
    void ChooseEncoding(EncodingChoice choice);

    // Caret placement. ScrollToLine gives the view the focus, puts the caret at the start of
    // the line (clamped into the text) and scrolls it into sight; ScrollToBottom does so on the
    // shown view with its line count (the end of a text that ends with a line break);
    // RestoreCaretLine with the saved caret line.
    void ScrollToLine(LogView* view, LineNumber line);
    void ScrollToBottom();
    void RestoreCaretLine();

    // The colouring run: the staging text into the hidden view with the rules of this moment,
    // which then replaces the shown one.
    void ColorLogText();
    void ShowColoredView(LogView* coloured, LogView* other, bool caretAtTop);

    // The log named on the command line, kept for LoadCommandLineLog: nothing happens for a
    // blank or missing path.
    void CommandLineOpen(const QString& path);
    // Loads and shows the log named on the command line, once the window is on screen.
    void LoadCommandLineLog();
    // The shortest time between two ticks that change notifications start.
    static constexpr int kNotifiedTickGapMs = 100;
    // A pick in the file list: "File already loaded" for the open log, "FILE DOES NOT EXIST"
    // for a missing file, else the manual reload of the picked file.
    void OpenListedFile(const std::string& path);

public slots:
    void OpenFile1Click();
    void Refresh1Click();
    void ToolButton12Click();
    void Timer1Timer();
    void TrackBar1Change();
    void ToolButton17Click();
    void CheckBox5Click();
    void ToolButton14Click();
    void CheckBox3Click();
    void CheckBox1Click();
    // Opens the one dropped file, or refuses several with a message box.
    void WMDropFiles(const QList<QUrl>& urls);
    // The format editor's Apply Now: the open log is reloaded by the watcher's next tick and
    // coloured at the tick after, with the labels as they are now.
    void ApplyFormatNow();
    // The colouring switches changed: both views show their text with the rules of now.
    void ShowRulesNow();

signals:
    // The window's title names the open log.
    void titleChanged(const QString& title);
    // A change of the file waits to be shown (the reload button's picture).
    void reloadAlert(bool alert);
    // A watcher tick is about to sample the open log; the line indicator updates here.
    void aboutToSample();
    // Apply Now read the log again; path names it.
    void formatApplied(const QString& path);
    // Another log was loaded and became the open one (by the open dialog, a drop, the command
    // line or a file-list pick); path names it.
    void logOpened(const QString& path);

private:
    // Marks a load under way for its span; the request that waited runs when the outermost
    // span ends.
    class OpeningScope {
    public:
        explicit OpeningScope(LogFollower& follower);
        ~OpeningScope();
        OpeningScope(const OpeningScope&) = delete;
        OpeningScope& operator=(const OpeningScope&) = delete;

    private:
        LogFollower& m_follower;
        bool m_wasOpening;
    };
    // While a load is under way keeps request (replacing one kept before) and returns true.
    bool deferWhileOpening(std::function<void()> request);
    void runPending();

    // The file as sampled just before a load read it.
    struct FileSample {
        std::int32_t age;
        std::int64_t size;
        FileStamp stamp;
    };
    static FileSample sampleFile(const std::string& path);
    void storeSample(const FileSample& sample);
    // The manual reload's load: the buffer, "File Loaded", the Unicode step. Throws on failure.
    FileSample loadForReload();
    // Shows the reloaded text in the shown view, stores what was sampled before the read and
    // colours it.
    void showReloaded(const FileSample& sample);
    // The colouring step for a text just loaded into the staging text: the colouring run at
    // once while colouring is on (with the caret at the end while "Goto Bottom" is down), and
    // "Format" with the time in the second panel.
    void colourLoadedText();
    // A text just loaded into the load buffer, shown: coloured at once while colouring is on,
    // else as it is in the first view, with the caret at the end or on the reader's line.
    void showLoadedText();
    // Watches the open log and its folder for changes while "Follow changes instantly" is on.
    void watchOpenLog();
    // A change was notified: a tick runs at once, but no sooner than kNotifiedTickGapMs after
    // the last notified tick, so that a burst of writes costs one reload.
    void changeNotified();
    // Compares (part of) the loaded text with the file beside the GUI thread; false when they
    // differ.
    bool CheckLoadedText();
    // The open dialog, made when first needed.
    QFileDialog* openDialog();

    // Makes path the current path and loads it into the load buffer with the Unicode step; on
    // failure the previous path comes back, FileOpen becomes watchBackOnFailure, and the
    // failure goes on to the caller.
    void loadPath(const QString& path, bool watchBackOnFailure);
    // Open File and a drop: loadPath, then the staging text, an empty first view, the reset
    // for a new file, the title, and watching from the next tick.
    void openNewFile(const QString& path, bool watchBackOnFailure);
    void LoadIntoBuffer(); // the plain-text load of the current path into MEMO1
    // The same, reading only what was appended when the file is the one last loaded and only grew.
    void LoadIntoBufferAfter();
    // Runs a read beside the GUI thread with the watcher stopped, reporting progress in the
    // first status panel for a long one; throws what the read threw.
    DocumentPtr readAside(const std::function<DocumentPtr(std::atomic<std::int64_t>&)>& read,
                          std::int64_t total);
    // 16-bit text: detection (of the bytes just loaded), the conversion by the kind last
    // detected, and the step every opening path runs.
    bool DetectUnicode();
    void ConvertUnicode();
    void UnicodeStep();
    void ResetForNewFile();
    void ShowFirstView();
    void SetTitleToPath();
    std::string nativePath() const;

    // Lets pending paint and timer events run in the middle of a long step; input waits until
    // the step is over, so no handler starts inside another.
    void pumpEvents();
    // Brings the main window forward when the program is the active one; never takes the
    // focus from another program.
    void focusMainWindow();
    void setStatusText(int panel, const QString& text);
    void setReloadAlert(bool alert);

    QWidget* m_window;
    QFileSystemWatcher* m_fileWatcher = nullptr;
    QTimer* m_notifiedTick = nullptr;   // the coalesced tick after a change notification
    QElapsedTimer m_sinceNotifiedTick;
    bool m_inNotifiedTick = false;      // the tick running came from a notification
    QString m_commandLinePath;
    LogView* m_view1;  // RichEdit1
    LogView* m_view3;  // RichEdit3
    FollowerControls m_controls;
    const Colouring* m_colouring;
    StatusPanels* m_status;
    QPointer<QFileDialog> m_openDialog;  // Open1
    QTimer* m_watchTimer = nullptr;      // Timer1

    // Names a file's type and picture by its name alone: a listing never opens a file (a
    // special file such as /proc/kmsg would block the read).
    // The dialog's listing asks from a thread of its own, so the two pictures are made once,
    // on the GUI thread, and only handed out.
    class NameOnlyIconProvider : public QFileIconProvider {
    public:
        void preparePictures();
        using QFileIconProvider::icon;
        QIcon icon(const QFileInfo& info) const override;
        QString type(const QFileInfo& info) const override;

    private:
        QIcon m_folder;
        QIcon m_file;
    };
    NameOnlyIconProvider m_iconProvider;
    std::function<void()> m_pending;  // the request that waits for the load to end
    std::function<void()> m_readHook;
    TextCheck m_textCheck;            // the rotating check of the loaded text against the file
    bool m_textDiffers = false;       // a check found the loaded text differs from the file

    QString m_currentPath;
    QString m_previousPath;
    WatchState m_watch;
    DocumentPtr m_loadBuffer;  // MEMO1
    DocumentPtr m_stagingText; // RichEdit2
    UnicodeKind m_unicodeKind = UnicodeKind::SingleByte;
    Encoding m_encoding = Encoding::Windows1252;
    EncodingChoice m_encodingChoice;
    // A file is being opened or reloaded: a watcher tick that comes in the middle (while
    // pending events run) leaves the file alone.
    bool m_opening = false;
};

} // namespace tlg
