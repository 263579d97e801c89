// Start, authorization, stop and release of a nozzle; its unit price and its dose.
#include <cmath>
#include <optional>

#include "commands.h"
#include "digits.h"
#include "messages.h"
#include "tvm30.h"

namespace dorv {

namespace {

// Requests of this file carry no data or a fixed digit field; all answer with one byte.
constexpr std::uint8_t kShortReply = 2;
constexpr std::uint8_t kNoMode = 0;

// A nozzle whose last poll read 0xE1 (status '1' as polled on nozzle 1) gets the forced start.
constexpr std::uint8_t kForcedStartState = 0xE1;

// Host parameter holding a column's decimal settings: number 22 of nozzle 1.
constexpr std::int32_t kDecimalsParameter = 32;

struct Scales {
    std::int32_t price;
    std::int32_t amount;
};

// Price and money scales by the decimal setting read from the controller; other values leave
// the scales as they are.
std::optional<Scales> ScalesFor(std::int32_t decimals) {
    switch (decimals) {
        case 0: return Scales{1, 100};
        case 1:
        case 6: return Scales{10, 100};
        case 2:
        case 4:
        case 7: return Scales{100, 100};
        case 3:
        case 5:
        case 8: return Scales{1, 1};
        default: return std::nullopt;
    }
}

}  // namespace

void TVM30::StartNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle) {
    cmd::CheckTarget(line, column, nozzle);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kStart);
    // Recorded before the exchange: a stop of the column must reach this nozzle even when the
    // start's answer got lost.
    SetCurrentNozzle(line, column, static_cast<std::uint8_t>(nozzle));
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, kShortReply, kNoMode);
    if (!reply.Completed()) throw ESerialIO(msg::kStartPump);
    if (!noVerifeAuthorization_ && reply.Refused()) StoreLineStatus(line, cmd::kStartRefused);
}

void TVM30::AuthorizeNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) {
    cmd::CheckTarget(line, column, nozzle);
    const GroupAddress target = Address(column, nozzle, pistStep_);
    const bool verify = !noVerifeAuthorization_;
    auto send = [&](std::uint8_t command) {
        Record r = cmd::Request(target, command);
        if (command == cmd::kStart) SetCurrentNozzle(line, column, static_cast<std::uint8_t>(nozzle));
        const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, kShortReply, kNoMode);
        if (!reply.Completed()) throw ESerialIO(msg::kStartPump);
        return reply;
    };

    if (flag == 0) {
        // The nozzle that dispensed last on this column closes its transaction first.
        ReleaseNozzle(line, column, CurrentNozzle(line, column));
        const cmd::Reply authorized = send(cmd::kAuthorize);
        if (verify) {
            // Without an answer to the authorization the start is not sent.
            if (authorized.lineState != kLineAnswered) return;
            if (authorized.Refused()) StoreLineStatus(line, cmd::kAuthorizeRefused);
        }
    }
    const cmd::Reply started = send(cmd::kStart);
    if (verify && started.Refused()) StoreLineStatus(line, cmd::kStartRefused);

    if (forceStart_ && NozzleState(line, column, nozzle) == kForcedStartState) {
        const cmd::Reply forced = send(cmd::kForcedStart);
        if (verify && forced.Refused()) StoreLineStatus(line, cmd::kStartRefused);
    }
}

void TVM30::StopNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) {
    if (flag == 0) return;  // the host's way of saying "leave it running"
    cmd::CheckTarget(line, column, nozzle);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kStop);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, kShortReply, kNoMode);
    if (!reply.Completed()) throw ESerialIO(msg::kStopPump);
    if (reply.Refused()) StoreLineStatus(line, cmd::kStopRefused);
}

bool TVM30::StopColumn(std::int32_t line, std::int32_t column, std::uint8_t flag) {
    cmd::CheckTarget(line, column);
    StopNozzle(line, column, CurrentNozzle(line, column), flag);
    return false;
}

std::int32_t TVM30::StopAndRelease(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) {
    // Checked here too: with flag 0 the stop checks nothing, and the release must not go to an
    // address outside the column.
    cmd::CheckTarget(line, column, nozzle);
    StopNozzle(line, column, nozzle, flag);
    return ReleaseNozzle(line, column, nozzle);
}

std::int32_t TVM30::ReleaseNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle) {
    // A nozzle beyond the column's four would release another column's controller.
    cmd::CheckTarget(line, column, nozzle);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kRelease);
    return cmd::Transfer(*this, line, r, 3, kShortReply, kNoMode).result;
}

void TVM30::FetchDecimals(std::int32_t line, std::int32_t column) {
    // Out-of-range input is the price command's to reject; nothing is fetched for it.
    if (line < 0 || line >= kLines || column < 0 || column > kMaxColumn) return;
    if (!readDecimalTRK_ || !DecimalsPending(line, column)) return;
    try {
        const std::int32_t decimals = GetParam(line, column, kDecimalsParameter);
        // Nothing read: the next price tries again.
        if (decimals < 0 || LineStatusOf(line) != kLineAnswered) return;
        if (const auto scales = ScalesFor(decimals)) SetScales(line, column, scales->price, scales->amount);
        SetDecimalsPending(line, column, false);
    } catch (...) {
        // A price goes out with the scales in force; the entry stays pending.
    }
}

void TVM30::SetPrice(std::int32_t line, std::int32_t column, std::int32_t nozzle, double, double price) {
    FetchDecimals(line, column);
    cmd::CheckTarget(line, column, nozzle);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kPrice);
    cmd::Put(r, 3, digits::Field(price, PriceScale(line, column), 4));
    price_.Set(NozzleIndex(line, column, nozzle), price);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 7, kShortReply, kNoMode);
    if (!reply.Completed()) throw ESerialIO(msg::kPrice);
    if (reply.Refused()) {
        // A nozzle must not dispense at a price the controller did not take.
        StopAndRelease(line, column, nozzle, 1);
        StoreLineStatus(line, cmd::kPriceRefused);
    }
}

void TVM30::PresetVolume(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::int32_t, double litres) {
    cmd::CheckTarget(line, column, nozzle);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kVolumeDose);
    cmd::Put(r, 3, digits::Field(litres, 100, 5));
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 8, kShortReply, kNoMode);
    if (!reply.Completed()) throw ESerialIO(msg::kPresetVolume);
    if (!reply.Answered()) return;
    if (reply.Refused())
        StoreLineStatus(line, cmd::kVolumeDoseRefused);
    else
        SetOrderedVolume(line, column, litres);
}

void TVM30::PresetAmount(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::int32_t unused, double money) {
    cmd::CheckTarget(line, column, nozzle);
    if (!std::isfinite(money) || money < 0) throw Exception(msg::kValueRange);
    // Both ways need the price: one to turn money into litres, the other for the stored dose.
    const double price = Price(line, column, nozzle);
    if (!(price > 0)) throw Exception(msg::kZeroPrice);

    if (startInLiter_) {
        // Litres with at most two decimals, never more than the money buys.
        const double litres = std::trunc((money + 0.00499) * 100 / price) / 100;
        PresetVolume(line, column, nozzle, unused, litres);
        return;
    }
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kAmountDose);
    cmd::Put(r, 3, digits::Field(money, AmountScale(line, column), 6));
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 9, kShortReply, kNoMode);
    if (!reply.Completed()) throw ESerialIO(msg::kPresetAmount);
    if (!reply.Answered()) return;
    if (reply.Refused())
        StoreLineStatus(line, cmd::kAmountDoseRefused);
    else
        SetOrderedVolume(line, column, static_cast<double>(digits::RoundHalfEven(money / price)));
}

}  // namespace dorv
