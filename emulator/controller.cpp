#include "controller.h"

#include <string>

namespace dorv::emu {

namespace {

Bytes Answer(bool accepted) { return OneByteReply(accepted ? kAck : kRefusal); }

Bytes DataReply(const std::string& data) {
  return FrameDataReply(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

bool ValidStartPosition(bool lifted, std::int64_t hung_start_rule) {
  // 2 and 4 forbid a start while the nozzle hangs; otherwise the pump waits
  // for the lift.
  return lifted || (hung_start_rule != 2 && hung_start_rule != 4);
}

}  // namespace

FillingLayout LayoutForType(char type) {
  switch (type - '@') {
    case 2:
    case 6:
    case 7: return {6, 6, 8};
    case 8: return {5, 4, 7};
    default: return {6, 4, 6};  // types 1, 3, 4, 5 and anything unknown
  }
}

Controller::Controller(std::uint64_t id) : id_(id) {
  for (const ParamEntry& p : ParamCatalogue()) value(p.number) = p.initial;
}

Scales Controller::scales() const { return ScalesForFormat(value(param::kDecimalFormat)); }

Bytes Controller::Handle(std::uint8_t command, std::span<const std::uint8_t> args) {
  const bool bare = args.empty();
  switch (command) {
    case '1': {
      if (!bare) break;
      const char status = nozzle_.StatusChar();
      return DataReply({status, status == '5' ? '1' : '0'});
    }
    case '2':
    case 'V':
      if (!bare) break;
      return HandleStart();
    case 'U':
      if (!bare) break;
      return Answer(nozzle_.Authorize());
    case '3':
      if (!bare) break;
      nozzle_.Stop();
      return Answer(true);
    case '8':
      if (!bare) break;
      return Answer(nozzle_.Release());
    case 'Q': return HandlePrice(args);
    case 'T':
    case 'S': return HandleDose(command, args);
    case '4':
      if (!bare) break;
      return ShortFillingReply();
    case '5':
      if (!bare) break;
      return FillingReply();
    case '6': return HandleCounters(args);
    case '7':
      if (!bare) break;
      return DataReply(std::string(1, type_));
    case 'N': return HandleParamRead(args);
    case 'O': return HandleParamWrite(args);
    default: break;
  }
  return Answer(false);
}

Bytes Controller::HandleStart() {
  if (!ValidStartPosition(nozzle_.lifted(), value(param::kStartWithNozzleHung)))
    return Answer(false);
  return Answer(nozzle_.Start(scales(), value(param::kMoneyDoseRounding) == 1));
}

Bytes Controller::HandlePrice(std::span<const std::uint8_t> args) {
  if (args.size() != 4) return Answer(false);
  const auto price = ParseDigits(args);
  return Answer(price && nozzle_.SetPrice(*price));
}

Bytes Controller::HandleDose(std::uint8_t command, std::span<const std::uint8_t> args) {
  const bool by_volume = command == 'T';
  if (args.size() != (by_volume ? 5U : 6U)) return Answer(false);
  const auto digits = ParseDigits(args);
  if (!digits || *digits == 0) return Answer(false);
  // The volume a money dose comes to at today's price decides whether it is
  // below the minimum dose; without a price it cannot be worked out at all.
  const std::uint64_t volume = by_volume ? *digits
                                         : VolumeForMoney(*digits, nozzle_.price(), scales(),
                                                          value(param::kMoneyDoseRounding) == 1);
  if (volume < static_cast<std::uint64_t>(value(param::kMinimumDose))) return Answer(false);
  const Dose dose{by_volume ? Dose::Kind::kVolume : Dose::Kind::kMoney, *digits};
  return Answer(nozzle_.SetDose(dose));
}

Bytes Controller::ShortFillingReply() const {
  // Six digits of centilitres; the first (thousands of litres) is not read by hosts.
  return DataReply(DigitField(nozzle_.filling().volume_cl, 6));
}

Bytes Controller::FillingReply() const {
  const FillingLayout layout = LayoutForType(type_);
  const Filling& f = nozzle_.filling();
  return DataReply(DigitField(f.volume_cl, layout.volume_digits) +
                   DigitField(f.money, layout.amount_digits) +
                   DigitField(f.price, layout.price_digits));
}

Bytes Controller::HandleCounters(std::span<const std::uint8_t> args) {
  if (args.empty()) {
    const Totals t = nozzle_.totals();
    return DataReply(DigitField(t.volume_cl, 8) + DigitField(t.money, 7) + "0");
  }
  // Counter write: 0x01 then the volume totalizer in centilitres, 8 digits.
  if (args.size() != 9 || args[0] != 0x01) return Answer(false);
  const auto volume = ParseDigits(args.subspan(1));
  if (!volume || !nozzle_.WriteVolumeTotal(*volume)) return Answer(false);
  ++value(kTotalizerWritesNumber);
  confirmation_ = 1;
  return Answer(true);
}

}  // namespace dorv::emu
