#include "app/logcontroller.h"

#include "core/errors.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
#include "document/compressedtext.h"
#include "format/colouring.h"
#include "source/linemarks.h"
#include "view/caretplacement.h"
#include "view/logview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QSlider>
#include <QTimer>

namespace tlg {

LogController::LogController(QWidget* window, QObject* owner, LogView* view, const Colouring* colouring,
                             StatusPanels* status)
    : QObject(owner),
      m_window(window),
      m_source(new LogSource(this)),
      m_view(view),
      m_colouring(colouring),
      m_status(status)
{
    m_stagingText = LogDocument::fromBytes("RichEdit2");

    // The watcher runs from the start, as the window defines it. Whatever happens in a look,
    // it reports in the status bar, never in a message box, and the timer runs on.
    m_watchTimer = new QTimer(this);
    m_watchTimer->setObjectName(QStringLiteral("Timer1"));
    m_watchTimer->setInterval(2000);
    connect(m_watchTimer, &QTimer::timeout, this, [this] {
        try {
            onWatchTick();
        } catch (const std::exception&) {
            setStatusText(0, QStringLiteral("File Locked, will retry"));
        }
    });
    m_watchTimer->start();

    // The reader's marks on lines belong to the log: set when it opens, kept when they change.
    connect(this, &LogController::logOpened, this,
            [this] { m_view->setLineMarks(LoadLineMarks(m_source->nativePath())); });
    connect(m_view, &LogView::lineMarksChanged, this, [this] {
        if (m_source->nativePath().empty())
            return; // a pipe's marks go with it
        try {
            SaveLineMarks(m_source->nativePath(), m_view->lineMarks());
        } catch (const Failure& failure) {
            setStatusText(0, QStringLiteral("Marks not kept: ") + QString::fromLocal8Bit(failure.what()));
        }
    });

    // Change notifications start a look at once, a burst of them one look.
    m_notifiedTick = new QTimer(this);
    m_notifiedTick->setSingleShot(true);
    connect(m_source, &LogSource::changeNotified, this, [this] { changeNotified(); });
    connect(m_notifiedTick, &QTimer::timeout, this, [this] {
        if (m_source->busy()) {
            m_notifiedTick->start(kNotifiedTickGapMs); // after the read under way
            return;
        }
        m_sinceNotifiedTick.start();
        m_inNotifiedTick = true;
        try {
            onWatchTick();
        } catch (const std::exception&) {
            setStatusText(0, QStringLiteral("File Locked, will retry"));
        }
        m_inNotifiedTick = false;
    });
    connect(m_source, &LogSource::changeWaiting, this, &LogController::reloadAlert);
    connect(m_source, &LogSource::progress, this, [this](int percent) { showProgress(percent); });
    connect(m_source, &LogSource::idle, this, [this] { runPending(); });
    connect(m_source, &LogSource::pipeGrew, this, [this](bool detected) { showPipeGrowth(detected); });
    connect(m_source, &LogSource::partialShown, this, [this](bool first) { showPartialOpen(first); });
    connect(m_source, &LogSource::pipeEnded, this, [this](const QString& note, bool failed) { showPipeEnd(note, failed); });
    connect(m_source, &LogSource::pipeReadFailed, this, [this](const QString& message) { setStatusText(0, message); });
}

LogController::~LogController()
{
    // The window holds the timer of the log in sight.
    delete m_watchTimer;
}

// --- The switches ------------------------------------------------------------------------

void LogController::bindControls(const FollowerControls& controls)
{
    unbindControls();
    m_controls = controls;
    const auto bind = [this](QAbstractButton* button, auto handler) {
        if (button)
            m_bindings << connect(button, &QAbstractButton::clicked, this, handler);
    };
    bind(m_controls.autoRefreshButton, [this] { setAutoRefresh(m_controls.autoRefreshButton->isChecked(), true); });
    bind(m_controls.autoRefreshBox, [this] { setAutoRefresh(m_controls.autoRefreshBox->isChecked(), false); });
    bind(m_controls.gotoBottomButton, [this] { setGotoBottom(m_controls.gotoBottomButton->isChecked(), true); });
    bind(m_controls.scrollToBottomBox, [this] { setGotoBottom(m_controls.scrollToBottomBox->isChecked(), false); });
    bind(m_controls.wordWrapBox, guarded(m_window, [this] { setWordWrap(m_controls.wordWrapBox->isChecked()); }));
    if (m_controls.unicodeButton) {
        // Set by hand or by a click: either way the next read converts, or does not.
        m_bindings << connect(m_controls.unicodeButton, &QAbstractButton::toggled, this,
                              [this](bool on) { m_convertAlways = on; });
    }
    if (m_controls.followInstantlyBox) {
        m_bindings << connect(m_controls.followInstantlyBox, &QAbstractButton::toggled, this,
                              [this](bool on) { setFollowInstantly(on); });
        setFollowInstantly(m_controls.followInstantlyBox->isChecked());
    }
    if (m_controls.intervalSlider) {
        m_bindings << connect(m_controls.intervalSlider, &QSlider::valueChanged, this,
                              [this](int seconds) { setIntervalSeconds(seconds); });
        setIntervalSeconds(m_controls.intervalSlider->value());
    }
    showSwitches();
}

void LogController::unbindControls()
{
    for (const QMetaObject::Connection& binding : std::as_const(m_bindings))
        disconnect(binding);
    m_bindings.clear();
    m_controls = {};
}

void LogController::showSwitches()
{
    const auto show = [](QAbstractButton* button, bool down) {
        if (button)
            button->setChecked(down);
    };
    show(m_controls.autoRefreshButton, m_autoRefreshDown);
    show(m_controls.autoRefreshBox, watchState().AutoRefresh);
    show(m_controls.gotoBottomButton, m_gotoBottom);
    show(m_controls.scrollToBottomBox, m_gotoBottom);
    show(m_controls.wordWrapBox, m_wordWrap);
    show(m_controls.unicodeButton, m_convertAlways);
}

void LogController::setConvertAlways(bool on)
{
    m_convertAlways = on;
    showSwitches();
}

void LogController::setIntervalSeconds(int seconds)
{
    // TrackBar1Change
    m_watchTimer->setInterval(seconds * 1000);
}

void LogController::setFollowInstantly(bool on)
{
    if (m_followInstantly == on)
        return;
    m_followInstantly = on;
    watchOpenLog();
}

void LogController::setAutoRefresh(bool on, bool fromButton)
{
    // ToolButton17Click sets the box too; CheckBox5Click the watcher's switch alone.
    watchState().AutoRefresh = on;
    if (fromButton) {
        m_autoRefreshDown = on;
        if (on && !m_watchTimer->isActive())
            m_watchTimer->start();
    }
    showSwitches();
}

void LogController::setGotoBottom(bool on, bool fromButton)
{
    // ToolButton14Click and CheckBox3Click: the button and the box go together; the button,
    // pressed, goes to the bottom at once, not only at the next reload.
    m_gotoBottom = on;
    showSwitches();
    if (on && fromButton)
        scrollToBottom();
}

void LogController::setWordWrap(bool on)
{
    // CheckBox1Click
    m_wordWrap = on;
    showSwitches();
    m_view->setWordWrap(on);
    // Back to the caret's line, which the wrap change may have moved out of sight.
    restoreCaretLine();
}

// --- Requests that wait for the source ------------------------------------------------------

bool LogController::busy() const
{
    return m_source->busy() || m_pending || m_pendingQueued;
}

bool LogController::deferWhileBusy(std::function<void()> request)
{
    if (!m_source->busy())
        return false;
    m_pending = std::move(request); // the last request wins
    return true;
}

void LogController::runPending()
{
    if (!m_pending)
        return;
    std::function<void()> request = std::move(m_pending);
    m_pending = nullptr;
    m_pendingQueued = true;
    // After the answer that ended the read has been shown, as if the click came now.
    QMetaObject::invokeMethod(
        this,
        [this, request] {
            m_pendingQueued = false;
            runGuarded(m_window, request);
        },
        Qt::QueuedConnection);
}

void LogController::showProgress(int percent)
{
    if (percent < 0) {
        // The report gives way to the text that was there once the read is over.
        if (m_progressShown)
            setStatusText(0, m_beforeProgress);
        m_progressShown = false;
        return;
    }
    if (!m_progressShown)
        m_beforeProgress = m_status->text(0);
    m_progressShown = true;
    setStatusText(0, QStringLiteral("Loading %1%").arg(percent));
}

// --- Opening ---------------------------------------------------------------------------------

void LogController::openLog(const QString& path, OpenWay way, std::function<void(bool opened)> done)
{
    if (deferWhileBusy([this, path, way, done] { openLog(path, way, done); }))
        return;
    const bool wasOpen = watchState().FileOpen;
    // Read first and switched after: a file that cannot be read leaves the log that was open
    // as it was, shown, named in the title and watched.
    m_source->open(path, [this, path, way, wasOpen, done](const LogSource::Outcome& outcome) {
        WatchState& watch = watchState();
        const bool partial = std::exchange(m_partialShown, false);
        if (!outcome.ok()) {
            watch.FileOpen = wasOpen;
            if (partial) {
                // The log that was open is shown again, as it was named.
                showEncoding();
                setTitleToPath();
                m_stagingText = m_source->document();
                m_view->setDocument(shownOf(m_stagingText), m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
            }
            const std::string native = QFile::encodeName(path).toStdString();
            if (way == OpenWay::Chosen) {
                setStatusText(0, outcome.message);
                showError(m_window, outcome.message);
            } else {
                // A lock is said as ever; any other reason as the system gives it.
                setStatusText(0, IsFileLocked(native) || outcome.message.isEmpty()
                                     ? QStringLiteral("File is Locked, try Again")
                                     : outcome.message);
            }
            if (done)
                done(false);
            return;
        }
        showEncoding();
        resetForNewFile();
        setTitleToPath();
        watch.FileOpen = true;
        if (partial) {
            // Its first lines are in sight: the whole text shows as their growth.
            if (way == OpenWay::Chosen)
                focusMainWindow();
            else
                setStatusText(0, QStringLiteral("File Loaded ") + longTimeText());
            showAsGrowth([this, way] { way == OpenWay::Chosen ? showLoadedText() : showReloaded(); });
        } else if (way == OpenWay::Chosen) {
            m_stagingText = m_source->document();
            m_view->clear();
            focusMainWindow();
            showLoadedText();
        } else {
            setStatusText(0, QStringLiteral("File Loaded ") + longTimeText());
            showReloaded();
        }
        watchOpenLog();
        emit logOpened(currentPath());
        if (done)
            done(true);
    });
}

void LogController::openPipe(FileHandle input, std::function<void(bool opened)> done, PipeSpool::Options options)
{
    auto held = std::make_shared<FileHandle>(std::move(input));
    if (deferWhileBusy([this, held, done, options] { openPipe(std::move(*held), done, options); }))
        return;
    m_source->openPipe(std::move(*held), [this, done](const LogSource::Outcome& outcome) {
        if (!outcome.ok()) {
            setStatusText(0, outcome.message);
            showError(m_window, outcome.message);
            if (done)
                done(false);
            return;
        }
        resetForNewFile();
        // Nothing for the watcher to look at: the pipe's own notices grow the text.
        watchState().FileOpen = false;
        m_source->watchFile(false);
        setTitleToPath();
        m_stagingText = m_source->document();
        m_view->clear();
        showLoadedText();
        setStatusText(0, QStringLiteral("Reading standard input"));
        if (done)
            done(true);
    }, std::move(options));
}

void LogController::showPipeGrowth(bool detected)
{
    if (detected)
        showEncoding();
    setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
    showLoadedText();
    emit followed();
}

void LogController::showPartialOpen(bool first)
{
    if (first) {
        m_partialShown = true;
        showEncoding();
        setTitleToPath();
        m_stagingText = m_source->document();
        m_view->setDocument(shownOf(m_stagingText), m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
        if (m_gotoBottom)
            scrollToBottom();
        return;
    }
    showAsGrowth([this] {
        m_stagingText = m_source->document();
        m_view->setDocument(shownOf(m_stagingText), m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
    });
}

void LogController::showAsGrowth(const std::function<void()>& show)
{
    const std::int64_t top = m_view->firstVisibleLine();
    const bool atEnd = top + m_view->visibleRows() >= m_view->lineCount();
    const std::int64_t start = m_view->selectionStart();
    const std::int64_t length = m_view->selectionLength();
    show();
    if (m_gotoBottom && atEnd) {
        scrollToBottom();
        return;
    }
    // (Whatever `show` did to the caret and the scrolling is never painted.)
    m_view->setSelection(start, length);
    m_view->setFirstVisibleLine(top);
}

void LogController::showPipeEnd(const QString& note, bool failed)
{
    setStatusText(0, note + QStringLiteral(" :") + dateTimeText());
    if (failed)
        showError(m_window, note);
}

void LogController::showEncoding()
{
    if (m_source->unicodeKind() != UnicodeKind::SingleByte && !m_convertAlways) {
        m_convertAlways = true;
        showSwitches();
        emit switchesChanged();
    }
    m_view->setEncoding(HeldEncoding(m_source->encoding()));
    setStatusText(1, QString::fromLatin1(EncodingName(m_source->encoding())));
}

void LogController::resetForNewFile()
{
    WatchState& watch = watchState();
    const WatchState read = watch;
    ResetForNewFile(watch);
    // What was sampled just before the read stays: a write that landed during it is read at
    // the next look, and nothing else is.
    watch.StoredAge = read.StoredAge;
}

void LogController::setTitleToPath()
{
    emit titleChanged(QStringLiteral("Log Viewer - ") + logName());
}

void LogController::reloadNow()
{
    if (deferWhileBusy([this] { reloadNow(); }))
        return;
    if (m_source->isPipe()) {
        // A pipe cannot be read again: what it gave is shown again, coloured as now.
        showReloaded();
        return;
    }
    if (AgeStamp(m_source->nativePath()) == -1) {
        setStatusText(0, QStringLiteral("File Could not be located"));
        // Back to the log that was open before the last file-list pick, opened under its own
        // name: the title, the path and the text always belong to one file.
        const QString before = previousPath();
        const std::string previous = QFile::encodeName(before).toStdString();
        if (trimBlanks(previous).size() > 1 && before != currentPath() && AgeStamp(previous) != -1)
            emit openRequested(before);
        return;
    }
    setTitleToPath();
    m_source->open(currentPath(), [this](const LogSource::Outcome& outcome) {
        const bool partial = std::exchange(m_partialShown, false);
        if (!outcome.ok()) {
            if (partial) {
                showEncoding();
                m_stagingText = m_source->document();
                m_view->setDocument(shownOf(m_stagingText), m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
            }
            setStatusText(0, QStringLiteral("File is Locked, try Again"));
            return;
        }
        setStatusText(0, QStringLiteral("File Loaded ") + longTimeText());
        showEncoding();
        if (partial)
            showAsGrowth([this] { showReloaded(); });
        else
            showReloaded();
    });
}

void LogController::showReloaded()
{
    showCompressedNote();
    WatchState& watch = watchState();
    m_stagingText = m_source->document();
    m_view->setDocument(shownOf(m_stagingText));
    // Coloured at once; with colouring off it waits until colouring is on again.
    watch.FormatPending = true;
    watch.FormatTicks = 999;
    if (m_colouring->colouringOn())
        colourLoadedText();
    emit reloadAlert(false);
}

void LogController::applyFormatNow()
{
    if (deferWhileBusy([this] { applyFormatNow(); }))
        return;
    if (AgeStamp(m_source->nativePath()) == -1)
        return;
    // The whole file again, then coloured at once with the labels as they are now.
    m_source->readAgain(convertAlways(), [this](const LogSource::Outcome& outcome) {
        if (!outcome.ok()) {
            if (!outcome.message.isEmpty())
                showError(m_window, outcome.message);
            return;
        }
        m_view->clear();
        MarkColoured(watchState());
        emit formatApplied(currentPath());
        setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
        showLoadedText();
    });
}

void LogController::chooseEncoding(EncodingChoice choice)
{
    m_source->setEncodingChoice(choice);
    if (m_source->isPipe()) {
        // What the pipe gave is read again from its spool in the encoding chosen.
        m_source->readPipeAgain();
        return;
    }
    // The open log is read again in the encoding chosen (or detected again, for Auto), as
    // soon as a read under way has ended.
    if (m_source->nativePath().empty() || AgeStamp(m_source->nativePath()) == -1)
        return;
    if (!deferWhileBusy([this] { reloadNow(); }))
        reloadNow();
}

// --- Following -------------------------------------------------------------------------------

void LogController::onWatchTick()
{
    WatchState& watch = watchState();
    const bool colouringOn = m_colouring->colouringOn();
    TakeFirstViewBack(watch, colouringOn); // one view: nothing to bring forward
    if (m_source->isPipe()) {
        // Nothing to sample (the pipe's own notices grow it), but its line indicator keeps
        // time with the tick as a file's does.
        emit aboutToSample();
        return;
    }
    if (!watch.FileOpen || m_source->busy())
        return;
    watchOpenLog(); // a rotated log is watched again once it is back
    emit aboutToSample();
    SampleFile(watch, m_source->nativePath());
    if (TakeColouringTick(watch, colouringOn, m_watchTimer->interval()))
        colourLoadedText();
    m_source->follow(m_inNotifiedTick, convertAlways(),
                     [this](const LogSource::Outcome& outcome) { showFollowed(outcome); });
}

void LogController::showFollowed(const LogSource::Outcome& outcome)
{
    switch (outcome.why) {
    case LogSource::Why::Missing:
        // Said at every look until it is back; a log replaced by a folder says so.
        setStatusText(0, QFileInfo(currentPath()).isDir()
                             ? QStringLiteral("Cannot open file %1: it is a folder").arg(currentPath())
                             : QStringLiteral("File Could not be located"));
        return;
    case LogSource::Why::Locked:
        setStatusText(0, QStringLiteral("File is Locked :") + dateTimeText());
        return;
    case LogSource::Why::Failed:
        setStatusText(0, QStringLiteral("File Locked, will retry"));
        return;
    case LogSource::Why::Appended:
    case LogSource::Why::Rewritten:
        focusMainWindow();
        setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
        showLoadedText();
        emit followed();
        return;
    default:
        return;
    }
}

void LogController::scrollToBottom()
{
    ScrollToLine(m_view, m_view->lineCount());
}

void LogController::restoreCaretLine()
{
    ScrollToLine(m_view, watchState().SavedCaretLine);
}

void LogController::colourText()
{
    WatchState& watch = watchState();
    const QColor silver(192, 192, 192);
    m_view->setBackgroundColour(silver);
    setStatusText(1, QStringLiteral("Formating Text..."));
    const bool caretAtTop = watch.CaretPixelY == 0;
    // The reader's line and top line stay where they were; a caret on the top line keeps that
    // line on top. The view colours the lines it paints, so this costs the same for any size.
    watch.SavedCaretLine = m_view->caretLine();
    const std::int64_t readerTop = m_view->firstVisibleLine();
    m_view->setDocument(shownOf(m_stagingText), m_colouring->rules());
    // From the first pass on, text that no label colours is black.
    m_view->setBaseTextColour(Qt::black);
    ++watch.ViewToggle;
    m_view->setFirstVisibleLine(caretAtTop ? watch.SavedCaretLine : readerTop);
    ScrollToLine(m_view, watch.SavedCaretLine);
    m_view->setBackgroundColour(Qt::white);
}

void LogController::colourLoadedText()
{
    if (m_gotoBottom)
        scrollToBottom();
    colourText();
    MarkColoured(watchState());
    if (m_gotoBottom)
        scrollToBottom();
    // The encoding in use stays in sight after the time of the colouring.
    setStatusText(1, QStringLiteral("Format ") + dateTimeText() + QStringLiteral(" \u2014 ") +
                         QString::fromLatin1(EncodingName(m_source->encoding())));
}

void LogController::showCompressedNote()
{
    const DocumentPtr& text = m_source->document();
    const std::shared_ptr<const CompressedText> compressed = text ? text->compressed() : nullptr;
    if (!compressed)
        return;
    if (compressed->damaged()) {
        setStatusText(0, QStringLiteral("Compressed data damaged after line %1").arg(text->lineCount().value()));
    } else if (compressed->spooled()) {
        const QString spooled = QStringLiteral(" (decompressed into a spool file)");
        if (!m_status->text(0).endsWith(spooled))
            setStatusText(0, m_status->text(0) + spooled);
    }
}

void LogController::showLoadedText()
{
    showCompressedNote();
    if (m_colouring->colouringOn()) {
        m_stagingText = m_source->document();
        colourLoadedText();
        return;
    }
    m_view->setDocument(shownOf(m_source->document()));
    if (m_gotoBottom)
        scrollToBottom();
    else
        restoreCaretLine();
}

LinesPtr LogController::shownOf(const DocumentPtr& text) const
{
    return m_shownLines ? m_shownLines(text, HeldEncoding(m_source->encoding())) : text;
}

void LogController::setShownLines(ShownLines shownOf)
{
    m_shownLines = std::move(shownOf);
}

void LogController::showShownLinesAgain()
{
    // The caret stays on the same line of the log, or goes to the next one shown.
    const LinesPtr before = m_view->document();
    const LineNumber caretInLog = before && before->lineCount() > 0 ? before->lineInLog(m_view->caretLine()) : LineNumber(0);
    const bool atEnd = m_view->caretLine() + 1 >= m_view->lineCount();
    const LinesPtr shown = shownOf(m_source->document());
    if (shown == before)
        return;
    m_view->setDocument(shown, m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
    if (m_gotoBottom || (atEnd && m_view->caretLine() > 0))
        scrollToBottom();
    else
        ShowLineInContext(m_view, std::min(shown->lineShowing(caretInLog).value(), std::max<std::int64_t>(0, m_view->lineCount() - 1)));
    watchState().SavedCaretLine = m_view->caretLine();
}

void LogController::showRulesNow()
{
    m_view->setColourRules(m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
}

void LogController::watchOpenLog()
{
    m_source->watchFile(m_followInstantly && watchState().FileOpen);
}

void LogController::changeNotified()
{
    if (!watchState().FileOpen || m_notifiedTick->isActive())
        return;
    const qint64 since = m_sinceNotifiedTick.isValid() ? m_sinceNotifiedTick.elapsed() : kNotifiedTickGapMs;
    m_notifiedTick->start(static_cast<int>(std::max<qint64>(0, kNotifiedTickGapMs - since)));
}

void LogController::focusMainWindow()
{
    if (QApplication::activeWindow())
        m_window->activateWindow();
}

void LogController::setStatusText(int panel, const QString& text)
{
    m_status->setText(panel, text);
}

} // namespace tlg
