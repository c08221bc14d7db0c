#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/singleviewer.h"
#include "app/viewer.h"
#include "banner/buildlabel.h"
#include "core/executor.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMainWindow>

#include <cstdio>
#include <memory>

namespace {

// How long a second start waits for the running viewer to take its logs before it starts a
// viewer of its own.
constexpr int kHandOverTimeoutMs = 10000;

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("TlgView"));
    QCoreApplication::setApplicationVersion(tlg::ReadFileVersion());
    QStringList arguments; // after the program's name
    QStringList logs;
    bool newWindow = false;
    {
        // --help, --version and an unknown option are answered before the GUI starts: they
        // need no display and open no window.
        const QCoreApplication reader(argc, argv);
        arguments = QCoreApplication::arguments().mid(1);
        const tlg::CommandLine line = tlg::ReadCommandLine(QCoreApplication::arguments());
        if (line.action == tlg::CommandLine::Refused) {
            std::fputs(line.text.toLocal8Bit().constData(), stderr);
            return 2;
        }
        if (line.action != tlg::CommandLine::Open) {
            std::fputs(line.text.toLocal8Bit().constData(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        logs = line.logs;
        // Logs with a filter stack of their own, merged, or beside a journal open in a viewer of
        // their own, and so does standard input ("-", which sets newWindow): the running one
        // takes paths only.
        newWindow = line.newWindow || !line.filters.isEmpty() || line.merge || line.journal.has_value();
        // The viewer already running for this user and display opens the logs and comes to
        // the front; this start ends there.
        if (!newWindow && tlg::HandOverToRunningViewer(logs, kHandOverTimeoutMs))
            return 0;
    }

    QApplication application(argc, argv);
    // Every thread beside the GUI's is the executor's; it ends before the application does.
    tlg::Executor executor;
    // The installed desktop entry and icon (tlgview.desktop, the theme's "tlgview").
    QGuiApplication::setDesktopFileName(QStringLiteral("tlgview"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tlgview")));
    // Listening before the window is built narrows the time in which a second start finds no
    // viewer; what it hands over waits for the event loop.
    std::unique_ptr<tlg::ViewerListener> listener;
    if (!newWindow)
        listener = std::make_unique<tlg::ViewerListener>();
    std::unique_ptr<QMainWindow> mainWindow(tlg::startViewer(arguments));
    if (listener)
        QObject::connect(listener.get(), &tlg::ViewerListener::pathsReceived,
                         static_cast<tlg::MainWindow*>(mainWindow.get()), &tlg::MainWindow::openLogs);
    return QApplication::exec();
}
