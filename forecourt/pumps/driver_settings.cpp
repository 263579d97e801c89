#include "driver_settings.h"

#include <cstdint>

#include "platform/ini_file.h"
#include "platform/settings_dir.h"

namespace forecourt {
namespace {

// The driver's settings section and key, as its settings dialog writes them.
constexpr const char* kSection = "Dorv";
constexpr const char* kPistStep = "PistStep";

}  // namespace

DriverPistStep ReadDriverPistStep() {
    const dorv::platform::IniFile ini(dorv::platform::SettingsFilePath());
    return {ini.Path(), static_cast<std::uint8_t>(ini.ReadInteger(kSection, kPistStep, 1))};
}

void WriteDriverPistStep(const std::string& folder, int step) {
    dorv::platform::IniFile ini(folder + "/cnf.INI");
    ini.WriteInteger(kSection, kPistStep, step);
    ini.UpdateFile();
}

}  // namespace forecourt
