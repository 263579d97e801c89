// RxDGCommon: the parameter window's grid. A table view over a model that asks the window logic
// what every cell shows; a delegate draws the cells as the logic describes them (word-wrapped
// name and limits, the light green name column, framed read and write values). One header row
// (the logic's row 0, drawn by the horizontal header), no fixed columns. Row r of the logic is
// model row r - 1.
//
// Thread safety: user-interface thread only; the window hands the runs' repaints over first.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include <string>
#include <vector>

#include "ui/param_window.h"

namespace dorv::ui::qt {

// Horizontal and top insets of word-wrapped and single-line cell text.
inline constexpr int kCellTextInset = 2;
// The logic's widths and heights are those of the cells; Qt's sections carry the grid line too.
inline constexpr int kGridLine = 1;

class ParamGridModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    ParamGridModel(const TParamFrm& logic, QObject* parent);

    // The grid's row count, header row included.
    void SetGridRowCount(int rows);
    int GridRowCount() const { return rows_; }
    // Cells changed: repaint one grid row, or all of them.
    void RowChanged(int gridRow);
    void AllChanged();
    // What the logic says about a cell; empty once detached.
    CellContent Content(GridCell cell) const;
    // The window is going: no more questions to its logic.
    void Detach() { logic_ = nullptr; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const TParamFrm* logic_;
    int rows_ = 1;
};

class ParamGridDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class ParamGrid final : public QTableView {
    Q_OBJECT
public:
    ParamGrid(TParamFrm& logic, QWidget* parent);

    ParamGridModel& Model() { return *model_; }
    void SetRowHeights(const std::vector<int>& heights);
    GridCell CurrentCell() const;
    void SetCurrentCell(GridCell cell);
    // The cell under a point of the viewport; row -1 outside every cell.
    GridCell CellAt(QPoint viewportPos) const;
    // A cell's rectangle in the coordinates of `ancestor`.
    QRect CellRectIn(const QWidget* ancestor, GridCell cell) const;
    // A column's width without its grid line, as the logic counts it.
    int CellWidth(int column) const { return columnWidth(column) - kGridLine; }
    // Height of `text` as the delegate draws it word-wrapped in a cell `width` wide.
    int MeasureTextHeight(const std::string& text, int width) const;
    // The hint at the mouse cursor; empty hides it.
    void ShowHint(const std::string& text);
    const std::string& Hint() const { return hint_; }
    void Detach();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    TParamFrm* logic_;
    ParamGridModel* model_;
    std::string hint_;
};

}  // namespace dorv::ui::qt
