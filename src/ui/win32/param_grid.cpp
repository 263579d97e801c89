#include "param_grid.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>

#include "control_ids.h"
#include "host/fpu_control.h"
#include "modal_loop.h"
#include "win32_strings.h"

namespace dorv::ui::win32 {
namespace {

constexpr int kGridLine = 1;
constexpr int kCellTextInset = 2;
constexpr COLORREF kGridLineColour = RGB(192, 192, 192);
constexpr int kWheelStep = 60;  // pixels per notch: three rows of one line

void RegisterGridClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = ModuleInstance();
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpszClassName = kGridClass;
        return RegisterClassExW(&wc) != 0;
    }();
    (void)registered;
}

RECT ToRECT(const Rect& r) { return {r.left, r.top, r.right, r.bottom}; }

}  // namespace

ParamGrid::ParamGrid(HWND parent, RECT bounds, TParamFrm& logic, HFONT font) : logic_(&logic), font_(font) {
    RegisterGridClass();
    hwnd_ =
        CreateWindowExW(WS_EX_CLIENTEDGE, kGridClass, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | WS_CLIPSIBLINGS,
                        bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kGrid)), ModuleInstance(), nullptr);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ParamGrid::Proc));

    tip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, ModuleInstance(), nullptr);
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
    tool.lpszText = const_cast<wchar_t*>(L"");
    SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, 400);
    SendMessageW(tip_, TTM_ACTIVATE, FALSE, 0);
    UpdateScrollBars();
}

ParamGrid::~ParamGrid() {
    if (tip_) DestroyWindow(tip_);
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

LRESULT CALLBACK ParamGrid::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    const host::LibraryFpu fpu;  // an entry from the system's dispatch
    auto* grid = reinterpret_cast<ParamGrid*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!grid) return DefWindowProcW(hwnd, msg, wParam, lParam);
    return Caught(hwnd, [&] { return grid->Handle(msg, wParam, lParam); });
}

// ---- geometry ----

int ParamGrid::RowHeight(int row) const {
    if (row < 0 || row >= rows_) return 0;
    const int h = row < static_cast<int>(heights_.size()) ? heights_[static_cast<std::size_t>(row)] : 0;
    return h > 0 ? h : 0;
}

int ParamGrid::RowTop(int row) const {
    int y = 0;
    for (int r = 0; r < row && r < rows_; ++r)
        if (const int h = RowHeight(r)) y += h + kGridLine;
    return y;
}

int ParamGrid::ColumnLeft(int column) const {
    int x = 0;
    for (int c = 0; c < column && c < kColumnCount; ++c) x += kColumnWidths[static_cast<std::size_t>(c)] + kGridLine;
    return x;
}

int ParamGrid::ContentHeight() const { return RowTop(rows_); }
int ParamGrid::ContentWidth() const { return ColumnLeft(kColumnCount); }

int ParamGrid::CellWidth(int column) const {
    return column >= 0 && column < kColumnCount ? kColumnWidths[static_cast<std::size_t>(column)] : 0;
}

bool ParamGrid::CellVisible(GridCell cell) const { return cell.column >= 0 && cell.column < kColumnCount && RowHeight(cell.row) > 0; }

Rect ParamGrid::CellRect(GridCell cell) const {
    if (!CellVisible(cell)) return {};
    const int left = ColumnLeft(cell.column) - scrollX_;
    const int top = cell.row == 0 ? 0 : RowTop(cell.row) - scrollY_;
    return {left, top, left + CellWidth(cell.column), top + RowHeight(cell.row)};
}

GridCell ParamGrid::CellAt(POINT p) const {
    RECT client;
    GetClientRect(hwnd_, &client);
    if (!PtInRect(&client, p)) return {-1, -1};
    int column = -1;
    for (int c = 0; c < kColumnCount; ++c) {
        const int left = ColumnLeft(c) - scrollX_;
        if (p.x >= left && p.x < left + CellWidth(c) + kGridLine) column = c;
    }
    if (column < 0) return {-1, -1};
    if (p.y < RowHeight(0) + kGridLine) return {column, 0};
    for (int r = 1; r < rows_; ++r) {
        const int h = RowHeight(r);
        if (!h) continue;
        const int top = RowTop(r) - scrollY_;
        if (p.y >= top && p.y < top + h + kGridLine) return {column, r};
    }
    return {-1, -1};
}

int ParamGrid::MeasureTextHeight(const std::string& text, int width) const {
    HDC dc = GetDC(hwnd_);
    HGDIOBJ old = SelectObject(dc, font_);
    const std::wstring wide = Wide(text);
    RECT r{0, 0, std::max(1, width - 2 * kCellTextInset), 0};
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_LEFT);
    SelectObject(dc, old);
    ReleaseDC(hwnd_, dc);
    return r.bottom - r.top;
}

// ---- rows and the current cell ----

void ParamGrid::SetRowCount(int rows) {
    rows_ = std::max(rows, 1);
    heights_.resize(static_cast<std::size_t>(rows_), 0);
    if (current_.row >= rows_) current_.row = rows_ - 1;
    UpdateScrollBars();
    RepaintAll();
}

void ParamGrid::SetRowHeights(const std::vector<int>& heights) {
    for (int r = 1; r < rows_ && r < static_cast<int>(heights.size()); ++r)
        heights_[static_cast<std::size_t>(r)] = heights[static_cast<std::size_t>(r)];
    UpdateScrollBars();
    RepaintAll();
}

void ParamGrid::SetCurrentCell(GridCell cell) {
    if (cell.row < 1 || cell.row >= rows_ || cell.column < 0 || cell.column >= kColumnCount) return;
    RepaintRow(current_.row);
    current_ = cell;
    RepaintRow(current_.row);
    ScrollIntoView(cell);
}

void ParamGrid::Select(GridCell cell) {
    if (!logic_ || cell.row < 1 || cell == current_ || !logic_->CanSelectCell(cell)) return;
    SetCurrentCell(cell);
    logic_->RxDGCommonSelectCell(cell);
}

void ParamGrid::MoveCurrent(int columnStep, int rowStep) {
    GridCell next = current_;
    next.column = std::clamp(next.column + columnStep, 0, kColumnCount - 1);
    if (rowStep != 0) {
        int row = current_.row;
        int moved = 0;
        for (int r = row + (rowStep > 0 ? 1 : -1); r >= 1 && r < rows_ && moved<std::abs(rowStep); r += rowStep> 0 ? 1 : -1) {
            if (RowHeight(r) > 0) {
                row = r;
                ++moved;
            }
        }
        next.row = row;
    }
    Select(next);
}

// ---- scrolling ----

void ParamGrid::UpdateScrollBars() {
    RECT client;
    GetClientRect(hwnd_, &client);
    SCROLLINFO si{};
    si.cbSize = sizeof si;
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;  // the vertical bar always shows
    const int pageY = std::max(0, static_cast<int>(client.bottom) - (RowHeight(0) + kGridLine));
    const int bodyHeight = ContentHeight() - (RowHeight(0) + kGridLine);
    scrollY_ = std::clamp(scrollY_, 0, std::max(0, bodyHeight - pageY));
    si.nMin = 0;
    si.nMax = std::max(0, bodyHeight - 1);
    si.nPage = static_cast<UINT>(pageY);
    si.nPos = scrollY_;
    SetScrollInfo(hwnd_, SB_VERT, &si, TRUE);
    const int pageX = client.right;
    scrollX_ = std::clamp(scrollX_, 0, std::max(0, ContentWidth() - pageX));
    si.nMax = std::max(0, ContentWidth() - 1);
    si.nPage = static_cast<UINT>(pageX);
    si.nPos = scrollX_;
    si.fMask &= ~SIF_DISABLENOSCROLL;  // the horizontal one only when the columns do not fit
    SetScrollInfo(hwnd_, SB_HORZ, &si, TRUE);
}

void ParamGrid::ScrollTo(int x, int y) {
    const int oldX = scrollX_, oldY = scrollY_;
    scrollX_ = x;
    scrollY_ = y;
    UpdateScrollBars();
    if (scrollX_ == oldX && scrollY_ == oldY) return;
    RepaintAll();
    if (onScrolled) onScrolled();
}

void ParamGrid::ScrollIntoView(GridCell cell) {
    if (!CellVisible(cell) || cell.row == 0) return;
    RECT client;
    GetClientRect(hwnd_, &client);
    const int header = RowHeight(0) + kGridLine;
    const int top = RowTop(cell.row) - header;  // body coordinates
    const int bottom = top + RowHeight(cell.row) + kGridLine;
    const int page = client.bottom - header;
    int y = scrollY_;
    if (top < y)
        y = top;
    else if (bottom > y + page)
        y = std::min(top, bottom - page);
    ScrollTo(scrollX_, y);
}

// ---- painting ----

std::wstring ParamGrid::CellText(GridCell cell) const { return logic_ ? Wide(logic_->RxDGCommonDrawCell(cell).text) : std::wstring(); }

void ParamGrid::RepaintRow(int row) {
    if (row == 0 || !CellVisible({0, row})) return;
    RECT client;
    GetClientRect(hwnd_, &client);
    const int top = RowTop(row) - scrollY_;
    RECT r{0, top, client.right, top + RowHeight(row) + kGridLine};
    InvalidateRect(hwnd_, &r, FALSE);
}

void ParamGrid::RepaintAll() { InvalidateRect(hwnd_, nullptr, FALSE); }

void ParamGrid::PaintCell(HDC dc, GridCell cell, const RECT& r) {
    const CellContent content = logic_ ? logic_->RxDGCommonDrawCell(cell) : CellContent{};
    const bool header = cell.row == 0;
    const bool current = !header && cell == current_;
    const bool focused = current && GetFocus() == hwnd_;
    COLORREF fill = GetSysColor(header ? COLOR_BTNFACE : current ? COLOR_HIGHLIGHT : COLOR_WINDOW);
    COLORREF ink = GetSysColor(current ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
    if (content.customColours) {
        fill = content.background;
        ink = content.textColour;
    }
    if (content.alert) ink = kAlertText;
    HBRUSH brush = CreateSolidBrush(fill);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    if (header) {
        RECT edge = r;
        DrawEdge(dc, &edge, BDR_RAISEDINNER, BF_RECT);
    }
    SetTextColor(dc, ink);
    SetBkMode(dc, TRANSPARENT);
    const std::wstring text = Wide(content.text);
    const int n = static_cast<int>(text.size());
    if (content.framed) {
        const FramedText framed = TParamFrm::DrawFramedText({r.left, r.top, r.right, r.bottom});
        if (framed.visible) {
            RECT textRect = ToRECT(framed.textRect);
            DrawTextW(dc, text.c_str(), n, &textRect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
            RECT frame = ToRECT(framed.frameRect);
            FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        }
    } else if (content.multiLine) {
        RECT t{r.left + kCellTextInset, r.top + kCellTextInset, r.right - kCellTextInset, r.bottom};
        DrawTextW(dc, text.c_str(), n, &t, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    } else {
        RECT t{r.left + kCellTextInset, r.top, r.right - kCellTextInset, r.bottom};
        DrawTextW(dc, text.c_str(), n, &t,
                  (content.align == Align::Centre ? DT_CENTER : DT_LEFT) | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    if (focused) DrawFocusRect(dc, &r);
}

void ParamGrid::Paint(HDC target, const RECT& clip) {
    RECT client;
    GetClientRect(hwnd_, &client);
    // Drawn off screen first: the rows of a run repaint without flicker.
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, std::max(1L, client.right), std::max(1L, client.bottom));
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HGDIOBJ oldFont = SelectObject(dc, font_);
    FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW));
    HPEN pen = CreatePen(PS_SOLID, 1, kGridLineColour);
    HGDIOBJ oldPen = SelectObject(dc, pen);

    const int header = RowHeight(0) + kGridLine;
    // Body rows first, clipped below the header, then the header over them.
    IntersectClipRect(dc, 0, header, client.right, client.bottom);
    for (int row = 1; row < rows_; ++row) {
        const int h = RowHeight(row);
        if (!h) continue;
        const int top = RowTop(row) - scrollY_;
        if (top + h + kGridLine <= header) continue;
        if (top >= client.bottom) break;
        for (int c = 0; c < kColumnCount; ++c) {
            const int left = ColumnLeft(c) - scrollX_;
            const RECT cell{left, top, left + CellWidth(c), top + h};
            PaintCell(dc, {c, row}, cell);
            MoveToEx(dc, cell.right, cell.top, nullptr);
            LineTo(dc, cell.right, cell.bottom + kGridLine);
            MoveToEx(dc, cell.left, cell.bottom, nullptr);
            LineTo(dc, cell.right + kGridLine, cell.bottom);
        }
    }
    SelectClipRgn(dc, nullptr);
    for (int c = 0; c < kColumnCount; ++c) {
        const int left = ColumnLeft(c) - scrollX_;
        const RECT cell{left, 0, left + CellWidth(c), RowHeight(0)};
        PaintCell(dc, {c, 0}, cell);
        MoveToEx(dc, cell.right, 0, nullptr);
        LineTo(dc, cell.right, header);
        MoveToEx(dc, cell.left, cell.bottom, nullptr);
        LineTo(dc, cell.right + kGridLine, cell.bottom);
    }
    BitBlt(target, clip.left, clip.top, clip.right - clip.left, clip.bottom - clip.top, dc, clip.left, clip.top, SRCCOPY);
    SelectObject(dc, oldPen);
    DeleteObject(pen);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void ParamGrid::ShowHint(const std::string& text) {
    const std::wstring wide = Wide(text);
    if (wide == hint_) return;
    hint_ = wide;
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
    tool.lpszText = hint_.data();
    SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip_, TTM_ACTIVATE, hint_.empty() ? FALSE : TRUE, 0);
}

// ---- messages ----

LRESULT ParamGrid::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd_, &ps);
            Paint(dc, ps.rcPaint);
            EndPaint(hwnd_, &ps);
            return 0;
        }
        case WM_PRINTCLIENT: {
            RECT client;
            GetClientRect(hwnd_, &client);
            Paint(reinterpret_cast<HDC>(wParam), client);
            return 0;
        }
        case WM_ERASEBKGND: return 1;
        case WM_SIZE: UpdateScrollBars(); return 0;
        case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case WM_SETFOCUS:
            RepaintRow(current_.row);
            if (logic_) logic_->RxDGCommonEnter();
            return 0;
        case WM_KILLFOCUS: RepaintRow(current_.row); return 0;
        case WM_LBUTTONDOWN: {
            SetFocus(hwnd_);
            Select(CellAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}));
            return 0;
        }
        case WM_LBUTTONDBLCLK: {
            const GridCell cell = CellAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
            Select(cell);
            if (logic_) logic_->RxDGCommonDblClick(cell);
            return 0;
        }
        case WM_MOUSEMOVE:
            if (logic_) logic_->RxDGCommonMouseMove(CellAt({GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}));
            return 0;
        case WM_KEYDOWN:
            switch (wParam) {
                case VK_UP: MoveCurrent(0, -1); return 0;
                case VK_DOWN: MoveCurrent(0, 1); return 0;
                case VK_LEFT: MoveCurrent(-1, 0); return 0;
                case VK_RIGHT: MoveCurrent(1, 0); return 0;
                case VK_PRIOR: MoveCurrent(0, -10); return 0;
                case VK_NEXT: MoveCurrent(0, 10); return 0;
                case VK_HOME: MoveCurrent(0, -rows_); return 0;
                case VK_END: MoveCurrent(0, rows_); return 0;
                default: break;
            }
            break;
        case WM_MOUSEWHEEL: {
            const int notches = GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA;
            ScrollTo(scrollX_, scrollY_ - notches * kWheelStep);
            return 0;
        }
        case WM_VSCROLL:
        case WM_HSCROLL: {
            const int bar = msg == WM_VSCROLL ? SB_VERT : SB_HORZ;
            SCROLLINFO si{};
            si.cbSize = sizeof si;
            si.fMask = SIF_ALL;
            GetScrollInfo(hwnd_, bar, &si);
            int pos = si.nPos;
            const int line = msg == WM_VSCROLL ? 20 : 16;
            switch (LOWORD(wParam)) {
                case SB_LINEUP: pos -= line; break;
                case SB_LINEDOWN: pos += line; break;
                case SB_PAGEUP: pos -= static_cast<int>(si.nPage); break;
                case SB_PAGEDOWN: pos += static_cast<int>(si.nPage); break;
                case SB_THUMBTRACK:
                case SB_THUMBPOSITION: pos = si.nTrackPos; break;
                case SB_TOP: pos = si.nMin; break;
                case SB_BOTTOM: pos = si.nMax; break;
                default: break;
            }
            if (msg == WM_VSCROLL)
                ScrollTo(scrollX_, pos);
            else
                ScrollTo(pos, scrollY_);
            return 0;
        }
        case GM_GETCELLTEXT: {
            const std::wstring text = CellText({LOWORD(wParam), HIWORD(wParam)});
            SetWindowTextW(hwnd_, text.c_str());
            return static_cast<LRESULT>(text.size());
        }
        case GM_GETCELLRECT: {
            const Rect r = CellRect({LOWORD(wParam), HIWORD(wParam)});
            const auto word = [](int v) { return static_cast<WORD>(static_cast<std::int16_t>(v)); };
            return lParam == 0 ? MAKELRESULT(word(r.left), word(r.top)) : MAKELRESULT(word(r.right), word(r.bottom));
        }
        case GM_GETROWCOUNT: return rows_;
        default: break;
    }
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

}  // namespace dorv::ui::win32
