// The driver's settings file (cnf.INI) on arbitrary contents: the settings are loaded over
// each of two starting points, saved, and loaded again.
//
// Checked: the keys missing from the file keep the starting values (PistStep 1, FreeStartEn
// true); what a save wrote loads back unchanged whatever else the file held.
#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/settings.h"
#include "fuzz_check.h"
#include "fuzz_files.h"
#include "platform/ini_file.h"

namespace {

dorv::DriverSettings Flipped(dorv::DriverSettings s) {
    s.pistStep = static_cast<std::uint8_t>(s.pistStep + 1);
    s.freeStartEn = !s.freeStartEn;
    s.startInLiter = !s.startInLiter;
    s.forceStart = !s.forceStart;
    s.noVerifeAuthorization = !s.noVerifeAuthorization;
    s.specAvtomatika = !s.specAvtomatika;
    s.readDecimalTRK = !s.readDecimalTRK;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dorv::fuzz::ScratchDir::Get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = dorv::fuzz::ScratchDir::Get().Write("cnf.INI", data, size);
    const dorv::DriverSettings defaults;
    const dorv::DriverSettings a = dorv::LoadSettings(path, defaults);
    const dorv::DriverSettings b = dorv::LoadSettings(path, Flipped(defaults));
    {
        // Keys the file does not hold come from the starting point, except the two whose
        // default is fixed.
        const dorv::platform::IniFile ini(path);
        const bool hasStartInLiter =
            ini.ReadString("Dorv", "StartInLiter").has_value() && dorv::platform::ParseInteger(*ini.ReadString("Dorv", "StartInLiter"));
        if (!hasStartInLiter) FUZZ_CHECK(a.startInLiter != b.startInLiter);
        FUZZ_CHECK(a.pistStep == b.pistStep && a.freeStartEn == b.freeStartEn);
    }
    dorv::SaveSettings(path, b);
    FUZZ_CHECK(dorv::LoadSettings(path, defaults) == b);
    FUZZ_CHECK(dorv::LoadSettings(path, Flipped(b)) == b);
    return 0;
}
