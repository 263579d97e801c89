// The event stream: every change (pump, sale, prices, line) gets the next sequence number and
// is serialised once; the same bytes go to every subscriber and to a bounded journal that a
// client reconnecting with ?after=SEQ replays from. The journal is written to the store in
// batches; the numbers are reserved in the store ahead of use, so the sequence goes on across
// restarts and crashes without giving a number twice. A client whose `after` the journal cannot
// replay in full gets one "resync" envelope instead (seq: the latest event's number; data:
// {"after", "last"}): it reads the state again, and live events follow from seq + 1.
//
// Envelope: {"seq": N, "time": "<ISO 8601 UTC>", "type": "pump"|"sale"|"prices"|"line", "data": {...}}
//
// Threads: every call may come from any thread. Subscribers are called in sequence order,
// under the hub's lock: they must only queue the event (never block, never call the hub).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace forecourt {

class Store;

using Serialized = std::shared_ptr<const std::string>;
using Subscriber = std::function<void(const Serialized& serialized, const nlohmann::json& envelope)>;

class EventHub {
public:
    // `store` may be null (tests): the journal then lives in memory only.
    EventHub(Store* store, std::size_t journal_size);
    ~EventHub();  // writes what is still pending to the store
    EventHub(const EventHub&) = delete;
    EventHub& operator=(const EventHub&) = delete;

    std::int64_t Publish(const std::string& type, nlohmann::json data);
    // The same, with `data` serialized already (`text`): its bytes go into the envelope as they are.
    std::int64_t Publish(const std::string& type, nlohmann::json data, const std::string& text);

    // Subscribes and hands back, atomically, the journaled events after `after` (all the
    // journal keeps when `after` is older), so nothing falls between replay and live events.
    int Subscribe(Subscriber subscriber, std::int64_t after = -1, std::vector<Serialized>* missed = nullptr);
    void Unsubscribe(int id);

    std::int64_t LastSeq() const;
    std::size_t Subscribers() const;
    // Writes the pending journal to the store now.
    void Flush();

private:
    void Writer(std::stop_token stop);

    Store* store_;
    std::size_t size_;
    mutable std::mutex mutex_;
    std::int64_t seq_ = 0;
    std::int64_t reserved_ = 0;  // numbers up to here are reserved in the store
    std::deque<std::pair<std::int64_t, Serialized>> journal_;
    std::vector<std::pair<std::int64_t, Serialized>> unwritten_;
    std::map<int, Subscriber> subscribers_;
    int next_id_ = 1;
    std::mutex write_mutex_;
    std::condition_variable_any wake_;
    std::jthread writer_;
};

}  // namespace forecourt
