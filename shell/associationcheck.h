#pragma once

// The association offer at start-up, the first step of the main window's creation.

#include <string>

class QWidget;

namespace tlg {

// The settings file whose presence means the reader asked not to be asked again.
inline constexpr const char* kNoAssociationQuestionName = "NoAssociationQuestion.TLG";

// When .log files do not open with exePath (OpensLogFiles) and the reader has not asked to be
// left alone, asks "Associate .log files with Log viewer ?" with what OK changes (caption
// "Associate ?", OK and Cancel, no icon, a "Do not ask again" box). OK registers the
// association as Options > "Associate with .Log files" does; Cancel writes nothing, so the
// question comes again at the next start, unless the box was ticked, which is kept in the
// settings folder. A registration failure is thrown for the caller's error path. An
// association store that cannot be used (KeyStore::read) is named in the error box, nothing
// is asked, the store stays as it is, and the call returns.
void OfferLogAssociation(QWidget* parent, const std::string& exePath);

} // namespace tlg
