#include "format/colouring.h"

#include "format/formateditor.h"

#include <QAbstractButton>

namespace tlg {

Colouring::Colouring(QAbstractButton* showErrorsButton, QAbstractButton* showInfoButton,
                     QAbstractButton* colourBox, QObject* parent)
    : QObject(parent),
      m_showErrorsButton(showErrorsButton),
      m_showInfoButton(showInfoButton),
      m_colourBox(colourBox)
{
    connect(m_colourBox, &QAbstractButton::clicked, this, [this] {
        setGatesFromColourBox();
        emit rulesChanged();
    });
    for (QAbstractButton* gate : {m_showErrorsButton, m_showInfoButton})
        connect(gate, &QAbstractButton::clicked, this, &Colouring::rulesChanged);
}

bool Colouring::colouringOn() const
{
    return m_colourBox->isChecked();
}

std::shared_ptr<const ColourRules> Colouring::rules() const
{
    auto rules = std::make_shared<ColourRules>();
    if (m_editor) {
        rules->infoLabels = m_editor->infoLabels();
        rules->errorLabels = m_editor->errorLabels();
    }
    rules->showInfo = m_showInfoButton->isChecked();
    rules->showErrors = m_showErrorsButton->isChecked();
    return rules;
}

void Colouring::setGatesFromColourBox()
{
    const bool on = m_colourBox->isChecked();
    m_showErrorsButton->setEnabled(on);
    m_showInfoButton->setEnabled(on);
    if (on) {
        m_showErrorsButton->setChecked(true);
        m_showInfoButton->setChecked(true);
    }
}

} // namespace tlg
