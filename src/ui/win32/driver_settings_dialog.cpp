#include "driver_settings_dialog.h"

#include "control_ids.h"
#include "host/fpu_control.h"
#include "ui/texts.h"
#include "win32_strings.h"

namespace dorv::ui::win32 {
namespace {

constexpr int kWidth = 306;
constexpr int kHeight = 277;
constexpr POINT kDesignedPosition{450, 368};
constexpr int kOneLineWidth = kWidth - 8;  // sized to their captions on the stations
constexpr int kOneLineHeight = 17;
constexpr int kButtonWidth = 108;
constexpr int kButtonHeight = 25;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

}  // namespace

DriverSettingsDialogWindow::DriverSettingsDialogWindow(HWND owner) : owner_(owner) {
    RegisterFormClass(kSettingsDialogClass);
    RECT frame{0, 0, kWidth, kHeight};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    hwnd_ =
        CreateWindowExW(kExStyle, kSettingsDialogClass, Wide(text::kSettingsCaption).c_str(), kStyle, kDesignedPosition.x,
                        kDesignedPosition.y, frame.right - frame.left, frame.bottom - frame.top, owner, nullptr, ModuleInstance(), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DriverSettingsDialogWindow::Proc));

    AddButton(kPistStepGroup, text::kPistStepCaption, BS_GROUPBOX, 8, 8, 233, 49);
    for (int i = 0; i < TDriverSettingForm::kPistStepItems; ++i)
        AddButton(kPistStepItem0 + i, text::kPistStepItems[static_cast<std::size_t>(i)],
                  BS_AUTORADIOBUTTON | WS_TABSTOP | (i == 0 ? WS_GROUP : 0), 16, 23 + 16 * i, 221, 16);
    AddButton(kFreeStartEnabledEdit, text::kFreeStartCaption, BS_AUTOCHECKBOX | BS_MULTILINE | WS_TABSTOP | WS_GROUP, 8, 64, 249, 44);
    AddButton(kSummaToLiterEdit, text::kSummaToLiterCaption, BS_AUTOCHECKBOX | WS_TABSTOP, 8, 115, kOneLineWidth, kOneLineHeight);
    AddButton(kForceStartEdit, text::kForceStartCaption, BS_AUTOCHECKBOX | WS_TABSTOP, 8, 138, kOneLineWidth, kOneLineHeight);
    AddButton(kNoVerifStart, text::kNoVerifStartCaption, BS_AUTOCHECKBOX | BS_MULTILINE | WS_TABSTOP, 8, 161, 276, 33);
    AddButton(kSpecAutomatika, text::kSpecAutomatikaCaption, BS_AUTOCHECKBOX | WS_TABSTOP, 8, 200, kOneLineWidth, kOneLineHeight);
    AddButton(kReadDecimalTRK, text::kReadDecimalCaption, BS_AUTOCHECKBOX | WS_TABSTOP, 8, 223, kOneLineWidth, kOneLineHeight);
    // The buttons stand at the bottom right, as on their borderless panel.
    const int left = kWidth - 2 * kButtonWidth - 20;
    const int top = kHeight - kButtonHeight - 12;
    AddButton(kApplyBtn, text::kApplyButton, BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, left, top, kButtonWidth, kButtonHeight);
    AddButton(kCancelBtn, text::kCancelButton, BS_PUSHBUTTON | WS_TABSTOP, left + kButtonWidth + 8, top, kButtonWidth, kButtonHeight);
}

DriverSettingsDialogWindow::~DriverSettingsDialogWindow() {
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

HWND DriverSettingsDialogWindow::AddButton(int id, const char* caption, DWORD style, int x, int y, int width, int height) {
    HWND button = CreateWindowExW(0, L"BUTTON", Wide(caption).c_str(), WS_CHILD | WS_VISIBLE | style, x, y, width, height, hwnd_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
    SetFont(button, font_);
    return button;
}

LRESULT CALLBACK DriverSettingsDialogWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const host::LibraryFpu fpu;  // an entry from the system's dispatch
    auto* dialog = reinterpret_cast<DriverSettingsDialogWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!dialog) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return Caught(hwnd, [&] { return dialog->Handle(msg, wParam, lParam); });
}

LRESULT DriverSettingsDialogWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND:
            if (LOWORD(wParam) == kApplyBtn)
                End(DialogResult::Ok);
            else if (LOWORD(wParam) == kCancelBtn)
                End(DialogResult::Cancel);
            return 0;
        case WM_PRINT: return PrintWithChildren(hwnd_, reinterpret_cast<HDC>(wParam), lParam);
        case DM_GETDEFID: return MAKELRESULT(kApplyBtn, DC_HASDEFID);
        case WM_CLOSE: End(DialogResult::Cancel); return 0;
        default: break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void DriverSettingsDialogWindow::End(DialogResult result) {
    result_ = result;
    loop_.End();
}

void DriverSettingsDialogWindow::Cancel() {
    if (loop_.Running()) End(DialogResult::Cancel);
}

bool DriverSettingsDialogWindow::Checked(int id) const { return SendDlgItemMessageW(hwnd_, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

void DriverSettingsDialogWindow::Check(int id, bool on) {
    SendDlgItemMessageW(hwnd_, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

void DriverSettingsDialogWindow::LoadControls(const DriverSettingControls& c) {
    // An index outside the items selects none.
    for (int i = 0; i < TDriverSettingForm::kPistStepItems; ++i) Check(kPistStepItem0 + i, i == c.pistStepIndex);
    Check(kFreeStartEnabledEdit, c.freeStartEnabled);
    Check(kSummaToLiterEdit, c.summaToLiter);
    Check(kForceStartEdit, c.forceStart);
    Check(kNoVerifStart, c.noVerifStart);
    Check(kSpecAutomatika, c.specAutomatika);
    Check(kReadDecimalTRK, c.readDecimalTRK);
}

DriverSettingControls DriverSettingsDialogWindow::Controls() const {
    DriverSettingControls c;
    c.pistStepIndex = -1;
    for (int i = 0; i < TDriverSettingForm::kPistStepItems; ++i)
        if (Checked(kPistStepItem0 + i)) c.pistStepIndex = i;
    c.freeStartEnabled = Checked(kFreeStartEnabledEdit);
    c.summaToLiter = Checked(kSummaToLiterEdit);
    c.forceStart = Checked(kForceStartEdit);
    c.noVerifStart = Checked(kNoVerifStart);
    c.specAutomatika = Checked(kSpecAutomatika);
    c.readDecimalTRK = Checked(kReadDecimalTRK);
    return c;
}

DialogResult DriverSettingsDialogWindow::ShowModal() {
    if (!placed_) {
        placement_.Restore(hwnd_);  // else it stays at its designed place
        placed_ = true;
    }
    result_ = DialogResult::Cancel;
    loop_.Run(hwnd_, owner_, GetDlgItem(hwnd_, kApplyBtn));
    placement_.Save(hwnd_);
    return result_;
}

}  // namespace dorv::ui::win32
