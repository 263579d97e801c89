// The parameter transport of the service window: controllers by their raw address, values as
// the window's signed 64-bit raw values. Every request goes out in exactly one exchange.
#include <limits>
#include <optional>

#include "commands.h"
#include "digits.h"
#include "messages.h"
#include "tvm30.h"

namespace dorv {

namespace {

// The calibration coefficient, written only behind the password.
constexpr int kCalibrationCoefficient = 27;
constexpr std::int32_t kPasswordValue = 5821;

constexpr std::int64_t kMaxWriteDigits = static_cast<std::int64_t>(codec::kMaxRequest) - 4;

bool IsNumbered(std::int64_t number) { return number >= 0 && number < cmd::kParameterCount; }

// Password, coefficient, password read back. `column` is the window's address, as nozzle 1.
void Calibrate(TVM30& driver, std::uint8_t line, std::int64_t column, std::int64_t value) {
    if (column < 0 || column > kMaxColumn) throw Exception(msg::kColumnRange);
    // Checked before the password goes out: a coefficient that cannot travel is no half-done
    // calibration.
    if (value < 0 || value > std::numeric_limits<std::int32_t>::max()) throw Exception(msg::kValueRange);
    const auto c = static_cast<std::int32_t>(column);
    driver.WriteNumberedParam(line, c, cmd::kPasswordNumber, kPasswordValue);
    driver.WriteNumberedParam(line, c, kCalibrationCoefficient, static_cast<std::int32_t>(value));
    driver.GetParam(line, c, cmd::kFirstNumbered + cmd::kPasswordNumber);
}

}  // namespace

std::int64_t TVM30::ReadParameter(std::uint8_t kind, std::int32_t line, std::int32_t address, std::int32_t number,
                                  std::int32_t /*digits: ParamDigits rules*/) {
    if (kind != static_cast<std::uint8_t>(AccessKind::Numbered)) return -1;  // write-only kinds
    if (!IsNumbered(number)) throw Exception(msg::kParameterRange);
    CheckAddress(address);
    Record r = cmd::NumberedRead(AddressOf(address), number);
    const cmd::Reply reply = cmd::Transfer(*this, line, r, 4, cmd::NumberedReplyLength(number), 2);
    if (!reply.Completed()) throw ESerialIO(msg::kLinkFailed);
    if (reply.lineState != kLineAnswered) throw ESerialIO(msg::kDispenserSilent);
    if (reply.Refused()) {
        StoreLineStatus(line, cmd::kParameterRefused);
        return -1;
    }
    // Read to the first byte that is no digit, not to the digit count: the ID number (52)
    // answers with more digits than the table gives it.
    const std::optional<std::int64_t> v = cmd::NumberedReading(r, reply, number);
    if (!v) {
        // No value in the answer: the caller keeps what it had and shows a read error.
        StoreLineStatus(line, kLineFrameError);
        return -1;
    }
    return *v;
}

bool TVM30::WriteParameter(std::uint8_t kind, std::int64_t line, std::int64_t address, std::int64_t number, std::int64_t digits,
                           std::int64_t value) {
    const auto l = static_cast<std::uint8_t>(line);  // the line travels as its low byte
    switch (static_cast<AccessKind>(kind)) {
        case AccessKind::Numbered: {
            // Only a numbered write of the coefficient: with the other kinds the number is a
            // setting's number or a controller's ID.
            if (number == kCalibrationCoefficient) {
                Calibrate(*this, l, address, value);
                return true;
            }
            if (!IsNumbered(number)) throw Exception(msg::kParameterRange);
            CheckAddress(address);
            // Every digit asked for travels (counters have 8, the ID number 13), up to what a
            // frame holds.
            if (digits < 0 || digits > kMaxWriteDigits) throw Exception(msg::kValueRange);
            Record r = cmd::NumberedWrite(AddressOf(address), static_cast<int>(number), digits::LowDigits(value, static_cast<int>(digits)));
            // A refusal is not looked at: the window reads the value back.
            return cmd::Transfer(*this, l, r, static_cast<std::size_t>(digits) + 4, 2, 0).Completed();
        }
        case AccessKind::Common: {
            // One character each, as SetParam sends them.
            if (number < 0 || number > 9) throw Exception(msg::kParameterRange);
            if (value < 0 || value > 9) throw Exception(msg::kValueRange);
            Record r = cmd::CommonWrite(static_cast<int>(number), static_cast<int>(value));
            return cmd::Transfer(*this, l, r, 4, 0, 0).Completed();
        }
        case AccessKind::NetworkAddress:
            // An ID cut to its low 32 bits would be another controller's.
            if (number < 0 || number > std::numeric_limits<std::int32_t>::max()) throw Exception(msg::kValueRange);
            // Raises on every failure but a refusal, which shows in the line status.
            ProgramNozzleAddress(l, static_cast<std::uint8_t>(address), static_cast<std::int32_t>(number),
                                 static_cast<std::int32_t>(value % 100));
            return true;
    }
    return false;  // no other kind is transferred
}

}  // namespace dorv
