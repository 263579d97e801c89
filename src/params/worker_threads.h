// The read-all and write-all runs: TReadParamsTread reads every numbered parameter from the
// controller into the catalogue, TWriteParamsTread writes every numbered parameter's Value to
// it, one grid row after the other (rows 8 .. R-1, catalogue positions 7 .. R-2), so the window
// stays usable meanwhile.
//
// Lifetime and threads: a run holds a shared reference to the catalogue and the transport it
// started with, so closing the window (which drops the window's catalogue) never leaves it on
// a destroyed catalogue. RequestStop ends a run between two entries; the destructor of each
// kind of run requests the stop and joins before any part of the object goes, so an owner that
// destroys a run object waits at most for the entry under way. The RunHost must outlive the
// run object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "catalogue.h"
#include "entry_transfer.h"
#include "number_locale.h"
#include "transport.h"

namespace dorv::params {

// What a run asks of the window while it works. Every call comes from the run's own thread.
class RunHost {
public:
    virtual ~RunHost() = default;
    // The line and address the window's spin edits hold now.
    virtual Target CurrentTarget() const = 0;
    // The entry of `row` has been handled: repaint.
    virtual void RowDone(std::int32_t row) = 0;
    // Write runs: the status line after an entry written or failed.
    virtual void RunStatusText(const std::string& text) = 0;
};

struct RunSetup {
    std::shared_ptr<CTRKParameters> catalogue;
    std::shared_ptr<ParameterTransport> transport;  // empty: the window has no driver
    NumberLocale locale;
    std::int32_t rowCount = 0;  // the grid's row count when the run was started
};

class ParamsThread {
public:
    ParamsThread(RunSetup setup, RunHost& host) : setup_(std::move(setup)), host_(host) {}
    // Joins too, for a run never handed to a derived destructor's join.
    virtual ~ParamsThread();
    ParamsThread(const ParamsThread&) = delete;
    ParamsThread& operator=(const ParamsThread&) = delete;

    // Runs Execute on a new thread. `finished` is the thread's last act, however the run ends
    // (also when a step raises); it must not join or destroy this object.
    void Start(std::function<void()> finished);
    // The loop, on the calling thread. Exceptions of a step end the loop and reach the caller.
    void Execute();
    // Ends the run after the entry under way. Any thread.
    void RequestStop() { stop_ = true; }
    // Waits for a started thread to end. Not from the run's own thread.
    void Join();

protected:
    // The thread calls ProcessRow until it ends, so each kind of run stops and joins in its
    // own destructor, while its override is still whole.
    void StopAndJoin() {
        RequestStop();
        Join();
    }
    virtual void ProcessRow() = 0;
    CParameter& RowEntry() { return setup_.catalogue->GetParameter(row_ - 1); }

    RunSetup setup_;
    RunHost& host_;
    std::int32_t row_ = 0;  // the grid row under way

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class TReadParamsTread final : public ParamsThread {
public:
    using ParamsThread::ParamsThread;
    ~TReadParamsTread() override { StopAndJoin(); }
    void ReadRowParameter();

private:
    void ProcessRow() override { ReadRowParameter(); }
};

class TWriteParamsTread final : public ParamsThread {
public:
    using ParamsThread::ParamsThread;
    ~TWriteParamsTread() override { StopAndJoin(); }
    void WriteRowParameter();

private:
    void ProcessRow() override { WriteRowParameter(); }
};

}  // namespace dorv::params
