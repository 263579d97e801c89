// The modal loop of the parameter window and the settings dialog: runs on the host's
// user-interface thread, with the window's owner disabled, until the window asks to end. The
// host's own windows keep painting meanwhile (their messages are dispatched here); a WM_QUIT
// ends the loop and is posted again for the host's own loop.
#pragma once

#include <windows.h>

#include <functional>

namespace dorv::ui::win32 {

class ModalLoop {
public:
    // Shows `window` owned by `owner` (which is disabled while the loop runs), gives `focus`
    // the focus and runs messages until End(). `preTranslate` sees every message first; true
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
// The host's active top-level window on this thread, the owner of a window about to show.
HWND HostOwner(HWND self);

}  // namespace dorv::ui::win32
