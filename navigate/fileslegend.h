#pragma once

// The "Files" legend of a log made of several files: each file's colour (the one its lines
// show in the gutter) and name, with a box that hides its lines or shows them again.

#include <QStringList>
#include <QWidget>

#include <vector>

class QCheckBox;

namespace tlg {

class FilesLegend : public QWidget {
    Q_OBJECT

public:
    explicit FilesLegend(QWidget* parent = nullptr);

    // The files, in the order the log numbers them; the legend hides itself for fewer than two.
    void setFiles(const QStringList& paths);
    // The box of a file, for tests.
    QCheckBox* box(int file) const;

signals:
    void shownChanged(int file, bool shown);

private:
    std::vector<QCheckBox*> m_boxes;
};

} // namespace tlg
