#pragma once

// The program's home page, which the link labels and About > "MarvikWare" open in the user's
// web browser.

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace tlg {

// The file name of the about page, kept in the settings folder or installed with the program.
inline constexpr const char* kAboutPageName = "TlgView.htm";

// Makes the banner's resources (its pages and its picture) available. Safe to call often.
void EnsureBannerResources();

// The program's own copy of a page that it keeps beside itself (the banner pages "tlg-1.htm"
// to "tlg-3.htm", the about page), from its resources; empty when it has none of that name.
QByteArray BuiltInPage(const QString& name);

// The home page: the address that TLGVIEW_HOME_PAGE names, or else the about page as a local
// file: the copy in the settings folder, else the installed one (OwnFileToShow).
QUrl HomePageUrl();

// Opens the home page in the user's web browser. The about page is first written to the
// settings folder from the built-in copy when there is no copy to show. Throws Failure("Cannot create file
// <path>") when it cannot be written, and Failure("Cannot open <address>") when the desktop
// has nothing that opens it.
void OpenHomePage();

} // namespace tlg
