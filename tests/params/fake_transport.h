// A ParameterTransport double: records every call, answers through scripts, and can hold calls
// at a gate so a test decides when a run moves on. Safe to call from several threads.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "params/transport.h"

namespace dorv::test {

struct TransportCall {
    bool write = false;
    std::uint8_t kind = 0;
    std::int64_t line = 0, address = 0, number = 0, digits = 0, value = 0;
};

class FakeTransport : public params::ParameterTransport {
public:
    // Set before a run starts. Defaults: reads give -1 (unreadable), writes succeed.
    std::function<std::int64_t(const TransportCall&)> onRead = [](const TransportCall&) { return -1; };
    std::function<bool(const TransportCall&)> onWrite = [](const TransportCall&) { return true; };

    std::int64_t ReadParameter(std::uint8_t kind, std::int32_t line, std::int32_t address, std::int32_t number,
                               std::int32_t digits) override {
        return onRead(Enter({false, kind, line, address, number, digits, 0}));
    }
    bool WriteParameter(std::uint8_t kind, std::int64_t line, std::int64_t address, std::int64_t number, std::int64_t digits,
                        std::int64_t value) override {
        return onWrite(Enter({true, kind, line, address, number, digits, value}));
    }
    std::vector<TransportCall> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::size_t Count(bool writes) const {
        std::size_t n = 0;
        for (const auto& c : Calls()) n += c.write == writes;
        return n;
    }
    void Hold() { Gate(true); }  // from now on calls wait until Release
    void Release() { Gate(false); }
    void WaitForCalls(std::size_t n) const {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [&] { return calls_.size() >= n; });
    }

private:
    void Gate(bool held) {
        std::lock_guard lock(mutex_);
        held_ = held;
        cv_.notify_all();
    }
    TransportCall Enter(TransportCall call) {
        std::unique_lock lock(mutex_);
        calls_.push_back(call);
        cv_.notify_all();
        cv_.wait(lock, [&] { return !held_; });
        return call;
    }
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    std::vector<TransportCall> calls_;
    bool held_ = false;
};

}  // namespace dorv::test
