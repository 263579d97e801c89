// The dispensers of one line behind a Dorv5000 controller, driven through the driver's slots
// over the station's link.
#pragma once

#include <cstdint>

#include "dispenser.h"
#include "dorv5000/driver.h"

namespace forecourt {

class StationLink;

class DorvDispenser final : public Dispenser {
public:
    DorvDispenser(dorv::DI30& driver, StationLink& link, int line);

    void Open() override;
    std::optional<std::vector<NozzleReading>> Poll(int column, int nozzles) override;
    std::optional<Delivery> Filling(int column) override;
    std::optional<Totalizer> Totals(int column, int nozzle) override;
    Reply Authorize(int column, int nozzle, std::int64_t price_cents, const Preset& preset, bool& sent) override;
    Reply Stop(int column, int nozzle, bool flowing) override;
    bool Release(int column, int nozzle) override;
    LineHealth Health() const override;

private:
    // Whether the controller answered the latest slot: a command by the driver's line status,
    // a reading by the link's, as the driver reports a silence as a reading of zero.
    bool CommandAnswered(int& status);
    bool LinkAnswered() const;

    dorv::DI30& driver_;
    StationLink& link_;
    int line_;
};

}  // namespace forecourt
