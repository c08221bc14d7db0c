#include "source/logopening.h"

#include "source/filelog.h"
#include "source/journallog.h"
#include "source/mergedlog.h"
#include "source/pipelog.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace tlg {

namespace {

QString Absolute(const QString& path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}

std::optional<JournalQuery> JournalOf(const QString& path)
{
    return JournalAt(QFile::encodeName(path).toStdString());
}

} // namespace

Log* MakeLogAt(const QString& path, OpenWay way, QObject* parent)
{
    if (const std::optional<JournalQuery> journal = JournalOf(path))
        return new JournalLog(*journal, parent);
    return new FileLog(path, way, parent);
}

Log* MakeMergedLog(QStringList paths, OpenWay way, QString* refusal, QObject* parent)
{
    if (paths.isEmpty())
        return nullptr;
    if (paths.size() == 1)
        return MakeLogAt(paths.front(), way, parent);
    QStringList absolutePaths;
    for (const QString& path : paths)
        absolutePaths << Absolute(path);
    std::vector<std::optional<JournalQuery>> journals;
    for (const QString& path : absolutePaths)
        journals.push_back(JournalOf(path));
    // The merge's own reading is of its first log file, so a journal gives its place to it.
    const auto firstFile = std::find_if(journals.begin(), journals.end(), [](const auto& journal) { return !journal; });
    if (firstFile == journals.end()) {
        JournalQuery files;
        files.where = JournalQuery::Where::Files;
        for (std::size_t i = 0; i < journals.size(); ++i) {
            if (journals[i]->where != JournalQuery::Where::Files) {
                if (refusal)
                    *refusal = QStringLiteral("Journal folders merge with log files only: %1").arg(absolutePaths[static_cast<int>(i)]);
                return nullptr;
            }
            files.paths.insert(files.paths.end(), journals[i]->paths.begin(), journals[i]->paths.end());
        }
        return new JournalLog(files, parent);
    }
    const auto first = static_cast<int>(firstFile - journals.begin());
    absolutePaths.move(first, 0);
    journals.insert(journals.begin(), std::move(journals[static_cast<std::size_t>(first)]));
    journals.erase(journals.begin() + first + 1);
    auto* firstLog = new FileLog(absolutePaths.front(), way);
    std::vector<Log*> others;
    for (int i = 1; i < absolutePaths.size(); ++i) {
        const std::optional<JournalQuery>& journal = journals[static_cast<std::size_t>(i)];
        others.push_back(journal ? static_cast<Log*>(new JournalLog(*journal))
                                 : static_cast<Log*>(new FileLog(absolutePaths[i], OpenWay::Chosen)));
    }
    return new MergedLog(absolutePaths, firstLog, std::move(others), parent);
}

bool OpensAsLog(const QString& folder)
{
    const std::optional<JournalQuery> journal = JournalOf(folder);
    return journal && journal->where == JournalQuery::Where::Folder;
}

Log* MakeJournalLog(const JournalQuery& query, QObject* parent)
{
    return new JournalLog(query, parent);
}

Log* MakePipeLog(FileHandle input, PipeSpool::Options options, QObject* parent)
{
    return new PipeLog(std::move(input), std::move(options), parent);
}

} // namespace tlg
