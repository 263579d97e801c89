// Every reply decoder of the driver, fed through the exchange by a line that answers with the
// fuzzer's bytes (fuzz_link.h).
//
// Input: a header of five bytes, then the line's answers.
//   0 command: which operation runs (kCommands below)
//   1 settings: bit 0 SpecAvtomatika, 1 ForceStart, 2 ReadDecimalTRK, 3 NoVerifeAuthorization,
//     4 StartInLiter, bits 5-6 PistStep (1, 2, 0 or 255: the low byte of whatever the settings
//     file holds), bit 7 the flag argument of the command
//   2 line (0..40: 40 is out of range)
//   3 column (0..34: 34 is out of range)
//   4 argument: nozzle, nozzle count, column type, parameter number, value, as the command takes
//
// dorv::Exception (and ESerialIO) are the driver's answers to bad input or a failed line;
// anything else leaving the driver, a sanitizer report or a failed check is a finding.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "dorv5000/exceptions.h"
#include "driver/commands.h"
#include "driver/tvm30.h"
#include "fuzz_check.h"
#include "fuzz_files.h"
#include "fuzz_link.h"

namespace {

using dorv::TVM30;
using dorv::fuzz::FuzzLink;
using dorv::fuzz::Input;

struct Call {
    TVM30& driver;
    FuzzLink& link;
    int line;
    int column;
    std::uint8_t arg;
    bool flag;
    // Line and column inside the tables: the state checks only look there.
    bool InRange() const { return line >= 0 && line < dorv::kLines && column >= 0 && column <= dorv::kMaxColumn; }
};

bool Finite(double v) { return std::isfinite(v); }

// Filled and ordered litres that lead the status decoding down each of its roads: the filling
// under way, ended above the order, ended with nothing delivered.
void PresetFilling(Call& c, int which) {
    if (!c.InRange()) return;
    static constexpr double kVolumes[4][2] = {{0, 0}, {10.0, 20.0}, {19.5, 20.0}, {0.005, 20.0}};
    c.driver.SetFilledVolume(c.line, c.column, kVolumes[which & 3][0]);
    c.driver.SetOrderedVolume(c.line, c.column, kVolumes[which & 3][1]);
}

void Status(Call& c) {
    const auto count = static_cast<std::uint8_t>(c.arg % 6);
    PresetFilling(c, c.arg >> 3);
    const std::uint8_t nozzle = c.InRange() ? c.driver.CurrentNozzle(c.line, c.column) : 0;
    dorv::StatusRecord r{};
    try {
        r = c.driver.GetStatus(static_cast<std::uint8_t>(c.line), static_cast<std::uint8_t>(c.column), count);
    } catch (const dorv::Exception&) {
        // The end-of-filling step puts the column's nozzle back on every road out.
        if (c.InRange()) FUZZ_CHECK(c.driver.CurrentNozzle(c.line, c.column) == nozzle);
        throw;
    }
    FUZZ_CHECK(r.bytes[1] == 0 && r.bytes[15] == 0);
    FUZZ_CHECK(c.link.transactions >= (count > 0 ? 1 : 0));
    if (count == 0) FUZZ_CHECK(c.link.transactions == 0);
    FUZZ_CHECK(r.bytes[14] <= 4);
    if (c.InRange()) FUZZ_CHECK(c.driver.CurrentNozzle(c.line, c.column) == nozzle);
}

void ShortFilling(Call& c) {
    if (c.InRange()) c.driver.SetCurrentNozzle(c.line, c.column, c.arg % 5);
    double money = -1;
    const double litres = c.driver.GetFillingVolume(c.line, c.column, &money);
    FUZZ_CHECK(Finite(litres) && litres >= 0 && litres < 1000);
    FUZZ_CHECK(Finite(money) && money >= 0);
}

void Filling(Call& c) {
    if (c.InRange()) {
        c.driver.SetCurrentNozzle(c.line, c.column, c.arg % 5);
        c.driver.SetColumnType(c.line, c.column, static_cast<std::uint8_t>(c.arg % 10));
    }
    double litres = -1;
    double money = -1;
    c.driver.GetFilling(c.line, c.column, &litres, &money);
    FUZZ_CHECK(Finite(litres) && litres >= 0);
    FUZZ_CHECK(Finite(money));
}

void Counters(Call& c) {
    double first = -1;
    double second = -1;
    c.driver.ReadCounters(c.line, c.column, c.arg % 5, &first, &second, 0, 0);
    FUZZ_CHECK(Finite(first) && first >= 0);
    FUZZ_CHECK(Finite(second) && second >= 0);
}

// The type query as GetFilling runs it, then the reading in the layout it chose.
void TypeQuery(Call& c) {
    Filling(c);
    if (c.InRange()) FUZZ_CHECK(c.driver.ColumnType(c.line, c.column) <= 9);
    const std::uint8_t before = c.InRange() ? c.driver.ColumnType(c.line, c.column) : 0;
    c.driver.QueryType(static_cast<std::uint8_t>(c.line), static_cast<std::uint8_t>(c.column));
    const std::uint8_t after = c.driver.ColumnType(c.line, c.column);
    FUZZ_CHECK(after <= 8 || after == before);
}

// Whether a transaction's reply holds a digit (bits 4 and 5 set) after the data byte that is
// not examined, in a data frame.
bool HasDigit(const dorv::fuzz::FuzzLink::Transaction& t) {
    return t.reply.size() > 3 && t.reply[0] == 0x02 && (t.reply[3] & 0x30) == 0x30;
}

// A value read never comes from a reply without digits (an acknowledgement, a refusal, a data
// frame without them): only a parameter that has none (numbers 52 to 59) reads 0 from a bare
// data frame.
void CheckReading(Call& c, std::int64_t v) {
    FUZZ_CHECK(v >= -1);
    if (v < 0) return;
    FUZZ_CHECK(!c.link.log.empty());
    const auto& t = c.link.log.back();
    FUZZ_CHECK(t.command == 'N');
    if (HasDigit(t)) return;
    const int number = t.argument - '0';
    FUZZ_CHECK(!t.reply.empty() && t.reply[0] == 0x02 && v == 0);
    FUZZ_CHECK(number >= 0 && number < dorv::cmd::kParameterCount && dorv::cmd::kParamDigits[static_cast<std::size_t>(number)] == 0);
}

void Parameter(Call& c) {
    const std::int32_t v = c.driver.GetParam(c.line, c.column, c.arg);
    CheckReading(c, v);
}

void TransportRead(Call& c) {
    // Kinds 1 and 2 are write-only; numbers 60..63 are outside the table.
    const std::uint8_t kind = c.flag ? static_cast<std::uint8_t>(c.arg >> 6) : 0;
    const std::int64_t v = c.driver.ReadParameter(kind, c.line, c.column * 2, c.arg % 64, 0);
    CheckReading(c, v);
}

void Authorize(Call& c) {
    const int nozzle = c.arg % 5;
    dorv::DriverSettings s = c.driver.Settings();
    s.forceStart = true;
    c.driver.ApplySettings(s);
    if (c.InRange()) c.driver.SetNozzleState(c.line, c.column, nozzle, 0xE1);
    c.driver.AuthorizeNozzle(c.line, c.column, nozzle, c.flag ? 1 : 0);
}

void Price(Call& c) {
    dorv::DriverSettings s = c.driver.Settings();
    s.readDecimalTRK = true;
    c.driver.ApplySettings(s);
    const bool inRange = c.InRange();
    const std::int32_t priceBefore = inRange ? c.driver.PriceScale(c.line, c.column) : 0;
    const std::int32_t amountBefore = inRange ? c.driver.AmountScale(c.line, c.column) : 0;
    // However the price ends: a decimals read whose reply held no digit changed no scale and
    // leaves the column's decimals to be read again.
    auto check = [&] {
        if (!inRange) return;
        const std::int32_t price = c.driver.PriceScale(c.line, c.column);
        const std::int32_t amount = c.driver.AmountScale(c.line, c.column);
        FUZZ_CHECK(price == 0 || price == 1 || price == 10 || price == 100);
        FUZZ_CHECK(amount == 0 || amount == 1 || amount == 100);
        if (c.link.log.empty() || c.link.log.front().command != 'N' || HasDigit(c.link.log.front())) return;
        FUZZ_CHECK(price == priceBefore && amount == amountBefore);
        FUZZ_CHECK(c.driver.DecimalsPending(c.line, c.column));
    };
    try {
        c.driver.SetPrice(c.line, c.column, c.arg % 5, 0, (c.arg >> 3) * 1.37);
    } catch (const dorv::Exception&) {
        check();
        throw;
    }
    check();
}

void CounterWrite(Call& c) {
    const double value = c.arg * 1234.5;
    c.driver.WriteCounter(c.line, c.column, c.arg % 5, &value, 0, 0, 0);
}

// A price, then a money dose: in litres with StartInLiter, else in money.
void Dose(Call& c) {
    const int nozzle = c.arg % 5;
    c.driver.SetPrice(c.line, c.column, nozzle, 0, 1 + (c.arg >> 3) * 2.5);
    c.driver.PresetAmount(c.line, c.column, nozzle, 0, c.arg * 77.7);
    if (c.InRange()) FUZZ_CHECK(Finite(c.driver.OrderedVolume(c.line, c.column)));
}

void TransportWrite(Call& c) {
    // Number 27 runs the calibration sequence; kind 2 programs a network address.
    const std::int64_t number = c.flag ? 27 : c.arg % 60;
    c.driver.WriteParameter(static_cast<std::uint8_t>(c.arg % 4), c.line, c.column, number, c.arg % 9, c.arg * 1001);
}

void StopRelease(Call& c) {
    c.driver.StopAndRelease(c.line, c.column, c.arg % 5, c.flag ? 1 : 0);
    c.driver.StopColumn(c.line, c.column, 1);
}

using Command = void (*)(Call&);
constexpr Command kCommands[] = {Status,    ShortFilling, Filling,      Counters, TypeQuery,      Parameter,  TransportRead,
                                 Authorize, Price,        CounterWrite, Dose,     TransportWrite, StopRelease};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dorv::fuzz::ScratchDir::Get();  // before any driver reads its settings file
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return -1;
    Input input(data, size);
    const std::uint8_t command = input.Byte();
    const std::uint8_t settings = input.Byte();
    const int line = input.Byte() % (dorv::kLines + 1);
    const int column = input.Byte() % (dorv::kMaxColumn + 2);
    const std::uint8_t arg = input.Byte();

    FuzzLink link(input);
    TVM30 driver(0, &link);
    dorv::DriverSettings s = driver.Settings();
    s.specAvtomatika = settings & 0x01;
    s.forceStart = settings & 0x02;
    s.readDecimalTRK = settings & 0x04;
    s.noVerifeAuthorization = settings & 0x08;
    s.startInLiter = settings & 0x10;
    static constexpr std::uint8_t kPistSteps[] = {1, 2, 0, 255};
    s.pistStep = kPistSteps[(settings >> 5) & 3];
    driver.ApplySettings(s);

    Call call{driver, link, line, column, arg, (settings & 0x80) != 0};
    try {
        kCommands[command % (sizeof kCommands / sizeof kCommands[0])](call);
    } catch (const dorv::Exception&) {
        // Out-of-range input or a failed line: the driver's way of saying no.
    }
    // The line status stays readable whatever happened (lines without an entry read 0).
    if (line >= dorv::kLines) FUZZ_CHECK(driver.GetLineStatus(static_cast<std::uint8_t>(line)) == 0);
    return 0;
}
