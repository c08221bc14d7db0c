#include "app/logsaving.h"

#include "core/messages.h"
#include "document/savetext.h"
#include "source/logsource.h"
#include "source/pipetext.h"
#include "source/textsaver.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>

namespace tlg {

LogSaving::LogSaving(QWidget* window, std::function<void(const QString&)> say)
    : QObject(window), m_window(window), m_say(std::move(say)), m_saver(new TextSaver(this))
{
    connect(m_saver, &TextSaver::progress, this, [this](int percent) { showProgress(percent); });
    connect(m_saver, &TextSaver::finished, this,
            [this](const QString& path, const QString& failure, bool cancelled) { showEnd(path, failure, cancelled); });
}

bool LogSaving::busy() const
{
    return m_saver->busy() || (m_dialog && m_dialog->isVisible());
}

QFileDialog* LogSaving::dialog()
{
    if (!m_dialog) {
        m_dialog = new QFileDialog(m_window, QStringLiteral("Save As"));
        m_dialog->setObjectName(QStringLiteral("SaveAsDialog"));
        m_dialog->setAcceptMode(QFileDialog::AcceptSave);
        m_dialog->setFileMode(QFileDialog::AnyFile);
        m_dialog->setNameFilters({QStringLiteral("All files (*)"), QStringLiteral("Log files (*.log *.txt)")});
    }
    return m_dialog;
}

void LogSaving::saveAs(LogSource* source)
{
    if (m_saver->busy()) {
        m_say(QStringLiteral("A save is under way"));
        return;
    }
    if (!source || (source->path().isEmpty() && !source->isPipe())) {
        m_say(QStringLiteral("No log to save"));
        return;
    }
    if (m_dialog && m_dialog->isVisible()) {
        m_dialog->raise();
        return;
    }
    QFileDialog* asked = dialog();
    if (source->isPipe()) {
        asked->selectFile(QStringLiteral("stdin.log"));
    } else {
        const QFileInfo shown(source->path());
        asked->setDirectory(shown.absolutePath());
        asked->selectFile(shown.fileName());
    }
    QPointer<LogSource> from = source;
    connect(asked, &QDialog::finished, this, guarded(m_window, [this, asked, from] {
        if (asked->result() != QDialog::Accepted || asked->selectedFiles().isEmpty())
            return;
        if (!from) {
            m_say(QStringLiteral("The log was closed before it was saved"));
            return;
        }
        const QString path = asked->selectedFiles().first();
        m_say(QStringLiteral("Saving ") + path);
        const PipeSpool* spool = from->pipeSpool();
        if (!spool) {
            m_saver->save(from->document(), path);
            return;
        }
        // A pipe's bytes as it gave them, as far as they came by now (its text may show them
        // converted).
        auto reader = std::make_shared<FileHandle>(spool->reader());
        const std::int64_t size = spool->bytes();
        m_saver->save([reader, size](const std::string& native, std::atomic<std::int64_t>* done,
                                     const std::atomic<bool>* stop) {
            SaveFileBytes(reader->fd(), size, kStandardInputName, native, done, stop);
        }, size, path);
    }), Qt::SingleShotConnection);
    asked->open();
}

void LogSaving::showProgress(int percent)
{
    if (percent < 0) {
        if (m_progress)
            m_progress->deleteLater();
        m_progress = nullptr;
        return;
    }
    if (!m_progress) {
        m_progress = new QProgressDialog(QStringLiteral("Saving..."), QStringLiteral("Stop"), 0, 100, m_window);
        m_progress->setObjectName(QStringLiteral("SaveProgress"));
        // Not modal: a modal progress window would run events inside setValue.
        m_progress->setWindowModality(Qt::NonModal);
        m_progress->setAutoClose(false);
        m_progress->setAutoReset(false);
        m_progress->setMinimumDuration(0);
        connect(m_progress, &QProgressDialog::canceled, m_saver, &TextSaver::cancel);
        m_progress->show();
    }
    m_progress->setValue(percent);
}

void LogSaving::showEnd(const QString& path, const QString& failure, bool cancelled)
{
    if (m_progress)
        m_progress->deleteLater();
    m_progress = nullptr;
    if (cancelled) {
        m_say(QStringLiteral("Save stopped: %1 is as it was").arg(path));
        return;
    }
    if (!failure.isEmpty()) {
        m_say(failure);
        showError(m_window, failure);
        return;
    }
    m_say(QStringLiteral("Saved ") + path);
    emit saved(path);
}

} // namespace tlg
