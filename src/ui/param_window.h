// TParamFrm: the logic of the parameter window, through which a service engineer reads and
// programs the parameters of one dispenser controller (chosen by COM-port number and nozzle
// address). The drawing layer (ParamWindowView) forwards every event to the handler of the same
// name and draws what the handlers and the cell queries say; nothing here knows a toolkit.
//
// Lifetime. The window is created once and reused; every showing builds a fresh catalogue and
// every close drops it. A read or write run holds the catalogue it started with, so a run that
// is still going when the window closes finishes on its own catalogue (its results are dropped
// with it) and never touches a destroyed one; the next showing's buttons start a new run once
// that one has ended. Shutdown (also run by the destructor) stops the runs between two entries
// and waits for them: the drawing layer calls it before it tears down, and the window is torn
// down before its driver goes away.
//
// Threads. Handlers and queries run on the user-interface thread. The window keeps the line and
// address in atomics: the view calls SetComPort/SetAddress whenever its spin edits change, and
// FormShow and every single read or write take them from the view as well. The runs read those
// atomics at each entry and call only the view's thread-safe methods (param_window_view.h).
// Button1Click, WriteBtnClick, SetComPort, SetAddress, RequestStopRuns, WaitForRuns and Shutdown
// may be called from any thread (the last three not from a run's own); at most one run of each
// kind is ever under way, however many clicks arrive at once.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver_binding.h"
#include "driver_settings_form.h"
#include "param_window_view.h"
#include "params/catalogue.h"
#include "params/number_locale.h"
#include "params/worker_threads.h"
#include "view_types.h"

namespace dorv {
class TVM30;
}

namespace dorv::ui {

inline constexpr int kEnterKey = 13;
inline constexpr int kMinComPort = 1, kMaxComPort = 24;
inline constexpr int kMinAddress = 1, kMaxAddress = 64;

// What the window says of a value wider than its digit field of `digits`.
std::string ValueTooWideText(int digits);

class TParamFrm : private params::RunHost {
public:
    explicit TParamFrm(ParamWindowView& view, params::NumberLocale locale = params::SystemNumberLocale());
    ~TParamFrm() override;
    TParamFrm(const TParamFrm&) = delete;
    TParamFrm& operator=(const TParamFrm&) = delete;

    // ---- opening, the driver, showing and closing ----
    // With a driver: keeps it as the window's driver and shows the window modally (returns
    // when it has closed). Without one the window is not shown.
    void OpenParamWindow(TVM30* driver);
    void OpenParamWindow(DriverBinding driver);
    void SetDriver(DriverBinding driver);
    void FormShow();
    void FormClose();
    void ActionExitExecute();
    void TabControl1Change();

    // ---- the grid ----
    CellContent RxDGCommonDrawCell(GridCell cell) const;
    static FramedText DrawFramedText(Rect cell);
    void RxDGCommonColumnSized();
    void RxDGCommonMouseMove(GridCell cell);  // the cell under the mouse; row -1 outside
    bool CanSelectCell(GridCell cell) const;  // hidden rows cannot become current
    void RxDGCommonSelectCell(GridCell cell);
    void RxDGCommonEnter();
    void RxDGCommonDblClick(GridCell cell);
    void SetRowsForTab(int tab);
    int CalcRowHeight(int row) const;
    std::string GetNameText(int row) const;
    std::string GetLimitsText(int row) const;
    int RowHeight(int row) const;

    // ---- single reads and writes, the in-cell editors, the status bar ----
    // Reads the entry of `row`; its ReadText becomes the result, empty when the read failed.
    std::string ReadSingleParam(int row);
    void Timer2Timer();
    void PlaceWriteEditor(GridCell cell);
    // The grid has scrolled: the editors follow their cell, and go when it has left the view.
    void RxDGCommonScrolled(bool cellInView);
    EditorLayout SetupWriteEditor(int row) const;
    void WriteValueEditExit();
    void WriteValueEditKeyDown(int key);
    void WriteSingleParam(int row);
    void Timer1Timer();
    const EditorLayout& Editors() const { return editors_; }

    // ---- read-all and write-all runs ----
    // Start a run when none of that kind is under way; true when this call started one.
    bool Button1Click();
    bool WriteBtnClick();
    bool ReadRunActive() const { return readRun_.active; }
    bool WriteRunActive() const { return writeRun_.active; }
    void RequestStopRuns();
    void WaitForRuns();
    void Shutdown();

    // ---- buffer files and the settings dialog ----
    void SaveBtnClick();
    void LoadBtnClick();
    void CopyToolClick();
    void PasteToolClick();
    void SaveParamsToFile(const std::string& path);
    void LoadParamsFromFile(const std::string& path);
    void DriverSettingBtnClick();

    // ---- the spin edits; the view calls these when their values change ----
    void SetComPort(int value);
    void SetAddress(int value);

    std::shared_ptr<params::CTRKParameters> Catalogue() const;
    const params::NumberLocale& Locale() const { return locale_; }

private:
    struct RunSlot {
        std::atomic<bool> active{false};
        std::unique_ptr<params::ParamsThread> thread;  // guarded by runsMutex_
    };

    // RunHost: called from the runs' threads.
    params::Target CurrentTarget() const override;
    void RowDone(std::int32_t row) override;
    void RunStatusText(const std::string& text) override;

    DriverBinding Driver() const;
    // The entry shown in `row`, or null outside the catalogue or while none exists.
    static params::CParameter* EntryOfRow(params::CTRKParameters* catalogue, int row);
    void SyncTargetFromView();
    bool StartRun(RunSlot& slot, bool write);
    void HideEditors();
    void ReportFileError(const std::string& message);
    std::int64_t ValueFromEditors(const params::CParameter& entry, const EditorValues& values) const;

    ParamWindowView& view_;
    const params::NumberLocale locale_;

    mutable std::mutex stateMutex_;  // catalogue_ and driver_
    std::shared_ptr<params::CTRKParameters> catalogue_;
    DriverBinding driver_;

    std::atomic<int> line_{kMinComPort};
    std::atomic<int> address_{kMinAddress};

    bool ready_ = false;        // a catalogue has been built once
    std::vector<int> heights_;  // row heights as last laid out
    EditorLayout editors_;      // what the editors show
    std::unique_ptr<TDriverSettingForm> settingForm_;

    std::mutex runsMutex_;
    bool shuttingDown_ = false;  // guarded by runsMutex_
    RunSlot readRun_;
    RunSlot writeRun_;
};

}  // namespace dorv::ui
