// A small Windows host for trying Dorv5000.dll the way a station's host program uses it:
// LoadLibraryA, GetDI30 looked up by name, and one whole filling driven through the slots over
// a HostLink that answers like a controller on line 1 from a fixed script. Every request frame
// is checked here with this program's own reading of the frame format, every reply is built
// here, and each step is printed. Exits with 1 on the first step that does not go as scripted,
// with 2 when the library cannot be loaded.
//
// Usage: win_host.exe [path of Dorv5000.dll]   (default: Dorv5000.dll beside the program)
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include "dorv5000/driver.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Line 1, column 1, nozzle 1 with the default nozzle step: controller address 1, which is
// group 2 and address byte 0x21.
constexpr std::uint8_t kLine = 1;
constexpr std::uint8_t kGroup = 0x02;
constexpr std::uint8_t kAddress = 0x21;

Bytes Request(char command, const std::string& data = "") {
    Bytes r{kGroup, kAddress, static_cast<std::uint8_t>(command)};
    r.insert(r.end(), data.begin(), data.end());
    return r;
}

const Bytes kAck{0x06};

// A data reply: 02, each byte and its complement, 03 03, check byte.
Bytes DataReply(const std::string& data) {
    Bytes r{0x02};
    std::uint8_t check = 0x03;
    for (char c : data) {
        const auto b = static_cast<std::uint8_t>(c);
        r.push_back(b);
        r.push_back(static_cast<std::uint8_t>(b ^ 0x7F));
        check ^= b;
    }
    r.insert(r.end(), {0x03, 0x03, static_cast<std::uint8_t>(check | 0x40)});
    return r;
}

std::string Hex(const Bytes& bytes) {
    std::string s;
    char hex[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X ", b);
        s += hex;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

// The request record inside a request frame, or nothing when the frame is malformed:
// 7F, group, then each byte with its complement, 03 03, and the check byte over all but the
// group.
bool RecordOf(const std::uint8_t* frame, std::size_t length, Bytes& record) {
    if (length < 5 || length % 2 == 0 || frame[0] != 0x7F) return false;
    const std::size_t n = (length - 3) / 2;
    record.assign(1, frame[1]);
    std::uint8_t check = 0x03;
    for (std::size_t i = 1; i < n; ++i) {
        if ((frame[2 * i] ^ frame[2 * i + 1]) != 0x7F) return false;
        record.push_back(frame[2 * i]);
        check ^= frame[2 * i];
    }
    return frame[2 * n] == 0x03 && frame[2 * n + 1] == 0x03 && frame[2 * n + 2] == (check | 0x40);
}

struct Exchange {
    Bytes request;
    Bytes reply;
};

// The controller side of line 1: each transaction must carry the next scripted request and
// gets its reply, checked by the validator that the library installed, as a real link does.
class ScriptedLink : public dorv::HostLink {
public:
    std::deque<Exchange> script;
    std::vector<std::int32_t> configured;  // line, format, baud of each ConfigureLine
    dorv::LineConfigurator configurator = nullptr;
    void* configuratorContext = nullptr;
    int faults = 0;

    std::int32_t DORV_CALL GetLineError(std::uint8_t) override { return 9; }
    void DORV_CALL ReportLineCode(std::uint8_t, std::int32_t code) override { code_ = code; }
    void DORV_CALL ReportLineState(std::uint8_t, std::int32_t state) override { state_ = static_cast<std::uint8_t>(state); }
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t) override { return state_; }

    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t, std::uint8_t) override {
        state_ = 2;  // silent until a reply is accepted
        Bytes record;
        if (line != kLine || !RecordOf(frame, frameLength, record)) {
            Fault("malformed frame on line " + std::to_string(line) + ": " + Hex(Bytes(frame, frame + frameLength)));
            return 0;
        }
        if (script.empty() || script.front().request != record) {
            Fault("sent " + Hex(record) + ", expected " + (script.empty() ? std::string("nothing") : Hex(script.front().request)));
            return 0;
        }
        const Bytes answer = script.front().reply;
        script.pop_front();
        std::printf("    line %u: %-26s <- %s\n", line, Hex(record).c_str(), Hex(answer).c_str());
        std::uint8_t length = static_cast<std::uint8_t>(answer.size());
        std::copy(answer.begin(), answer.end(), reply);
        if (!validator_ || !validator_(validatorContext_, line, reply, 0, &length, 0) || code_ != 0)
            Fault("the library rejected the reply " + Hex(answer));
        return 0;
    }
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) override {
        configured.insert(configured.end(), {line, format, baud});
        return 0;
    }
    void DORV_CALL SetReplyValidator(std::uint8_t, dorv::ReplyValidator v, void* context) override {
        validator_ = v;
        validatorContext_ = context;
    }
    void DORV_CALL SetLineConfigurator(std::uint8_t, dorv::LineConfigurator c, void* context) override {
        configurator = c;
        configuratorContext = context;
    }

    void Fault(const std::string& what) {
        std::printf("    MISMATCH: %s\n", what.c_str());
        ++faults;
    }

private:
    std::uint8_t state_ = 0;
    std::int32_t code_ = -1;
    dorv::ReplyValidator validator_ = nullptr;
    void* validatorContext_ = nullptr;
};

class Run {
public:
    explicit Run(ScriptedLink& link) : link_(link) {}

    // Queues the exchanges a step must make, runs it, and checks that all of them were made.
    template <class Step>
    void Do(const char* title, std::vector<Exchange> exchanges, Step step) {
        std::printf("%s\n", title);
        link_.script.assign(exchanges.begin(), exchanges.end());
        step();
        if (!link_.script.empty()) link_.Fault(std::to_string(link_.script.size()) + " scripted exchange(s) not made");
    }

    void Expect(const char* what, double got, double expected) {
        const bool ok = std::fabs(got - expected) < 1e-6;
        std::printf("    %s = %.2f%s\n", what, got, ok ? "" : " (MISMATCH)");
        if (!ok) link_.Fault(std::string(what) + " expected " + std::to_string(expected));
    }
    void ExpectCode(const char* what, unsigned got, unsigned expected) {
        const bool ok = got == expected;
        std::printf("    %s = 0x%02X%s\n", what, got, ok ? "" : " (MISMATCH)");
        if (!ok) link_.Fault(std::string(what) + " expected " + std::to_string(expected));
    }

private:
    ScriptedLink& link_;
};

// Keeps the driver's settings file away from the machine's own: a fresh folder for cnf.INI.
std::string PrivateWindowsDirectory() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    const std::string dir = std::string(temp) + "dorv-win-host-" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    _putenv_s("DORV_WINDIR", dir.c_str());
    return dir;
}

}  // namespace

int main(int argc, char** argv) {
    const char* libraryPath = argc > 1 ? argv[1] : "Dorv5000.dll";
    HMODULE library = LoadLibraryA(libraryPath);
    if (!library) {
        std::printf("cannot load %s: Windows error %lu\n", libraryPath, GetLastError());
        return 2;
    }
    using GetDI30Fn = dorv::DI30*(DORV_CALL*)(std::int32_t, std::int32_t, dorv::HostLink*);
    auto create = reinterpret_cast<GetDI30Fn>(reinterpret_cast<void*>(GetProcAddress(library, "GetDI30")));
    if (!create) {
        std::printf("%s exports no GetDI30\n", libraryPath);
        return 2;
    }
    const std::string windowsDirectory = PrivateWindowsDirectory();

    ScriptedLink link;
    Run run(link);
    dorv::DI30* driver = create(0, 0, &link);
    std::printf("GetDI30(0, 0, link) -> driver %p\n", static_cast<void*>(driver));
    if (!driver) return 1;

    const dorv::DriverInfo info = driver->GetDriverInfo();
    std::printf("GetDriverInfo -> length %u, version %.5s\n", info.length, info.text);
    if (info.length != 32 || std::string(info.text, 6) != "v2.41#") link.Fault("driver info");

    run.Do("SetupLine(1)", {}, [&] {
        const std::int32_t result = driver->SetupLine(kLine);
        // The host applies the line settings again through the installed callback.
        const std::int32_t again = link.configurator ? link.configurator(link.configuratorContext, kLine) : -1;
        std::printf("    ConfigureLine calls: %zu, results %d and %d\n", link.configured.size() / 3, result, again);
        if (link.configured != std::vector<std::int32_t>{1, 42, 4800, 1, 42, 4800} || result != 0 || again != 0)
            link.Fault("line settings");
    });
    run.Do("SetPrice(1, 1, 1, 45.50)", {{Request('Q', "4550"), kAck}}, [&] { driver->SetPrice(kLine, 1, 1, 0.0, 45.50); });
    // A money dose becomes litres: trunc((500.00 + 0.00499) * 100 / 45.50) / 100 = 10.98.
    run.Do("PresetAmount(1, 1, 1, 500.00)", {{Request('T', "01098"), kAck}}, [&] { driver->PresetAmount(kLine, 1, 1, 0, 500.00); });
    run.Do("AuthorizeNozzle(1, 1, 1, 0)", {{Request('8'), kAck}, {Request('U'), kAck}, {Request('2'), kAck}},
           [&] { driver->AuthorizeNozzle(kLine, 1, 1, 0); });
    run.Do("GetStatus(1, 1, 1): nozzle lifted, nothing delivered yet", {{Request('1'), DataReply("4")}},
           [&] { run.ExpectCode("status", driver->GetStatus(kLine, 1, 1).bytes[0], 0xC8); });
    run.Do("GetFillingVolume(1, 1)", {{Request('4'), DataReply("000120")}}, [&] {
        double money = -1;
        run.Expect("litres", driver->GetFillingVolume(kLine, 1, &money), 1.20);
        run.Expect("money", money, 54.60);
    });
    run.Do("GetStatus(1, 1, 1): delivering", {{Request('1'), DataReply("40")}},
           [&] { run.ExpectCode("status", driver->GetStatus(kLine, 1, 1).bytes[0], 0xD1); });
    // The controller reports the end: the driver reads the filling (type query, then the
    // reading) and releases the nozzle by itself.
    const Exchange type{Request('7'), DataReply("A")};
    const Exchange filling{Request('5'), DataReply("001050047775")};
    run.Do("GetStatus(1, 1, 1): filling ended", {{Request('1'), DataReply("41")}, type, filling, {Request('8'), kAck}}, [&] {
        const dorv::StatusRecord r = driver->GetStatus(kLine, 1, 1);
        run.ExpectCode("status", r.bytes[0], 0xD8);
        run.ExpectCode("nozzle word", r.bytes[2], 0xD8);
    });
    run.Do("GetFilling(1, 1)", {type, filling}, [&] {
        double litres = -1, money = -1;
        driver->GetFilling(kLine, 1, &litres, &money);
        run.Expect("litres", litres, 10.50);
        run.Expect("money", money, 477.75);
    });
    run.Do("ReadCounters(1, 1, 1)", {{Request('6'), DataReply("0012345600567890")}}, [&] {
        double first = -1, second = -1;
        driver->ReadCounters(kLine, 1, 1, &first, &second, 0, 0);
        run.Expect("litres counter", first, 1234.56);
        run.Expect("money counter", second, 567.89);
    });
    run.ExpectCode("GetLineStatus(1)", driver->GetLineStatus(kLine), 1);

    delete driver;
    FreeLibrary(library);
    RemoveDirectoryA(windowsDirectory.c_str());
    std::printf("%s\n", link.faults == 0 ? "filling completed as scripted" : "filling did NOT go as scripted");
    return link.faults == 0 ? 0 : 1;
}
