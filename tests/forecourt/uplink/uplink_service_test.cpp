// The service on emulated lines with its uplink to a real mosquitto: what a chain's head office
// receives from a filling, and what /metrics and /forecourt say of the uplink.
#include <gtest/gtest.h>

#include "mosquitto_broker.h"
#include "station.h"
#include "temp_dir.h"

namespace forecourt::test {
namespace {

using dorv::test::LastPayload;
using dorv::test::MosquittoBroker;
using dorv::test::MqttConsumer;

TEST(UplinkService, AFillingReachesHeadOfficeAsPumpStatesAndItsSaleEvents) {
    dorv::test::TempDir dir;
    MosquittoBroker broker(dir.Path());
    MqttConsumer hq(broker.Port(), "hq", "dorv/v1/#");
    StationOptions options;
    options.lines = 1;
    options.extra_toml = "[uplink]\nbroker = \"" + broker.Url() + "\"\nstation = \"north-1\"\n";
    Station station(options);
    ASSERT_TRUE(station.WaitState(1, "idle"));
    ASSERT_EQ(station.Request("POST", "/api/v1/shifts").status, 200);

    ASSERT_EQ(station.Request("POST", "/api/v1/emulator/pumps/1/lift", R"({"nozzle": 1})").status, 200);
    const auto authorized = station.Request("POST", "/api/v1/pumps/1/authorize", R"({"nozzle": 1, "preset": {"volume": 2}})");
    ASSERT_EQ(authorized.status, 200) << authorized.body;
    const json sale = authorized.Json()["sale"];
    ASSERT_TRUE(station.WaitState(1, "finished"));
    const std::string id = sale.dump();
    ASSERT_EQ(station.Request("POST", "/api/v1/sales/" + id + "/lock").status, 200);
    ASSERT_EQ(station.Request("POST", "/api/v1/sales/" + id + "/clear").status, 200);
    const json stored = station.Get("/api/v1/sales/" + id);

    auto sales = [&](const MqttConsumer::Messages& messages) {
        std::vector<json> events;
        for (const auto& m : messages)
            if (m.topic == "dorv/v1/north-1/sales") events.push_back(json::parse(m.payload));
        return events;
    };
    ASSERT_TRUE(hq.WaitFor([&](const auto& m) { return sales(m).size() >= 2; })) << hq.Received().size() << " messages";
    const auto events = sales(hq.Received());
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["event"], "finished");
    EXPECT_EQ(events[1]["event"], "cleared");
    for (const auto& e : events) {
        EXPECT_EQ(e["station"], "north-1");
        EXPECT_EQ(e["sale"]["id"], sale);
        EXPECT_EQ(e["sale"]["volume"], stored["volume"]);
        EXPECT_EQ(e["sale"]["amount"], stored["amount"]);
    }
    EXPECT_TRUE(hq.WaitFor([&](const auto& m) {
        const std::string pump = LastPayload(m, "dorv/v1/north-1/pumps/1");
        return !pump.empty() && json::parse(pump)["state"] == "finished" && json::parse(pump)["sale"] == sale;
    }));
    const std::string prices = LastPayload(hq.Received(), "dorv/v1/north-1/prices");
    ASSERT_FALSE(prices.empty());
    EXPECT_EQ(json::parse(prices)["price_set"], station.Get("/api/v1/prices")["price_set"]);
    EXPECT_EQ(LastPayload(hq.Received(), "dorv/v1/north-1/status"), R"({"state":"online","station":"north-1"})");
    // What waits and what is closed are retained too: a late subscriber learns them at once.
    const std::string later = R"({"grades": [{"grade": "95", "price": 1.99}], "valid_from": "2099-01-01T00:00:00Z"})";
    ASSERT_EQ(station.Request("PUT", "/api/v1/prices", later, "manager").status, 202);
    ASSERT_EQ(station.Request("POST", "/api/v1/pumps/2/close", R"({"reason": "maintenance"})", "manager").status, 200);
    MqttConsumer late(broker.Port(), "late", "dorv/v1/#");
    EXPECT_TRUE(late.WaitFor([&](const auto& m) {
        const std::string board = LastPayload(m, "dorv/v1/north-1/prices"), pump = LastPayload(m, "dorv/v1/north-1/pumps/2");
        return !board.empty() && !pump.empty() && json::parse(board)["pending"].size() == 1 &&
               json::parse(pump)["closed"]["reason"] == "maintenance";
    }));

    const std::string metrics = station.Request("GET", "/metrics").body;
    EXPECT_NE(metrics.find("dorv_uplink_state{state=\"connected\"} 1"), std::string::npos) << metrics;
    EXPECT_NE(metrics.find("dorv_uplink_outbox_depth "), std::string::npos) << metrics;
    // The closed shift's whole report, as the API keeps it.
    const json shift = station.Request("POST", "/api/v1/shifts/current/close").Json();
    ASSERT_TRUE(hq.WaitFor([](const auto& m) { return !LastPayload(m, "dorv/v1/north-1/shifts").empty(); }));
    const json sent = json::parse(LastPayload(hq.Received(), "dorv/v1/north-1/shifts"));
    EXPECT_EQ(sent["event"], "closed");
    EXPECT_EQ(sent["shift"], station.Get("/api/v1/shifts/" + shift["id"].dump(), "pos1"));
    EXPECT_EQ(sent["shift"]["report"]["total"]["volume"], 2);
    const json forecourt = station.Get("/api/v1/forecourt");
    EXPECT_EQ(forecourt["uplink"]["state"], "connected") << forecourt.dump();
    EXPECT_EQ(CheckResponse("GET", "/api/v1/forecourt", 200, forecourt), "");
}

}  // namespace
}  // namespace forecourt::test
