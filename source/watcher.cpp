// The change watcher: each tick of Timer1 samples the open log's age stamp and size, reloads
// it when either changed, and runs the colouring that a load made due. Handlers of the open log.

#include "source/logfollower.h"

#include "core/fileops.h"
#include "core/timetext.h"
#include "format/colouring.h"
#include "document/encoding.h"
#include "view/logview.h"
#include "source/watchstate.h"

#include <QAbstractButton>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSlider>
#include <QTimer>

namespace tlg {

void LogFollower::Timer1Timer()
{
    const bool colouringOn = m_colouring->colouringOn();
    if (TakeFirstViewBack(m_watch, colouringOn))
        ShowFirstView();
    if (!m_watch.FileOpen || m_opening)
        return;
    watchOpenLog(); // a rotated log is watched again once it is back
    emit aboutToSample();
    const std::string path = nativePath();
    SampleFile(m_watch, path);

    if (TakeColouringTick(m_watch, colouringOn, m_watchTimer->interval()))
        colourLoadedText();

    if (!ChangeSeen(m_watch)) {
        // A text read from its file when shown may have found the file changed under it: it
        // is loaded again at once.
        const bool stale = m_watch.AutoRefresh && m_loadBuffer && m_loadBuffer->stale();
        if (!stale) {
            // A long text is compared with the file a window at a time, on quiet ticks too,
            // until all of it has been compared since it last changed.
            if (m_textCheck.unchecked <= 0 || m_inNotifiedTick || !m_watch.AutoRefresh ||
                m_unicodeKind != UnicodeKind::SingleByte || AgeStamp(path) == -1 || IsFileLocked(path))
                return;
            try {
                if (CheckLoadedText())
                    return;
            } catch (const std::exception&) {
                return; // compared again at the next tick
            }
        }
        m_textDiffers = true;
    }
    setReloadAlert(true);
    m_watchTimer->stop();
    if (m_watch.AutoRefresh) {
        if (AgeStamp(path) == -1) {
            // Gone (deleted, or moved away and not yet back): said at every tick until it is back.
            setStatusText(0, QStringLiteral("File Could not be located"));
        } else if (IsFileLocked(path)) {
            // The next tick sees the same difference and tries again.
            setStatusText(0, QStringLiteral("File is Locked :") + dateTimeText());
        } else {
            try {
                pumpEvents();
                setReloadAlert(false);
                if (m_controls.unicodeButton->isChecked())
                    ConvertUnicode();
                else
                    LoadIntoBufferAfter(); // only the new bytes of a log that grew
                StoreSampled(m_watch);
                focusMainWindow();
                setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
                showLoadedText();
            } catch (const std::exception&) {
                setStatusText(0, QStringLiteral("File Locked, will retry"));
                setReloadAlert(true);
            }
        }
    }
    m_watchTimer->start();
}

void LogFollower::colourLoadedText()
{
    const bool timerWasRunning = m_watchTimer->isActive();
    m_watchTimer->stop();
    if (m_controls.scrollToBottomBox->isChecked())
        ScrollToBottom();
    ColorLogText();
    if (timerWasRunning)
        m_watchTimer->start();
    MarkColoured(m_watch);
    if (m_controls.scrollToBottomBox->isChecked())
        ScrollToBottom();
    // The encoding in use stays in sight after the time of the colouring.
    setStatusText(1, QStringLiteral("Format ") + dateTimeText() + QStringLiteral(" \u2014 ") +
                         QString::fromLatin1(EncodingName(m_encoding)));
}

void LogFollower::showLoadedText()
{
    if (m_colouring->colouringOn()) {
        m_stagingText = m_loadBuffer;
        colourLoadedText();
        return;
    }
    m_view1->setDocument(m_loadBuffer);
    if (m_controls.scrollToBottomBox->isChecked())
        ScrollToBottom();
    else
        RestoreCaretLine();
}

void LogFollower::watchOpenLog()
{
    const bool on = m_controls.followInstantlyBox && m_controls.followInstantlyBox->isChecked() &&
                    m_watch.FileOpen && !m_currentPath.isEmpty();
    QStringList wanted;
    if (on) {
        // The folder too: a log that is rotated or made anew is seen as soon as it is back.
        const QFileInfo file(m_currentPath);
        wanted << file.absolutePath();
        if (file.exists())
            wanted << file.absoluteFilePath();
    }
    QStringList watched = m_fileWatcher->files() + m_fileWatcher->directories();
    for (const QString& path : watched) {
        if (!wanted.contains(path))
            m_fileWatcher->removePath(path);
    }
    watched = m_fileWatcher->files() + m_fileWatcher->directories();
    for (const QString& path : wanted) {
        if (!watched.contains(path))
            m_fileWatcher->addPath(path);
    }
}

void LogFollower::changeNotified()
{
    if (!m_watch.FileOpen || m_notifiedTick->isActive())
        return;
    const qint64 since = m_sinceNotifiedTick.isValid() ? m_sinceNotifiedTick.elapsed() : kNotifiedTickGapMs;
    m_notifiedTick->start(static_cast<int>(std::max<qint64>(0, kNotifiedTickGapMs - since)));
}

void LogFollower::TrackBar1Change()
{
    m_watchTimer->setInterval(m_controls.intervalSlider->value() * 1000);
}

void LogFollower::ToolButton17Click()
{
    if (m_controls.autoRefreshButton->isChecked()) {
        m_watch.AutoRefresh = true;
        m_controls.autoRefreshBox->setChecked(true);
        if (!m_watchTimer->isActive())
            m_watchTimer->start();
    } else {
        m_controls.autoRefreshBox->setChecked(false);
        m_watch.AutoRefresh = false;
    }
}

void LogFollower::CheckBox5Click()
{
    m_watch.AutoRefresh = m_controls.autoRefreshBox->isChecked();
}

void LogFollower::ToolButton14Click()
{
    m_controls.scrollToBottomBox->setChecked(m_controls.gotoBottomButton->isChecked());
}

void LogFollower::CheckBox3Click()
{
    m_controls.gotoBottomButton->setChecked(m_controls.scrollToBottomBox->isChecked());
}

} // namespace tlg
