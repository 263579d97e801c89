#include "settings_dir.h"

#include <cstdlib>

namespace dorv::platform {
namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : std::string();
}

}  // namespace

std::string WindowsDirectory() {
    if (auto dir = Env("DORV_WINDIR"); !dir.empty()) return dir;
    if (auto dir = Env("WINDIR"); !dir.empty()) return dir;
    if (auto xdg = Env("XDG_CONFIG_HOME"); !xdg.empty()) return xdg + "/dorv5000";
    if (auto home = Env("HOME"); !home.empty()) return home + "/.config/dorv5000";
    return "/tmp/dorv5000";
}

std::string SettingsFilePath() { return WindowsDirectory() + "/cnf.INI"; }

std::string ParameterBufferDirectory() {
    if (auto dir = Env("DORV_SETTINGS_DIR"); !dir.empty()) return dir;
    return WindowsDirectory() + "/Ximor/Settings";
}

std::string ParameterBufferPath() { return ParameterBufferDirectory() + "/Dorv.buf"; }

}  // namespace dorv::platform
