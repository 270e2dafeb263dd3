#pragma once
#include <string>

namespace platform {

// Every folder text ends with '/'.
// TMPDIR when it is a writable folder, else /tmp.
std::string TempFolder();
std::string ExecutableFolder();  // folder of the running executable
std::string DesktopFolder();     // XDG desktop folder, else $HOME/Desktop, else $HOME
std::string CurrentFolder();     // current directory

}  // namespace platform
