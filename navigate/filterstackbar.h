#pragma once

// The "Filters" bar above a log's view (FilterStack): a row a pattern, each with its kind
// ("Show only" or "Hide"), "Regex", "Match case", an on/off box and a remove button, and why its
// pattern is invalid beside it; "Add", "Errors only" and "Errors and infos" above them, with the
// count of lines shown and the progress of a pass. Typing changes the rows after a short
// pause; a box or a kind at once.

#include "navigate/filterstackrunner.h"

#include <QWidget>

#include <vector>

class QLabel;
class QProgressBar;
class QTimer;
class QVBoxLayout;

namespace tlg {

class FilterStackBar : public QWidget {
    Q_OBJECT

public:
    explicit FilterStackBar(QWidget* parent = nullptr);

    std::vector<StackRow> rows() const;
    // Shows these rows (no rowsChanged).
    void setRows(const std::vector<StackRow>& rows);
    // A row added at the end, shown at once (rowsChanged follows).
    void addRow(const StackRow& row);
    void setRowError(std::size_t row, const QString& error);
    void setCount(const QString& text);
    // Percent of a pass done; -1 hides it.
    void setProgress(int percent);

signals:
    void rowsChanged();
    // "Errors only" (false) or "Errors and infos" (true) was pressed.
    void levelRowRequested(bool withInfos);

private:
    void addRowWidgets(const StackRow& row);
    void removeRow(QWidget* rowWidget);
    void changed(bool typed);

    QVBoxLayout* m_rowsLayout = nullptr;
    std::vector<QWidget*> m_rowWidgets;
    QLabel* m_count = nullptr;          // FilterStackCount
    QProgressBar* m_progress = nullptr; // FilterStackProgress
    QTimer* m_typing = nullptr;
};

} // namespace tlg
