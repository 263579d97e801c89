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

}  // namespace

WriteEditors::WriteEditors(HWND parent, HFONT font, std::string decimalSeparator)
    : edit_(parent, kWriteValueEdit, kWriteValueSpin, font, 0, decimalSeparator),
      edit2_(parent, kWriteValueEdit2, kWriteValueSpin2, font, 0, decimalSeparator) {
    combo_ = CreateChild(parent, WC_COMBOBOXW, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0, kWriteValueCB);
    SendMessageW(combo_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND w : {edit_.Edit(), edit2_.Edit(), combo_})
        SetWindowSubclass(w, &WriteEditors::EditorProc, 1, reinterpret_cast<DWORD_PTR>(this));
}

WriteEditors::~WriteEditors() {
    for (HWND w : {edit_.Edit(), edit2_.Edit(), combo_}) RemoveWindowSubclass(w, &WriteEditors::EditorProc, 1);
}

bool WriteEditors::Owns(HWND window) const {
    return edit_.Owns(window) || edit2_.Owns(window) || (window && (window == combo_ || IsChild(combo_, window)));
}

void WriteEditors::Commit() {
    if (IsWindowVisible(edit_.Edit())) edit_.Commit();
    if (IsWindowVisible(edit2_.Edit())) edit2_.Commit();
}

LRESULT CALLBACK WriteEditors::EditorProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self) {
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
                editors->Commit();
                if (editors->onEnter)
                    Caught(hwnd, [&] {
                        editors->onEnter();
                        return LRESULT{0};
                    });
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
            if (!editors->applying_) editors->Commit();
            if (!editors->applying_ && next && GetAncestor(next, GA_ROOT) == GetAncestor(hwnd, GA_ROOT) && !editors->Owns(next) &&
                editors->onExit)
                Caught(hwnd, [&] {
                    editors->onExit();
                    return LRESULT{0};
                });
            return result;
        }
        default: break;
    }
    return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void WriteEditors::ApplySpin(SpinEdit& spin, const SpinEditor& setup) {
    if (!setup.visible) {
        spin.Hide();
        return;
    }
    // Decimals, increment and bounds first, then the value, which the bounds may clamp.
    spin.SetRange({setup.minValue, setup.maxValue, setup.increment, setup.valueType == ValueType::Integer ? 0 : setup.decimals});
    spin.SetValue(setup.value);
    const Rect& r = setup.rect;
    spin.Show(r.left, r.top, r.Width(), r.Height(), HWND_TOP);
}

void WriteEditors::Apply(const EditorLayout& layout, HWND fallbackFocus) {
    applying_ = true;
    const bool hadFocus = Focused() != EditorId::None;
    ApplySpin(edit_, layout.edit);
    ApplySpin(edit2_, layout.edit2);
    if (layout.combo.visible) {
        SendMessageW(combo_, CB_RESETCONTENT, 0, 0);
        for (const auto& item : layout.combo.items) SendMessageW(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
        EnableWindow(combo_, layout.combo.enabled);
        SendMessageW(combo_, CB_SETCURSEL, static_cast<WPARAM>(layout.combo.itemIndex), 0);
        const Rect& r = layout.combo.rect;
        SetWindowPos(combo_, HWND_TOP, r.left, r.top, std::max(1, r.Width()), kComboListHeight, SWP_SHOWWINDOW);
    } else {
        ShowWindow(combo_, SW_HIDE);
    }
    // Raised above the grid in their tab order: the first part of a pair, then the second.
    HWND after = HWND_TOP;
    for (HWND w : {edit_.Edit(), edit_.UpDown(), edit2_.Edit(), edit2_.UpDown(), combo_}) {
        SetWindowPos(w, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = w;
    }
    switch (layout.focus) {
        case EditorId::WriteValueEdit:
            SetFocus(edit_.Edit());
            SendMessageW(edit_.Edit(), EM_SETSEL, 0, -1);
            break;
        case EditorId::WriteValueEdit2:
            SetFocus(edit2_.Edit());
            SendMessageW(edit2_.Edit(), EM_SETSEL, 0, -1);
            break;
        case EditorId::WriteValueCB: SetFocus(combo_); break;
        default:
            if (hadFocus && fallbackFocus) SetFocus(fallbackFocus);
            break;
    }
    applying_ = false;
}

void WriteEditors::MoveShownTo(POINT topLeft) {
    HWND first = IsWindowVisible(combo_) ? combo_ : edit_.Edit();
    if (!IsWindowVisible(first)) return;
    RECT r;
    GetWindowRect(first, &r);
    MapWindowPoints(nullptr, GetParent(first), reinterpret_cast<POINT*>(&r), 2);
    const int dx = topLeft.x - r.left, dy = topLeft.y - r.top;
    for (HWND w : {edit_.Edit(), edit_.UpDown(), edit2_.Edit(), edit2_.UpDown(), combo_}) {
        if (!IsWindowVisible(w)) continue;
        RECT wr;
        GetWindowRect(w, &wr);
        MapWindowPoints(nullptr, GetParent(w), reinterpret_cast<POINT*>(&wr), 2);
        SetWindowPos(w, nullptr, wr.left + dx, wr.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
}

EditorValues WriteEditors::Values() const {
    const int index = static_cast<int>(SendMessageW(combo_, CB_GETCURSEL, 0, 0));
    return {edit_.Value(), edit2_.Value(), index == CB_ERR ? -1 : index};
}

EditorId WriteEditors::Focused() const {
    const HWND focus = GetFocus();
    if (!focus) return EditorId::None;
    if (edit_.Owns(focus)) return EditorId::WriteValueEdit;
    if (edit2_.Owns(focus)) return EditorId::WriteValueEdit2;
    if (focus == combo_ || IsChild(combo_, focus)) return EditorId::WriteValueCB;
    return EditorId::None;
}

bool WriteEditors::OnDeltaPos(const NMUPDOWN& change) { return edit_.OnDeltaPos(change) || edit2_.OnDeltaPos(change); }

}  // namespace dorv::ui::win32
