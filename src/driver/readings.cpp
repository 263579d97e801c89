// Readings of a column's filling and of a nozzle's counters, and the counter write.
#include <cmath>
#include <optional>

#include "commands.h"
#include "digits.h"
#include "messages.h"
#include "tvm30.h"

namespace dorv {

namespace {

constexpr std::uint8_t kCountersReplyLength = 52;

// Digit counts of the '5' reply by controller type: volume V, price P (only in the length the
// link waits for), amount M.
struct FillingLayout {
    int volume;
    int price;
    int amount;
};

FillingLayout LayoutOf(std::uint8_t columnType) {
    switch (columnType) {
        case 2:
        case 6:
        case 7: return {6, 6, 8};
        case 8: return {5, 4, 7};
        // Types 1, 3, 4, 5; a type query that found no type leaves 0, read as type 1.
        default: return {6, 4, 6};
    }
}

int Length(const cmd::Reply& reply) { return static_cast<int>(reply.length); }

// Number of amount digits k of a '6' reply, found from where the trailer's 0x03 stands: the
// first counter has k + 1 digits and the second k. A reply without 0x03 has k = 7.
int CounterDigits(const Record& r) {
    for (std::size_t i = 0; i < kCountersReplyLength; ++i) {
        if (r[i] == codec::kEnd) {
            return static_cast<int>(digits::RoundHalfEven((static_cast<long double>(i) - 1) / 4)) - 1;
        }
    }
    return 7;
}

void Store(double* out, double v) {
    if (out) *out = v;
}

}  // namespace

double TVM30::GetFillingVolume(std::int32_t line, std::int32_t column, double* money) {
    cmd::CheckTarget(line, column);
    const std::uint8_t nozzle = CurrentNozzle(line, column);
    CheckNozzle(nozzle);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kShortFilling);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, 17, 0);
    if (!reply.Completed()) throw ESerialIO(msg::kFilling);

    double litres = 0;
    double amount = 0;
    if (reply.Refused()) {
        StoreLineStatus(line, cmd::kShortFillingRefused);
    } else if (reply.Answered()) {
        // Data bytes 2 to 6: the volume D1 D2 D3 . d1 d2.
        const auto centilitres = digits::ReadField(r.data(), Length(reply), cmd::DataIndex(2), 2, 5);
        if (centilitres) {
            litres = static_cast<double>(*centilitres) / 100;
            SetFilledVolume(line, column, litres);
            amount = digits::Money(litres, Price(line, column, nozzle), AmountScale(line, column));
        } else {
            // An answer without the volume is no reading; say so instead of reporting 0 litres.
            StoreLineStatus(line, kLineFrameError);
        }
    }
    Store(money, amount);
    return litres;
}

void TVM30::GetFilling(std::int32_t line, std::int32_t column, double* litres, double* money) {
    if (specAvtomatika_) {
        Store(litres, GetFillingVolume(line, column, money));
        return;
    }
    // Checked ahead of the type query, which must not go to a column the reading rejects.
    cmd::CheckTarget(line, column);
    QueryType(static_cast<std::uint8_t>(line), static_cast<std::uint8_t>(column));
    const std::uint8_t nozzle = CurrentNozzle(line, column);
    CheckNozzle(nozzle);
    const FillingLayout layout = LayoutOf(ColumnType(line, column));
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kFilling);
    const auto replyLength = static_cast<std::uint8_t>(2 * (layout.price + layout.amount) + 16);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, replyLength, 2);
    if (!reply.Completed()) throw ESerialIO(msg::kFilling);

    Store(litres, 0);
    Store(money, 0);
    if (!reply.Answered()) return;
    const auto centilitres = digits::ReadField(r.data(), Length(reply), cmd::DataIndex(1), 2, layout.volume);
    if (!centilitres) {
        StoreLineStatus(line, kLineFrameError);
        return;
    }
    const double volume = static_cast<double>(*centilitres) / 100;
    SetFilledVolume(line, column, volume);
    Store(litres, volume);

    const std::int32_t scale = AmountScale(line, column);
    const double computed = digits::Money(volume, Price(line, column, nozzle), scale);
    double amount = computed;
    // The controller's amount holds only the part below one million money units; an amount
    // field that cannot be read leaves the computed money.
    const auto controller = digits::ReadField(r.data(), Length(reply), cmd::DataIndex(layout.volume + 1), 2, layout.amount);
    if (controller) {
        const double c = digits::Unscale(static_cast<double>(*controller), scale);
        if (computed - c < 9000) {
            amount = c;
        } else {
            const double millions = std::trunc(scale * computed / 1000000) * 1000000;
            amount = digits::Unscale(millions, scale) + c;
        }
    }
    Store(money, amount);
}

void TVM30::ReadCounters(std::int32_t line, std::int32_t column, std::int32_t nozzle, double* first, double* second, std::int32_t,
                         std::int32_t) {
    cmd::CheckTarget(line, column, nozzle);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kCounters);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, kCountersReplyLength, 2);
    if (!reply.Completed()) throw ESerialIO(msg::kFilling);

    double volume = 0;
    double amount = 0;
    if (reply.Answered()) {
        // A counter field that does not hold digits only reads as 0.
        const int k = CounterDigits(r);
        if (k >= 0) {
            const auto v = digits::ReadField(r.data(), Length(reply), cmd::DataIndex(1), 2, k + 1);
            const auto m = digits::ReadField(r.data(), Length(reply), cmd::DataIndex(k + 2), 2, k);
            if (v) volume = static_cast<double>(*v) / 100;
            if (m) amount = digits::Unscale(static_cast<double>(*m), AmountScale(line, column));
        }
    }
    // A zero volume counter is no reading: silent line, refusal or an empty reply.
    if (volume == 0) StoreLineStatus(line, kLineFrameError);
    Store(first, volume);
    Store(second, amount);
}

void TVM30::WriteCounter(std::int32_t line, std::int32_t column, std::int32_t nozzle, const double* value, std::int32_t, std::int32_t,
                         std::int32_t) {
    cmd::CheckTarget(line, column, nozzle);
    if (!value) throw Exception(msg::kValueRange);
    // Converted first: a value that does not fit sends nothing, not even the preparing write.
    const std::string counter = digits::Field(*value, 100, 8);
    WriteNumberedParam(line, column, cmd::kPasswordNumber, 0);
    Record r = cmd::Request(Address(column, nozzle, pistStep_), cmd::kCounters);
    r[3] = 0x01;  // sub-code: write
    cmd::Put(r, 4, counter);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 12, 1, 0);
    if (!reply.Completed()) throw ESerialIO(msg::kFilling);
    // The confirmation is read, not judged: its value is of no use here.
    GetParam(line, column, cmd::kFirstNumbered + cmd::kPasswordNumber);
}

}  // namespace dorv
