#pragma once

// The program's message boxes, and the one error box that shows every failure no handler
// guards. Tests replace the boxes with a hook, so that nothing modal waits for a click.

#include <QMessageBox>
#include <QString>

#include <exception>
#include <functional>

class QWidget;

namespace tlg {

struct MessageRequest {
    QString text;
    QString caption;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    // A box under the text, unticked at first (none when empty); whether it was ticked goes to
    // *ticked.
    QString checkBox = {};
    bool* ticked = nullptr;
};

using MessageHook = std::function<QMessageBox::StandardButton(const MessageRequest&)>;

// Routes every message box to the hook instead of the screen; an empty hook restores the
// boxes. For tests.
void setMessageHook(MessageHook hook);

// Shows a modal message box and returns the button that closed it.
QMessageBox::StandardButton showMessage(QWidget* parent, const MessageRequest& request);

// The application's error box: shows the failure's own text and returns, so the program runs on.
void showError(QWidget* parent, const QString& text);

// Runs fn; a failure that escapes it goes to the error box.
template <typename Fn>
void runGuarded(QWidget* parent, Fn&& fn)
{
    try {
        fn();
    } catch (const std::exception& failure) {
        showError(parent, QString::fromLocal8Bit(failure.what()));
    }
}

// A slot that runs fn through runGuarded, for connecting signals to handlers.
template <typename Fn>
auto guarded(QWidget* parent, Fn fn)
{
    return [parent, fn]() { runGuarded(parent, fn); };
}

} // namespace tlg
