#pragma once

// The window's switches that drive the log in sight: Auto refresh (ToolButton17 and
// CheckBox5), Goto Bottom (ToolButton14 and CheckBox3), word wrap (CheckBox1) and "View
// Unicode" (ToolButton16). The tab in sight is bound to them: they show its switches and their
// clicks change them; a tab out of sight keeps its own. The interval (TrackBar1) and "Follow
// changes instantly" are every tab's alike.

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

class QAbstractButton;
class QSlider;
class QWidget;

namespace tlg {

class LogTab;

struct SwitchControls {
    QAbstractButton* autoRefreshButton = nullptr; // ToolButton17
    QAbstractButton* autoRefreshBox = nullptr;    // CheckBox5
    QAbstractButton* gotoBottomButton = nullptr;  // ToolButton14
    QAbstractButton* scrollToBottomBox = nullptr; // CheckBox3
    QAbstractButton* unicodeButton = nullptr;     // ToolButton16
    QAbstractButton* wordWrapBox = nullptr;       // CheckBox1
};

class SwitchBinding : public QObject {
    Q_OBJECT

public:
    // `window` parents the error box of a handler that fails.
    SwitchBinding(QWidget* window, const SwitchControls& controls, QObject* parent);

    // The controls show `tab`'s switches from now on and drive them (null: none).
    void bind(LogTab* tab);
    // Shows the bound tab's switches again (one changed by itself).
    void showSwitches();

private:
    QWidget* m_window;
    SwitchControls m_controls;
    QPointer<LogTab> m_tab;
    QList<QMetaObject::Connection> m_bindings;
};

} // namespace tlg
