// Numbered parameters of a controller: reads ('N'), writes ('O') and the
// password operations behind numbers 26 and 27.
#include <string>

#include "controller.h"

namespace dorv::emu {

namespace {

constexpr std::int64_t kSensorOn = 1;
constexpr std::int64_t kSensorOff = 200;
constexpr std::int64_t kInternalTemperature = 25;
constexpr std::int64_t kLockValue = 0;

std::optional<int> NumberOf(std::uint8_t ch) {
  if (ch < '0' || ch >= '0' + kParamNumberCount) return std::nullopt;
  return ch - '0';
}

bool InBounds(const ParamEntry& entry, std::int64_t v) { return v >= entry.min && v <= entry.max; }

}  // namespace

std::optional<std::int64_t> Controller::ReadParam(int number) const {
  if (FindParam(number) == nullptr) return std::nullopt;
  switch (number) {
    case param::kPassword: return confirmation_;
    case param::kInternalTemperature:
      return value(number) == kSensorOff ? kSensorOff : kInternalTemperature;
    case param::kExtraTotalizer:
      return static_cast<std::int64_t>(nozzle_.totals().volume_cl % 100000000);
    case kIdAndLoaderNumber:
      return static_cast<std::int64_t>(id_ % 10000000000ULL) * 1000 + kLoaderVersion;
    default: return value(number);
  }
}

bool Controller::WriteParam(int number, std::int64_t v) {
  const ParamEntry* entry = FindParam(number);
  if (entry == nullptr) return false;
  switch (entry->rule) {
    case ParamRule::kReadOnly: return false;
    case ParamRule::kPassword: return WritePassword(v);
    case ParamRule::kCalibration: return WriteCalibration(v);
    case ParamRule::kSensorSwitch:
      if (v != kSensorOn && v != kSensorOff) return false;
      break;
    case ParamRule::kHeaterSetting:
      if (v != 0 && (v < 201 || v > 220)) return false;
      break;
    case ParamRule::kRange:
      if (!InBounds(*entry, v)) return false;
      break;
  }
  value(number) = v;
  return true;
}

bool Controller::SetParam(int number, std::int64_t v) {
  if (FindParam(number) == nullptr) return false;
  value(number) = v;
  return true;
}

// Writing number 26 opens a password operation. The calibration password
// unlocks one write of the coefficient; 0 closes the lock and starts an
// operation that needs none (a totalizer write); anything else is a wrong
// password, refused, and locks as well. Reading 26 then gives 1 once the
// operation completed, 0 until then.
bool Controller::WritePassword(std::int64_t v) {
  confirmation_ = 0;
  calibration_unlocked_ = v == kCalibrationPassword;
  return calibration_unlocked_ || v == kLockValue;
}

bool Controller::WriteCalibration(std::int64_t v) {
  const bool unlocked = calibration_unlocked_;
  calibration_unlocked_ = false;  // one coefficient per password
  const ParamEntry* entry = FindParam(param::kCalibration);
  if (!unlocked || !InBounds(*entry, v)) return false;
  value(param::kCalibration) = v;
  value(param::kCalibrationCount) = (value(param::kCalibrationCount) + 1) % 65536;
  confirmation_ = 1;
  return true;
}

Bytes Controller::HandleParamRead(std::span<const std::uint8_t> args) const {
  if (args.size() != 1) return OneByteReply(kRefusal);
  const auto number = NumberOf(args[0]);
  const auto v = number ? ReadParam(*number) : std::nullopt;
  if (!v) return OneByteReply(kRefusal);
  // The number comes back first, then the value's digits.
  std::string data(1, static_cast<char>(args[0]));
  data += DigitField(static_cast<std::uint64_t>(*v), WireDigits(*number));
  return FrameDataReply(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

Bytes Controller::HandleParamWrite(std::span<const std::uint8_t> args) {
  if (args.empty()) return OneByteReply(kRefusal);
  const auto number = NumberOf(args[0]);
  // A write carries exactly the parameter's digits; a shorter or longer field
  // would shift every digit's weight.
  if (!number || static_cast<int>(args.size()) - 1 != WireDigits(*number))
    return OneByteReply(kRefusal);
  const auto v = ParseDigits(args.subspan(1));
  if (!v) return OneByteReply(kRefusal);
  return OneByteReply(WriteParam(*number, static_cast<std::int64_t>(*v)) ? kAck : kRefusal);
}

}  // namespace dorv::emu
