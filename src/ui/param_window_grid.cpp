// TParamFrm: the grid - what each cell shows, row heights by tab, hints and the current row.
#include <algorithm>

#include "param_window.h"
#include "params/entry_transfer.h"
#include "params/parameter_set.h"
#include "texts.h"

namespace dorv::ui {

std::string ValueTooWideText(int digits) { return text::kValueTooWide + std::to_string(digits) + ")"; }

namespace {

constexpr int kMinRowHeight = 20;
constexpr int kTextPadding = 5;

// Blanks and control characters at the end, as the run-time library's TrimRight removes them.
void TrimRight(std::string& s) {
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.pop_back();
}

}  // namespace

params::CParameter* TParamFrm::EntryOfRow(params::CTRKParameters* catalogue, int row) {
    if (!catalogue || row < 1 || row > catalogue->GetCount()) return nullptr;
    return &catalogue->GetParameter(row - 1);
}

std::string TParamFrm::GetNameText(int row) const {
    const auto catalogue = Catalogue();
    const params::CParameter* entry = EntryOfRow(catalogue.get(), row);
    if (!entry) return {};
    std::string s = entry->Name();
    if (!entry->Unit().empty()) s += " (" + entry->Unit() + ")";
    const auto& choices = entry->Choices();
    if (!choices.empty()) {
        std::string list = ":\r\n";
        for (std::size_t i = 0; i < choices.size(); ++i) {
            if (i > 0) list += ";\r\n";
            list += "  " + choices[i];
        }
        TrimRight(list);
        s += list;
    }
    return s;
}

std::string TParamFrm::GetLimitsText(int row) const {
    const auto catalogue = Catalogue();
    const params::CParameter* entry = EntryOfRow(catalogue.get(), row);
    if (!entry) return {};
    switch (entry->Type()) {
        case params::kTypeNumber:
        case params::kTypeCommonNumber:
        case params::kTypeNetworkAddress:
            return text::kLimitsFrom + entry->LimitText(entry->Min(), locale_) + text::kLimitsTo + entry->LimitText(entry->Max(), locale_) +
                   " " + entry->Unit();
        case params::kTypePair: return text::kPairLimits;
        case params::kTypeTemperature:
        case params::kTypeSensorSwitch: return text::kTemperatureLimits;
        case params::kTypeHeaterTemperature: return text::kHeaterLimits;
        default: return text::kListLimits;
    }
}

CellContent TParamFrm::RxDGCommonDrawCell(GridCell cell) const {
    CellContent content;
    if (cell.column < 0 || cell.column >= kColumnCount) return content;
    if (cell.row == 0) {
        content.text = text::kColumnHeaders[static_cast<std::size_t>(cell.column)];
        content.align = cell.column == kCodeColumn ? Align::Centre : Align::Left;
        return content;
    }
    const auto catalogue = Catalogue();
    const params::CParameter* entry = EntryOfRow(catalogue.get(), cell.row);
    if (!entry) return content;
    switch (cell.column) {
        case kCodeColumn:
            content.text = std::to_string(entry->Number());
            content.align = Align::Centre;
            break;
        case kNameColumn:
            content.text = GetNameText(cell.row);
            content.multiLine = true;
            content.customColours = true;
            content.background = kNameBackground;
            content.textColour = kBlack;
            break;
        case kLimitsColumn:
            content.text = GetLimitsText(cell.row);
            content.multiLine = true;
            break;
        case kReadColumn: {
            const params::ReadState state = entry->State();
            content.text = state.readError ? text::kReadFailed : state.readText;
            content.framed = true;
            break;
        }
        default:
            content.framed = true;
            if (params::FitsDigitField(entry->Value(), entry->Digits())) content.text = params::ValueToWriteText(*entry, locale_);
            if (content.text.empty()) {
                // A value its field cannot carry (loaded from a file, say) has no text of its
                // own: the number itself, in red, shows what a write would refuse.
                content.text = std::to_string(entry->Value());
                content.alert = true;
            }
            break;
    }
    return content;
}

FramedText TParamFrm::DrawFramedText(Rect cell) {
    FramedText framed;
    if (cell.Height() < 1) return framed;
    const int middle = (cell.top + cell.bottom) / 2;
    framed.visible = true;
    framed.textRect = {cell.left + 5, middle - 8, cell.right - 5, middle - 8 + 16};
    framed.frameRect = {framed.textRect.left - 2, framed.textRect.top - 2, framed.textRect.right + 2, framed.textRect.bottom + 2};
    return framed;
}

int TParamFrm::CalcRowHeight(int row) const {
    const int nameHeight = view_.MeasureTextHeight(GetNameText(row), view_.ColumnWidth(kNameColumn)) + kTextPadding;
    const int limitsHeight = view_.MeasureTextHeight(GetLimitsText(row), view_.ColumnWidth(kLimitsColumn)) + kTextPadding;
    return std::max({nameHeight, limitsHeight, kMinRowHeight});
}

void TParamFrm::SetRowsForTab(int tab) {
    const auto catalogue = Catalogue();
    if (!ready_ || !catalogue) return;
    const int count = catalogue->GetCount();
    std::vector<int> heights(static_cast<std::size_t>(count) + 1, 0);
    for (int row = count; row >= 1; --row) {
        const bool shown = catalogue->GetParameter(row - 1).Section() == tab;
        heights[static_cast<std::size_t>(row)] = shown ? CalcRowHeight(row) : kHiddenRowHeight;
    }
    heights_ = heights;
    view_.SetRowHeights(heights_);
}

void TParamFrm::RxDGCommonColumnSized() { SetRowsForTab(view_.SelectedTab()); }

int TParamFrm::RowHeight(int row) const {
    if (row < 0 || row >= static_cast<int>(heights_.size())) return 0;
    return heights_[static_cast<std::size_t>(row)];
}

bool TParamFrm::CanSelectCell(GridCell cell) const {
    // Rows not laid out yet keep the grid's own rule.
    if (cell.row < 0 || cell.row >= static_cast<int>(heights_.size())) return true;
    return RowHeight(cell.row) >= 1;
}

void TParamFrm::RxDGCommonMouseMove(GridCell cell) {
    std::string hint;
    if (cell.row > 0 && cell.column == kReadColumn) hint = text::kReadCellHint;
    if (cell.row > 0 && cell.column == kWriteColumn) {
        hint = text::kWriteCellHint;
        const auto catalogue = Catalogue();
        const params::CParameter* entry = EntryOfRow(catalogue.get(), cell.row);
        if (entry && !params::FitsDigitField(entry->Value(), entry->Digits())) hint = ValueTooWideText(entry->Digits());
    }
    view_.ShowGridHint(hint);
}

void TParamFrm::RxDGCommonEnter() {
    const auto catalogue = Catalogue();
    if (!catalogue) return;
    const int tab = view_.SelectedTab();
    const GridCell current = view_.CurrentCell();
    const params::CParameter* entry = EntryOfRow(catalogue.get(), current.row);
    if (entry && entry->Section() == tab) return;
    for (int row = 1; row <= catalogue->GetCount(); ++row) {
        if (catalogue->GetParameter(row - 1).Section() == tab) {
            view_.SetCurrentCell({current.column, row});
            return;
        }
    }
}

void TParamFrm::RxDGCommonSelectCell(GridCell) { view_.StartTimer(TimerId::EditorPlacement, kEditorPlacementMs); }

}  // namespace dorv::ui
