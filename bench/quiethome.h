#pragma once

// Measurements start the whole viewer: in a program folder and a home of their own, so that
// nothing of the user's is read or written, with every question answered at once.

#include "core/messages.h"

#include <QTemporaryDir>

namespace tlg::bench {

class QuietHome {
public:
    // Before the QApplication exists: the folders the viewer reads its place from.
    QuietHome()
    {
        qputenv("TLGVIEW_HOME", m_home.path().toLocal8Bit());
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", (m_home.path() + "/data").toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + "/config").toLocal8Bit());
    }
    // Once the QApplication exists: no box waits for a person.
    static void answerQuestions()
    {
        setMessageHook([](const MessageRequest&) { return QMessageBox::Cancel; });
    }

private:
    QTemporaryDir m_home;
};

} // namespace tlg::bench
