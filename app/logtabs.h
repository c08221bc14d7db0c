#pragma once

// The open logs, one per tab (LogTabs), and a second set beside them while View > Split is on
// (LogTabs2). Every way of opening a log comes here: a log already open comes to the front, a
// blank tab takes the first log, any other log gets a tab of its own, which comes to the
// front; a log that cannot be read gets no tab. The tab in sight is the current tab of the side
// last used. A tab's menu closes it (so does Ctrl+W or a middle click) or the others, copies
// its path, opens its folder and moves it to the other side.

#include "app/openlogdialog.h"
#include "core/fileops.h"
#include "document/pipespool.h"
#include "source/log.h"

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <array>
#include <functional>
#include <string>

class QFileDialog;
class QTabWidget;

namespace tlg {

class LogTab;
struct JournalQuery;

class LogTabs : public QWidget {
    Q_OBJECT

public:
    // makeTab makes a tab with its log blank; the tabs take it over.
    LogTabs(std::function<LogTab*()> makeTab, QWidget* parent);
    ~LogTabs() override;

    // The tab in sight (never null: the last tab closed leaves a blank one).
    LogTab* current() const;
    // Every tab, the first side's first.
    QList<LogTab*> tabs() const;
    LogTab* tabOf(const QString& path) const;
    void setCurrent(LogTab* tab);
    // A tab's log reads, or the open dialog is up.
    bool busy() const;

    // Opens path as `way` says: an open log comes to the front; one that cannot be read
    // leaves the tabs as they were. prepare sets up the tab that is to read it; done hears the
    // tab that shows it (null: none).
    void open(const QString& path, OpenWay way, std::function<void(LogTab*)> done = {},
              const std::function<void(LogTab*)>& prepare = {});
    // Shows a pipe (standard input) in a tab of its own (or the blank one), which comes to the
    // front; done hears it (null: the spool could not be made, and no tab came of it).
    void openPipe(FileHandle input, std::function<void(LogTab*)> done = {},
                  const std::function<void(LogTab*)>& prepare = {}, PipeSpool::Options options = {});
    // The systemd journal in a tab: a tab showing the same journal comes to the front, a
    // blank tab takes it, else it gets a tab of its own. A journal that cannot be opened is
    // said in the error box, and its new tab goes.
    void openJournal(const JournalQuery& query, std::function<void(LogTab*)> done = {},
                     const std::function<void(LogTab*)>& prepare = {});
    // OpenListedFile, a pick in the file list or Recent Logs: "File already loaded" for the log
    // in sight, "FILE DOES NOT EXIST" for a missing file, else the log opens.
    void openListed(const std::string& path);
    // WMDropFiles: every dropped file opens; an archive asks which of its files, as Open does.
    void openDropped(const QList<QUrl>& urls);
    // OpenFile1Click: File > Open File, a window-modal dialog; the files picked open when it
    // closes. A folder of journal files may be picked too, and opens as one journal.
    void openFromDialog();
    // Opens the files as one log merged by time, in a tab of its own, its first file read as
    // `way` says. Fewer than two files open as a log of one file.
    void openMerged(const QStringList& paths, OpenWay way, std::function<void(LogTab*)> done = {},
                    const std::function<void(LogTab*)>& prepare = {});
    // File > "Open Merged...": the files picked open merged. With `with`, the tab menu's
    // "Merge with...": the files picked merge with that tab's log, in a new tab.
    void openMergedFromDialog(LogTab* with = nullptr);

    void close(LogTab* tab);
    void closeOthers(LogTab* tab);
    // The tab `step` places after the one in sight, around the end, across both sides.
    void cycle(int step);
    void setSplit(bool on);
    bool split() const;
    void moveToOtherSide(LogTab* tab);
    QTabWidget* side(int index) const { return m_sides[static_cast<std::size_t>(index)]; }

signals:
    // Another tab came into sight (before may be null, or already closed).
    void currentChanged(tlg::LogTab* now, tlg::LogTab* before);
    // A tab was opened, closed or moved, or its log changed.
    void tabsChanged();
    // A log asked to be opened was open already and came to the front.
    void broughtToFront(const QString& path);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    LogTab* makeTab(int sideIndex);
    // The tab a log opens in: a blank one (the one in sight first), else a new one after the
    // one in sight (`made` says so).
    LogTab* tabToOpenIn(bool& made);
    // Opens `log` in a blank tab or a new one after the tab in sight, which comes to the
    // front; a log that cannot be opened leaves no tab it made, and the tab in sight before
    // comes back, saying why.
    void openInTab(Log* log, const QString& opening, std::function<void(LogTab*)> done,
                   const std::function<void(LogTab*)>& prepare);
    // A tab made for a log that could not be opened goes; the one in sight before comes back,
    // saying why.
    void dropFailedTab(LogTab* target, const QPointer<LogTab>& previous);
    void removeTab(LogTab* tab);
    int sideOf(const LogTab* tab) const;
    // The side whose tab is in sight changes, or its tab does.
    void activate(int sideIndex);
    void noticeCurrent();
    void showTabLabel(LogTab* tab);
    void showTabMenu(int sideIndex, const QPoint& at);
    OpenLogDialog* openDialog();
    // An archive given to Open: its files are listed and the one picked opens (read again in
    // its tab when the archive is open already).
    void openArchive(const QString& path);
    // A file the person gave (the open dialog, a drop): an archive goes through openArchive.
    void openGiven(const QString& path);

    std::function<LogTab*()> m_makeTab;
    std::array<QTabWidget*, 2> m_sides{};
    int m_active = 0;
    QPointer<LogTab> m_current;
    QPointer<OpenLogDialog> m_openDialog; // Open1
    NameOnlyIconProvider m_iconProvider;
};

} // namespace tlg
