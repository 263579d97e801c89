// CParameter: one controller setting the service window reads and writes - its number, how it
// travels (Digits), how the raw integer the controller knows maps to what the operator sees and
// types, its bounds, its tab, and the last value read or about to be written.
//
// Thread safety: the constant description (everything set by the constructor and AddChoice)
// never changes once the catalogue is shared, so any thread may read it. The fields that the
// window and the read and write runs both touch - Value, ReadText, ReadError and Number (which
// the window overwrites for the address-programming entry) - sit behind the descriptor's own
// mutex; use the accessors, and RecordRead / RecordFailedRead to change the three read fields
// together so a drawing never sees a new value beside an old text. The conversions only read
// constant fields and may run on any thread.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "number_locale.h"

namespace dorv::params {

// Value types.
enum : std::uint8_t {
    kTypeNumber = 0,             // per-nozzle number, raw = shown x 10^Decimals
    kTypeChoice = 1,             // per-nozzle choice, raw = position in Choices
    kTypePair = 2,               // per-nozzle pair, raw = high x 1000 + low
    kTypeTemperature = 3,        // 0..200 as is, 201..299 for -1..-99
    kTypeSensorSwitch = 4,       // read as type 3; written 1 (sensor on) or 200 (off)
    kTypeHeaterTemperature = 5,  // as type 3, -20..0
    kTypeCommonNumber = 6,
    kTypeCommonChoice = 7,
    kTypeNetworkAddress = 8,
    kMaxType = 8,
};

// Tabs of the window.
enum : std::uint8_t { kSectionCommon = 0, kSectionAddress = 1, kSectionNumbered = 2 };

// A consistent copy of the fields the read paths change.
struct ReadState {
    std::int64_t value = 0;
    std::string readText;
    bool readError = false;
};

class CParameter {
public:
    CParameter(std::uint8_t number, std::uint8_t digits, std::uint8_t decimals, std::string name, std::string unit, std::int64_t value,
               std::int64_t min, std::int64_t max, std::uint8_t type, std::uint8_t section, bool skipWriteAll);
    CParameter(const CParameter&) = delete;
    CParameter& operator=(const CParameter&) = delete;

    // ---- the description ----
    std::uint8_t Digits() const { return digits_; }
    std::uint8_t Decimals() const { return decimals_; }
    const std::string& Name() const { return name_; }
    const std::string& Unit() const { return unit_; }
    std::int64_t Min() const { return min_; }
    std::int64_t Max() const { return max_; }
    std::uint8_t Type() const { return type_; }
    std::uint8_t Section() const { return section_; }
    bool SkipWriteAll() const { return skipWriteAll_; }
    const std::vector<std::string>& Choices() const { return choices_; }
    // Only while the catalogue is being filled, before any other thread sees the descriptor.
    void AddChoice(std::string text) { choices_.push_back(std::move(text)); }

    // ---- the shared fields ----
    std::int32_t Number() const;
    void SetNumber(std::int32_t number);
    std::int64_t Value() const;
    void SetValue(std::int64_t value);
    std::string ReadText() const;
    void SetReadText(std::string text);
    bool ReadError() const;
    void SetReadError(bool failed);
    ReadState State() const;
    // A successful read: Value, ReadText and a cleared ReadError in one step.
    void RecordRead(std::int64_t raw, std::string text);
    // A failed read: ReadError set; Value kept; ReadText emptied when `clearText`.
    void RecordFailedRead(bool clearText);

    // ---- conversions; none changes the descriptor ----
    // 10^n for n >= 1, 1 for n <= 0, built by repeated multiplication.
    static double PowerOfTen(std::int32_t n);
    // The shown number of a raw value: scaled by 10^-Decimals for type 0, unchanged otherwise.
    double RawToValue(std::int32_t raw) const;
    double GetStep() const { return RawToValue(1); }
    double GetMinValue() const;
    double GetMaxValue() const;
    // The raw value of a shown number: x x 10^Decimals, rounded half to even. No bounds check
    // against Min/Max (the editor's bounds guard that); raises dorv::Exception when the result
    // is not a number or does not fit 32 bits.
    std::int32_t ValueToRaw(double x) const;
    // The display text of a raw value. Raises dorv::Exception "Ошибка при преобразовании
    // параметра в текстовый вид" for a negative raw value, a type above 8, and a number
    // whose integer part has more digits than the field carries.
    std::string RawToText(std::int64_t raw, const NumberLocale& locale) const;
    // A bound (raw, low 32 bits) in the number format, without the field-width check; for the
    // limits text of types 0, 6 and 8.
    std::string LimitText(std::int64_t rawBound, const NumberLocale& locale) const;

private:
    // The number format of types 0, 6 and 8 for a raw value already taken to 32 bits.
    std::string NumberText(std::int32_t raw, const NumberLocale& locale, bool checkWidth) const;

    const std::uint8_t digits_;
    const std::uint8_t decimals_;
    const std::string name_;
    const std::string unit_;
    const std::int64_t max_;
    const std::uint8_t type_;
    const std::uint8_t section_;
    const bool skipWriteAll_;
    std::vector<std::string> choices_;
    const std::int64_t min_;

    mutable std::mutex mutex_;
    std::int32_t number_;
    std::int64_t value_;
    std::string readText_;
    bool readError_ = false;
};

// x rounded to the nearest integer, halves to the even neighbour (the rounding of the stations'
// run-time library). Raises dorv::Exception for a value that is no number or exceeds 64 bits.
std::int64_t RoundToInteger(double x);

// The low 32 bits of a raw value, as signed: how bounds, buffer files and the number format see
// a 64-bit value.
inline std::int32_t LowWord(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(v))); }

}  // namespace dorv::params
