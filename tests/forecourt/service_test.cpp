// The service on emulated lines, through its API: one row per scenario, every answer checked
// against the API document.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sqlite3.h>
#include <zlib.h>
#include <thread>

#include "station.h"

namespace forecourt::test {
namespace {

Station& Shared() {
    static auto station = [] {
        StationOptions options;
        options.extra_toml = "[http]\nhosts = [\"forecourt.test\"]\norigins = [\"https://till.example\"]\n";
        return std::make_unique<Station>(options);
    }();
    return *station;
}

// Calls a route and checks the answer against the document.
HttpReply Call(const std::string& method, const std::string& route, const std::string& target, const std::string& body = "",
               const std::string& token = "pos1") {
    auto reply = Shared().Request(method, target, body, token);
    EXPECT_EQ(CheckResponse(method, route, reply.status, reply.Json()), "") << reply.body;
    return reply;
}

std::string PumpPath(int pump, const std::string& tail = "") { return "/api/v1/pumps/" + std::to_string(pump) + tail; }

// Money as the controller and the driver count it: price x volume in cents, halves up.
double Money(double price, double volume) { return std::floor(std::llround(price * 100) * std::llround(volume * 100) / 100.0 + 0.5) / 100; }

double GradePrice(const std::string& grade) {
    const json prices = Shared().Get("/api/v1/prices");
    for (const auto& g : prices["grades"])
        if (g["grade"] == grade) return g["price"];
    return 0;
}

void Lift(int pump, int nozzle = 1) {
    Call("POST", "/api/v1/emulator/pumps/{n}/lift", "/api/v1/emulator/pumps/" + std::to_string(pump) + "/lift",
         "{\"nozzle\": " + std::to_string(nozzle) + "}");
}
void Hang(int pump, int nozzle = 1) {
    Call("POST", "/api/v1/emulator/pumps/{n}/hang", "/api/v1/emulator/pumps/" + std::to_string(pump) + "/hang",
         "{\"nozzle\": " + std::to_string(nozzle) + "}");
}

HttpReply Authorize(int pump, const std::string& preset, int nozzle = 1, const std::string& token = "pos1") {
    return Call("POST", "/api/v1/pumps/{n}/authorize", PumpPath(pump, "/authorize"),
                "{\"nozzle\": " + std::to_string(nozzle) + ", \"preset\": " + preset + "}", token);
}

// Lift, authorize, wait for the sale; returns the sale.
json Fill(int pump, const std::string& preset, int nozzle = 1) {
    Lift(pump, nozzle);
    const auto authorized = Authorize(pump, preset, nozzle);
    EXPECT_EQ(authorized.status, 200) << authorized.body;
    const json sale = authorized.Json()["sale"];
    EXPECT_TRUE(Shared().WaitState(pump, "finished")) << Shared().Get(PumpPath(pump)).dump();
    Hang(pump, nozzle);
    EXPECT_TRUE(Shared().WaitState(pump, "idle"));
    const auto reply = Call("GET", "/api/v1/sales/{id}", "/api/v1/sales/" + sale.dump());
    EXPECT_EQ(reply.status, 200) << reply.body;
    return reply.Json();
}

void Settle(int pump, std::int64_t sale) {
    Call("POST", "/api/v1/sales/{id}/lock", "/api/v1/sales/" + std::to_string(sale) + "/lock");
    Call("POST", "/api/v1/sales/{id}/clear", "/api/v1/sales/" + std::to_string(sale) + "/clear");
    (void)pump;
}

HttpReply Prepay(int pump, const std::string& amount, int nozzle = 1) {
    return Call("POST", "/api/v1/pumps/{n}/authorize", PumpPath(pump, "/authorize"),
                "{\"nozzle\": " + std::to_string(nozzle) + ", \"prepay\": {\"amount\": " + amount + "}}");
}

HttpReply OnSale(const std::string& op, std::int64_t sale, const std::string& body = "", const std::string& token = "pos1") {
    return Call("POST", "/api/v1/sales/{id}/" + op, "/api/v1/sales/" + std::to_string(sale) + "/" + op, body, token);
}

json SaleOf(int pump) { return Call("GET", "/api/v1/sales/{id}", "/api/v1/sales/" + Shared().Get(PumpPath(pump))["sale"].dump()).Json(); }

// The refund is the prepay less the amount, to the cent.
void ExpectRefund(const json& sale, std::int64_t prepaid_cents) {
    EXPECT_EQ(std::llround(sale["prepaid"].get<double>() * 100), prepaid_cents) << sale.dump();
    EXPECT_EQ(std::llround(sale["refund"].get<double>() * 100), prepaid_cents - std::llround(sale["amount"].get<double>() * 100))
        << sale.dump();
}

// A price change of one grade, due `seconds` from now.
std::string ScheduledPrice(const std::string& grade, double price, int seconds) {
    const std::time_t at = std::time(nullptr) + seconds;
    std::tm tm{};
    ::gmtime_r(&at, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return R"({"grades": [{"grade": ")" + grade + R"(", "price": )" + json(price).dump() + R"(}], "valid_from": ")" + text + "\"}";
}
std::string PendingPath(const json& id) { return "/api/v1/prices/pending/" + id.dump(); }
HttpReply OpenShift() { return Call("POST", "/api/v1/shifts", "/api/v1/shifts"); }
HttpReply CloseShift() { return Call("POST", "/api/v1/shifts/current/close", "/api/v1/shifts/current/close"); }
// Pays what earlier rows left on the pump, so its limit of unpaid sales takes a new one.
void SettleAll(int pump) {
    const json payable = Shared().Get("/api/v1/sales?state=payable&pump=" + std::to_string(pump));
    for (const auto& sale : payable["sales"]) Settle(pump, sale["id"]);
}

struct Scenario {
    const char* name;
    void (*run)();
};
void PrintTo(const Scenario& row, std::ostream* out) { *out << row.name; }

const Scenario kScenarios[] = {
    {"volume_preset_ends_in_a_sale_of_that_volume_priced_as_the_driver_rounds",
     [] {
         const double price = GradePrice("95");
         const json sale = Fill(1, "{\"volume\": 2.70}");
         EXPECT_EQ(sale["state"], "payable");
         EXPECT_DOUBLE_EQ(sale["volume"].get<double>(), 2.70);
         EXPECT_DOUBLE_EQ(sale["price"].get<double>(), price);
         EXPECT_DOUBLE_EQ(sale["amount"].get<double>(), Money(price, 2.70));
         EXPECT_NEAR(sale["totals_after"]["volume"].get<double>() - sale["totals_before"]["volume"].get<double>(), 2.70, 1e-9);
         EXPECT_EQ(sale["preset"], json({{"volume", 2.70}}));
     }},
    {"amount_preset_delivers_whole_centilitres_within_the_amount",
     [] {
         const double price = GradePrice("D");
         const json sale = Fill(2, "{\"amount\": 10.00}", 2);
         const double litres = std::trunc((10.00 + 0.00499) * 100 / price) / 100;
         EXPECT_DOUBLE_EQ(sale["volume"].get<double>(), litres);
         EXPECT_DOUBLE_EQ(sale["amount"].get<double>(), Money(price, litres));
         EXPECT_LE(sale["amount"].get<double>(), 10.00);
         EXPECT_EQ(sale["grade"], "D");
     }},
    {"price_change_while_fuelling_keeps_the_running_sale_on_its_price",
     [] {
         const double old_price = GradePrice("95");
         const auto set_before = Shared().Get("/api/v1/prices")["price_set"].get<int>();
         Lift(3);
         ASSERT_EQ(Authorize(3, "{\"volume\": 20}").status, 200);
         ASSERT_TRUE(Shared().WaitState(3, "fuelling")) << Shared().Get(PumpPath(3)).dump();
         const auto changed = Call("PUT", "/api/v1/prices", "/api/v1/prices", R"({"grades": [{"grade": "95", "price": 1.99}]})", "manager");
         ASSERT_EQ(changed.status, 200) << changed.body;
         EXPECT_EQ(changed.Json()["price_set"], set_before + 1);
         EXPECT_DOUBLE_EQ(Shared().Get(PumpPath(3))["price"].get<double>(), old_price);
         ASSERT_TRUE(Shared().WaitState(3, "finished")) << Shared().Get(PumpPath(3)).dump();
         const json sale = Call("GET", "/api/v1/sales/{id}", "/api/v1/sales/" + Shared().Get(PumpPath(3))["sale"].dump()).Json();
         EXPECT_DOUBLE_EQ(sale["price"].get<double>(), old_price);
         EXPECT_EQ(sale["price_set"], set_before);
         EXPECT_DOUBLE_EQ(sale["amount"].get<double>(), Money(old_price, 20));
         Hang(3);
         ASSERT_TRUE(Shared().WaitState(3, "idle")) << Shared().Get(PumpPath(3)).dump();
         const json next = Fill(3, "{\"volume\": 1}");
         EXPECT_DOUBLE_EQ(next["price"].get<double>(), 1.99);
         EXPECT_EQ(next["price_set"], set_before + 1);
         Settle(3, sale["id"]);
         Settle(3, next["id"]);
     }},
    {"a_scheduled_price_takes_effect_while_a_pump_fuels_and_spares_its_sale",
     [] {
         const double old_price = GradePrice("D"), new_price = old_price == 1.77 ? 1.78 : 1.77;
         EventClient events(Shared().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         Lift(6, 2);
         ASSERT_EQ(Authorize(6, "{\"volume\": 60}", 2).status, 200);
         ASSERT_TRUE(Shared().WaitState(6, "fuelling")) << Shared().Get(PumpPath(6)).dump();
         const auto pending = Call("PUT", "/api/v1/prices", "/api/v1/prices", ScheduledPrice("D", new_price, 2), "manager");
         ASSERT_EQ(pending.status, 202) << pending.body;
         EXPECT_EQ(Call("GET", "/api/v1/prices", "/api/v1/prices").Json()["pending"][0]["id"], pending.Json()["id"]);
         EXPECT_DOUBLE_EQ(GradePrice("D"), old_price);
         const auto applied = events.Until([](const json& e) { return e["type"] == "prices" && e["data"]["pending"].empty(); });
         ASSERT_TRUE(applied);
         EXPECT_EQ(CheckEvent(*applied), "");
         EXPECT_DOUBLE_EQ(GradePrice("D"), new_price);
         EXPECT_EQ(Shared().Get(PumpPath(6))["state"], "fuelling");
         const auto late = Call("DELETE", "/api/v1/prices/pending/{id}", PendingPath(pending.Json()["id"]), "", "manager");
         EXPECT_EQ(late.status, 409);
         EXPECT_EQ(late.Json()["error"], "prices_in_effect");
         ASSERT_TRUE(Shared().WaitState(6, "finished")) << Shared().Get(PumpPath(6)).dump();
         const json sale = SaleOf(6);
         EXPECT_DOUBLE_EQ(sale["price"].get<double>(), old_price);
         Hang(6, 2);
         ASSERT_TRUE(Shared().WaitState(6, "idle"));
         const json next = Fill(6, "{\"volume\": 1}", 2);
         EXPECT_DOUBLE_EQ(next["price"].get<double>(), new_price);
         Settle(6, sale["id"]);
         Settle(6, next["id"]);
     }},
    {"a_cancelled_scheduled_price_never_takes_effect",
     [] {
         const double price = GradePrice("95");
         // Two whole seconds ahead: at least one second to cancel it in, on a loaded machine too.
         const auto pending = Call("PUT", "/api/v1/prices", "/api/v1/prices", ScheduledPrice("95", 9.99, 2), "manager");
         ASSERT_EQ(pending.status, 202) << pending.body;
         const auto cancelled = Call("DELETE", "/api/v1/prices/pending/{id}", PendingPath(pending.Json()["id"]), "", "manager");
         ASSERT_EQ(cancelled.status, 200) << cancelled.body;
         EXPECT_TRUE(cancelled.Json()["pending"].empty());
         std::this_thread::sleep_for(std::chrono::milliseconds(3000));
         EXPECT_DOUBLE_EQ(GradePrice("95"), price);
         EXPECT_EQ(Call("DELETE", "/api/v1/prices/pending/{id}", PendingPath(pending.Json()["id"]), "", "manager").status, 404);
     }},
    {"only_the_token_that_locked_a_sale_clears_it_and_only_once",
     [] {
         const auto id = std::to_string(Fill(4, "{\"volume\": 1.5}")["id"].get<int>());
         const std::string lock = "/api/v1/sales/{id}/lock", clear = "/api/v1/sales/{id}/clear";
         EXPECT_EQ(Call("POST", clear, "/api/v1/sales/" + id + "/clear", "", "pos2").status, 409) << "cleared before a lock";
         EXPECT_EQ(Call("POST", lock, "/api/v1/sales/" + id + "/lock", "", "pos2").Json()["locked_by"], "pos2");
         const auto taken = Call("POST", lock, "/api/v1/sales/" + id + "/lock", "", "pos1").Json();
         EXPECT_EQ(taken["error"], "sale_locked");
         EXPECT_EQ(taken["holder"], "pos2");
         EXPECT_EQ(Call("POST", clear, "/api/v1/sales/" + id + "/clear", "", "pos1").status, 409);
         // A till gone with its lock: only a manager releases it, and the sale is payable again.
         const std::string unlock = "/api/v1/sales/{id}/unlock";
         EXPECT_EQ(Call("POST", unlock, "/api/v1/sales/" + id + "/unlock", "", "pos1").status, 403);
         EXPECT_EQ(Call("POST", unlock, "/api/v1/sales/" + id + "/unlock", "", "manager").Json()["state"], "payable");
         EXPECT_EQ(Call("POST", lock, "/api/v1/sales/" + id + "/lock", "", "pos2").Json()["locked_by"], "pos2");
         EXPECT_EQ(Call("POST", clear, "/api/v1/sales/" + id + "/clear", "", "viewer").status, 403);
         EXPECT_EQ(Call("POST", clear, "/api/v1/sales/" + id + "/clear", "", "pos2").Json()["state"], "cleared");
         EXPECT_EQ(Call("POST", clear, "/api/v1/sales/" + id + "/clear", "", "pos2").status, 409) << "cleared twice";
         const auto listed = Call("GET", "/api/v1/sales", "/api/v1/sales?state=cleared&pump=4").Json()["sales"];
         ASSERT_EQ(listed.size(), 1u);
         EXPECT_EQ(listed[0]["id"].dump(), id);
     }},
    {"a_pump_holding_the_unpaid_limit_is_refused_until_one_is_paid",
     [] {
         const json first = Fill(5, "{\"volume\": 1}");
         Fill(5, "{\"volume\": 1}");
         Lift(5);
         const auto refused = Authorize(5, "null");
         EXPECT_EQ(refused.status, 423);
         EXPECT_EQ(refused.Json()["error"], "unpaid_limit");
         Settle(5, first["id"]);
         EXPECT_EQ(Authorize(5, "null").status, 200);
         Call("POST", "/api/v1/pumps/{n}/stop", PumpPath(5, "/stop"));
         Hang(5);
         EXPECT_TRUE(Shared().WaitState(5, "idle")) << Shared().Get(PumpPath(5)).dump();
     }},
    {"stop_ends_the_filling_early_and_the_sale_holds_what_went_out",
     [] {
         Lift(6);
         ASSERT_EQ(Authorize(6, "{\"volume\": 80}").status, 200);
         ASSERT_TRUE(Shared().WaitState(6, "fuelling")) << Shared().Get(PumpPath(6)).dump();
         std::this_thread::sleep_for(std::chrono::milliseconds(200));
         const auto stopped = Call("POST", "/api/v1/pumps/{n}/stop", PumpPath(6, "/stop"));
         ASSERT_EQ(stopped.status, 200) << stopped.body;
         ASSERT_TRUE(Shared().WaitState(6, "finished")) << Shared().Get(PumpPath(6)).dump();
         const json sale = Call("GET", "/api/v1/sales/{id}", "/api/v1/sales/" + Shared().Get(PumpPath(6))["sale"].dump()).Json();
         EXPECT_GT(sale["volume"].get<double>(), 0);
         EXPECT_LT(sale["volume"].get<double>(), 80);
         EXPECT_DOUBLE_EQ(sale["amount"].get<double>(), Money(sale["price"], sale["volume"]));
         Hang(6);
     }},
    {"authorizing_a_fuelling_pump_is_a_conflict_and_stop_withdraws_an_authorization",
     [] {
         Lift(7);
         ASSERT_EQ(Authorize(7, "{\"volume\": 80}").status, 200);
         ASSERT_TRUE(Shared().WaitState(7, "fuelling")) << Shared().Get(PumpPath(7)).dump();
         EXPECT_EQ(Authorize(7, "null").status, 409);
         Call("POST", "/api/v1/stop", "/api/v1/stop");
         ASSERT_TRUE(Shared().WaitState(7, "finished")) << Shared().Get(PumpPath(7)).dump();
         Hang(7);
         ASSERT_TRUE(Shared().WaitState(7, "idle")) << Shared().Get(PumpPath(7)).dump();
         const auto before = Call("GET", "/api/v1/sales", "/api/v1/sales?pump=7").Json()["sales"].size();
         ASSERT_EQ(Authorize(7, "null").status, 200) << "authorized before the customer lifts";
         Call("POST", "/api/v1/pumps/{n}/stop", PumpPath(7, "/stop"));
         ASSERT_TRUE(Shared().WaitState(7, "idle")) << Shared().Get(PumpPath(7)).dump();
         EXPECT_EQ(Call("GET", "/api/v1/sales", "/api/v1/sales?pump=7").Json()["sales"].size(), before) << "nothing delivered, no sale";
     }},
    {"a_line_that_stops_answering_takes_its_pumps_offline_and_back",
     [] {
         EventClient events(Shared().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         EXPECT_EQ(Shared().Emulate(2, "fault silence 0"), "ok");
         ASSERT_TRUE(Shared().WaitState(8, "offline")) << Shared().Get(PumpPath(8)).dump();
         const auto refused = Authorize(8, "null");
         EXPECT_EQ(refused.status, 503);
         EXPECT_EQ(refused.Json()["error"], "line_offline");
         auto offline = events.Until([](const json& e) { return e["type"] == "line" && e["data"]["online"] == false; });
         ASSERT_TRUE(offline);
         EXPECT_EQ(CheckSchema("LineHealth", (*offline)["data"]), "");
         // A stop of every pump is no success while a line's pumps could not be told; with every
         // line silent it still answers, and so does the service after it.
         auto stopped = [](const json& answer) {
             std::string pumps;
             for (const auto& r : answer["results"]) pumps += r["stopped"].get<bool>() ? "s" : "-";
             return pumps;
         };
         const auto one_silent = Call("POST", "/api/v1/stop", "/api/v1/stop");
         EXPECT_EQ(one_silent.status, 503);
         EXPECT_EQ(one_silent.Json()["error"], "stop_incomplete");
         EXPECT_EQ(stopped(one_silent.Json()), "ssss----");
         EXPECT_EQ(Shared().Emulate(1, "fault silence 0"), "ok");
         ASSERT_TRUE(Shared().WaitState(1, "offline"));
         EXPECT_EQ(stopped(Call("POST", "/api/v1/stop", "/api/v1/stop").Json()), "--------");
         EXPECT_EQ(Shared().Emulate(1, "clear-faults"), "ok");
         EXPECT_TRUE(Shared().WaitState(1, "idle"));
         EXPECT_EQ(Shared().Emulate(2, "clear-faults"), "ok");
         EXPECT_TRUE(Shared().WaitState(8, "idle")) << Shared().Get(PumpPath(8)).dump();
         EXPECT_EQ(stopped(Call("POST", "/api/v1/stop", "/api/v1/stop").Json()), "ssssssss");
         EXPECT_TRUE(events.Until([](const json& e) { return e["type"] == "line" && e["data"]["online"] == true; }));
     }},
    {"events_carry_every_change_and_a_reconnect_replays_what_was_missed",
     [] {
         EventClient live(Shared().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         const json sale = Fill(1, "{\"volume\": 1}");
         auto finished = live.Until([&](const json& e) { return e["type"] == "sale" && e["data"]["id"] == sale["id"]; });
         ASSERT_TRUE(finished);
         EXPECT_EQ(CheckSchema("Event", *finished), "");
         EXPECT_EQ(CheckSchema("Sale", (*finished)["data"]), "");
         const auto seq = (*finished)["seq"].get<std::int64_t>();
         EventClient replay(Shared().port(), "/api/v1/events?after=" + std::to_string(seq - 1) + "&token=" + Station::Token("viewer"));
         auto first = replay.Next();
         ASSERT_TRUE(first);
         EXPECT_EQ(*first, *finished);
         auto pump = live.Until([](const json& e) { return e["type"] == "pump"; }, 5000);
         ASSERT_TRUE(pump);
         EXPECT_EQ(CheckSchema("Pump", (*pump)["data"]), "");
         Settle(1, sale["id"]);
     }},
    {"forecourt_names_the_role_each_token_grants_and_no_uplink",
     [] {
         for (const char* token : {"viewer", "pos1", "manager"}) {
             const json forecourt = Call("GET", "/api/v1/forecourt", "/api/v1/forecourt", "", token).Json();
             EXPECT_EQ(forecourt["role"], std::string(token) == "pos1" ? "pos" : token);
             EXPECT_EQ(forecourt["caller"], token);
             EXPECT_TRUE(forecourt.contains("uplink") && forecourt["uplink"].is_null()) << forecourt.dump();
         }
     }},
    {"sales_and_their_totals_keep_to_the_half_open_range_of_instants_asked",
     [] {
         const json sale = Fill(4, "{\"volume\": 1.25}", 2);
         const std::string ended = sale["ended"], id = std::to_string(sale["id"].get<int>());
         const std::string later = "2999-01-01T03:00:00+03:00", before = std::to_string(sale["id"].get<int>() - 1);
         auto ids = [](const json& list) {
             std::vector<int> out;
             for (const auto& s : list["sales"]) out.push_back(s["id"].get<int>());
             return out;
         };
         const auto from = Call("GET", "/api/v1/sales", "/api/v1/sales?pump=4&from=" + ended + "&to=" + later).Json();
         EXPECT_EQ(ids(from), std::vector<int>{sale["id"].get<int>()}) << from.dump();
         const auto to = Call("GET", "/api/v1/sales", "/api/v1/sales?pump=4&after=" + before + "&to=" + ended).Json();
         EXPECT_EQ(ids(to), std::vector<int>{}) << to.dump();
         const auto sum = Call("GET", "/api/v1/sales/summary", "/api/v1/sales/summary?from=" + ended + "&to=" + later).Json();
         ASSERT_EQ(sum["grades"].size(), 1u) << sum.dump();
         EXPECT_EQ(sum["grades"][0], json({{"grade", "D"}, {"sales", 1}, {"volume", 1.25}, {"amount", sale["amount"]}}));
         EXPECT_EQ(sum["total"], json({{"sales", 1}, {"volume", 1.25}, {"amount", sale["amount"]}}));
         EXPECT_EQ(sum["to"], "2999-01-01T00:00:00.000Z");
         const auto none = Call("GET", "/api/v1/sales/summary", "/api/v1/sales/summary?from=" + ended + "&to=" + ended).Json();
         EXPECT_EQ(none["grades"], json::array()) << none.dump();
         Settle(4, std::stoll(id));
     }},
    {"an_authorization_whose_reply_is_lost_still_ends_in_one_sale",
     [] {
         // The start reaches the pump; its reply comes only after every retry gave up.
         EXPECT_EQ(Shared().Emulate(2, "fault late 0 cmd=2 delay-ms=3000"), "ok");
         Lift(6);
         const auto authorized = Authorize(6, "{\"volume\": 1.5}");
         EXPECT_EQ(Shared().Emulate(2, "clear-faults"), "ok");
         ASSERT_TRUE(Shared().WaitState(6, "finished")) << authorized.body << Shared().Get(PumpPath(6)).dump();
         const json sale = Call("GET", "/api/v1/sales/{id}", "/api/v1/sales/" + Shared().Get(PumpPath(6))["sale"].dump()).Json();
         EXPECT_DOUBLE_EQ(sale["volume"].get<double>(), 1.5);
         Hang(6);
         ASSERT_TRUE(Shared().WaitState(6, "idle"));
         Settle(6, sale["id"]);
     }},
    {"a_start_the_pump_never_took_is_withdrawn_and_its_sale_voided",
     [] {
         // Every try of the start meets silence: the pump stays authorized and never starts.
         const json last_sale = Shared().Get(PumpPath(6))["sale"];
         EXPECT_EQ(Shared().Emulate(2, "fault silence 0 cmd=2"), "ok");
         Lift(6);
         const auto authorized = Authorize(6, "{\"volume\": 1.5}");
         EXPECT_EQ(Shared().Emulate(2, "clear-faults"), "ok");
         ASSERT_TRUE(Shared().WaitState(6, "calling")) << authorized.body << Shared().Get(PumpPath(6)).dump();
         EXPECT_EQ(Shared().Get(PumpPath(6))["sale"], last_sale) << "nothing delivered, no sale";
         Hang(6);
         ASSERT_TRUE(Shared().WaitState(6, "idle"));
     }},
    {"two_managers_changing_two_grades_at_once_both_stand",
     [] {
         auto put = [](const char* grade, int cents) {
             const std::string body = R"({"grades": [{"grade": ")" + std::string(grade) + R"(", "price": )" + std::to_string(cents / 100) +
                                      "." + std::to_string(cents % 100) + "}]}";
             EXPECT_EQ(Shared().Request("PUT", "/api/v1/prices", body, "manager").status, 200);
         };
         for (int round = 0; round < 10; ++round) {
             std::thread other([&] { put("D", 160 + round); });
             put("95", 180 + round);
             other.join();
             EXPECT_DOUBLE_EQ(GradePrice("95"), (180 + round) / 100.0) << "round " << round;
             EXPECT_DOUBLE_EQ(GradePrice("D"), (160 + round) / 100.0) << "round " << round;
         }
         put("95", 185);
         put("D", 172);
     }},
    {"readers_past_their_share_of_the_line_are_told_to_come_back_and_a_till_is_served",
     [] {
         std::atomic<int> read{0}, later{0};
         {
             std::vector<std::jthread> viewers;
             for (int i = 0; i < 20; ++i)
                 viewers.emplace_back([&] {
                     for (int k = 0; k < 5; ++k) {
                         const auto reply = Shared().Request("GET", PumpPath(1, "/totals"), "", "viewer");
                         if (reply.status == 429) {
                             EXPECT_EQ(reply.Json()["error"], "too_many_requests");
                         }
                         ++(reply.status == 200 ? read : later);
                     }
                 });
             const json sale = Fill(2, "{\"volume\": 1.25}", 2);
             EXPECT_DOUBLE_EQ(sale["volume"].get<double>(), 1.25);
         }
         EXPECT_GT(read.load(), 0);
         EXPECT_GT(later.load(), 0);
     }},
    {"prepay_that_delivers_less_refunds_the_rest_to_the_cent_and_is_paid_out_as_a_sale",
     [] {
         Lift(1);
         ASSERT_EQ(Prepay(1, "10.00").status, 200);
         ASSERT_TRUE(Shared().WaitState(1, "finished")) << Shared().Get(PumpPath(1)).dump();
         const json sale = SaleOf(1);
         Hang(1);
         EXPECT_GT(sale["volume"].get<double>(), 0);
         EXPECT_GT(sale["refund"].get<double>(), 0) << "whole litres stop short of the money";
         ExpectRefund(sale, 1000);
         EXPECT_EQ(OnSale("lock", sale["id"]).Json()["state"], "locked");
         EXPECT_EQ(OnSale("clear", sale["id"]).Json()["refund"], sale["refund"]);
     }},
    {"prepay_withdrawn_before_a_drop_is_a_sale_refunding_it_all",
     [] {
         const json unpaid = Shared().Get(PumpPath(2))["unpaid"];
         ASSERT_EQ(Prepay(2, "7.35").status, 200);
         Call("POST", "/api/v1/pumps/{n}/stop", PumpPath(2, "/stop"));
         ASSERT_TRUE(Shared().WaitState(2, "idle")) << Shared().Get(PumpPath(2)).dump();
         const json sale = SaleOf(2);
         EXPECT_EQ(sale["state"], "payable");
         EXPECT_EQ(sale["volume"], 0);
         ExpectRefund(sale, 735);
         EXPECT_EQ(Shared().Get(PumpPath(2))["unpaid"], unpaid) << "a refund is owed to the customer, not by one";
         Settle(2, sale["id"]);
     }},
    {"prepay_cancelled_before_the_lift_refunds_it_all_and_moved_keeps_its_id",
     [] {
         const auto id = Prepay(3, "5.00").Json()["sale"].get<std::int64_t>();
         const json cancelled = OnSale("cancel", id).Json();
         EXPECT_EQ(cancelled["state"], "payable");
         ExpectRefund(cancelled, 500);
         EXPECT_EQ(cancelled["amount"], 0);
         EXPECT_EQ(OnSale("cancel", id).Json()["error"], "sale_started") << "cancelled twice";
         Settle(3, id);
         const auto moving = Prepay(3, "4.00").Json()["sale"].get<std::int64_t>();
         const json moved = OnSale("move", moving, R"({"pump": 4})").Json();
         EXPECT_EQ(moved["pump"], 4);
         EXPECT_EQ(moved["sale"], moving);
         EXPECT_TRUE(Shared().WaitState(3, "idle")) << Shared().Get(PumpPath(3)).dump();
         Lift(4);
         ASSERT_TRUE(Shared().WaitState(4, "finished")) << Shared().Get(PumpPath(4)).dump();
         const json sale = SaleOf(4);
         Hang(4);
         EXPECT_EQ(sale["id"], moving);
         EXPECT_EQ(sale["pump"], 4);
         EXPECT_GT(sale["volume"].get<double>(), 0);
         ExpectRefund(sale, 400);
         Settle(4, moving);
     }},
    {"a_prepay_taken_up_after_a_restart_is_still_moved_and_cancelled",
     [] {
         const auto paid = Prepay(7, "5.00");
         ASSERT_EQ(paid.status, 200) << paid.body;
         EXPECT_EQ(paid.Json()["prepaid"], 5);
         const auto id = paid.Json()["sale"].get<std::int64_t>();
         Shared().KillService();
         Shared().StartService();
         const auto moved = OnSale("move", id, R"({"pump": 8})");
         ASSERT_EQ(moved.status, 200) << moved.body;
         EXPECT_EQ(moved.Json()["prepaid"], 5);
         EXPECT_EQ(Shared().Get(PumpPath(7))["prepaid"], nullptr);
         Shared().KillService();
         Shared().StartService();
         const auto cancelled = OnSale("cancel", id);
         ASSERT_EQ(cancelled.status, 200) << cancelled.body;
         ExpectRefund(cancelled.Json(), 500);
         Settle(8, id);
     }},
    {"a_prepay_whose_nozzle_is_lifted_is_neither_moved_nor_cancelled",
     [] {
         Lift(5);
         const auto id = Prepay(5, "150.00").Json()["sale"].get<std::int64_t>();
         ASSERT_TRUE(Shared().WaitState(5, "fuelling")) << Shared().Get(PumpPath(5)).dump();
         EXPECT_EQ(OnSale("cancel", id).Json()["error"], "sale_started");
         EXPECT_EQ(OnSale("move", id, R"({"pump": 6})").Json()["error"], "sale_started");
         Call("POST", "/api/v1/pumps/{n}/stop", PumpPath(5, "/stop"));
         ASSERT_TRUE(Shared().WaitState(5, "finished")) << Shared().Get(PumpPath(5)).dump();
         Hang(5);
         const json sale = SaleOf(5);
         EXPECT_EQ(sale["id"], id);
         ExpectRefund(sale, 15000);
         Settle(5, id);
     }},
    {"a_drive_off_is_settled_unpaid_by_a_manager_and_final",
     [] {
         const json sale = Fill(6, "{\"volume\": 1}");
         const int unpaid = Shared().Get(PumpPath(6))["unpaid"];
         EXPECT_EQ(OnSale("mark", sale["id"], R"({"as": "drive_off"})").status, 403);
         const json marked = OnSale("mark", sale["id"], R"({"as": "drive_off"})", "manager").Json();
         EXPECT_EQ(marked["state"], "drive_off");
         EXPECT_EQ(marked["marked_by"], "manager");
         EXPECT_EQ(Shared().Get(PumpPath(6))["unpaid"], unpaid - 1);
         EXPECT_EQ(OnSale("lock", sale["id"]).Json()["error"], "sale_marked");
         EXPECT_EQ(OnSale("mark", sale["id"], R"({"as": "test"})", "manager").Json()["error"], "sale_marked");
     }},
    {"a_test_delivery_is_counted_apart_from_the_grades_money",
     [] {
         const json sale = Fill(7, "{\"volume\": 1.5}");
         EXPECT_EQ(OnSale("mark", sale["id"], R"({"as": "test"})", "manager").Json()["state"], "test");
         const std::string range = "?from=" + sale["ended"].get<std::string>() + "&to=2999-01-01T00:00:00Z";
         const json sum = Call("GET", "/api/v1/sales/summary", "/api/v1/sales/summary" + range).Json();
         EXPECT_EQ(sum["grades"], json::array()) << sum.dump();
         EXPECT_EQ(sum["test"], json({{"sales", 1}, {"volume", 1.5}, {"amount", sale["amount"]}}));
     }},
    {"every_change_and_every_refusal_is_in_the_audit_trail_once",
     [] {
         const json authorized = Prepay(8, "3.00").Json();
         const auto id = authorized["sale"].get<std::int64_t>();
         const std::string sale = "sale " + std::to_string(id);
         const std::string from = authorized["since"];  // the authorization's own entry may fall either side
         OnSale("cancel", id);
         OnSale("lock", id);
         OnSale("lock", id);  // again by its holder: no change written, still an entry
         OnSale("clear", id);
         OnSale("mark", id, R"({"as": "test"})");
         EXPECT_EQ(Call("GET", "/api/v1/audit", "/api/v1/audit").status, 403);
         const json trail = Call("GET", "/api/v1/audit", "/api/v1/audit?actor=pos1&from=" + from, "", "manager").Json();
         std::vector<std::string> seen;
         for (const auto& e : trail["entries"])
             seen.push_back(e["operation"].get<std::string>() + " " + e["target"].get<std::string>() + " " + e["status"].dump() + " " +
                            (e["error"].is_null() ? "-" : e["error"].get<std::string>()));
         if (!seen.empty() && seen.front().rfind("authorizePump", 0) == 0) seen.erase(seen.begin());
         EXPECT_EQ(seen,
                   (std::vector<std::string>{"cancelSale " + sale + " 200 -", "lockSale " + sale + " 200 -", "lockSale " + sale + " 200 -",
                                             "clearSale " + sale + " 200 -", "markSale " + sale + " 403 forbidden"}))
             << trail.dump();
     }},
    {"a_closed_shift_reconciles_its_totalizers_with_its_sales_to_the_centilitre",
     [] {
         CloseShift();  // one an earlier row left open
         for (int pump : {3, 4, 7}) SettleAll(pump);
         ASSERT_EQ(OpenShift().status, 200);
         const json postpay = Fill(3, "{\"volume\": 2.37}");
         Settle(3, postpay["id"]);
         Lift(4);
         ASSERT_EQ(Prepay(4, "10.00").status, 200);
         ASSERT_TRUE(Shared().WaitState(4, "finished")) << Shared().Get(PumpPath(4)).dump();
         const json prepay = SaleOf(4);
         Hang(4);
         ASSERT_TRUE(Shared().WaitState(4, "idle"));
         Settle(4, prepay["id"]);
         const json gone = Fill(7, "{\"volume\": 1.11}", 2);
         EXPECT_EQ(OnSale("mark", gone["id"], R"({"as": "drive_off"})", "manager").status, 200);
         const json shift = CloseShift().Json();
         const json& report = shift["report"];
         EXPECT_EQ(report["difference_cl"], 0) << report.dump();
         EXPECT_EQ(shift["unread"], false);
         std::map<std::pair<int, int>, double> sold;
         for (const auto& n : report["nozzles"]) {
             EXPECT_EQ(n["difference_cl"], 0) << n.dump();
             EXPECT_EQ(std::llround(n["growth"]["volume"].get<double>() * 100), std::llround(n["volume"].get<double>() * 100)) << n.dump();
             sold[{n["pump"].get<int>(), n["nozzle"].get<int>()}] = n["volume"].get<double>();
         }
         EXPECT_EQ(sold[std::pair(3, 1)], 2.37);
         EXPECT_EQ(sold[std::pair(4, 1)], prepay["volume"].get<double>());
         EXPECT_EQ(sold[std::pair(7, 2)], 1.11);
         EXPECT_EQ(report["refunds"]["amount"], prepay["refund"]);
         EXPECT_EQ(report["drive_offs"]["volume"], 1.11);
         EXPECT_EQ(report["cashiers"].size(), 1u) << report["cashiers"].dump();
         EXPECT_EQ(report["cashiers"][0]["cashier"], "pos1");
         EXPECT_EQ(report["cashiers"][0]["sales"], 2) << "the postpay and the prepay it cleared";
         auto csv = Shared().Request("GET", "/api/v1/shifts/" + shift["id"].dump(), "", "pos1", {{"Accept", "text/csv"}});
         EXPECT_EQ(csv.headers["Content-Type"], "text/csv; charset=utf-8");
         EXPECT_EQ(std::count(csv.body.begin(), csv.body.end(), '\n'), 1 + 16) << "a header and a row per nozzle";
         EXPECT_NE(csv.body.find("\r\n3,1,\"95\",1,2.37,"), std::string::npos) << csv.body;
     }},
    {"a_line_silent_at_the_close_leaves_its_nozzles_unread_never_read_as_0",
     [] {
         EventClient events(Shared().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         CloseShift();
         ASSERT_EQ(OpenShift().status, 200);
         EXPECT_EQ(Shared().Emulate(2, "fault silence 0"), "ok");
         ASSERT_TRUE(Shared().WaitState(8, "offline")) << Shared().Get(PumpPath(8)).dump();
         const json shift = CloseShift().Json();
         EXPECT_EQ(Shared().Emulate(2, "clear-faults"), "ok");
         EXPECT_TRUE(Shared().WaitState(8, "idle"));
         EXPECT_EQ(shift["unread"], true);
         EXPECT_EQ(shift["report"]["difference_cl"], nullptr);
         for (const auto& n : shift["report"]["nozzles"]) {
             const bool silent = n["pump"].get<int>() > 4;
             EXPECT_EQ(n["unread"], silent) << n.dump();
             EXPECT_EQ(n["totalizer_close"].is_null(), silent) << n.dump();
             EXPECT_EQ(n["difference_cl"], silent ? json() : json(0)) << n.dump();
         }
         const auto closed = events.Until([](const json& e) { return e["type"] == "shift" && e["data"]["event"] == "closed"; });
         ASSERT_TRUE(closed);
         EXPECT_EQ(CheckEvent(*closed), "");
         EXPECT_EQ(Call("GET", "/api/v1/shifts", "/api/v1/shifts?limit=1").Json()["shifts"][0]["id"], shift["id"]) << "newest first";
     }},
};

class ServiceScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(ServiceScenario, Runs) { GetParam().run(); }

INSTANTIATE_TEST_SUITE_P(Station, ServiceScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// A station whose pumps time out in seconds; closures, modes and the emergency stop change
// nothing on the shared one.
Station& Controls() {
    static auto station = [] {
        StationOptions options;
        options.lines = 1;
        options.extra_toml = "[timeouts]\nauthorize_seconds = 3\nnozzle_out_seconds = 2\nno_flow_seconds = 3\n";
        return std::make_unique<Station>(options);
    }();
    return *station;
}

HttpReply On(const std::string& method, const std::string& route, const std::string& target, const std::string& body = "",
             const std::string& token = "pos1") {
    auto reply = Controls().Request(method, target, body, token);
    EXPECT_EQ(CheckResponse(method, route, reply.status, reply.Json()), "") << reply.body;
    return reply;
}
HttpReply ClosePump(int pump, const std::string& reason, const std::string& token = "manager") {
    return On("POST", "/api/v1/pumps/{n}/close", PumpPath(pump, "/close"), "{\"reason\": \"" + reason + "\"}", token);
}
HttpReply OpenPump(int pump) { return On("POST", "/api/v1/pumps/{n}/open", PumpPath(pump, "/open"), "", "manager"); }
HttpReply Mode(int pump, const std::string& mode) {
    return On("PUT", "/api/v1/pumps/{n}/mode", PumpPath(pump, "/mode"), "{\"mode\": \"" + mode + "\"}", "manager");
}
HttpReply EmergencyStop(const std::string& token = "pos1") {
    return On("POST", "/api/v1/emergency-stop", "/api/v1/emergency-stop", "", token);
}
HttpReply Release(const std::string& token = "manager") {
    return On("POST", "/api/v1/emergency-stop/release", "/api/v1/emergency-stop/release", "", token);
}
HttpReply Authorized(int pump, const std::string& preset = "{\"volume\": 1}") {
    return On("POST", "/api/v1/pumps/{n}/authorize", PumpPath(pump, "/authorize"), "{\"nozzle\": 1, \"preset\": " + preset + "}");
}
void Nozzle(int pump, bool lift) {
    On("POST", "/api/v1/emulator/pumps/{n}/" + std::string(lift ? "lift" : "hang"),
       "/api/v1/emulator/pumps/" + std::to_string(pump) + (lift ? "/lift" : "/hang"), "{\"nozzle\": 1}");
}
json PumpOn(int pump) { return Controls().Get(PumpPath(pump)); }
// The next timeout event of `pump`.
std::optional<json> TimeoutOf(EventClient& events, int pump, const std::string& timeout) {
    return events.Until(
        [&](const json& e) { return e["type"] == "timeout" && e["data"]["pump"] == pump && e["data"]["timeout"] == timeout; });
}
void SettleOn(const json& sale) {
    On("POST", "/api/v1/sales/{id}/lock", "/api/v1/sales/" + sale.dump() + "/lock");
    On("POST", "/api/v1/sales/{id}/clear", "/api/v1/sales/" + sale.dump() + "/clear");
}

const Scenario kControlScenarios[] = {
    {"scheduled_prices_outlive_a_restart_and_one_due_meanwhile_takes_effect_at_start",
     [] {
         const auto schedule = [](double price, int seconds) {
             return On("PUT", "/api/v1/prices", "/api/v1/prices", ScheduledPrice("D", price, seconds), "manager");
         };
         ASSERT_EQ(schedule(1.61, 2).status, 202);
         const auto later = schedule(1.62, 3600);
         ASSERT_EQ(later.status, 202) << later.body;
         Controls().KillService();
         std::this_thread::sleep_for(std::chrono::seconds(2));
         Controls().StartService();
         const json prices = On("GET", "/api/v1/prices", "/api/v1/prices", "", "viewer").Json();
         EXPECT_EQ(prices["grades"][0]["grade"], "95");
         EXPECT_EQ(prices["grades"][1]["price"], 1.61) << prices.dump();
         ASSERT_EQ(prices["pending"].size(), 1u) << prices.dump();
         EXPECT_EQ(prices["pending"][0], later.Json());
         EXPECT_EQ(On("DELETE", "/api/v1/prices/pending/{id}", PendingPath(later.Json()["id"]), "", "manager").status, 200);
     }},
    {"a_closed_pump_refuses_authorization_until_a_manager_opens_it",
     [] {
         EXPECT_EQ(ClosePump(1, "no_fuel", "pos1").status, 403);
         const auto closed = ClosePump(1, "no_fuel");
         ASSERT_EQ(closed.status, 200) << closed.body;
         EXPECT_EQ(closed.Json()["closed"]["reason"], "no_fuel");
         EXPECT_EQ(closed.Json()["closed"]["by"], "manager");
         Nozzle(1, true);
         const auto refused = Authorized(1);
         EXPECT_EQ(refused.status, 409);
         EXPECT_EQ(refused.Json()["error"], "pump_closed");
         EXPECT_EQ(OpenPump(1).Json()["closed"], nullptr);
         const auto taken = Authorized(1);
         ASSERT_EQ(taken.status, 200) << taken.body;
         ASSERT_TRUE(Controls().WaitState(1, "finished")) << PumpOn(1).dump();
         Nozzle(1, false);
         ASSERT_TRUE(Controls().WaitState(1, "idle"));
         SettleOn(taken.Json()["sale"]);
     }},
    {"a_closure_and_the_emergency_stop_outlive_a_restart",
     [] {
         ASSERT_EQ(ClosePump(2, "maintenance").status, 200);
         ASSERT_EQ(EmergencyStop().status, 200);
         Controls().KillService();
         Controls().StartService();
         EXPECT_EQ(PumpOn(2)["closed"]["reason"], "maintenance");
         EXPECT_EQ(Controls().Get("/api/v1/forecourt")["emergency_stop"]["by"], "pos1");
         EXPECT_EQ(Release().status, 200);
         EXPECT_EQ(OpenPump(2).status, 200);
     }},
    {"the_emergency_stop_stops_the_filling_and_refuses_every_pump_until_released",
     [] {
         EventClient events(Controls().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         Nozzle(3, true);
         const auto running = Authorized(3, "{\"volume\": 200}");
         ASSERT_EQ(running.status, 200) << running.body;
         ASSERT_TRUE(Controls().WaitState(3, "fuelling")) << PumpOn(3).dump();
         const auto stopped = EmergencyStop();
         ASSERT_EQ(stopped.status, 200) << stopped.body;
         EXPECT_EQ(stopped.Json()["emergency_stop"]["by"], "pos1");
         EXPECT_TRUE(events.Until([](const json& e) { return e["type"] == "emergency_stop" && e["data"]["in_force"] == true; }));
         ASSERT_TRUE(Controls().WaitState(3, "finished")) << PumpOn(3).dump();
         Nozzle(3, false);
         Nozzle(4, true);
         EXPECT_EQ(Authorized(4).Json()["error"], "emergency_stop");
         EXPECT_EQ(Release("pos1").status, 403);
         EXPECT_EQ(Controls().Get("/api/v1/forecourt")["emergency_stop"]["by"], "pos1");
         EXPECT_EQ(Release().Json()["emergency_stop"], nullptr);
         EXPECT_EQ(Controls().Get("/api/v1/forecourt")["emergency_stop"], nullptr);
         const auto taken = Authorized(4);
         ASSERT_EQ(taken.status, 200) << taken.body;
         ASSERT_TRUE(Controls().WaitState(4, "finished"));
         Nozzle(4, false);
         SettleOn(running.Json()["sale"]);
         SettleOn(taken.Json()["sale"]);
     }},
    {"attendant_mode_turns_a_lifted_nozzle_into_a_payable_sale_up_to_the_unpaid_limit",
     [] {
         EXPECT_EQ(Mode(2, "attendant").Json()["mode"], "attendant");
         std::vector<json> sales;
         for (int i = 0; i < 2; ++i) {
             Nozzle(2, true);
             ASSERT_TRUE(Controls().WaitState(2, "fuelling")) << PumpOn(2).dump();
             Nozzle(2, false);
             ASSERT_TRUE(Controls().WaitState(2, "idle")) << PumpOn(2).dump();
             sales.push_back(PumpOn(2)["sale"]);
             EXPECT_EQ(Controls().Get("/api/v1/sales/" + sales.back().dump())["state"], "payable");
         }
         // The pump holds the limit of unpaid sales: the next customer is not served.
         Nozzle(2, true);
         ASSERT_TRUE(Controls().WaitState(2, "calling"));
         std::this_thread::sleep_for(std::chrono::milliseconds(500));
         EXPECT_EQ(PumpOn(2)["state"], "calling");
         Nozzle(2, false);
         EXPECT_EQ(Mode(2, "pos").Json()["mode"], "pos");
         for (const auto& sale : sales) SettleOn(sale);
     }},
    {"an_authorization_nobody_lifts_the_nozzle_for_is_withdrawn",
     [] {
         EventClient events(Controls().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         const auto authorized = Authorized(1);
         ASSERT_EQ(authorized.status, 200) << authorized.body;
         const auto timeout = TimeoutOf(events, 1, "authorize");
         ASSERT_TRUE(timeout);
         EXPECT_EQ((*timeout)["data"]["sale"], authorized.Json()["sale"]);
         // In the trail before its event goes out, under the service's name.
         const json trail = Controls().Get("/api/v1/audit?actor=dorv-forecourt", "manager");
         EXPECT_TRUE(std::any_of(trail["entries"].begin(), trail["entries"].end(), [](const json& e) {
             return e["operation"] == "authorize_timeout" && e["target"] == "pump 1";
         })) << trail.dump();
         ASSERT_TRUE(Controls().WaitState(1, "idle")) << PumpOn(1).dump();
         EXPECT_EQ(Controls().Request("GET", "/api/v1/sales/" + authorized.Json()["sale"].dump()).status, 404);
     }},
    {"a_filling_without_flow_is_stopped",
     [] {
         EventClient events(Controls().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         Nozzle(3, true);
         const auto taken = Authorized(3, "{\"volume\": 200}");
         ASSERT_EQ(taken.status, 200) << taken.body;
         ASSERT_TRUE(Controls().WaitState(3, "fuelling")) << PumpOn(3).dump();
         EXPECT_EQ(Controls().Emulate(1, "flow 0"), "ok");
         EXPECT_TRUE(TimeoutOf(events, 3, "no_flow"));
         EXPECT_EQ(Controls().Emulate(1, "flow 10"), "ok");
         ASSERT_TRUE(Controls().WaitState(3, "finished")) << PumpOn(3).dump();
         EXPECT_LT(PumpOn(3)["volume"].get<double>(), 200);
         Nozzle(3, false);
         ASSERT_TRUE(Controls().WaitState(3, "idle")) << PumpOn(3).dump();
         SettleOn(taken.Json()["sale"]);
     }},
    {"a_nozzle_left_out_after_its_sale_raises_the_alarm_until_it_is_hung",
     [] {
         EventClient events(Controls().port(), "/api/v1/events?token=" + Station::Token("viewer"));
         Nozzle(4, true);
         const auto taken = Authorized(4);
         ASSERT_EQ(taken.status, 200) << taken.body;
         ASSERT_TRUE(TimeoutOf(events, 4, "nozzle_out"));
         EXPECT_EQ(PumpOn(4)["alarm"]["alarm"], "nozzle_out");
         Nozzle(4, false);
         ASSERT_TRUE(Controls().WaitState(4, "idle"));
         EXPECT_EQ(PumpOn(4)["alarm"], nullptr);
         SettleOn(taken.Json()["sale"]);
     }},
};

class ServiceControls : public ::testing::TestWithParam<Scenario> {};

TEST_P(ServiceControls, Runs) { GetParam().run(); }

INSTANTIATE_TEST_SUITE_P(Station, ServiceControls, ::testing::ValuesIn(kControlScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadInput {
    const char* name;
    const char* method;
    const char* route;  // as the document names it; empty for a route it does not have
    std::string target;
    std::string body;
    const char* token;
    int status;
    const char* error;
    const char* allow = "";       // the methods a 405 names
    void (*prepare)() = nullptr;  // brings the station to the state the row needs
};
void PrintTo(const BadInput& row, std::ostream* out) { *out << row.name; }

const BadInput kBadInputs[] = {
    {"malformed_json", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", "{nozzle: 1", "pos1", 400, "bad_request"},
    {"body_not_an_object", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", "[1]", "pos1", 400, "bad_request"},
    {"nozzle_of_wrong_type", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", R"({"nozzle": "1"})", "pos1", 400,
     "bad_request"},
    {"nozzle_out_of_range", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", R"({"nozzle": 9})", "pos1", 400,
     "bad_request"},
    {"preset_volume_and_amount", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize",
     R"({"nozzle": 1, "preset": {"volume": 1, "amount": 2}})", "pos1", 400, "bad_request"},
    {"preset_negative", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", R"({"preset": {"volume": -5}})", "pos1", 400,
     "bad_request"},
    {"preset_beyond_the_field", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", R"({"preset": {"volume": 1000}})",
     "pos1", 400, "bad_request"},
    {"preset_thousandths", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", R"({"preset": {"amount": 1.005}})", "pos1",
     400, "bad_request"},
    {"unknown_field", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", R"({"nozle": 1})", "pos1", 400, "bad_request"},
    {"amount_beyond_the_dose", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize",
     R"({"nozzle": 1, "preset": {"amount": 5000}})", "pos1", 400, "preset_too_large"},
    {"no_nozzle_lifted", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", "{}", "pos1", 409, "nozzle_not_lifted"},
    {"huge_body", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", std::string(5000, ' ') + "{}", "pos1", 413,
     "payload_too_large"},
    {"unknown_route", "GET", "", "/api/v1/nothing", "", "viewer", 404, "not_found"},
    {"unknown_pump", "GET", "/api/v1/pumps/{n}", "/api/v1/pumps/99", "", "viewer", 404, "not_found"},
    {"pump_number_in_hex", "GET", "", "/api/v1/pumps/0x1", "", "viewer", 404, "not_found"},
    {"bad_percent_escape", "GET", "", "/api/v1/pumps%zz", "", "viewer", 400, "bad_request"},
    {"wrong_method", "DELETE", "", "/api/v1/pumps", "", "manager", 405, "method_not_allowed", "GET, HEAD"},
    {"post_to_a_reading", "POST", "", "/api/v1/pumps/1", "{}", "manager", 405, "method_not_allowed", "GET, HEAD"},
    {"get_of_a_command", "GET", "", "/api/v1/sales/1/lock", "", "viewer", 405, "method_not_allowed", "POST"},
    {"delete_of_a_route_with_two_methods", "DELETE", "", "/api/v1/prices", "", "manager", 405, "method_not_allowed", "GET, HEAD, PUT"},
    {"put_on_an_open_route", "PUT", "", "/healthz", "", "", 405, "method_not_allowed", "GET, HEAD"},
    {"head_as_get_without_the_body", "HEAD", "", "/api/v1/prices", "", "viewer", 200, ""},
    {"head_needs_the_token_get_needs", "HEAD", "", "/api/v1/pumps", "", "", 401, ""},
    {"nozzle_the_pump_lacks", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", R"({"nozzle": 3})", "pos1", 409,
     "no_such_nozzle"},
    {"closure_without_a_reason", "POST", "/api/v1/pumps/{n}/close", "/api/v1/pumps/1/close", "{}", "manager", 400, "bad_request"},
    {"closure_reason_of_two_lines", "POST", "/api/v1/pumps/{n}/close", "/api/v1/pumps/1/close", R"({"reason": "a\nb"})", "manager", 400,
     "bad_request"},
    {"closure_of_no_pump", "POST", "/api/v1/pumps/{n}/close", "/api/v1/pumps/99/close", R"({"reason": "fault"})", "manager", 404,
     "not_found"},
    {"mode_unknown", "PUT", "/api/v1/pumps/{n}/mode", "/api/v1/pumps/1/mode", R"({"mode": "self"})", "manager", 400, "bad_request"},
    {"mode_by_a_till", "PUT", "/api/v1/pumps/{n}/mode", "/api/v1/pumps/1/mode", R"({"mode": "attendant"})", "pos1", 403, "forbidden"},
    {"emulator_nozzle_the_pump_lacks", "POST", "/api/v1/emulator/pumps/{n}/lift", "/api/v1/emulator/pumps/1/lift", R"({"nozzle": 3})",
     "pos1", 409, "no_such_nozzle"},
    {"missing_token", "GET", "/api/v1/pumps", "/api/v1/pumps", "", "", 401, "unauthorized"},
    {"wrong_token", "GET", "/api/v1/pumps", "/api/v1/pumps", "", "intruder", 401, "unauthorized"},
    {"viewer_authorizes", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize", "{}", "viewer", 403, "forbidden"},
    {"pos_sets_prices", "PUT", "/api/v1/prices", "/api/v1/prices", R"({"grades": [{"grade": "95", "price": 1}]})", "pos1", 403,
     "forbidden"},
    {"price_for_unknown_grade", "PUT", "/api/v1/prices", "/api/v1/prices", R"({"grades": [{"grade": "98", "price": 1}]})", "manager", 400,
     "bad_request"},
    {"price_beyond_the_field", "PUT", "/api/v1/prices", "/api/v1/prices", R"({"grades": [{"grade": "95", "price": 100}]})", "manager", 400,
     "bad_request"},
    {"prices_valid_from_without_a_zone", "PUT", "/api/v1/prices", "/api/v1/prices",
     R"({"grades": [{"grade": "95", "price": 1}], "valid_from": "2030-01-01T06:00:00"})", "manager", 400, "bad_request"},
    {"scheduled_price_for_unknown_grade", "PUT", "/api/v1/prices", "/api/v1/prices",
     R"({"grades": [{"grade": "98", "price": 1}], "valid_from": "2030-01-01T06:00:00Z"})", "manager", 400, "bad_request"},
    {"cancel_unknown_pending_prices", "DELETE", "/api/v1/prices/pending/{id}", "/api/v1/prices/pending/999999", "", "manager", 404,
     "not_found"},
    {"sales_of_unknown_state", "GET", "/api/v1/sales", "/api/v1/sales?state=paid", "", "viewer", 400, "bad_request"},
    {"sales_after_in_hex", "GET", "/api/v1/sales", "/api/v1/sales?after=0x10", "", "viewer", 400, "bad_request"},
    {"sales_from_without_a_zone", "GET", "/api/v1/sales", "/api/v1/sales?from=2026-12-08T10:00:00", "", "viewer", 400, "bad_request"},
    {"summary_to_a_day_the_month_lacks", "GET", "/api/v1/sales/summary", "/api/v1/sales/summary?to=2026-02-30T00:00:00Z", "", "viewer", 400,
     "bad_request"},
    {"lock_unknown_sale", "POST", "/api/v1/sales/{id}/lock", "/api/v1/sales/999999/lock", "", "pos1", 404, "not_found"},
    {"events_without_upgrade", "GET", "/api/v1/events", "/api/v1/events", "", "viewer", 400, "bad_request"},
    {"prepay_and_preset", "POST", "/api/v1/pumps/{n}/authorize", "/api/v1/pumps/1/authorize",
     R"({"preset": {"volume": 1}, "prepay": {"amount": 5}})", "pos1", 400, "bad_request"},
    {"mark_as_unknown", "POST", "/api/v1/sales/{id}/mark", "/api/v1/sales/1/mark", R"({"as": "lost"})", "manager", 400, "bad_request"},
    {"cancel_unknown_sale", "POST", "/api/v1/sales/{id}/cancel", "/api/v1/sales/999999/cancel", "", "pos1", 404, "not_found"},
    {"move_without_a_pump", "POST", "/api/v1/sales/{id}/move", "/api/v1/sales/1/move", "{}", "pos1", 400, "bad_request"},
    {"audit_from_without_a_zone", "GET", "/api/v1/audit", "/api/v1/audit?from=2026-12-08T10:00:00", "", "manager", 400, "bad_request"},
    {"target_not_utf8", "GET", "", "/api/v1/%ff%c0", "", "", 404, "not_found"},
    {"shift_closed_with_none_open", "POST", "/api/v1/shifts/current/close", "/api/v1/shifts/current/close", "", "pos1", 409,
     "no_shift_open", "", [] { Shared().Request("POST", "/api/v1/shifts/current/close"); }},
    {"shift_opened_twice", "POST", "/api/v1/shifts", "/api/v1/shifts", "", "pos1", 409, "shift_open", "",
     [] { Shared().Request("POST", "/api/v1/shifts"); }},
    {"shift_unknown", "GET", "/api/v1/shifts/{id}", "/api/v1/shifts/999999", "", "pos1", 404, "not_found"},
};

class ServiceBadInput : public ::testing::TestWithParam<BadInput> {};

using Headers = std::vector<std::pair<std::string, std::string>>;

std::string RawExchange(std::uint16_t port, const std::string& text);

// A HEAD is answered with the GET's status and length and nothing after its head.
void ExpectHead(const BadInput& b) {
    const auto get = Shared().Request("GET", b.target, "", b.token);
    const std::string auth = *b.token ? "Authorization: Bearer " + Station::Token(b.token) + "\r\n" : "";
    const auto head =
        RawExchange(Shared().port(), "HEAD " + b.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + auth + "Connection: close\r\n\r\n");
    EXPECT_EQ(head.rfind("HTTP/1.1 " + std::to_string(b.status) + " ", 0), 0u) << head;
    EXPECT_EQ(head.find("\r\n\r\n"), head.size() - 4) << head;
    EXPECT_NE(head.find("Content-Length: " + std::to_string(get.body.size()) + "\r\n"), std::string::npos) << head;
}

void ExpectRefused(const BadInput& b, const Headers& headers = {}) {
    if (b.prepare) b.prepare();
    if (std::string(b.method) == "HEAD") return ExpectHead(b);
    const auto reply = Shared().Request(b.method, b.target, b.body, b.token, headers);
    EXPECT_EQ(reply.status, b.status) << reply.body;
    EXPECT_EQ(reply.Json().value("error", ""), b.error) << reply.body;
    if (*b.allow) {
        EXPECT_EQ(reply.headers.count("Allow") ? reply.headers.at("Allow") : "", b.allow);
    }
    if (*b.route) {
        EXPECT_EQ(CheckResponse(b.method, b.route, reply.status, reply.Json()), "");
    }
}

TEST_P(ServiceBadInput, IsRefusedWithItsError) { ExpectRefused(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Station, ServiceBadInput, ::testing::ValuesIn(kBadInputs),
                         [](const auto& info) { return std::string(info.param.name); });

// The same with the headers a browser, or a careless client, sends.
struct BadHeaders {
    BadInput input;
    Headers headers;
};
void PrintTo(const BadHeaders& row, std::ostream* out) { *out << row.input.name; }

const BadHeaders kBadHeaders[] = {
    {{"scheme_in_lower_case", "GET", "/api/v1/forecourt", "/api/v1/forecourt", "", "", 200, ""},
     {{"Authorization", "bearer " + Station::Token("viewer")}}},
    {{"foreign_origin", "GET", "", "/api/v1/forecourt", "", "viewer", 403, "origin_refused"}, {{"Origin", "http://shop.example"}}},
    {{"configured_origin", "GET", "/api/v1/forecourt", "/api/v1/forecourt", "", "viewer", 200, ""}, {{"Origin", "https://till.example"}}},
    {{"rebound_host_name", "GET", "", "/api/v1/forecourt", "", "viewer", 421, "host_refused"}, {{"Host", "shop.example:8050"}}},
    {{"body_as_plain_text", "POST", "", "/api/v1/pumps/1/authorize", R"({"nozzle": 9})", "pos1", 415, "unsupported_media_type"},
     {{"Content-Type", "text/plain"}}},
    {{"events_from_foreign_origin", "GET", "/api/v1/events", "/api/v1/events", "", "viewer", 403, "origin_refused"},
     {{"Origin", "http://shop.example"},
      {"Upgrade", "websocket"},
      {"Connection", "Upgrade"},
      {"Sec-WebSocket-Key", "dGhlIHNhbXBsZSBub25jZQ=="},
      {"Sec-WebSocket-Version", "13"}}},
    {{"oversized_head", "GET", "", "/api/v1/forecourt", "", "viewer", 431, "header_too_large"}, {{"X-Pad", std::string(20000, 'a')}}},
};

class ServiceBadHeaders : public ::testing::TestWithParam<BadHeaders> {};

TEST_P(ServiceBadHeaders, AreAnsweredWithTheirError) { ExpectRefused(GetParam().input, GetParam().headers); }

INSTANTIATE_TEST_SUITE_P(Station, ServiceBadHeaders, ::testing::ValuesIn(kBadHeaders),
                         [](const auto& info) { return std::string(info.param.input.name); });

// A client that never reads is dropped once its backlog is full; the service goes on.
// GET /pumps as a polling client and a browser take it: a tag to ask with, gzip for who takes it.
std::string Inflate(const std::string& gzip) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, 15 + 16), Z_OK);
    std::string out(1 << 20, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
    z.avail_in = static_cast<uInt>(gzip.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

TEST(ServiceViews, AListIsSentAsAskedForAndNotAgainWhileUnchanged) {
    for (int pump = 1; pump <= 8; ++pump) ASSERT_TRUE(Shared().WaitState(pump, "idle"));
    const auto plain = Shared().Request("GET", "/api/v1/pumps", "", "viewer");
    ASSERT_EQ(plain.status, 200);
    const std::string tag = plain.headers.at("ETag");
    struct Row {
        const char* name;
        Headers headers;
        int status;
        const char* encoding;  // of the body sent back; "" for none
    };
    const Row rows[] = {
        {"gzip_taken", {{"Accept-Encoding", "br, gzip"}}, 200, "gzip"},
        {"gzip_refused_by_q_0", {{"Accept-Encoding", "*, gzip;q=0"}}, 200, ""},
        {"unchanged_since_the_tag", {{"If-None-Match", "\"stale\", " + tag}}, 304, ""},
        {"a_stale_tag", {{"If-None-Match", "\"stale\""}}, 200, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto reply = Shared().Request("GET", "/api/v1/pumps", "", "viewer", row.headers);
        ASSERT_EQ(reply.status, row.status);
        const auto encoding = reply.headers.find("Content-Encoding");
        EXPECT_EQ(encoding == reply.headers.end() ? "" : encoding->second, row.encoding);
        EXPECT_EQ(row.status == 304 ? "" : plain.body, *row.encoding ? Inflate(reply.body) : reply.body);
    }
}

TEST(ServiceSlowClient, IsDroppedNotBufferedWithoutBound) {
    auto metric = [] {
        const auto text = Shared().Request("GET", "/metrics").body;
        const std::string name = "\ndorv_event_clients_dropped_total ";
        return std::stoi(text.substr(text.find(name) + name.size()));
    };
    const int dropped = metric();
    auto sleeper = SilentEventClient(Shared().port(), Station::Token("viewer"));
    // With every nozzle lifted each price change also changes every pump: many events a change.
    for (int pump = 1; pump <= 8; ++pump) Lift(pump);
    for (int i = 0; i < 3000 && metric() == dropped; ++i)
        Shared().Request("PUT", "/api/v1/prices", R"({"grades": [{"grade": "95", "price": )" + std::string(i % 2 ? "1.85" : "1.86") + "}]}",
                         "manager");
    for (int pump = 1; pump <= 8; ++pump) Hang(pump);
    EXPECT_GT(metric(), dropped);
    EXPECT_EQ(Shared().Request("GET", "/healthz").status, 200);
    Shared().Request("PUT", "/api/v1/prices", R"({"grades": [{"grade": "D", "price": 1.72}]})", "manager");
}

// What event clients send is dropped: large messages pin none of the service's memory.
TEST(ServiceEventClients, LargeMessagesPinNoMemory) {
    auto rss_kb = [] {
        std::ifstream status("/proc/" + std::to_string(Shared().pid()) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
        return 0L;
    };
    const long before = rss_kb();
    std::vector<std::unique_ptr<EventClient>> clients;
    for (int i = 0; i < 20; ++i) {
        clients.push_back(std::make_unique<EventClient>(Shared().port(), "/api/v1/events?token=" + Station::Token("viewer")));
        try {
            clients.back()->Send(std::string(8 << 20, 'x'));
        } catch (const std::exception&) {  // the service may close the stream before it is all sent
        }
    }
    EXPECT_LT(rss_kb() - before, 64 * 1024);
    EXPECT_EQ(Shared().Request("GET", "/healthz").status, 200);
}

// A write the database refuses (here another process holds its write lock past the wait) is
// answered 503 store_failed, and the service goes on.
// Nozzle n of the pump at column c sits at address c + 4 (n - 1) when the driver and the station
// file both say 4: each sale lands on the nozzle the emulator saw deliver it, at its grade's price.
// A driver whose own setting says otherwise keeps the service from starting.
TEST(ServicePistStep, EachSaleIsOnTheNozzleThatDeliveredIt) {
    Station station(
        StationOptions{.lines = 1, .flow = 10.0, .extra_toml = "", .tokens = false, .tls = false, .connections = 0, .pist_step = 4});
    auto totals = [&](int address) {
        const std::string answer = station.Emulate(1, "totals " + std::to_string(address));
        return std::stoll(answer.substr(3, answer.find(' ', 3) - 3));
    };
    for (const auto& [pump, nozzle, grade] : {std::tuple{2, 2, "D"}, std::tuple{3, 1, "95"}}) {
        SCOPED_TRACE("pump " + std::to_string(pump) + " nozzle " + std::to_string(nozzle));
        const int address = pump + 4 * (nozzle - 1);
        const auto before = totals(address);
        const std::string emulator = "/api/v1/emulator/pumps/" + std::to_string(pump);
        const std::string nozzle_body = "{\"nozzle\": " + std::to_string(nozzle) + "}";
        ASSERT_EQ(station.Request("POST", emulator + "/lift", nozzle_body).status, 200);
        const auto authorized = station.Request("POST", PumpPath(pump, "/authorize"),
                                                nozzle_body.substr(0, nozzle_body.size() - 1) + R"(, "preset": {"volume": 1.25}})");
        ASSERT_EQ(authorized.status, 200) << authorized.body;
        ASSERT_TRUE(station.WaitState(pump, "finished")) << station.Get(PumpPath(pump)).dump();
        const json sale = station.Get("/api/v1/sales/" + authorized.Json()["sale"].dump());
        EXPECT_EQ(sale["grade"], grade);
        EXPECT_EQ(totals(address) - before, std::llround(sale["volume"].get<double>() * 100));
        EXPECT_DOUBLE_EQ(sale["amount"].get<double>(), Money(sale["price"].get<double>(), sale["volume"].get<double>()));
        ASSERT_EQ(station.Request("POST", emulator + "/hang", nozzle_body).status, 200);
    }
    station.KillService();
    std::ofstream(station.DriverSettingsFile()) << "[Dorv]\nPistStep=1\n";
    const auto [code, said] = station.RunToExit();
    EXPECT_EQ(code, 2) << said;
    EXPECT_NE(said.find("pist_step is 4"), std::string::npos) << said;
    EXPECT_NE(said.find("PistStep=1"), std::string::npos) << said;
}

// Sequence numbers given before a crash are never given again, and a client reconnecting after
// one hears either the whole replay or that it must read the state again. A second service on
// the same database refuses to start, naming the one that holds it.
TEST(ServiceRestart, NoEventNumberIsGivenTwiceAndOneServiceHoldsTheDatabase) {
    Station station(StationOptions{.lines = 1, .flow = 10.0, .extra_toml = "", .tokens = false});
    const auto [code, said] = station.RunToExit();
    EXPECT_EQ(code, 2) << said;
    EXPECT_NE(said.find("in use by another dorv-forecourt (pid "), std::string::npos) << said;
    std::int64_t last = 0;
    {
        EventClient events(station.port(), "/api/v1/events");
        for (const char* price : {"1.91", "1.92", "1.93"})
            station.Request("PUT", "/api/v1/prices", std::string(R"({"grades": [{"grade": "95", "price": )") + price + "}]}");
        const auto seen = events.Until([](const json& e) { return e["type"] == "prices" && e["data"]["grades"][0]["price"] == 1.93; });
        ASSERT_TRUE(seen);
        last = (*seen)["seq"];
        station.KillService();  // most likely before the journal's next batch reached the disk
    }
    station.StartService();
    EventClient live(station.port(), "/api/v1/events");
    EventClient replay(station.port(), "/api/v1/events?after=" + std::to_string(last));
    station.Request("PUT", "/api/v1/prices", R"({"grades": [{"grade": "95", "price": 1.85}]})");
    const auto next = live.Until([](const json& e) { return e["type"] == "prices"; });
    ASSERT_TRUE(next);
    EXPECT_GT((*next)["seq"].get<std::int64_t>(), last);
    const auto first = replay.Next();
    ASSERT_TRUE(first);
    if ((*first)["type"] != "resync") {
        EXPECT_EQ((*first)["seq"], last + 1) << first->dump();
    }
}

TEST(ServiceStore, AWriteTheDatabaseRefusesIsAnswered503AndTheServiceGoesOn) {
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(Shared().database().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    const std::string body = R"({"grades": [{"grade": "95", "price": 1.85}]})";
    const auto refused = Call("PUT", "/api/v1/prices", "/api/v1/prices", body, "manager");
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(refused.status, 503) << refused.body;
    EXPECT_EQ(refused.Json()["error"], "store_failed");
    EXPECT_EQ(Call("PUT", "/api/v1/prices", "/api/v1/prices", body, "manager").status, 200);
}

// A backup taken while a pump fuels is one whole file holding every sale stored before it,
// the running filling's open one too.
TEST(ServiceStore, ABackupTakenDuringAFillingHoldsEverySaleAndPassesTheFullCheck) {
    Lift(8);
    const auto authorized = Authorize(8, "{\"volume\": 50}");
    ASSERT_EQ(authorized.status, 200) << authorized.body;
    const auto open = authorized.Json()["sale"].get<std::int64_t>();
    ASSERT_TRUE(Shared().WaitState(8, "fuelling"));
    const json sales = Shared().Get("/api/v1/sales?limit=1000")["sales"];
    const std::string copy = Shared().database() + ".copy";
    EXPECT_NE(Process({FORECOURT_PATH, "backup", "--database", Shared().database(), "--to", copy}).ReadLine().find("integrity check ok"),
              std::string::npos);
    EXPECT_EQ(Shared().Get(PumpPath(8))["state"], "fuelling") << "the backup came after the filling's end";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(copy.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    const auto value = [db](const std::string& sql) {
        std::string text;
        const auto keep = [](void* out, int, char** row, char**) {
            *static_cast<std::string*>(out) = row[0] ? row[0] : "";
            return 0;
        };
        sqlite3_exec(db, sql.c_str(), keep, &text, nullptr);
        return text;
    };
    EXPECT_EQ(value("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(value("SELECT state FROM sales WHERE id = " + std::to_string(open)), "open");
    for (const auto& sale : sales) EXPECT_EQ(value("SELECT state FROM sales WHERE id = " + sale["id"].dump()), sale["state"]);
    sqlite3_close(db);
    std::filesystem::remove(copy);
    ASSERT_TRUE(Shared().WaitState(8, "finished"));
    Hang(8);
    Settle(8, open);
}

// While another process holds the write lock and changes wait on it (more of them than the
// service has web threads), reads that need no write are answered before the waiting writes.
TEST(ServiceStore, AHeldWriteLockDelaysNoRead) {
    const char* reads[] = {"/api/v1/sales", "/api/v1/sales/summary", "/api/v1/pumps", "/healthz"};
    for (const char* target : reads) {
        sqlite3* holder = nullptr;
        ASSERT_EQ(sqlite3_open(Shared().database().c_str(), &holder), SQLITE_OK);
        sqlite3_busy_timeout(holder, 5000);  // the service's own writes come and go
        ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
        std::atomic<bool> written{false};
        std::vector<std::thread> writes;
        for (const char* change : {"PUT /api/v1/prices", "POST /api/v1/sales/999999/lock", "POST /api/v1/sales/999999/clear"})
            writes.emplace_back([&, change] {
                const std::string_view c(change);
                const auto space = c.find(' ');
                Shared().Request(std::string(c.substr(0, space)), std::string(c.substr(space + 1)),
                                 R"({"grades": [{"grade": "95", "price": 1.85}]})", "manager");
                written = true;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the writes are waiting now

        const auto read = Shared().Request("GET", target, "", "manager");
        const bool before_write = !written;
        sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
        for (auto& w : writes) w.join();
        EXPECT_EQ(read.status, 200) << target << ": " << read.body;
        EXPECT_TRUE(before_write) << target << " waited for the write";
    }
}

// What a client that connects and sends `text` reads back before the service closes (at most
// 4 KiB, or what came in 5 s).
std::string RawExchange(std::uint16_t port, const std::string& text) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    std::string got;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        (text.empty() || ::send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size()))) {
        char buffer[4096];
        for (ssize_t n; got.size() < sizeof buffer && (n = ::recv(fd, buffer, sizeof buffer - got.size(), 0)) > 0;)
            got.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return got;
}

TEST(ServiceBadInput, AMalformedRequestIsAnswered400) {
    const auto reply = RawExchange(Shared().port(), "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nno colon\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 400", 0), 0u) << reply;
}

// A till's request finds a place whatever holds the connections.
struct Crowd {
    const char* name;
    std::function<void(Station&, std::vector<std::shared_ptr<void>>&)> gather;
};
void PrintTo(const Crowd& row, std::ostream* out) { *out << row.name; }

std::shared_ptr<void> RawClient(std::uint16_t port, const std::string& text) {
    auto client = std::make_shared<SilentClient>();
    client->fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(client->fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) ::send(client->fd, text.data(), text.size(), MSG_NOSIGNAL);
    return client;
}

constexpr int kCrowdLimit = 8;
const Crowd kCrowds[] = {
    {"slow_half_sent_requests",
     [](Station& s, auto& held) {
         for (int i = 0; i < 3 * kCrowdLimit; ++i) held.push_back(RawClient(s.port(), "GET /healthz HTTP/1.1\r\nHost: 127"));
     }},
    {"silent_connections",
     [](Station& s, auto& held) {
         for (int i = 0; i < 3 * kCrowdLimit; ++i) held.push_back(RawClient(s.port(), ""));
     }},
    {"event_clients",
     [](Station& s, auto& held) {
         for (int i = 0; i < 2 * kCrowdLimit; ++i)
             held.push_back(std::make_shared<EventClient>(s.port(), "/api/v1/events?token=" + Station::Token("viewer")));
     }},
};

class ServiceCrowd : public ::testing::TestWithParam<Crowd> {};

TEST_P(ServiceCrowd, LeavesATillAPlace) {
    static Station station([] {
        StationOptions options;
        options.lines = 1;
        options.connections = kCrowdLimit;
        return options;
    }());
    std::vector<std::shared_ptr<void>> held;
    GetParam().gather(station, held);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto reply = station.Request("GET", "/api/v1/forecourt", "", "pos1");
    EXPECT_EQ(reply.status, 200) << reply.body;
}

INSTANTIATE_TEST_SUITE_P(Station, ServiceCrowd, ::testing::ValuesIn(kCrowds),
                         [](const auto& info) { return std::string(info.param.name); });

// A TLS client that asked once and keeps its connection: the service counts it until it goes.
struct HeldTlsClient {
    boost::asio::io_context io;
    boost::asio::ssl::context tls{boost::asio::ssl::context::tls_client};
    std::optional<boost::beast::ssl_stream<boost::beast::tcp_stream>> stream;

    // False when the service would not have it (over the limit).
    bool Connect(const Station& station) try {
        tls.load_verify_file(station.certificate());
        tls.set_verify_mode(boost::asio::ssl::verify_peer);
        stream.emplace(io, tls);
        boost::beast::get_lowest_layer(*stream).connect({boost::asio::ip::make_address("127.0.0.1"), station.port()});
        stream->handshake(boost::asio::ssl::stream_base::client);
        boost::beast::http::request<boost::beast::http::empty_body> req{boost::beast::http::verb::get, "/healthz", 11};
        req.set(boost::beast::http::field::host, "127.0.0.1");
        boost::beast::http::write(*stream, req);
        boost::beast::flat_buffer buffer;
        boost::beast::http::response<boost::beast::http::string_body> res;
        boost::beast::http::read(*stream, buffer, res);
        return res.result_int() == 200 && res.keep_alive();
    } catch (const std::exception&) {
        return false;
    }
};

// With a certificate the API is served over TLS only, and connections that only wait, TLS or
// not, give their place to a new one.
TEST(ServiceLimits, TlsOnlyAndWaitingConnectionsGiveWay) {
    constexpr int kLimit = 4;
    StationOptions options;
    options.lines = 1;
    options.tls = true;
    options.connections = kLimit;
    Station station(options);
    EXPECT_EQ(station.Request("GET", "/healthz").status, 200);
    EXPECT_EQ(RawExchange(station.port(), "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").rfind("HTTP/", 0), std::string::npos);

    // The connections of earlier requests may still be winding down: hold until kLimit are in.
    std::vector<std::unique_ptr<HeldTlsClient>> held;
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         static_cast<int>(held.size()) < kLimit && std::chrono::steady_clock::now() < deadline;) {
        auto client = std::make_unique<HeldTlsClient>();
        if (client->Connect(station))
            held.push_back(std::move(client));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(static_cast<int>(held.size()), kLimit);
    std::vector<std::shared_ptr<void>> silent;
    for (int i = 0; i < 2 * kLimit; ++i) silent.push_back(RawClient(station.port(), ""));
    EXPECT_EQ(station.Request("GET", "/api/v1/forecourt").status, 200);

    held.clear();
    bool served = false;
    for (int i = 0; i < 500 && !(served = HeldTlsClient().Connect(station)); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(served);
}

}  // namespace
}  // namespace forecourt::test
