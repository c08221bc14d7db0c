#pragma once

// The format editor window: the tree of groups and profiles of the format file and the two
// label columns that colour the log. It is created at start-up and lives for the whole run;
// showing and closing it only changes its visibility. It holds the format file's lines, the
// master copy that the tree and the columns show and that Save writes back.

#include "format/formatfile.h"

#include <QFrame>
#include <QWidget>

#include <array>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace tlg {


// A column of eleven label cells (a string grid of one column). The cells hold bytes; the
// editors show them decoded from Windows-1252.
class LabelColumn : public QFrame {
    Q_OBJECT

public:
    explicit LabelColumn(QWidget* parent);
    static constexpr int kCells = 11;

    const std::string& cell(int row) const { return m_cells[static_cast<std::size_t>(row)]; }
    void setCell(int row, const std::string& bytes);
    QLineEdit* editor(int row) const { return m_editors[static_cast<std::size_t>(row)]; }
    // Whether the reader typed in the cell since it was last set.
    bool edited(int row) const { return m_edited[static_cast<std::size_t>(row)]; }
    LabelRow cells() const { return m_cells; }

private:
    LabelRow m_cells;
    std::array<QLineEdit*, kCells> m_editors{};
    std::array<bool, kCells> m_edited{};
};

class FormatEditor : public QWidget {
    Q_OBJECT

public:
    explicit FormatEditor(QWidget* mainWindow);

    // Reads the format file into the lines, rebuilds the tree with the "Default" profile
    // selected, and fills the columns from the last exact "[[Default]]". Throws Failure
    // ("Cannot open file <path>") when the file cannot be read; the tree and columns then stay
    // as they were. A file that is refused unread (ReadSettingsFile: no regular file, or too
    // large) is named in the error box and the built-in profiles are used; Save then fails
    // rather than overwrite it. With `writeFailed` (start-up could not write the file's
    // defaults, and said so) a file that cannot be read gives the built-in profiles without a
    // word more.
    void LoadFormatProfiles(bool writeFailed = false);

    // The built-in default text, written when the format file is missing.
    static std::string defaultText() { return DefaultFormatText(); }

    // Labels 1 to 10 of the columns: what colouring reads.
    std::array<std::string, 10> errorLabels() const;
    std::array<std::string, 10> infoLabels() const;

    const std::vector<std::string>& lines() const { return m_lines; }
    const std::string& currentProfileName() const { return m_currentProfileName; }
    int currentProfileLine() const { return m_currentProfileLine; }

public slots:
    // TreeView1Click: after a click in the tree, the selected profile's rows fill the columns,
    // or a node that names no profile empties them.
    void showSelectedProfile();
    // Button4Click: Save writes the current profile's two rows from the columns, then the whole
    // file. A row the profile lacks is inserted after its header (and its other row); nothing
    // else moves. A profile on any line, the first included, is saved. A file that cannot be
    // written is reported and keeps its old content.
    void saveProfile();

signals:
    // The window was closed, by its close box or its Close button.
    void closed();
    // Apply Now (Button1) was pressed: the open log is to be reloaded and coloured with these
    // labels.
    void applyNow();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillColumns(int headerLine, int cells);

    QWidget* m_mainWindow; // placed beside it
    std::vector<std::string> m_lines;           // Theinifile
    std::string m_currentProfileName = "Default";
    int m_currentProfileLine = -1;              // -1: no profile whose rows can be saved
    std::string m_refusedFile;                  // why the format file was not read, or empty

    QTreeWidget* m_tree = nullptr;              // TreeView1
    LabelColumn* m_errorColumn = nullptr;       // StringGrid1
    LabelColumn* m_infoColumn = nullptr;        // StringGrid2
    QLabel* m_lineSample = nullptr;             // LabelNormal
};

} // namespace tlg
