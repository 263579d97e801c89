// Control identifiers and grid messages of the parameter window and the settings dialog. A
// program that drives the windows (an automation script, the window tests) finds the controls
// with GetDlgItem on the window and these numbers, and asks the grid what a cell shows. The grid
// messages carry no pointers, so a message from anywhere can make the grid write nowhere but
// into its own window text.
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
    kApplyBtn = IDOK,       // "Применить"
    kCancelBtn = IDCANCEL,  // "Отмена"
};

// Grid messages. Cells are (column, row) with the header as row 0; wParam MAKEWPARAM(column, row).
// GM_GETCELLTEXT: the grid's window text becomes the text the cell shows now (read it with
// GetWindowText); returns its length.
inline constexpr UINT GM_GETCELLTEXT = WM_USER + 1;
// GM_GETCELLRECT: the cell's rectangle in the grid's client coordinates, lParam 0 for the
// top-left corner, 1 for the bottom-right, as MAKELRESULT(x, y) of signed 16-bit values; a
// hidden row gives zeros.
inline constexpr UINT GM_GETCELLRECT = WM_USER + 2;
// GM_GETROWCOUNT: the grid's rows, the header included.
inline constexpr UINT GM_GETROWCOUNT = WM_USER + 3;

}  // namespace dorv::ui::win32
