// The open log's state and the steps every path shares: caret placement, the colouring run
// that swaps the views, Apply Now, and the reports to the window.

#include "source/logfollower.h"

#include "core/fileops.h"
#include "core/messages.h"
#include "core/statuspanels.h"
#include "core/timetext.h"
#include "format/colouring.h"
#include "view/logview.h"
#include "document/textload.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QMimeDatabase>
#include <QSlider>
#include <QTimer>

namespace tlg {

LogFollower::LogFollower(QWidget* window, LogView* view1, LogView* view3,
                         const FollowerControls& controls, const Colouring* colouring,
                         StatusPanels* status)
    : QObject(window),
      m_window(window),
      m_view1(view1),
      m_view3(view3),
      m_controls(controls),
      m_colouring(colouring),
      m_status(status)
{
    m_stagingText = LogDocument::fromBytes("RichEdit2");
    m_loadBuffer = LogDocument::empty();

    // The watcher runs from the start, as the window defines it. Whatever happens in a tick,
    // it reports in the status bar, never in a message box, and the timer runs on.
    m_watchTimer = new QTimer(window);
    m_watchTimer->setObjectName(QStringLiteral("Timer1"));
    m_watchTimer->setInterval(2000);
    connect(m_watchTimer, &QTimer::timeout, this, [this] {
        try {
            Timer1Timer();
        } catch (const std::exception&) {
            setStatusText(0, QStringLiteral("File Locked, will retry"));
        }
        if (!m_watchTimer->isActive())
            m_watchTimer->start();
    });
    m_watchTimer->start();

    // Change notifications start a tick at once, a burst of them one tick.
    m_fileWatcher = new QFileSystemWatcher(this);
    m_notifiedTick = new QTimer(this);
    m_notifiedTick->setSingleShot(true);
    connect(m_fileWatcher, &QFileSystemWatcher::fileChanged, this, [this] { changeNotified(); });
    connect(m_fileWatcher, &QFileSystemWatcher::directoryChanged, this, [this] { changeNotified(); });
    connect(m_notifiedTick, &QTimer::timeout, this, [this] {
        if (m_opening) {
            m_notifiedTick->start(kNotifiedTickGapMs); // after the load
            return;
        }
        m_sinceNotifiedTick.start();
        m_inNotifiedTick = true;
        try {
            Timer1Timer();
        } catch (const std::exception&) {
            setStatusText(0, QStringLiteral("File Locked, will retry"));
        }
        m_inNotifiedTick = false;
        if (!m_watchTimer->isActive())
            m_watchTimer->start();
    });
    if (m_controls.followInstantlyBox)
        connect(m_controls.followInstantlyBox, &QAbstractButton::toggled, this, [this] { watchOpenLog(); });

    connect(m_controls.intervalSlider, &QSlider::valueChanged, this, [this] { TrackBar1Change(); });
    connect(m_controls.autoRefreshButton, &QAbstractButton::clicked, this, [this] { ToolButton17Click(); });
    connect(m_controls.autoRefreshBox, &QAbstractButton::clicked, this, [this] { CheckBox5Click(); });
    connect(m_controls.gotoBottomButton, &QAbstractButton::clicked, this, [this] { ToolButton14Click(); });
    connect(m_controls.scrollToBottomBox, &QAbstractButton::clicked, this, [this] { CheckBox3Click(); });
    connect(m_controls.wordWrapBox, &QAbstractButton::clicked, this, guarded(window, [this] { CheckBox1Click(); }));
}

LogFollower::~LogFollower()
{
    // The dialog uses the icon provider that goes with the follower.
    delete m_openDialog;
}

void LogFollower::NameOnlyIconProvider::preparePictures()
{
    m_folder = icon(QAbstractFileIconProvider::Folder);
    m_file = icon(QAbstractFileIconProvider::File);
}

QIcon LogFollower::NameOnlyIconProvider::icon(const QFileInfo& info) const
{
    return info.isDir() ? m_folder : m_file;
}

QString LogFollower::NameOnlyIconProvider::type(const QFileInfo& info) const
{
    if (info.isDir())
        return QStringLiteral("Folder");
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    return mime.comment().isEmpty() ? mime.name() : mime.comment();
}

LogView* LogFollower::shownView() const
{
    return m_view1->isHidden() ? m_view3 : m_view1;
}

LogView* LogFollower::markedView() const
{
    return (m_watch.ViewToggle % 2 != 0) ? m_view1 : m_view3;
}

void LogFollower::ScrollToLine(LogView* view, LineNumber line)
{
    view->setFocus();
    // A line past the end puts the caret at the end of the text.
    view->setSelection(view->lineIndex(std::max<LineNumber>(line, 0)), 0);
    view->scrollCaretIntoView();
}

void LogFollower::ScrollToBottom()
{
    LogView* view = shownView();
    ScrollToLine(view, view->lineCount());
}

void LogFollower::RestoreCaretLine()
{
    ScrollToLine(shownView(), m_watch.SavedCaretLine);
}

void LogFollower::ColorLogText()
{
    const QColor silver(192, 192, 192);
    m_view1->setBackgroundColour(silver);
    m_view3->setBackgroundColour(silver);
    setStatusText(1, QStringLiteral("Formating Text..."));
    const bool caretAtTop = m_watch.CaretPixelY == 0;

    // The view colours the lines it paints, so the pass itself costs the same for any size.
    LogView* target = (m_watch.ViewToggle % 2 != 0) ? m_view3 : m_view1;
    LogView* other = target == m_view3 ? m_view1 : m_view3;
    target->setDocument(m_stagingText, m_colouring->rules());
    // From the first pass on, text that no label colours is black.
    m_view1->setBaseTextColour(Qt::black);
    m_view3->setBaseTextColour(Qt::black);
    ++m_watch.ViewToggle;
    ShowColoredView(target, other, caretAtTop);
    m_view1->setBackgroundColour(Qt::white);
    m_view3->setBackgroundColour(Qt::white);
}

void LogFollower::ShowColoredView(LogView* coloured, LogView* other, bool caretAtTop)
{
    // The reader's line and top line in the view they have been reading.
    m_watch.SavedCaretLine = other->caretLine();
    const LineNumber readerTop = other->firstVisibleLine();
    other->setDocument(coloured->document(), coloured->colourRules());
    coloured->show();
    coloured->raise();
    // The swap keeps what the reader sees in place; a caret on the top line keeps that line on
    // top.
    coloured->setFirstVisibleLine(caretAtTop ? m_watch.SavedCaretLine : readerTop);
    ScrollToLine(coloured, m_watch.SavedCaretLine);
    other->hide();
}

void LogFollower::ApplyFormatNow()
{
    if (deferWhileOpening([this] { ApplyFormatNow(); }))
        return;
    const std::string path = nativePath();
    if (AgeStamp(path) == -1)
        return;
    // The whole file again, then coloured at once with the labels as they are now.
    const FileSample sample = sampleFile(path);
    m_loadBuffer = readAside([path](std::atomic<std::int64_t>& done) { return LoadPlainText(path, &done); },
                             FileSizeOf(path));
    m_textCheck = {};
    if (m_controls.unicodeButton->isChecked())
        ConvertUnicode();
    m_view1->clear();
    storeSample(sample);
    MarkColoured(m_watch);
    emit formatApplied(m_currentPath);
    setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
    showLoadedText();
}

void LogFollower::ShowRulesNow()
{
    const std::shared_ptr<const ColourRules> rules = m_colouring->colouringOn() ? m_colouring->rules() : nullptr;
    m_view1->setColourRules(rules);
    m_view3->setColourRules(rules);
}

void LogFollower::CheckBox1Click()
{
    const bool wrap = m_controls.wordWrapBox->isChecked();
    m_view1->setWordWrap(wrap);
    m_view3->setWordWrap(wrap);
    // Back to the caret's line, which the wrap change may have moved out of sight.
    RestoreCaretLine();
}

void LogFollower::pumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void LogFollower::focusMainWindow()
{
    if (QApplication::activeWindow())
        m_window->activateWindow();
}

void LogFollower::setStatusText(int panel, const QString& text)
{
    m_status->setText(panel, text);
}

void LogFollower::setReloadAlert(bool alert)
{
    emit reloadAlert(alert);
}

} // namespace tlg
