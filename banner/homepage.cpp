#include "banner/homepage.h"

#include "core/errors.h"
#include "core/fileops.h"

#include <QDesktopServices>
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
    if (!QDesktopServices::openUrl(url)) {
        throw Failure("Cannot open " + url.toDisplayString().toStdString());
    }
}

} // namespace tlg
