#include "app/archivememberdialog.h"

#include "core/beside.h"

#include "core/errors.h"
#include "core/messages.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPointer>
#include <QVBoxLayout>

#include <memory>

namespace tlg {

ArchiveMemberDialog::ArchiveMemberDialog(QWidget* parent, const QString& path, const std::vector<ArchiveMember>& members)
    : QDialog(parent), m_list(new QListWidget(this))
{
    setObjectName(QStringLiteral("ArchiveMembers"));
    setWindowTitle(QStringLiteral("Open a file of the archive"));
    m_list->setObjectName(QStringLiteral("MemberList"));
    const QLocale locale;
    for (const ArchiveMember& member : members) {
        auto* item = new QListWidgetItem(QString::fromStdString(member.name) + QStringLiteral("  (") +
                                         locale.formattedDataSize(member.size) + QLatin1Char(')'));
        item->setData(Qt::UserRole, QString::fromStdString(member.name));
        m_list->addItem(item);
    }
    m_list->setCurrentRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemActivated, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QFile::decodeName(QFile::encodeName(path)), this));
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(520, 360);
}

QString ArchiveMemberDialog::chosen() const
{
    const QListWidgetItem* item = m_list->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void ArchiveMemberDialog::ask(QWidget* parent, const QString& path, std::function<void(const QString&)> picked)
{
    struct Listing {
        std::vector<ArchiveMember> members;
        std::string failure;
    };
    auto listing = std::make_shared<Listing>();
    const std::string native = QFile::encodeName(path).toStdString();
    // Listed beside the GUI thread: a large archive is read whole to list it.
    RunBeside(
        parent, Executor::Priority::User,
        [listing, native] {
            try {
                listing->members = ListArchive(native);
            } catch (const std::exception& failure) {
                listing->failure = failure.what();
            }
        },
        [window = QPointer<QWidget>(parent), listing, path, picked] {
            if (!window)
                return;
            runGuarded(window, [&] {
                if (!listing->failure.empty())
                    throw Failure(listing->failure);
                if (listing->members.empty())
                    throw Failure("No file in the archive " + QFile::encodeName(path).toStdString());
                auto* dialog = new ArchiveMemberDialog(window, path, listing->members);
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->setWindowModality(Qt::WindowModal);
                QObject::connect(dialog, &QDialog::accepted, window, [dialog, picked] {
                    if (!dialog->chosen().isEmpty())
                        picked(dialog->chosen());
                });
                dialog->open();
            });
        });
}

} // namespace tlg
