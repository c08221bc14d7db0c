#include "banner/homepage.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QFile>

// Resources of a static library are linked in only when something refers to them.
static void initBannerResources()
{
    Q_INIT_RESOURCE(banner);
}

namespace tlg {

void EnsureBannerResources()
{
    static const bool initialised = (initBannerResources(), true);
    (void)initialised;
}

QByteArray BuiltInPage(const QString& name)
{
    EnsureBannerResources();
    QFile page(QStringLiteral(":/banner/pages/") + name);
    return page.open(QIODevice::ReadOnly) ? page.readAll() : QByteArray();
}

namespace {

QString namedHomePage()
{
    return qEnvironmentVariable("TLGVIEW_HOME_PAGE").trimmed();
}

std::string aboutPagePath()
{
    return OwnFileToShow(SettingsFolder(), InstalledDataFolder(), kAboutPageName);
}

} // namespace

QUrl HomePageUrl()
{
    const QString named = namedHomePage();
    if (!named.isEmpty()) {
        return QUrl::fromUserInput(named);
    }
    return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(aboutPagePath())));
}

void OpenHomePage()
{
    if (namedHomePage().isEmpty() && AgeStamp(aboutPagePath()) == -1) {
        const QByteArray page = BuiltInPage(QLatin1String(kAboutPageName));
        WriteFileAtomically(aboutPagePath(),
                            std::string_view(page.constData(), static_cast<std::size_t>(page.size())));
    }
    const QUrl url = HomePageUrl();
    // On a real desktop the opener runs detached and a missing browser goes unseen: asked first.
    const QString platform = QGuiApplication::platformName();
    const bool desktop = platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"));
    if (desktop && !DesktopOpens(url))
        throw Failure("Cannot open " + url.toDisplayString().toStdString() + ": no program is set to open it");
    if (!QDesktopServices::openUrl(url)) {
        throw Failure("Cannot open " + url.toDisplayString().toStdString());
    }
}

bool DesktopOpens(const QUrl& address)
{
    const bool web = address.scheme() == QLatin1String("http") || address.scheme() == QLatin1String("https");
    if (web && !qEnvironmentVariableIsEmpty("BROWSER"))
        return true;
    const QString type = address.isLocalFile() ? QStringLiteral("text/html")
                                               : QStringLiteral("x-scheme-handler/") + address.scheme();
    QProcess query;
    query.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"), type});
    if (!query.waitForStarted(3000) || !query.waitForFinished(3000))
        return true; // cannot be asked: nothing known against it
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace tlg
