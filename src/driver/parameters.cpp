// The host's parameter commands: the type query, numbered parameter reads and writes, common
// settings, network-address programming, and the line set-up.
#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "commands.h"
#include "digits.h"
#include "messages.h"
#include "tvm30.h"

namespace dorv {

namespace {

// What ConfigureLine selects for the dispensers' lines: 8 data bits, no parity, one stop bit,
// at 4800 baud.
constexpr std::int32_t kLineFormat = 42;
constexpr std::int32_t kLineBaud = 4800;

// Host parameter 9 programs a network address: value = ID number x 100 + new address.
constexpr std::int32_t kProgramAddressParameter = 9;

// Nozzle and number of a parameter index (host parameter - 10).
struct NumberedTarget {
    std::int32_t nozzle;
    int number;
};

NumberedTarget Split(std::int32_t index) {
    if (index < 0) throw Exception(msg::kParameterRange);
    const NumberedTarget t{index / cmd::kHostParamsPerNozzle + 1, index % cmd::kHostParamsPerNozzle};
    // A nozzle beyond the column's four would address another column's controller.
    CheckNozzle(t.nozzle);
    return t;
}

}  // namespace

void TVM30::QueryType(std::uint8_t line, std::uint8_t column) {
    cmd::CheckTarget(line, column);
    Record r = cmd::Request(Address(column, 1, pistStep_), cmd::kType);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 3, 6, 2);
    if (!reply.Completed()) throw ESerialIO(msg::kGetType);
    if (!reply.Answered()) return;
    // '@' is type 0 and 'A'..'H' types 1..8; any other character, those below '@' included,
    // gives type 1.
    const auto type = static_cast<std::uint8_t>(r[cmd::DataIndex(1)] - 0x40);
    SetColumnType(line, column, type > 8 ? 1 : type);
}

std::int32_t TVM30::GetParam(std::int32_t line, std::int32_t column, std::int32_t hostParameter) {
    CheckColumn(column);
    if (hostParameter < cmd::kFirstNumbered) return -1;  // common settings cannot be read
    const NumberedTarget t = Split(hostParameter - cmd::kFirstNumbered);
    Record r = cmd::NumberedRead(Address(column, t.nozzle, pistStep_), t.number);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 4, cmd::NumberedReplyLength(t.number), 2);
    if (!reply.Completed()) throw ESerialIO(msg::kGetParam);
    if (!reply.Answered()) return -1;
    if (reply.Refused()) {
        StoreLineStatus(line, cmd::kParameterRefused);
        return -1;
    }
    const std::optional<std::int64_t> v = cmd::NumberedReading(r, reply, t.number);
    if (!v) {
        // An answer without the value: say so rather than hand the host a 0.
        StoreLineStatus(line, kLineFrameError);
        return -1;
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(*v, std::numeric_limits<std::int32_t>::max()));
}

void TVM30::WriteNumberedParam(std::int32_t line, std::int32_t column, std::int32_t index, std::int32_t value) {
    CheckColumn(column);
    const NumberedTarget t = Split(index);
    const int d = cmd::kParamDigits[static_cast<std::size_t>(t.number)];
    // The parameter's own digit count: higher digits of the value are dropped.
    Record r = cmd::NumberedWrite(Address(column, t.nozzle, pistStep_), t.number, digits::LowDigits(value, d));
    const cmd::Reply reply = cmd::Transfer(*this, line, r, static_cast<std::size_t>(d) + 4, 2, 0);
    if (!reply.Completed()) throw ESerialIO(msg::kGetParam);
    if (reply.Refused()) StoreLineStatus(line, cmd::kParameterRefused);
}

std::int32_t TVM30::SetupLine(std::uint8_t line) {
    link_->SetLineConfigurator(line, &TVM30::ReconfigureLine, this);
    return ReconfigureLine(this, line);
}

std::int32_t TVM30::ReconfigureLine(void* context, std::uint8_t line) {
    return static_cast<TVM30*>(context)->link_->ConfigureLine(line, kLineFormat, kLineBaud);
}

void TVM30::SetParam(std::int32_t line, std::int32_t column, std::int32_t hostParameter, std::int32_t value) {
    CheckColumn(column);
    if (hostParameter < kProgramAddressParameter) {
        // Settings travel as one character each: numbers 0..8, values 0..9.
        if (hostParameter < 0) throw Exception(msg::kParameterRange);
        if (value < 0 || value > 9) throw Exception(msg::kValueRange);
        Record r = cmd::CommonWrite(hostParameter, value);
        // Nobody answers a setting sent to the whole line; only the link's failure counts.
        if (!cmd::Transfer(*this, line, r, 4, 0, 0).Completed()) throw ESerialIO(msg::kSetParam);
        return;
    }
    if (hostParameter == kProgramAddressParameter) {
        CheckLine(line);
        ProgramNozzleAddress(static_cast<std::uint8_t>(line), static_cast<std::uint8_t>(column), value / 100, value % 100);
        return;
    }
    WriteNumberedParam(line, column, hostParameter - cmd::kFirstNumbered, value);
}

void TVM30::ProgramNozzleAddress(std::uint8_t line, std::uint8_t column, std::int32_t idNumber, std::int32_t newAddress) {
    CheckColumn(column);  // the request names no column, but a wrong one is the caller's error
    // A sign has no place on the wire: a negative ID number or address would program some
    // other controller.
    if (idNumber < 0 || newAddress < 0 || newAddress > 999) throw Exception(msg::kValueRange);
    std::string id = std::to_string(idNumber);
    const std::size_t width = id.size() <= 5 ? 5 : 10;
    id.insert(0, width - id.size(), '0');
    std::string address = std::to_string(newAddress);
    address.insert(0, 3 - address.size(), '0');

    // [0x02, ']', ID characters 1..5, address, ID characters 6..10 when the ID is long].
    Record r{};
    r[0] = cmd::kUnaddressedGroup;
    r[1] = cmd::kProgramAddress;
    cmd::Put(r, 2, std::string_view(id).substr(0, 5));
    cmd::Put(r, 7, address);
    if (width == 10) cmd::Put(r, 10, std::string_view(id).substr(5));
    const cmd::Reply reply = cmd::Transfer(*this, line, r, width + 5, 2, 0);
    if (!reply.Completed()) throw ESerialIO(msg::kSetAddress);
    if (!reply.Answered()) throw ESerialIO(msg::kAddressNotAnswered);
    if (reply.Refused()) StoreLineStatus(line, cmd::kAddressRefused);
}

}  // namespace dorv
