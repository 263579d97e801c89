// Texts between the window logic (UTF-8) and the system's wide-character functions. The windows
// use the wide functions so that the Cyrillic captions show on any system code page, not only
// on a Windows whose code page is 1251.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace dorv::ui::win32 {

inline std::wstring Wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

inline std::string Utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

inline std::wstring WindowText(HWND window) {
    const int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    GetWindowTextW(window, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(n));
    return text;
}

}  // namespace dorv::ui::win32
