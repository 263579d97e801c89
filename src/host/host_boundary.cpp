// The library's entry on Windows: GetDI30 hands the host a driver object laid out as an Object
// Pascal object of class TVM30, whose slots call the driver core behind the guard of guard.h.
//
// The object's first word points at slot 0 of its class table. Slots 1 to 26 follow slot 0 in
// the build's convention (calls.h). In front of slot 0 stand the entries an Object Pascal
// run-time library reads at negative offsets (the class table of Delphi 4 to 2007; -4 and -8,
// which free the object, are where every 32-bit Delphi looks for them):
//
//   -76 self pointer (slot 0)        -36 parent: nil             -12 NewInstance: nil result
//   -72 .. -48 interface, automation, -32 SafeCallException:     -8 FreeInstance
//       initialisation, type, field,      E_UNEXPECTED            -4 Destroy
//       method, dynamic tables: nil   -28 AfterConstruction,
//   -44 class name "TVM30"               -24 BeforeDestruction,
//   -40 instance size                    -20 Dispatch, -16 DefaultHandler: nothing
//
// These are the run-time library's own methods and always take the register convention, even
// in the stdcall build. Free calls Destroy with the outermost flag in DL; Destroy runs the
// driver's destructor and, when outermost, FreeInstance through the table, which releases the
// object with the library's own allocator. After slot 26 the table carries the two destructor
// entries of a C++ object (complete, deleting), so that a C++ host's delete works as well.
#include "host/host_boundary.h"

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <new>
#include <string>

#include "dorv5000/driver.h"
#include "driver/module.h"
#include "driver/tvm30.h"
#include "host/calls.h"
#include "host/entry.h"
#include "host/frame_log.h"
#include "host/guard.h"
#include "host/link_adapter.h"
#include "host/host_menu.h"
#include "platform/cp1251.h"

namespace dorv::host {

std::string& ThreadMessage() {
    thread_local std::string message;
    return message;
}

void RaiseToHost(win::FailureKind kind) {
    thread_local std::string cp1251;
    cp1251 = platform::Utf8ToCp1251(ThreadMessage());
    const ULONG_PTR arguments[3] = {static_cast<ULONG_PTR>(kind), reinterpret_cast<ULONG_PTR>(cp1251.c_str()),
                                    static_cast<ULONG_PTR>(cp1251.size())};
    RaiseException(win::kDriverFailureCode, EXCEPTION_NONCONTINUABLE, 3, arguments);
    std::terminate();  // not reached: a non-continuable exception never returns
}

void RaiseHostException(const HostException& e) {
    ULONG_PTR arguments[15];
    for (std::uint32_t i = 0; i < e.count; ++i) arguments[i] = e.information[i];
    RaiseException(e.code, e.flags, e.count, arguments);
    std::terminate();  // the host's own exceptions do not return either
}

namespace {

// What the driver object is made of: the host's link as the driver calls it, and the driver.
struct Parts {
    Parts(std::int32_t flags, void* hostLink, void* context) : link(hostLink, context), driver(flags, &link) {}
    HostLinkAdapter link;
    TVM30 driver;
};

// The object the host holds. Destroy ends its parts; FreeInstance releases the memory.
//
// The host's link may run the host's message loop during an exchange, and the host may free the
// driver from there. So the calls that may reach the link (the slots, the window's own
// transfers) count as entries; a destruction that arrives while one is under way only marks the
// driver freed, the link fails what comes back to it, and the last entry to return ends it.
struct DriverObject {
    DriverObject(std::int32_t flags, void* hostLink);
    ~DriverObject() {}
    DriverObject(const DriverObject&) = delete;
    DriverObject& operator=(const DriverObject&) = delete;
    const void* const* table;
    bool destroyed = false;
    std::mutex entryMutex;  // the four below
    int entries = 0;
    std::atomic<bool> freed{false};  // the host has asked for the end; read by the link unlocked
    bool ending = false;             // someone is ending it: nobody else may
    bool releaseAtEnd = false;       // the memory goes at the end as well
    union {
        Parts parts;
    };
};

void Destroy(DriverObject* self) {
    if (self->destroyed) return;
    self->destroyed = true;
    ForgetClicksOf(&self->parts.driver);
    self->parts.~Parts();
}

void Release(DriverObject* self) {
    self->~DriverObject();
    ::operator delete(static_cast<void*>(self));
}

// The host asks for the end: true when it may happen now; else the last entry ends the driver
// (and releases the memory when `release`).
bool EndsNow(DriverObject* self, bool release) {
    std::lock_guard lock(self->entryMutex);
    self->freed = true;
    if (self->entries > 0) {
        self->releaseAtEnd = self->releaseAtEnd || release;
        return false;
    }
    self->ending = true;
    return true;
}

void Enter(DriverObject* self) {
    std::lock_guard lock(self->entryMutex);
    ++self->entries;
}

void Leave(DriverObject* self) noexcept {
    bool release = false;
    {
        std::lock_guard lock(self->entryMutex);
        if (--self->entries > 0 || !self->freed || self->ending) return;
        self->ending = true;
        release = self->releaseAtEnd;
    }
    try {
        Destroy(self);
    } catch (...) {
        // The host's call that freed the driver returned long ago: nobody is left to tell.
    }
    if (release) Release(self);
}

class InUse {
public:
    explicit InUse(DriverObject* self) : self_(self) { Enter(self_); }
    ~InUse() { Leave(self_); }
    InUse(const InUse&) = delete;
    InUse& operator=(const InUse&) = delete;

private:
    DriverObject* const self_;
};

// A slot: the driver's call behind the guard, counted as an entry.
template <class Call>
auto Entered(DriverObject* self, Call&& call) -> decltype(call()) {
    return Guarded([&] {
        const InUse inUse(self);
        return call();
    });
}

// The window's transfers, through the module, for the drivers this boundary made.
DriverObject* ObjectOf(TVM30* driver) {
    auto* link = dynamic_cast<HostLinkAdapter*>(driver->Link());
    return link ? static_cast<DriverObject*>(link->Context()) : nullptr;
}
void EnterFromWindow(TVM30* driver) {
    if (DriverObject* self = ObjectOf(driver)) Enter(self);
}
void LeaveFromWindow(TVM30* driver) {
    if (DriverObject* self = ObjectOf(driver)) Leave(self);
}

// ---- the run-time library's methods (register convention in both builds) ----

void DORV_PASCAL_REGISTER FreeInstance(DriverObject* self) {
    if (!self || !EndsNow(self, /*release=*/true)) return;
    Guarded([&] { Destroy(self); });  // a host that frees without destroying still ends the driver
    Release(self);
}

void DORV_PASCAL_REGISTER DestroyEntry(DriverObject* self, std::int8_t outermost) {
    if (!self || !EndsNow(self, outermost > 0)) return;
    Guarded([&] { Destroy(self); });
    using FreeInstanceFn = void(DORV_PASCAL_REGISTER*)(DriverObject*);
    if (outermost > 0) Slot<FreeInstanceFn>(self, -2)(self);
}

std::int32_t DORV_PASCAL_REGISTER SafeCallException(void*, void*, void*) {
    return static_cast<std::int32_t>(0x8000FFFF);  // E_UNEXPECTED
}
void DORV_PASCAL_REGISTER Nothing(void*) {}
void DORV_PASCAL_REGISTER NothingWithMessage(void*, void*) {}
void* DORV_PASCAL_REGISTER NoNewInstance(void*) { return nullptr; }

// ---- a C++ host's virtual destructor (thiscall: the object in ECX) ----

void __attribute__((thiscall)) CompleteDestructor(DriverObject* self) {
    if (EndsNow(self, /*release=*/false)) Guarded([&] { Destroy(self); });
}
void __attribute__((thiscall)) DeletingDestructor(DriverObject* self) {
    if (!EndsNow(self, /*release=*/true)) return;
    Guarded([&] { Destroy(self); });
    Release(self);
}

// ---- the slots ----
// Register build: stack arguments are declared in reverse (calls.h); a record result's pointer
// is the last argument. Stdcall build: the record result's pointer comes before Self.

using U8 = std::uint8_t;
using I32 = std::int32_t;
using Self = DriverObject*;

void DORV_HOST_CALL Abstract0(Self) {}

#if defined(DORV_HOST_REGISTER)
DriverInfo* DORV_HOST_CALL GetDriverInfo(Self self, DriverInfo* result) {
#else
DriverInfo* DORV_HOST_CALL GetDriverInfo(DriverInfo* result, Self self) {
#endif
    *result = Entered(self, [&] { return self->parts.driver.GetDriverInfo(); });
    return result;
}

void DORV_HOST_CALL SetLineStatus(Self self, U8 line, U8 value) {
    Entered(self, [&] { self->parts.driver.SetLineStatus(line, value); });
}

U8 DORV_HOST_CALL GetLineStatus(Self self, U8 line) {
    return Entered(self, [&] { return self->parts.driver.GetLineStatus(line); });
}

bool DORV_HOST_CALL StopColumn(Self self, I32 line, I32 column, U8 flag) {
    return Entered(self, [&] { return self->parts.driver.StopColumn(line, column, flag); });
}

bool DORV_HOST_CALL Reserved5(Self self, I32 unused) {
    return Entered(self, [&] { return self->parts.driver.Reserved5(unused); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL GetFilling(Self self, I32 line, I32 column, double* money, double* litres) {
#else
void DORV_HOST_CALL GetFilling(Self self, I32 line, I32 column, double* litres, double* money) {
#endif
    Entered(self, [&] { self->parts.driver.GetFilling(line, column, litres, money); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL ReadCounters(Self self, I32 line, I32 column, I32 unused2, I32 unused1, double* second, double* first, I32 nozzle) {
#else
void DORV_HOST_CALL ReadCounters(Self self, I32 line, I32 column, I32 nozzle, double* first, double* second, I32 unused1, I32 unused2) {
#endif
    Entered(self, [&] { self->parts.driver.ReadCounters(line, column, nozzle, first, second, unused1, unused2); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL WriteCounter(Self self, I32 line, I32 column, I32 unused3, I32 unused2, I32 unused1, const double* value, I32 nozzle) {
#else
void DORV_HOST_CALL WriteCounter(Self self, I32 line, I32 column, I32 nozzle, const double* value, I32 unused1, I32 unused2, I32 unused3) {
#endif
    Entered(self, [&] { self->parts.driver.WriteCounter(line, column, nozzle, value, unused1, unused2, unused3); });
}

double DORV_HOST_CALL GetFillingVolume(Self self, I32 line, I32 column, double* money) {
    return Entered(self, [&] { return self->parts.driver.GetFillingVolume(line, column, money); });
}

std::uint16_t DORV_HOST_CALL GetStatusCode(Self self, U8 line, U8 column) {
    return Entered(self, [&] { return self->parts.driver.GetStatusCode(line, column); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL SetPrice(Self self, I32 line, I32 column, double price, double unused, I32 nozzle) {
#else
void DORV_HOST_CALL SetPrice(Self self, I32 line, I32 column, I32 nozzle, double unused, double price) {
#endif
    Entered(self, [&] { self->parts.driver.SetPrice(line, column, nozzle, unused, price); });
}

void DORV_HOST_CALL Reserved12(Self self, I32 a, I32 b, I32 c) {
    Entered(self, [&] { self->parts.driver.Reserved12(a, b, c); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL PresetVolume(Self self, I32 line, I32 column, double litres, I32 unused, I32 nozzle) {
#else
void DORV_HOST_CALL PresetVolume(Self self, I32 line, I32 column, I32 nozzle, I32 unused, double litres) {
#endif
    Entered(self, [&] { self->parts.driver.PresetVolume(line, column, nozzle, unused, litres); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL PresetAmount(Self self, I32 line, I32 column, double money, I32 unused, I32 nozzle) {
#else
void DORV_HOST_CALL PresetAmount(Self self, I32 line, I32 column, I32 nozzle, I32 unused, double money) {
#endif
    Entered(self, [&] { self->parts.driver.PresetAmount(line, column, nozzle, unused, money); });
}

void DORV_HOST_CALL StartNozzle(Self self, I32 line, I32 column, I32 nozzle) {
    Entered(self, [&] { self->parts.driver.StartNozzle(line, column, nozzle); });
}

I32 DORV_HOST_CALL SetupLine(Self self, U8 line) {
    return Entered(self, [&] { return self->parts.driver.SetupLine(line); });
}

I32 DORV_HOST_CALL GetParam(Self self, I32 line, I32 column, I32 hostParameter) {
    return Entered(self, [&] { return self->parts.driver.GetParam(line, column, hostParameter); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL SetParam(Self self, I32 line, I32 column, I32 value, I32 hostParameter) {
#else
void DORV_HOST_CALL SetParam(Self self, I32 line, I32 column, I32 hostParameter, I32 value) {
#endif
    Entered(self, [&] { self->parts.driver.SetParam(line, column, hostParameter, value); });
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL AuthorizeNozzle(Self self, I32 line, I32 column, U8 flag, I32 nozzle) {
#else
void DORV_HOST_CALL AuthorizeNozzle(Self self, I32 line, I32 column, I32 nozzle, U8 flag) {
#endif
    Entered(self, [&] { self->parts.driver.AuthorizeNozzle(line, column, nozzle, flag); });
}

bool DORV_HOST_CALL GetDriverProperty(Self self, I32 number, I32* value) {
    return Entered(self, [&] { return self->parts.driver.GetDriverProperty(number, value); });
}

#if defined(DORV_HOST_REGISTER)
StatusRecord* DORV_HOST_CALL GetStatus(Self self, U8 line, U8 column, StatusRecord* result, U8 nozzleCount) {
#else
StatusRecord* DORV_HOST_CALL GetStatus(StatusRecord* result, Self self, U8 line, U8 column, U8 nozzleCount) {
#endif
    *result = Entered(self, [&] { return self->parts.driver.GetStatus(line, column, nozzleCount); });
    return result;
}

#if defined(DORV_HOST_REGISTER)
void DORV_HOST_CALL StopNozzle(Self self, I32 line, I32 column, U8 flag, I32 nozzle) {
#else
void DORV_HOST_CALL StopNozzle(Self self, I32 line, I32 column, I32 nozzle, U8 flag) {
#endif
    Entered(self, [&] { self->parts.driver.StopNozzle(line, column, nozzle, flag); });
}

#if defined(DORV_HOST_REGISTER)
I32 DORV_HOST_CALL StopAndRelease(Self self, I32 line, I32 column, U8 flag, I32 nozzle) {
#else
I32 DORV_HOST_CALL StopAndRelease(Self self, I32 line, I32 column, I32 nozzle, U8 flag) {
#endif
    return Entered(self, [&] { return self->parts.driver.StopAndRelease(line, column, nozzle, flag); });
}

void DORV_HOST_CALL AttachMenu(Self self, void* menu, void* factory) {
    Entered(self, [&] {
        HostMenu hostMenu(menu, factory);
        self->parts.driver.AttachMenu(hostMenu.Root(), hostMenu.Factory());
    });
}

void DORV_HOST_CALL Reserved25(Self self, I32 a, I32 b) {
    Entered(self, [&] { self->parts.driver.Reserved25(a, b); });
}

void DORV_HOST_CALL Reserved26(Self self, I32 a, I32 b) {
    Entered(self, [&] { self->parts.driver.Reserved26(a, b); });
}

// ---- the class table ----

// The class name as a short string: length byte, then the characters.
constexpr char kClassName[] = "\x05TVM30";

template <class Fn>
const void* Entry(Fn* fn) {
    return reinterpret_cast<const void*>(fn);
}

struct ClassTable {
    const void* negative[19];  // -76 .. -4
    const void* slots[29];     // 0 .. 26, then the C++ destructors
};

const ClassTable kClassTable = {
    {
        &kClassTable.slots[0],  // -76 self pointer
        nullptr,
        nullptr,
        nullptr,
        nullptr,  // -72 interfaces .. -60 type information
        nullptr,
        nullptr,
        nullptr,                                              // -56 fields .. -48 dynamic methods
        kClassName,                                           // -44
        reinterpret_cast<const void*>(sizeof(DriverObject)),  // -40 instance size
        nullptr,                                              // -36 parent
        Entry(&SafeCallException),                            // -32
        Entry(&Nothing),                                      // -28 AfterConstruction
        Entry(&Nothing),                                      // -24 BeforeDestruction
        Entry(&NothingWithMessage),                           // -20 Dispatch
        Entry(&NothingWithMessage),                           // -16 DefaultHandler
        Entry(&NoNewInstance),                                // -12
        Entry(&FreeInstance),                                 // -8
        Entry(&DestroyEntry),                                 // -4
    },
    {
        Entry(&Abstract0),         Entry(&GetDriverInfo), Entry(&SetLineStatus),      Entry(&GetLineStatus),      Entry(&StopColumn),
        Entry(&Reserved5),         Entry(&GetFilling),    Entry(&ReadCounters),       Entry(&WriteCounter),       Entry(&GetFillingVolume),
        Entry(&GetStatusCode),     Entry(&SetPrice),      Entry(&Reserved12),         Entry(&PresetVolume),       Entry(&PresetAmount),
        Entry(&StartNozzle),       Entry(&SetupLine),     Entry(&GetParam),           Entry(&SetParam),           Entry(&AuthorizeNozzle),
        Entry(&GetDriverProperty), Entry(&GetStatus),     Entry(&StopNozzle),         Entry(&StopAndRelease),     Entry(&AttachMenu),
        Entry(&Reserved25),        Entry(&Reserved26),    Entry(&CompleteDestructor), Entry(&DeletingDestructor),
    },
};
static_assert(offsetof(ClassTable, slots) == 76, "Destroy must stand at -4, the self pointer at -76");

DriverObject::DriverObject(std::int32_t flags, void* hostLink) : table(kClassTable.slots) { new (&parts) Parts(flags, hostLink, this); }

}  // namespace

HostLinkAdapter& HostLinkAdapter::OfContext(void* context) { return static_cast<DriverObject*>(context)->parts.link; }

bool HostLinkAdapter::Freed() const { return static_cast<const DriverObject*>(context_)->freed; }

void* CreateDriverObject(std::int32_t flags, void* link) {
    return Guarded([&]() -> void* {
        // The trace switch is read with the settings, at each creation.
        frame_log::Configure(ReadFrameLogSettings());
        module::SetInUseHooks(&EnterFromWindow, &LeaveFromWindow);
        return new DriverObject(flags & 0xFF, link);
    });
}

}  // namespace dorv::host
