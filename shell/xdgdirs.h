#pragma once

// The user's base folders as the freedesktop base directory rules name them, and the desktop's
// own names. Every folder ends in '/'. A variable that is unset, empty or not an absolute path
// counts as unset.

#include <string>
#include <vector>

namespace tlg {

// $HOME, else the home folder of the user's account; "/" when neither is known.
std::string HomeFolder();

// $XDG_DATA_HOME, default ~/.local/share/.
std::string UserDataFolder();

// $XDG_CONFIG_HOME, default ~/.config/.
std::string UserConfigFolder();

// $XDG_DATA_DIRS, default /usr/local/share/ and /usr/share/, in order of precedence.
std::vector<std::string> SystemDataFolders();

// $XDG_CONFIG_DIRS, default /etc/xdg/, in order of precedence.
std::vector<std::string> SystemConfigFolders();

// The names in $XDG_CURRENT_DESKTOP, lower-cased, in order; empty outside a desktop.
std::vector<std::string> CurrentDesktops();

// Creates the folder and its missing parents (mode 0700, as the base directory rules ask).
// False when it is not a folder afterwards.
bool MakeFolders(const std::string& folder);

} // namespace tlg
