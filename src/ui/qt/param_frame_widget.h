// ParamFrameWidget: the parameter window ("Программирование параметров ТРК") on Qt. It owns the
// window logic (TParamFrm), draws what the logic says and forwards every event to the handler
// of the same name; no decision about parameters is taken here.
//
// Threads. RepaintGrid, RepaintRow and SetStatusText may be called from the read and write
// runs' threads: they note the request under a lock and post one queued call to the window's
// thread, which applies everything noted so far; they never wait for the window's thread.
// Everything else runs on the window's thread. The destructor stops and joins the runs
// (TParamFrm::Shutdown) before any control goes away.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "dialog_provider.h"
#include "param_frame_controls.h"
#include "ui/param_window.h"
#include "ui/param_window_view.h"
#include "ui/run_updates.h"
#include "window_placement.h"

namespace dorv::ui::qt {

class DriverSettingsDialogWidget;
class ParamGrid;
class WriteEditors;

class ParamFrameWidget final : public QDialog, public ParamWindowView, private RunUpdates::Painter {
    Q_OBJECT
    // For hosts that drive the window through Qt's object tree (the service tool's pictures).
    Q_PROPERTY(bool readRunActive READ ReadRunActive)
    Q_PROPERTY(bool writeRunActive READ WriteRunActive)

public:
    explicit ParamFrameWidget(QWidget* parent = nullptr);
    ~ParamFrameWidget() override;

    TParamFrm& Logic() { return *logic_; }
    // Message boxes and file dialogs go through `dialogs` (tests answer them there).
    void SetDialogProvider(std::unique_ptr<DialogProvider> dialogs);
    bool ReadRunActive() const { return logic_->ReadRunActive(); }
    bool WriteRunActive() const { return logic_->WriteRunActive(); }
    bool Showing() const { return showing_; }

    ParamGrid& Grid() const { return *grid_; }
    WriteEditors& Editors() const { return *editors_; }
    const ParamFrameControls& Controls() const { return controls_; }
    QString StatusText() const;
    QColor StatusBarColour() const;
    DriverSettingsDialogWidget* SettingsDialogIfCreated() const;

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

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    // Applies what the runs' threads asked for since the last call.
    void DrainPending();

private:
    // RunUpdates::Painter
    void PaintAll() override;
    void PaintRow(int row) override;
    void ShowStatus(const std::string& text) override;
    void PostDrain() override;
    void Connect();
    void GridScrolled();
    QTimer& TimerOf(TimerId timer) { return timer == TimerId::StatusColourReset ? timer1_ : timer2_; }

    RunUpdates updates_;
    std::unique_ptr<TParamFrm> logic_;
    std::unique_ptr<DialogProvider> dialogs_;
    ParamFrameControls controls_;
    ParamGrid* grid_ = nullptr;
    WriteEditors* editors_ = nullptr;
    QPointer<DriverSettingsDialogWidget> settingsDialog_;
    QTimer timer1_;         // the status bar's colour goes back 2000 ms after a single write
    QTimer timer2_;         // the editor is placed 50 ms after a cell is selected
    bool showing_ = false;  // the modal loop is on the stack
};

}  // namespace dorv::ui::qt
