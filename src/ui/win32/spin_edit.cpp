#include "spin_edit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "modal_loop.h"
#include "win32_strings.h"

namespace dorv::ui::win32 {

SpinEdit::SpinEdit(HWND parent, int editId, int spinId, HFONT font, DWORD editStyle, std::string decimalSeparator)
    : decimalSeparator_(std::move(decimalSeparator)) {
    edit_ = CreateChild(parent, WC_EDITW, WS_TABSTOP | ES_AUTOHSCROLL | editStyle, WS_EX_CLIENTEDGE, editId);
    SendMessageW(edit_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    updown_ = CreateChild(parent, UPDOWN_CLASSW, UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0, spinId);
    SendMessageW(updown_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit_), 0);
    // The up-down only reports steps (OnDeltaPos); the number lives in the edit.
    SendMessageW(updown_, UDM_SETRANGE32, static_cast<WPARAM>(-1), 1);
}

void SpinEdit::SetRange(const Range& range) { range_ = range; }

std::string SpinEdit::Format(double value) const {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", range_.decimals, value);
    std::string text = buffer;
    if (const auto dot = text.find('.'); dot != std::string::npos) text.replace(dot, 1, decimalSeparator_);
    return text;
}

void SpinEdit::SetValue(double value) {
    value = std::clamp(value, range_.min, std::max(range_.min, range_.max));
    SetWindowTextW(edit_, Wide(Format(value)).c_str());
}

double SpinEdit::Value() const {
    std::string clean;
    for (char c : Utf8(WindowText(edit_))) {
        if (c == ',' || c == '.')
            clean += '.';
        else if (c == '-' || (c >= '0' && c <= '9'))
            clean += c;
    }
    const double value = clean.empty() ? 0.0 : std::strtod(clean.c_str(), nullptr);
    return std::clamp(value, range_.min, std::max(range_.min, range_.max));
}

double SpinEdit::Commit() {
    const double value = Value();
    const std::wstring text = Wide(Format(value));
    if (WindowText(edit_) != text) SetWindowTextW(edit_, text.c_str());
    return value;
}

bool SpinEdit::OnDeltaPos(const NMUPDOWN& change) {
    if (change.hdr.hwndFrom != updown_) return false;
    SetValue(Value() + change.iDelta * range_.increment);
    SendMessageW(edit_, EM_SETSEL, 0, -1);
    return true;
}

void SpinEdit::Show(int x, int y, int width, int height, HWND insertAfter) {
    // Without `insertAfter` the pair keeps its place in the tab order.
    const UINT order = insertAfter ? 0 : SWP_NOZORDER;
    SetWindowPos(edit_, insertAfter, x, y, std::max(1, width), std::max(1, height), SWP_SHOWWINDOW | SWP_NOACTIVATE | order);
    SendMessageW(updown_, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit_), 0);  // re-aligns it
    SetWindowPos(updown_, edit_, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE | order);
}

void SpinEdit::Hide() {
    ShowWindow(edit_, SW_HIDE);
    ShowWindow(updown_, SW_HIDE);
}

}  // namespace dorv::ui::win32
