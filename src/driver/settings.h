// The driver's seven options, kept in cnf.INI, section "Dorv".
#pragma once

#include <cstdint>
#include <string>

namespace dorv {

struct DriverSettings {
    std::uint8_t pistStep = 1;
    bool freeStartEn = true;
    bool startInLiter = true;
    bool forceStart = false;
    bool noVerifeAuthorization = false;
    bool specAvtomatika = false;
    bool readDecimalTRK = false;

    bool operator==(const DriverSettings&) const = default;
};

inline constexpr const char* kSettingsSection = "Dorv";

// Reads the keys present in the file over `current` (PistStep defaults to 1 and FreeStartEn to
// true when missing; the other five keep their current values). A missing file changes nothing
// but those two defaults. Raises dorv::Exception when the file exists but cannot be read.
DriverSettings LoadSettings(const std::string& path, const DriverSettings& current);
// Writes all seven keys, keeping the file's other sections and keys.
void SaveSettings(const std::string& path, const DriverSettings& settings);

}  // namespace dorv
