#include "filelist/addtofilelistdialog.h"

#include "core/cp1252.h"
#include "core/fields.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "filelist/filelist.h"

#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>

namespace tlg {

AddToFileListDialog::AddToFileListDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TForm3"));
    setWindowTitle(QStringLiteral("Add to filelist"));
    setFixedSize(431, 155);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setModal(true);

    auto* fileLabel = new QLabel(QStringLiteral("File :"), this);
    fileLabel->setObjectName(QStringLiteral("Label1"));
    m_path = new QLabel(this);
    m_path->setObjectName(QStringLiteral("Label2"));
    m_path->setFixedSize(401, 65);
    m_path->setWordWrap(true);
    m_path->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_path->setTextFormat(Qt::PlainText);
    auto* textLabel = new QLabel(QStringLiteral("File List Text :"), this);
    textLabel->setObjectName(QStringLiteral("Label3"));
    m_description = new QLineEdit(this);
    m_description->setObjectName(QStringLiteral("Edit1"));
    m_description->setMaxLength(30);
    auto* add = new QPushButton(QStringLiteral("Add"), this);
    add->setObjectName(QStringLiteral("Button1"));
    add->setAutoDefault(false); // Enter in the text box is handled there, once
    auto* status = new QStatusBar(this);
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(15, 8, 15, 0);
    grid->addWidget(fileLabel, 0, 0, 1, 2);
    grid->addWidget(m_path, 1, 0, 1, 2);
    grid->addWidget(textLabel, 2, 0);
    grid->addWidget(m_description, 2, 1);
    grid->addWidget(add, 3, 1, Qt::AlignRight);
    grid->addWidget(status, 4, 0, 1, 2);

    connect(add, &QPushButton::clicked, this, guarded(this, [this] { addEntry(); }));
    connect(m_description, &QLineEdit::returnPressed, this, guarded(this, [this] { addEntry(); }));
}

void AddToFileListDialog::prepare(const QString& path)
{
    m_path->setText(path);
    m_description->clear();
    m_description->setFocus();
}

void AddToFileListDialog::addEntry()
{
    // What the file list cannot keep is refused, named, and left as typed.
    const Unstorable refused = FirstUnstorable(m_description->text().toStdU16String(), u";");
    if (!refused.character.empty()) {
        const QString why = refused.character == u";" ? QStringLiteral("it separates the fields of the file list")
                                                       : QStringLiteral("the file list holds Windows-1252 text");
        showMessage(this, {QStringLiteral("The character \"%1\" cannot be kept in a description: %2.")
                               .arg(QString::fromStdU16String(refused.character), why),
                           QStringLiteral("Add to filelist"), QMessageBox::Ok, QMessageBox::NoIcon});
        m_description->setFocus();
        m_description->setCursorPosition(static_cast<int>(refused.at));
        return;
    }
    const std::string description = encodeCp1252(m_description->text().toStdU16String());
    if (trimBlanks(description).empty()) {
        showMessage(this, {QStringLiteral("Fill in File List Text"),
                           QStringLiteral("Fill in File List Text"), QMessageBox::Ok,
                           QMessageBox::NoIcon});
        return;
    }
    const std::string path = QFile::encodeName(m_path->text()).toStdString();
    if (!IsStorablePath(path)) {
        showMessage(this, {QString::fromLatin1(kUnstorablePathMessage), QStringLiteral("Add to filelist"),
                           QMessageBox::Ok, QMessageBox::NoIcon});
        return;
    }
    // A missing list file is begun, as an empty one would be.
    const std::string listPath = SettingsFileToRead(kFileListName);
    const bool exists = AgeStamp(listPath) != -1;
    const std::string text = exists ? ReadSettingsFile(listPath) : std::string();
    const Refusal refusal = CheckNewEntry(text, description, path);
    if (refusal.kind != Refusal::None) {
        showMessage(this, {QString::fromStdU16String(decodeCp1252(refusal.message)),
                           QStringLiteral("Duplicate file"), QMessageBox::Ok, QMessageBox::NoIcon});
        return;
    }
    WriteFileAtomically(SettingsFileToWrite(kFileListName), AppendEntry(text, description, path));
    emit entryAdded();
    accept();
}

} // namespace tlg
