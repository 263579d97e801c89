// TDriverSettingForm: the logic of the driver settings dialog, in which the engineer edits the
// seven settings of the driver the parameter window works on. Confirming changes the live
// settings at once and saves them; cancelling changes nothing.
//
// Thread safety: user-interface thread only.
#pragma once

#include <cstdint>

#include "driver/settings.h"
#include "driver_binding.h"
#include "view_types.h"

namespace dorv::ui {

// The dialog's controls. Radio group PistStepEdit: item 0 "Сплошная", item 1 "Чередующаяся".
struct DriverSettingControls {
    int pistStepIndex = -1;         // PistStepEdit's selected item; -1: none
    bool freeStartEnabled = false;  // FreeStartEnabledEdit -> FreeStartEn
    bool summaToLiter = false;      // SummaToLiterEdit -> StartInLiter
    bool forceStart = false;        // ForceStartEdit -> ForceStart
    bool noVerifStart = false;      // NoVerifStart -> NoVerifeAuthorization
    bool specAutomatika = false;    // SpecAutomatika -> SpecAvtomatika
    bool readDecimalTRK = false;    // ReadDecimalTRK -> ReadDecimalTRK
    bool operator==(const DriverSettingControls&) const = default;
};

// What the dialog's drawing layer does. UI thread only. Captions: ui/texts.h.
class DriverSettingsDialogView {
public:
    virtual ~DriverSettingsDialogView() = default;
    virtual void LoadControls(const DriverSettingControls& controls) = 0;
    // Shows the dialog modally; Ok only for "Применить", Cancel for "Отмена", Esc and the
    // window's close button.
    virtual DialogResult ShowModal() = 0;
    virtual DriverSettingControls Controls() const = 0;
};

class TDriverSettingForm {
public:
    static constexpr int kPistStepItems = 2;

    explicit TDriverSettingForm(DriverSettingsDialogView& view) : view_(view) {}

    // Loads the controls from the driver, shows the dialog and, when it closes with OK, applies
    // all seven settings and saves them. Returns true when applied. A failing save raises
    // after the live settings have changed.
    bool Execute(DriverSettingsAccess& driver);

    static DriverSettingControls ControlsFor(const DriverSettings& settings);
    static DriverSettings SettingsFrom(const DriverSettingControls& controls);
    // PistStep 0 selects nothing; above 2 the group keeps the index within its items, so the
    // second item.
    static int PistStepItemIndex(std::uint8_t pistStep);
    // The selected item + 1; no selection gives 0.
    static std::uint8_t PistStepFromItemIndex(int index);

private:
    DriverSettingsDialogView& view_;
};

}  // namespace dorv::ui
