#pragma once

// Times as the status bar writes them, in the system's formats.

#include <QDateTime>
#include <QString>

namespace tlg {

// The time in the system's long time format, without a time zone ("14:05:09").
QString longTimeText(const QTime& time = QTime::currentTime());

// The date in the system's short date format, a blank, and the time as longTimeText.
QString dateTimeText(const QDateTime& moment = QDateTime::currentDateTime());

} // namespace tlg
