// The modal loop of the parameter window and the settings dialog: runs on the host's
// user-interface thread, with every other window of that thread disabled, until the window asks
// to end. The host's own windows keep painting meanwhile (their messages are dispatched here); a
// WM_QUIT ends the loop and is posted again for the host's own loop.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <vector>

namespace dorv::ui::win32 {

// Modal over the host, whatever its windows look like: every enabled top-level window of the
// calling thread but `window` and the windows it owns is disabled (a host's hidden application
// window, its main form, its other forms). However the scope ends, exactly those are enabled
// again and the window that was active before is activated again.
class HostWindowsDisabled {
public:
    explicit HostWindowsDisabled(HWND window);
    ~HostWindowsDisabled();
    HostWindowsDisabled(const HostWindowsDisabled&) = delete;
    HostWindowsDisabled& operator=(const HostWindowsDisabled&) = delete;

private:
    static BOOL CALLBACK Note(HWND w, LPARAM self);

    HWND window_;
    HWND active_;
    std::vector<HWND> disabled_;
};

class ModalLoop {
public:
    // Shows `window` owned by `owner`, the host's other windows disabled, gives `focus` the
    // focus and runs messages until End(). `preTranslate` sees every message first; true
    // swallows it.
    void Run(HWND window, HWND owner, HWND focus, const std::function<bool(MSG&)>& preTranslate = {});
    // Ends the running loop once the current message has been handled. Window thread only.
    void End();
    bool Running() const { return running_; }

private:
    HWND window_ = nullptr;
    bool running_ = false;
    bool ended_ = false;
};

// WM_PRINT of the module's windows with their child controls (PRF_CHILDREN): the window itself
// through DefWindowProc, then every visible child from the bottom of the Z-order up, each at its
// place, so that PrintWindow gives the whole window as the screen shows it.
LRESULT PrintWithChildren(HWND window, HDC dc, LPARAM flags);

// The module's instance handle, for registering window classes.
HINSTANCE ModuleInstance();
// Registers a top-level window class of the module with the dialog face colour and the arrow
// cursor; registering a name again does nothing.
void RegisterFormClass(const wchar_t* name);
// A hidden child control of the module with the control id `id`.
HWND CreateChild(HWND parent, const wchar_t* cls, DWORD style, DWORD exStyle, int id);
// The host's active top-level window on this thread, the owner of a window about to show.
HWND HostOwner(HWND self);

// Tells the engineer of a failure inside a window's handler (a thread that could not start, an
// allocation), in a message box over `window`.
void ShowFailure(HWND window, const char* what);

// Runs one message's handler: a failure is shown and the message counts as handled, so no C++
// exception leaves through the system's frames and the window stays usable and closable.
template <class Handler>
LRESULT Caught(HWND window, Handler&& handler) {
    try {
        return handler();
    } catch (const std::exception& e) {
        ShowFailure(window, e.what());
    } catch (...) {
        ShowFailure(window, nullptr);
    }
    return 0;
}

}  // namespace dorv::ui::win32
