#include "window_fonts.h"

namespace dorv::ui::win32 {

Font::Font(const wchar_t* face, int pixels, bool bold)
    : font_(CreateFontW(-pixels, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, RUSSIAN_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face)) {}

Font::~Font() {
    if (font_) DeleteObject(font_);
}

}  // namespace dorv::ui::win32
