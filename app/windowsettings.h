#pragma once

// What the window keeps between runs beside the logs: its size and place and the splitter's,
// in $XDG_CONFIG_HOME/tlgview/window, and the reader's preferences (font size, word wrap,
// Goto Bottom, the panels shown, the filter pane's pattern, reopening the last session), in
// Preferences.TLG in the settings folder. Both are written at the close and set again at start.

class QMainWindow;

namespace tlg {

class FilterPane;
class LogTab;
class NavigationCommands;
class WindowControls;

class WindowSettings {
public:
    // The window and its controls must outlive the settings.
    WindowSettings(QMainWindow* window, WindowControls& controls);

    // The window centred on the primary screen, then at the size and place kept (nothing kept
    // or nothing usable: the built-in ones), made to fit the available area of its screen,
    // frame included.
    void restoreGeometry();
    // Throws Failure when the file cannot be written.
    void saveGeometry() const;

    // Sets the kept preferences on the controls, the log in sight (`log`, `filterPane`) and
    // the font's size; none kept yet: the defaults stay.
    void restorePreferences(LogTab& log, FilterPane& filterPane, NavigationCommands& navigation);
    // Throws Failure when the file cannot be written.
    void savePreferences(const FilterPane& filterPane, int fontSize) const;

private:
    void fitOnScreen();

    QMainWindow* m_window;
    WindowControls& m_controls;
};

} // namespace tlg
