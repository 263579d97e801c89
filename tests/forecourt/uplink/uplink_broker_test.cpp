// The uplink against a real mosquitto on a free loopback port (and, for acknowledgements, a
// broker that never gives one).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <map>
#include <set>

#include "child_process.h"
#include "mosquitto_broker.h"
#include "store/outbox.h"
#include "temp_dir.h"
#include "uplink.h"

namespace forecourt::uplink {
namespace {

using dorv::test::LastPayload;
using dorv::test::MosquittoBroker;
using dorv::test::MqttConsumer;
using nlohmann::json;
using namespace std::chrono_literals;

UplinkConfig Config(const std::string& url, const std::string& station = "s1") {
    UplinkConfig c;
    c.broker = url;
    c.station = station;
    c.reconnect_min = 50ms;
    c.reconnect_max = 400ms;
    return c;
}

std::string SalePayload(const std::string& event, int id) {
    return json{{"event", event}, {"station", "s1"}, {"sale", {{"id", id}, {"pump", 1 + id % 4}, {"volume", 10.5}}}}.dump();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit = 20s) {
    for (auto until = std::chrono::steady_clock::now() + limit; !done();) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

class UplinkBroker : public ::testing::Test {
protected:
    dorv::test::TempDir dir;
    std::string db = dir.File("station.db");
};

TEST_F(UplinkBroker, SalesArriveInOrderWithTheirPayloadsAndLeaveTheOutbox) {
    MosquittoBroker broker(dir.Path());
    MqttConsumer consumer(broker.Port(), "hq", "dorv/v1/+/sales");
    Outbox outbox(db);
    const std::vector<std::string> sent = {SalePayload("finished", 7), SalePayload("cleared", 7), SalePayload("finished", 8),
                                           R"({"event":"finished","note":"Zoë ⛽"})"};
    for (const auto& p : sent) outbox.Append("dorv/v1/s1/sales", p);
    Uplink uplink(Config(broker.Url()), db);
    uplink.Start();
    ASSERT_TRUE(consumer.WaitFor([&](const auto& m) { return m.size() >= sent.size(); }));
    const auto got = consumer.Received();
    ASSERT_EQ(got.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(got[i].topic, "dorv/v1/s1/sales");
        EXPECT_EQ(got[i].payload, sent[i]) << "row " << i;
    }
    EXPECT_TRUE(WaitUntil([&] { return outbox.Depth() == 0 && uplink.OutboxDepth() == 0; }));
    EXPECT_EQ(uplink.State(), UplinkState::kConnected);
}

// A broker that accepts the connection and takes publications but never acknowledges one.
class SilentBroker {
public:
    SilentBroker() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 1);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~SilentBroker() {
        ::shutdown(listener_, SHUT_RDWR);
        ::shutdown(client_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        ::close(client_);
    }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    int Publishes() const { return publishes_; }

private:
    void Serve() {
        client_ = ::accept(listener_, nullptr, nullptr);
        std::vector<std::uint8_t> in;
        std::uint8_t buf[4096];
        for (ssize_t n; (n = ::recv(client_, buf, sizeof buf, 0)) > 0;) {
            in.insert(in.end(), buf, buf + n);
            // Whole packets: a type byte, a variable-length remaining length, the rest.
            for (;;) {
                std::size_t length = 0, i = 1;
                for (int shift = 0; i < in.size() && i < 5; shift += 7) {
                    length |= static_cast<std::size_t>(in[i] & 0x7F) << shift;
                    if (!(in[i++] & 0x80)) break;
                }
                if (in.size() < 2 || i + length > in.size() || (in[i - 1] & 0x80)) break;
                const int type = in[0] >> 4;
                if (type == 1) ::send(client_, "\x20\x02\x00\x00", 4, 0);  // CONNACK, accepted
                if (type == 3) ++publishes_;
                in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(i + length));
            }
        }
    }
    int listener_ = -1, client_ = -1, port_ = 0;
    std::atomic<int> publishes_{0};
    std::thread thread_;
};

TEST_F(UplinkBroker, SalesTheBrokerNeverAcknowledgedStayInTheOutbox) {
    SilentBroker broker;
    Outbox outbox(db);
    for (int id = 1; id <= 3; ++id) outbox.Append("dorv/v1/s1/sales", SalePayload("finished", id));
    Uplink uplink(Config(broker.Url()), db);
    uplink.Start();
    // The status "online" and the three sales.
    ASSERT_TRUE(WaitUntil([&] { return broker.Publishes() >= 4; }));
    EXPECT_EQ(uplink.State(), UplinkState::kConnected);
    EXPECT_EQ(uplink.OutboxDepth(), 3);
    uplink.Stop();
    EXPECT_EQ(outbox.Depth(), 3);
}

TEST_F(UplinkBroker, RetainedTopicsHoldTheLatestState) {
    MosquittoBroker broker(dir.Path());
    auto pump = [](int n, const char* state, double volume) {
        return json{{"type", "pump"}, {"seq", 1}, {"time", "t"}, {"data", {{"pump", n}, {"state", state}, {"volume", volume}}}};
    };
    struct Case {
        const char* name;
        std::vector<json> events;
        const char* topic;
        json expected;
    } cases[] = {
        {"a fuelling burst ends on its last state",
         {pump(1, "fuelling", 0.5), pump(1, "fuelling", 1.0), pump(1, "fuelling", 1.5), pump(1, "fuelling", 2.0)},
         "dorv/v1/s1/pumps/1",
         pump(1, "fuelling", 2.0)["data"]},
        {"end of a filling replaces a held state",
         {pump(2, "fuelling", 3.0), pump(2, "fuelling", 3.5), pump(2, "finished", 4.0)},
         "dorv/v1/s1/pumps/2",
         pump(2, "finished", 4.0)["data"]},
        {"prices with their price set",
         {json{{"type", "prices"}, {"data", {{"price_set", 4}, {"grades", {{{"id", 1}, {"price", 1.899}}}}}}}},
         "dorv/v1/s1/prices",
         json{{"price_set", 4}, {"grades", {{{"id", 1}, {"price", 1.899}}}}}},
        {"station online", {}, "dorv/v1/s1/status", json{{"state", "online"}, {"station", "s1"}}},
        {"a malformed pump event changes nothing",
         {pump(3, "idle", 0), json{{"type", "pump"}, {"data", {{"pump", "3"}, {"state", "x"}}}},
          json{{"type", "pump"}, {"data", {{"pump", 3.5}}}}, json{{"type", "pump"}}},
         "dorv/v1/s1/pumps/3",
         pump(3, "idle", 0)["data"]},
    };
    Uplink uplink(Config(broker.Url()), db);
    uplink.Start();
    for (const auto& c : cases)
        for (const auto& e : c.events) uplink.OnEvent(e);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A subscriber arriving later gets what the broker retained.
        MqttConsumer late(broker.Port(), "late", c.topic, true);
        EXPECT_TRUE(late.WaitFor([&](const auto& m) {
            const std::string last = LastPayload(m, c.topic);
            return !last.empty() && json::parse(last) == c.expected;
        })) << "last: "
            << LastPayload(late.Received(), c.topic);
    }
}

// A CA and a broker certificate for 127.0.0.1 signed by it, and a second CA that signed nothing.
void MakeCertificates(const std::string& dir) {
    const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string script =
        "cd '" + dir + "' && " + "openssl req -x509 " + key + " -keyout ca.key -out ca.pem -days 2 -subj /CN=chain-ca && " +
        "openssl req -x509 " + key + " -keyout other.key -out other.pem -days 2 -subj /CN=other-ca && " + "openssl req " + key +
        " -keyout broker.key -out broker.csr -subj /CN=127.0.0.1 && " + "printf 'subjectAltName=IP:127.0.0.1\\n' > san && " +
        "openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out broker.pem -days 2 "
        "-extfile san";
    ASSERT_EQ(std::system((script + " >/dev/null 2>&1").c_str()), 0) << "openssl failed";
}

TEST_F(UplinkBroker, TlsConnectsOnlyToABrokerTheChainsCaSigned) {
    MakeCertificates(dir.Path());
    MosquittoBroker broker(dir.Path(), "certfile " + dir.File("broker.pem") + "\nkeyfile " + dir.File("broker.key") + "\n");
    struct Case {
        const char* name;
        const char* ca;
        bool connects;
    } cases[] = {{"the chain's CA", "ca.pem", true}, {"another CA", "other.pem", false}};
    UplinkConfig config = Config("mqtts://127.0.0.1:" + std::to_string(broker.Port()));
    config.ca_file = dir.File("missing.pem");
    EXPECT_THROW(Uplink(config, db), ConfigError);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        config.ca_file = dir.File(c.ca);
        Uplink uplink(config, db);
        uplink.Start();
        ASSERT_TRUE(WaitUntil([&] { return uplink.State() == UplinkState::kConnected || !uplink.LastError().empty(); }));
        EXPECT_EQ(uplink.State() == UplinkState::kConnected, c.connects) << uplink.LastError();
    }
}

// One station's uplink in a process of its own, to be killed as a crash kills it.
class Relay {
public:
    Relay(std::string url, std::string db) : url_(std::move(url)), db_(std::move(db)) { Start(); }
    ~Relay() { Kill(SIGKILL); }
    void Start() {
        const dorv::test::Parent parent;
        pid_ = ::fork();
        if (pid_ == 0) {
            dorv::test::EndWithParent(parent);
            ::execl(UPLINK_RELAY, UPLINK_RELAY, url_.c_str(), "s1", db_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    void Kill(int signal) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    std::string url_, db_;
    pid_t pid_ = -1;
};

TEST_F(UplinkBroker, StatusSaysOfflineWhenTheStationGoes) {
    MosquittoBroker broker(dir.Path());
    const json offline = {{"state", "offline"}, {"station", "s1"}};
    struct Case {
        const char* name;
        int signal;  // SIGTERM: a clean stop; SIGKILL: the last will
    } cases[] = {{"stopped", SIGTERM}, {"killed", SIGKILL}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MqttConsumer hq(broker.Port(), std::string("hq-") + c.name, "dorv/v1/s1/status", true);
        Relay relay(broker.Url(), db);
        auto last = [&](const json& want) {
            return hq.WaitFor([&](const auto& m) {
                const std::string p = LastPayload(m, "dorv/v1/s1/status");
                return !p.empty() && json::parse(p) == want;
            });
        };
        EXPECT_TRUE(last({{"state", "online"}, {"station", "s1"}}));
        relay.Kill(c.signal);
        EXPECT_TRUE(last(offline));
    }
}

TEST_F(UplinkBroker, EverySaleArrivesThroughBrokerAndStationRestarts) {
    MosquittoBroker broker(dir.Path());
    MqttConsumer hq(broker.Port(), "hq", "dorv/v1/s1/sales");
    Relay relay(broker.Url(), db);
    Outbox outbox(db);
    constexpr int kSales = 50;
    for (int id = 1; id <= kSales; ++id) {
        outbox.Append("dorv/v1/s1/sales", SalePayload("finished", id));
        switch (id) {
            case 10: broker.Stop(SIGTERM); break;
            case 16: broker.Start(); break;
            case 22: relay.Kill(SIGKILL); break;
            case 28: relay.Start(); break;
            case 36:
                relay.Kill(SIGKILL);
                broker.Stop(SIGTERM);
                break;
            case 42:
                broker.Start();
                relay.Start();
                break;
            default: break;
        }
        std::this_thread::sleep_for(20ms);  // sales come one by one, as fillings end
    }
    auto ids = [](const MqttConsumer::Messages& messages) {
        std::map<int, std::string> byId;  // a consumer keeps one of each sale
        for (const auto& m : messages) byId.emplace(json::parse(m.payload)["sale"]["id"].get<int>(), m.payload);
        return byId;
    };
    ASSERT_TRUE(hq.WaitFor([&](const auto& m) { return ids(m).size() >= kSales; }, 40s))
        << ids(hq.Received()).size() << " of " << kSales << " sales, outbox " << outbox.Depth() << ", missing " << [&] {
               std::string missing;
               const auto got = ids(hq.Received());
               for (int id = 1; id <= kSales; ++id)
                   if (!got.count(id)) missing += std::to_string(id) + " ";
               return missing;
           }();
    const auto byId = ids(hq.Received());
    ASSERT_EQ(byId.size(), static_cast<std::size_t>(kSales));
    for (const auto& [id, payload] : byId) EXPECT_EQ(payload, SalePayload("finished", id));
    EXPECT_TRUE(WaitUntil([&] { return outbox.Depth() == 0; }));
}

}  // namespace
}  // namespace forecourt::uplink
