#pragma once

// Which kind of log a request names, and the log made for it: every way a log is opened
// (a path, several merged, standard input, the machine's journal) comes here, so that nothing
// above asks which kind it holds.

#include "core/fileops.h"
#include "document/pipespool.h"
#include "journal/journalreader.h"
#include "source/log.h"

#include <QStringList>

namespace tlg {

// The log at `path` as a person names it: a journal file, or a folder of them, known by its
// bytes whatever its name, is the journal; anything else a file (a compressed file or an
// archive's member is read as such). Not started.
Log* MakeLogAt(const QString& path, OpenWay way, QObject* parent = nullptr);

// The files as one log merged by time, the first log file read first (a journal gives its
// place to the first log file); journal files alone are one journal, which sd-journal merges
// itself. Null with `refusal` saying why when they cannot be merged (a journal folder with
// other journals only). Fewer than two paths make the log of one path.
Log* MakeMergedLog(QStringList paths, OpenWay way, QString* refusal, QObject* parent = nullptr);

// Whether a folder opens as one log (a folder of journal files). It looks at the folder's
// files' first bytes.
bool OpensAsLog(const QString& folder);

// The systemd journal of `query`.
Log* MakeJournalLog(const JournalQuery& query, QObject* parent = nullptr);

// Standard input (or another pipe).
Log* MakePipeLog(FileHandle input, PipeSpool::Options options = {}, QObject* parent = nullptr);

} // namespace tlg
