// Opens logs that hold one very long line in a log view and walks it as a user would: paint,
// Ctrl+End, sideways (Home, End, a page right), word wrap on and off, and a word found near the
// line's end with the view's marks in sight. Prints the process's peak memory after each step
// and the time each took. Each log runs in a process of its own, so that each peak is its own.
//
//   longline_bench [MiB of the long line] [folder for the logs] [utf8]
//
// (default 1024 MiB, the system's temporary folder, the logs read as Windows-1252)
//
// The logs: "words", one line of words with labels in it; "zeros" and "x", a few lines, then a
// line of NUL bytes or of x, then a few lines again. The long lines end with " needle end".

#include "measures.h"
#include "document/textload.h"
#include "search/textsearch.h"
#include "view/logview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QScrollBar>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

// The resident memory now, in MiB.
long currentMegabytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE) / (1024 * 1024);
}

// Writes the log a MiB at a time, never holding it.
void writeLog(const std::string& path, const std::string& kind, std::size_t megabytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string head = "2026-12-07 10:00:00 first line Started\n2026-12-07 10:00:01 second line error here\n";
    if (kind != "words")
        out << head;
    std::string chunk(std::size_t(1) << 20, kind == "zeros" ? '\0' : 'x');
    if (kind == "words") {
        // Words of a few lengths, now and then a label.
        const char* words[] = {"request ", "served ", "error ", "timeout ", "ok ", "abcdefghijklmnopqrstu ", "Failed "};
        std::size_t at = 0;
        for (unsigned n = 0; at < chunk.size(); ++n) {
            const std::string word = words[(n * 7 + n / 3) % std::size(words)];
            for (char c : word) {
                if (at < chunk.size())
                    chunk[at++] = c;
            }
        }
    }
    for (std::size_t i = 0; i < megabytes; ++i)
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    out << " needle end";
    if (kind != "words")
        out << "\n" << head;
}

class Steps {
public:
    explicit Steps(tlg::LogView& view) : m_view(view), m_image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied) {}

    void paint() { m_view.viewport()->render(&m_image); }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent press(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(&m_view, &press);
        paint();
    }
    void report(const char* step)
    {
        std::printf("  %-30s peak %5ld MiB   now %5ld MiB  %9.1f ms   caret at %lld (line %lld)\n", step,
                    tlg::bench::peakMegabytes(), currentMegabytes(), static_cast<double>(m_clock.nsecsElapsed()) / 1e6,
                    static_cast<long long>(m_view.caretOffset()), static_cast<long long>(m_view.caretLine()));
        std::fflush(stdout);
        m_clock.restart();
    }
    void start() { m_clock.start(); }

private:
    tlg::LogView& m_view;
    QImage m_image;
    QElapsedTimer m_clock;
};

int runLog(int argc, char* argv[], const std::string& path)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    tlg::LogView view;
    view.resize(1000, 700);
    if (argc > 3 && std::string(argv[3]) == "utf8")
        view.setEncoding(tlg::Encoding::Utf8);
    auto rules = std::make_shared<tlg::ColourRules>(tlg::bench::defaultRules());
    Steps steps(view);
    steps.start();
    steps.report("started");

    const tlg::DocumentPtr document = tlg::LoadPlainText(path);
    steps.report("opened");
    view.setDocument(document, rules);
    view.setLineNumbersShown(true);
    steps.paint();
    steps.report("painted");
    steps.key(Qt::Key_End, Qt::ControlModifier);
    steps.report("Ctrl+End");
    // Up to the long line, from the end of the last.
    const tlg::LineNumber longLine = document->lineCount() > 1 ? 2 : 0;
    while (view.caretLine() > longLine)
        steps.key(Qt::Key_Up);
    steps.report("Up to the long line");
    steps.key(Qt::Key_Home);
    steps.report("Home");
    steps.key(Qt::Key_End);
    steps.report("End");
    steps.key(Qt::Key_Home);
    for (int i = 0; i < 3; ++i) {
        view.horizontalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        steps.paint();
    }
    steps.report("three pages right");
    view.setWordWrap(true);
    steps.paint();
    steps.report("word wrap on");
    steps.key(Qt::Key_End, Qt::ControlModifier);
    steps.key(Qt::Key_PageUp);
    steps.report("wrapped: Ctrl+End, Page Up");
    view.setWordWrap(false);
    steps.paint();
    steps.report("word wrap off");

    // Find as the find dialog does, backwards from the end, then the marks in sight.
    tlg::TextSearch search;
    search.pattern = "needle";
    const tlg::ByteOffset found = tlg::FindOccurrenceBefore(search, *document, document->size());
    view.setSelection(found.value(), static_cast<std::int64_t>(search.pattern.size()));
    view.setMarkedText(search.pattern);
    view.scrollCaretIntoView();
    steps.paint();
    steps.report(found >= 0 ? "found the word near the end" : "word NOT found");
    view.setWordWrap(true);
    view.scrollCaretIntoView();
    steps.paint();
    steps.report("the same, wrapped");
    return tlg::bench::peakMegabytes() < 100 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const std::string folder = argc > 2 ? argv[2] : std::filesystem::temp_directory_path().string();
    int failures = 0;
    for (const std::string kind : {"words", "zeros", "x"}) {
        const std::string path = folder + "/longline_bench_" + kind + ".log";
        writeLog(path, kind, megabytes);
        std::printf("%s: a line of %zu MiB (%s)\n", kind.c_str(), megabytes, path.c_str());
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(runLog(argc, argv, path));
        int status = 0;
        ::waitpid(child, &status, 0);
        const bool under = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::printf("  => peak %s 100 MiB\n", under ? "under" : "NOT under");
        failures += under ? 0 : 1;
        std::filesystem::remove(path);
    }
    return failures;
}
