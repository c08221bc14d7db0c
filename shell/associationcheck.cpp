#include "shell/associationcheck.h"

#include "core/errors.h"
#include "core/fileops.h"
#include "core/messages.h"
#include "shell/associate.h"
#include "shell/keystore.h"

namespace tlg {

void OfferLogAssociation(QWidget* parent, const std::string& exePath)
{
    // A store that cannot be used is told of once and left as it is; nothing is asked, since
    // nothing could be stored, and start-up goes on.
    KeyTree tree;
    try {
        tree = ClassesRoot().read();
    } catch (const Failure& failure) {
        showError(parent, QString::fromLocal8Bit(failure.what()));
        return;
    }
    if (OpensLogFiles(tree, exePath) || AgeStamp(SettingsFileToRead(kNoAssociationQuestionName)) != -1)
        return;
    // What OK changes: the program that opens them now stays among the others.
    const std::string opener = GetFileTypeOpener(kLogExtensionWithoutDot);
    QString change = QStringLiteral(".log files will open in TlgView");
    if (!opener.empty())
        change += QStringLiteral("; %1 stays in Open With").arg(QString::fromLocal8Bit(opener.c_str()));
    bool dontAsk = false;
    const QMessageBox::StandardButton answer =
        showMessage(parent, {QStringLiteral("Associate .log files with Log viewer ?\n\n") + change + QLatin1Char('.'),
                             QStringLiteral("Associate ?"), QMessageBox::Ok | QMessageBox::Cancel,
                             QMessageBox::NoIcon, QStringLiteral("Do not ask again"), &dontAsk});
    if (dontAsk) {
        // Kept in the settings folder; a folder that cannot be written is told of and start-up
        // goes on.
        try {
            WriteFileAtomically(SettingsFileToWrite(kNoAssociationQuestionName), "Ask=No\r\n");
        } catch (const Failure& failure) {
            showError(parent, QString::fromLocal8Bit(failure.what()));
        }
    }
    if (answer == QMessageBox::Ok)
        AssociateWithLogFiles(exePath);
}

} // namespace tlg
