// The parameter window and the settings dialog of Dorv5000.dll, driven by messages as an
// engineer drives them with mouse and keyboard, under Wine with a virtual display. The library is
// loaded as a host loads it; its menu item opens the window; the dispenser line is the
// emulator's controller model behind an in-process host link. Each step of the table is a user
// action and the outcome the engineer sees (or the controller or a file receives). Screenshots
// of both windows go next to the program (param-window.bmp, settings-dialog.bmp).
//
//   wine window_test.exe [--keep-going]     (needs a display: xvfb-run)
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dorv5000/driver.h"
#include "dorv5000/menu.h"
#include "line.h"
#include "request_parser.h"
#include "ui/win32/control_ids.h"
#include "ui/win32/win32_strings.h"

using namespace dorv::ui::win32;

namespace {

constexpr int kWaitMs = 20000;  // a bound for whatever the window does next, never a figure
const wchar_t* const kParamCaption = L"Программирование параметров ТРК";
const wchar_t* const kSettingsCaption = L"Настройки драйвера ТРК DORV";

// ---- the line: the emulator's controllers behind a host link ----

class EmulatorLink final : public dorv::HostLink {
public:
    explicit EmulatorLink(dorv::emu::Line& line) : line_(line) {}

    // A link built on a window of the host's thread (as a serial component with a window of its
    // own): every exchange passes through that thread.
    HWND through = nullptr;

    // Holds the transaction with this count (counting from the next one) until Release().
    void HoldAfter(int more) {
        std::lock_guard lock(gateMutex_);
        holdAt_ = count_ + more;
        held_ = false;
        open_ = false;
    }
    bool Held() {
        std::lock_guard lock(gateMutex_);
        return held_;
    }
    void Release() {
        std::lock_guard lock(gateMutex_);
        open_ = true;
        gate_.notify_all();
    }
    int Transactions() {
        std::lock_guard lock(gateMutex_);
        return count_;
    }

    // Set: the next exchange runs the host's message loop while it waits for the line, as a link
    // that waits with one, and `freeDriver` has the loop free the driver there.
    std::atomic<bool> freeInside{false};
    std::function<void()> freeDriver;
    std::atomic<int> callsAfterFree{0};  // calls that reached the link from the driver freed inside it

    std::int32_t DORV_CALL GetLineError(std::uint8_t) override { return Noted(1); }
    void DORV_CALL ReportLineCode(std::uint8_t, std::int32_t) override { Noted(0); }
    void DORV_CALL ReportLineState(std::uint8_t line, std::int32_t state) override { state_[line] = Noted(state); }
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) override { return static_cast<std::uint8_t>(Noted(state_[line])); }
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t, std::uint8_t) override {
        Noted(0);
        {
            std::unique_lock lock(gateMutex_);
            if (++count_ == holdAt_) {
                held_ = true;
                gate_.wait(lock, [this] { return open_; });
            }
        }
        if (freeInside.exchange(false)) {
            freeDriver();
            freed_ = true;
        }
        if (through) SendMessageW(through, WM_NULL, 0, 0);
        std::lock_guard lock(lineMutex_);
        state_[line] = 0;
        dorv::emu::RequestParser parser;
        const auto records = parser.Feed({frame, frameLength});
        if (records.empty()) return 0;
        const auto answer = line_.Answer(records.back()).bytes;
        if (answer.empty() || !validator_) return 0;  // a silent line
        auto length = static_cast<std::uint8_t>(std::min<std::size_t>(answer.size(), dorv::kReplyCapacity));
        std::copy(answer.begin(), answer.begin() + length, reply);
        validator_(validatorContext_, line, reply, 0, &length, 0);
        return 0;
    }
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t, std::int32_t, std::int32_t) override { return 0; }
    void DORV_CALL SetReplyValidator(std::uint8_t, dorv::ReplyValidator validator, void* context) override {
        Noted(0);
        std::lock_guard lock(lineMutex_);
        validator_ = validator;
        validatorContext_ = context;
    }
    void DORV_CALL SetLineConfigurator(std::uint8_t, dorv::LineConfigurator, void*) override {}

private:
    int Noted(int value) {
        if (freed_) ++callsAfterFree;
        return value;
    }

    dorv::emu::Line& line_;
    std::atomic<bool> freed_{false};
    std::mutex lineMutex_;
    dorv::ReplyValidator validator_ = nullptr;
    void* validatorContext_ = nullptr;
    std::atomic<int> state_[256] = {};
    std::mutex gateMutex_;
    std::condition_variable gate_;
    int count_ = 0;
    int holdAt_ = 0;
    bool held_ = false;
    bool open_ = true;
};

// ---- the host's menu: a main menu with "&ТРК", and a factory of items ----

// A host's TMenuItem as the library calls it: its table in the order of dorv::MenuItem, captions
// in CP1251, and OnClick a TNotifyEvent (code and data; the data in EAX, the sender in EDX).
using NotifyEvent = void(__attribute__((regparm(3), stdcall)) *)(void* data, void* sender);

class Item final : public dorv::MenuItem {
public:
    explicit Item(std::string caption = {}) : caption_(std::move(caption)) {}
    std::int32_t DORV_CALL GetCount() override { return static_cast<std::int32_t>(children.size()); }
    dorv::MenuItem* DORV_CALL GetItem(std::int32_t i) override { return children[static_cast<std::size_t>(i)]; }
    const char* DORV_CALL GetCaption() override { return caption_.c_str(); }
    void DORV_CALL SetCaption(const char* c) override { caption_ = c; }
    void DORV_CALL SetHint(const char*) override {}
    void DORV_CALL SetHelpContext(std::int32_t) override {}
    void DORV_CALL SetShortCut(std::int32_t) override {}
    void DORV_CALL SetOnClick(dorv::MenuClickHandler code, void* data) override {
        onClick = reinterpret_cast<NotifyEvent>(reinterpret_cast<void*>(code));
        onClickData = data;
    }
    void Click() {
        if (onClick) onClick(onClickData, this);
    }
    std::vector<dorv::MenuItem*> children;
    NotifyEvent onClick = nullptr;
    void* onClickData = nullptr;

private:
    std::string caption_;
};

class Factory final : public dorv::MenuItemFactory {
public:
    dorv::MenuItem* DORV_CALL CreateItem(dorv::MenuItem* parent, std::int32_t) override {
        created = new Item();
        static_cast<Item*>(parent)->children.push_back(created);
        return created;
    }
    Item* created = nullptr;
};

// ---- what the engineer does and sees ----

bool WaitFor(const std::function<bool()>& done) {
    for (int waited = 0; waited < kWaitMs; waited += 20) {
        if (done()) return true;
        Sleep(20);
    }
    return done();
}

HWND ParamWindow() { return FindWindowW(kParamWindowClass, kParamCaption); }
HWND SettingsDialog() { return FindWindowW(kSettingsDialogClass, kSettingsCaption); }
HWND Control(int id) { return GetDlgItem(ParamWindow(), id); }
HWND Grid() { return Control(kGrid); }
bool Visible(HWND w) { return w && IsWindowVisible(w); }

std::wstring CellText(int column, int row) {
    const LRESULT length = SendMessageW(Grid(), GM_GETCELLTEXT, MAKEWPARAM(column, row), 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(Grid(), text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

RECT CellRect(int column, int row) {
    const auto corner = [&](LPARAM which) {
        const LRESULT xy = SendMessageW(Grid(), GM_GETCELLRECT, MAKEWPARAM(column, row), which);
        return POINT{static_cast<std::int16_t>(LOWORD(xy)), static_cast<std::int16_t>(HIWORD(xy))};
    };
    const POINT topLeft = corner(0), bottomRight = corner(1);
    return {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

// The grid row that shows the numbered parameter `number` (the third tab's rows).
int RowOfParameter(int number) {
    const int rows = static_cast<int>(SendMessageW(Grid(), GM_GETROWCOUNT, 0, 0));
    for (int row = 8; row < rows; ++row)
        if (CellText(0, row) == std::to_wstring(number)) return row;
    return -1;
}

bool CellShown(int column, int row) {
    const RECT r = CellRect(column, row);
    return r.bottom > r.top;
}

POINT CellCentre(int column, int row) {
    const RECT r = CellRect(column, row);
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// The pointer goes there first, so the system's own mouse moves agree with the posted ones.
void PointAt(HWND w, POINT p) {
    POINT screen = p;
    ClientToScreen(w, &screen);
    SetCursorPos(screen.x, screen.y);
    PostMessageW(w, WM_MOUSEMOVE, 0, MAKELPARAM(p.x, p.y));
}

void ClickAt(HWND w, POINT p, bool twice = false) {
    const LPARAM at = MAKELPARAM(p.x, p.y);
    PointAt(w, p);
    PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(w, WM_LBUTTONUP, 0, at);
    if (twice) {
        PostMessageW(w, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageW(w, WM_LBUTTONUP, 0, at);
    }
}

// Scrolls the grid with its scroll bar until the row is wholly in view.
void ScrollToRow(int row) {
    RECT client{};
    GetClientRect(Grid(), &client);
    for (int step = 0; step < 200; ++step) {
        if (CellRect(0, row).bottom <= client.bottom) return;
        SendMessageW(Grid(), WM_VSCROLL, SB_LINEDOWN, 0);
    }
}

void ClickCell(int column, int row, bool twice = false) { ClickAt(Grid(), CellCentre(column, row), twice); }
void Press(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void ClickTab(int tab) {
    RECT r{};
    SendMessageW(Control(kTabControl1), TCM_GETITEMRECT, tab, reinterpret_cast<LPARAM>(&r));
    ClickAt(Control(kTabControl1), {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void ClickTool(int id) {
    HWND bar = Control(kToolBar1);
    const int index = static_cast<int>(SendMessageW(bar, TB_COMMANDTOINDEX, id, 0));
    RECT r{};
    SendMessageW(bar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
    ClickAt(bar, {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void Key(HWND w, WPARAM key, bool alt = false) {
    const LPARAM flags = alt ? (1L << 29) : 0;
    PostMessageW(w, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, flags | 1);
    PostMessageW(w, alt ? WM_SYSKEYUP : WM_KEYUP, key, flags | 0xC0000001L);
}

// ---- the host's thread: a hidden application window owning its forms, as a VCL host has ----

constexpr UINT kClickMessage = WM_APP + 10;    // the engineer clicks the menu item on this form
constexpr UINT kDestroyMessage = WM_APP + 11;  // the host frees its driver
constexpr UINT kCreateMessage = WM_APP + 12;   // the host creates a new driver

struct Host {
    DWORD thread = 0;
    HWND application = nullptr;
    HWND mainForm = nullptr;  // ordinary overlapped forms
    HWND secondForm = nullptr;
    HWND popupMainForm = nullptr;  // forms with the pop-up style (dialog-bordered)
    HWND popupSecondForm = nullptr;
    std::function<void()> click, destroy, create;
    std::atomic<int> clicksPosted{0};
    std::atomic<int> clicksReturned{0};
    std::atomic<int> destroyed{0};
};
Host g_host;

LRESULT CALLBACK HostProc(HWND w, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case kClickMessage:
            SetForegroundWindow(w);
            SetActiveWindow(w);
            g_host.click();
            ++g_host.clicksReturned;
            return 0;
        case kDestroyMessage:
            g_host.destroy();
            ++g_host.destroyed;
            return 0;
        case kCreateMessage: g_host.create(); return 0;
        default: return DefWindowProcW(w, msg, wParam, lParam);
    }
}

void MakeHostWindows() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"THostForm";
    RegisterClassW(&wc);
    const auto form = [](const wchar_t* caption, DWORD style, HWND owner, int x) {
        HWND w = CreateWindowExW(0, L"THostForm", caption, style, x, 10, 200, 120, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
        if (style & WS_VISIBLE) ShowWindow(w, SW_SHOW);
        return w;
    };
    g_host.thread = GetCurrentThreadId();
    g_host.application = form(L"Host", WS_POPUP | WS_CAPTION | WS_SYSMENU, nullptr, 0);
    const DWORD overlapped = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    const DWORD popup = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
    g_host.mainForm = form(L"Main form", overlapped, g_host.application, 0);
    g_host.secondForm = form(L"Second form", overlapped, g_host.application, 210);
    g_host.popupMainForm = form(L"Pop-up main form", popup, g_host.application, 420);
    g_host.popupSecondForm = form(L"Pop-up second form", popup, g_host.application, 630);
}

std::vector<HWND> HostForms() {
    return {g_host.application, g_host.mainForm, g_host.secondForm, g_host.popupMainForm, g_host.popupSecondForm};
}

// While the window shows, no window of the host takes input.
bool HostDisabled() {
    for (HWND w : HostForms())
        if (IsWindowEnabled(w)) return false;
    return true;
}

// After it closes, every window of the host is usable again and `form` is active.
bool HostBackOn(HWND form) {
    return WaitFor([&] {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(g_host.thread, &info) || info.hwndActive != form) return false;
        for (HWND w : HostForms())
            if (!IsWindowEnabled(w)) return false;
        return true;
    });
}

HWND FocusedControl() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(g_host.thread, &info) ? info.hwndFocus : nullptr;
}

// Keys and characters go to whatever has the focus, as a person types.
void PressKey(WPARAM key) { Key(FocusedControl(), key); }
void Type(const std::wstring& text) {
    for (wchar_t c : text) PostMessageW(FocusedControl(), WM_CHAR, c, 1);
}

// Makes the library's threads fail to start, or start again: its import of the C run-time's
// thread creation is pointed elsewhere (nothing in the library is told).
std::uintptr_t __cdecl NoThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*) {
    errno = EAGAIN;
    return 0;
}

void* SwapImport(HMODULE module, const char* dll, const char* name, void* replacement) {
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (lstrcmpA(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD old = 0;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &old);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<std::uintptr_t>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), old, &old);
            return previous;
        }
    }
    return nullptr;
}

// ---- a themed host: comctl32 version 6 through a manifest, a visual style chosen ----

void ChooseVisualStyle() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\ThemeManager", 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    const auto set = [&](const wchar_t* name, const std::wstring& value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    set(L"ThemeActive", L"1");
    set(L"DllName", std::wstring(windows) + L"\\resources\\themes\\light\\light.msstyles");
    set(L"ColorName", L"Blue");
    set(L"SizeName", L"NormalSize");
    RegCloseKey(key);
}

// What a host's manifest asking for the themed common controls gives the thread.
bool UseThemedControls(const std::wstring& folder) {
    const std::wstring path = folder + L"\\host.manifest";
    const char manifest[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"><dependency>"
        "<dependentAssembly><assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
        "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>"
        "</dependentAssembly></dependency></assembly>";
    if (FILE* out = _wfopen(path.c_str(), L"wb")) {
        std::fwrite(manifest, 1, sizeof manifest - 1, out);
        std::fclose(out);
    }
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.lpSource = path.c_str();
    HANDLE handle = CreateActCtxW(&context);
    ULONG_PTR cookie = 0;
    return handle != INVALID_HANDLE_VALUE && ActivateActCtx(handle, &cookie);
}

// The theme a control draws with now (null: the classic look).
void* ThemeOf(HWND control) {
    using GetWindowThemeFn = void*(WINAPI*)(HWND);
    static const auto get =
        reinterpret_cast<GetWindowThemeFn>(reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"uxtheme.dll"), "GetWindowTheme")));
    return get ? get(control) : nullptr;
}

// The grid's hint as its tooltip holds it now.
struct HintSearch {
    HWND grid;
    std::wstring text;
};

BOOL CALLBACK FindHint(HWND w, LPARAM p) {
    auto& s = *reinterpret_cast<HintSearch*>(p);
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    if (lstrcmpiW(cls, TOOLTIPS_CLASSW) != 0) return TRUE;
    wchar_t text[256] = {};
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = s.grid;
    tool.uId = reinterpret_cast<UINT_PTR>(s.grid);
    tool.lpszText = text;
    SendMessageW(w, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
    if (text[0]) s.text = text;
    return TRUE;
}

std::wstring GridHint() {
    HintSearch search{Grid(), {}};
    EnumThreadWindows(GetWindowThreadProcessId(search.grid, nullptr), &FindHint, reinterpret_cast<LPARAM>(&search));
    return search.text;
}

std::wstring StatusText() {
    wchar_t text[512] = {};
    SendMessageW(Control(kStatusBar1), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

// A message box or file dialog of the window, found by its caption.
HWND Dialog(const wchar_t* caption) {
    HWND found = nullptr;
    WaitFor([&] { return Visible(found = FindWindowW(L"#32770", caption)); });
    return found;
}

bool Answer(const wchar_t* caption, int button) {
    HWND box = Dialog(caption);
    if (!box) return false;
    PostMessageW(box, WM_COMMAND, button, 0);
    return WaitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); });
}

// Types `path` into a file dialog's name field and confirms.
bool ChooseFile(const wchar_t* caption, const std::wstring& path) {
    HWND dialog = Dialog(caption);
    if (!dialog) return false;
    // The name field: a combo box (cmb13) in the Explorer-style dialog, an edit (edt1) in the old.
    HWND field = GetDlgItem(dialog, 0x47C);
    if (!field) field = GetDlgItem(dialog, 0x480);
    if (!field) return false;
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    return WaitFor([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); });
}

// Pixels of a kind that the screen shows inside a grid cell's text (its frame left out): what the
// engineer actually sees painted there, not what the grid would paint.
bool Dark(int r, int g, int b) { return r + g + b < 240; }
bool Red(int r, int g, int b) { return r > 180 && g < 90 && b < 90; }

int PixelsInCell(int column, int row, bool (*kind)(int r, int g, int b)) {
    const RECT r = CellRect(column, row);
    const int middle = (r.top + r.bottom) / 2;
    const RECT text{r.left + 6, middle - 7, r.right - 6, middle + 7};
    const int w = text.right - text.left, h = text.bottom - text.top;
    if (w <= 0 || h <= 0) return 0;
    HDC screen = GetDC(Grid());
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, w, h, screen, text.left, text.top, SRCCOPY);
    int ink = 0;
    const auto* px = static_cast<const std::uint8_t*>(bits);
    for (int i = 0; i < w * h; ++i)
        if (kind(px[4 * i + 2], px[4 * i + 1], px[4 * i])) ++ink;
    SelectObject(mem, old);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(Grid(), screen);
    return ink;
}

// The window as PrintWindow draws it, as a 24-bit BMP.
bool SaveScreenshot(HWND window, const std::string& path) {
    RECT r{};
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bitmap);
    bool printed = PrintWindow(window, mem, 0) != FALSE;
    // The title bar, drawn by the system as on the screen (a display without a window manager
    // leaves it out of the print).
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    const int border = origin.x - r.left;
    RECT caption{border, border, w - border, origin.y - r.top};
    RECT frame{0, 0, w, h};
    DrawEdge(mem, &frame, EDGE_RAISED, BF_RECT);
    if (caption.bottom > caption.top) DrawCaption(window, mem, &caption, DC_ACTIVE | DC_TEXT | DC_GRADIENT);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof bi.bmiHeader;
    file.bfSize = file.bfOffBits + stride * static_cast<DWORD>(h);
    bool written = false;
    if (FILE* out = std::fopen(path.c_str(), "wb")) {
        written = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, out) == 1 &&
                  std::fwrite(bits, stride * static_cast<DWORD>(h), 1, out) == 1;
        std::fclose(out);
    }
    SelectObject(mem, old);
    DeleteObject(bitmap);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return printed && written;
}

}  // namespace

int main(int argc, char** argv) {
    // Goes on after a failed step, to see every step of a broken build at once.
    const bool keepGoing = argc > 1 && std::string(argv[1]) == "--keep-going";
    // Files of this run beside the program: cnf.INI (the Windows directory), the buffers.
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring dir = exe;
    dir.resize(dir.find_last_of(L'\\'));
    const std::wstring work = dir + L"\\window-test";
    const std::wstring buffers = work + L"\\buffers";
    CreateDirectoryW(work.c_str(), nullptr);
    CreateDirectoryW(buffers.c_str(), nullptr);
    const std::wstring cnf = work + L"\\cnf.INI";
    const std::wstring saved = work + L"\\saved.par";
    const std::wstring copyBuffer = buffers + L"\\Dorv.buf";
    for (const std::wstring& f : {cnf, saved, copyBuffer}) DeleteFileW(f.c_str());
    WritePrivateProfileStringW(L"Dorv", L"PistStep", L"2", cnf.c_str());
    _wputenv_s(L"DORV_WINDIR", work.c_str());
    _wputenv_s(L"DORV_SETTINGS_DIR", buffers.c_str());
    const std::string shots = [&] {
        std::string s(dir.begin(), dir.end());  // the build folder's path is ASCII
        return s;
    }();

    ChooseVisualStyle();
    if (!UseThemedControls(work)) {
        std::printf("FAIL: no activation context for the themed common controls\n");
        return 1;
    }
    HMODULE library = LoadLibraryW(L"Dorv5000.dll");
    auto getDI30 = reinterpret_cast<dorv::DI30*(DORV_CALL*)(std::int32_t, std::int32_t, dorv::HostLink*)>(
        reinterpret_cast<void*>(GetProcAddress(library, "GetDI30")));
    if (!getDI30) {
        std::printf("FAIL: Dorv5000.dll or GetDI30 not found\n");
        return 1;
    }
    dorv::emu::Line line;
    line.AddController(1);
    line.SetParam(1, 4, 7);
    EmulatorLink link(line);
    std::atomic<dorv::DI30*> driver{getDI30(0, 0, &link)};

    Item root, file("&\xD4\xE0\xE9\xEB"), dispensers("&\xD2\xD0\xCA");  // "&Файл", "&ТРК" in CP1251
    root.children = {&file, &dispensers};
    Factory factory;
    driver.load()->AttachMenu(&root, &factory);
    Item* menuItem = factory.created;
    if (!menuItem || !menuItem->onClick) {
        std::printf("FAIL: the menu item was not added under \"&ТРК\"\n");
        return 1;
    }
    MakeHostWindows();
    link.through = g_host.mainForm;
    g_host.click = [&] { menuItem->Click(); };
    g_host.destroy = [&] { delete driver.exchange(nullptr); };
    g_host.create = [&] { driver = getDI30(0, 0, &link); };
    link.freeDriver = [] {
        PostMessageW(g_host.mainForm, kDestroyMessage, 0, 0);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    };
    // The engineer clicks the menu item on `form`; the host's thread runs the click.
    const auto clickOn = [](HWND form) {
        ++g_host.clicksPosted;
        PostMessageW(form, kClickMessage, 0, 0);
        return WaitFor([] { return Visible(ParamWindow()); });
    };
    // The window has closed and the host's click has returned.
    const auto hostFreed = [] {
        return WaitFor([] { return g_host.clicksReturned == g_host.clicksPosted && !FindWindowW(kParamWindowClass, nullptr); });
    };

    int row = -1;  // the row of parameter 4 (3 digits, no decimals, 0 to 999)
    struct Step {
        const char* what;
        std::function<bool()> run;
    };
    const std::vector<Step> steps = {
        {"the menu item opens the parameter window",
         [&] {
             if (!clickOn(g_host.mainForm)) return false;
             row = RowOfParameter(4);
             return row > 0;
         }},
        {"modal in a host with overlapped forms: no window of the host takes input", [&] { return HostDisabled(); }},
        {"in a themed host the tabs stay at the bottom, out of the theme as the status bar",
         [&] {
             RECT tab{}, control{};
             SendMessageW(Control(kTabControl1), TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&tab));
             GetClientRect(Control(kTabControl1), &control);
             return ThemeOf(Control(kButton1)) && !ThemeOf(Control(kTabControl1)) && tab.top > control.bottom / 2;
         }},
        {"the address tab shows the ID field, the parameter tab hides it and the common commands",
         [&] {
             ClickTab(1);
             if (!WaitFor([] { return Visible(Control(kIdNumberEdit)); })) return false;
             ClickTab(2);
             return WaitFor([&] { return !Visible(Control(kIdNumberEdit)) && CellShown(0, row) && !CellShown(0, 1); });
         }},
        {"the mouse over a read cell and over a write cell shows their hints",
         [&] {
             PointAt(Grid(), CellCentre(3, row));
             if (!WaitFor([] { return GridHint() == L"Дважды щелкните на поле для чтения параметра"; })) return false;
             PointAt(Grid(), CellCentre(4, row));
             return WaitFor([] { return GridHint() == L"Нажмите Enter для записи параметра"; });
         }},
        {"a field shows what it sends: 70 in the address becomes 64, 1500 in a 0-999 editor 999",
         [&] {
             ClickAt(Control(kAddrEdit), {10, 10});
             if (!WaitFor([&] { return FocusedControl() == Control(kAddrEdit); })) return false;
             PressKey(VK_END);
             Type(L"\b\b70");
             PressKey(VK_TAB);
             if (!WaitFor([&] { return WindowText(Control(kAddrEdit)) == L"64"; })) return false;
             ClickAt(Control(kAddrEdit), {10, 10});  // emptied, it means and shows 1
             if (!WaitFor([&] { return FocusedControl() == Control(kAddrEdit); })) return false;
             PressKey(VK_END);
             Type(L"\b\b");
             PressKey(VK_TAB);
             if (!WaitFor([&] { return WindowText(Control(kAddrEdit)) == L"1"; })) return false;
             ClickCell(3, row);
             ClickCell(4, row);
             HWND edit = Control(kWriteValueEdit);
             if (!WaitFor([&] { return FocusedControl() == edit; })) return false;
             Type(L"1500");
             PressKey(VK_RETURN);
             HWND box = Dialog(L"Подтверждение записи");
             const bool shown = box && WindowText(edit) == L"999";
             return Answer(L"Подтверждение записи", IDCANCEL) && shown;
         }},
        {"a double-click on the read cell reads the controller's value",
         [&] {
             ClickCell(3, row, true);
             return WaitFor([&] { return CellText(3, row) == L"7"; });
         }},
        {"a value typed into the write cell, Enter and OK write it; the status bar says so",
         [&] {
             ClickCell(4, row);
             HWND edit = Control(kWriteValueEdit);
             if (!WaitFor([&] { return Visible(edit); })) return false;
             SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"123"));
             Key(edit, VK_RETURN);
             if (!Answer(L"Подтверждение записи", IDOK)) return false;
             return WaitFor([&] { return StatusText() == L"Операция записи проведена." && line.Param(1, 4) == 123; });
         }},
        {"after a confirmed write the focus is back in the editor: Enter asks again",
         [&] {
             HWND edit = Control(kWriteValueEdit);
             if (!WaitFor([&] { return FocusedControl() == edit; })) return false;
             PressKey(VK_RETURN);
             return Answer(L"Подтверждение записи", IDCANCEL);
         }},
        {"Enter answered with Cancel sends nothing",
         [&] {
             ClickCell(3, row);
             ClickCell(4, row);
             HWND edit = Control(kWriteValueEdit);
             if (!WaitFor([&] { return Visible(edit); })) return false;
             SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"55"));
             Key(edit, VK_RETURN);
             if (!Answer(L"Подтверждение записи", IDCANCEL)) return false;
             SendMessageW(Grid(), GM_GETROWCOUNT, 0, 0);  // the window has finished with the answer
             return line.Param(1, 4) == 123;
         }},
        {"read-all repaints each row as it is read, while the run goes on",
         [&] {
             const int first = RowOfParameter(0);
             const int last = static_cast<int>(SendMessageW(Grid(), GM_GETROWCOUNT, 0, 0)) - 1;
             link.HoldAfter(6);
             Press(Control(kButton1));
             if (!WaitFor([&] { return link.Held(); })) return false;
             const bool midway = WaitFor([&] { return PixelsInCell(3, first, &Dark) > 0; }) && CellText(3, last).empty();
             link.Release();
             return midway && WaitFor([&] { return !CellText(3, last).empty(); });
         }},
        {"screenshot of the parameter window", [&] { return SaveScreenshot(ParamWindow(), shots + "\\param-window.bmp"); }},
        {"save through the file dialog writes the values into the chosen file",
         [&] {
             Press(Control(kSaveBtn));
             if (!ChooseFile(L"Сохранение файла настроек", saved)) return false;
             return WaitFor([&] { return GetPrivateProfileIntW(L"Parametr", L"4", -1, saved.c_str()) == 123; });
         }},
        {"load through the file dialog shows the file's values in the write column",
         [&] {
             WritePrivateProfileStringW(L"Parametr", L"4", L"77", saved.c_str());
             Press(Control(kLoadBtn));
             if (!ChooseFile(L"Считать параметры из файла", saved)) return false;
             return WaitFor([&] { return CellText(4, row) == L"77"; });
         }},
        {"copy puts the values into the copy buffer",
         [&] {
             ClickTool(kCopyTool);
             return WaitFor([&] { return GetPrivateProfileIntW(L"Parametr", L"4", -1, copyBuffer.c_str()) == 77; });
         }},
        {"a value the write would refuse shows in red; no horizontal scroll bar when the columns fit",
         [&] {
             WritePrivateProfileStringW(L"Parametr", L"4", L"12345", saved.c_str());
             Press(Control(kLoadBtn));
             if (!ChooseFile(L"Считать параметры из файла", saved)) return false;
             if (!WaitFor([&] { return CellText(4, row) == L"12345"; })) return false;
             return WaitFor([&] { return PixelsInCell(4, row, &Red) > 0; }) && !(GetWindowLongW(Grid(), GWL_STYLE) & WS_HSCROLL);
         }},
        {"a list parameter's write cell offers its choices; Enter and OK write the chosen one",
         [&] {
             const int listRow = RowOfParameter(0);
             ClickCell(3, listRow);
             ClickCell(4, listRow);
             HWND list = Control(kWriteValueCB);
             if (!WaitFor([&] { return Visible(list) && SendMessageW(list, CB_GETCOUNT, 0, 0) == 2; })) return false;
             SendMessageW(list, CB_SETCURSEL, 1, 0);
             Key(list, VK_RETURN);
             if (!Answer(L"Подтверждение записи", IDOK)) return false;
             return WaitFor([&] { return line.Param(1, 0) == 1; });
         }},
        {"a pair of values goes to the controller as one number (3 and 250: 3250)",
         [&] {
             const int pairRow = RowOfParameter(24);
             ScrollToRow(pairRow);
             ClickCell(3, pairRow);
             ClickCell(4, pairRow);
             HWND first = Control(kWriteValueEdit), second = Control(kWriteValueEdit2);
             if (!WaitFor([&] { return Visible(first) && Visible(second); })) return false;
             SendMessageW(first, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"3"));
             SendMessageW(second, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"250"));
             Key(second, VK_RETURN);
             if (!Answer(L"Подтверждение записи", IDOK)) return false;
             return WaitFor([&] { return line.Param(1, 24) == 3250; });
         }},
        {"Tab moves from the first part of a pair to the second",
         [&] {
             const int pairRow = RowOfParameter(24);
             ClickCell(3, pairRow);
             ClickCell(4, pairRow);
             if (!WaitFor([&] { return FocusedControl() == Control(kWriteValueEdit); })) return false;
             PressKey(VK_TAB);
             return WaitFor([&] { return FocusedControl() == Control(kWriteValueEdit2); });
         }},
        {"Esc closes the window",
         [&] {
             Key(Grid(), VK_ESCAPE);
             return WaitFor([] { return !Visible(ParamWindow()); });
         }},
        {"closing gives the host back: every form usable, the main form active", [&] { return HostBackOn(g_host.mainForm); }},
        {"the menu item opens it again; paste brings the copied values back",
         [&] {
             if (!clickOn(g_host.popupMainForm)) return false;
             ClickTab(2);
             if (!WaitFor([&] { return CellShown(4, row) && CellText(4, row) != L"77"; })) return false;
             ClickTool(kPasteTool);
             return WaitFor([&] { return CellText(4, row) == L"77"; });
         }},
        {"modal in a host with pop-up forms: no window of the host takes input", [&] { return HostDisabled(); }},
        {"a read-all whose thread cannot start shows an error; the window closes and opens again",
         [&] {
             void* real = SwapImport(library, "msvcrt.dll", "_beginthreadex", reinterpret_cast<void*>(&NoThread));
             if (!real) return false;
             Press(Control(kButton1));
             const bool told = Answer(L"Ошибка", IDOK);
             SwapImport(library, "msvcrt.dll", "_beginthreadex", real);
             Key(Grid(), VK_ESCAPE);
             if (!told || !WaitFor([] { return !Visible(ParamWindow()); }) || !HostBackOn(g_host.popupMainForm)) return false;
             return clickOn(g_host.popupMainForm);
         }},
        {"the settings dialog opens with the numbering cnf.INI holds",
         [&] {
             Press(Control(kDriverSettingBtn));
             if (!WaitFor([] { return Visible(SettingsDialog()); })) return false;
             return IsDlgButtonChecked(SettingsDialog(), kPistStepItem1) == BST_CHECKED &&
                    IsDlgButtonChecked(SettingsDialog(), kPistStepItem0) == BST_UNCHECKED;
         }},
        {"screenshot of the settings dialog", [&] { return SaveScreenshot(SettingsDialog(), shots + "\\settings-dialog.bmp"); }},
        {"ticking the SpecAutomatika box and Применить store it in cnf.INI",
         [&] {
             HWND dialog = SettingsDialog();
             SendMessageW(GetDlgItem(dialog, kSpecAutomatika), BM_CLICK, 0, 0);
             Press(GetDlgItem(dialog, kApplyBtn));
             return WaitFor([&] {
                 return !Visible(dialog) && GetPrivateProfileIntW(L"Dorv", L"SpecAvtomatika", -1, cnf.c_str()) == 1 &&
                        GetPrivateProfileIntW(L"Dorv", L"PistStep", -1, cnf.c_str()) == 2;
             });
         }},
        {"unticking it and Отмена leave the driver and cnf.INI as they were",
         [&] {
             Press(Control(kDriverSettingBtn));
             if (!WaitFor([] { return Visible(SettingsDialog()); })) return false;
             HWND dialog = SettingsDialog();
             if (IsDlgButtonChecked(dialog, kSpecAutomatika) != BST_CHECKED) return false;
             SendMessageW(GetDlgItem(dialog, kSpecAutomatika), BM_CLICK, 0, 0);
             Press(GetDlgItem(dialog, kCancelBtn));
             if (!WaitFor([&] { return !Visible(dialog); })) return false;
             Press(Control(kDriverSettingBtn));
             if (!WaitFor([] { return Visible(SettingsDialog()); })) return false;
             const bool kept = IsDlgButtonChecked(dialog, kSpecAutomatika) == BST_CHECKED &&
                               GetPrivateProfileIntW(L"Dorv", L"SpecAvtomatika", -1, cnf.c_str()) == 1;
             Key(GetDlgItem(dialog, kCancelBtn), VK_ESCAPE);
             return WaitFor([&] { return !Visible(dialog); }) && kept;
         }},
        {"Alt+X during a read-all closes the window; the run is still under way",
         [&] {
             link.HoldAfter(3);
             Press(Control(kButton1));
             if (!WaitFor([&] { return link.Held(); })) return false;
             Key(Grid(), 'X', /*alt=*/true);
             return WaitFor([] { return !Visible(ParamWindow()); }) && link.Held() && HostBackOn(g_host.popupMainForm);
         }},
        {"destroying the driver releases the window and stops the run: no exchange afterwards",
         [&] {
             PostMessageW(g_host.mainForm, kDestroyMessage, 0, 0);
             link.Release();
             if (!WaitFor([] { return g_host.destroyed == 1; })) return false;
             const int after = link.Transactions();
             Sleep(300);
             return link.Transactions() == after && !FindWindowW(kParamWindowClass, nullptr);
         }},
        {"the host frees its driver and creates another: the menu item opens the window for it",
         [&] {
             PostMessageW(g_host.mainForm, kCreateMessage, 0, 0);
             if (!WaitFor([&] { return driver.load() != nullptr; })) return false;
             return clickOn(g_host.mainForm);
         }},
        {"destroyed from another thread during a read-all through the host's thread: no hang",
         [&] {
             link.HoldAfter(3);
             Press(Control(kButton1));
             if (!WaitFor([&] { return link.Held(); })) return false;
             std::thread destroyer([&] { delete driver.exchange(nullptr); });
             destroyer.detach();
             link.Release();
             return hostFreed();
         }},
        {"destroyed by the host's thread during a read-all through that thread: no hang",
         [&] {
             PostMessageW(g_host.mainForm, kCreateMessage, 0, 0);
             if (!WaitFor([&] { return driver.load() != nullptr; }) || !clickOn(g_host.mainForm)) return false;
             link.HoldAfter(3);
             Press(Control(kButton1));
             if (!WaitFor([&] { return link.Held(); })) return false;
             PostMessageW(g_host.mainForm, kDestroyMessage, 0, 0);
             link.Release();
             return hostFreed() && g_host.destroyed == 2;
         }},
        {"a read whose link runs the host's message loop, which frees the driver: the read ends, the link hears no more",
         [&] {
             PostMessageW(g_host.mainForm, kCreateMessage, 0, 0);
             if (!WaitFor([&] { return driver.load() != nullptr; }) || !clickOn(g_host.mainForm)) return false;
             ClickTab(2);
             if (!WaitFor([&] { return CellShown(3, row); })) return false;
             link.freeInside = true;
             ClickCell(3, row, true);
             return hostFreed() && g_host.destroyed == 3 && link.callsAfterFree == 0;
         }},
    };

    std::atomic<bool> failed{false};
    std::atomic<bool> hostDone{false};
    // A hung host leaves the steps waiting on its windows: the run ends as failed.
    std::atomic<int> progress{0};
    std::thread([&] {
        for (int seen = -1, quiet = 0; !hostDone; Sleep(1000)) {
            quiet = progress == seen ? quiet + 1 : 0;
            seen = progress;
            if (quiet * 1000 > 3 * kWaitMs) {
                std::printf("FAIL: the host's thread hangs\n");
                std::fflush(stdout);
                TerminateProcess(GetCurrentProcess(), 1);
            }
        }
    }).detach();
    std::thread user([&] {
        for (const Step& step : steps) {
            const bool ok = step.run();
            ++progress;
            std::printf("%s: %s\n", ok ? "ok  " : "FAIL", step.what);
            std::fflush(stdout);
            if (!ok) {
                failed = true;
                if (!keepGoing) break;
            }
        }
        if (failed) {
            // Leave nothing showing, so the host's clicks return.
            link.Release();
            for (HWND w : {SettingsDialog(), ParamWindow()})
                if (w) PostMessageW(w, WM_CLOSE, 0, 0);
        }
        PostThreadMessageW(g_host.thread, WM_QUIT, 0, 0);
    });
    // The host's own message loop: clicks, destroying and creating drivers arrive as messages.
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    hostDone = true;
    user.join();
    delete driver.exchange(nullptr);
    FreeLibrary(library);
    std::printf("window tests: %s\n", failed ? "FAILED" : "passed");
    return failed ? 1 : 0;
}
