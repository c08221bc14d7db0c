#include "app/logcontroller.h"

#include "core/errors.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
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

LogController::LogController(QWidget* window, LogView* view, const FollowerControls& controls,
                             const Colouring* colouring, StatusPanels* status)
    : QObject(window),
      m_window(window),
      m_source(new LogSource(this)),
      m_view(view),
      m_controls(controls),
      m_colouring(colouring),
      m_status(status)
{
    m_stagingText = LogDocument::fromBytes("RichEdit2");

    // The watcher runs from the start, as the window defines it. Whatever happens in a look,
    // it reports in the status bar, never in a message box, and the timer runs on.
    m_watchTimer = new QTimer(window);
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
    if (m_controls.followInstantlyBox)
        connect(m_controls.followInstantlyBox, &QAbstractButton::toggled, this, [this] { watchOpenLog(); });

    connect(m_controls.intervalSlider, &QSlider::valueChanged, this, [this] { onIntervalChanged(); });
    connect(m_controls.autoRefreshButton, &QAbstractButton::clicked, this, [this] { onAutoRefreshButton(); });
    connect(m_controls.autoRefreshBox, &QAbstractButton::clicked, this, [this] { onAutoRefreshBox(); });
    connect(m_controls.gotoBottomButton, &QAbstractButton::clicked, this, [this] { onGotoBottomButton(); });
    connect(m_controls.scrollToBottomBox, &QAbstractButton::clicked, this, [this] { onScrollToBottomBox(); });
    connect(m_controls.wordWrapBox, &QAbstractButton::clicked, this, guarded(window, [this] { onWordWrapBox(); }));
}

LogController::~LogController()
{
    // The dialog uses the icon provider that goes with the controller.
    delete m_openDialog;
}

// --- Requests that wait for the source ------------------------------------------------------

bool LogController::busy() const
{
    return m_source->busy() || m_pending || m_pendingQueued || (m_openDialog && m_openDialog->isVisible());
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

bool LogController::convertAlways() const
{
    return m_controls.unicodeButton->isChecked();
}

// --- Opening ---------------------------------------------------------------------------------

QFileDialog* LogController::openDialog()
{
    // Made when first needed: a dialog lists its last folder as soon as it exists.
    if (!m_openDialog)
        m_openDialog = MakeOpenLogDialog(m_window, &m_iconProvider);
    return m_openDialog;
}

void LogController::openFromDialog()
{
    if (deferWhileBusy([this] { openFromDialog(); }))
        return;
    if (m_openDialog && m_openDialog->isVisible()) {
        m_openDialog->raise();
        return;
    }
    // The watcher leaves the file alone while the dialog is up.
    watchState().FileOpen = false;
    if (!currentPath().isEmpty()) {
        const QFileInfo current(currentPath());
        openDialog()->setDirectory(current.absolutePath());
        openDialog()->selectFile(current.fileName());
    }
    // Window-modal and answered when the person closes it: the window goes on meanwhile.
    QFileDialog* dialog = openDialog();
    connect(dialog, &QDialog::finished, this, guarded(m_window, [this, dialog] {
        const bool picked = dialog->result() == QDialog::Accepted && !dialog->selectedFiles().isEmpty();
        // The log that was open is watched again after a cancel or a file that cannot be read.
        const bool watchAgain = !trimBlanks(m_source->nativePath()).empty();
        if (!picked) {
            watchState().FileOpen = watchAgain;
            return;
        }
        openNewFile(dialog->selectedFiles().first(), watchAgain);
    }), Qt::SingleShotConnection);
    dialog->open();
}

void LogController::openDropped(const QList<QUrl>& urls)
{
    if (deferWhileBusy([this, urls] { openDropped(urls); }))
        return;
    if (urls.size() != 1) {
        showMessage(m_window, {QStringLiteral("More Than One file dragged. Only drag ONE file to Log "
                                              "viewer to open it"),
                               QStringLiteral("More than one file dragged"), QMessageBox::Ok, QMessageBox::NoIcon});
        return;
    }
    if (!urls.first().isLocalFile())
        throw Failure("Only files on this computer can be opened: " + urls.first().toDisplayString().toStdString());
    openNewFile(urls.first().toLocalFile(), watchState().FileOpen);
}

void LogController::openNewFile(const QString& path, bool watchBackOnFailure)
{
    m_source->open(path, [this, watchBackOnFailure](const LogSource::Outcome& outcome) {
        WatchState& watch = watchState();
        if (!outcome.ok()) {
            watch.FileOpen = watchBackOnFailure;
            setStatusText(0, outcome.message);
            showError(m_window, outcome.message);
            return;
        }
        showEncoding();
        m_stagingText = m_source->document();
        m_view->clear();
        resetForNewFile();
        setTitleToPath();
        watch.FileOpen = true;
        focusMainWindow();
        showLoadedText();
        watchOpenLog();
        emit logOpened(currentPath());
    });
}

void LogController::setCommandLineLog(const QString& argument)
{
    const std::string path = QFile::encodeName(argument).toStdString();
    if (trimBlanks(path).empty() || !QFileInfo::exists(argument))
        return; // nothing to open, and nothing to say
    // A folder or a file that cannot be read is tried all the same: the open says why not.
    m_commandLinePath = argument;
}

void LogController::loadCommandLineLog()
{
    if (m_commandLinePath.isEmpty())
        return;
    const QString argument = std::exchange(m_commandLinePath, QString());
    m_source->open(argument, [this](const LogSource::Outcome& outcome) {
        WatchState& watch = watchState();
        if (!outcome.ok()) {
            watch.FileOpen = false;
            setStatusText(0, outcome.message);
            showError(m_window, outcome.message);
            return;
        }
        showEncoding();
        m_view->setDocument(m_source->document());
        setTitleToPath();
        watch.FileOpen = true;
        m_stagingText = m_source->document();
        showLoadedText();
        watchOpenLog();
        emit logOpened(currentPath());
    });
}

void LogController::showEncoding()
{
    if (m_source->unicodeKind() != UnicodeKind::SingleByte)
        m_controls.unicodeButton->setChecked(true);
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
    emit titleChanged(QStringLiteral("Log Viewer - ") + currentPath());
}

void LogController::reloadNow()
{
    if (deferWhileBusy([this] { reloadNow(); }))
        return;
    if (AgeStamp(m_source->nativePath()) == -1) {
        setStatusText(0, QStringLiteral("File Could not be located"));
        // Back to the log that was open before the last file-list pick, opened under its own
        // name: the title, the path and the text always belong to one file.
        const QString before = previousPath();
        const std::string previous = QFile::encodeName(before).toStdString();
        if (trimBlanks(previous).size() > 1 && before != currentPath() && AgeStamp(previous) != -1)
            openListed(previous);
        return;
    }
    setTitleToPath();
    m_source->open(currentPath(), [this](const LogSource::Outcome& outcome) {
        if (!outcome.ok()) {
            setStatusText(0, QStringLiteral("File is Locked, try Again"));
            return;
        }
        setStatusText(0, QStringLiteral("File Loaded ") + longTimeText());
        showEncoding();
        showReloaded();
    });
}

void LogController::openListed(const std::string& path)
{
    if (deferWhileBusy([this, path] { openListed(path); }))
        return;
    if (upperAscii(path) == upperAscii(m_source->nativePath())) {
        setStatusText(0, QStringLiteral("File already loaded"));
        return;
    }
    m_source->setPreviousPath(currentPath());
    const QString named = QFile::decodeName(QByteArray::fromStdString(path));
    if (AgeStamp(path) == -1) {
        setStatusText(0, QFileInfo(named).isDir() ? QStringLiteral("Cannot open file %1: it is a folder").arg(named)
                                                  : QStringLiteral("FILE DOES NOT EXIST"));
        return;
    }
    // Read first and switched after: a file that cannot be read leaves the log that was open
    // as it was, shown, named in the title and watched.
    m_source->open(named,
                   [this, path](const LogSource::Outcome& outcome) {
                       if (!outcome.ok()) {
                           // A lock is said as ever; any other reason as the system gives it.
                           setStatusText(0, IsFileLocked(path) || outcome.message.isEmpty()
                                                ? QStringLiteral("File is Locked, try Again")
                                                : outcome.message);
                           return;
                       }
                       setStatusText(0, QStringLiteral("File Loaded ") + longTimeText());
                       showEncoding();
                       resetForNewFile();
                       setTitleToPath();
                       watchState().FileOpen = true;
                       showReloaded();
                       watchOpenLog();
                       emit logOpened(currentPath());
                   });
}

void LogController::showReloaded()
{
    WatchState& watch = watchState();
    m_stagingText = m_source->document();
    m_view->setDocument(m_stagingText);
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
    m_view->setDocument(m_stagingText, m_colouring->rules());
    // From the first pass on, text that no label colours is black.
    m_view->setBaseTextColour(Qt::black);
    ++watch.ViewToggle;
    m_view->setFirstVisibleLine(caretAtTop ? watch.SavedCaretLine : readerTop);
    ScrollToLine(m_view, watch.SavedCaretLine);
    m_view->setBackgroundColour(Qt::white);
}

void LogController::colourLoadedText()
{
    if (m_controls.scrollToBottomBox->isChecked())
        scrollToBottom();
    colourText();
    MarkColoured(watchState());
    if (m_controls.scrollToBottomBox->isChecked())
        scrollToBottom();
    // The encoding in use stays in sight after the time of the colouring.
    setStatusText(1, QStringLiteral("Format ") + dateTimeText() + QStringLiteral(" \u2014 ") +
                         QString::fromLatin1(EncodingName(m_source->encoding())));
}

void LogController::showLoadedText()
{
    if (m_colouring->colouringOn()) {
        m_stagingText = m_source->document();
        colourLoadedText();
        return;
    }
    m_view->setDocument(m_source->document());
    if (m_controls.scrollToBottomBox->isChecked())
        scrollToBottom();
    else
        restoreCaretLine();
}

void LogController::showRulesNow()
{
    m_view->setColourRules(m_colouring->colouringOn() ? m_colouring->rules() : nullptr);
}

void LogController::watchOpenLog()
{
    m_source->watchFile(m_controls.followInstantlyBox && m_controls.followInstantlyBox->isChecked() &&
                        watchState().FileOpen);
}

void LogController::changeNotified()
{
    if (!watchState().FileOpen || m_notifiedTick->isActive())
        return;
    const qint64 since = m_sinceNotifiedTick.isValid() ? m_sinceNotifiedTick.elapsed() : kNotifiedTickGapMs;
    m_notifiedTick->start(static_cast<int>(std::max<qint64>(0, kNotifiedTickGapMs - since)));
}

// --- The switches ----------------------------------------------------------------------------

void LogController::onIntervalChanged()
{
    m_watchTimer->setInterval(m_controls.intervalSlider->value() * 1000);
}

void LogController::onAutoRefreshButton()
{
    if (m_controls.autoRefreshButton->isChecked()) {
        watchState().AutoRefresh = true;
        m_controls.autoRefreshBox->setChecked(true);
        if (!m_watchTimer->isActive())
            m_watchTimer->start();
    } else {
        m_controls.autoRefreshBox->setChecked(false);
        watchState().AutoRefresh = false;
    }
}

void LogController::onAutoRefreshBox()
{
    watchState().AutoRefresh = m_controls.autoRefreshBox->isChecked();
}

void LogController::onGotoBottomButton()
{
    m_controls.scrollToBottomBox->setChecked(m_controls.gotoBottomButton->isChecked());
    // Pressed, it goes to the bottom at once, not only at the next reload.
    if (m_controls.gotoBottomButton->isChecked())
        scrollToBottom();
}

void LogController::onScrollToBottomBox()
{
    m_controls.gotoBottomButton->setChecked(m_controls.scrollToBottomBox->isChecked());
}

void LogController::onWordWrapBox()
{
    m_view->setWordWrap(m_controls.wordWrapBox->isChecked());
    // Back to the caret's line, which the wrap change may have moved out of sight.
    restoreCaretLine();
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
