// The transaction state machine of one nozzle: position, authorization,
// delivery, the filling's readings and the totalizers.
#pragma once

#include <cstdint>
#include <optional>

#include "clock.h"

namespace dorv::emu {

// How the controller reads price digits and writes amount digits; chosen by
// the decimal-format parameter.
struct Scales {
  std::uint32_t price = 100;   // price digits = price x this
  std::uint32_t amount = 100;  // amount digits = money x this
  friend bool operator==(const Scales&, const Scales&) = default;
};

// Decimal format 0..8 to scales; formats outside that range keep the default.
Scales ScalesForFormat(std::int64_t format);

struct Dose {
  enum class Kind : std::uint8_t { kNone, kVolume, kMoney };
  Kind kind = Kind::kNone;
  std::uint64_t value = 0;  // centilitres for kVolume, amount units for kMoney
  friend bool operator==(const Dose&, const Dose&) = default;
};

struct Filling {
  std::uint64_t volume_cl = 0;  // delivered, in centilitres
  std::uint64_t money = 0;      // in amount units of `scales`
  std::uint64_t price = 0;      // price digits in force for this filling
  Scales scales;
  Dose dose;                              // the dose this filling was started with
  std::optional<std::uint64_t> limit_cl;  // where delivery stops; none = until stopped
};

struct Totals {
  std::uint64_t volume_cl = 0;
  std::uint64_t money = 0;  // amount units
};

// Centilitres to deliver for a money dose at `price`; `overfill` rounds a
// part-centilitre up so the customer gets at least what was paid for.
std::uint64_t VolumeForMoney(std::uint64_t money, std::uint64_t price, Scales scales,
                             bool overfill);

// Amount units for `volume_cl` at `price`, halves rounded up.
std::uint64_t MoneyForVolume(std::uint64_t volume_cl, std::uint64_t price, Scales scales);

class Nozzle {
 public:
  enum class Phase : std::uint8_t {
    kIdle,        // no transaction: status '0' hung, '1' lifted
    kAuthorized,  // 'U' accepted: status '2'
    kStarted,     // pump on: '3' until the first centilitre, then '4'
    kEnded,       // delivery over, waiting for release: '5'
  };

  // Brings the filling up to `now` at `flow_lps` litres per second. Callers
  // run it before every other call so that a dose reached in between ends
  // the filling before the next command sees the state.
  void Update(SteadyTime now, double flow_lps);

  void Lift() { lifted_ = true; }
  void Hang();  // ends a running filling

  bool Authorize();
  bool Start(Scales scales, bool overfill_money_dose);
  void Stop();
  bool Release();
  void Abort();  // line-wide reset: ends and releases whatever runs

  bool SetPrice(std::uint64_t price_digits);
  bool SetDose(Dose dose);
  bool WriteVolumeTotal(std::uint64_t volume_cl);

  char StatusChar() const;
  Phase phase() const { return phase_; }
  bool lifted() const { return lifted_; }
  bool pumping() const { return phase_ == Phase::kStarted; }
  const Filling& filling() const { return filling_; }
  Totals totals() const;
  std::uint64_t price() const { return price_; }
  const Dose& pending_dose() const { return dose_; }

 private:
  void End();

  Phase phase_ = Phase::kIdle;
  bool lifted_ = false;
  std::uint64_t price_ = 0;
  Dose dose_;
  Filling filling_;
  double delivered_litres_ = 0.0;
  Totals closed_;  // fillings already ended
  std::optional<SteadyTime> last_update_;
};

}  // namespace dorv::emu
