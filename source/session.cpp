#include "source/session.h"

#include <QByteArray>
#include <QList>

namespace tlg {

namespace {

constexpr Encoding kEncodings[] = {Encoding::Utf8, Encoding::Windows1252, Encoding::Iso8859_1, Encoding::Utf16Le,
                                   Encoding::Utf16Be};

QByteArray JournalLine(const SessionLog& log)
{
    const JournalQuery& query = *log.journal;
    QList<QByteArray> units;
    for (const std::string& unit : query.units)
        units << QByteArray::fromStdString(unit).toPercentEncoding();
    const QByteArray priorities = query.highestPriority < 0 ? QByteArray()
                                                            : QByteArray::number(query.lowestPriority) + ".." +
                                                                  QByteArray::number(query.highestPriority);
    return "Journal=" + QByteArray(log.followed ? "1" : "0") + '|' + units.join(',') + '|' + priorities + '|' +
           QByteArray::fromStdString(query.boot).toPercentEncoding() + "\r\n";
}

// A "Journal=" line's fields; nullopt when they cannot be read.
std::optional<SessionLog> ReadJournalLine(const QList<QByteArray>& fields)
{
    SessionLog log;
    log.followed = fields[0] != "0";
    JournalQuery query;
    if (fields.size() > 1) {
        for (const QByteArray& unit : fields[1].split(','))
            if (!unit.isEmpty())
                query.units.push_back(QByteArray::fromPercentEncoding(unit).toStdString());
    }
    if (fields.size() > 2 && !fields[2].isEmpty()) {
        const QList<QByteArray> range = fields[2].split('.');
        if (range.size() != 3)
            return std::nullopt;
        query.lowestPriority = ParsePriority(range[0].toStdString());
        query.highestPriority = ParsePriority(range[2].toStdString());
        if (query.lowestPriority < 0 || query.highestPriority < 0)
            return std::nullopt;
    }
    if (fields.size() > 3)
        query.boot = QByteArray::fromPercentEncoding(fields[3]).toStdString();
    log.journal = std::move(query);
    return log;
}

} // namespace

std::string SessionText(const std::vector<SessionLog>& logs)
{
    QByteArray text;
    for (const SessionLog& log : logs) {
        if (log.journal) {
            text += JournalLine(log);
            continue;
        }
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
        if (entry.startsWith("Journal=")) {
            if (std::optional<SessionLog> journal = ReadJournalLine(entry.mid(8).split('|')))
                logs.push_back(std::move(*journal));
            continue;
        }
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
