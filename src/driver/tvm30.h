// TVM30: the driver object. It holds every per-line, per-column and per-nozzle table, turns the
// host's slot calls into requests, exchanges them through the host's HostLink and decodes the
// replies. Files by concern: tvm30.cpp (creation, tables, minor slots), exchange.cpp,
// dispensing.cpp (start, stop, release, price, doses), readings.cpp (fillings, counters),
// status.cpp (GetStatus), parameters.cpp (type and parameter commands), transport.cpp (the
// parameter transport of the service window), host_menu.cpp (AttachMenu and the menu click);
// commands.h holds what the commands share.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "dorv5000/driver.h"
#include "settings.h"
#include "tables.h"

namespace dorv {

// The request record: [group, address, command, data...]. The same buffer receives the reply,
// and it is as large as any reply a link may deliver.
using Record = std::array<std::uint8_t, kReplyCapacity + 1>;

struct ExchangeResult {
    std::int32_t result;     // 0: the link completed the transaction
    std::uint8_t lineState;  // the line status this exchange left; 1: the controller answered
    bool Answered() const { return result == 0 && lineState == kLineAnswered; }
};

// Access kinds of the parameter transport.
enum class AccessKind : std::uint8_t { Numbered = 0, Common = 1, NetworkAddress = 2 };

class TVM30;

// While it lives, follows the line status that this thread's own exchanges on one line of one
// driver leave, refusal codes included. A command that runs other commands (GetStatus closing
// a filling or stopping a nozzle) judges how they went by it, not by LineStatus, which the
// exchanges of other threads on the same line rewrite at any moment.
class OwnLineState {
public:
    OwnLineState(const TVM30& driver, std::int32_t line);
    ~OwnLineState();
    OwnLineState(const OwnLineState&) = delete;
    OwnLineState& operator=(const OwnLineState&) = delete;

    // Whether the last exchange since construction completed and left the line answered.
    bool Answered() const;

private:
    friend class TVM30;
    const TVM30* driver_;
    std::int32_t line_;
    OwnLineState* outer_;  // the one this thread had before, for calls within calls
    bool completed_ = false;
    std::uint8_t state_ = 0;
};

class TVM30 : public DI30 {
public:
    TVM30(std::int32_t flags, HostLink* link);
    ~TVM30() override;
    TVM30(const TVM30&) = delete;
    TVM30& operator=(const TVM30&) = delete;

    // ---- slots, in table order ----
    void DORV_CALL Abstract0() override {}
    DriverInfo DORV_CALL GetDriverInfo() override;
    void DORV_CALL SetLineStatus(std::uint8_t line, std::uint8_t value) override;
    std::uint8_t DORV_CALL GetLineStatus(std::uint8_t line) override;
    bool DORV_CALL StopColumn(std::int32_t line, std::int32_t column, std::uint8_t flag) override;
    bool DORV_CALL Reserved5(std::int32_t) override { return false; }
    void DORV_CALL GetFilling(std::int32_t line, std::int32_t column, double* litres, double* money) override;
    void DORV_CALL ReadCounters(std::int32_t line, std::int32_t column, std::int32_t nozzle, double* first, double* second, std::int32_t,
                                std::int32_t) override;
    void DORV_CALL WriteCounter(std::int32_t line, std::int32_t column, std::int32_t nozzle, const double* value, std::int32_t,
                                std::int32_t, std::int32_t) override;
    double DORV_CALL GetFillingVolume(std::int32_t line, std::int32_t column, double* money) override;
    std::uint16_t DORV_CALL GetStatusCode(std::uint8_t line, std::uint8_t column) override;
    void DORV_CALL SetPrice(std::int32_t line, std::int32_t column, std::int32_t nozzle, double, double price) override;
    void DORV_CALL Reserved12(std::int32_t, std::int32_t, std::int32_t) override {}
    void DORV_CALL PresetVolume(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::int32_t, double litres) override;
    void DORV_CALL PresetAmount(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::int32_t unused, double money) override;
    void DORV_CALL StartNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle) override;
    std::int32_t DORV_CALL SetupLine(std::uint8_t line) override;
    std::int32_t DORV_CALL GetParam(std::int32_t line, std::int32_t column, std::int32_t hostParameter) override;
    void DORV_CALL SetParam(std::int32_t line, std::int32_t column, std::int32_t hostParameter, std::int32_t value) override;
    void DORV_CALL AuthorizeNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) override;
    bool DORV_CALL GetDriverProperty(std::int32_t number, std::int32_t* value) override;
    StatusRecord DORV_CALL GetStatus(std::uint8_t line, std::uint8_t column, std::uint8_t nozzleCount) override;
    void DORV_CALL StopNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) override;
    std::int32_t DORV_CALL StopAndRelease(std::int32_t line, std::int32_t column, std::int32_t nozzle, std::uint8_t flag) override;
    void DORV_CALL AttachMenu(MenuItem* menu, MenuItemFactory* factory) override;
    void DORV_CALL Reserved25(std::int32_t, std::int32_t) override {}
    void DORV_CALL Reserved26(std::int32_t, std::int32_t) override {}

    // ---- commands that are no slots ----
    // Release ('8'): returns the exchange result; raises only for a line, column or nozzle out
    // of range, before anything is sent.
    std::int32_t ReleaseNozzle(std::int32_t line, std::int32_t column, std::int32_t nozzle);
    // Type query ('7') of the column's first nozzle; refreshes ColumnType.
    void QueryType(std::uint8_t line, std::uint8_t column);
    // 'O' write of parameter index i (= host parameter - 10) of a column.
    void WriteNumberedParam(std::int32_t line, std::int32_t column, std::int32_t index, std::int32_t value);
    // ']' network-address programming of the controller with that ID number.
    void ProgramNozzleAddress(std::uint8_t line, std::uint8_t column, std::int32_t idNumber, std::int32_t newAddress);
    // The parameter transport of the service window: a controller by its raw address.
    std::int64_t ReadParameter(std::uint8_t kind, std::int32_t line, std::int32_t address, std::int32_t number, std::int32_t digits);
    bool WriteParameter(std::uint8_t kind, std::int64_t line, std::int64_t address, std::int64_t number, std::int64_t digits,
                        std::int64_t value);
    // Reads the column's price and money scales from the controller when still pending.
    void FetchDecimals(std::int32_t line, std::int32_t column);
    // The click of the menu item bound to `bound`: opens the parameter window for the current
    // driver, then marks every column's decimal settings of `bound`, if it still lives, to be
    // read again.
    static void ParamMenuClick(TVM30* bound);

    // One exchange: frames the request record, installs the validator, lets the link transact
    // and stores the line state. `record` receives the reply.
    ExchangeResult Exchange(std::int32_t line, Record& record, std::size_t n, std::uint8_t replyLength, std::uint8_t mode);

    // ---- settings ----
    DriverSettings Settings() const;
    void ApplySettings(const DriverSettings& s);
    // Writes the live settings to the settings file.
    void SaveSettings() const;

    // ---- tables, for the service window, tools and tests (ranges as in tables.h) ----
    HostLink* Link() const { return link_; }
    std::uint8_t CurrentNozzle(int line, int column) const { return currentNozzle_.Get(ColumnIndex(line, column)); }
    double Price(int line, int column, int nozzle) const { return price_.Get(NozzleIndex(line, column, nozzle)); }
    std::uint8_t NozzleState(int line, int column, int nozzle) const { return nozzleState_.Get(NozzleIndex(line, column, nozzle)); }
    std::uint8_t ColumnType(int line, int column) const { return columnType_.Get(ColumnIndex(line, column)); }
    double OrderedVolume(int line, int column) const { return orderedVolume_.Get(ColumnIndex(line, column)); }
    double FilledVolume(int line, int column) const { return filledVolume_.Get(ColumnIndex(line, column)); }
    bool DecimalsPending(int line, int column) const { return decimalsPending_.Get(ColumnIndex(line, column)) != 0; }
    std::int32_t PriceScale(int line, int column) const { return priceScale_.Get(ColumnIndex(line, column)); }
    std::int32_t AmountScale(int line, int column) const { return amountScale_.Get(ColumnIndex(line, column)); }
    void SetCurrentNozzle(int line, int column, std::uint8_t v) { currentNozzle_.Set(ColumnIndex(line, column), v); }
    void SetNozzleState(int line, int column, int nozzle, std::uint8_t v) { nozzleState_.Set(NozzleIndex(line, column, nozzle), v); }
    void SetColumnType(int line, int column, std::uint8_t v) { columnType_.Set(ColumnIndex(line, column), v); }
    void SetOrderedVolume(int line, int column, double v) { orderedVolume_.Set(ColumnIndex(line, column), v); }
    void SetFilledVolume(int line, int column, double v) { filledVolume_.Set(ColumnIndex(line, column), v); }
    void SetDecimalsPending(int line, int column, bool v) { decimalsPending_.Set(ColumnIndex(line, column), v ? 1 : 0); }
    void SetScales(int line, int column, std::int32_t priceScale, std::int32_t amountScale);

private:
    static bool DORV_CALL ValidateReplyCallback(void* context, std::uint8_t line, std::uint8_t* reply, std::int32_t, std::uint8_t* length,
                                                std::int32_t);
    static std::int32_t DORV_CALL ReconfigureLine(void* context, std::uint8_t line);

    // Sets LineStatus[line] (line already checked), and what this thread's OwnLineState sees.
    void StoreLineStatus(std::int32_t line, std::uint8_t v);
    // Tells this thread's OwnLineState of the line whether an exchange completed.
    void NoteCompleted(std::int32_t line, bool completed) const;
    std::uint8_t LineStatusOf(std::int32_t line) const { return lineStatus_.Get(static_cast<std::size_t>(line)); }

    HostLink* const link_;
    ColumnTable<std::uint8_t> currentNozzle_;
    NozzleTable<double> price_;
    NozzleTable<std::uint8_t> nozzleState_;
    ColumnTable<std::uint8_t> columnType_;
    ColumnTable<double> orderedVolume_;
    ColumnTable<double> filledVolume_;
    LineTable<std::uint8_t> lineStatus_;
    ColumnTable<std::uint8_t> decimalsPending_;
    std::atomic<bool> forceStart_{false};
    std::atomic<bool> startInLiter_{false};
    std::atomic<std::uint8_t> pistStep_{1};
    std::atomic<bool> freeStartEn_{true};
    std::atomic<bool> noVerifeAuthorization_{false};
    std::atomic<bool> specAvtomatika_{false};
    std::atomic<bool> readDecimalTRK_{false};
    ColumnTable<std::int32_t> priceScale_;
    ColumnTable<std::int32_t> amountScale_;
};

}  // namespace dorv
