#include "nozzle.h"

#include <algorithm>
#include <cmath>

namespace dorv::emu {

Scales ScalesForFormat(std::int64_t format) {
  switch (format) {
    case 0: return {1, 100};
    case 1:
    case 6: return {10, 100};
    case 2:
    case 4:
    case 7: return {100, 100};
    case 3:
    case 5:
    case 8: return {1, 1};
    default: return {};
  }
}

std::uint64_t VolumeForMoney(std::uint64_t money, std::uint64_t price, Scales scales,
                             bool overfill) {
  if (price == 0 || scales.amount == 0) return 0;
  const std::uint64_t num = money * scales.price * 100;
  const std::uint64_t den = static_cast<std::uint64_t>(scales.amount) * price;
  return overfill ? (num + den - 1) / den : num / den;
}

std::uint64_t MoneyForVolume(std::uint64_t volume_cl, std::uint64_t price, Scales scales) {
  if (scales.price == 0) return 0;
  const std::uint64_t num = volume_cl * price * scales.amount;
  const std::uint64_t den = 100ULL * scales.price;
  return (num + den / 2) / den;
}

void Nozzle::Update(SteadyTime now, double flow_lps) {
  const SteadyTime last = last_update_.value_or(now);
  last_update_ = std::max(now, last);
  if (phase_ != Phase::kStarted || !lifted_ || now <= last) return;
  // The pump of a start accepted on a hung nozzle runs only once it is lifted.
  delivered_litres_ += std::max(0.0, flow_lps) * std::chrono::duration<double>(now - last).count();
  auto volume = static_cast<std::uint64_t>(std::floor(delivered_litres_ * 100.0 + 1e-6));
  if (filling_.limit_cl && volume >= *filling_.limit_cl) volume = *filling_.limit_cl;
  filling_.volume_cl = volume;
  filling_.money = MoneyForVolume(volume, filling_.price, filling_.scales);
  if (filling_.limit_cl && volume >= *filling_.limit_cl) End();
}

void Nozzle::Hang() {
  lifted_ = false;
  if (phase_ == Phase::kStarted) End();
}

bool Nozzle::Authorize() {
  if (phase_ == Phase::kStarted || phase_ == Phase::kEnded) return false;
  phase_ = Phase::kAuthorized;
  return true;
}

bool Nozzle::Start(Scales scales, bool overfill_money_dose) {
  if (phase_ == Phase::kStarted || phase_ == Phase::kEnded || price_ == 0) return false;
  filling_ = Filling{};
  filling_.price = price_;
  filling_.scales = scales;
  filling_.dose = dose_;
  if (dose_.kind == Dose::Kind::kVolume) filling_.limit_cl = dose_.value;
  if (dose_.kind == Dose::Kind::kMoney)
    filling_.limit_cl = VolumeForMoney(dose_.value, price_, scales, overfill_money_dose);
  dose_ = Dose{};  // a dose serves one filling
  delivered_litres_ = 0.0;
  phase_ = Phase::kStarted;
  return true;
}

void Nozzle::Stop() {
  if (phase_ == Phase::kStarted)
    End();
  else if (phase_ == Phase::kAuthorized)
    phase_ = Phase::kIdle;
}

bool Nozzle::Release() {
  // A transaction is never closed while the pump may still deliver.
  if (phase_ == Phase::kStarted) return false;
  phase_ = Phase::kIdle;
  return true;
}

void Nozzle::Abort() {
  if (phase_ == Phase::kStarted) End();
  phase_ = Phase::kIdle;
}

bool Nozzle::SetPrice(std::uint64_t price_digits) {
  if (phase_ == Phase::kStarted || price_digits == 0) return false;
  price_ = price_digits;
  return true;
}

bool Nozzle::SetDose(Dose dose) {
  if (phase_ == Phase::kStarted || dose.value == 0 || dose.kind == Dose::Kind::kNone) return false;
  dose_ = dose;
  return true;
}

bool Nozzle::WriteVolumeTotal(std::uint64_t volume_cl) {
  if (phase_ == Phase::kStarted) return false;
  closed_.volume_cl = volume_cl;
  return true;
}

char Nozzle::StatusChar() const {
  switch (phase_) {
    case Phase::kIdle: return lifted_ ? '1' : '0';
    case Phase::kAuthorized: return '2';
    case Phase::kStarted: return filling_.volume_cl == 0 ? '3' : '4';
    case Phase::kEnded: return '5';
  }
  return '0';
}

Totals Nozzle::totals() const {
  Totals t = closed_;
  if (phase_ == Phase::kStarted) {
    t.volume_cl += filling_.volume_cl;
    t.money += filling_.money;
  }
  return t;
}

void Nozzle::End() {
  closed_.volume_cl += filling_.volume_cl;
  closed_.money += filling_.money;
  phase_ = Phase::kEnded;
}

}  // namespace dorv::emu
