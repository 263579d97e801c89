#include "modal_loop.h"

#include <algorithm>
#include <string>

#include "ui/texts.h"
#include "win32_strings.h"

#include "host/fpu_control.h"

namespace dorv::ui::win32 {

HostWindowsDisabled::HostWindowsDisabled(HWND window) : window_(window), active_(GetActiveWindow()) {
    EnumThreadWindows(GetCurrentThreadId(), &HostWindowsDisabled::Note, reinterpret_cast<LPARAM>(this));
    for (HWND w : disabled_) EnableWindow(w, FALSE);
}

BOOL CALLBACK HostWindowsDisabled::Note(HWND w, LPARAM self) {
    auto& guard = *reinterpret_cast<HostWindowsDisabled*>(self);
    for (HWND owner = w; owner; owner = GetWindow(owner, GW_OWNER))
        if (owner == guard.window_) return TRUE;
    if (IsWindowEnabled(w)) guard.disabled_.push_back(w);
    return TRUE;
}

HostWindowsDisabled::~HostWindowsDisabled() {
    // The host's windows come back before the window goes, so the system can activate them.
    for (HWND w : disabled_)
        if (IsWindow(w)) EnableWindow(w, TRUE);
    ShowWindow(window_, SW_HIDE);
    if (active_ && active_ != window_ && IsWindow(active_)) SetActiveWindow(active_);
}

void ModalLoop::Run(HWND window, HWND owner, HWND focus, const std::function<bool(MSG&)>& preTranslate) {
    if (!IsWindow(window)) return;
    window_ = window;
    running_ = true;
    ended_ = false;
    struct Running {
        bool& running;
        ~Running() { running = false; }
    } runningScope{running_};
    SetWindowLongPtrW(window, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
    HostWindowsDisabled modal(window);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    if (focus) SetFocus(focus);
    MSG msg;
    while (!ended_) {
        BOOL got;
        {
            // Messages sent to the host's windows are delivered inside the wait.
            const host::HostFpu hostFpu;
            got = GetMessageW(&msg, nullptr, 0, 0);
        }
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        if (preTranslate && preTranslate(msg)) continue;
        if (IsDialogMessageW(window, &msg)) continue;
        TranslateMessage(&msg);
        const host::HostFpu hostFpu;  // the host's windows get their messages under its words
        DispatchMessageW(&msg);
    }
}

void ModalLoop::End() {
    ended_ = true;
    if (window_) PostMessageW(window_, WM_NULL, 0, 0);  // wakes the loop's GetMessage
}

LRESULT PrintWithChildren(HWND window, HDC dc, LPARAM flags) {
    const LRESULT result = DefWindowProcW(window, WM_PRINT, reinterpret_cast<WPARAM>(dc), flags & ~PRF_CHILDREN);
    if (!(flags & PRF_CHILDREN)) return result;
    // Children are placed relative to the client area; with the frame drawn, that is inset.
    POINT origin{0, 0};
    if (flags & PRF_NONCLIENT) {
        RECT frame;
        GetWindowRect(window, &frame);
        ClientToScreen(window, &origin);
        origin.x -= frame.left;
        origin.y -= frame.top;
    }
    const HWND first = GetWindow(window, GW_CHILD);
    for (HWND child = first ? GetWindow(first, GW_HWNDLAST) : nullptr; child; child = GetWindow(child, GW_HWNDPREV)) {
        if (!IsWindowVisible(child)) continue;
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        // Each child prints into a picture of its own (controls clip to their own client
        // rectangle in device units), which then goes to its place.
        const int width = r.right - r.left, height = r.bottom - r.top;
        HDC picture = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max(1, width), std::max(1, height));
        HGDIOBJ old = SelectObject(picture, bitmap);
        // What lies beneath shows through wherever the child paints nothing (a group box).
        BitBlt(picture, 0, 0, width, height, dc, origin.x + r.left, origin.y + r.top, SRCCOPY);
        SendMessageW(child, WM_PRINT, reinterpret_cast<WPARAM>(picture), PRF_NONCLIENT | PRF_CLIENT | PRF_ERASEBKGND | PRF_CHILDREN);
        BitBlt(dc, origin.x + r.left, origin.y + r.top, width, height, picture, 0, 0, SRCCOPY);
        SelectObject(picture, old);
        DeleteObject(bitmap);
        DeleteDC(picture);
    }
    return result;
}

HINSTANCE ModuleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
    return module;
}

void RegisterFormClass(const wchar_t* name) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = ModuleInstance();
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = name;
    RegisterClassExW(&wc);  // fails harmlessly when the class exists already
}

HWND CreateChild(HWND parent, const wchar_t* cls, DWORD style, DWORD exStyle, int id) {
    return CreateWindowExW(exStyle, cls, L"", WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 10, 10, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
}

HWND HostOwner(HWND self) {
    HWND active = GetActiveWindow();
    return active == self ? nullptr : active;
}

void ShowFailure(HWND window, const char* what) {
    const std::string text = what && *what ? what : "Unknown error";
    MessageBoxW(window ? GetAncestor(window, GA_ROOT) : nullptr, Wide(text).c_str(), Wide(text::kErrorCaption).c_str(),
                MB_OK | MB_ICONERROR);
}

}  // namespace dorv::ui::win32
