#include "format/formateditor.h"

#include "core/cp1252.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "search/colourrules.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tlg {

namespace {

// Labels longer than this are shown cut and cannot be edited in a cell; they are kept whole.
constexpr std::size_t kEditableLength = 1000;

QFont courier(bool bold)
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(11);
    font.setBold(bold);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRgb colour, bool bold)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setFont(courier(bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor::fromRgb(colour));
    label->setPalette(palette);
    label->adjustSize();
    return label;
}

QString decoded(const std::string& bytes)
{
    return QString::fromStdU16String(decodeCp1252(bytes));
}

} // namespace

LabelColumn::LabelColumn(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    column->setSpacing(1);
    for (int row = 0; row < kCells; ++row) {
        auto* editor = new QLineEdit(this);
        editor->setObjectName(QStringLiteral("Cell%1").arg(row));
        editor->setFixedSize(100, 16);
        editor->setFrame(false);
        editor->setMaxLength(static_cast<int>(kEditableLength));
        connect(editor, &QLineEdit::textEdited, this, [this, row](const QString& text) {
            m_cells[static_cast<std::size_t>(row)] = encodeCp1252(text.toStdU16String());
            m_edited[static_cast<std::size_t>(row)] = true;
        });
        m_editors[static_cast<std::size_t>(row)] = editor;
        column->addWidget(editor);
    }
    column->addStretch(1);
}

void LabelColumn::setCell(int row, const std::string& bytes)
{
    const auto index = static_cast<std::size_t>(row);
    m_cells[index] = bytes;
    m_edited[index] = false;
    QLineEdit* editor = m_editors[index];
    const bool editable = bytes.size() <= kEditableLength;
    editor->setText(decoded(editable ? bytes : bytes.substr(0, kEditableLength)));
    editor->setReadOnly(!editable);
    editor->setToolTip(editable ? QString() : tr("This label is too long to edit here"));
}

FormatEditor::FormatEditor(QWidget* mainWindow)
    : QWidget(mainWindow, Qt::Tool), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("TForm2"));
    setWindowTitle(QStringLiteral("Options - Format Text "));
    setFixedSize(408, 258);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    makeLabel(this, "LabelError", QStringLiteral("Error Labels"), kErrorRgb, true)->move(32, 8);
    makeLabel(this, "LabelInfo", QStringLiteral("Info Labels"), kInfoRgb, true)->move(152, 8);
    m_lineSample = makeLabel(this, "LabelNormal", QStringLiteral("Normal"), 0x000080, false);
    m_lineSample->hide();

    m_errorColumn = new LabelColumn(this);
    m_errorColumn->setObjectName(QStringLiteral("StringGrid1"));
    m_errorColumn->setGeometry(16, 24, 105, 193);
    m_infoColumn = new LabelColumn(this);
    m_infoColumn->setObjectName(QStringLiteral("StringGrid2"));
    m_infoColumn->setGeometry(144, 24, 105, 193);

    m_tree = new QTreeWidget(this);
    m_tree->setObjectName(QStringLiteral("TreeView1"));
    m_tree->setGeometry(408 - 121, 0, 121, 258);
    m_tree->setHeaderHidden(true);
    m_tree->setIndentation(19);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setMouseTracking(true); // hot tracking
    m_tree->viewport()->installEventFilter(this);

    const struct {
        const char* name;
        const char* caption;
        int left;
        void (FormatEditor::*handler)();
    } buttons[] = {{"Button4", "Save", 8, &FormatEditor::saveProfile},
                   // Apply Now only asks the window to apply the columns (applyNow).
                   {"Button1", "Apply Now", 96, &FormatEditor::applyNow},
                   {"Button2", "Close", 184, nullptr}};
    for (const auto& b : buttons) {
        auto* button = new QPushButton(QString::fromLatin1(b.caption), this);
        button->setObjectName(QLatin1String(b.name));
        button->setGeometry(b.left, 232, 81, 17);
        if (b.handler)
            connect(button, &QPushButton::clicked, this, guarded(this, [this, h = b.handler] { (this->*h)(); }));
        else
            connect(button, &QPushButton::clicked, this, &QWidget::close);
    }
}

std::array<std::string, 10> FormatEditor::errorLabels() const
{
    std::array<std::string, 10> labels;
    for (int row = 0; row < 10; ++row)
        labels[static_cast<std::size_t>(row)] = m_errorColumn->cell(row);
    return labels;
}

std::array<std::string, 10> FormatEditor::infoLabels() const
{
    std::array<std::string, 10> labels;
    for (int row = 0; row < 10; ++row)
        labels[static_cast<std::size_t>(row)] = m_infoColumn->cell(row);
    return labels;
}

void FormatEditor::fillColumns(int headerLine, int cells)
{
    // A row the profile lacks is empty: the line there belongs to the next header.
    const int rows = LabelRowCount(m_lines, headerLine);
    const LabelRow errors = LabelsOf(rows >= 1 ? LineAt(m_lines, headerLine + 1LL) : std::string_view());
    const LabelRow infos = LabelsOf(rows >= 2 ? LineAt(m_lines, headerLine + 2LL) : std::string_view());
    for (int row = 0; row < cells; ++row) {
        m_errorColumn->setCell(row, errors[static_cast<std::size_t>(row)]);
        m_infoColumn->setCell(row, infos[static_cast<std::size_t>(row)]);
    }
}

void FormatEditor::LoadFormatProfiles(bool writeFailed)
{
    const std::string path = SettingsFileToRead(kFormatFileName);
    try {
        m_lines = SplitLines(ReadSettingsFile(path));
        m_refusedFile.clear();
    } catch (const SettingsFileRefused& refused) {
        // Told once; the built-in profiles stand in, and Save leaves that file alone.
        m_refusedFile = refused.what();
        m_lines = SplitLines(DefaultFormatText());
        if (!writeFailed)
            showError(this, QString::fromLocal8Bit(refused.what()));
    } catch (const Failure&) {
        if (!writeFailed)
            throw;
        // Its defaults could not be written, which was said: the built-in profiles stand in.
        m_lines = SplitLines(DefaultFormatText());
        m_refusedFile.clear();
    }

    m_tree->clear();
    const FormatTree tree = BuildFormatTree(m_lines);
    QTreeWidgetItem* selected = nullptr;
    for (std::size_t g = 0; g < tree.groups.size(); ++g) {
        const FormatGroup& group = tree.groups[g];
        QTreeWidgetItem* groupItem = nullptr;
        if (group.hasHeader) {
            groupItem = new QTreeWidgetItem(m_tree, {decoded(group.name)});
        }
        for (std::size_t p = 0; p < group.profiles.size(); ++p) {
            const QStringList text{decoded(group.profiles[p].name)};
            auto* item = groupItem ? new QTreeWidgetItem(groupItem, text) : new QTreeWidgetItem(m_tree, text);
            if (static_cast<int>(g) == tree.selectedGroup && static_cast<int>(p) == tree.selectedProfile) {
                selected = item;
                if (groupItem)
                    groupItem->setExpanded(true);
            }
        }
    }
    if (selected)
        m_tree->setCurrentItem(selected);

    // The columns come from the last line that reads exactly "[[Default]]".
    const int header = LastDefaultHeader(m_lines);
    if (header >= 0) {
        fillColumns(header, 10);
        m_currentProfileLine = header;
    }
}

void FormatEditor::showSelectedProfile()
{
    const QTreeWidgetItem* item = m_tree->currentItem();
    if (!item || !item->isSelected())
        return;
    const std::string name = encodeCp1252(item->text(0).toStdU16String());
    const int header = FindProfileHeader(m_lines, name);
    if (header >= 0) {
        m_currentProfileName = name;
        m_currentProfileLine = header;
        fillColumns(header, LabelColumn::kCells);
        return;
    }
    m_currentProfileName.clear();
    m_currentProfileLine = -1;
    for (int row = 0; row < LabelColumn::kCells; ++row) {
        m_errorColumn->setCell(row, std::string());
        m_infoColumn->setCell(row, std::string());
    }
}

void FormatEditor::saveProfile()
{
    if (!m_refusedFile.empty())
        throw Failure(m_refusedFile + "; it is not overwritten");
    // A label typed that the format file cannot keep is refused, named, and left as typed.
    for (const LabelColumn* column : {m_errorColumn, m_infoColumn}) {
        for (int row = 0; row < LabelColumn::kCells; ++row) {
            QLineEdit* editor = column->editor(row);
            const Unstorable refused = FirstUnstorable(editor->text().toStdU16String(), u"\u00A4");
            if (!column->edited(row) || refused.character.empty())
                continue;
            const QString why = refused.character == u"\u00A4" ? QStringLiteral("it separates the labels in the format file")
                                                                : QStringLiteral("the format file holds Windows-1252 text");
            showMessage(this, {QStringLiteral("The character \"%1\" cannot be kept in a label: %2.")
                                   .arg(QString::fromStdU16String(refused.character), why),
                               QStringLiteral("Format Text"), QMessageBox::Ok, QMessageBox::NoIcon});
            editor->setFocus();
            return;
        }
    }
    if (!m_currentProfileName.empty() && m_currentProfileLine >= 0 &&
        static_cast<std::size_t>(m_currentProfileLine) < m_lines.size()) {
        // The rows the profile has are replaced; the ones it lacks are put in right after them,
        // so the next header and everything after it keep their text.
        const auto header = static_cast<std::size_t>(m_currentProfileLine);
        const int rows = LabelRowCount(m_lines, m_currentProfileLine);
        const std::string built[2] = {BuildLabelRow(m_errorColumn->cells()), BuildLabelRow(m_infoColumn->cells())};
        for (int row = 0; row < 2; ++row) {
            const std::size_t at = header + 1 + static_cast<std::size_t>(row);
            if (row < rows)
                m_lines[at] = built[row];
            else
                m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), built[row]);
        }
    }
    // The same file that start-up reads, replaced whole through a temporary file.
    WriteFileAtomically(SettingsFileToWrite(kFormatFileName), JoinLinesCrLf(m_lines));
}

void FormatEditor::showEvent(QShowEvent* event)
{
    // Beside the main window: hanging below it over its lowest 32 pixels when the desktop has
    // room, else over its top.
    const QRect main = m_mainWindow->frameGeometry();
    int desktopHeight = 0;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        desktopHeight = screen->virtualGeometry().height();
    const int top = desktopHeight > main.top() + main.height() + frameGeometry().height()
                        ? main.top() + main.height() - 32
                        : main.top() + 32;
    move(main.left() + 32, top);
    QWidget::showEvent(event);
}

void FormatEditor::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    emit closed();
}

bool FormatEditor::eventFilter(QObject* watched, QEvent* event)
{
    // Any click in the tree, on a node, an expand button or empty space, acts on the node that
    // is selected once the tree has handled it.
    if (watched == m_tree->viewport() && event->type() == QEvent::MouseButtonRelease)
        runGuarded(this, [this] { showSelectedProfile(); });
    return QWidget::eventFilter(watched, event);
}

} // namespace tlg
