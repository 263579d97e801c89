// What the read and write runs ask of the window: the rows to repaint (or the whole grid) and the
// latest status text. On the window's thread the request is carried out at once; from a run's
// thread it is noted, and one wake-up is posted only when none is on its way, so a run never
// waits for the window's thread (which may itself be waiting for the run to stop). The window's
// thread then drains what was noted.
//
// Thread safety: RepaintGrid, RepaintRow and SetStatusText from any thread; Drain on the
// window's thread, which is the thread that made this object.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dorv::ui {

class RunUpdates {
public:
    // What the window's toolkit does; all but PostDrain on the window's thread.
    class Painter {
    public:
        virtual ~Painter() = default;
        virtual void PaintAll() = 0;
        virtual void PaintRow(int row) = 0;
        virtual void ShowStatus(const std::string& text) = 0;
        // Any thread: have the window's thread call Drain soon; must not wait for that thread.
        virtual void PostDrain() = 0;
    };

    explicit RunUpdates(Painter& painter);

    void RepaintGrid();
    void RepaintRow(int row);
    void SetStatusText(const std::string& text);
    // Applies what the runs' threads noted since the last call.
    void Drain();

private:
    struct Work {
        bool all = false;
        std::vector<int> rows;
        std::optional<std::string> status;
    };

    bool OnWindowThread() const { return std::this_thread::get_id() == windowThread_; }
    void Posted();

    Painter& painter_;
    const std::thread::id windowThread_;
    std::mutex mutex_;
    Work pending_;  // guarded by mutex_
    std::atomic<bool> posted_{false};
};

}  // namespace dorv::ui
