// Parameter buffer files: sets of raw values kept so the values read from one dispenser can be
// written into another. INI text, section "Parametr", one key per numbered parameter (the
// entry's Number in decimal), the value the low 32 bits of its Value as a signed decimal.
// Only catalogue positions 7 to the end take part; the common commands and the address
// programming entry are never stored or loaded.
//
// Both operations raise dorv::Exception when the file cannot be read or written. Other
// sections of the file are kept; a save goes through a temporary file and a rename, so a
// failing save leaves the old file whole.
#pragma once

#include <string>

#include "catalogue.h"

namespace dorv::params {

void SaveParamsToFile(const CTRKParameters& catalogue, const std::string& path);

// Loads what the file holds for the numbered entries and returns how many values it took. A
// missing key or a value that is no 32-bit integer leaves that entry's Value as it was (all 64
// bits of it); a missing file or one without the section changes nothing; whatever else the
// file holds is ignored.
int LoadParamsFromFile(CTRKParameters& catalogue, const std::string& path);

}  // namespace dorv::params
