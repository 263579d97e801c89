#include "parameter.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dorv5000/exceptions.h"
#include "driver/messages.h"
#include "texts.h"

namespace dorv::params {

namespace {

// The format can carry at most this many decimals in 64-bit arithmetic.
constexpr int kMaxFormatDecimals = 9;

[[noreturn]] void ConversionFailed() { throw Exception(text::kConversionFailed); }

}  // namespace

CParameter::CParameter(std::uint8_t number, std::uint8_t digits, std::uint8_t decimals, std::string name, std::string unit,
                       std::int64_t value, std::int64_t min, std::int64_t max, std::uint8_t type, std::uint8_t section, bool skipWriteAll)
    : digits_(digits),
      decimals_(decimals),
      name_(std::move(name)),
      unit_(std::move(unit)),
      max_(max),
      type_(type),
      section_(section),
      skipWriteAll_(skipWriteAll),
      min_(min),
      number_(number),
      value_(value) {}

std::int32_t CParameter::Number() const {
    std::lock_guard lock(mutex_);
    return number_;
}

void CParameter::SetNumber(std::int32_t number) {
    std::lock_guard lock(mutex_);
    number_ = number;
}

std::int64_t CParameter::Value() const {
    std::lock_guard lock(mutex_);
    return value_;
}

void CParameter::SetValue(std::int64_t value) {
    std::lock_guard lock(mutex_);
    value_ = value;
}

std::string CParameter::ReadText() const {
    std::lock_guard lock(mutex_);
    return readText_;
}

void CParameter::SetReadText(std::string text) {
    std::lock_guard lock(mutex_);
    readText_ = std::move(text);
}

bool CParameter::ReadError() const {
    std::lock_guard lock(mutex_);
    return readError_;
}

void CParameter::SetReadError(bool failed) {
    std::lock_guard lock(mutex_);
    readError_ = failed;
}

ReadState CParameter::State() const {
    std::lock_guard lock(mutex_);
    return {value_, readText_, readError_};
}

void CParameter::RecordRead(std::int64_t raw, std::string text) {
    std::lock_guard lock(mutex_);
    value_ = raw;
    readText_ = std::move(text);
    readError_ = false;
}

void CParameter::RecordFailedRead(bool clearText) {
    std::lock_guard lock(mutex_);
    readError_ = true;
    if (clearText) readText_.clear();
}

double CParameter::PowerOfTen(std::int32_t n) {
    double result = 1.0;
    // Past 10^308 the product is infinite and stays so; stop there rather than loop on.
    for (std::int32_t i = 0; i < n && std::isfinite(result); ++i) result *= 10.0;
    return result;
}

double CParameter::RawToValue(std::int32_t raw) const {
    if (type_ == kTypeNumber) return raw / PowerOfTen(decimals_);
    return static_cast<double>(raw);
}

double CParameter::GetMinValue() const { return RawToValue(LowWord(min_)); }
double CParameter::GetMaxValue() const { return RawToValue(LowWord(max_)); }

std::int64_t RoundToInteger(double x) {
    // 2^63 is exact as a double; every double below it converts to int64 without overflow.
    constexpr double kLimit = 9223372036854775808.0;
    if (!std::isfinite(x)) throw Exception(msg::kValueRange);
    double rounded = std::floor(x);
    const double rest = x - rounded;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(rounded, 2.0) != 0.0)) rounded += 1.0;
    if (rounded < -kLimit || rounded >= kLimit) throw Exception(msg::kValueRange);
    return static_cast<std::int64_t>(rounded);
}

std::int32_t CParameter::ValueToRaw(double x) const {
    const std::int64_t raw = RoundToInteger(x * PowerOfTen(decimals_));
    if (raw < std::numeric_limits<std::int32_t>::min() || raw > std::numeric_limits<std::int32_t>::max()) throw Exception(msg::kValueRange);
    return static_cast<std::int32_t>(raw);
}

std::string CParameter::NumberText(std::int32_t raw, const NumberLocale& locale, bool checkWidth) const {
    if (decimals_ > kMaxFormatDecimals) ConversionFailed();
    // Type 0 keeps its decimals inside the raw value; types 6 and 8 show the raw number itself
    // with Decimals zeros after the separator.
    std::int64_t scaled = raw;
    std::int64_t wholePart = raw;
    std::int64_t unit = 1;
    for (int i = 0; i < decimals_; ++i) unit *= 10;
    if (type_ == kTypeNumber)
        wholePart = raw / unit;
    else
        scaled = static_cast<std::int64_t>(raw) * unit;
    if (checkWidth) {
        // The field carries Digits significant digits, Decimals of them after the separator; a
        // number with a longer integer part cannot have come from or go to the controller.
        const int wholeDigits = std::max(0, digits_ - decimals_);
        const std::uint64_t magnitude = wholePart < 0 ? 0 - static_cast<std::uint64_t>(wholePart) : static_cast<std::uint64_t>(wholePart);
        if (DigitCount(magnitude) > wholeDigits) ConversionFailed();
    }
    return FormatGrouped(scaled, decimals_, locale);
}

std::string CParameter::LimitText(std::int64_t rawBound, const NumberLocale& locale) const {
    return NumberText(LowWord(rawBound), locale, /*checkWidth=*/false);
}

std::string CParameter::RawToText(std::int64_t raw, const NumberLocale& locale) const {
    if (raw < 0 || type_ > kMaxType) ConversionFailed();
    switch (type_) {
        case kTypeChoice:
        case kTypeCommonChoice:
            if (raw < static_cast<std::int64_t>(choices_.size())) return choices_[static_cast<std::size_t>(raw)];
            return std::to_string(raw);
        case kTypePair: return std::to_string(raw / 1000) + " - " + std::to_string(raw % 1000);
        case kTypeTemperature:
        case kTypeSensorSwitch:
        case kTypeHeaterTemperature:
            // Below zero the controller counts from 200: 215 is -15.
            return std::to_string(raw > 200 ? 200 - raw : raw);
        default:
            // A value below the minimum shows as the minimum.
            return NumberText(std::max(LowWord(raw), LowWord(min_)), locale, /*checkWidth=*/true);
    }
}

}  // namespace dorv::params
