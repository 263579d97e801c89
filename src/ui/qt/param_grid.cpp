#include "param_grid.h"

#include <QCursor>
#include <QFocusEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

#include <algorithm>
#include <climits>

#include "qt_strings.h"

namespace dorv::ui::qt {

// ---- model ----

ParamGridModel::ParamGridModel(const TParamFrm& logic, QObject* parent) : QAbstractTableModel(parent), logic_(&logic) {}

void ParamGridModel::SetGridRowCount(int rows) {
    rows = std::max(rows, 1);
    if (rows == rows_) return;
    beginResetModel();
    rows_ = rows;
    endResetModel();
}

void ParamGridModel::RowChanged(int gridRow) {
    if (gridRow < 1 || gridRow >= rows_) return;
    emit dataChanged(index(gridRow - 1, 0), index(gridRow - 1, kColumnCount - 1));
}

void ParamGridModel::AllChanged() {
    if (rows_ > 1) emit dataChanged(index(0, 0), index(rows_ - 2, kColumnCount - 1));
    emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

CellContent ParamGridModel::Content(GridCell cell) const { return logic_ ? logic_->RxDGCommonDrawCell(cell) : CellContent{}; }

int ParamGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_ - 1; }
int ParamGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant ParamGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const CellContent content = Content({index.column(), index.row() + 1});
    if (role == Qt::DisplayRole) return DisplayText(content.text);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(content.align == Align::Centre ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    if (role == Qt::ForegroundRole && content.alert) return QBrush(ColourOf(kAlertText));
    return {};
}

QVariant ParamGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    const CellContent content = Content({section, 0});
    if (role == Qt::DisplayRole) return DisplayText(content.text);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(content.align == Align::Centre ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags ParamGridModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---- delegate ----

void ParamGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const auto* model = qobject_cast<const ParamGridModel*>(index.model());
    if (!model) return;
    const CellContent content = model->Content({index.column(), index.row() + 1});
    const bool selected = option.state & QStyle::State_Selected;
    QColor fill = option.palette.color(selected ? QPalette::Highlight : QPalette::Base);
    QColor ink = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    if (content.customColours) {
        fill = ColourOf(content.background);
        ink = ColourOf(content.textColour);
    }
    if (content.alert) ink = ColourOf(kAlertText);
    const QString text = DisplayText(content.text);
    const QRect cell = option.rect;
    painter->save();
    painter->fillRect(cell, fill);
    painter->setFont(option.font);
    painter->setPen(ink);
    if (content.framed) {
        const FramedText framed = TParamFrm::DrawFramedText(FromQRect(cell));
        if (framed.visible) {
            painter->drawText(ToQRect(framed.textRect), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
            painter->setPen(QPen(Qt::black, 1));
            painter->setBrush(Qt::NoBrush);
            // drawRect's outline covers one pixel more than the rectangle.
            painter->drawRect(ToQRect(framed.frameRect).adjusted(0, 0, -1, -1));
        }
    } else if (content.multiLine) {
        painter->drawText(cell.adjusted(kCellTextInset, kCellTextInset, -kCellTextInset, 0),
                          Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
    } else {
        const Qt::Alignment align = content.align == Align::Centre ? Qt::AlignHCenter : Qt::AlignLeft;
        painter->drawText(cell.adjusted(kCellTextInset, 0, -kCellTextInset, 0), align | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    if (option.state & QStyle::State_HasFocus) {
        QPen dotted(ink, 1, Qt::DotLine);
        painter->setPen(dotted);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(cell.adjusted(0, 0, -1, -1));
    }
    painter->restore();
}

// ---- view ----

ParamGrid::ParamGrid(TParamFrm& logic, QWidget* parent) : QTableView(parent), logic_(&logic), model_(new ParamGridModel(logic, this)) {
    setModel(model_);
    setItemDelegate(new ParamGridDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setWordWrap(true);
    setMouseTracking(true);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView* header = horizontalHeader();
    header->setStretchLastSection(false);
    header->setHighlightSections(false);
    header->setSectionsClickable(false);
    header->setMouseTracking(true);
    header->installEventFilter(this);
    for (int c = 0; c < kColumnCount; ++c) setColumnWidth(c, kColumnWidths[static_cast<std::size_t>(c)] + kGridLine);
    // A column made wider or narrower by the engineer needs new row heights.
    connect(header, &QHeaderView::sectionResized, this, [this] {
        if (logic_) logic_->RxDGCommonColumnSized();
    });
}

void ParamGrid::Detach() {
    logic_ = nullptr;
    model_->Detach();
}

void ParamGrid::SetRowHeights(const std::vector<int>& heights) {
    const int rows = model_->rowCount();
    for (int r = 1; r < static_cast<int>(heights.size()) && r - 1 < rows; ++r) {
        const int h = heights[static_cast<std::size_t>(r)];
        if (h <= 0) {
            setRowHidden(r - 1, true);
        } else {
            setRowHidden(r - 1, false);
            setRowHeight(r - 1, h + kGridLine);
        }
    }
}

GridCell ParamGrid::CurrentCell() const {
    const QModelIndex index = currentIndex();
    if (!index.isValid()) return {0, 0};
    return {index.column(), index.row() + 1};
}

void ParamGrid::SetCurrentCell(GridCell cell) {
    const QModelIndex index = model_->index(cell.row - 1, cell.column);
    if (!index.isValid()) return;
    setCurrentIndex(index);
    scrollTo(index);
}

GridCell ParamGrid::CellAt(QPoint viewportPos) const {
    const QModelIndex index = indexAt(viewportPos);
    if (!index.isValid()) return {-1, -1};
    return {index.column(), index.row() + 1};
}

QRect ParamGrid::CellRectIn(const QWidget* ancestor, GridCell cell) const {
    const QModelIndex index = model_->index(cell.row - 1, cell.column);
    if (!index.isValid()) return {};
    const QRect r = visualRect(index);
    return QRect(viewport()->mapTo(ancestor, r.topLeft()), r.size());
}

int ParamGrid::MeasureTextHeight(const std::string& text, int width) const {
    const QFontMetrics metrics(font());
    const QRect bounds(0, 0, std::max(1, width - 2 * kCellTextInset), INT_MAX / 2);
    return metrics.boundingRect(bounds, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, DisplayText(text)).height();
}

void ParamGrid::ShowHint(const std::string& text) {
    hint_ = text;
    if (text.empty())
        QToolTip::hideText();
    else
        QToolTip::showText(QCursor::pos(), Q(text), viewport());
}

void ParamGrid::mouseMoveEvent(QMouseEvent* event) {
    if (logic_) logic_->RxDGCommonMouseMove(CellAt(event->position().toPoint()));
    QTableView::mouseMoveEvent(event);
}

void ParamGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (logic_) logic_->RxDGCommonDblClick(CellAt(event->position().toPoint()));
}

void ParamGrid::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    if (logic_) logic_->RxDGCommonEnter();
}

bool ParamGrid::viewportEvent(QEvent* event) {
    // The view's own tooltip handling would hide the hint the logic shows (no cell has a
    // tooltip of its own); keep the logic's hint instead.
    if (event->type() == QEvent::ToolTip) {
        if (!hint_.empty()) QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), Q(hint_), viewport());
        return true;
    }
    return QTableView::viewportEvent(event);
}

bool ParamGrid::eventFilter(QObject* watched, QEvent* event) {
    // The header is the logic's row 0.
    if (watched == horizontalHeader() && event->type() == QEvent::MouseMove && logic_) {
        const auto* move = static_cast<QMouseEvent*>(event);
        logic_->RxDGCommonMouseMove({horizontalHeader()->logicalIndexAt(move->position().toPoint()), 0});
    }
    return QTableView::eventFilter(watched, event);
}

void ParamGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (!logic_ || !current.isValid()) return;
    const GridCell cell{current.column(), current.row() + 1};
    if (logic_->CanSelectCell(cell)) logic_->RxDGCommonSelectCell(cell);
}

}  // namespace dorv::ui::qt
