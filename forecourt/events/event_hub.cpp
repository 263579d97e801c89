#include "event_hub.h"

#include <algorithm>

#include "store/records.h"
#include "store/store.h"

namespace forecourt {

namespace {

// Sequence numbers reserved at a time: one small write per this many events.
constexpr std::int64_t kSeqBlock = 1000;

}  // namespace

EventHub::EventHub(Store* store, std::size_t journal_size) : store_(store), size_(journal_size) {
    if (store_) {
        // Numbers given before a crash may not have reached the journal; none is given again.
        seq_ = std::max(store_->LastSeq(), store_->ReservedSeq());
        reserved_ = seq_;
        const std::int64_t from = seq_ > static_cast<std::int64_t>(size_) ? seq_ - static_cast<std::int64_t>(size_) : 0;
        for (auto& e : store_->JournalAfter(from, size_))
            journal_.emplace_back(e.seq, std::make_shared<const std::string>(std::move(e.text)));
        writer_ = std::jthread([this](std::stop_token stop) { Writer(stop); });
    }
}

EventHub::~EventHub() {
    if (writer_.joinable()) {
        writer_.request_stop();
        writer_.join();
    }
    Flush();
}

std::int64_t EventHub::Publish(const std::string& type, nlohmann::json data) {
    const std::string text = data.dump();
    return Publish(type, std::move(data), text);
}

std::int64_t EventHub::Publish(const std::string& type, nlohmann::json data, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (store_ && seq_ >= reserved_) {
        reserved_ = seq_ + kSeqBlock;
        try {
            store_->ReserveSeq(reserved_);
        } catch (const std::exception&) {
            // The event still goes out; a store that refuses writes is reported by the sales' own.
        }
    }
    const std::string time = UtcNow();
    ++seq_;
    // The envelope's keys in the order its JSON would dump them, around the data's own bytes.
    auto serialized = std::make_shared<const std::string>("{\"data\":" + text + ",\"seq\":" + std::to_string(seq_) + ",\"time\":" +
                                                          nlohmann::json(time).dump() + ",\"type\":" + nlohmann::json(type).dump() + "}");
    const nlohmann::json envelope = {{"seq", seq_}, {"time", time}, {"type", type}, {"data", std::move(data)}};
    journal_.emplace_back(seq_, serialized);
    while (journal_.size() > size_) journal_.pop_front();
    if (store_) unwritten_.emplace_back(seq_, serialized);
    for (auto& [id, subscriber] : subscribers_) subscriber(serialized, envelope);
    return seq_;
}

int EventHub::Subscribe(Subscriber subscriber, std::int64_t after, std::vector<Serialized>* missed) {
    std::lock_guard lock(mutex_);
    if (missed && after >= 0 && after != seq_) {
        // Replayed only when the journal holds every event after `after`; otherwise the client
        // hears that it must read the state again, as of the latest event.
        std::int64_t expected = after + 1;
        for (const auto& [seq, text] : journal_) {
            if (seq <= after) continue;
            if (seq != expected) break;
            missed->push_back(text);
            ++expected;
        }
        if (expected != seq_ + 1) {
            missed->clear();
            const nlohmann::json resync = {
                {"seq", seq_}, {"time", UtcNow()}, {"type", "resync"}, {"data", {{"after", after}, {"last", seq_}}}};
            missed->push_back(std::make_shared<const std::string>(resync.dump()));
        }
    }
    subscribers_.emplace(next_id_, std::move(subscriber));
    return next_id_++;
}

void EventHub::Unsubscribe(int id) {
    std::lock_guard lock(mutex_);
    subscribers_.erase(id);
}

std::int64_t EventHub::LastSeq() const {
    std::lock_guard lock(mutex_);
    return seq_;
}

std::size_t EventHub::Subscribers() const {
    std::lock_guard lock(mutex_);
    return subscribers_.size();
}

void EventHub::Flush() {
    if (!store_) return;
    std::lock_guard writing(write_mutex_);
    std::vector<std::pair<std::int64_t, Serialized>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(unwritten_);
    }
    std::vector<JournalEvent> events;
    events.reserve(batch.size());
    for (auto& [seq, text] : batch) events.push_back({seq, *text});
    try {
        store_->Journal(events, size_);
    } catch (const std::exception&) {
        // The journal serves replay only; the sales themselves are in their own transactions.
    }
}

// Batches of a quarter second: one disk sync for many pump readings.
void EventHub::Writer(std::stop_token stop) {
    std::unique_lock lock(write_mutex_);
    while (!stop.stop_requested()) {
        wake_.wait_for(lock, stop, std::chrono::milliseconds(250), [] { return false; });
        lock.unlock();
        Flush();
        lock.lock();
    }
}

}  // namespace forecourt
