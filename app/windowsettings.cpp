#include "app/windowsettings.h"

#include "app/logtab.h"
#include "app/navigationcommands.h"
#include "app/windowcontrols.h"
#include "core/errors.h"
#include "core/fileops.h"
#include "navigate/filterpane.h"

#include <QAction>
#include <QByteArray>
#include <QCheckBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHash>
#include <QMainWindow>
#include <QScreen>
#include <QSplitter>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace tlg {

namespace {

constexpr const char* kPreferencesName = "Preferences.TLG";

std::string geometryFilePath()
{
    return UserConfigSettingsFolder() + "window";
}

} // namespace

WindowSettings::WindowSettings(QMainWindow* window, WindowControls& controls) : m_window(window), m_controls(controls) {}

void WindowSettings::restoreGeometry()
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = m_window->geometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    std::string text;
    try {
        text = ReadSettingsFile(geometryFilePath());
    } catch (const Failure&) {
        text.clear(); // first run, or nothing usable: the built-in size and place
    }
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        const QByteArray entry = line.trimmed();
        const qsizetype equals = entry.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = entry.left(equals);
        const QByteArray value = QByteArray::fromBase64(entry.mid(equals + 1));
        if (key == "Geometry")
            m_window->restoreGeometry(value);
        else if (key == "Splitter")
            m_controls.clientSplitter->restoreState(value);
    }
    fitOnScreen();
}

void WindowSettings::fitOnScreen()
{
    if (m_window->isMaximized() || m_window->isFullScreen())
        return;
    const QScreen* screen = QGuiApplication::screenAt(m_window->frameGeometry().center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QRect outerNow = m_window->frameGeometry();
    const QRect inner = m_window->geometry();
    // The window manager's frame, or room for a title bar and borders while it is not known.
    QMargins frame(outerNow.left() - inner.left(), outerNow.top() - inner.top(), outerNow.right() - inner.right(),
                   outerNow.bottom() - inner.bottom());
    if (frame.isNull())
        frame = QMargins(-4, -32, 4, 4);
    const QSize room(area.width() + frame.left() - frame.right(), area.height() + frame.top() - frame.bottom());
    const QSize size = m_window->size().boundedTo(room).expandedTo(m_window->minimumSize());
    m_window->resize(size);
    // The frame's top left (what move() places) keeps the whole frame in the area where it can.
    const QSize outer(size.width() - frame.left() + frame.right(), size.height() - frame.top() + frame.bottom());
    const int x = std::clamp(m_window->pos().x(), area.left(), std::max(area.left(), area.right() + 1 - outer.width()));
    const int y = std::clamp(m_window->pos().y(), area.top(), std::max(area.top(), area.bottom() + 1 - outer.height()));
    m_window->move(x, y);
}

void WindowSettings::saveGeometry() const
{
    const QByteArray text = "Geometry=" + m_window->saveGeometry().toBase64() + "\r\n" +
                            "Splitter=" + m_controls.clientSplitter->saveState().toBase64() + "\r\n";
    std::error_code ignored;
    std::filesystem::create_directories(UserConfigSettingsFolder(), ignored);
    WriteFileAtomically(geometryFilePath(), text.toStdString());
}

void WindowSettings::restorePreferences(LogTab& log, FilterPane& filterPane, NavigationCommands& navigation)
{
    std::string text;
    try {
        text = ReadSettingsFile(SettingsFileToRead(kPreferencesName));
    } catch (const Failure&) {
        return; // none kept yet: the defaults
    }
    QHash<QByteArray, QByteArray> kept;
    for (const QByteArray& line : QByteArray::fromStdString(text).split('\n')) {
        const QByteArray entry = line.trimmed();
        const qsizetype equals = entry.indexOf('=');
        if (equals > 0)
            kept.insert(entry.left(equals), entry.mid(equals + 1));
    }
    const auto on = [&kept](const char* key) { return kept.value(key) == "1"; };
    if (kept.contains("FontSize"))
        navigation.zoomBy(kept.value("FontSize").toInt() - navigation.zoomPoints());
    log.setWordWrap(on("WordWrap"));
    log.setGotoBottom(on("GotoBottom"), false);
    if (kept.contains("ReopenSession"))
        m_controls.reopenSessionAction->setChecked(on("ReopenSession"));
    if (kept.contains("OptionsPanel"))
        m_controls.showOptionsPanel(on("OptionsPanel"));
    if (kept.contains("FileListPanel")) {
        m_controls.fileListButton->setChecked(on("FileListPanel"));
        m_controls.showFileListPanel(on("FileListPanel"));
    }
    // The pattern as UTF-8, with what would break its line escaped.
    filterPane.setPattern(QString::fromUtf8(QByteArray::fromPercentEncoding(kept.value("FilterPattern"))),
                          on("FilterCase"), on("FilterRegex"));
}

void WindowSettings::savePreferences(const FilterPane& filterPane, int fontSize) const
{
    const auto flag = [](bool on) { return on ? QByteArrayLiteral("1") : QByteArrayLiteral("0"); };
    const QByteArray text = "FontSize=" + QByteArray::number(fontSize) + "\r\n" +
                            "WordWrap=" + flag(m_controls.wordWrapBox->isChecked()) + "\r\n" +
                            "GotoBottom=" + flag(m_controls.gotoBottomButton->isChecked()) + "\r\n" +
                            "OptionsPanel=" + flag(m_controls.optionsButton->isChecked()) + "\r\n" +
                            "FileListPanel=" + flag(m_controls.fileListButton->isChecked()) + "\r\n" +
                            "FilterPattern=" + filterPane.pattern().toUtf8().toPercentEncoding() + "\r\n" +
                            "FilterCase=" + flag(filterPane.matchCase()) + "\r\n" +
                            "FilterRegex=" + flag(filterPane.regex()) + "\r\n" +
                            "ReopenSession=" + flag(m_controls.reopenSessionAction->isChecked()) + "\r\n";
    WriteFileAtomically(SettingsFileToWrite(kPreferencesName), text.toStdString());
}

} // namespace tlg
