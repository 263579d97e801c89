#include "demo.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <thread>

#include "dorv5000/exceptions.h"
#include "driver/tvm30.h"
#include "line.h"
#include "platform/cp1251.h"

namespace dorv::tools {
namespace {

constexpr int kColumn = 1;
constexpr int kNozzle = 1;
constexpr double kPrice = 45.50;
constexpr double kMoney = 500.00;

std::string Fmt(const char* format, double a, double b = 0) {
    char buf[128];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

std::string Code(std::uint8_t code) {
    char buf[48];
    const char* meaning = code == 0xC0                  ? "idle"
                          : code == 0xC8                ? "ready"
                          : code >= 0xD0 && code < 0xD8 ? "filling"
                          : code == 0xD8                ? "filling ended, read and released"
                          : code > 0xD8 && code < 0xE0  ? "pump started"
                          : code > 0xE0 && code < 0xE8  ? "nozzle lifted"
                                                        : "other";
    std::snprintf(buf, sizeof buf, "0x%02X %s", code, meaning);
    return buf;
}

}  // namespace

int RunDemo(SessionOptions options, std::ostream& out) {
    options.emulator = true;
    options.port.clear();
    options.tcp.clear();
    Session session(options);
    emu::Line& emulator = *session.Emulator();
    const int line = options.line;
    const auto l8 = static_cast<std::uint8_t>(line);

    TVM30 driver(0, &session.Link());
    driver.ApplySettings(DriverSettings{});  // the factory defaults, whatever cnf.INI holds
    out << "Dorv 5000 demo: one filling on the " << session.Description() << "\n";
    const DriverInfo info = driver.GetDriverInfo();
    out << "driver            " << platform::Cp1251ToUtf8(std::string(info.text, info.length)) << "\n";
    out << "setup line " << line << "      ConfigureLine(42, 4800) -> " << driver.SetupLine(l8) << "\n";

    double volumeBefore = 0, moneyBefore = 0;
    driver.ReadCounters(line, kColumn, kNozzle, &volumeBefore, &moneyBefore, 0, 0);
    out << "counters before   " << Fmt("%.2f l   money %.2f", volumeBefore, moneyBefore) << "\n";

    driver.SetPrice(line, kColumn, kNozzle, 0, kPrice);
    out << "price             " << Fmt("%.2f per litre", kPrice) << "   [line status " << int(driver.GetLineStatus(l8)) << "]\n";
    driver.PresetAmount(line, kColumn, kNozzle, 0, kMoney);
    out << "preset by money   " << Fmt("%.2f -> %.2f l ordered", kMoney, driver.OrderedVolume(line, kColumn)) << "   [line status "
        << int(driver.GetLineStatus(l8)) << "]\n";

    emulator.Lift(kColumn);
    out << "customer lifts    nozzle " << kNozzle << ": " << Code(driver.GetStatus(l8, kColumn, 1).bytes[0]) << "\n";
    driver.AuthorizeNozzle(line, kColumn, kNozzle, 0);
    out << "authorize         nozzle " << kNozzle << "   [line status " << int(driver.GetLineStatus(l8)) << "]\n";

    // Poll as a host does: while the pump runs, read the running filling. The poll itself
    // reads the final filling and releases the nozzle when the controller reports the end.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    auto nextShown = std::chrono::steady_clock::now();
    bool delivering = false;
    std::uint8_t code = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        code = driver.GetStatus(l8, kColumn, 1).bytes[0];
        if (driver.GetLineStatus(l8) != 1) {
            out << "the emulator did not answer the poll (line status " << int(driver.GetLineStatus(l8)) << ")\n";
            return 1;
        }
        if (code >= 0xD0 && code <= 0xDF) {
            delivering = true;
            if (code != 0xD8) {
                double litres = 0, money = 0;
                driver.GetFilling(line, kColumn, &litres, &money);
                if (std::chrono::steady_clock::now() >= nextShown) {
                    out << "filling           " << Fmt("%6.2f l  %8.2f", litres, money) << "   " << Code(code) << "\n";
                    nextShown += std::chrono::milliseconds(500);
                }
            }
        } else if (delivering) {
            break;  // released: the nozzle is back to lifted or idle
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!delivering || (code >= 0xD0 && code <= 0xDF)) {
        out << "the filling did not finish in time (last status " << Code(code) << ")\n";
        return 1;
    }
    double litres = 0, money = 0;
    driver.GetFilling(line, kColumn, &litres, &money);
    out << "end of filling    " << Fmt("%6.2f l  %8.2f", litres, money) << "   read and released by the poll; now " << Code(code) << "\n";
    emulator.Hang(kColumn);
    out << "customer hangs up " << Code(driver.GetStatus(l8, kColumn, 1).bytes[0]) << "\n";

    double volumeAfter = 0, moneyAfter = 0;
    driver.ReadCounters(line, kColumn, kNozzle, &volumeAfter, &moneyAfter, 0, 0);
    out << "counters after    " << Fmt("%.2f l   money %.2f", volumeAfter, moneyAfter) << "\n";
    const double grew = volumeAfter - volumeBefore;
    const bool ok = std::fabs(grew - litres) < 0.005 && std::fabs(litres - driver.OrderedVolume(line, kColumn)) < 0.005;
    out << (ok ? "OK: " : "MISMATCH: ") << Fmt("delivered %.2f l of %.2f ordered; ", litres, driver.OrderedVolume(line, kColumn))
        << Fmt("totalizer grew by %.2f l\n", grew);
    return ok ? 0 : 1;
}

}  // namespace dorv::tools
