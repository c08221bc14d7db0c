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
// <path>") when it cannot be written, and Failure("Cannot open <address>: no program is set to
// open it") when the desktop has nothing that opens it (on a real desktop, asked of xdg-mime
// first, since the desktop's opener only reports that it started).
void OpenHomePage();

// Whether the desktop names a program that opens the address: the default that
// `xdg-mime query default` gives for its type (text/html for a page on this computer, the
// scheme's handler otherwise), or a BROWSER variable for a web address. True when xdg-mime
// cannot be asked: then nothing is known against it.
bool DesktopOpens(const QUrl& address);

} // namespace tlg
