#include "core/controls.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace tlg {

QCheckBox* makeCheckBox(QWidget* parent, const char* name, const QString& caption, bool checked)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    box->setChecked(checked);
    return box;
}

QFrame* makeCaptionBar(QWidget* parent, const char* name, const QString& caption,
                       const char* buttonName, QToolButton** button)
{
    const QColor captionBlue(0, 0, 255);
    auto* bar = new QFrame(parent);
    bar->setObjectName(QLatin1String(name));
    bar->setAutoFillBackground(true);
    QPalette colours = bar->palette();
    colours.setColor(QPalette::Window, captionBlue);
    colours.setColor(QPalette::WindowText, Qt::white);
    colours.setColor(QPalette::ButtonText, Qt::white);
    bar->setPalette(colours);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(6, 2, 2, 2);
    auto* label = new QLabel(caption, bar);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    layout->addWidget(label, 1);
    *button = new QToolButton(bar);
    (*button)->setObjectName(QLatin1String(buttonName));
    (*button)->setText(QStringLiteral("X"));
    (*button)->setFont(bold);
    (*button)->setAutoRaise(true);
    (*button)->setFixedSize(15, 17);
    layout->addWidget(*button, 0, Qt::AlignRight | Qt::AlignVCenter);
    return bar;
}

} // namespace tlg
