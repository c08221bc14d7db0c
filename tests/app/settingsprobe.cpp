// The whole viewer started as the program starts it, offscreen, for the start-up tests: they
// run a copy of this program from a program folder of their choosing, as a user of their
// choosing. It prints where the settings went, the file list it shows, the banner's first page
// and every error box (which it answers instead of a person), and exits with 1 when a box
// came up.

#include "app/viewer.h"
#include "banner/bannerframe.h"
#include "core/fileops.h"
#include "core/messages.h"

#include <QApplication>
#include <QMainWindow>
#include <QTextBrowser>
#include <QTreeWidget>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    int boxes = 0;
    tlg::setMessageHook([&boxes](const tlg::MessageRequest& request) {
        if (request.caption == QLatin1String("Associate ?"))
            return QMessageBox::Cancel; // the start-up offer is no error
        ++boxes;
        std::printf("box=%s\n", request.text.toLocal8Bit().constData());
        return QMessageBox::Ok;
    });
    std::unique_ptr<QMainWindow> window(tlg::startViewer({}));
    QCoreApplication::processEvents();

    std::printf("settings=%s\n", tlg::SettingsFolder().c_str());
    if (auto* list = window->findChild<QTreeWidget*>(QStringLiteral("ListView1"))) {
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            std::printf("entry=%s\n", list->topLevelItem(i)->text(1).toLocal8Bit().constData());
    }
    // The banner's ticks up to its first page: the fetch, two with the labels, page 1.
    if (auto* banner = window->findChild<tlg::BannerFrame*>()) {
        tlg::runGuarded(window.get(), [banner] {
            for (int tick = 0; tick < 4; ++tick)
                banner->fetchOrRotate();
        });
        std::printf("page=%s\n", banner->webBrowser()->source().toLocalFile().toLocal8Bit().constData());
    }
    std::printf("boxes=%d\n", boxes);
    window.reset();
    return boxes == 0 ? 0 : 1;
}
