#include "source/logsource.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "core/serialqueue.h"
#include "source/pipetext.h"
#include "source/sharedfilewatcher.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

namespace tlg {

LogSource::LogSource(QObject* parent) : QObject(parent), m_queue(std::make_unique<SerialQueue>())
{
    m_text.document = LogDocument::empty();
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { reportProgress(); });
}

LogSource::~LogSource()
{
    // The spool tells nothing once stopped; then the queue ends its growth.
    if (m_spool)
        m_spool->stop();
    m_queue.reset();
}

QString LogSource::name() const
{
    return m_spool ? QString::fromLatin1(kStandardInputName) : m_path;
}

std::string LogSource::nativePath() const
{
    return QFile::encodeName(m_path).toStdString();
}

template <typename Result>
void LogSource::run(const char* kind, std::int64_t total,
                    std::function<Result(std::atomic<std::int64_t>&, const std::atomic<bool>*)> read,
                    std::function<void(Result*, const QString& failure)> finish)
{
    ++m_running;
    auto done = std::make_shared<std::atomic<std::int64_t>>(0);
    m_done = done;
    m_total = total;
    m_reported = false;
    m_sinceStart.start();
    m_progressTimer->start();
    const std::function<void()> hook = m_readHook;
    const std::atomic<bool>* stop = &m_queue->stopping(); // the queue outlives the operation
    const Executor::Priority priority = std::string_view(kind) == "verify" || std::string_view(kind) == "pipe"
                                             ? Executor::Priority::Background
                                             : Executor::Priority::User;
    const bool replaced = m_queue->post(kind, priority, [this, done, stop, hook, read = std::move(read), finish = std::move(finish)] {
        auto result = std::make_shared<std::optional<Result>>();
        QString failure;
        try {
            if (hook)
                hook();
            result->emplace(read(*done, stop));
        } catch (const ReadStopped&) {
            return; // the source is going: there is no one to tell
        } catch (const std::exception& error) {
            failure = QString::fromStdString(error.what());
        }
        // Back on the GUI thread; nothing arrives once the source is gone.
        QMetaObject::invokeMethod(
            this,
            [this, result, failure, finish] {
                --m_running;
                if (m_running == 0) {
                    m_progressTimer->stop();
                    if (m_reported)
                        emit progress(-1);
                }
                finish(result->has_value() ? &**result : nullptr, failure);
                if (m_running == 0)
                    emit idle();
            },
            Qt::QueuedConnection);
    });
    // The request it replaced never runs, so it is no longer counted.
    if (replaced)
        --m_running;
}

void LogSource::reportProgress()
{
    if (!m_done || m_sinceStart.elapsed() < 500 || m_total <= 0)
        return;
    m_reported = true;
    const std::int64_t done = std::min(m_done->load(std::memory_order_relaxed), m_total);
    emit progress(static_cast<int>(done * 100 / m_total));
}

void LogSource::takeWholeRead(WholeRead* read, const QString& failure, Why why, const Done& done)
{
    if (!read) {
        done({Why::Failed, failure});
        return;
    }
    m_text = std::move(read->text);
    m_textDiffers = false;
    m_watch.StoredAge = read->sample.age;
    m_watch.StoredSize = read->sample.size;
    m_watch.StoredStamp = read->sample.stamp;
    emit documentChanged(why);
    done({why, {}});
}

void LogSource::open(const QString& path, Done done)
{
    const std::string native = QFile::encodeName(path).toStdString();
    const EncodingChoice choice = m_encodingChoice;
    // Told on the source's thread, taken here in order, before the read's end; nothing arrives
    // once the source is gone.
    auto partial = [this, path](const HeldText& text) {
        QMetaObject::invokeMethod(this, [this, text, path] { takePartial(text, path); }, Qt::QueuedConnection);
    };
    run<WholeRead>("open", FileSizeOf(native),
              [native, choice, partial](std::atomic<std::int64_t>& bytes, const std::atomic<bool>* stop) {
                  // Sampled before the read, so that a write landing during it is read at the
                  // next look.
                  WholeRead read;
                  read.sample = SampleOf(native);
                  read.text = OpenText(native, choice, bytes, stop, partial);
                  return read;
              },
              [this, path, done](WholeRead* read, const QString& failure) {
                  const bool partialShown = std::exchange(m_partialOpen, false);
                  HeldText before = std::exchange(m_textBefore, HeldText{});
                  if (!read) {
                      if (partialShown) {
                          // The log in sight stays the one that was.
                          m_path = m_pathBefore;
                          m_text = std::move(before);
                          emit documentChanged(Why::Opened);
                      }
                      takeWholeRead(nullptr, failure, Why::Opened, done);
                      return;
                  }
                  dropPipe();
                  m_path = path;
                  if (!partialShown) {
                      takeWholeRead(read, failure, Why::Opened, done);
                      return;
                  }
                  // The whole text grows from the first lines shown: told as growth, so that
                  // what is in sight stays.
                  const bool grew = read->text.document->grewFrom(*m_text.document);
                  m_text = std::move(read->text);
                  m_textDiffers = false;
                  m_watch.StoredAge = read->sample.age;
                  m_watch.StoredSize = read->sample.size;
                  m_watch.StoredStamp = read->sample.stamp;
                  emit documentChanged(grew ? Why::Appended : Why::Opened);
                  done({Why::Opened, {}});
              });
}

void LogSource::takePartial(const HeldText& text, const QString& path)
{
    const bool first = !m_partialOpen;
    if (first) {
        m_partialOpen = true;
        m_pathBefore = m_path;
        m_textBefore = m_text;
    }
    m_path = path;
    m_text = text;
    emit documentChanged(first ? Why::Opened : Why::Appended);
    emit partialShown(first);
}

void LogSource::openPipe(FileHandle input, Done done, PipeSpool::Options options)
{
    std::shared_ptr<PipeSpool> spool;
    try {
        // Told on the spool's thread; the text grows on the source's, asked from here.
        spool = std::make_shared<PipeSpool>(
            std::move(input), [this] { QMetaObject::invokeMethod(this, [this] { growPipe(); }, Qt::QueuedConnection); },
            std::move(options));
    } catch (const Failure& failure) {
        done({Why::Failed, QString::fromLocal8Bit(failure.what())});
        return;
    }
    dropPipe();
    m_spool = std::move(spool);
    m_path.clear();
    m_text = HeldText{};
    m_text.document = LogDocument::empty();
    m_textDiffers = false;
    m_pipeEnded = false;
    emit documentChanged(Why::Opened);
    done({Why::Opened, {}});
}

void LogSource::dropPipe()
{
    if (!m_spool)
        return;
    m_spool->stop();
    m_spool.reset();
    m_pipeGrowAgain = false;
    m_pipeFromStart = false;
}

void LogSource::growPipe()
{
    if (!m_spool)
        return;
    if (m_pipeGrowing) {
        m_pipeGrowAgain = true; // one growth after this one reads everything told meanwhile
        return;
    }
    m_pipeGrowing = true;
    const std::shared_ptr<PipeSpool> spool = m_spool;
    HeldText held = m_text;
    if (std::exchange(m_pipeFromStart, false))
        held.document = LogDocument::empty(); // detected and read again whole
    const EncodingChoice choice = m_encodingChoice;
    struct Grown {
        HeldText text;
        bool detected = false;
        bool ended = false;
    };
    run<Grown>("pipe", 0,
               [spool, held, choice](std::atomic<std::int64_t>& bytes, const std::atomic<bool>* stop) {
                   // A flood is kept first and shown as the processor allows: the growth runs
                   // as work that can wait, yielding to the intake (and to the GUI).
                   Grown grown;
                   // Seen before the read, so that the read takes every byte the pipe gave.
                   grown.ended = spool->state() != PipeSpool::State::Open;
                   grown.text = GrowPipeText(*spool, held, choice, grown.detected, bytes, stop);
                   return grown;
               },
               [this, spool](Grown* grown, const QString& failure) {
                   m_pipeGrowing = false;
                   if (spool != m_spool)
                       return; // another log was opened meanwhile
                   if (!grown) {
                       emit pipeReadFailed(failure);
                   } else {
                       const bool changed = grown->text.document != m_text.document;
                       m_text = std::move(grown->text);
                       if (changed) {
                           emit documentChanged(grown->detected ? Why::Opened : Why::Appended);
                           emit pipeGrew(grown->detected);
                       }
                       if (grown->ended && !m_pipeEnded) {
                           m_pipeEnded = true;
                           const bool failed = spool->state() == PipeSpool::State::Failed;
                           emit pipeEnded(failed ? QString::fromLocal8Bit(spool->failure())
                                                 : QStringLiteral("Standard input closed"),
                                          failed);
                       }
                   }
                   if (std::exchange(m_pipeGrowAgain, false))
                       growPipe();
               });
}

void LogSource::readPipeAgain()
{
    if (!m_spool)
        return;
    m_pipeFromStart = true;
    growPipe();
}

void LogSource::readAgain(bool convert, Done done)
{
    const std::string native = nativePath();
    if (native.empty() || AgeStamp(native) == -1) {
        done({Why::Missing, {}});
        return;
    }
    const HeldText held = m_text;
    run<WholeRead>("open", FileSizeOf(native),
              [native, held, convert](std::atomic<std::int64_t>& bytes, const std::atomic<bool>* stop) {
                  WholeRead read;
                  read.sample = SampleOf(native);
                  read.text = ReadAgain(native, held, convert, bytes, stop);
                  return read;
              },
              [this, done](WholeRead* read, const QString& failure) {
                  takeWholeRead(read, failure, Why::ReadAgain, done);
              });
}

void LogSource::follow(bool notified, bool convert, Done done)
{
    if (m_partialOpen) {
        done({Why::Unchanged, {}}); // the open under way reads it all
        return;
    }
    const std::string native = nativePath();
    if (ChangeSeen(m_watch)) {
        readChange(notified, convert, std::move(done));
        return;
    }
    // A text read from its file when shown may have found the file changed under it: it is
    // read again at once.
    const bool stale = m_watch.AutoRefresh && m_text.document && m_text.document->stale();
    if (stale) {
        m_textDiffers = true;
        readChange(notified, convert, std::move(done));
        return;
    }
    // A long text is compared with the file a window at a time, on quiet looks too, until all
    // of it has been compared since it last changed.
    if (m_text.check.unchecked <= 0 || notified || !m_watch.AutoRefresh || m_text.kind != UnicodeKind::SingleByte ||
        AgeStamp(native) == -1 || IsFileLocked(native)) {
        done({Why::Unchanged, {}});
        return;
    }
    const DocumentPtr held = m_text.document;
    struct Compared {
        bool same;
        TextCheck check;
    };
    run<Compared>("verify", 0,
                  [native, held, check = m_text.check](std::atomic<std::int64_t>&, const std::atomic<bool>*) {
                      Compared compared{true, check};
                      compared.same = TextStillInFile(native, *held, compared.check);
                      return compared;
                  },
                  [this, held, notified, convert, done](Compared* compared, const QString&) {
                      if (!compared || held != m_text.document) {
                          done({Why::Unchanged, {}}); // compared again at the next look
                          return;
                      }
                      m_text.check = compared->check;
                      if (compared->same) {
                          done({Why::Unchanged, {}});
                          return;
                      }
                      m_textDiffers = true;
                      readChange(notified, convert, done);
                  });
}

void LogSource::readChange(bool notified, bool convert, Done done)
{
    emit changeWaiting(true);
    if (!m_watch.AutoRefresh) {
        done({Why::Unchanged, {}});
        return;
    }
    const std::string native = nativePath();
    if (AgeStamp(native) == -1) {
        // Gone (deleted, or moved away and not yet back): said at every look until it is back.
        done({Why::Missing, {}});
        return;
    }
    if (IsFileLocked(native)) {
        // The next look sees the same difference and tries again.
        done({Why::Locked, {}});
        return;
    }
    emit changeWaiting(false);
    const HeldText held = m_text;
    const bool differs = m_textDiffers;
    const bool compare = !notified || differs;
    struct Read {
        HeldText text;
        bool whole = false;
    };
    // Counted in the file's bytes: a compressed file's (whose text is larger) are all counted,
    // as one may be decoded again whole.
    const std::int64_t fileSize = FileSizeOf(native);
    const std::int64_t total =
        held.document->compressed() ? fileSize : fileSize - std::min(held.document->fileBytes(), fileSize);
    run<Read>("follow", total,
              [native, held, convert, compare, differs](std::atomic<std::int64_t>& bytes,
                                                        const std::atomic<bool>* stop) {
                  Read read;
                  read.text = FollowText(native, held, convert, compare, differs, read.whole, bytes, stop);
                  return read;
              },
              [this, done](Read* read, const QString& failure) {
                  if (!read) {
                      emit changeWaiting(true);
                      done({Why::Failed, failure});
                      return;
                  }
                  m_text = std::move(read->text);
                  m_textDiffers = false;
                  StoreSampled(m_watch);
                  const Why why = read->whole ? Why::Rewritten : Why::Appended;
                  emit documentChanged(why);
                  done({why, {}});
              });
}

void LogSource::watchFile(bool on)
{
    QStringList wanted;
    if (on && !m_path.isEmpty()) {
        // The folder too: a log that is rotated or made anew is seen as soon as it is back.
        const QFileInfo file(m_path);
        wanted << file.absolutePath();
        if (file.exists())
            wanted << file.absoluteFilePath();
    }
    // An empty list lets go; the watcher lets go by itself when the source is destroyed.
    SharedFileWatcher::instance().watch(this, wanted, [this] { emit changeNotified(); });
}

} // namespace tlg
