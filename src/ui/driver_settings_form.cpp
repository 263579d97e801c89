#include "driver_settings_form.h"

#include <algorithm>

namespace dorv::ui {

int TDriverSettingForm::PistStepItemIndex(std::uint8_t pistStep) { return std::min(static_cast<int>(pistStep) - 1, kPistStepItems - 1); }

std::uint8_t TDriverSettingForm::PistStepFromItemIndex(int index) {
    // A radio group's index is -1 or one of its items; anything else from a view is clamped.
    index = std::clamp(index, -1, kPistStepItems - 1);
    return static_cast<std::uint8_t>(index + 1);
}

DriverSettingControls TDriverSettingForm::ControlsFor(const DriverSettings& s) {
    return {PistStepItemIndex(s.pistStep), s.freeStartEn,    s.startInLiter,  s.forceStart,
            s.noVerifeAuthorization,       s.specAvtomatika, s.readDecimalTRK};
}

DriverSettings TDriverSettingForm::SettingsFrom(const DriverSettingControls& c) {
    DriverSettings s;
    s.pistStep = PistStepFromItemIndex(c.pistStepIndex);
    s.freeStartEn = c.freeStartEnabled;
    s.startInLiter = c.summaToLiter;
    s.forceStart = c.forceStart;
    s.noVerifeAuthorization = c.noVerifStart;
    s.specAvtomatika = c.specAutomatika;
    s.readDecimalTRK = c.readDecimalTRK;
    return s;
}

bool TDriverSettingForm::Execute(DriverSettingsAccess& driver) {
    view_.LoadControls(ControlsFor(driver.Settings()));
    if (view_.ShowModal() != DialogResult::Ok) return false;
    driver.ApplySettings(SettingsFrom(view_.Controls()));
    driver.SaveSettings();
    return true;
}

}  // namespace dorv::ui
