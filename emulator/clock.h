// Time source of the fillings. Servers run on the steady clock; tests move a
// manual clock by hand so that a filling progresses without sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

namespace dorv::emu {

using SteadyTime = std::chrono::steady_clock::time_point;

// How long a server's thread waits in one poll before it looks whether it was asked to stop.
inline constexpr int kStopPollMs = 50;
using Clock = std::function<SteadyTime()>;

inline Clock SystemClock() {
  return [] { return std::chrono::steady_clock::now(); };
}

// A clock that stands still until advanced. The returned Clock refers to this
// object, which must outlive every Line that uses it.
class ManualClock {
 public:
  Clock AsClock() {
    return [this] { return now_.load(); };
  }
  void Advance(std::chrono::duration<double> dt) {
    now_.store(now_.load() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(dt));
  }
  SteadyTime now() const { return now_.load(); }

 private:
  // Starts well away from the epoch so that no code mistakes it for "unset".
  std::atomic<SteadyTime> now_{SteadyTime{} + std::chrono::hours(1)};
};

}  // namespace dorv::emu
