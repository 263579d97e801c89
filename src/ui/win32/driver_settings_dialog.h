// DriverSettingForm ("Настройки драйвера ТРК DORV") on Win32: the radio group of the nozzle
// numbering, six check boxes and "Применить" / "Отмена", shown modally over the parameter window.
// It remembers where it stood (WindowPlacement); the first showing puts it at its designed place.
//
// Thread safety: the window's thread only.
#pragma once

#include <windows.h>

#include <array>
#include <memory>

#include "modal_loop.h"
#include "ui/driver_settings_form.h"
#include "window_fonts.h"
#include "window_placement.h"

namespace dorv::ui::win32 {

class DriverSettingsDialogWindow final : public DriverSettingsDialogView {
public:
    explicit DriverSettingsDialogWindow(HWND owner);
    ~DriverSettingsDialogWindow() override;

    HWND Handle() const { return hwnd_; }
    // Ends a showing with the Cancel result (the driver is going away).
    void Cancel();

    void LoadControls(const DriverSettingControls& controls) override;
    DialogResult ShowModal() override;
    DriverSettingControls Controls() const override;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    HWND AddButton(int id, const char* caption, DWORD style, int x, int y, int width, int height);
    void End(DialogResult result);
    bool Checked(int id) const;
    void Check(int id, bool on);

    HWND owner_;
    HWND hwnd_ = nullptr;
    Font font_{kDialogFace, kDialogPixels, false};
    ModalLoop loop_;
    DialogResult result_ = DialogResult::Cancel;
    WindowPlacement placement_{L"DriverSettingForm"};
    bool placed_ = false;
};

}  // namespace dorv::ui::win32
