// Paints a screenful of a log view, coloured by twenty labels, at random places of a text:
// mixed-script UTF-8 (Latin with accents, Cyrillic, Chinese, emoji) against the same text
// read as Windows-1252, and prints the median and 99th percentile of a paint.
//
//   paint_bench [paints] [width height]   (default: the view's size in the window as it opens)

#include "document/logdocument.h"
#include "search/colourrules.h"
#include "view/logview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

std::string mixedScriptLog(int lines)
{
    const char* words[] = {"request", "served", "Caf\xC3\xA9", "cr\xC3\xA8me", "na\xC3\xAFve",
                           "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xD0\xBE\xD1\x88\xD0\xB8\xD0\xB1\xD0\xBA\xD0\xB0",
                           "\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8", "\xE8\xBF\x9E\xE6\x8E\xA5\xE5\xA4\xB1\xE8\xB4\xA5",
                           "\xF0\x9F\x98\x80", "\xF0\x9F\x94\xA5", "error", "Started", "txt", "e\xCC\x81t\xC3\xA9",
                           "\xE2\x80\x94", "timeout", "\xE6\x97\xA5\xE5\xBF\x97"};
    std::mt19937 random(15);
    std::string text;
    for (int n = 0; n < lines; ++n) {
        text += "2026-12-07 12:00:" + std::to_string(10 + n % 50) + " [" + std::to_string(n) + "]";
        const std::size_t length = 60 + random() % 100;
        const std::size_t start = text.size();
        while (text.size() - start < length) {
            text += ' ';
            text += words[random() % std::size(words)];
        }
        text += '\n';
    }
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int paints = argc > 1 ? std::atoi(argv[1]) : 400;
    const int width = argc > 3 ? std::atoi(argv[2]) : 615;
    const int height = argc > 3 ? std::atoi(argv[3]) : 430;

    auto rules = std::make_shared<tlg::ColourRules>();
    const char* errors[] = {"Fatal", "Internal", "error", "Failed", "Fehler", "caf\xE9", "Exception", "panic", "denied", "refused"};
    const char* infos[] = {"Found S", "Start", "***", "Found G", "txt", "served", "ok", "done", "ready", "na\xEFve"};
    for (int i = 0; i < 10; ++i) {
        rules->errorLabels[static_cast<std::size_t>(i)] = errors[i];
        rules->infoLabels[static_cast<std::size_t>(i)] = infos[i];
    }
    const tlg::DocumentPtr document = tlg::LogDocument::fromBytes(mixedScriptLog(20000));

    for (const tlg::Encoding encoding : {tlg::Encoding::Utf8, tlg::Encoding::Windows1252})
    for (const bool labels : {true, false}) {
        tlg::LogView view;
        view.resize(width, height);
        view.setEncoding(encoding);
        view.setDocument(document, labels ? rules : nullptr);
        QImage image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
        std::mt19937 random(7);
        std::vector<double> times;
        for (int i = 0; i < paints + 20; ++i) {
            // A new place each time, so that colours and widths are worked out afresh.
            view.setFirstVisibleLine(static_cast<std::int64_t>(random() % 19000));
            QElapsedTimer clock;
            clock.start();
            view.viewport()->render(&image);
            if (i >= 20) // after a warm-up
                times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        }
        std::printf("%-13s screenful of %d rows by %lld columns, %s labels: median %.2f ms, p99 %.2f ms\n",
                    tlg::EncodingName(encoding), view.visibleRows(),
                    static_cast<long long>(view.visibleColumns()), labels ? "20" : "no",
                    percentile(times, 0.5), percentile(times, 0.99));
    }
    return 0;
}
