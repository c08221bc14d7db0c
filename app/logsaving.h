#pragma once

// File > "Save As...": asks where to save the log in sight (a window-modal dialog, answered
// when it closes, so the window goes on meanwhile), then writes its text there beside the GUI
// thread. A write that takes longer than half a second shows its progress in a window that can
// stop it; a failure is said in the standard error box.

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QFileDialog;
class QProgressDialog;
class QWidget;

namespace tlg {

class Log;
class TextSaver;

class LogSaving : public QObject {
    Q_OBJECT

public:
    // window parents the dialogs and the error box; say puts a text in the status bar.
    LogSaving(QWidget* window, std::function<void(const QString&)> say);

    // Asks for a file name and saves what the log gives to save once the name is given: the
    // text as it is shown, or the bytes a pipe gave so far, as it gave them. Nothing to save,
    // or a save under way, is said in the status bar.
    void saveAs(Log* log);
    bool busy() const;

signals:
    // The text was written to path, whole.
    void saved(const QString& path);

private:
    QFileDialog* dialog();
    void showProgress(int percent);
    void showEnd(const QString& path, const QString& failure, bool cancelled);

    QWidget* m_window;
    std::function<void(const QString&)> m_say;
    QPointer<QFileDialog> m_dialog; // SaveAsDialog
    TextSaver* m_saver;
    QPointer<QProgressDialog> m_progress; // SaveProgress
};

} // namespace tlg
