#include "window_placement.h"

namespace dorv::ui::win32 {
namespace {

bool ReadValue(HKEY key, const wchar_t* name, LONG& value) {
    DWORD data = 0;
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS || type != REG_DWORD)
        return false;
    value = static_cast<LONG>(data);
    return true;
}

}  // namespace

bool WindowPlacement::Restore(HWND window) const {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    LONG left = 0, top = 0;
    const bool read = ReadValue(key, L"Left", left) && ReadValue(key, L"Top", top);
    RegCloseKey(key);
    if (!read || !MonitorFromPoint(POINT{left + 8, top + 8}, MONITOR_DEFAULTTONULL)) return false;
    SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

void WindowPlacement::Save(HWND window) const {
    RECT r{};
    if (!GetWindowRect(window, &r)) return;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) return;
    const DWORD left = static_cast<DWORD>(r.left), top = static_cast<DWORD>(r.top);
    RegSetValueExW(key, L"Left", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&left), sizeof left);
    RegSetValueExW(key, L"Top", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&top), sizeof top);
    RegCloseKey(key);
}

}  // namespace dorv::ui::win32
