// The uplink's pure parts: the broker address, the station id, the pump state throttle and the
// outbox table.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "store/outbox.h"
#include "store/store.h"
#include "pump_throttle.h"
#include "temp_dir.h"
#include "uplink.h"

namespace forecourt::uplink {
namespace {

struct AddressCase {
    const char* name;
    const char* url;
    const char* host;  // nullptr: refused
    int port;
    bool tls;
};

TEST(BrokerUrl, ReadsWhatAChainWritesAndRefusesTheRest) {
    const AddressCase cases[] = {
        {"plain", "mqtt://broker.chain.example:1883", "broker.chain.example", 1883, false},
        {"tls", "mqtts://10.0.0.5:8884", "10.0.0.5", 8884, true},
        {"default plain port", "mqtt://hq", "hq", 1883, false},
        {"default tls port", "mqtts://hq/", "hq", 8883, true},
        {"ipv6", "mqtt://[::1]:1884", "::1", 1884, false},
        {"leading zero stays decimal", "mqtt://hq:01883", "hq", 1883, false},
        {"hex port refused", "mqtt://hq:0x75b", nullptr, 0, false},
        {"port 0 refused", "mqtt://hq:0", nullptr, 0, false},
        {"port past 65535 refused", "mqtt://hq:65536", nullptr, 0, false},
        {"empty port refused", "mqtt://hq:", nullptr, 0, false},
        {"other scheme refused", "tcp://hq:1883", nullptr, 0, false},
        {"no host refused", "mqtt://:1883", nullptr, 0, false},
        {"credentials in the url refused", "mqtt://user:pw@hq:1883", nullptr, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.host) {
            EXPECT_THROW(ParseBrokerUrl(c.url), ConfigError);
            continue;
        }
        const BrokerAddress a = ParseBrokerUrl(c.url);
        EXPECT_EQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
        EXPECT_EQ(a.tls, c.tls);
    }
}

TEST(UplinkConfig, RefusesWhatWouldBreakTheTopicsOrTheConnection) {
    struct Case {
        const char* name;
        const char* broker;
        const char* station;
        const char* password;
        const char* key;  // nullptr: accepted
    } cases[] = {
        {"plain station", "mqtt://hq:1883", "st-042_a", "", nullptr},
        {"wildcard in station", "mqtt://hq:1883", "st+1", "", "uplink.station"},
        {"level separator in station", "mqtt://hq:1883", "a/b", "", "uplink.station"},
        {"empty station", "mqtt://hq:1883", "", "", "uplink.station"},
        {"tls without ca file", "mqtts://hq:8883", "s1", "", "uplink.ca_file"},
        {"password without user", "mqtt://hq", "s1", "x", "uplink.password"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UplinkConfig config;
        config.broker = c.broker;
        config.station = c.station;
        config.password = c.password;
        if (!c.key) {
            EXPECT_NO_THROW(Validate(config));
            continue;
        }
        try {
            Validate(config);
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& e) {
            EXPECT_NE(std::string(e.what()).find(c.key), std::string::npos) << e.what();
        }
    }
}

TEST(PumpThrottle, SendsEveryChangeButAFuellingPumpAtMostOncePerInterval) {
    using namespace std::chrono_literals;
    using T = PumpThrottle::Clock::time_point;
    struct Offer {
        int at_ms;
        int pump;
        const char* payload;  // nullptr: take what fell due at `at_ms`
        bool fuelling;
        const char* sent;  // what goes out (from the offer, or fallen due); nullptr: nothing
    };
    struct Case {
        const char* name;
        std::vector<Offer> steps;
    } cases[] = {
        {"burst holds the last, sent when the interval ends",
         {{0, 1, "v1", true, "v1"},
          {100, 1, "v2", true, nullptr},
          {200, 1, "v3", true, nullptr},
          {400, 0, nullptr, false, nullptr},
          {500, 0, nullptr, false, "v3"}}},
        {"a change after the interval goes at once", {{0, 1, "v1", true, "v1"}, {600, 1, "v2", true, "v2"}}},
        {"unchanged state not sent again", {{0, 1, "idle", false, "idle"}, {1000, 1, "idle", false, nullptr}}},
        {"end of filling goes at once and replaces the held state",
         {{0, 1, "v1", true, "v1"},
          {100, 1, "v2", true, nullptr},
          {200, 1, "finished", false, "finished"},
          {900, 0, nullptr, false, nullptr}}},
        {"back to the sent state drops the held one",
         {{0, 1, "v1", true, "v1"}, {100, 1, "v2", true, nullptr}, {150, 1, "v1", true, nullptr}, {900, 0, nullptr, false, nullptr}}},
        {"pumps are limited apart", {{0, 1, "a1", true, "a1"}, {100, 2, "b1", true, "b1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PumpThrottle throttle(500ms);
        const T zero{};
        for (const auto& s : c.steps) {
            std::optional<std::string> sent;
            const T at = zero + std::chrono::milliseconds(s.at_ms);
            if (s.payload) {
                sent = throttle.Offer(s.pump, s.payload, s.fuelling, at);
            } else {
                auto due = throttle.Due(at);
                ASSERT_LE(due.size(), 1u);
                if (!due.empty()) sent = due.front().second;
            }
            if (s.sent) {
                EXPECT_EQ(sent, std::optional<std::string>(s.sent)) << "step at " << s.at_ms;
            } else {
                EXPECT_EQ(sent, std::nullopt) << "step at " << s.at_ms;
            }
        }
    }
}

TEST(Outbox, ServiceAndUplinkMayStartInEitherOrder) {
    dorv::test::TempDir dir;
    const std::string db = dir.File("station.db");
    // The service's store made the file first and committed a sale.
    { const Store made(db, "t"); }
    sqlite3* service = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &service), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(service, "INSERT INTO outbox(topic, payload) VALUES('t', 'p1')", nullptr, nullptr, nullptr), SQLITE_OK);
    Outbox outbox(db);
    outbox.Append("t", "p2");
    outbox.Append("t", "p3");
    EXPECT_EQ(outbox.Depth(), 3);
    outbox.Remove({outbox.After(0, 1).at(0).id});
    const auto rows = outbox.After(0, 10);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].payload, "p2");
    EXPECT_EQ(rows[1].payload, "p3");
    EXPECT_EQ(outbox.After(rows[0].id, 10).size(), 1u);
    // A removed row's id is never given again, so a cursor past it cannot skip a new row.
    outbox.Remove({rows[1].id});
    EXPECT_GT(outbox.Append("t", "p4"), rows[1].id);
    sqlite3_close(service);
}

}  // namespace
}  // namespace forecourt::uplink
