#pragma once

#include <QIcon>

namespace tlg {

// The pictures of the tool bars, 16 x 16, by number: 0 show errors, 2 show warnings,
// 5 options, 6 search, 7 format text, 8 reload with a change waiting (alert), 9 go to bottom,
// 10 view Unicode, 11 auto refresh, 12 reload, 13 file list. Other numbers give a null icon.
QIcon toolbarPicture(int number);

} // namespace tlg
