#include "banner/bannerframe.h"

#include "core/fileops.h"
#include "core/messages.h"
#include "banner/bannerpages.h"
#include "banner/homepage.h"
#include "banner/httpclient.h"
#include "banner/urllabel.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QTextBrowser>
#include <QTimer>

#include <ctime>

namespace tlg {

namespace {

// The browser's place while the labels show: beside the panel, which clips it away.
constexpr QPoint kPageHidden(400, 300);
// The browser while a page shows: larger than the panel and shifted up and left, so the panel
// clips its frame and scroll bars and only the page shows.
constexpr QRect kPageShown(-7, -11, 350, 120);

// The page view. Its right part lies outside the panel while a page shows, so the text wraps
// short of it and no line runs out of sight.
class PageView : public QTextBrowser {
public:
    explicit PageView(QWidget* parent) : QTextBrowser(parent)
    {
        const int hiddenRight = kPageShown.x() + kPageShown.width() - 305;
        setViewportMargins(0, 0, hiddenRight, 0);
    }
};

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, const QRect& place)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(place);
    return label;
}

void setTextColour(QWidget* widget, const QColor& colour)
{
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, colour);
    widget->setPalette(p);
}

QString decoded(const std::string& path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::tm localNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local;
}

} // namespace

BannerFrame::BannerFrame(QWidget* parent) : QFrame(parent)
{
    setFixedSize(305, 82);

    m_panel = new QFrame(this);
    m_panel->setObjectName(QStringLiteral("Panel6"));
    m_panel->setGeometry(0, 0, 305, 81);
    m_panel->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);

    m_caption = makeLabel(m_panel, "Label1", m_bannerCaption, QRect(41, 5, 241, 24));
    m_caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont arial(QStringLiteral("Arial"));
    arial.setPixelSize(16);
    arial.setBold(true);
    m_caption->setFont(arial);
    setTextColour(m_caption, Qt::blue);

    EnsureBannerResources();
    auto* image = makeLabel(m_panel, "Image1", QString(), QRect(8, 8, 25, 25));
    image->setPixmap(QPixmap(QStringLiteral(":/banner/logo.xpm")));
    image->setScaledContents(true);

    QLabel* label2 = makeLabel(m_panel, "Label2", QString(), QRect(112, 40, 0, 0));
    QFont bold = label2->font();
    bold.setBold(true);
    label2->setFont(bold);
    setTextColour(label2, Qt::black);
    label2->adjustSize();

    for (QLabel* credit : {makeLabel(m_panel, "Label3", QStringLiteral("by the TlgView team"),
                                     QRect(88, 24, 145, 17)),
                           makeLabel(m_panel, "Label4", QStringLiteral("\u00A9 2026 MarvikWare"),
                                     QRect(72, 40, 185, 17))}) {
        credit->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        credit->setWordWrap(true);
    }

    // Along the bottom edge, inside the panel's bevel.
    m_link = new URLLabel(QStringLiteral("More tools from MarvikWare: www.marvikware.dk"), m_panel);
    m_link->setObjectName(QStringLiteral("URLLabel1"));
    m_link->setGeometry(2, 81 - 2 - 17, 301, 17);
    m_link->setAlignment(Qt::AlignCenter);
    connect(m_link, &URLLabel::clicked, this, guarded(this, [this] { openHomePage(); }));

    // Created last, so it covers the labels while a page shows.
    m_browser = new PageView(m_panel);
    m_browser->setObjectName(QStringLiteral("WebBrowser2"));
    m_browser->setGeometry(400, 72, 320, 100);
    m_browser->setOpenExternalLinks(true);
    // Room for the part of the view that the placement hides, so no text is cut off.
    m_browser->document()->setDocumentMargin(12);
    m_browser->setFocusPolicy(Qt::NoFocus);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(10000);
    connect(m_timer, &QTimer::timeout, this, [this] { runTick(); });

    m_http = new HttpClient(this);
    m_http->setObjectName(QStringLiteral("NMHTTP1"));
    m_http->setBody("Default.htm");
    m_http->setHeader("Head.txt");
}

void BannerFrame::startRotation(const QString& prefix, const QString& caption, int periodMs)
{
    if (!m_bannerStarted) {
        m_bannerName = prefix;
        m_bannerCaption = caption;
        m_bannerInterval = periodMs;
        m_caption->setText(caption);
        m_timer->setInterval(periodMs);
    }
    m_timer->start();
}

void BannerFrame::stopRotation()
{
    hidePage();
    m_timer->stop();
}

std::string BannerFrame::pageName(int page) const
{
    return BannerPageName(QFile::encodeName(m_bannerName).toStdString(), page);
}

std::string BannerFrame::storedPagePath(int page) const
{
    return SettingsFolder() + pageName(page);
}

std::string BannerFrame::shownPagePath(int page) const
{
    return OwnFileToShow(SettingsFolder(), InstalledDataFolder(), pageName(page));
}

void BannerFrame::fetchOrRotate()
{
    if (!m_bannerStarted) {
        if (m_busy && m_busy()) {
            return; // a fetch waits inside a loop of its own; never inside a load's
        }
        m_timer->stop();
        m_bannerStarted = true;
        m_timer->setInterval(m_bannerInterval);
        m_http->setOutputFileMode(true);
        fetchPages();
        m_timer->start();
        return;
    }
    if (m_bannerStep > 4) {
        m_bannerStep = 0;
    }
    if (m_bannerStep <= 1) {
        hidePage();
    } else {
        showStoredPage(m_bannerStep - 1);
    }
    ++m_bannerStep;
}

void BannerFrame::fetchPages()
{
    const QByteArray base = qgetenv("TLGVIEW_BANNER_URL").trimmed();
    const std::tm now = localNow();
    for (int page = 1; page <= kBannerPages; ++page) {
        const std::string path = storedPagePath(page);
        const std::int32_t stamp = AgeStamp(path);
        if (base.isEmpty()) {
            // No server: the installed page, or else the program's own copy written to the
            // settings folder, stands in for a missing copy. A folder that cannot be written
            // only leaves the page out of the rotation.
            const QByteArray builtIn = BuiltInPage(decoded(pageName(page)));
            if (AgeStamp(shownPagePath(page)) == -1 && !builtIn.isEmpty()) {
                try {
                    WriteFileAtomically(path, std::string_view(builtIn.constData(),
                                                               static_cast<std::size_t>(builtIn.size())));
                } catch (const Failure&) {
                }
            }
            continue;
        }
        if (IsFreshCopy(stamp, now)) {
            continue;
        }
        m_http->setBody(path);
        // The frame may be gone when this returns by AbortError: nothing follows it here.
        m_http->Get(BannerPageAddress(base.toStdString(), pageName(page)));
    }
}

void BannerFrame::showStoredPage(int page)
{
    const QString path = decoded(shownPagePath(page));
    const QUrl url = QUrl::fromLocalFile(path);
    const QFileInfo info(path);
    if (!info.isReadable()) {
        m_browser->setHtml(QStringLiteral("<p>Cannot open file %1</p>").arg(path.toHtmlEscaped()));
    } else if (!info.isFile() || info.size() > static_cast<qint64>(kMaxReplyBodySize)) {
        // Laying out a huge page would stop the window for minutes.
        m_browser->setHtml(QStringLiteral("<p>Page not shown: %1 is no regular file of at most 1 MiB</p>")
                               .arg(path.toHtmlEscaped()));
    } else if (m_browser->source() == url) {
        m_browser->reload();
    } else {
        m_browser->setSource(url);
    }
    m_browser->setGeometry(kPageShown);
    m_browser->raise();
}

void BannerFrame::hidePage()
{
    m_browser->move(kPageHidden);
}

void BannerFrame::openHomePage()
{
    OpenHomePage();
}

void BannerFrame::runTick()
{
    const QPointer<BannerFrame> self(this);
    try {
        fetchOrRotate();
    } catch (const AbortError&) {
        // Given up because the frame or the application is going away: nobody to tell.
    } catch (const std::exception& failure) {
        if (self) {
            showError(window(), QString::fromLocal8Bit(failure.what()));
        }
    }
}

} // namespace tlg
