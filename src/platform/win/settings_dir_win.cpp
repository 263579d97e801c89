// Where the driver keeps its files on Windows: the settings file in the Windows directory as
// the system reports it, the parameter buffers in C:\Ximor\Settings. DORV_WINDIR, when set,
// stands in for the Windows directory and holds the buffers too, so that tests and trial
// installations never touch a station's own files.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "dorv5000/exceptions.h"
#include "platform/cp1251.h"
#include "platform/settings_dir.h"

namespace dorv::platform {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? Cp1251ToUtf8(v) : std::string();
}

std::string Join(const std::string& folder, const char* name) {
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) return folder + name;
    return folder + "\\" + name;
}

// The directory with a 255-character buffer, cut to the length the system returns. A longer
// directory (the system then returns the size it needs) is asked for again with that room.
std::string SystemWindowsDirectory() {
    std::vector<char> buffer(255);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const UINT n = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
        if (n == 0) break;
        if (n < buffer.size()) return Cp1251ToUtf8(std::string(buffer.data(), n));
        buffer.resize(n + 1);
    }
    throw Exception("Cannot find the Windows directory");
}

}  // namespace

std::string WindowsDirectory() {
    if (auto dir = Env("DORV_WINDIR"); !dir.empty()) return dir;
    return SystemWindowsDirectory();
}

std::string SettingsFilePath() { return Join(WindowsDirectory(), "cnf.INI"); }

std::string ParameterBufferDirectory() {
    if (auto dir = Env("DORV_SETTINGS_DIR"); !dir.empty()) return dir;
    if (auto dir = Env("DORV_WINDIR"); !dir.empty()) return Join(dir, "Ximor\\Settings");
    return "C:\\Ximor\\Settings";
}

std::string ParameterBufferPath() { return Join(ParameterBufferDirectory(), "Dorv.buf"); }

}  // namespace dorv::platform
