// What the read and write runs ask of the window, gathered until the window's thread takes it:
// the rows to repaint (or the whole grid) and the latest status text. A run notes its request
// and posts one wake-up only when none is on its way; it never waits for the window's thread.
//
// Thread safety: Note* from any thread; Take and DropStatus on the window's thread.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace dorv::ui {

class RunUpdates {
public:
    struct Work {
        bool all = false;
        std::vector<int> rows;
        std::optional<std::string> status;
    };

    // Each returns true when the caller must post a wake-up to the window's thread.
    bool NoteAll();
    bool NoteRow(int row);
    bool NoteStatus(std::string text);
    // What was noted since the last Take; the next note posts a wake-up again.
    Work Take();
    // A text set on the window's thread: a run's older text still on its way must not replace it.
    void DropStatus();

private:
    bool Posted();

    std::mutex mutex_;
    Work pending_;  // guarded by mutex_
    std::atomic<bool> posted_{false};
};

}  // namespace dorv::ui
