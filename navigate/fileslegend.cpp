#include "navigate/fileslegend.h"

#include "view/logview.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

namespace tlg {

FilesLegend::FilesLegend(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Files"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 4, 2);
    row->addWidget(new QLabel(QStringLiteral("Files:"), this));
    row->addStretch(1);
    hide();
}

void FilesLegend::setFiles(const QStringList& paths)
{
    for (QCheckBox* box : m_boxes)
        delete box;
    m_boxes.clear();
    auto* row = static_cast<QHBoxLayout*>(layout());
    for (int file = 0; file < paths.size(); ++file) {
        auto* box = new QCheckBox(QFileInfo(paths[file]).fileName(), this);
        box->setObjectName(QStringLiteral("File%1").arg(file + 1));
        box->setToolTip(paths[file] + QStringLiteral("\nClear to hide this file's lines"));
        box->setChecked(true);
        QPixmap swatch(12, 12);
        swatch.fill(LogView::fileColour(static_cast<std::size_t>(file)));
        box->setIcon(QIcon(swatch));
        connect(box, &QCheckBox::toggled, this, [this, file](bool on) { emit shownChanged(file, on); });
        row->insertWidget(row->count() - 1, box);
        m_boxes.push_back(box);
    }
    setVisible(paths.size() > 1);
}

QCheckBox* FilesLegend::box(int file) const
{
    return file >= 0 && file < static_cast<int>(m_boxes.size()) ? m_boxes[static_cast<std::size_t>(file)] : nullptr;
}

} // namespace tlg
