#include "source/textsaver.h"

#include "core/errors.h"
#include "document/savetext.h"

#include <QFile>
#include <QTimer>

#include <exception>

namespace tlg {

TextSaver::TextSaver(QObject* parent) : QObject(parent), m_queue(std::make_unique<SerialQueue>())
{
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(100);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { reportProgress(); });
}

TextSaver::~TextSaver()
{
    m_stop = true;
    m_queue.reset();
}

bool TextSaver::save(LinesPtr text, const QString& path)
{
    if (!text)
        return false;
    const std::int64_t total = text->size().value();
    return save([text](const std::string& native, std::atomic<std::int64_t>* done,
                       const std::atomic<bool>* stop) { SaveText(*text, native, done, stop); },
                total, path);
}

bool TextSaver::save(Write write, std::int64_t total, const QString& path)
{
    if (busy() || !write)
        return false;
    m_stop = false;
    m_done = 0;
    m_total = total;
    m_reported = false;
    m_sinceStart.start();
    m_progressTimer->start();
    m_busy = true;
    const std::string native = QFile::encodeName(path).toStdString();
    m_queue->post("save", Executor::Priority::User, [this, write = std::move(write), native, path] {
        QString failure;
        bool cancelled = false;
        try {
            write(native, &m_done, &m_stop);
        } catch (const ReadStopped&) {
            cancelled = true;
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        }
        // Heard on the executor; nothing arrives once the saver is gone.
        QMetaObject::invokeMethod(this, [this, path, failure, cancelled] { end(path, failure, cancelled); },
                                  Qt::QueuedConnection);
    });
    return true;
}

void TextSaver::cancel()
{
    m_stop = true;
}

void TextSaver::reportProgress()
{
    if (m_sinceStart.elapsed() < 500 || m_total <= 0)
        return;
    m_reported = true;
    emit progress(static_cast<int>(std::min(m_done.load(), m_total) * 100 / m_total));
}

void TextSaver::end(const QString& path, const QString& failure, bool cancelled)
{
    m_busy = false;
    m_progressTimer->stop();
    if (m_reported)
        emit progress(-1);
    emit finished(path, failure, cancelled);
}

} // namespace tlg
