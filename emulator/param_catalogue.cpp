#include "param_catalogue.h"

#include <algorithm>

namespace dorv::emu {

namespace {

using R = ParamRule;

// Bounds are the raw values the service tools offer; initial values are
// those of a controller fresh from the factory.
constexpr ParamEntry kCatalogue[] = {
    {0, 0, 1, 0, R::kRange},             // manual mode
    {2, 0, 3, 0, R::kRange},             // nozzle side mode
    {3, 0, 3, 0, R::kRange},             // flow sensor type
    {4, 0, 999, 0, R::kRange},           // flow sensor resolution
    {5, 0, 999, 0, R::kRange},           // minimum pulse length, 0.1 ms
    {6, 0, 3, 0, R::kRange},             // start/stop button type
    {7, 0, 99, 0, R::kRange},            // delay after the manual signal, 0.1 s
    {8, 0, 2, 0, R::kRange},             // slow-down valve type
    {9, 0, 200, 0, R::kRange},           // slow-down valve on, 0.01 L
    {10, 0, 300, 0, R::kRange},          // slow-down valve threshold, 0.01 L
    {11, 3, 180, 60, R::kRange},         // pump time without pulses, s
    {12, 3, 75, 30, R::kRange},          // same for a full-tank filling, s
    {13, 0, 20, 0, R::kRange},           // start delay, s
    {14, 0, 4, 0, R::kRange},            // start with the nozzle hung
    {15, 0, 50, 0, R::kRange},           // pulses not shown at the start
    {18, 0, 99999, 0, R::kReadOnly},     // emergency totalizer
    {19, 0, 999, 107, R::kReadOnly},     // controller software version
    {20, 0, 100, 0, R::kRange},          // pump stop wait, 0.1 s
    {21, 0, 20, 0, R::kRange},           // direct start delay, s
    {22, 0, 8, 2, R::kRange},            // decimal format of amount and price
    {23, 1, 500, 1, R::kRange},          // minimum dose, 0.01 L
    {24, 0, 999999, 40040, R::kRange},   // branch capacities xxxyyy, L/min
    {25, 0, 99999999, 0, R::kReadOnly},  // manual-mode totalizer
    {26, 0, 9999, 0, R::kPassword},
    {27, 0, 99999, 10000, R::kCalibration},
    {28, 0, 65535, 0, R::kReadOnly},          // calibration operations
    {29, 0, 65535, 0, R::kReadOnly},          // software updates
    {30, 0, 1, 0, R::kRange},                 // litres or kilograms
    {31, 0, 1, 0, R::kRange},                 // temperature correction
    {32, 5, 100, 30, R::kRange},              // propane share, %
    {33, 0, 30, 0, R::kRange},                // minimum capacity, L/min
    {34, 3, 180, 30, R::kRange},              // time below minimum capacity, s
    {35, 0, 3, 0, R::kRange},                 // extra indication
    {36, 0, 299, 15, R::kReadOnly},           // fuel temperature
    {37, 1, 200, 1, R::kSensorSwitch},        // internal sensor switch / temperature
    {38, 0, 220, 205, R::kHeaterSetting},     // heater on below this temperature
    {39, 3, 15, 5, R::kRange},                // heater hysteresis
    {40, 0, 100, 0, R::kRange},               // leak compensation, mL/s
    {41, 0, 300, 0, R::kRange},               // cut-off valve delay, s
    {42, 0, 99, 0, R::kRange},                // threshold speed, 0.01 L/s
    {43, 0, 50, 0, R::kRange},                // water-hammer limit, 0.01 L
    {44, 0, 99999999, 0, R::kReadOnly},       // additional totalizer
    {45, 0, 1, 0, R::kRange},                 // round to the ordered amount
    {47, 0, 1, 1, R::kRange},                 // show the preset dose
    {48, 0, 50, 0, R::kRange},                // minimum start/stop signal, 0.1 s
    {49, 0, 10, 0, R::kRange},                // back to full flow after, s
    {50, 0, 1, 1, R::kRange},                 // money dose: 0 under-fill, 1 over-fill
    {51, 0, 1, 1, R::kRange},                 // external mechanical totalizer
    {52, 0, 9999999999999, 0, R::kReadOnly},  // ID number and loader version
    {53, 0, 65535, 0, R::kReadOnly},          // totalizer writes
};

}  // namespace

int WireDigits(int number) {
  if (number == kIdAndLoaderNumber) return 13;
  if (number == kTotalizerWritesNumber) return 5;
  if (number < 0 || number >= kParamNumberCount) return 0;
  return kParamDigits[static_cast<std::size_t>(number)];
}

std::span<const ParamEntry> ParamCatalogue() { return kCatalogue; }

const ParamEntry* FindParam(int number) {
  const auto* it = std::find_if(std::begin(kCatalogue), std::end(kCatalogue),
                                [number](const ParamEntry& p) { return p.number == number; });
  return it == std::end(kCatalogue) ? nullptr : it;
}

}  // namespace dorv::emu
