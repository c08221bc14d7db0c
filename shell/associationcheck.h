#pragma once

// The association offer at start-up, the first step of the main window's creation.

#include <string>

class QWidget;

namespace tlg {

// When .log files do not open with exePath (OpensLogFiles), asks "Associate .log files with
// Log viewer ?" (caption "Associate ?", OK and Cancel, no icon). OK registers the association
// as Options > "Associate with .Log files" does; Cancel writes nothing, so the question comes
// again at the next start. A registration failure is thrown for the caller's error path. An
// association store that cannot be used (KeyStore::read) is named in the error box, nothing
// is asked, the store stays as it is, and the call returns.
void OfferLogAssociation(QWidget* parent, const std::string& exePath);

} // namespace tlg
