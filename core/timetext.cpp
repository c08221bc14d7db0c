#include "core/timetext.h"

#include <QLocale>

namespace tlg {

namespace {

// Qt's long time format names the time zone ("t"); the status bar shows the clock time alone.
QString longTimeFormat()
{
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        result.append(c);
    }
    return result.simplified();
}

} // namespace

QString longTimeText(const QTime& time)
{
    return QLocale::system().toString(time, longTimeFormat());
}

QString dateTimeText(const QDateTime& moment)
{
    return QLocale::system().toString(moment.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           longTimeText(moment.time());
}

} // namespace tlg
