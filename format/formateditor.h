#pragma once

// The format editor window: the tree of groups and profiles and the two label columns. It is
// created at start-up and lives for the whole run; showing and closing it only changes its
// visibility.

#include <QWidget>

namespace tlg {

class FormatEditor : public QWidget {
    Q_OBJECT

public:
    explicit FormatEditor(QWidget* mainWindow);

signals:
    // The window was closed (by its close box or its Close button).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace tlg
