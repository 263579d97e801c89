// TParamFrm: single reads and writes, the three in-cell editors and the status bar.
#include <algorithm>
#include <exception>

#include "driver/module.h"
#include "param_window.h"
#include "params/entry_transfer.h"
#include "texts.h"

namespace dorv::ui {

namespace {

constexpr int kPairHighMax = 999999999;
constexpr int kPairLowMax = 999;
// The temperature the controller reads as "sensor switched off", and the two sensor commands.
constexpr std::int64_t kSensorOff = 200;
constexpr std::int64_t kSensorOn = 1;
// An in-cell editor sits 5 pixels in from its cell's sides, its top 8 above the cell's middle.
constexpr int kEditorInset = 5;
int EditorTop(const Rect& cell) { return (cell.top + cell.bottom) / 2 - 8; }

SpinEditor IntegerEditor(double minValue, double maxValue, double value) {
    SpinEditor e;
    e.visible = true;
    e.minValue = minValue;
    e.maxValue = maxValue;
    e.value = std::clamp(value, minValue, maxValue);
    return e;
}

// Below zero the controller keeps 200 + degrees; the editors work in degrees.
double DecodedTemperature(std::int64_t raw) { return static_cast<double>(raw > kSensorOff ? kSensorOff - raw : raw); }

}  // namespace

// ---- editors ----

EditorLayout TParamFrm::SetupWriteEditor(int row) const {
    EditorLayout layout;  // WriteValueEdit's value starts at 0 whatever the type
    const auto catalogue = Catalogue();
    const params::CParameter* entry = EntryOfRow(catalogue.get(), row);
    if (!entry) return layout;
    const std::int64_t value = entry->Value();
    switch (entry->Type()) {
        case params::kTypeNumber:
        case params::kTypeCommonNumber:
        case params::kTypeNetworkAddress:
            layout.edit.visible = true;
            layout.edit.decimals = entry->Decimals();
            layout.edit.valueType = entry->Decimals() > 0 ? ValueType::Float : ValueType::Integer;
            layout.edit.increment = entry->GetStep();
            layout.edit.minValue = entry->GetMinValue();
            layout.edit.maxValue = entry->GetMaxValue();
            layout.edit.value = static_cast<double>(value) / params::CParameter::PowerOfTen(entry->Decimals());
            break;
        case params::kTypeChoice:
        case params::kTypeCommonChoice: {
            layout.combo.visible = true;
            layout.combo.items = entry->Choices();
            layout.combo.enabled = !layout.combo.items.empty();
            // A value without a text of its own selects nothing.
            const bool listed = value >= 0 && value < static_cast<std::int64_t>(layout.combo.items.size());
            layout.combo.itemIndex = layout.combo.enabled && listed ? static_cast<int>(value) : -1;
            break;
        }
        case params::kTypePair:
            layout.edit = IntegerEditor(0, kPairHighMax, 0);
            layout.edit2 = IntegerEditor(0, kPairLowMax, 0);
            break;
        case params::kTypeTemperature:
            // The editor starts at the temperature the row shows, not at the raw value (215
            // would be clamped to 200, and Enter would switch the sensor off).
            layout.edit = IntegerEditor(-99, 200, DecodedTemperature(value));
            break;
        case params::kTypeHeaterTemperature: layout.edit = IntegerEditor(-20, 0, DecodedTemperature(value)); break;
        case params::kTypeSensorSwitch:
            layout.combo.visible = true;
            layout.combo.items = entry->Choices();
            layout.combo.enabled = !layout.combo.items.empty();
            // 200 reads "switched off"; any other reading is a temperature, so the sensor is on.
            if (layout.combo.enabled) layout.combo.itemIndex = value == kSensorOff ? 1 : 0;
            break;
        default: break;
    }
    return layout;
}

void TParamFrm::HideEditors() {
    editors_ = EditorLayout{};
    view_.ApplyEditors(editors_);
}

void TParamFrm::PlaceWriteEditor(GridCell cell) {
    const auto catalogue = Catalogue();
    if (cell.row <= 0 || cell.column != kWriteColumn || RowHeight(cell.row) <= 0 || !EntryOfRow(catalogue.get(), cell.row)) {
        HideEditors();
        return;
    }
    EditorLayout layout = SetupWriteEditor(cell.row);
    const Rect r = view_.CellRect({kWriteColumn, cell.row});
    const int top = EditorTop(r);
    const Rect editor{r.left + kEditorInset, top, r.right - kEditorInset, top + 18};
    if (layout.combo.visible) {
        layout.combo.rect = editor;
        layout.focus = EditorId::WriteValueCB;
    } else if (layout.edit.visible && layout.edit2.visible) {
        const int m = (editor.left + editor.right) / 2;
        layout.edit.rect = {editor.left, editor.top, m - 5, editor.bottom};
        layout.edit2.rect = {m, editor.top, 2 * (m - 5) - editor.left, editor.bottom};
        layout.focus = EditorId::WriteValueEdit;
    } else if (layout.edit.visible) {
        layout.edit.rect = editor;
        layout.focus = EditorId::WriteValueEdit;
    }
    editors_ = layout;
    view_.ApplyEditors(editors_);
}

void TParamFrm::Timer2Timer() {
    view_.StopTimer(TimerId::EditorPlacement);
    PlaceWriteEditor(view_.CurrentCell());
}

void TParamFrm::RxDGCommonScrolled(bool cellInView) {
    if (!editors_.AnyVisible()) return;
    if (!cellInView) {
        PlaceWriteEditor({0, 0});
        return;
    }
    const Rect r = view_.CellRect(view_.CurrentCell());
    view_.MoveEditorsTo(r.left + kEditorInset, EditorTop(r));
}

void TParamFrm::WriteValueEditExit() {
    if (!editors_.AnyVisible()) return;
    if (!editors_.combo.visible && editors_.edit.visible && editors_.edit2.visible) {
        // The focus moving from one half of a pair to the other keeps both.
        const EditorId focused = view_.FocusedEditor();
        if (focused == EditorId::WriteValueEdit || focused == EditorId::WriteValueEdit2) return;
    }
    HideEditors();
}

void TParamFrm::WriteValueEditKeyDown(int key) {
    if (key != kEnterKey) return;
    const MessageResult answer =
        view_.ShowMessage({text::kConfirmWriteText, text::kConfirmWriteCaption, MessageButtons::OkCancel, MessageIcon::Question});
    if (answer == MessageResult::Ok) WriteSingleParam(view_.CurrentCell().row);
    view_.RepaintGrid();
}

// ---- single transfers ----

std::string TParamFrm::ReadSingleParam(int row) {
    const auto catalogue = Catalogue();
    params::CParameter* entry = EntryOfRow(catalogue.get(), row);
    if (!entry) return {};
    SyncTargetFromView();
    const DriverBinding driver = Driver();
    const module::DriverInUse inUse(driver.driver);
    if (params::ReadEntry(*entry, driver.transport.get(), CurrentTarget(), locale_)) return entry->ReadText();
    // The window shows an empty read cell after a failed single read.
    entry->RecordFailedRead(/*clearText=*/true);
    return {};
}

void TParamFrm::RxDGCommonDblClick(GridCell cell) {
    if (cell.row <= 0 || cell.column != kReadColumn) return;
    ReadSingleParam(cell.row);
    view_.RepaintGrid();
}

std::int64_t TParamFrm::ValueFromEditors(const params::CParameter& entry, const EditorValues& values) const {
    switch (entry.Type()) {
        case params::kTypeChoice:
        case params::kTypeCommonChoice: return entry.ValueToRaw(values.comboIndex);
        case params::kTypePair: return params::RoundToInteger(values.edit * 1000 + values.edit2);
        case params::kTypeTemperature:
        case params::kTypeHeaterTemperature: {
            const std::int64_t t = params::RoundToInteger(values.edit);
            return t < 0 ? kSensorOff - t : t;
        }
        case params::kTypeSensorSwitch: return values.comboIndex == 0 ? kSensorOn : values.comboIndex == 1 ? kSensorOff : 0;
        default: return entry.ValueToRaw(values.edit);
    }
}

void TParamFrm::WriteSingleParam(int row) {
    const auto catalogue = Catalogue();
    params::CParameter* entry = EntryOfRow(catalogue.get(), row);
    if (!entry) return;
    SyncTargetFromView();
    const params::Target target = CurrentTarget();
    const DriverBinding driver = Driver();
    // The host may free the driver from a message loop its link runs: it ends after this write.
    const module::DriverInUse inUse(driver.driver);
    std::string message;
    bool colourSet = false;
    StatusColour colour = StatusColour::Red;
    try {
        const auto kind = params::AccessKindOf(entry->Type());
        if (!driver) {
            message = text::kWriteImpossible;
        } else if (!kind) {
            message = text::kWriteFailed;
        } else {
            const std::int64_t value = ValueFromEditors(*entry, view_.CurrentEditorValues());
            if (!params::FitsDigitField(value, entry->Digits())) {
                // The transport would send only the lowest digits, and no sign: another number.
                message = ValueTooWideText(entry->Digits());
                colourSet = true;
            } else {
                if (entry->Type() == params::kTypeNetworkAddress) entry->SetNumber(view_.IdNumberValue());
                if (driver.transport->WriteParameter(*kind, target.line, target.address, entry->Number(), entry->Digits(), value)) {
                    message = text::kWriteDone;
                    colourSet = true;
                    colour = StatusColour::Green;
                    // The read-back shows what the controller took. Common commands and the
                    // address entry cannot be read: their -1 has no text and the bar turns red.
                    const std::int64_t back =
                        driver.transport->ReadParameter(*kind, target.line, target.address, entry->Number(), entry->Digits());
                    entry->SetValue(back);
                    entry->SetReadText(entry->RawToText(back, locale_));
                } else {
                    message = text::kWriteFailed;
                    colourSet = true;
                }
            }
        }
    } catch (const std::exception&) {
        colourSet = true;
        colour = StatusColour::Red;
    }
    if (colourSet) view_.SetStatusColour(colour);
    view_.SetStatusText(message);
    view_.StartTimer(TimerId::StatusColourReset, kStatusColourResetMs);
}

void TParamFrm::Timer1Timer() {
    view_.SetStatusColour(StatusColour::ButtonFace);
    view_.StopTimer(TimerId::StatusColourReset);
}

}  // namespace dorv::ui
