#include "app/commandline.h"
#include "app/viewer.h"
#include "banner/buildlabel.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMainWindow>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("TlgView"));
    QCoreApplication::setApplicationVersion(tlg::ReadFileVersion());
    QStringList logs;
    {
        // --help, --version and an unknown option are answered before the GUI starts: they
        // need no display and open no window.
        const QCoreApplication reader(argc, argv);
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
    }

    QApplication application(argc, argv);
    // The installed desktop entry and icon (tlgview.desktop, the theme's "tlgview").
    QGuiApplication::setDesktopFileName(QStringLiteral("tlgview"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tlgview")));
    std::unique_ptr<QMainWindow> mainWindow(tlg::startViewer(logs));
    return QApplication::exec();
}
