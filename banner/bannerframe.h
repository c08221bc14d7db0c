#pragma once

// The banner in the top-left corner of the main window: the program's name, two credit lines
// and a link, taking turns with three small HTML pages. At the first tick of its timer the
// pages are fetched from the maker's server into files in the settings folder, unless the
// stored copies are less than a day old; from then on each tick moves the rotation on a step.
//
// The maker's server is the base address that TLGVIEW_BANNER_URL names
// ("http://host:port/rklm/"). Without it nothing is fetched: a page with no stored copy is
// shown from the installed pages (share/tlgview/), or else written from the program's own
// copy, so the banner always has something to show.

#include <QFrame>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

class QLabel;
class QTextBrowser;
class QTimer;

namespace tlg {

class HttpClient;
class URLLabel;

class BannerFrame : public QFrame {
    Q_OBJECT

public:
    // 305 by 82 pixels, timer off, showing its labels.
    explicit BannerFrame(QWidget* parent = nullptr);

    // Starts the banner's rotation. Before the first tick, keeps prefix (the page names'
    // start), caption (shown big) and the period of the rotation in milliseconds; in any case
    // switches the timer on. The main window calls it with "tlg", "Log Viewer" and 10000.
    void startRotation(const QString& prefix, const QString& caption, int periodMs);
    // Hides the page and switches the timer off; a later startRotation goes on where it stopped.
    void stopRotation();

    // Timer1Timer: the timer's tick. The first fetches the pages that need it (unless the busy
    // check says a load runs: it then waits for the next tick), with the timer off, and
    // switches the timer back on when all went well; each later one moves the rotation on:
    // labels, labels, page 1, page 2, page 3. Throws the failure of a fetch (see
    // HttpClient::Get): the remaining pages are skipped and the timer stays off for good, so
    // the banner keeps showing its labels. Throws AbortError when the frame is destroyed during
    // a fetch; the frame must then not be touched. The frame's own timer runs it through the
    // application's error box and drops AbortError quietly.
    void fetchOrRotate();

    // Tells whether a load is running. While it answers true no fetch starts: the first tick
    // does nothing then, and the fetch is tried again at the next tick. None set: never busy.
    void setBusyCheck(std::function<bool()> busy) { m_busy = std::move(busy); }

    // URLLabel1Click: the link at the bottom opens the home page; the banner does not change.
    void openHomePage();

    // The rotation state, for the main window's tests and ours.
    const QString& bannerName() const { return m_bannerName; }
    const QString& bannerCaption() const { return m_bannerCaption; }
    int bannerInterval() const { return m_bannerInterval; }
    bool bannerStarted() const { return m_bannerStarted; }
    int bannerStep() const { return m_bannerStep; }

    // The stored copy of page n (1 to 3), which a download replaces: SettingsFolder and the
    // page's file name. A copy that is no regular file or is larger than kMaxReplyBodySize
    // (1 MiB) is not shown: a note says so in its place.
    std::string storedPagePath(int page) const;
    // The copy of page n that is shown: the stored copy, else the installed page.
    std::string shownPagePath(int page) const;

    QTextBrowser* webBrowser() const { return m_browser; }
    QTimer* timer() const { return m_timer; }
    HttpClient* httpClient() const { return m_http; }

private:
    std::string pageName(int page) const;
    void fetchPages();
    void showStoredPage(int page);
    void hidePage();
    void runTick();

    QString m_bannerName = QStringLiteral("Marvik");
    int m_bannerInterval = 10000;
    QString m_bannerCaption = QStringLiteral("ProgramName");
    bool m_bannerStarted = false;
    int m_bannerStep = 0;

    QFrame* m_panel = nullptr;           // Panel6
    QLabel* m_caption = nullptr;         // Label1
    URLLabel* m_link = nullptr;          // URLLabel1
    QTextBrowser* m_browser = nullptr;   // WebBrowser2
    QTimer* m_timer = nullptr;           // Timer1
    HttpClient* m_http = nullptr;        // NMHTTP1
    std::function<bool()> m_busy;
};

} // namespace tlg
