#pragma once

// The four panels of the status bar, as every subsystem writes them: 0 loading and watching,
// 1 formatting and conversion, 2 the caret line, 3 the clock.

#include <QLabel>
#include <QString>

#include <array>

namespace tlg {

class StatusPanels {
public:
    explicit StatusPanels(const std::array<QLabel*, 4>& panels) : m_panels(panels) {}

    void setText(int panel, const QString& text) { m_panels.at(static_cast<std::size_t>(panel))->setText(text); }
    QString text(int panel) const { return m_panels.at(static_cast<std::size_t>(panel))->text(); }

private:
    std::array<QLabel*, 4> m_panels;
};

} // namespace tlg
