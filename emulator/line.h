// The controllers on one dispenser line, answering the host's requests as
// the line would: addressed requests by one controller, common settings and
// address programming by whoever they concern, faults on top.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "clock.h"
#include "controller.h"
#include "faults.h"
#include "wire.h"

namespace dorv::emu {

struct LineConfig {
  double flow_lps = 1.0;               // delivery rate of every nozzle
  bool answer_common_settings = true;  // controllers acknowledge 'W' with 0x06
  std::uint64_t seed = 1;              // fault injection
};

// What the line looks like from one controller, copied out under the lock.
struct ControllerState {
  int address = 0;
  std::uint64_t id = 0;
  char type = 'A';
  char status = '0';
  Nozzle::Phase phase = Nozzle::Phase::kIdle;
  bool lifted = false;
  Filling filling;
  Totals totals;
  std::uint64_t price = 0;
  Dose pending_dose;
  Scales scales;
  bool calibration_unlocked = false;
};

inline constexpr std::uint64_t DefaultId(int address) {
  return 60000 + static_cast<std::uint64_t>(address);
}

// Thread-safe: the PTY and TCP servers and a script may share one line.
class Line {
 public:
  explicit Line(LineConfig config = {}, Clock clock = SystemClock());

  // Puts a controller at `address` (ID DefaultId(address) unless given);
  // false when the address is taken or out of range.
  bool AddController(int address, std::optional<std::uint64_t> id = std::nullopt);
  std::vector<int> Addresses() const;

  // Answers one request record [group, byte1, command, ...].
  Reply Answer(std::span<const std::uint8_t> record);

  bool Lift(int address);
  bool Hang(int address);
  void SetFlowRate(double litres_per_second);
  double flow_rate() const;
  bool SetId(int address, std::uint64_t id);
  bool SetType(int address, char type);
  bool SetParam(int address, int number, std::int64_t value);
  // Readings bring the fillings up to the clock first, hence not const.
  std::optional<std::int64_t> Param(int address, int number);
  std::optional<ControllerState> State(int address);

  std::array<int, 10> CommonSettings() const;
  void SetAnswerCommonSettings(bool answer);

  void ArmFault(const FaultRule& rule);
  void ClearFaults();
  std::size_t armed_faults() const;

 private:
  void Sync();
  Controller* Find(int address);
  const Controller* Find(int address) const;
  Bytes CommonSetting(std::span<const std::uint8_t> record);
  Bytes ProgramAddress(std::span<const std::uint8_t> record);

  mutable std::mutex mutex_;
  LineConfig config_;
  Clock clock_;
  std::map<int, Controller> controllers_;
  std::array<int, 10> common_{};
  FaultInjector faults_;
};

}  // namespace dorv::emu
