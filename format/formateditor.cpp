#include "format/formateditor.h"

#include <QCloseEvent>

namespace tlg {

FormatEditor::FormatEditor(QWidget* mainWindow) : QWidget(mainWindow, Qt::Tool)
{
    setObjectName(QStringLiteral("TForm2"));
    setWindowTitle(QStringLiteral("Options - Format Text "));
    setFixedSize(408, 258);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
}

void FormatEditor::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    emit closed();
}

} // namespace tlg
