// Where the driver keeps its files.
//
// The settings file lives in the Windows directory. The environment variable DORV_WINDIR, when
// set, names that directory on every platform, so tests and trial installations keep their own
// files. Otherwise, on Windows, it is the directory the system reports (GetWindowsDirectoryA);
// elsewhere the one WINDIR names, or else $XDG_CONFIG_HOME/dorv5000, or else ~/.config/dorv5000.
//
// The parameter buffers live in $DORV_SETTINGS_DIR when set. Otherwise, on Windows, in
// C:\Ximor\Settings as on every station, or in DORV_WINDIR's "Ximor\Settings" when that is set;
// elsewhere in the Windows directory's "Ximor/Settings".
//
// Paths are UTF-8; the Windows implementation converts from and to the stations' CP1251.
#pragma once

#include <string>

namespace dorv::platform {

std::string WindowsDirectory();
std::string SettingsFilePath();  // <Windows directory>\cnf.INI (/cnf.INI elsewhere)
std::string ParameterBufferDirectory();
std::string ParameterBufferPath();  // <buffer directory>/Dorv.buf

}  // namespace dorv::platform
