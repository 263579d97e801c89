// The numbered parameters a controller keeps for its nozzle: which numbers
// exist, how many digits each carries on the line, what a write may set.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace dorv::emu {

enum class ParamRule : std::uint8_t {
  kRange,          // writable within [min, max]
  kReadOnly,       // counters, versions, readings: writes are refused
  kSensorSwitch,   // written 1 (sensor on) or 200 (off); reads give the temperature
  kHeaterSetting,  // 0 or 201..220 (-1..-20 degrees)
  kPassword,       // password operations, see Controller
  kCalibration,    // accepted only after the calibration password
};

struct ParamEntry {
  int number = 0;
  std::int64_t min = 0;
  std::int64_t max = 0;
  std::int64_t initial = 0;
  ParamRule rule = ParamRule::kRange;
};

inline constexpr int kParamNumberCount = 60;

// Digits of each parameter number on the line, 0..59. Numbers 52 and 53
// answer with 13 and 5 digits although this table says 0: the reply carries
// what the controller holds, not what a reader expects.
inline constexpr std::array<std::uint8_t, kParamNumberCount> kParamDigits = {
    1, 1, 1, 1, 3, 3, 1, 2, 1, 3, 3, 3, 2, 2, 1, 2, 2, 2, 5, 3, 3, 2, 1, 3, 6, 8, 4, 5, 5, 5,
    1, 1, 3, 2, 3, 1, 3, 3, 3, 2, 2, 3, 2, 2, 8, 1, 2, 1, 2, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0};

inline constexpr int kIdAndLoaderNumber = 52;
inline constexpr int kTotalizerWritesNumber = 53;

// Well-known numbers the controller's own logic reads or keeps up to date.
namespace param {
inline constexpr int kStartWithNozzleHung = 14;
inline constexpr int kDecimalFormat = 22;
inline constexpr int kMinimumDose = 23;
inline constexpr int kPassword = 26;
inline constexpr int kCalibration = 27;
inline constexpr int kCalibrationCount = 28;
inline constexpr int kInternalTemperature = 37;
inline constexpr int kExtraTotalizer = 44;
inline constexpr int kMoneyDoseRounding = 50;
}  // namespace param

// Digits the controller sends and expects for `number`; 0 for unknown numbers.
int WireDigits(int number);

// The parameters a controller has, in number order: 0, 2..15, 18..45, 47..53.
std::span<const ParamEntry> ParamCatalogue();

// nullptr for a number the controller does not have (1, 16, 17, 46, above 53).
const ParamEntry* FindParam(int number);

}  // namespace dorv::emu
