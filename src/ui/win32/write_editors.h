// The three in-cell editors of the "Запись" column: WriteValueEdit and WriteValueEdit2, numeric
// spin edits (an edit with an up-down control beside it, in steps of the editor's increment,
// within its bounds, shown with its decimals), and WriteValueCB, a drop-down list. They live on
// the parameter window beside the grid and are placed over the current cell; Enter in any of
// them and the focus leaving them are reported to the window.
//
// Thread safety: the window's thread only.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

#include "spin_edit.h"
#include "ui/view_types.h"

namespace dorv::ui::win32 {

class WriteEditors {
public:
    WriteEditors(HWND parent, HFONT font, std::string decimalSeparator);
    // The controls stay with their parent window, which destroys them; they stop reporting here.
    ~WriteEditors();
    WriteEditors(const WriteEditors&) = delete;
    WriteEditors& operator=(const WriteEditors&) = delete;

    // Shows, hides, configures and places the editors; `fallbackFocus` takes the focus when an
    // editor that had it goes.
    void Apply(const EditorLayout& layout, HWND fallbackFocus);
    // Moves the shown editors together so the first starts at `topLeft`.
    void MoveShownTo(POINT topLeft);
    EditorValues Values() const;
    EditorId Focused() const;
    // An up-down control's step (UDN_DELTAPOS); true when it was one of the editors'.
    bool OnDeltaPos(const NMUPDOWN& change);

    std::function<void()> onEnter;  // Enter in an editor
    std::function<void()> onExit;   // the focus went to another control of the window

private:
    static LRESULT CALLBACK EditorProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    static void ApplySpin(SpinEdit& spin, const SpinEditor& setup);
    bool Owns(HWND window) const;
    // Puts both numeric editors' text right before their numbers are used.
    void Commit();

    SpinEdit edit_;
    SpinEdit edit2_;
    HWND combo_ = nullptr;
    bool applying_ = false;
};

}  // namespace dorv::ui::win32
