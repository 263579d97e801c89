#include "run_updates.h"

#include <utility>

namespace dorv::ui {

bool RunUpdates::Posted() { return !posted_.exchange(true); }

bool RunUpdates::NoteAll() {
    {
        std::lock_guard lock(mutex_);
        pending_.all = true;
        pending_.rows.clear();
    }
    return Posted();
}

bool RunUpdates::NoteRow(int row) {
    {
        std::lock_guard lock(mutex_);
        if (!pending_.all) pending_.rows.push_back(row);
    }
    return Posted();
}

bool RunUpdates::NoteStatus(std::string text) {
    {
        std::lock_guard lock(mutex_);
        pending_.status = std::move(text);
    }
    return Posted();
}

RunUpdates::Work RunUpdates::Take() {
    Work work;
    std::lock_guard lock(mutex_);
    posted_ = false;
    std::swap(work, pending_);
    return work;
}

void RunUpdates::DropStatus() {
    std::lock_guard lock(mutex_);
    pending_.status.reset();
}

}  // namespace dorv::ui
