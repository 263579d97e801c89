// The parameter window's message boxes and file dialogs: the system's own (MessageBox,
// GetSaveFileName, GetOpenFileName), owned by the window.
//
// Thread safety: the window's thread only.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "ui/view_types.h"

namespace dorv::ui::win32 {

MessageResult ShowMessageBox(HWND owner, const MessageRequest& request);
// No file-type filter; the default name and extension and the initial folder as requested (the
// folder is created when missing, so the dialog opens where the buffers are kept). The chosen
// file in UTF-8, or nothing when the user cancels.
std::optional<std::string> AskFileName(HWND owner, const FileDialogRequest& request, bool save);

}  // namespace dorv::ui::win32
