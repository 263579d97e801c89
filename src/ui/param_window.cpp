// TParamFrm: opening and closing, tabs, the read and write runs, buffer files and the settings
// dialog. The grid is in param_window_grid.cpp, single transfers in param_window_transfer.cpp.
#include "param_window.h"

#include <algorithm>
#include <exception>

#include "params/buffer_file.h"
#include "platform/settings_dir.h"
#include "texts.h"

namespace dorv::ui {

TParamFrm::TParamFrm(ParamWindowView& view, params::NumberLocale locale) : view_(view), locale_(std::move(locale)) {}

TParamFrm::~TParamFrm() { Shutdown(); }

// ---- opening, showing, closing ----

void TParamFrm::OpenParamWindow(TVM30* driver) { OpenParamWindow(DriverBinding::For(driver)); }

void TParamFrm::OpenParamWindow(DriverBinding driver) {
    if (!driver) return;
    SetDriver(std::move(driver));
    view_.ShowModal();
}

void TParamFrm::SetDriver(DriverBinding driver) {
    std::lock_guard lock(stateMutex_);
    driver_ = std::move(driver);
}

DriverBinding TParamFrm::Driver() const {
    std::lock_guard lock(stateMutex_);
    return driver_;
}

std::shared_ptr<params::CTRKParameters> TParamFrm::Catalogue() const {
    std::lock_guard lock(stateMutex_);
    return catalogue_;
}

void TParamFrm::FormShow() {
    try {
        auto catalogue = params::MakeFilledCatalogue();
        const int rows = catalogue->GetCount() + 1;
        {
            std::lock_guard lock(stateMutex_);
            catalogue_ = std::move(catalogue);
        }
        view_.SetRowCount(rows);
        ready_ = true;
        SyncTargetFromView();
        RxDGCommonColumnSized();
    } catch (const std::exception&) {
        // The window opens with whatever was set up; the operator can still close it.
    }
}

void TParamFrm::FormClose() {
    // A run still under way keeps its own reference; the catalogue goes when it ends.
    std::lock_guard lock(stateMutex_);
    catalogue_.reset();
}

void TParamFrm::ActionExitExecute() { view_.Close(); }

void TParamFrm::TabControl1Change() {
    const int tab = view_.SelectedTab();
    view_.SetIdNumberVisible(tab == params::kSectionAddress);
    SetRowsForTab(tab);
    PlaceWriteEditor({0, 0});
    RxDGCommonEnter();
}

// ---- the line and address ----

void TParamFrm::SetComPort(int value) { line_ = std::clamp(value, kMinComPort, kMaxComPort); }
void TParamFrm::SetAddress(int value) { address_ = std::clamp(value, kMinAddress, kMaxAddress); }

void TParamFrm::SyncTargetFromView() {
    SetComPort(view_.ComPortValue());
    SetAddress(view_.AddressValue());
}

params::Target TParamFrm::CurrentTarget() const { return {line_.load(), address_.load()}; }
void TParamFrm::RowDone(std::int32_t row) { view_.RepaintRow(row); }
void TParamFrm::RunStatusText(const std::string& text) { view_.SetStatusText(text); }

// ---- runs ----

bool TParamFrm::Button1Click() { return StartRun(readRun_, /*write=*/false); }
bool TParamFrm::WriteBtnClick() { return StartRun(writeRun_, /*write=*/true); }

bool TParamFrm::StartRun(RunSlot& slot, bool write) {
    auto catalogue = Catalogue();
    if (!catalogue) return false;
    // The flag is the run's reference: whoever sets it starts the run, every other click of
    // that moment and until the run has ended does nothing.
    bool idle = false;
    if (!slot.active.compare_exchange_strong(idle, true)) return false;
    std::lock_guard lock(runsMutex_);
    if (shuttingDown_) {
        slot.active = false;
        return false;
    }
    slot.thread.reset();  // the previous run has ended (its flag was clear); join it
    try {
        params::RunSetup setup{catalogue, Driver().transport, locale_, catalogue->GetCount() + 1};
        params::RunHost& host = *this;
        if (write)
            slot.thread = std::make_unique<params::TWriteParamsTread>(std::move(setup), host);
        else
            slot.thread = std::make_unique<params::TReadParamsTread>(std::move(setup), host);
        slot.thread->Start([&slot] { slot.active = false; });
    } catch (...) {
        // No run (its thread could not start, say): the next click may try again.
        slot.thread.reset();
        slot.active = false;
        throw;
    }
    return true;
}

void TParamFrm::RequestStopRuns() {
    std::lock_guard lock(runsMutex_);
    for (RunSlot* slot : {&readRun_, &writeRun_})
        if (slot->thread) slot->thread->RequestStop();
}

void TParamFrm::WaitForRuns() {
    std::lock_guard lock(runsMutex_);
    for (RunSlot* slot : {&readRun_, &writeRun_})
        if (slot->thread) slot->thread->Join();
}

void TParamFrm::Shutdown() {
    std::lock_guard lock(runsMutex_);
    shuttingDown_ = true;
    for (RunSlot* slot : {&readRun_, &writeRun_})
        if (slot->thread) slot->thread->RequestStop();
    for (RunSlot* slot : {&readRun_, &writeRun_}) slot->thread.reset();
}

// ---- buffer files ----

void TParamFrm::ReportFileError(const std::string& message) {
    view_.ShowMessage({message, text::kErrorCaption, MessageButtons::Ok, MessageIcon::Error});
}

void TParamFrm::SaveParamsToFile(const std::string& path) {
    const auto catalogue = Catalogue();
    if (!catalogue) return;
    try {
        params::SaveParamsToFile(*catalogue, path);
    } catch (const std::exception& e) {
        ReportFileError(e.what());
    }
}

void TParamFrm::LoadParamsFromFile(const std::string& path) {
    if (const auto catalogue = Catalogue()) {
        try {
            params::LoadParamsFromFile(*catalogue, path);
        } catch (const std::exception& e) {
            ReportFileError(e.what());
        }
    }
    view_.RepaintGrid();
}

void TParamFrm::SaveBtnClick() {
    const auto name = view_.AskSaveFileName(
        {text::kSaveDialogTitle, text::kDialogDefaultName, text::kSaveDefaultExtension, platform::ParameterBufferDirectory()});
    if (name) SaveParamsToFile(*name);
}

void TParamFrm::LoadBtnClick() {
    const auto name = view_.AskOpenFileName(
        {text::kOpenDialogTitle, text::kDialogDefaultName, text::kOpenDefaultExtension, platform::ParameterBufferDirectory()});
    if (name) LoadParamsFromFile(*name);
}

void TParamFrm::CopyToolClick() { SaveParamsToFile(platform::ParameterBufferPath()); }
void TParamFrm::PasteToolClick() { LoadParamsFromFile(platform::ParameterBufferPath()); }

// ---- settings dialog ----

void TParamFrm::DriverSettingBtnClick() {
    const DriverBinding driver = Driver();
    if (!driver.settings) return;  // no driver: there are no settings to edit
    if (!settingForm_) settingForm_ = std::make_unique<TDriverSettingForm>(view_.DriverSettingsDialog());
    try {
        settingForm_->Execute(*driver.settings);
    } catch (const std::exception& e) {
        ReportFileError(e.what());
    }
}

}  // namespace dorv::ui
