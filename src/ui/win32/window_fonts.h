// The windows' fonts as the stations' forms have them: the parameter window in "MS Sans Serif"
// 11 pixels (bold on its buttons, 13 pixels bold on "Настройки драйвера"), the settings dialog
// in "Tahoma" 13 pixels. Cyrillic character set, so a system without these faces picks one that
// has the letters.
#pragma once

#include <windows.h>

namespace dorv::ui::win32 {

class Font {
public:
    Font(const wchar_t* face, int pixels, bool bold);
    ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    HFONT Handle() const { return font_; }

private:
    HFONT font_;
};

inline constexpr const wchar_t* kParamWindowFace = L"MS Sans Serif";
inline constexpr int kParamWindowPixels = 11;
inline constexpr int kSettingsButtonPixels = 13;
inline constexpr const wchar_t* kDialogFace = L"Tahoma";
inline constexpr int kDialogPixels = 13;

// Sets `font` on a control without redrawing it yet.
inline void SetFont(HWND control, const Font& font) { SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.Handle()), FALSE); }

}  // namespace dorv::ui::win32
