// The change watcher: each tick of Timer1 samples the open log's age stamp and size, reloads
// it when either changed, and runs the colouring that a load made due. Handlers of the open log.

#include "log/logfollower.h"

#include "core/fileops.h"
#include "core/timetext.h"
#include "format/colouring.h"
#include "log/logview.h"
#include "log/watchstate.h"

#include <QAbstractButton>
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
    emit aboutToSample();
    const std::string path = nativePath();
    SampleFile(m_watch, path);

    if (TakeColouringTick(m_watch, colouringOn, m_watchTimer->interval())) {
        m_watchTimer->stop();
        if (m_controls.scrollToBottomBox->isChecked())
            ScrollToBottom();
        ColorLogText();
        m_watchTimer->start();
        MarkColoured(m_watch);
        if (m_controls.scrollToBottomBox->isChecked())
            ScrollToBottom();
        setStatusText(1, QStringLiteral("Format ") + dateTimeText());
    }

    if (!ChangeSeen(m_watch)) {
        // A long text is compared with the file a window at a time, on quiet ticks too, until
        // all of it has been compared since it last changed.
        if (m_textCheck.unchecked <= 0 || !m_watch.AutoRefresh || m_unicodeKind != UnicodeKind::SingleByte ||
            AgeStamp(path) == -1 || IsFileLocked(path))
            return;
        try {
            if (CheckLoadedText())
                return;
        } catch (const std::exception&) {
            return; // compared again at the next tick
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
                if (colouringOn) {
                    // The shown view keeps its text until the colouring of a later tick.
                    m_stagingText = m_loadBuffer;
                    MarkColouringDue(m_watch);
                } else {
                    m_view1->setDocument(m_loadBuffer);
                    if (m_controls.scrollToBottomBox->isChecked())
                        ScrollToBottom();
                    else
                        RestoreCaretLine();
                }
                StoreSampled(m_watch);
                focusMainWindow();
                setStatusText(0, QStringLiteral("Last Update :") + dateTimeText());
            } catch (const std::exception&) {
                setStatusText(0, QStringLiteral("File Locked, will retry"));
                setReloadAlert(true);
            }
        }
    }
    m_watchTimer->start();
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
