// Where the driver keeps its files.
//
// The settings file lives in the Windows directory. Elsewhere that directory is the one the
// environment variable WINDIR names, or else $XDG_CONFIG_HOME/dorv5000, or else
// ~/.config/dorv5000. The parameter buffers kept under "C:\Ximor\Settings" on a station live in
// $DORV_SETTINGS_DIR when set, else in the Windows directory's "Ximor/Settings".
#pragma once

#include <string>

namespace dorv::platform {

std::string WindowsDirectory();
std::string SettingsFilePath();      // <Windows directory>/cnf.INI
std::string ParameterBufferDirectory();
std::string ParameterBufferPath();   // <buffer directory>/Dorv.buf

}  // namespace dorv::platform
