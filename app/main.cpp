#include "app/viewer.h"

#include <QApplication>
#include <QMainWindow>

#include <memory>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TlgView"));
    std::unique_ptr<QMainWindow> mainWindow(tlg::startViewer(QApplication::arguments().mid(1)));
    return QApplication::exec();
}
