// The one driver setting the service must share with the driver: PistStep, which places a
// pump's nozzles at addresses column, column + step, ... The driver reads it from its own
// settings file (cnf.INI in its Windows directory); the station file names it too, for the
// service's checks and the emulator's lifts. Both must say the same, or the service would
// authorize and bill other nozzles than it means.
#pragma once

#include <string>

namespace forecourt {

struct DriverPistStep {
    std::string file;  // the driver's settings file
    int step = 1;      // as the driver reads it: the low 8 bits, 1 when the key is missing
};

// What the driver will read at GetDI30. Raises dorv::Exception when the file cannot be read.
DriverPistStep ReadDriverPistStep();
// Writes the step into the settings file of a folder the service owns (the emulated station's).
void WriteDriverPistStep(const std::string& folder, int step);

}  // namespace forecourt
