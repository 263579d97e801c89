#include "tvm30.h"

#include <cstring>

#include "addressing.h"
#include "messages.h"
#include "module.h"
#include "platform/cp1251.h"
#include "platform/settings_dir.h"

namespace dorv {

namespace {

// Creation flags (low byte of GetDI30's first argument).
constexpr std::int32_t kFlagAmountAsMoney = 0x10;  // set: money doses stay money
constexpr std::int32_t kFlagSpecAvtomatika = 0x20;
constexpr std::int32_t kFlagForceStart = 0x40;
constexpr std::int32_t kFlagNoVerify = 0x80;

}  // namespace

TVM30::TVM30(std::int32_t flags, HostLink* link) : link_(link) {
    for (int line = 1; line < kLines; ++line) {
        for (int column = 1; column <= 32; ++column) {
            columnType_.Set(ColumnIndex(line, column), 1);
            priceScale_.Set(ColumnIndex(line, column), 100);
            amountScale_.Set(ColumnIndex(line, column), 100);
            decimalsPending_.Set(ColumnIndex(line, column), 1);
        }
    }
    DriverSettings s;
    s.startInLiter = (flags & kFlagAmountAsMoney) == 0;
    s.forceStart = (flags & kFlagForceStart) != 0;
    s.noVerifeAuthorization = (flags & kFlagNoVerify) != 0;
    s.specAvtomatika = (flags & kFlagSpecAvtomatika) != 0;
    s.readDecimalTRK = false;
    ApplySettings(LoadSettings(platform::SettingsFilePath(), s));
    module::DriverCreated(this);
}

TVM30::~TVM30() { module::DriverDestroyed(this); }

DriverInfo TVM30::GetDriverInfo() {
    DriverInfo info{};
    const std::string text = platform::Utf8ToCp1251(msg::kDriverInfo);
    info.length = static_cast<std::uint8_t>(sizeof(info.text));
    std::memset(info.text, ' ', sizeof(info.text));
    std::memcpy(info.text, text.data(), std::min(text.size(), sizeof(info.text)));
    return info;
}

// Lines without an entry (above 39) are ignored on write and read as 0.
void TVM30::SetLineStatus(std::uint8_t line, std::uint8_t value) {
    if (line < kLines) StoreLineStatus(line, value);
}

std::uint8_t TVM30::GetLineStatus(std::uint8_t line) { return line < kLines ? LineStatusOf(line) : 0; }

bool TVM30::GetDriverProperty(std::int32_t number, std::int32_t* value) {
    std::int32_t v = 0;
    switch (static_cast<std::uint32_t>(number)) {
        case 1:
        case 4: v = freeStartEn_ ? 1 : 0; break;
        case 2:
        case 3:
        case 6: v = 0; break;
        case 5: v = 1; break;
        case 7: v = 400; break;
        case 9: v = 99999; break;
        default: return false;
    }
    if (value) *value = v;
    return true;
}

DriverSettings TVM30::Settings() const {
    DriverSettings s;
    s.pistStep = pistStep_;
    s.freeStartEn = freeStartEn_;
    s.startInLiter = startInLiter_;
    s.forceStart = forceStart_;
    s.noVerifeAuthorization = noVerifeAuthorization_;
    s.specAvtomatika = specAvtomatika_;
    s.readDecimalTRK = readDecimalTRK_;
    return s;
}

void TVM30::ApplySettings(const DriverSettings& s) {
    pistStep_ = s.pistStep;
    freeStartEn_ = s.freeStartEn;
    startInLiter_ = s.startInLiter;
    forceStart_ = s.forceStart;
    noVerifeAuthorization_ = s.noVerifeAuthorization;
    specAvtomatika_ = s.specAvtomatika;
    readDecimalTRK_ = s.readDecimalTRK;
}

void TVM30::SaveSettings() const { dorv::SaveSettings(platform::SettingsFilePath(), Settings()); }

void TVM30::SetScales(int line, int column, std::int32_t priceScale, std::int32_t amountScale) {
    priceScale_.Set(ColumnIndex(line, column), priceScale);
    amountScale_.Set(ColumnIndex(line, column), amountScale);
}

}  // namespace dorv
