#include "source/pipelog.h"

#include "core/errors.h"
#include "core/timetext.h"
#include "document/savetext.h"
#include "source/pipetext.h"

#include <QDateTime>

#include <utility>

namespace tlg {

PipeLog::PipeLog(FileHandle input, PipeSpool::Options options, QObject* parent)
    : OneTextLog(parent), m_input(std::move(input)), m_options(std::move(options)),
      m_operations(new LogOperations(this))
{
    m_text.document = LogDocument::empty();
    connect(m_operations, &LogOperations::progress, this, &Log::progress);
}

PipeLog::~PipeLog()
{
    // The spool tells nothing once stopped; then the queue ends the growth under way.
    if (m_spool)
        m_spool->stop();
    delete m_operations;
    m_operations = nullptr;
}

QString PipeLog::name() const
{
    return QString::fromLatin1(kStandardInputName);
}

LogAbilities PipeLog::abilities() const
{
    LogAbilities can;
    can.reload = can.chooseEncoding = can.save = true;
    return can;
}

void PipeLog::start()
{
    try {
        // Told on the spool's thread; the text grows on the executor, asked from here.
        m_spool = std::make_shared<PipeSpool>(
            std::move(m_input), [this] { QMetaObject::invokeMethod(this, [this] { grow(); }, Qt::QueuedConnection); },
            std::move(m_options));
    } catch (const Failure& failure) {
        LogChange failed;
        failed.status = QString::fromLocal8Bit(failure.what());
        failed.alert = *failed.status;
        emit changed(failed);
        emit opened(false);
        return;
    }
    LogChange change;
    change.why = LogChange::Why::Opened;
    change.status = QStringLiteral("Reading standard input");
    emit changed(change);
    emit opened(true);
}

void PipeLog::reload()
{
    // A pipe cannot be read again: what it gave is shown again, coloured as now.
    LogChange change;
    change.why = LogChange::Why::ReadAgain;
    emit changed(change);
    emit changeWaiting(false);
}

void PipeLog::chooseEncoding(const EncodingChoice& choice)
{
    m_encodingChoice = choice;
    if (!m_spool)
        return;
    m_fromStart = true;
    grow();
}

void PipeLog::grow()
{
    if (!m_spool)
        return;
    if (m_growing) {
        m_growAgain = true; // one growth after this one reads everything told meanwhile
        return;
    }
    m_growing = true;
    const std::shared_ptr<PipeSpool> spool = m_spool;
    HeldText held = m_text;
    if (std::exchange(m_fromStart, false))
        held.document = LogDocument::empty(); // detected and read again whole
    const EncodingChoice choice = m_encodingChoice;
    struct Grown {
        HeldText text;
        bool detected = false;
        bool ended = false;
    };
    // A flood is kept first and shown as the processor allows: the growth runs as work that
    // can wait, yielding to the intake (and to the GUI).
    m_operations->run<Grown>(
        "pipe", Executor::Priority::Background, 0,
        [spool, held, choice](std::atomic<std::int64_t>& bytes, const std::atomic<bool>* stop) {
            Grown grown;
            // Seen before the read, so that the read takes every byte the pipe gave.
            grown.ended = spool->state() != PipeSpool::State::Open;
            grown.text = GrowPipeText(*spool, held, choice, grown.detected, bytes, stop);
            return grown;
        },
        [this, spool](const Ended<Grown>& ended) {
            m_growing = false;
            if (ended.superseded)
                return;
            if (!ended.result) {
                LogChange failed;
                failed.status = ended.failure;
                emit changed(failed);
            } else {
                const bool changedText = ended.result->text.document != m_text.document;
                m_text = std::move(ended.result->text);
                if (changedText) {
                    timeText(m_text.document, QDateTime::currentMSecsSinceEpoch() * 1000000);
                    if (m_text.kind != UnicodeKind::SingleByte)
                        m_convertUnicode = true;
                    LogChange grew;
                    grew.why = ended.result->detected ? LogChange::Why::Opened : LogChange::Why::Grew;
                    grew.status = QStringLiteral("Last Update :") + dateTimeText();
                    grew.followed = true;
                    emit changed(grew);
                }
                if (ended.result->ended && !m_ended) {
                    m_ended = true;
                    const bool failed = spool->state() == PipeSpool::State::Failed;
                    const QString note = failed ? QString::fromLocal8Bit(spool->failure())
                                                : QStringLiteral("Standard input closed");
                    LogChange end;
                    end.status = note + QStringLiteral(" :") + dateTimeText();
                    if (failed)
                        end.alert = note;
                    emit changed(end);
                }
            }
            if (std::exchange(m_growAgain, false))
                grow();
        });
}

std::optional<Log::Saving> PipeLog::saving() const
{
    if (!m_spool)
        return std::nullopt;
    Saving saving;
    auto reader = std::make_shared<FileHandle>(m_spool->reader());
    saving.size = m_spool->bytes();
    saving.bytes = [reader, size = saving.size](const std::string& native, std::atomic<std::int64_t>* done,
                                                 const std::atomic<bool>* stop) {
        SaveFileBytes(reader->fd(), size, kStandardInputName, native, done, stop);
    };
    saving.suggestedName = QStringLiteral("stdin.log");
    return saving;
}

} // namespace tlg
