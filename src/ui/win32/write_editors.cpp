#include "write_editors.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "control_ids.h"
#include "host/fpu_control.h"
#include "modal_loop.h"
#include "win32_strings.h"

namespace dorv::ui::win32 {
namespace {

constexpr int kComboListHeight = 200;  // the drop-down list's room below the field

HWND Child(HWND parent, const wchar_t* cls, DWORD style, DWORD exStyle, int id) {
    return CreateWindowExW(exStyle, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
}

}  // namespace

WriteEditors::WriteEditors(HWND parent, HFONT font, std::string decimalSeparator)
    : decimalSeparator_(std::move(decimalSeparator)) {
    MakeSpin(edit_, parent, kWriteValueEdit, kWriteValueSpin, font);
    MakeSpin(edit2_, parent, kWriteValueEdit2, kWriteValueSpin2, font);
    combo_ = Child(parent, WC_COMBOBOXW, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, kWriteValueCB);
    SendMessageW(combo_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    SetWindowSubclass(combo_, &WriteEditors::EditorProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

WriteEditors::~WriteEditors() {
    for (HWND w : {edit_.edit, edit2_.edit, combo_}) RemoveWindowSubclass(w, &WriteEditors::EditorProc, 1);
}

void WriteEditors::MakeSpin(Spin& spin, HWND parent, int editId, int spinId, HFONT font) {
    spin.edit = Child(parent, WC_EDITW, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, editId);
    SendMessageW(spin.edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    spin.updown = Child(parent, UPDOWN_CLASSW, UDS_ALIGNRIGHT | UDS_ARROWKEYS, 0, spinId);
    SendMessageW(spin.updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(spin.edit), 0);
    SendMessageW(spin.updown, UDM_SETRANGE32, static_cast<WPARAM>(-1), 1);
    SetWindowSubclass(spin.edit, &WriteEditors::EditorProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

bool WriteEditors::Owns(HWND window) const {
    return window && (window == edit_.edit || window == edit_.updown || window == edit2_.edit ||
                      window == edit2_.updown || window == combo_ || IsChild(combo_, window));
}

LRESULT CALLBACK WriteEditors::EditorProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                          DWORD_PTR self) {
    const host::LibraryFpu fpu;  // an entry from the system's dispatch
    auto* editors = reinterpret_cast<WriteEditors*>(self);
    switch (msg) {
        case WM_GETDLGCODE:
            // Enter belongs to the editor, not to the window's dialog navigation.
            if (lParam) {
                const MSG* m = reinterpret_cast<const MSG*>(lParam);
                if (m->message == WM_KEYDOWN && m->wParam == VK_RETURN)
                    return DLGC_WANTALLKEYS | DefSubclassProc(hwnd, msg, wParam, lParam);
            }
            break;
        case WM_KEYDOWN:
            if (wParam == VK_RETURN) {
                if (editors->onEnter) editors->onEnter();
                return 0;
            }
            break;
        case WM_CHAR:
            if (wParam == L'\r') return 0;  // no beep for the Enter just handled
            break;
        case WM_KILLFOCUS: {
            // A message box or another window taking the focus is no leaving of the editor, nor
            // is the focus moving between the parts of one editor pair.
            const HWND next = reinterpret_cast<HWND>(wParam);
            const LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
            if (!editors->applying_ && next && GetAncestor(next, GA_ROOT) == GetAncestor(hwnd, GA_ROOT) &&
                !editors->Owns(next) && editors->onExit)
                editors->onExit();
            return result;
        }
        default: break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

double WriteEditors::SpinValue(const Spin& spin) const {
    std::string text = Utf8(WindowText(spin.edit));
    std::string clean;
    for (char c : text) {
        if (c == ',' || c == '.') clean += '.';
        else if (c == '-' || (c >= '0' && c <= '9')) clean += c;
    }
    const double value = clean.empty() ? 0.0 : std::strtod(clean.c_str(), nullptr);
    return std::clamp(value, spin.setup.minValue, std::max(spin.setup.minValue, spin.setup.maxValue));
}

void WriteEditors::SetSpinValue(Spin& spin, double value) {
    value = std::clamp(value, spin.setup.minValue, std::max(spin.setup.minValue, spin.setup.maxValue));
    const int decimals = spin.setup.valueType == ValueType::Integer ? 0 : spin.setup.decimals;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (const auto dot = text.find('.'); dot != std::string::npos) text.replace(dot, 1, decimalSeparator_);
    SetWindowTextW(spin.edit, Wide(text).c_str());
}

void WriteEditors::ApplySpin(Spin& spin, const SpinEditor& setup) {
    if (!setup.visible) {
        ShowWindow(spin.edit, SW_HIDE);
        ShowWindow(spin.updown, SW_HIDE);
        return;
    }
    // Decimals, increment and bounds first, then the value, which the bounds may clamp.
    spin.setup = setup;
    SetSpinValue(spin, setup.value);
    const Rect& r = setup.rect;
    SetWindowPos(spin.edit, HWND_TOP, r.left, r.top, std::max(1, r.Width()), std::max(1, r.Height()),
                 SWP_SHOWWINDOW);
    SendMessageW(spin.updown, UDM_SETBUDDY, reinterpret_cast<WPARAM>(spin.edit), 0);  // re-aligns it
    SetWindowPos(spin.updown, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
}

void WriteEditors::Apply(const EditorLayout& layout, HWND fallbackFocus) {
    applying_ = true;
    const bool hadFocus = Focused() != EditorId::None;
    ApplySpin(edit_, layout.edit);
    ApplySpin(edit2_, layout.edit2);
    if (layout.combo.visible) {
        SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
        for (const auto& item : layout.combo.items)
            SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
        EnableWindow(combo_, layout.combo.enabled);
        SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(layout.combo.itemIndex), 0);
        const Rect& r = layout.combo.rect;
        SetWindowPos(combo_, HWND_TOP, r.left, r.top, std::max(1, r.Width()), kComboListHeight, SWP_SHOWWINDOW);
    } else {
        ShowWindow(combo_, SW_HIDE);
    }
    switch (layout.focus) {
        case EditorId::WriteValueEdit:
            SetFocus(edit_.edit);
            SendMessageW(edit_.edit, EM_SETSEL, 0, -1);
            break;
        case EditorId::WriteValueEdit2:
            SetFocus(edit2_.edit);
            SendMessageW(edit2_.edit, EM_SETSEL, 0, -1);
            break;
        case EditorId::WriteValueCB: SetFocus(combo_); break;
        default:
            if (hadFocus && fallbackFocus) SetFocus(fallbackFocus);
            break;
    }
    applying_ = false;
}

void WriteEditors::MoveShownTo(POINT topLeft) {
    HWND first = IsWindowVisible(combo_) ? combo_ : edit_.edit;
    if (!IsWindowVisible(first)) return;
    RECT r;
    GetWindowRect(first, &r);
    MapWindowPoints(nullptr, GetParent(first), reinterpret_cast<POINT*>(&r), 2);
    const int dx = topLeft.x - r.left, dy = topLeft.y - r.top;
    for (HWND w : {edit_.edit, edit_.updown, edit2_.edit, edit2_.updown, combo_}) {
        if (!IsWindowVisible(w)) continue;
        RECT wr;
        GetWindowRect(w, &wr);
        MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&wr), 2);
        SetWindowPos(w, nullptr, wr.left + dx, wr.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
}

EditorValues WriteEditors::Values() const {
    const int index = static_cast<int>(SendMessageW(combo_, CB_GETCURSEL, 0, 0));
    return {SpinValue(edit_), SpinValue(edit2_), index == CB_ERR ? -1 : index};
}

EditorId WriteEditors::Focused() const {
    const HWND focus = GetFocus();
    if (!focus) return EditorId::None;
    if (focus == edit_.edit || focus == edit_.updown) return EditorId::WriteValueEdit;
    if (focus == edit2_.edit || focus == edit2_.updown) return EditorId::WriteValueEdit2;
    if (focus == combo_ || IsChild(combo_, focus)) return EditorId::WriteValueCB;
    return EditorId::None;
}

bool WriteEditors::OnDeltaPos(const NMUPDOWN& change) {
    for (Spin* spin : {&edit_, &edit2_}) {
        if (change.hdr.hwndFrom != spin->updown) continue;
        SetSpinValue(*spin, SpinValue(*spin) + change.iDelta * spin->setup.increment);
        SendMessageW(spin->edit, EM_SETSEL, 0, -1);
        return true;
    }
    return false;
}

}  // namespace dorv::ui::win32
