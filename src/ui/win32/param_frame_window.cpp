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

constexpr int kClientWidth = 817;
constexpr int kClientHeight = 705;
constexpr int kStatusBarHeight = 19;
constexpr RECT kTabControl{1, 86, 1 + 815, 86 + 599};
constexpr int kGridInset = 4;
constexpr int kGridWidth = 807;
constexpr int kGridHeight = 571;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr UINT kDrainMessage = WM_APP + 1;
constexpr UINT_PTR kTimer1 = 1;  // the status bar's colour goes back 2000 ms after a single write
constexpr UINT_PTR kTimer2 = 2;  // the editor is placed 50 ms after a cell is selected

UINT_PTR TimerOf(TimerId timer) { return timer == TimerId::StatusColourReset ? kTimer1 : kTimer2; }

// A host whose manifest asks for themed common controls would get a themed status bar, which
// ignores a background colour; the status bar is taken out of the theme so its green and red
// show. uxtheme.dll is looked up at run time (Windows XP and later have it), so the library
// imports nothing more.
void UnthemeControl(HWND control) {
    using SetWindowThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static const auto setWindowTheme = [] {
        HMODULE uxtheme = LoadLibraryW(L"uxtheme.dll");
        return uxtheme ? reinterpret_cast<SetWindowThemeFn>(
                             reinterpret_cast<void*>(GetProcAddress(uxtheme, "SetWindowTheme")))
                       : nullptr;
    }();
    if (setWindowTheme) setWindowTheme(control, L"", L"");
}

void InitControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX),
                                 ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS | ICC_WIN95_CLASSES};
        return InitCommonControlsEx(&icc) != FALSE;
    }();
    (void)done;
}

}  // namespace

ParamFrameWindow::ParamFrameWindow()
    : windowThread_(GetCurrentThreadId()), logic_(std::make_unique<TParamFrm>(*this)) {
    InitControls();
    RegisterFormClass(kParamWindowClass);
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    hwnd_ = CreateWindowExW(kExStyle, kParamWindowClass, Wide(text::kWindowCaption).c_str(), kStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                            ModuleInstance(), nullptr);
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
    DestroyWindow(hwnd_);
}

// ---- controls ----

HWND ParamFrameWindow::AddControl(const wchar_t* cls, const char* text, DWORD style, int id, int x, int y,
                                  int width, int height, const Font& font, DWORD exStyle) {
    HWND control = CreateWindowExW(exStyle, cls, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | style,
                                   x, y, width, height, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   ModuleInstance(), nullptr);
    SetFont(control, font);
    return control;
}

HWND ParamFrameWindow::AddLabel(const char* text, int id, int x, int y) {
    // Sized to its caption, as an auto-sized label is.
    const std::wstring wide = Wide(text);
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_.Handle());
    SIZE size{};
    GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return AddControl(L"STATIC", text, SS_LEFT | SS_NOPREFIX, id, x, y, size.cx + 1, size.cy, font_);
}

void ParamFrameWindow::AddSpinEdit(int editId, int spinId, int x, int y, int width, int height, int min, int max,
                                   int value) {
    HWND edit = AddControl(WC_EDITW, "", WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL, editId, x, y, width, height, font_,
                           WS_EX_CLIENTEDGE);
    HWND spin = CreateWindowExW(0, UPDOWN_CLASSW, L"",
                                WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | UDS_SETBUDDYINT | UDS_ALIGNRIGHT |
                                    UDS_ARROWKEYS | UDS_NOTHOUSANDS,
                                0, 0, 0, 0, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spinId)),
                                ModuleInstance(), nullptr);
    SendMessageW(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(edit), 0);
    SendMessageW(spin, UDM_SETRANGE32, static_cast<WPARAM>(min), max);
    SendMessageW(spin, UDM_SETPOS32, 0, value);
}

void ParamFrameWindow::BuildToolBar() {
    toolBar_ = CreateWindowExW(0, TOOLBARCLASSNAMEW, L"",
                               WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS |
                                   TBSTYLE_WRAPABLE | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER,
                               631, 4, 40, 66, hwnd_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kToolBar1)),
                               ModuleInstance(), nullptr);
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
    SendMessageW(toolBar_, TB_SETBUTTONSIZE, 0, MAKELPARAM(28, 28));
}

void ParamFrameWindow::BuildControls() {
    AddLabel(text::kComPortLabel, kLabel1, 8, 14);
    AddSpinEdit(kComPortEdit, kComPortSpin, 96, 8, 89, 22, kMinComPort, kMaxComPort, kMinComPort);
    AddLabel(text::kAddressLabel, kLabel2, 224, 14);
    AddSpinEdit(kAddrEdit, kAddrSpin, 320, 8, 89, 22, kMinAddress, kMaxAddress, kMinAddress);
    AddLabel(text::kIdNumberLabel, kIdLabel, 264, 38);
    // A controller ID is a non-negative number; the field has no other limit.
    AddSpinEdit(kIdNumberEdit, kIdNumberSpin, 320, 32, 89, 22, 0, INT_MAX, 0);
    SetIdNumberVisible(false);

    // Enter belongs to the in-cell editors, never to a button of the window: no default button.
    const DWORD button = BS_PUSHBUTTON | WS_TABSTOP;
    AddControl(L"BUTTON", text::kReadAllButton, button, kButton1, 8, 55, 209, 25, bold_);
    AddControl(L"BUTTON", text::kSaveButton, button, kSaveBtn, 437, 6, 194, 25, bold_);
    AddControl(L"BUTTON", text::kLoadButton, button, kLoadBtn, 437, 37, 194, 25, bold_);
    AddControl(L"BUTTON", text::kWriteAllButton, button, kWriteBtn, 437, 68, 194, 25, bold_);
    BuildToolBar();
    AddControl(L"BUTTON", text::kDriverSettingsButton, button | BS_MULTILINE, kDriverSettingBtn, 693, 4, 116, 46,
               boldLarge_);
    AddControl(L"BUTTON", text::kCloseButton, BS_OWNERDRAW | WS_TABSTOP, kBitBtn1, 693, 68, 108, 25, font_);

    editors_ = std::make_unique<WriteEditors>(hwnd_, font_.Handle(), logic_->Locale().decimalSeparator);
    editors_->onEnter = [this] { logic_->WriteValueEditKeyDown(kEnterKey); };
    editors_->onExit = [this] { logic_->WriteValueEditExit(); };
    const RECT gridBounds{kTabControl.left + kGridInset, kTabControl.top + kGridInset,
                          kTabControl.left + kGridInset + kGridWidth, kTabControl.top + kGridInset + kGridHeight};
    grid_ = std::make_unique<ParamGrid>(hwnd_, gridBounds, *logic_, font_.Handle());
    grid_->onScrolled = [this] { KeepEditorsOnTheirCell(); };

    tabs_ = AddControl(WC_TABCONTROLW, "", TCS_BOTTOM | WS_TABSTOP, kTabControl1, kTabControl.left, kTabControl.top,
                       kTabControl.right - kTabControl.left, kTabControl.bottom - kTabControl.top, font_);
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

    statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"",
                                 WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER, 0,
                                 kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBar1)), ModuleInstance(),
                                 nullptr);
    SetFont(statusBar_, font_);
    UnthemeControl(statusBar_);
    int parts[1] = {-1};
    SendMessageW(statusBar_, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(parts));
}

int ParamFrameWindow::SpinValue(int editId, int min, int max) const {
    const std::string text = Utf8(WindowText(GetDlgItem(hwnd_, editId)));
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, min, max));
}

// ---- messages ----

LRESULT CALLBACK ParamFrameWindow::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const host::LibraryFpu fpu;  // an entry from the system's dispatch
    auto* window = reinterpret_cast<ParamFrameWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return window ? window->Handle(msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
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
            if (wParam == kTimer1) logic_->Timer1Timer();
            else if (wParam == kTimer2) logic_->Timer2Timer();
            return 0;
        case WM_SHOWWINDOW:
            if (wParam && !formShown_) {
                formShown_ = true;
                logic_->FormShow();
            }
            break;
        case WM_CLOSE: logic_->ActionExitExecute(); return 0;
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
        case kDrainMessage: DrainPending(); return 0;
        case kReleaseMessage:
            if (onRelease) onRelease(reinterpret_cast<TVM30*>(lParam));
            return 0;
        default: break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void ParamFrameWindow::OnCommand(int id, int code) {
    switch (id) {
        case kComPortEdit:
            if (code == EN_CHANGE) logic_->SetComPort(ComPortValue());
            break;
        case kAddrEdit:
            if (code == EN_CHANGE) logic_->SetAddress(AddressValue());
            break;
        case kButton1: logic_->Button1Click(); break;
        case kWriteBtn: logic_->WriteBtnClick(); break;
        case kSaveBtn: logic_->SaveBtnClick(); break;
        case kLoadBtn: logic_->LoadBtnClick(); break;
        case kCopyTool: logic_->CopyToolClick(); break;
        case kPasteTool: logic_->PasteToolClick(); break;
        case kDriverSettingBtn: logic_->DriverSettingBtnClick(); break;
        case kBitBtn1: Close(); break;  // closes with the OK result
        case IDCANCEL: logic_->ActionExitExecute(); break;  // Esc
        default: break;
    }
}

LRESULT ParamFrameWindow::OnNotify(const NMHDR& header) {
    switch (header.code) {
        case TCN_SELCHANGE:
            if (header.hwndFrom == tabs_) logic_->TabControl1Change();
            return 0;
        case UDN_DELTAPOS:
            return editors_->OnDeltaPos(reinterpret_cast<const NMUPDOWN&>(header)) ? TRUE : FALSE;
        case TTN_GETDISPINFOW: {
            auto& info = const_cast<NMTTDISPINFOW&>(reinterpret_cast<const NMTTDISPINFOW&>(header));
            static const std::wstring copy = Wide(text::kCopyHint), paste = Wide(text::kPasteHint);
            if (header.idFrom == kCopyTool) info.lpszText = const_cast<wchar_t*>(copy.c_str());
            else if (header.idFrom == kPasteTool) info.lpszText = const_cast<wchar_t*>(paste.c_str());
            return 0;
        }
        case TTN_GETDISPINFOA: {
            auto& info = const_cast<NMTTDISPINFOA&>(reinterpret_cast<const NMTTDISPINFOA&>(header));
            static const std::string copy = platform::Utf8ToCp1251(text::kCopyHint),
                                     paste = platform::Utf8ToCp1251(text::kPasteHint);
            if (header.idFrom == kCopyTool) info.lpszText = const_cast<char*>(copy.c_str());
            else if (header.idFrom == kPasteTool) info.lpszText = const_cast<char*>(paste.c_str());
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
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    if (item.itemState & ODS_FOCUS) {
        RECT focus = r;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

bool ParamFrameWindow::PreTranslate(MSG& msg) {
    // ActionExit: Alt+X anywhere in the window (Esc arrives as IDCANCEL).
    if (msg.message == WM_SYSKEYDOWN && (msg.wParam == 'X') && msg.hwnd &&
        GetAncestor(msg.hwnd, GA_ROOT) == hwnd_) {
        logic_->ActionExitExecute();
        return true;
    }
    return false;
}

void ParamFrameWindow::KeepEditorsOnTheirCell() {
    if (!logic_->Editors().AnyVisible()) return;
    const GridCell cell = grid_->CurrentCell();
    RECT client;
    GetClientRect(grid_->Handle(), &client);
    const Rect r = grid_->CellRect(cell);
    if (r.Height() <= 0 || r.top < 0 || r.bottom > client.bottom || r.left < 0 || r.right > client.right) {
        logic_->PlaceWriteEditor({0, 0});
        return;
    }
    // The logic's placement: 5 pixels in from the cell's left, 8 above its middle.
    const Rect mapped = CellRect(cell);
    editors_->MoveShownTo({mapped.left + 5, (mapped.top + mapped.bottom) / 2 - 8});
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
                 work.top + std::max(0L, (work.bottom - work.top - height) / 2), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    logic_->Shutdown();
    logic_->SetDriver({});
    if (settingsDialog_) settingsDialog_->Cancel();
    Close();
}

// ---- any thread ----

void ParamFrameWindow::DrainPending() {
    Pending work;
    {
        std::lock_guard lock(pendingMutex_);
        drainPosted_ = false;
        std::swap(work, pending_);
    }
    if (work.all) grid_->RepaintAll();
    else for (int row : work.rows) grid_->RepaintRow(row);
    if (work.status) SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(*work.status).c_str()));
}

void ParamFrameWindow::RepaintGrid() {
    if (OnWindowThread()) {
        grid_->RepaintAll();
        return;
    }
    {
        std::lock_guard lock(pendingMutex_);
        pending_.all = true;
        pending_.rows.clear();
    }
    if (!drainPosted_.exchange(true)) PostMessageW(hwnd_, kDrainMessage, 0, 0);
}

void ParamFrameWindow::RepaintRow(int row) {
    if (OnWindowThread()) {
        grid_->RepaintRow(row);
        return;
    }
    {
        std::lock_guard lock(pendingMutex_);
        if (!pending_.all) pending_.rows.push_back(row);
    }
    if (!drainPosted_.exchange(true)) PostMessageW(hwnd_, kDrainMessage, 0, 0);
}

void ParamFrameWindow::SetStatusText(const std::string& text) {
    if (OnWindowThread()) {
        {
            // A run's older text still on its way must not replace this one.
            std::lock_guard lock(pendingMutex_);
            pending_.status.reset();
        }
        SendMessageW(statusBar_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
        return;
    }
    {
        std::lock_guard lock(pendingMutex_);
        pending_.status = text;
    }
    if (!drainPosted_.exchange(true)) PostMessageW(hwnd_, kDrainMessage, 0, 0);
}

// ---- requests ----

void ParamFrameWindow::SetRowCount(int rows) { grid_->SetRowCount(rows); }
void ParamFrameWindow::SetRowHeights(const std::vector<int>& heights) { grid_->SetRowHeights(heights); }
void ParamFrameWindow::SetCurrentCell(GridCell cell) { grid_->SetCurrentCell(cell); }

void ParamFrameWindow::SetStatusColour(StatusColour colour) {
    const COLORREF fill =
        colour == StatusColour::ButtonFace ? CLR_DEFAULT : static_cast<COLORREF>(static_cast<std::uint32_t>(colour));
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

int ParamFrameWindow::ComPortValue() const { return SpinValue(kComPortEdit, kMinComPort, kMaxComPort); }
int ParamFrameWindow::AddressValue() const { return SpinValue(kAddrEdit, kMinAddress, kMaxAddress); }
int ParamFrameWindow::IdNumberValue() const { return SpinValue(kIdNumberEdit, 0, INT_MAX); }
int ParamFrameWindow::SelectedTab() const { return static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)); }
GridCell ParamFrameWindow::CurrentCell() const { return grid_->CurrentCell(); }
int ParamFrameWindow::ColumnWidth(int column) const { return grid_->CellWidth(column); }

int ParamFrameWindow::MeasureTextHeight(const std::string& text, int width) const {
    return grid_->MeasureTextHeight(text, width);
}

Rect ParamFrameWindow::CellRect(GridCell cell) const {
    const Rect r = grid_->CellRect(cell);
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    MapWindowPoints(grid_->Handle(), hwnd_, corners, 2);
    return {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

EditorValues ParamFrameWindow::CurrentEditorValues() const { return editors_->Values(); }
EditorId ParamFrameWindow::FocusedEditor() const { return editors_->Focused(); }

}  // namespace dorv::ui::win32
