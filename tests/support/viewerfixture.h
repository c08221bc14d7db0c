#pragma once

// Starts the whole viewer in process, in a program folder and a home of its own (nothing is
// read from or written to the real user's folders), with every message box answered by the
// test instead of a person.

#include "app/mainwindow.h"
#include "app/navigationcommands.h"
#include "filelist/filelistpanel.h"
#include "app/logpresenter.h"
#include "app/logtab.h"
#include "app/logtabs.h"
#include "navigate/finder.h"
#include "core/messages.h"
#include "app/viewer.h"
#include "source/filelog.h"
#include "source/follower.h"
#include "view/logview.h"
#include "support/userhome.h"

#include <QDir>
#include <QLabel>
#include <QList>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace tlg::testing {

// The file log in sight in `window` (a failure of the test when the tab in sight holds another
// kind), for what only a file's log has: its watcher's record, the log open before it, a hook
// that holds its reads.
inline FileLog* FileLogIn(const MainWindow* window)
{
    auto* log = qobject_cast<FileLog*>(window->log());
    if (!log)
        qFatal("the tab in sight holds no log file");
    return log;
}

inline WatchState& WatchOf(const MainWindow* window)
{
    return FileLogIn(window)->watchState();
}

class ViewerFixture {
public:
    ViewerFixture()
    {
        qputenv("TLGVIEW_HOME", m_home.path().toLocal8Bit());
        // What the program writes to its working folder (the banner's "Head.txt") stays in the
        // test's own folder.
        QDir::setCurrent(m_home.path());
        setMessageHook([this](const MessageRequest& request) {
            // The start-up offer to open .log files is answered apart from the other boxes.
            if (request.caption == QStringLiteral("Associate ?")) {
                associationQuestions.append(request);
                if (request.ticked)
                    *request.ticked = associationDoNotAsk;
                return associationAnswer;
            }
            messages.append(request);
            return answer;
        });
    }
    ~ViewerFixture()
    {
        window.reset();
        setMessageHook({});
        qunsetenv("TLGVIEW_HOME");
        QDir::setCurrent(m_previousFolder);
    }

    // The program's folder, ending in '/'.
    QString home() const { return m_home.path() + QLatin1Char('/'); }

    MainWindow* start(const QStringList& arguments = {})
    {
        window.reset(static_cast<MainWindow*>(startViewer(arguments)));
        // The log named on the command line is read on its source's thread.
        if (window)
            settle();
        return window.get();
    }

    template <typename T>
    T* find(const char* name) const
    {
        T* found = window->findChild<T*>(QLatin1String(name));
        if (!found)
            qFatal("no control named %s", name);
        return found;
    }

    // Runs the watcher's tick, as its timer would, and waits for the source's answer.
    void tick(int times = 1)
    {
        for (int i = 0; i < times; ++i) {
            window->tab()->follower()->tick();
            settle();
        }
    }

    // Waits until every tab's source has answered every request and no request waits.
    void settle() const
    {
        QTRY_VERIFY_WITH_TIMEOUT(!window->tabs()->busy(), 60000);
    }

    // The bytes of the view on screen.
    std::string shownText() const { return window->tab()->view()->text(); }

    QString status(int panel) const
    {
        return find<QLabel>(QStringLiteral("StatusPanel%1").arg(panel).toLatin1().constData())->text();
    }

    QList<MessageRequest> messages;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    // The offer to open .log files, asked at every start until it is accepted.
    QList<MessageRequest> associationQuestions;
    QMessageBox::StandardButton associationAnswer = QMessageBox::Cancel;
    bool associationDoNotAsk = false; // the question's "Do not ask again" box
    std::unique_ptr<MainWindow> window;

    const UserHome& userHome() const { return m_userHome; }

private:
    UserHome m_userHome; // HOME and the XDG folders, first made and last restored
    QTemporaryDir m_home;
    QString m_previousFolder = QDir::currentPath();
};

} // namespace tlg::testing
