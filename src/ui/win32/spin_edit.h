// A spin edit: an edit with an up-down control beside it, holding a number within a range, shown
// with its decimals and stepped by its increment. What the field shows is what it means: text
// out of range or not a number is put right (the clamped value) when the field is left and
// before the number is used for a transfer, so a confirmation and the wire carry what the
// engineer sees.
//
// Thread safety: the window's thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

namespace dorv::ui::win32 {

class SpinEdit {
public:
    struct Range {
        double min = 0;
        double max = 0;
        double increment = 1;
        int decimals = 0;
    };

    // Creates the edit and its up-down as hidden children of `parent`.
    SpinEdit(HWND parent, int editId, int spinId, HFONT font, DWORD editStyle, std::string decimalSeparator = ".");
    HWND Edit() const { return edit_; }
    HWND UpDown() const { return updown_; }
    bool Owns(HWND window) const { return window && (window == edit_ || window == updown_); }

    void SetRange(const Range& range);
    // Shows `value` clamped to the range, with the range's decimals.
    void SetValue(double value);
    // What the text means: a number clamped to the range (0, clamped, when it is none).
    double Value() const;
    // Puts the text right: it becomes Value() as the field writes it. Returns that value.
    double Commit();
    // A step of its up-down (UDN_DELTAPOS); true when it was this one's.
    bool OnDeltaPos(const NMUPDOWN& change);
    // Places and shows the edit with its up-down at its right edge, both after `insertAfter` in
    // the Z-order (and so the tab order); null keeps their place.
    void Show(int x, int y, int width, int height, HWND insertAfter);
    void Hide();

private:
    std::string Format(double value) const;

    HWND edit_ = nullptr;
    HWND updown_ = nullptr;
    Range range_;
    std::string decimalSeparator_;
};

}  // namespace dorv::ui::win32
