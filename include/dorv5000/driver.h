// The driver object as a host sees it: GetDI30 creates it, the host calls its 26 slots.
//
// Slots stand in the object's table of virtual operations in the order below (slot 0 is
// abstract; the destructor comes after slot 26). Line, column and nozzle are signed 32-bit
// numbers: lines 0 to 39, columns 0 to 33, nozzles 0 to 4 (0 is addressed as nozzle 1).
//
// Failures: dorv::Exception for arguments out of range or values that do not fit their field,
// dorv::ESerialIO when the host link cannot complete an exchange. A controller's refusal raises
// nothing: the slot sets a code in the line status (slot 3).
//
// Threads: any slot may run from several threads at once; slots that act on the same column
// should not overlap (GetStatus briefly changes the column's current nozzle).
#pragma once

#include <cstdint>

#include "abi.h"
#include "exceptions.h"
#include "host_link.h"
#include "menu.h"

namespace dorv {

// Length-prefixed text: one length byte (32), then 32 characters in CP1251.
struct DriverInfo {
    std::uint8_t length;
    char text[32];
};
static_assert(sizeof(DriverInfo) == 33);

// GetStatus result: byte 0 the column's summary code, bytes 2n..2n+1 the word of nozzle n
// (code in the low byte), byte 14 the nozzle whose code stands in byte 0.
struct StatusRecord {
    std::uint8_t bytes[16];
};
static_assert(sizeof(StatusRecord) == 16);

class DORV_SHARED DI30 {
public:
    virtual void DORV_CALL Abstract0() = 0;
    virtual DriverInfo DORV_CALL GetDriverInfo() = 0;                                 // 1
    virtual void DORV_CALL SetLineStatus(std::uint8_t line, std::uint8_t value) = 0;  // 2
    virtual std::uint8_t DORV_CALL GetLineStatus(std::uint8_t line) = 0;              // 3
    virtual bool DORV_CALL StopColumn(std::int32_t line, std::int32_t column,
                                      std::uint8_t flag) = 0;   // 4
    virtual bool DORV_CALL Reserved5(std::int32_t unused) = 0;  // 5
    virtual void DORV_CALL GetFilling(std::int32_t line, std::int32_t column, double* litres,
                                      double* money) = 0;  // 6
    virtual void DORV_CALL ReadCounters(std::int32_t line, std::int32_t column, std::int32_t nozzle, double* first, double* second,
                                        std::int32_t unused1, std::int32_t unused2) = 0;  // 7
    virtual void DORV_CALL WriteCounter(std::int32_t line, std::int32_t column, std::int32_t nozzle, const double* value,
                                        std::int32_t unused1, std::int32_t unused2,
                                        std::int32_t unused3) = 0;  // 8
    virtual double DORV_CALL GetFillingVolume(std::int32_t line, std::int32_t column,
                                              double* money) = 0;                                                                   // 9
    virtual std::uint16_t DORV_CALL GetStatusCode(std::uint8_t line, std::uint8_t column) = 0;                                      // 10
    virtual void DORV_CALL SetPrice(std::int32_t line, std::int32_t column, std::int32_t nozzle, double unused, double price) = 0;  // 11
    virtual void DORV_CALL Reserved12(std::int32_t, std::int32_t, std::int32_t) = 0;                                                // 12
    virtual void DORV_CALL PresetVolume(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::int32_t unused,
                                        double litres) = 0;  // 13
    virtual void DORV_CALL PresetAmount(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::int32_t unused,
                                        double money) = 0;  // 14
    virtual void DORV_CALL StartNozzle(std::int32_t line, std::int32_t column,
                                       std::int32_t nozzle) = 0;      // 15
    virtual std::int32_t DORV_CALL SetupLine(std::uint8_t line) = 0;  // 16
    virtual std::int32_t DORV_CALL GetParam(std::int32_t line, std::int32_t column,
                                            std::int32_t hostParameter) = 0;                                                      // 17
    virtual void DORV_CALL SetParam(std::int32_t line, std::int32_t column, std::int32_t hostParameter, std::int32_t value) = 0;  // 18
    virtual void DORV_CALL AuthorizeNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) = 0;   // 19
    virtual bool DORV_CALL GetDriverProperty(std::int32_t number, std::int32_t* value) = 0;                                       // 20
    virtual StatusRecord DORV_CALL GetStatus(std::uint8_t line, std::uint8_t column,
                                             std::uint8_t nozzleCount) = 0;                                                 // 21
    virtual void DORV_CALL StopNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) = 0;  // 22
    virtual std::int32_t DORV_CALL StopAndRelease(std::int32_t line, std::int32_t column, std::int32_t nozzle,
                                                  std::uint8_t flag) = 0;             // 23
    virtual void DORV_CALL AttachMenu(MenuItem* menu, MenuItemFactory* factory) = 0;  // 24
    virtual void DORV_CALL Reserved25(std::int32_t, std::int32_t) = 0;                // 25
    virtual void DORV_CALL Reserved26(std::int32_t, std::int32_t) = 0;                // 26
    virtual ~DI30() = default;
};

}  // namespace dorv

// The library's one export. flags: low byte only; 0x10 clears StartInLiter, 0x40 sets
// ForceStart, 0x80 sets NoVerifeAuthorization, 0x20 sets SpecAvtomatika. The settings file
// cnf.INI is read over them. The host keeps ownership of `link` and owns the returned object
// (destroy it with delete). Raises dorv::Exception when the settings file cannot be read.
extern "C" DORV_EXPORT dorv::DI30* DORV_CALL GetDI30(std::int32_t flags, std::int32_t unused, dorv::HostLink* link);
