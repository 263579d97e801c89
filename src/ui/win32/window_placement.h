// Where the settings dialog stood when it was last closed, kept between showings and between
// runs of the host in the user's part of the registry
// (HKEY_CURRENT_USER\Software\Dorv5000\<window>, values Left and Top), so an engineer finds it
// where they left it.
#pragma once

#include <windows.h>

#include <string>

namespace dorv::ui::win32 {

class WindowPlacement {
public:
    explicit WindowPlacement(std::wstring key) : key_(L"Software\\Dorv5000\\" + std::move(key)) {}

    // Moves `window` to the remembered place; false (nothing moved) when no place is remembered
    // or the place is on no monitor any more.
    bool Restore(HWND window) const;
    void Save(HWND window) const;

private:
    std::wstring key_;
};

}  // namespace dorv::ui::win32
