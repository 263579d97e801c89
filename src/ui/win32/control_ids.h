// Control identifiers and grid messages of the parameter window and the settings dialog. A
// program that drives the windows (an automation script, the window tests) finds the controls
// with GetDlgItem on the window and these numbers; the grid answers its messages like a list
// view does (in-process pointers only).
#pragma once

#include <windows.h>

namespace dorv::ui::win32 {

// Window classes and the modal windows' captions are those of ui/texts.h.
inline constexpr const wchar_t* kParamWindowClass = L"TParamFrm";
inline constexpr const wchar_t* kSettingsDialogClass = L"TDriverSettingForm";
inline constexpr const wchar_t* kGridClass = L"TOpenedRXDrawGrid";

enum ControlId : int {
    kComPortEdit = 101,
    kComPortSpin,
    kAddrEdit,
    kAddrSpin,
    kIdNumberEdit,
    kIdNumberSpin,
    kLabel1,
    kLabel2,
    kIdLabel,
    kButton1,  // read all
    kSaveBtn,
    kLoadBtn,
    kWriteBtn,
    kToolBar1,
    kCopyTool,
    kPasteTool,
    kDriverSettingBtn,
    kBitBtn1,  // close
    kTabControl1,
    kGrid,
    kWriteValueEdit,
    kWriteValueSpin,
    kWriteValueEdit2,
    kWriteValueSpin2,
    kWriteValueCB,
    kStatusBar1,

    // The settings dialog.
    kPistStepGroup = 201,
    kPistStepItem0,
    kPistStepItem1,
    kFreeStartEnabledEdit,
    kSummaToLiterEdit,
    kForceStartEdit,
    kNoVerifStart,
    kSpecAutomatika,
    kReadDecimalTRK,
    kApplyBtn = IDOK,      // "Применить"
    kCancelBtn = IDCANCEL, // "Отмена"
};

// Grid messages. Cells are (column, row) with the header as row 0.
// GM_GETCELLTEXT: wParam MAKEWPARAM(column, row), lParam a wchar_t[256]; returns the length of
// the text the cell shows now.
inline constexpr UINT GM_GETCELLTEXT = WM_USER + 1;
// GM_GETCELLRECT: wParam MAKEWPARAM(column, row), lParam a RECT* in the grid's client
// coordinates; returns FALSE for a hidden row.
inline constexpr UINT GM_GETCELLRECT = WM_USER + 2;
// GM_GETROWCOUNT: the grid's rows, the header included.
inline constexpr UINT GM_GETROWCOUNT = WM_USER + 3;

}  // namespace dorv::ui::win32
