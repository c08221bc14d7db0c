#include "source/session.h"

#include <QByteArray>
#include <QList>

namespace tlg {

namespace {

constexpr Encoding kEncodings[] = {Encoding::Utf8, Encoding::Windows1252, Encoding::Iso8859_1, Encoding::Utf16Le,
                                   Encoding::Utf16Be};

} // namespace

std::string SessionText(const std::vector<SessionLog>& logs)
{
    QByteArray text;
    for (const SessionLog& log : logs) {
        text += "Log=" + QByteArray::fromStdString(log.path).toPercentEncoding() + '|' +
                QByteArray::number(static_cast<qlonglong>(log.caretLine)) + '|' + (log.followed ? '1' : '0') + '|' +
                (log.encoding.automatic ? QByteArray("Auto") : QByteArray(EncodingName(log.encoding.forced)));
        if (!log.mergedWith.empty()) {
            QList<QByteArray> others;
            for (const std::string& other : log.mergedWith)
                others << QByteArray::fromStdString(other).toPercentEncoding();
            text += '|' + others.join(',');
        }
        text += "\r\n";
    }
    return text.toStdString();
}

std::vector<SessionLog> ReadSessionText(std::string_view text)
{
    std::vector<SessionLog> logs;
    for (const QByteArray& line : QByteArray(text.data(), static_cast<qsizetype>(text.size())).split('\n')) {
        const QByteArray entry = line.trimmed();
        if (!entry.startsWith("Log="))
            continue;
        const QList<QByteArray> fields = entry.mid(4).split('|');
        if (fields.size() != 4 && fields.size() != 5)
            continue;
        SessionLog log;
        log.path = QByteArray::fromPercentEncoding(fields[0]).toStdString();
        bool number = false;
        log.caretLine = fields[1].toLongLong(&number);
        if (log.path.empty() || !number || log.caretLine < 0)
            continue;
        log.followed = fields[2] != "0";
        log.encoding.automatic = true;
        for (const Encoding encoding : kEncodings) {
            if (fields[3] == EncodingName(encoding))
                log.encoding = {false, encoding};
        }
        if (fields.size() == 5) {
            for (const QByteArray& other : fields[4].split(','))
                if (!other.isEmpty())
                    log.mergedWith.push_back(QByteArray::fromPercentEncoding(other).toStdString());
        }
        logs.push_back(std::move(log));
    }
    return logs;
}

} // namespace tlg
