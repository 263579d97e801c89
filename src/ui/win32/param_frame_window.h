// ParamFrameWindow: the parameter window ("Программирование параметров ТРК") on Win32, with only
// the system's controls (user32, comctl32) and dialogs (comdlg32). It owns the window logic
// (TParamFrm), draws what the logic says and forwards every event to the handler of the same
// name; no decision about parameters is taken here. Shown modally on the host's thread with its
// own message loop, centred on the screen.
//
// Threads. RepaintGrid, RepaintRow and SetStatusText may be called from the read and write
// runs' threads: they note the request under a lock and post one message to the window's
// thread, which applies everything noted so far; they never wait for the window's thread.
// Everything else runs on the window's thread. Release and the destructor stop and join the runs
// (TParamFrm::Shutdown) before any control goes away.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "modal_loop.h"
#include "spin_edit.h"
#include "ui/param_window.h"
#include "ui/param_window_view.h"
#include "ui/run_updates.h"
#include "ui/window_geometry.h"
#include "window_fonts.h"

namespace dorv::ui::win32 {

class DriverSettingsDialogWindow;
class ParamGrid;
class WriteEditors;

class ParamFrameWindow final : public ParamWindowView, private RunUpdates::Painter {
public:
    ParamFrameWindow();
    ~ParamFrameWindow() override;
    ParamFrameWindow(const ParamFrameWindow&) = delete;
    ParamFrameWindow& operator=(const ParamFrameWindow&) = delete;

    // Sent by a thread that destroys a driver (lParam: the driver); the window's thread calls
    // onRelease with it.
    static constexpr UINT kReleaseMessage = WM_APP + 2;
    std::function<void(TVM30*)> onRelease;

    TParamFrm& Logic() { return *logic_; }
    HWND Handle() const { return hwnd_; }
    bool Showing() const { return loop_.Running(); }
    // The driver is going away: stops and joins the runs, forgets the driver and ends the
    // showings of both windows. Window thread only.
    void Release();

    // ---- ParamWindowView: any thread ----
    void RepaintGrid() override;
    void RepaintRow(int row) override;
    void SetStatusText(const std::string& text) override;

    // ---- ParamWindowView: the window's thread ----
    void ShowModal() override;
    void Close() override;
    void SetRowCount(int rows) override;
    void SetRowHeights(const std::vector<int>& heights) override;
    void SetCurrentCell(GridCell cell) override;
    void SetStatusColour(StatusColour colour) override;
    void StartTimer(TimerId timer, int milliseconds) override;
    void StopTimer(TimerId timer) override;
    void SetIdNumberVisible(bool visible) override;
    void ShowGridHint(const std::string& text) override;
    void ApplyEditors(const EditorLayout& layout) override;
    void MoveEditorsTo(int left, int top) override;
    MessageResult ShowMessage(const MessageRequest& request) override;
    std::optional<std::string> AskSaveFileName(const FileDialogRequest& request) override;
    std::optional<std::string> AskOpenFileName(const FileDialogRequest& request) override;
    DriverSettingsDialogView& DriverSettingsDialog() override;
    int ComPortValue() const override;
    int AddressValue() const override;
    int IdNumberValue() const override;
    int SelectedTab() const override;
    GridCell CurrentCell() const override;
    int ColumnWidth(int column) const override;
    int MeasureTextHeight(const std::string& text, int width) const override;
    Rect CellRect(GridCell cell) const override;
    EditorValues CurrentEditorValues() const override;
    EditorId FocusedEditor() const override;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void BuildControls();
    HWND AddControl(const wchar_t* cls, const char* text, DWORD style, int id, const geometry::Place& at, const Font& font);
    HWND AddLabel(const char* text, int id, const geometry::Place& at);
    std::unique_ptr<SpinEdit> AddSpinEdit(int editId, int spinId, const geometry::Place& at, int min, int max);
    void BuildToolBar();
    void OnCommand(int id, int code);
    LRESULT OnNotify(const NMHDR& header);
    void DrawCloseButton(const DRAWITEMSTRUCT& item);
    bool PreTranslate(MSG& msg);
    // RunUpdates::Painter
    void PaintAll() override;
    void PaintRow(int row) override;
    void ShowStatus(const std::string& text) override;
    void PostDrain() override;
    void GridScrolled();

    RunUpdates updates_;
    HWND hwnd_ = nullptr;
    Font font_{kParamWindowFace, kParamWindowPixels, false};
    Font bold_{kParamWindowFace, kParamWindowPixels, true};
    Font boldLarge_{kParamWindowFace, kSettingsButtonPixels, true};
    std::unique_ptr<TParamFrm> logic_;
    std::unique_ptr<ParamGrid> grid_;
    std::unique_ptr<WriteEditors> editors_;
    std::unique_ptr<DriverSettingsDialogWindow> settingsDialog_;
    std::unique_ptr<SpinEdit> comPort_;
    std::unique_ptr<SpinEdit> address_;
    std::unique_ptr<SpinEdit> idNumber_;
    HWND lastFocus_ = nullptr;  // the control that had the focus when the window was last left
    HWND tabs_ = nullptr;
    HWND statusBar_ = nullptr;
    HWND toolBar_ = nullptr;
    ModalLoop loop_;
    bool formShown_ = false;
};

}  // namespace dorv::ui::win32
