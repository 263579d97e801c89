// dorv-uplink-chain: a chain of N stations' uplinks in one process, each with its own client id
// and outbox database, publishing into one mosquitto started here, with one head-office consumer.
//
//   burst: every station starts with --sales rows in its outbox; figures: sales per second the
//          broker acknowledged (outboxes empty) and the consumer received (every sale once)
//   cut:   the broker stops for --cut seconds while every station goes on writing --rate sales
//          a second; figures: sales written during the cut, and the seconds from the broker's
//          restart until every outbox is empty and the consumer holds every sale
//
// Options: --stations N (100), --sales S (200), --cut SECONDS (60), --rate R (1), --settle SECONDS
// (0: the wait between the burst and the cut; a broker stopped right after a burst sends the
// consumer again what the consumer's acknowledgements had not yet confirmed, the repeats figure),
// --backoff-max SECONDS (30, the stations' default: the longest wait between reconnections).
// One figure a line on stdout; progress on stderr.
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "mosquitto_broker.h"
#include "store/outbox.h"
#include "uplink.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using forecourt::Outbox;
using forecourt::uplink::Uplink;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Counts distinct (station, sale) pairs from every station's sales topic.
class HeadOffice {
public:
    explicit HeadOffice(int port) {
        m_ = mosquitto_new("head-office", false, this);
        mosquitto_max_inflight_messages_set(m_, 0);
        mosquitto_reconnect_delay_set(m_, 1, 1, false);
        mosquitto_connect_callback_set(m_, [](mosquitto* m, void*, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, "dorv/v1/+/sales", 1);
        });
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self, const mosquitto_message* msg) {
            // Payload {"event":"finished","station":"sNNN","sale":{"id":K}}: the topic names the
            // station, the sale id is the only number after "id":.
            std::string p(static_cast<const char*>(msg->payload), static_cast<std::size_t>(msg->payloadlen));
            const auto at = p.find("\"id\":");
            const long id = at == std::string::npos ? -1 : std::strtol(p.c_str() + at + 5, nullptr, 10);
            auto* office = static_cast<HeadOffice*>(self);
            std::lock_guard lock(office->mutex_);
            ++office->received_;
            office->sales_.emplace(msg->topic, id);
        });
        if (mosquitto_connect(m_, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(m_) != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("head office cannot connect");
    }
    ~HeadOffice() {
        mosquitto_disconnect(m_);
        mosquitto_loop_stop(m_, false);
        mosquitto_destroy(m_);
    }
    std::pair<std::size_t, std::size_t> Counts() {
        std::lock_guard lock(mutex_);
        return {received_, sales_.size()};
    }

private:
    mosquitto* m_;
    std::mutex mutex_;
    std::size_t received_ = 0;
    std::set<std::pair<std::string, long>> sales_;
};

struct Station {
    std::string id;
    std::unique_ptr<Outbox> store;  // the service's side: writes the rows
    std::unique_ptr<Uplink> uplink;
    int sales = 0;
};

std::string Sale(const Station& s, int id) {
    return R"({"event":"finished","station":")" + s.id + R"(","sale":{"id":)" + std::to_string(id) +
           R"(,"pump":3,"nozzle":1,"grade":2,"price":1.899,"volume":41.27,"amount":78.37,"price_set":12}})";
}

void Write(Station& s) { s.store->Append("dorv/v1/" + s.id + "/sales", Sale(s, ++s.sales)); }

struct Times {
    double connected = -1;  // every station connected
    double acked = -1;      // every outbox empty
    double consumed = -1;   // the consumer holds every sale
};

// Waits until every outbox is empty and the consumer holds `total` sales.
Times Drain(std::vector<Station>& stations, HeadOffice& office, std::size_t total, Clock::time_point from) {
    Times t;
    for (auto last = Clock::now();; std::this_thread::sleep_for(10ms)) {
        std::int64_t depth = 0;
        bool connected = true;
        for (auto& s : stations) {
            depth += s.uplink->OutboxDepth();
            connected = connected && s.uplink->State() == forecourt::uplink::UplinkState::kConnected;
        }
        const auto [received, distinct] = office.Counts();
        const double now = Seconds(Clock::now() - from);
        if (connected && t.connected < 0) t.connected = now;
        if (depth == 0 && t.acked < 0) t.acked = now;
        if (distinct >= total && t.consumed < 0) t.consumed = now;
        if (t.acked >= 0 && t.consumed >= 0) return t;
        if (Clock::now() - last > 5s) {
            std::fprintf(stderr, "  waiting: outbox depth %lld, received %zu, distinct %zu of %zu\n", static_cast<long long>(depth),
                         received, distinct, total);
            last = Clock::now();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    int stations = 100, sales = 200, rate = 1;
    double cut = 60, settle = 0, backoffMax = 30;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--stations")
            stations = std::atoi(argv[i + 1]);
        else if (opt == "--sales")
            sales = std::atoi(argv[i + 1]);
        else if (opt == "--cut")
            cut = std::atof(argv[i + 1]);
        else if (opt == "--rate")
            rate = std::atoi(argv[i + 1]);
        else if (opt == "--settle")
            settle = std::atof(argv[i + 1]);
        else if (opt == "--backoff-max")
            backoffMax = std::atof(argv[i + 1]);
        else {
            std::fprintf(stderr,
                         "usage: dorv-uplink-chain [--stations N] [--sales S] [--cut SECONDS] [--rate R] [--settle SECONDS]\n"
                         "       [--backoff-max SECONDS]\n");
            return 2;
        }
    }
    // Each station holds a few descriptors (two database connections with their WAL files, a socket).
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    const auto dir = std::filesystem::temp_directory_path() / ("dorv-uplink-chain-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    int rc = 0;
    try {
        mosquitto_lib_init();
        dorv::test::MosquittoBroker broker(dir.string());
        HeadOffice office(broker.Port());
        std::vector<Station> chain(static_cast<std::size_t>(stations));
        for (int i = 0; i < stations; ++i) {
            Station& s = chain[static_cast<std::size_t>(i)];
            char id[16];
            std::snprintf(id, sizeof id, "s%03d", i + 1);
            s.id = id;
            const std::string db = (dir / (s.id + ".db")).string();
            s.store = std::make_unique<Outbox>(db);
            for (int k = 0; k < sales; ++k) Write(s);
            forecourt::uplink::UplinkConfig config;
            config.broker = broker.Url();
            config.station = s.id;
            config.reconnect_max = std::chrono::milliseconds(static_cast<long>(backoffMax * 1000));
            s.uplink = std::make_unique<Uplink>(config, db);
        }
        std::fprintf(stderr, "burst: %d stations x %d sales\n", stations, sales);
        const auto start = Clock::now();
        for (auto& s : chain) s.uplink->Start();
        const std::size_t burst = static_cast<std::size_t>(stations) * static_cast<std::size_t>(sales);
        const Times b = Drain(chain, office, burst, start);
        std::printf("stations: %d\n", stations);
        std::printf("burst broker-acknowledged sales/s: %.0f\n", static_cast<double>(burst) / b.acked);
        std::printf("burst consumer-received sales/s: %.0f\n", static_cast<double>(burst) / b.consumed);
        const auto [burstReceived, burstDistinct] = office.Counts();
        std::printf("burst repeats received: %zu\n", burstReceived - burstDistinct);

        std::fprintf(stderr, "cut: broker stopped for %.0f s, %d sale(s)/s per station\n", cut, rate);
        std::this_thread::sleep_for(std::chrono::duration<double>(settle));
        broker.Stop(SIGTERM);
        const auto cutEnd = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(cut));
        std::size_t during = 0;
        for (auto tick = Clock::now(); tick < cutEnd; tick += 1s) {
            for (int r = 0; r < rate; ++r)
                for (auto& s : chain) Write(s), ++during;
            std::this_thread::sleep_until(std::min(tick + 1s, cutEnd));
        }
        std::int64_t waiting = 0;
        for (auto& s : chain) waiting += s.store->Depth();
        const auto restart = Clock::now();
        broker.Start();
        const Times c = Drain(chain, office, burst + during, restart);
        std::printf("cut seconds: %.0f\n", cut);
        std::printf("cut sales waiting in outboxes: %lld\n", static_cast<long long>(waiting));
        std::printf("cut stations reconnected after restart s: %.2f\n", c.connected);
        std::printf("cut outboxes drained after restart s: %.2f\n", c.acked);
        std::printf("cut consumer complete after restart s: %.2f\n", c.consumed);
        const auto [received, distinct] = office.Counts();
        std::printf("cut repeats received: %zu\n", received - distinct - (burstReceived - burstDistinct));
        for (auto& s : chain) s.uplink->Stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dorv-uplink-chain: %s\n", e.what());
        rc = 1;
    }
    std::filesystem::remove_all(dir);
    return rc;
}
