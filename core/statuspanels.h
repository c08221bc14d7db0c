#pragma once

// The panels of the status bar, as every subsystem writes them: 0 loading and watching,
// 1 formatting and conversion, 2 the caret line, 3 the clock, and 4 how many lines a filtered
// log shows (a window without it passes no label for it).
//
// A set of panels keeps its texts. Made over labels it writes them at once; an open log keeps
// a set of its own, shown on the window's labels while the log is in sight and kept meanwhile
// while it is not, so that coming back to a log shows what was last said about it.

#include <QLabel>
#include <QString>

#include <array>

namespace tlg {

class StatusPanels {
public:
    using Labels = std::array<QLabel*, 5>;
    static constexpr int kClock = 3;

    StatusPanels() = default;
    explicit StatusPanels(const Labels& panels) : m_panels(panels) {}

    void setText(int panel, const QString& text)
    {
        const auto at = static_cast<std::size_t>(panel);
        m_texts.at(at) = text;
        if (QLabel* label = m_panels.at(at))
            label->setText(text);
    }
    QString text(int panel) const
    {
        const auto at = static_cast<std::size_t>(panel);
        const QLabel* label = m_panels.at(at);
        return label ? label->text() : m_texts.at(at);
    }

    // Shows the kept texts on labels and writes there from now on; the clock's panel belongs
    // to the window.
    void show(const Labels& panels)
    {
        for (std::size_t i = 0; i < m_panels.size(); ++i) {
            const bool mine = static_cast<int>(i) != kClock;
            m_panels[i] = mine ? panels[i] : nullptr;
            if (mine && panels[i])
                panels[i]->setText(m_texts[i]);
        }
    }
    // Keeps the texts from now on without showing them.
    void hide() { m_panels = {}; }

private:
    Labels m_panels{};
    std::array<QString, 5> m_texts;
};

} // namespace tlg
