// RxDGCommon: the parameter window's grid, an owner-drawn control of its own window class. It
// asks the window logic what every cell shows and draws it as the logic describes (word-wrapped
// name and limits, the light green name column, framed read and write values); one fixed header
// row (row 0), no fixed columns, a one-pixel grid line after every cell, rows of height -1
// hidden. Scrolls by pixels; the header stays on top.
//
// Thread safety: the window's thread only; the window hands the runs' repaints over first.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/param_window.h"

namespace dorv::ui::win32 {

class ParamGrid {
public:
    // Creates the grid as a child of `parent` with the control id kGrid.
    ParamGrid(HWND parent, RECT bounds, TParamFrm& logic, HFONT font);
    ~ParamGrid();
    ParamGrid(const ParamGrid&) = delete;
    ParamGrid& operator=(const ParamGrid&) = delete;

    HWND Handle() const { return hwnd_; }
    void SetRowCount(int rows);
    // Heights by row index; index 0 (the header) keeps its own.
    void SetRowHeights(const std::vector<int>& heights);
    GridCell CurrentCell() const { return current_; }
    void SetCurrentCell(GridCell cell);
    int CellWidth(int column) const;
    // Height of `text` as the grid draws it word-wrapped in a cell `width` wide.
    int MeasureTextHeight(const std::string& text, int width) const;
    // A cell's rectangle in the grid's client area; empty for a hidden row.
    Rect CellRect(GridCell cell) const;
    bool CellVisible(GridCell cell) const;
    void RepaintRow(int row);
    void RepaintAll();
    // The hint at the mouse cursor; empty hides it.
    void ShowHint(const std::string& text);
    // Told after the grid has scrolled, so the editors can follow their cell.
    std::function<void()> onScrolled;
    // The window is going: no more questions to its logic.
    void Detach() { logic_ = nullptr; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc, const RECT& clip);
    void PaintCell(HDC dc, GridCell cell, const RECT& r);
    int RowHeight(int row) const;  // 0 for a hidden row
    int RowTop(int row) const;     // content coordinates, before scrolling
    int ColumnLeft(int column) const;
    int ContentHeight() const;
    int ContentWidth() const;
    GridCell CellAt(POINT p) const;
    void UpdateScrollBars();
    void ScrollTo(int x, int y);
    void ScrollIntoView(GridCell cell);
    void Select(GridCell cell);
    void MoveCurrent(int columnStep, int rowStep);
    std::wstring CellText(GridCell cell) const;

    TParamFrm* logic_;
    HWND hwnd_ = nullptr;
    HWND tip_ = nullptr;
    HFONT font_;
    int rows_ = 1;
    std::vector<int> heights_{kHeaderHeight};
    GridCell current_{0, 1};
    int scrollX_ = 0;
    int scrollY_ = 0;
    std::wstring hint_;

    static constexpr int kHeaderHeight = 24;
};

}  // namespace dorv::ui::win32
