#include "shell/associationcheck.h"

#include "core/messages.h"
#include "shell/associate.h"

namespace tlg {

void OfferLogAssociation(QWidget* parent, const std::string& exePath)
{
    if (OpensLogFiles(exePath))
        return;
    const QMessageBox::StandardButton answer =
        showMessage(parent, {QStringLiteral("Associate .log files with Log viewer ?"),
                             QStringLiteral("Associate ?"), QMessageBox::Ok | QMessageBox::Cancel,
                             QMessageBox::NoIcon});
    if (answer == QMessageBox::Ok)
        AssociateWithLogFiles(exePath);
}

} // namespace tlg
