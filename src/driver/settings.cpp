#include "settings.h"

#include "platform/ini_file.h"

namespace dorv {

DriverSettings LoadSettings(const std::string& path, const DriverSettings& current) {
    const platform::IniFile ini(path);
    const char* s = kSettingsSection;
    DriverSettings r;
    // Only the low 8 bits of PistStep are kept: 258 reads as 2.
    r.pistStep = static_cast<std::uint8_t>(ini.ReadInteger(s, "PistStep", 1));
    r.freeStartEn = ini.ReadBool(s, "FreeStartEn", true);
    r.startInLiter = ini.ReadBool(s, "StartInLiter", current.startInLiter);
    r.forceStart = ini.ReadBool(s, "ForceStart", current.forceStart);
    r.noVerifeAuthorization = ini.ReadBool(s, "NoVerifeAuthorization", current.noVerifeAuthorization);
    r.specAvtomatika = ini.ReadBool(s, "SpecAvtomatika", current.specAvtomatika);
    r.readDecimalTRK = ini.ReadBool(s, "ReadDecimalTRK", current.readDecimalTRK);
    return r;
}

void SaveSettings(const std::string& path, const DriverSettings& v) {
    platform::IniFile ini(path);
    const char* s = kSettingsSection;
    ini.WriteInteger(s, "PistStep", v.pistStep);
    ini.WriteBool(s, "FreeStartEn", v.freeStartEn);
    ini.WriteBool(s, "StartInLiter", v.startInLiter);
    ini.WriteBool(s, "ForceStart", v.forceStart);
    ini.WriteBool(s, "NoVerifeAuthorization", v.noVerifeAuthorization);
    ini.WriteBool(s, "SpecAvtomatika", v.specAvtomatika);
    ini.WriteBool(s, "ReadDecimalTRK", v.readDecimalTRK);
    ini.UpdateFile();
}

}  // namespace dorv
