#include "worker_threads.h"

namespace dorv::params {

namespace {

// The first grid row of the numbered parameters (row 0 is the header).
constexpr std::int32_t kFirstRunRow = kFirstNumberedPosition + 1;

}  // namespace

ParamsThread::~ParamsThread() { StopAndJoin(); }

void ParamsThread::Start(std::function<void()> finished) {
    thread_ = std::thread([this, finished = std::move(finished)] {
        try {
            Execute();
        } catch (...) {
            // A step that raises ends the run; nothing may escape a thread.
        }
        // The catalogue of a closed showing goes as soon as its last run is over.
        setup_.catalogue.reset();
        setup_.transport.reset();
        if (finished) finished();
    });
}

void ParamsThread::Execute() {
    for (row_ = kFirstRunRow; row_ < setup_.rowCount && !stop_; ++row_) {
        ProcessRow();
        host_.RowDone(row_);
    }
}

void ParamsThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TReadParamsTread::ReadRowParameter() { ReadEntry(RowEntry(), setup_.transport.get(), host_.CurrentTarget(), setup_.locale); }

void TWriteParamsTread::WriteRowParameter() {
    CParameter& entry = RowEntry();
    const WriteOutcome outcome = WriteEntry(entry, setup_.transport.get(), host_.CurrentTarget());
    if (outcome == WriteOutcome::Written || outcome == WriteOutcome::Failed) host_.RunStatusText(WriteStatusText(outcome, entry.Number()));
}

}  // namespace dorv::params
