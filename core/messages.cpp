#include "core/messages.h"

#include <QCheckBox>
#include <QWidget>

namespace tlg {

namespace {

MessageHook& hook()
{
    static MessageHook installed;
    return installed;
}

} // namespace

void setMessageHook(MessageHook newHook)
{
    hook() = std::move(newHook);
}

QMessageBox::StandardButton showMessage(QWidget* parent, const MessageRequest& request)
{
    if (hook())
        return hook()(request);
    QMessageBox box(request.icon, request.caption, request.text, request.buttons, parent);
    if (!request.checkBox.isEmpty())
        box.setCheckBox(new QCheckBox(request.checkBox, &box));
    const auto answer = static_cast<QMessageBox::StandardButton>(box.exec());
    if (request.ticked && box.checkBox())
        *request.ticked = box.checkBox()->isChecked();
    return answer;
}

void showError(QWidget* parent, const QString& text)
{
    showMessage(parent, {text, QStringLiteral("Log Viewer"), QMessageBox::Ok, QMessageBox::Critical});
}

} // namespace tlg
