#pragma once

// Starts the whole viewer in process, in a program folder and a home of its own (nothing is
// written to the real user's folders), with every message box answered by the test instead of
// a person.

#include "app/mainwindow.h"
#include "app/messages.h"
#include "app/viewer.h"

#include <QDir>
#include <QLabel>
#include <QList>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace tlg::testing {

class ViewerFixture {
public:
    ViewerFixture()
    {
        qputenv("TLGVIEW_HOME", m_home.path().toLocal8Bit());
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME"}) {
            m_savedEnvironment.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            const QString folder = m_userHome.path() + QLatin1Char('/') + QLatin1String(name);
            QDir().mkpath(folder);
            qputenv(name, folder.toLocal8Bit());
        }
        setMessageHook([this](const MessageRequest& request) {
            messages.append(request);
            return answer;
        });
    }
    ~ViewerFixture()
    {
        window.reset();
        setMessageHook({});
        qunsetenv("TLGVIEW_HOME");
        for (const SavedVariable& saved : m_savedEnvironment) {
            if (saved.wasSet)
                qputenv(saved.name, saved.value);
            else
                qunsetenv(saved.name);
        }
    }

    // The program's folder, ending in '/'.
    QString home() const { return m_home.path() + QLatin1Char('/'); }

    MainWindow* start(const QStringList& arguments = {})
    {
        window.reset(static_cast<MainWindow*>(startViewer(arguments)));
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

    QString status(int panel) const
    {
        return find<QLabel>(QStringLiteral("StatusPanel%1").arg(panel).toLatin1().constData())->text();
    }

    QList<MessageRequest> messages;
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    std::unique_ptr<MainWindow> window;

private:
    struct SavedVariable {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QTemporaryDir m_home;
    QTemporaryDir m_userHome;
    QList<SavedVariable> m_savedEnvironment;
};

} // namespace tlg::testing
