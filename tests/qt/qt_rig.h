// What the Qt window tests share: a controller line served by the emulator on a pseudo-terminal
// at full speed and reached through the real serial link, a driver over it, a window whose
// message boxes and file dialogs the test answers, and a transport that holds a run at a chosen
// read until the test lets it go.
#pragma once

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "driver/tvm30.h"
#include "line.h"
#include "links/serial_host_link.h"
#include "pty_server.h"
#include "temp_dir.h"
#include "ui/qt/dialog_provider.h"
#include "ui/qt/param_frame_widget.h"
#include "ui/qt/param_grid.h"
#include "ui/qt/write_editors.h"

namespace dorv::test {

using namespace dorv::ui;
using namespace dorv::ui::qt;

inline constexpr int kLongWaitMs = 20000;  // worker threads and the line, on a loaded machine

class EmulatorRig {
public:
    EmulatorRig()
        : pty_(line_, emu::LinkTiming{0, std::chrono::microseconds(0)}, [this](const emu::Bytes&, const emu::Reply&) { ++exchanges_; }) {
        line_.AddController(1);
        line_.AddController(2);
        link_.AssignLine(1, pty_.slave_path());
        driver_ = std::make_unique<TVM30>(0, &link_);
    }
    ~EmulatorRig() { driver_.reset(); }

    TVM30& Driver() { return *driver_; }
    std::unique_ptr<TVM30>& DriverSlot() { return driver_; }
    emu::Line& Line() { return line_; }
    int Exchanges() const { return exchanges_; }
    const TempDir& Dir() const { return dir_; }

private:
    TempDir dir_;  // first: the driver reads cnf.INI from it
    emu::Line line_;
    std::atomic<int> exchanges_{0};
    emu::PtyServer pty_;
    links::SerialHostLink link_;
    std::unique_ptr<TVM30> driver_;
};

// Answers the window's questions as the test says and keeps what was asked.
class AnsweringDialogs final : public DialogProvider {
public:
    MessageResult answer = MessageResult::Ok;
    std::optional<std::string> fileName;
    std::vector<MessageRequest> messages;
    std::vector<FileDialogRequest> saveDialogs, openDialogs;

    MessageResult Message(QWidget*, const MessageRequest& r) override {
        messages.push_back(r);
        return answer;
    }
    std::optional<std::string> SaveFileName(QWidget*, const FileDialogRequest& r) override {
        saveDialogs.push_back(r);
        return fileName;
    }
    std::optional<std::string> OpenFileName(QWidget*, const FileDialogRequest& r) override {
        openDialogs.push_back(r);
        return fileName;
    }
};

// Holds the read with the given count (1 = the first) until Open(); counts the transfers.
class GatedTransport final : public params::ParameterTransport {
public:
    GatedTransport(std::shared_ptr<params::ParameterTransport> inner, int holdAtRead) : inner_(std::move(inner)), holdAt_(holdAtRead) {}
    ~GatedTransport() override { Open(); }

    std::int64_t ReadParameter(std::uint8_t kind, std::int32_t line, std::int32_t address, std::int32_t number,
                               std::int32_t digits) override {
        if (++reads_ == holdAt_) {
            std::unique_lock lock(mutex_);
            opened_.wait(lock, [this] { return open_; });
        }
        return inner_->ReadParameter(kind, line, address, number, digits);
    }
    bool WriteParameter(std::uint8_t kind, std::int64_t line, std::int64_t address, std::int64_t number, std::int64_t digits,
                        std::int64_t value) override {
        return inner_->WriteParameter(kind, line, address, number, digits, value);
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }
    int Reads() const { return reads_; }

private:
    std::shared_ptr<params::ParameterTransport> inner_;
    const int holdAt_;
    std::atomic<int> reads_{0};
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = false;
};

// A shown parameter window over `binding`, its questions answered by `dialogs`.
struct ShownWindow {
    std::unique_ptr<ParamFrameWidget> window = std::make_unique<ParamFrameWidget>();
    AnsweringDialogs* dialogs = nullptr;
    // Lets a held run go before the window joins it, also when a check has failed.
    std::shared_ptr<GatedTransport> gate;

    explicit ShownWindow(DriverBinding binding) {
        auto answering = std::make_unique<AnsweringDialogs>();
        dialogs = answering.get();
        window->SetDialogProvider(std::move(answering));
        window->Logic().SetDriver(std::move(binding));
        window->show();
    }
    ShownWindow(DriverBinding binding, std::shared_ptr<GatedTransport> held) : ShownWindow(std::move(binding)) { gate = std::move(held); }
    ~ShownWindow() {
        if (gate) gate->Open();
        window.reset();
    }
    ShownWindow(const ShownWindow&) = delete;
    ShownWindow& operator=(const ShownWindow&) = delete;
    ParamFrameWidget* operator->() const { return window.get(); }
    ParamGrid& Grid() const { return window->Grid(); }
    // Text of a grid cell (logic's row numbering) as the model gives it.
    QString Cell(int row, int column) const { return Grid().model()->index(row - 1, column).data().toString(); }
    void SelectTab(int tab) const { window->Controls().tabs->setCurrentIndex(tab); }
    // Rows of the numbered tab whose read cell has a text.
    int ReadTexts() const {
        int filled = 0;
        for (int row = 8; row <= 57; ++row) filled += Cell(row, kReadColumn).isEmpty() ? 0 : 1;
        return filled;
    }
    // Makes a "Запись" cell current and waits for its editor.
    bool SelectWriteCell(int row) const {
        Grid().setFocus();
        window->SetCurrentCell({kWriteColumn, row});
        return QTest::qWaitFor([this] { return window->Editors().Edit()->isVisible() || window->Editors().Combo()->isVisible(); },
                               kLongWaitMs);
    }
    // Double-clicks a cell with the mouse.
    void DoubleClick(int row, int column) const {
        const QRect r = Grid().visualRect(Grid().model()->index(row - 1, column));
        QTest::mouseDClick(Grid().viewport(), Qt::LeftButton, {}, r.center());
    }
};

// Qt's settings of the windows (their places) go to a test folder, not the user's.
inline void UseTestSettings() { QStandardPaths::setTestModeEnabled(true); }

}  // namespace dorv::test
