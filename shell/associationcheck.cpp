#include "shell/associationcheck.h"

#include "core/errors.h"
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
    if (OpensLogFiles(tree, exePath))
        return;
    const QMessageBox::StandardButton answer =
        showMessage(parent, {QStringLiteral("Associate .log files with Log viewer ?"),
                             QStringLiteral("Associate ?"), QMessageBox::Ok | QMessageBox::Cancel,
                             QMessageBox::NoIcon});
    if (answer == QMessageBox::Ok)
        AssociateWithLogFiles(exePath);
}

} // namespace tlg
