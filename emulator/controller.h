// One dispenser controller on the line: a nozzle, its numbered parameters,
// its ID number and type, and the answers it gives to requests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "nozzle.h"
#include "param_catalogue.h"
#include "wire.h"

namespace dorv::emu {

// Reply layout of the filling reading ('5') for a controller type.
struct FillingLayout {
  int volume_digits = 6;
  int price_digits = 4;
  int amount_digits = 6;
};
FillingLayout LayoutForType(char type);

inline constexpr std::int64_t kCalibrationPassword = 5821;
inline constexpr std::int64_t kLoaderVersion = 103;

class Controller {
 public:
  explicit Controller(std::uint64_t id);

  // Answers one request addressed to this controller: `command` is request
  // byte 2 and `args` the bytes after it. The reply is a one-byte 0x06 or
  // 0x18 or a whole data reply frame.
  Bytes Handle(std::uint8_t command, std::span<const std::uint8_t> args);

  Nozzle& nozzle() { return nozzle_; }
  const Nozzle& nozzle() const { return nozzle_; }

  std::uint64_t id() const { return id_; }
  void set_id(std::uint64_t id) { id_ = id; }
  char type() const { return type_; }
  void set_type(char type) { type_ = type; }

  // The value a read of `number` answers with, nullopt for a number the
  // controller does not have.
  std::optional<std::int64_t> ReadParam(int number) const;
  // A write as the line makes it: refused (false) for read-only numbers,
  // values out of bounds and the coefficient without the password.
  bool WriteParam(int number, std::int64_t value);
  // Service access that bypasses the write rules (tests, scripts).
  bool SetParam(int number, std::int64_t value);

  Scales scales() const;
  bool calibration_unlocked() const { return calibration_unlocked_; }
  int confirmation_code() const { return confirmation_; }

 private:
  Bytes HandleStart();
  Bytes HandlePrice(std::span<const std::uint8_t> args);
  Bytes HandleDose(std::uint8_t command, std::span<const std::uint8_t> args);
  Bytes HandleCounters(std::span<const std::uint8_t> args);
  Bytes HandleParamRead(std::span<const std::uint8_t> args) const;
  Bytes HandleParamWrite(std::span<const std::uint8_t> args);
  Bytes FillingReply() const;
  Bytes ShortFillingReply() const;
  bool WritePassword(std::int64_t value);
  bool WriteCalibration(std::int64_t value);

  std::int64_t& value(int number) { return values_[static_cast<std::size_t>(number)]; }
  std::int64_t value(int number) const { return values_[static_cast<std::size_t>(number)]; }

  Nozzle nozzle_;
  std::uint64_t id_;
  char type_ = 'A';
  std::array<std::int64_t, kParamNumberCount> values_{};
  bool calibration_unlocked_ = false;
  int confirmation_ = 0;  // code of the last password operation, read back as number 26
};

}  // namespace dorv::emu
