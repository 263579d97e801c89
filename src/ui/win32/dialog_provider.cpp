#include "dialog_provider.h"

#include <commdlg.h>

#include <vector>

#include "win32_strings.h"

namespace dorv::ui::win32 {
namespace {

void CreateFolders(const std::wstring& path) {
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == L'\\' || path[i] == L'/') {
            const std::wstring part = path.substr(0, i);
            if (!part.empty() && part.back() != L':') CreateDirectoryW(part.c_str(), nullptr);
        }
    }
}

}  // namespace

MessageResult ShowMessageBox(HWND owner, const MessageRequest& request) {
    UINT flags = request.buttons == MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK;
    if (request.icon == MessageIcon::Question)
        flags |= MB_ICONQUESTION;
    else if (request.icon == MessageIcon::Error)
        flags |= MB_ICONERROR;
    const int answer = MessageBoxW(owner, Wide(request.text).c_str(), Wide(request.caption).c_str(), flags);
    return answer == IDOK ? MessageResult::Ok : MessageResult::Cancel;
}

std::optional<std::string> AskFileName(HWND owner, const FileDialogRequest& request, bool save) {
    const std::wstring title = Wide(request.title);
    const std::wstring extension = Wide(request.defaultExtension);
    const std::wstring folder = Wide(request.initialFolder);
    if (!folder.empty()) CreateFolders(folder);
    std::vector<wchar_t> file(32768, L'\0');
    const std::wstring name = Wide(request.defaultName);
    name.copy(file.data(), std::min(name.size(), file.size() - 1));

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    ofn.lpstrTitle = title.c_str();
    ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    // The host's current folder stays where it was.
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    const BOOL chosen = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!chosen) return std::nullopt;
    return Utf8(file.data());
}

}  // namespace dorv::ui::win32
