#include "app/switchbinding.h"

#include "app/logtab.h"
#include "core/messages.h"

#include <QAbstractButton>

namespace tlg {

SwitchBinding::SwitchBinding(QWidget* window, const SwitchControls& controls, QObject* parent)
    : QObject(parent), m_window(window), m_controls(controls)
{
}

void SwitchBinding::bind(LogTab* tab)
{
    for (const QMetaObject::Connection& binding : std::as_const(m_bindings))
        disconnect(binding);
    m_bindings.clear();
    m_tab = tab;
    if (!tab)
        return;
    const auto onClick = [this](QAbstractButton* button, auto handler) {
        if (button)
            m_bindings << connect(button, &QAbstractButton::clicked, this, guarded(m_window, handler));
    };
    // ToolButton17Click, CheckBox5Click, ToolButton14Click, CheckBox3Click, CheckBox1Click.
    onClick(m_controls.autoRefreshButton, [this] { m_tab->setAutoRefresh(m_controls.autoRefreshButton->isChecked(), true); showSwitches(); });
    onClick(m_controls.autoRefreshBox, [this] { m_tab->setAutoRefresh(m_controls.autoRefreshBox->isChecked(), false); showSwitches(); });
    onClick(m_controls.gotoBottomButton, [this] { m_tab->setGotoBottom(m_controls.gotoBottomButton->isChecked(), true); showSwitches(); });
    onClick(m_controls.scrollToBottomBox, [this] { m_tab->setGotoBottom(m_controls.scrollToBottomBox->isChecked(), false); showSwitches(); });
    onClick(m_controls.wordWrapBox, [this] { m_tab->setWordWrap(m_controls.wordWrapBox->isChecked()); });
    if (m_controls.unicodeButton) {
        // Set by hand or by a click: either way the next read converts, or does not.
        m_bindings << connect(m_controls.unicodeButton, &QAbstractButton::toggled, this, [this](bool on) {
            if (m_tab)
                m_tab->setConvertUnicode(on);
        });
    }
    m_bindings << connect(tab, &LogTab::switchesChanged, this, &SwitchBinding::showSwitches);
    showSwitches();
}

void SwitchBinding::showSwitches()
{
    if (!m_tab)
        return;
    const TabSwitches& switches = m_tab->switches();
    const auto show = [](QAbstractButton* button, bool down) {
        if (button)
            button->setChecked(down);
    };
    show(m_controls.autoRefreshButton, switches.autoRefreshButton);
    show(m_controls.autoRefreshBox, switches.autoRefresh);
    show(m_controls.gotoBottomButton, switches.gotoBottom);
    show(m_controls.scrollToBottomBox, switches.gotoBottom);
    show(m_controls.wordWrapBox, switches.wordWrap);
    show(m_controls.unicodeButton, switches.convertUnicode);
}

} // namespace tlg
