#include "param_frame_window.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "control_ids.h"
#include "dialog_provider.h"
#include "host/fpu_control.h"
#include "driver_settings_dialog.h"
#include "param_grid.h"
#include "platform/cp1251.h"
#include "ui/texts.h"
#include "win32_strings.h"
#include "write_editors.h"

namespace dorv::ui::win32 {
namespace {

namespace g = geometry;
using g::kClientHeight;
using g::kClientWidth;
using g::kStatusBarHeight;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr UINT kDrainMessage = WM_APP + 1;
constexpr UINT_PTR kTimer1 = 1;  // the status bar's colour goes back 2000 ms after a single write
constexpr UINT_PTR kTimer2 = 2;  // the editor is placed 50 ms after a cell is selected

UINT_PTR TimerOf(TimerId timer) { return timer == TimerId::StatusColourReset ? kTimer1 : kTimer2; }

// A host whose manifest asks for themed common controls would get a themed status bar, which
// ignores a background colour, and a themed tab control, which cannot put its tabs at the bottom;
// both are taken out of the theme so they show as drawn here. uxtheme.dll is looked up at run
// time (Windows XP and later have it), so the library imports nothing more.
void UnthemeControl(HWND control) {
    using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const auto setWindowTheme = [] {
        HMODULE uxtheme = LoadLibraryW(L"uxtheme.dll");
        return uxtheme ? reinterpret_cast<SetWindowThemeFn>(reinterpret_cast<void*>(GetProcAddress(uxtheme, "SetWindowTheme"))) : nullptr;
    }();
    // A name that matches no class of the theme (an empty one is not kept everywhere).
    if (setWindowTheme) setWindowTheme(control, L" ", L" ");
}

void InitControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)done;
}

}  // namespace

ParamFrameWindow::ParamFrameWindow() : updates_(*this), logic_(std::make_unique<TParamFrm>(*this)) {
    InitControls();
    RegisterFormClass(kParamWindowClass);
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    hwnd_ = CreateWindowExW(kExStyle, kParamWindowClass, Wide(text::kWindowCaption).c_str(), kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, ModuleInstance(), nullptr);
    if (!hwnd_) return;  // no desktop to show it on; the opener gives up
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ParamFrameWindow::Proc));
    BuildControls();
    SetStatusColour(StatusColour::ButtonFace);
}

ParamFrameWindow::~ParamFrameWindow() {
    // The runs call this window's thread-safe methods until they have stopped.
    logic_->Shutdown();
    if (!hwnd_) return;
    grid_->Detach();
    settingsDialog_.reset();
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    editors_.reset();
    grid_.reset();
    comPort_.reset();
    address_.reset();
    idNumber_.reset();
    DestroyWindow(hwnd_);
}

// ---- controls ----

HWND ParamFrameWindow::AddControl(const wchar_t* cls, const char* text, DWORD style, int id, const g::Place& at, const Font& font) {
    HWND control = CreateWindowExW(0, cls, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style, at.x, at.y, at.width,
                                   at.height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
    SetFont(control, font);
    return control;
}

HWND ParamFrameWindow::AddLabel(const char* text, int id, const g::Place& at) {
    // Sized to its caption, as an auto-sized label is.
    const std::wstring wide = Wide(text);
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_.Handle());
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return AddControl(L"STATIC", text, SS_LEFT | SS_NOPREFIX, id, {at.x, at.y, size.cx + 1, size.cy}, font_);
}

std::unique_ptr<SpinEdit> ParamFrameWindow::AddSpinEdit(int editId, int spinId, const g::Place& at, int min, int max) {
    auto spin = std::make_unique<SpinEdit>(hwnd_, editId, spinId, font_.Handle(), ES_NUMBER);
    spin->SetRange({static_cast<double>(min), static_cast<double>(max)});
    spin->SetValue(min);
    spin->Show(at.x, at.y, at.width, at.height, nullptr);
    return spin;
}

void ParamFrameWindow::BuildToolBar() {
    toolBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | TBSTYLE_WRAPABLE | CCS_NORESIZE |
                                   CCS_NOPARENTALIGN | CCS_NODIVIDER,
                               g::kToolBar.x, g::kToolBar.y, g::kToolBar.width, g::kToolBar.height, hwnd_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kToolBar1)), ModuleInstance(), nullptr);
    SendMessageW(toolBar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageW(toolBar_, TB_SETBITMAPSIZE, 0, MAKELPARAM(16, 16));
    // The system's own copy and paste pictures.
    TBADDBITMAP images{HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
    const int first = static_cast<int>(SendMessageW(toolBar_, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&images)));
    TBBUTTON buttons[2]{};
    buttons[0].iBitmap = first + STD_COPY;
    buttons[0].idCommand = kCopyTool;
    buttons[0].fsState = TBSTATE_ENABLED | TBSTATE_WRAP;  // the paste button below it
    buttons[0].fsStyle = BTNS_BUTTON;
    buttons[1].iBitmap = first + STD_PASTE;
    buttons[1].idCommand = kPasteTool;
    buttons[1].fsState = TBSTATE_ENABLED;
    buttons[1].fsStyle = BTNS_BUTTON;
    SendMessageW(toolBar_, TB_ADDBUTTONSW, 2, reinterpret_cast<LPARAM>(buttons));
    SendMessageW(toolBar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(g::kToolButton, g::kToolButton));
}

void ParamFrameWindow::BuildControls() {
    AddLabel(text::kComPortLabel, kLabel1, g::kComPortLabel);
    comPort_ = AddSpinEdit(kComPortEdit, kComPortSpin, g::kComPortEdit, kMinComPort, kMaxComPort);
    AddLabel(text::kAddressLabel, kLabel2, g::kAddressLabel);
    address_ = AddSpinEdit(kAddrEdit, kAddrSpin, g::kAddressEdit, kMinAddress, kMaxAddress);
    AddLabel(text::kIdNumberLabel, kIdLabel, g::kIdNumberLabel);
    // A controller ID is a non-negative number; the field has no other limit.
    idNumber_ = AddSpinEdit(kIdNumberEdit, kIdNumberSpin, g::kIdNumberEdit, 0, INT_MAX);
    SetIdNumberVisible(false);

    // Enter belongs to the in-cell editors, never to a button of the window: no default button.
    const DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
    AddControl(L"BUTTON", text::kReadAllButton, button, kButton1, g::kReadAllButton, bold_);
    AddControl(L"BUTTON", text::kSaveButton, button, kSaveBtn, g::kSaveButton, bold_);
    AddControl(L"BUTTON", text::kLoadButton, button, kLoadBtn, g::kLoadButton, bold_);
    AddControl(L"BUTTON", text::kWriteAllButton, button, kWriteBtn, g::kWriteAllButton, bold_);
    BuildToolBar();
    AddControl(L"BUTTON", text::kDriverSettingsButton, button | BS_MULTILINE, kDriverSettingBtn, g::kSettingsButton, boldLarge_);
    AddControl(L"BUTTON", text::kCloseButton, BS_OWNERDRAW | WS_TABSTOP, kBitBtn1, g::kCloseButton, font_);

    editors_ = std::make_unique<WriteEditors>(hwnd_, font_.Handle(), logic_->Locale().decimalSeparator);
    editors_->onEnter = [this] { logic_->WriteValueEditKeyDown(kEnterKey); };
    editors_->onExit = [this] { logic_->WriteValueEditExit(); };
    const int gridLeft = g::kTabControl.x + g::kGrid.x, gridTop = g::kTabControl.y + g::kGrid.y;
    const RECT gridBounds{gridLeft, gridTop, gridLeft + g::kGrid.width, gridTop + g::kGrid.height};
    grid_ = std::make_unique<ParamGrid>(hwnd_, gridBounds, *logic_, font_.Handle());
    grid_->onScrolled = [this] { GridScrolled(); };

    tabs_ = AddControl(WC_TABCONTROLW, "", TCS_BOTTOM | WS_TABSTOP, kTabControl1, g::kTabControl, font_);
    UnthemeControl(tabs_);
    for (std::size_t i = 0; i < text::kTabs.size(); ++i) {
        std::wstring caption = Wide(text::kTabs[i]);
        TCITEMW item{};
        item.mask = TCIF_TEXT;
        item.pszText = caption.data();
        SendMessageW(tabs_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
    SendMessageW(tabs_, TCM_SETCURSEL, 0, 0);
    // The tab control lies under the grid, the editors and the buttons that reach into its top.
    SetWindowPos(tabs_, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0,
                                 kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBar1)), ModuleInstance(), nullptr);
    SetFont(statusBar_, font_);
    UnthemeControl(statusBar_);
    int parts[1] = {-1};
    SendMessageW(statusBar_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
}

// ---- messages ----

LRESULT CALLBACK ParamFrameWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const host::LibraryFpu fpu;  // an entry from the system's dispatch
    auto* window = reinterpret_cast<ParamFrameWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return Caught(hwnd, [&] { return window->Handle(msg, wParam, lParam); });
}

LRESULT ParamFrameWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return 0;
        case WM_NOTIFY: return OnNotify(*reinterpret_cast<const NMHDR*>(lParam));
        case WM_DRAWITEM:
            if (wParam == kBitBtn1) {
                DrawCloseButton(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            }
            break;
        case WM_TIMER:
            if (wParam == kTimer1)
                logic_->Timer1Timer();
            else if (wParam == kTimer2)
                logic_->Timer2Timer();
            return 0;
        case WM_SHOWWINDOW:
            if (wParam && !formShown_) {
                formShown_ = true;
                logic_->FormShow();
            }
            break;
        case WM_CLOSE: logic_->ActionExitExecute(); return 0;
        case WM_ACTIVATE:
            // A message box, a file dialog or the settings dialog takes the focus while it shows;
            // it comes back to the control that had it.
            if (LOWORD(wParam) == WA_INACTIVE) {
                const HWND focus = GetFocus();
                if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
            } else if (lastFocus_ && IsWindow(lastFocus_) && IsWindowVisible(lastFocus_)) {
                SetFocus(lastFocus_);
                return 0;
            }
            break;
        case WM_PAINT:
        case WM_PRINTCLIENT: {
            PAINTSTRUCT ps{};
            HDC dc = msg == WM_PAINT ? BeginPaint(hwnd_, &ps) : reinterpret_cast<HDC>(wParam);
            if (msg == WM_PRINTCLIENT) {
                RECT client;
                GetClientRect(hwnd_, &client);
                FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
            }
            // Panel1: the raised panel above the status bar.
            RECT panel{0, 0, kClientWidth, kClientHeight - kStatusBarHeight};
            DrawEdge(dc, &panel, BDR_RAISEDINNER, BF_RECT);
            if (msg == WM_PAINT) EndPaint(hwnd_, &ps);
            return 0;
        }
        case WM_PRINT: return PrintWithChildren(hwnd_, reinterpret_cast<HDC>(wParam), lParam);
        case kDrainMessage: updates_.Drain(); return 0;
        case kReleaseMessage:
            if (onRelease) onRelease(reinterpret_cast<TVM30*>(lParam));
            return 0;
        default: break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void ParamFrameWindow::OnCommand(int id, int code) {
    if (!idNumber_) return;  // the fields are still being made
    switch (id) {
        case kComPortEdit:
            if (code == EN_KILLFOCUS) comPort_->Commit();
            if (code == EN_CHANGE) logic_->SetComPort(ComPortValue());
            break;
        case kAddrEdit:
            if (code == EN_KILLFOCUS) address_->Commit();
            if (code == EN_CHANGE) logic_->SetAddress(AddressValue());
            break;
        case kIdNumberEdit:
            if (code == EN_KILLFOCUS) idNumber_->Commit();
            break;
        case kButton1: logic_->Button1Click(); break;
        case kWriteBtn: logic_->WriteBtnClick(); break;
        case kSaveBtn: logic_->SaveBtnClick(); break;
        case kLoadBtn: logic_->LoadBtnClick(); break;
        case kCopyTool: logic_->CopyToolClick(); break;
        case kPasteTool: logic_->PasteToolClick(); break;
        case kDriverSettingBtn: logic_->DriverSettingBtnClick(); break;
        case kBitBtn1: Close(); break;                      // closes with the OK result
        case IDCANCEL: logic_->ActionExitExecute(); break;  // Esc
        default: break;
    }
}

LRESULT ParamFrameWindow::OnNotify(const NMHDR& header) {
    switch (header.code) {
        case TCN_SELCHANGE:
            if (header.hwndFrom == tabs_) logic_->TabControl1Change();
            return 0;
        case UDN_DELTAPOS: {
            const auto& change = reinterpret_cast<const NMUPDOWN&>(header);
            for (SpinEdit* spin : {comPort_.get(), address_.get(), idNumber_.get()})
                if (spin->OnDeltaPos(change)) return TRUE;
            return editors_->OnDeltaPos(change) ? TRUE : FALSE;
        }
        case TTN_GETDISPINFOW: {
            auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
            static const std::wstring copy = Wide(text::kCopyHint), paste = Wide(text::kPasteHint);
            if (header.idFrom == kCopyTool)
                info.lpszText = const_cast<wchar_t*>(copy.c_str());
            else if (header.idFrom == kPasteTool)
                info.lpszText = const_cast<wchar_t*>(paste.c_str());
            return 0;
        }
        case TTN_GETDISPINFOA: {
            auto& info = const_cast<NMTTDISPINFOA&>(reinterpret_cast<const NMTTDISPINFOA&>(header));
            static const std::string copy = platform::Utf8ToCp1251(text::kCopyHint), paste = platform::Utf8ToCp1251(text::kPasteHint);
            if (header.idFrom == kCopyTool)
                info.lpszText = const_cast<char*>(copy.c_str());
            else if (header.idFrom == kPasteTool)
                info.lpszText = const_cast<char*>(paste.c_str());
            return 0;
        }
        default: break;
    }
    return 0;
}

void ParamFrameWindow::DrawCloseButton(const DRAWITEMSTRUCT& item) {
    // BitBtn1: a push button with a glyph before its caption.
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool pushed = item.itemState & ODS_SELECTED;
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
    const int shift = pushed ? 1 : 0;
    const std::wstring caption = Wide(text::kCloseButton);
    HGDIOBJ old = SelectObject(dc, font_.Handle());
    SIZE size{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    constexpr int kGlyph = 14, kGap = 4;
    const int left = (r.left + r.right - (kGlyph + kGap + size.cx)) / 2 + shift;
    const int middle = (r.top + r.bottom) / 2 + shift;
    RECT glyph{left, middle - kGlyph / 2, left + kGlyph, middle - kGlyph / 2 + kGlyph};
    DrawFrameControl(dc, &glyph, DFC_CAPTION, DFCS_CAPTIONCLOSE | DFCS_FLAT);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    RECT textRect{glyph.right + kGap, r.top + shift, r.right, r.bottom + shift};
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = r;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

bool ParamFrameWindow::PreTranslate(MSG& msg) {
    // ActionExit: Alt+X anywhere in the window (Esc arrives as IDCANCEL).
    if (msg.message == WM_SYSKEYDOWN && (msg.wParam == 'X') && msg.hwnd && GetAncestor(msg.hwnd, GA_ROOT) == hwnd_) {
        logic_->ActionExitExecute();
        return true;
    }
    return false;
}

void ParamFrameWindow::GridScrolled() {
    RECT client;
    GetClientRect(grid_->Handle(), &client);
    const Rect r = grid_->CellRect(grid_->CurrentCell());
    logic_->RxDGCommonScrolled(r.Height() > 0 && r.top >= 0 && r.bottom <= client.bottom && r.left >= 0 && r.right <= client.right);
}

// ---- showing and closing ----

void ParamFrameWindow::ShowModal() {
    if (loop_.Running()) return;
    const HWND owner = HostOwner(hwnd_);
    // Centred on the screen (on the owner's monitor).
    RECT frame;
    GetWindowRect(hwnd_, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(owner ? owner : hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, work.left + std::max(0L, (work.right - work.left - width) / 2),
                 work.top + std::max(0L, (work.bottom - work.top - height) / 2), 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    formShown_ = false;
    loop_.Run(hwnd_, owner, grid_->Handle(), [this](MSG& msg) { return PreTranslate(msg); });
    // However the showing ended (closed, released, or the host quitting):
    KillTimer(hwnd_, kTimer2);
    logic_->PlaceWriteEditor({0, 0});  // a new showing starts without an editor
    logic_->FormClose();
}

void ParamFrameWindow::Close() {
    if (loop_.Running()) loop_.End();
}

void ParamFrameWindow::Release() {
    // A run may be inside a host's link that waits for this thread (a window of the host's):
    // this thread answers what is sent to it while the runs wind down, then joins them.
    logic_->RequestStopRuns();
    while (logic_->ReadRunActive() || logic_->WriteRunActive()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
        MSG msg;
        const host::HostFpu hostFpu;  // what is sent here is for the host's windows as well
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    logic_->Shutdown();
    logic_->SetDriver({});
    if (settingsDialog_) settingsDialog_->Cancel();
    Close();
}

// ---- any thread ----

void ParamFrameWindow::PostDrain() { PostMessageW(hwnd_, kDrainMessage, 0, 0); }
void ParamFrameWindow::PaintAll() { grid_->RepaintAll(); }
void ParamFrameWindow::PaintRow(int row) { grid_->RepaintRow(row); }
void ParamFrameWindow::ShowStatus(const std::string& text) {
    SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}
void ParamFrameWindow::RepaintGrid() { updates_.RepaintGrid(); }
void ParamFrameWindow::RepaintRow(int row) { updates_.RepaintRow(row); }
void ParamFrameWindow::SetStatusText(const std::string& text) { updates_.SetStatusText(text); }

// ---- requests ----

void ParamFrameWindow::SetRowCount(int rows) { grid_->SetRowCount(rows); }
void ParamFrameWindow::SetRowHeights(const std::vector<int>& heights) { grid_->SetRowHeights(heights); }
void ParamFrameWindow::SetCurrentCell(GridCell cell) { grid_->SetCurrentCell(cell); }

void ParamFrameWindow::SetStatusColour(StatusColour colour) {
    const COLORREF fill = colour == StatusColour::ButtonFace ? CLR_DEFAULT : static_cast<COLORREF>(static_cast<std::uint32_t>(colour));
    SendMessageW(statusBar_, SB_SETBKCOLOR, 0, static_cast<LPARAM>(fill));
}

void ParamFrameWindow::StartTimer(TimerId timer, int milliseconds) {
    SetTimer(hwnd_, TimerOf(timer), static_cast<UINT>(milliseconds), nullptr);
}
void ParamFrameWindow::StopTimer(TimerId timer) { KillTimer(hwnd_, TimerOf(timer)); }

void ParamFrameWindow::SetIdNumberVisible(bool visible) {
    for (int id : {kIdLabel, kIdNumberEdit, kIdNumberSpin}) ShowWindow(GetDlgItem(hwnd_, id), visible ? SW_SHOW : SW_HIDE);
}

void ParamFrameWindow::ShowGridHint(const std::string& text) { grid_->ShowHint(text); }
void ParamFrameWindow::ApplyEditors(const EditorLayout& layout) { editors_->Apply(layout, grid_->Handle()); }
void ParamFrameWindow::MoveEditorsTo(int left, int top) { editors_->MoveShownTo({left, top}); }
MessageResult ParamFrameWindow::ShowMessage(const MessageRequest& request) { return ShowMessageBox(hwnd_, request); }

std::optional<std::string> ParamFrameWindow::AskSaveFileName(const FileDialogRequest& request) {
    return AskFileName(hwnd_, request, /*save=*/true);
}

std::optional<std::string> ParamFrameWindow::AskOpenFileName(const FileDialogRequest& request) {
    return AskFileName(hwnd_, request, /*save=*/false);
}

DriverSettingsDialogView& ParamFrameWindow::DriverSettingsDialog() {
    if (!settingsDialog_) settingsDialog_ = std::make_unique<DriverSettingsDialogWindow>(hwnd_);
    return *settingsDialog_;
}

// ---- state ----

int ParamFrameWindow::ComPortValue() const { return static_cast<int>(comPort_->Value()); }
int ParamFrameWindow::AddressValue() const { return static_cast<int>(address_->Value()); }
int ParamFrameWindow::IdNumberValue() const { return static_cast<int>(idNumber_->Value()); }
int ParamFrameWindow::SelectedTab() const { return static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)); }
GridCell ParamFrameWindow::CurrentCell() const { return grid_->CurrentCell(); }
int ParamFrameWindow::ColumnWidth(int column) const { return grid_->CellWidth(column); }

int ParamFrameWindow::MeasureTextHeight(const std::string& text, int width) const { return grid_->MeasureTextHeight(text, width); }

Rect ParamFrameWindow::CellRect(GridCell cell) const {
    const Rect r = grid_->CellRect(cell);
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    MapWindowPoints(grid_->Handle(), hwnd_, corners, 2);
    return {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

EditorValues ParamFrameWindow::CurrentEditorValues() const { return editors_->Values(); }
EditorId ParamFrameWindow::FocusedEditor() const { return editors_->Focused(); }

}  // namespace dorv::ui::win32
