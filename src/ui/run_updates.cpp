#include "run_updates.h"

#include <utility>

namespace dorv::ui {

RunUpdates::RunUpdates(Painter& painter) : painter_(painter), windowThread_(std::this_thread::get_id()) {}

void RunUpdates::Posted() {
    if (!posted_.exchange(true)) painter_.PostDrain();
}

void RunUpdates::RepaintGrid() {
    if (OnWindowThread()) {
        painter_.PaintAll();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        pending_.all = true;
        pending_.rows.clear();
    }
    Posted();
}

void RunUpdates::RepaintRow(int row) {
    if (OnWindowThread()) {
        painter_.PaintRow(row);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        if (!pending_.all) pending_.rows.push_back(row);
    }
    Posted();
}

void RunUpdates::SetStatusText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        // On the window's thread: a run's older text still on its way must not replace this one.
        if (OnWindowThread())
            pending_.status.reset();
        else
            pending_.status = text;
    }
    if (OnWindowThread())
        painter_.ShowStatus(text);
    else
        Posted();
}

void RunUpdates::Drain() {
    Work work;
    {
        std::lock_guard lock(mutex_);
        posted_ = false;
        std::swap(work, pending_);
    }
    if (work.all)
        painter_.PaintAll();
    else
        for (int row : work.rows) painter_.PaintRow(row);
    if (work.status) painter_.ShowStatus(*work.status);
}

}  // namespace dorv::ui
