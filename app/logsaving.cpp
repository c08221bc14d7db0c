#include "app/logsaving.h"

#include "core/messages.h"
#include "document/savetext.h"
#include "source/log.h"
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

void LogSaving::saveAs(Log* log)
{
    if (m_saver->busy()) {
        m_say(QStringLiteral("A save is under way"));
        return;
    }
    const std::optional<Log::Saving> what = log ? log->saving() : std::nullopt;
    if (!what) {
        m_say(QStringLiteral("No log to save"));
        return;
    }
    if (m_dialog && m_dialog->isVisible()) {
        m_dialog->raise();
        return;
    }
    QFileDialog* asked = dialog();
    if (!what->suggestedFolder.isEmpty())
        asked->setDirectory(what->suggestedFolder);
    asked->selectFile(what->suggestedName);
    QPointer<Log> from = log;
    connect(asked, &QDialog::finished, this, guarded(m_window, [this, asked, from] {
        if (asked->result() != QDialog::Accepted || asked->selectedFiles().isEmpty())
            return;
        // What it gives to save as it is now, which may have grown since the dialog came up.
        const std::optional<Log::Saving> now = from ? from->saving() : std::nullopt;
        if (!now) {
            m_say(QStringLiteral("The log was closed before it was saved"));
            return;
        }
        const QString path = asked->selectedFiles().first();
        m_say(QStringLiteral("Saving ") + path);
        if (now->text)
            m_saver->save(now->text, path);
        else
            m_saver->save(now->bytes, now->size, path);
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
