// What the parameter window's drawing layer does for the window logic (TParamFrm) and what it
// tells it. The drawing layer owns the widgets; the logic decides what they show.
//
// Threads. Three methods may be called from the read and write runs' threads while a run is
// under way: RepaintGrid, RepaintRow and SetStatusText. An implementation must make them safe
// to call from any thread - a Qt window posts them to its own thread (queued invocation) and
// returns at once; it must not block on the UI thread there, because the UI thread may be
// waiting for a run to stop (TParamFrm::Shutdown). Every other method is called on the
// user-interface thread only, from inside one of TParamFrm's handlers.
//
// Before the drawing layer tears down anything these methods use, it calls
// TParamFrm::Shutdown(), which stops the runs and waits for them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "driver_settings_form.h"
#include "view_types.h"

namespace dorv::ui {

class ParamWindowView {
public:
    virtual ~ParamWindowView() = default;

    // ---- any thread ----
    virtual void RepaintGrid() = 0;
    virtual void RepaintRow(int row) = 0;
    // The status bar's only panel.
    virtual void SetStatusText(const std::string& text) = 0;

    // ---- user-interface thread: requests ----
    // Shows the window modally and returns when it has closed. The window calls FormShow when
    // it appears and FormClose when it closes.
    virtual void ShowModal() = 0;
    virtual void Close() = 0;
    virtual void SetRowCount(int rows) = 0;
    // Height of every row by index (index 0, the header, keeps its height); -1 hides a row.
    virtual void SetRowHeights(const std::vector<int>& heights) = 0;
    virtual void SetCurrentCell(GridCell cell) = 0;
    virtual void SetStatusColour(StatusColour colour) = 0;
    virtual void StartTimer(TimerId timer, int milliseconds) = 0;
    virtual void StopTimer(TimerId timer) = 0;
    // IDLabel and edIDNumber together.
    virtual void SetIdNumberVisible(bool visible) = 0;
    // The grid's hint at the mouse cursor; an empty text shows none.
    virtual void ShowGridHint(const std::string& text) = 0;
    // Shows, hides, configures and places the three in-cell editors; the editor named by
    // layout.focus takes the focus.
    virtual void ApplyEditors(const EditorLayout& layout) = 0;
    // Moves the shown editors together, keeping what they hold, so the first starts at (left, top).
    virtual void MoveEditorsTo(int left, int top) = 0;
    virtual MessageResult ShowMessage(const MessageRequest& request) = 0;
    // File dialogs; nothing when the user cancels.
    virtual std::optional<std::string> AskSaveFileName(const FileDialogRequest& request) = 0;
    virtual std::optional<std::string> AskOpenFileName(const FileDialogRequest& request) = 0;
    // The settings dialog's drawing layer, created on first use and kept.
    virtual DriverSettingsDialogView& DriverSettingsDialog() = 0;

    // ---- user-interface thread: state ----
    virtual int ComPortValue() const = 0;   // ComPortEdit, 1..24
    virtual int AddressValue() const = 0;   // AddrEdit, 1..64
    virtual int IdNumberValue() const = 0;  // edIDNumber
    virtual int SelectedTab() const = 0;    // 0..2
    virtual GridCell CurrentCell() const = 0;
    virtual int ColumnWidth(int column) const = 0;
    // Height of `text` drawn in the grid's font, word-wrapped to `width`.
    virtual int MeasureTextHeight(const std::string& text, int width) const = 0;
    // A cell's rectangle in the coordinates of the editors' parent (the tab control).
    virtual Rect CellRect(GridCell cell) const = 0;
    virtual EditorValues CurrentEditorValues() const = 0;
    virtual EditorId FocusedEditor() const = 0;
};

}  // namespace dorv::ui
