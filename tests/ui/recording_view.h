// A ParamWindowView double: records what the window logic asks for and answers its questions
// from fields the test sets. The any-thread methods lock, as a real view must make them safe.
#pragma once

#include <functional>
#include <mutex>
#include <utility>

#include "ui/param_window_view.h"

namespace dorv::test {

using namespace dorv::ui;

class RecordingSettingsDialog : public DriverSettingsDialogView {
public:
    std::vector<DriverSettingControls> loaded;
    DialogResult result = DialogResult::Ok;
    std::function<void(DriverSettingControls&)> edit;  // what the operator changes
    void LoadControls(const DriverSettingControls& c) override { loaded.push_back(current_ = c); }
    DialogResult ShowModal() override {
        if (edit) edit(current_);
        return result;
    }
    DriverSettingControls Controls() const override { return current_; }

private:
    DriverSettingControls current_;
};

class RecordingView : public ParamWindowView {
public:
    // Answers.
    int comPort = 1, address = 1, idNumber = 0, tab = 0;
    GridCell current{0, 1};
    EditorValues editorValues;
    EditorId focused = EditorId::None;
    MessageResult answer = MessageResult::Ok;
    std::optional<std::string> fileName;
    std::function<void()> duringModal;
    std::function<int(const std::string&, int)> measure = [](const std::string&, int) { return 13; };
    RecordingSettingsDialog dialog;
    // Records.
    int rowCount = 0, modalShows = 0;
    std::vector<int> heights;
    std::vector<StatusColour> colours;
    std::vector<std::pair<TimerId, int>> timersStarted;
    std::vector<TimerId> timersStopped;
    bool idVisible = false;
    std::vector<std::string> hints;
    std::vector<EditorLayout> editors;
    std::vector<std::pair<int, int>> editorMoves;
    std::vector<MessageRequest> messages;
    std::vector<FileDialogRequest> fileDialogs;

    void RepaintGrid() override {
        std::lock_guard l(mutex_);
        ++gridRepaints_;
    }
    void RepaintRow(int row) override {
        std::lock_guard l(mutex_);
        rowRepaints_.push_back(row);
    }
    void SetStatusText(const std::string& t) override {
        std::lock_guard l(mutex_);
        status_.push_back(t);
    }
    int GridRepaints() const {
        std::lock_guard l(mutex_);
        return gridRepaints_;
    }
    std::vector<int> RowRepaints() const {
        std::lock_guard l(mutex_);
        return rowRepaints_;
    }
    std::vector<std::string> StatusTexts() const {
        std::lock_guard l(mutex_);
        return status_;
    }

    void ShowModal() override {
        ++modalShows;
        if (duringModal) duringModal();
    }
    void Close() override {}
    void SetRowCount(int rows) override { rowCount = rows; }
    void SetRowHeights(const std::vector<int>& h) override { heights = h; }
    void SetCurrentCell(GridCell cell) override { current = cell; }
    void SetStatusColour(StatusColour c) override { colours.push_back(c); }
    void StartTimer(TimerId id, int ms) override { timersStarted.emplace_back(id, ms); }
    void StopTimer(TimerId id) override { timersStopped.push_back(id); }
    void SetIdNumberVisible(bool v) override { idVisible = v; }
    void ShowGridHint(const std::string& text) override { hints.push_back(text); }
    void ApplyEditors(const EditorLayout& layout) override { editors.push_back(layout); }
    void MoveEditorsTo(int left, int top) override { editorMoves.push_back({left, top}); }
    MessageResult ShowMessage(const MessageRequest& r) override {
        messages.push_back(r);
        return answer;
    }
    std::optional<std::string> AskSaveFileName(const FileDialogRequest& r) override {
        fileDialogs.push_back(r);
        return fileName;
    }
    std::optional<std::string> AskOpenFileName(const FileDialogRequest& r) override {
        fileDialogs.push_back(r);
        return fileName;
    }
    DriverSettingsDialogView& DriverSettingsDialog() override { return dialog; }
    int ComPortValue() const override { return comPort; }
    int AddressValue() const override { return address; }
    int IdNumberValue() const override { return idNumber; }
    int SelectedTab() const override { return tab; }
    GridCell CurrentCell() const override { return current; }
    int ColumnWidth(int column) const override { return kColumnWidths[static_cast<std::size_t>(column)]; }
    int MeasureTextHeight(const std::string& text, int width) const override { return measure(text, width); }
    Rect CellRect(GridCell cell) const override { return {600, 24 * cell.row, 769, 24 * cell.row + 30}; }
    EditorValues CurrentEditorValues() const override { return editorValues; }
    EditorId FocusedEditor() const override { return focused; }

    std::vector<int> VisibleRows() const {
        std::vector<int> rows;
        for (std::size_t r = 1; r < heights.size(); ++r)
            if (heights[r] > 0) rows.push_back(static_cast<int>(r));
        return rows;
    }

private:
    mutable std::mutex mutex_;
    int gridRepaints_ = 0;
    std::vector<int> rowRepaints_;
    std::vector<std::string> status_;
};

}  // namespace dorv::test
