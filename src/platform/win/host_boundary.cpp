// The library's entry on Windows: GetDI30 hands the host a driver object whose slots never let a
// C++ exception out.
//
// The library carries its own copy of the C++ run-time (nothing beyond the system's DLLs is
// needed on a station), and with it its own unwinder: a C++ exception leaving a slot cannot be
// unwound through the host's frames, whatever language the host is written in, and the run-time
// ends the host's process. So every slot catches what the driver raises and raises it again as
// a Windows structured exception, which any host's try/except (Delphi), __try/__except or
// catch(...) under /EHa (C and C++) can catch:
//
//   code                     kDriverFailureCode (0xE0445256)
//   ExceptionInformation[0]  1 the caller's fault (dorv::Exception), 2 the line's (ESerialIO),
//                            3 anything else
//   ExceptionInformation[1]  the message, NUL-terminated CP1251 text, valid until the next
//                            failure on the same thread
//   ExceptionInformation[2]  the message's length in bytes
//
// The structured exception is raised only after the C++ handler has finished, so every
// destructor of the driver's frames has run and nothing is left to unwind but plain frames.
#include <windows.h>

#include <exception>
#include <string>
#include <utility>

#include "dorv5000/driver.h"
#include "driver/tvm30.h"
#include "platform/cp1251.h"
#include "platform/win/host_boundary.h"

namespace dorv::win {
namespace {

// The message of the last failure on this thread; the host reads it through the exception.
thread_local std::string t_message;

// Nothing with a destructor may be alive in the caller's frame: the host's handler unwinds past
// it without running any.
[[noreturn]] void RaiseToHost(FailureKind kind) {
    const ULONG_PTR arguments[3] = {static_cast<ULONG_PTR>(kind),
                                    reinterpret_cast<ULONG_PTR>(t_message.c_str()),
                                    static_cast<ULONG_PTR>(t_message.size())};
    RaiseException(kDriverFailureCode, EXCEPTION_NONCONTINUABLE, 3, arguments);
    std::terminate();  // not reached: a non-continuable exception never returns
}

// Runs `call`; a C++ exception becomes a structured exception once its handler is done.
template <class Call>
auto Guarded(Call&& call) -> decltype(call()) {
    FailureKind kind = FailureKind::Other;
    try {
        return std::forward<Call>(call)();
    } catch (const ESerialIO& e) {
        kind = FailureKind::Line;
        t_message = platform::Utf8ToCp1251(e.what());
    } catch (const Exception& e) {
        kind = FailureKind::Caller;
        t_message = platform::Utf8ToCp1251(e.what());
    } catch (const std::exception& e) {
        t_message = platform::Utf8ToCp1251(e.what());
    } catch (...) {
        t_message = "unknown failure";
    }
    RaiseToHost(kind);
}

// The object the host holds: the driver itself, each slot behind the guard. Slots that call
// other slots do so inside the driver, through the driver's own table.
class GuardedDriver final : public DI30 {
public:
    GuardedDriver(std::int32_t flags, HostLink* link) : driver_(flags, link) {}

    void DORV_CALL Abstract0() override {}
    DriverInfo DORV_CALL GetDriverInfo() override {
        return Guarded([&] { return driver_.GetDriverInfo(); });
    }
    void DORV_CALL SetLineStatus(std::uint8_t line, std::uint8_t value) override {
        Guarded([&] { driver_.SetLineStatus(line, value); });
    }
    std::uint8_t DORV_CALL GetLineStatus(std::uint8_t line) override {
        return Guarded([&] { return driver_.GetLineStatus(line); });
    }
    bool DORV_CALL StopColumn(std::int32_t line, std::int32_t column, std::uint8_t flag) override {
        return Guarded([&] { return driver_.StopColumn(line, column, flag); });
    }
    bool DORV_CALL Reserved5(std::int32_t unused) override {
        return Guarded([&] { return driver_.Reserved5(unused); });
    }
    void DORV_CALL GetFilling(std::int32_t line, std::int32_t column, double* litres,
                              double* money) override {
        Guarded([&] { driver_.GetFilling(line, column, litres, money); });
    }
    void DORV_CALL ReadCounters(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                                double* first, double* second, std::int32_t unused1,
                                std::int32_t unused2) override {
        Guarded([&] { driver_.ReadCounters(line, column, nozzle, first, second, unused1, unused2); });
    }
    void DORV_CALL WriteCounter(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                                const double* value, std::int32_t unused1, std::int32_t unused2,
                                std::int32_t unused3) override {
        Guarded([&] {
            driver_.WriteCounter(line, column, nozzle, value, unused1, unused2, unused3);
        });
    }
    double DORV_CALL GetFillingVolume(std::int32_t line, std::int32_t column,
                                      double* money) override {
        return Guarded([&] { return driver_.GetFillingVolume(line, column, money); });
    }
    std::uint16_t DORV_CALL GetStatusCode(std::uint8_t line, std::uint8_t column) override {
        return Guarded([&] { return driver_.GetStatusCode(line, column); });
    }
    void DORV_CALL SetPrice(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                            double unused, double price) override {
        Guarded([&] { driver_.SetPrice(line, column, nozzle, unused, price); });
    }
    void DORV_CALL Reserved12(std::int32_t a, std::int32_t b, std::int32_t c) override {
        Guarded([&] { driver_.Reserved12(a, b, c); });
    }
    void DORV_CALL PresetVolume(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                                std::int32_t unused, double litres) override {
        Guarded([&] { driver_.PresetVolume(line, column, nozzle, unused, litres); });
    }
    void DORV_CALL PresetAmount(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                                std::int32_t unused, double money) override {
        Guarded([&] { driver_.PresetAmount(line, column, nozzle, unused, money); });
    }
    void DORV_CALL StartNozzle(std::int32_t line, std::int32_t column,
                               std::int32_t nozzle) override {
        Guarded([&] { driver_.StartNozzle(line, column, nozzle); });
    }
    std::int32_t DORV_CALL SetupLine(std::uint8_t line) override {
        return Guarded([&] { return driver_.SetupLine(line); });
    }
    std::int32_t DORV_CALL GetParam(std::int32_t line, std::int32_t column,
                                    std::int32_t hostParameter) override {
        return Guarded([&] { return driver_.GetParam(line, column, hostParameter); });
    }
    void DORV_CALL SetParam(std::int32_t line, std::int32_t column, std::int32_t hostParameter,
                            std::int32_t value) override {
        Guarded([&] { driver_.SetParam(line, column, hostParameter, value); });
    }
    void DORV_CALL AuthorizeNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                                   std::uint8_t flag) override {
        Guarded([&] { driver_.AuthorizeNozzle(line, column, nozzle, flag); });
    }
    bool DORV_CALL GetDriverProperty(std::int32_t number, std::int32_t* value) override {
        return Guarded([&] { return driver_.GetDriverProperty(number, value); });
    }
    StatusRecord DORV_CALL GetStatus(std::uint8_t line, std::uint8_t column,
                                     std::uint8_t nozzleCount) override {
        return Guarded([&] { return driver_.GetStatus(line, column, nozzleCount); });
    }
    void DORV_CALL StopNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                              std::uint8_t flag) override {
        Guarded([&] { driver_.StopNozzle(line, column, nozzle, flag); });
    }
    std::int32_t DORV_CALL StopAndRelease(std::int32_t line, std::int32_t column,
                                          std::int32_t nozzle, std::uint8_t flag) override {
        return Guarded([&] { return driver_.StopAndRelease(line, column, nozzle, flag); });
    }
    void DORV_CALL AttachMenu(MenuItem* menu, MenuItemFactory* factory) override {
        Guarded([&] { driver_.AttachMenu(menu, factory); });
    }
    void DORV_CALL Reserved25(std::int32_t a, std::int32_t b) override {
        Guarded([&] { driver_.Reserved25(a, b); });
    }
    void DORV_CALL Reserved26(std::int32_t a, std::int32_t b) override {
        Guarded([&] { driver_.Reserved26(a, b); });
    }

private:
    TVM30 driver_;
};

}  // namespace
}  // namespace dorv::win

extern "C" DORV_EXPORT dorv::DI30* DORV_CALL GetDI30(std::int32_t flags, std::int32_t,
                                                    dorv::HostLink* link) {
    return dorv::win::Guarded(
        [&]() -> dorv::DI30* { return new dorv::win::GuardedDriver(flags & 0xFF, link); });
}
