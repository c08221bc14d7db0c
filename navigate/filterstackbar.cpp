#include "navigate/filterstackbar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace tlg {

namespace {

constexpr int kTypingPauseMs = 300;

QCheckBox* box(QWidget* parent, const char* name, const QString& text, bool on)
{
    auto* made = new QCheckBox(text, parent);
    made->setObjectName(QLatin1String(name));
    made->setChecked(on);
    return made;
}

} // namespace

FilterStackBar::FilterStackBar(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("FilterStack"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 1, 2, 1);
    column->setSpacing(1);
    auto* header = new QHBoxLayout();
    header->setSpacing(6);
    header->addWidget(new QLabel(QStringLiteral("Filters"), this));
    const auto button = [this, header](const char* name, const QString& text) {
        auto* made = new QToolButton(this);
        made->setObjectName(QLatin1String(name));
        made->setText(text);
        made->setAutoRaise(true);
        header->addWidget(made);
        return made;
    };
    connect(button("FilterStackAdd", QStringLiteral("Add")), &QToolButton::clicked, this, [this] {
        addRowWidgets({});
        // An empty row matches nothing: nothing changes until a pattern is typed.
    });
    connect(button("FilterStackErrors", QStringLiteral("Errors only")), &QToolButton::clicked, this,
            [this] { emit levelRowRequested(false); });
    connect(button("FilterStackErrorsInfos", QStringLiteral("Errors and infos")), &QToolButton::clicked, this,
            [this] { emit levelRowRequested(true); });
    header->addStretch(1);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("FilterStackProgress"));
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(120);
    m_progress->setMaximumHeight(14);
    m_progress->hide();
    header->addWidget(m_progress);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("FilterStackCount"));
    header->addWidget(m_count);
    column->addLayout(header);
    m_rowsLayout = new QVBoxLayout();
    m_rowsLayout->setSpacing(1);
    column->addLayout(m_rowsLayout);

    m_typing = new QTimer(this);
    m_typing->setSingleShot(true);
    m_typing->setInterval(kTypingPauseMs);
    connect(m_typing, &QTimer::timeout, this, &FilterStackBar::rowsChanged);
}

void FilterStackBar::addRowWidgets(const StackRow& row)
{
    auto* line = new QWidget(this);
    line->setObjectName(QStringLiteral("FilterRow"));
    auto* layout = new QHBoxLayout(line);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    QCheckBox* on = box(line, "FilterRowOn", QString(), row.on);
    on->setToolTip(QStringLiteral("Apply this row"));
    auto* kind = new QComboBox(line);
    kind->setObjectName(QStringLiteral("FilterRowKind"));
    kind->addItems({QStringLiteral("Show only"), QStringLiteral("Hide")});
    kind->setCurrentIndex(row.kind == FilterRow::ShowOnly ? 0 : 1);
    auto* pattern = new QLineEdit(row.pattern, line);
    pattern->setObjectName(QStringLiteral("FilterRowPattern"));
    pattern->setPlaceholderText(QStringLiteral("Pattern"));
    QCheckBox* regex = box(line, "FilterRowRegex", QStringLiteral("Regex"), row.regex);
    QCheckBox* matchCase = box(line, "FilterRowCase", QStringLiteral("Match case"), row.matchCase);
    auto* error = new QLabel(line);
    error->setObjectName(QStringLiteral("FilterRowError"));
    error->setStyleSheet(QStringLiteral("color: #c00000"));
    error->setTextFormat(Qt::PlainText);
    auto* remove = new QToolButton(line);
    remove->setObjectName(QStringLiteral("FilterRowRemove"));
    remove->setText(QStringLiteral("\u00D7"));
    remove->setToolTip(QStringLiteral("Remove this row"));
    remove->setAutoRaise(true);
    layout->addWidget(on);
    layout->addWidget(kind);
    layout->addWidget(pattern, 1);
    layout->addWidget(regex);
    layout->addWidget(matchCase);
    layout->addWidget(error);
    layout->addWidget(remove);
    m_rowsLayout->addWidget(line);
    m_rowWidgets.push_back(line);

    connect(pattern, &QLineEdit::textEdited, this, [this] { changed(true); });
    for (QCheckBox* switched : {on, regex, matchCase})
        connect(switched, &QCheckBox::clicked, this, [this] { changed(false); });
    connect(kind, &QComboBox::activated, this, [this] { changed(false); });
    connect(remove, &QToolButton::clicked, this, [this, line] { removeRow(line); });
    if (row.pattern.isEmpty())
        pattern->setFocus();
}

std::vector<StackRow> FilterStackBar::rows() const
{
    std::vector<StackRow> rows;
    for (const QWidget* line : m_rowWidgets) {
        StackRow row;
        row.pattern = line->findChild<QLineEdit*>(QStringLiteral("FilterRowPattern"))->text();
        row.regex = line->findChild<QCheckBox*>(QStringLiteral("FilterRowRegex"))->isChecked();
        row.matchCase = line->findChild<QCheckBox*>(QStringLiteral("FilterRowCase"))->isChecked();
        row.on = line->findChild<QCheckBox*>(QStringLiteral("FilterRowOn"))->isChecked();
        row.kind = line->findChild<QComboBox*>(QStringLiteral("FilterRowKind"))->currentIndex() == 0 ? FilterRow::ShowOnly
                                                                                                   : FilterRow::Hide;
        rows.push_back(std::move(row));
    }
    return rows;
}

void FilterStackBar::setRows(const std::vector<StackRow>& rows)
{
    for (QWidget* line : m_rowWidgets)
        delete line;
    m_rowWidgets.clear();
    for (const StackRow& row : rows)
        addRowWidgets(row);
}

void FilterStackBar::addRow(const StackRow& row)
{
    addRowWidgets(row);
    changed(false);
}

void FilterStackBar::removeRow(QWidget* rowWidget)
{
    m_rowWidgets.erase(std::remove(m_rowWidgets.begin(), m_rowWidgets.end(), rowWidget), m_rowWidgets.end());
    rowWidget->deleteLater();
    changed(false);
}

void FilterStackBar::changed(bool typed)
{
    if (typed) {
        m_typing->start();
        return;
    }
    m_typing->stop();
    emit rowsChanged();
}

void FilterStackBar::setRowError(std::size_t row, const QString& error)
{
    if (row >= m_rowWidgets.size())
        return;
    auto* label = m_rowWidgets[row]->findChild<QLabel*>(QStringLiteral("FilterRowError"));
    label->setText(error);
    label->setToolTip(error);
}

void FilterStackBar::setCount(const QString& text)
{
    m_count->setText(text);
}

void FilterStackBar::setProgress(int percent)
{
    m_progress->setVisible(percent >= 0);
    if (percent >= 0)
        m_progress->setValue(percent);
}

} // namespace tlg
