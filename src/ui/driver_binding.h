// The driver object as the window sees it: a parameter transport and its seven settings, each
// behind a small interface so the window logic can be driven without a dispenser.
//
// Thread safety: the settings are read and changed on the user-interface thread only; the
// transport as params/transport.h says.
#pragma once

#include <memory>

#include "driver/settings.h"
#include "params/transport.h"

namespace dorv {
class TVM30;
}

namespace dorv::ui {

class DriverSettingsAccess {
public:
    virtual ~DriverSettingsAccess() = default;
    virtual DriverSettings Settings() const = 0;
    // Changes the live settings; the next command that reads them uses the new values.
    virtual void ApplySettings(const DriverSettings& settings) = 0;
    // Writes the live settings to the settings file. Raises dorv::Exception when it cannot.
    virtual void SaveSettings() = 0;
};

class Tvm30SettingsAccess final : public DriverSettingsAccess {
public:
    explicit Tvm30SettingsAccess(TVM30& driver) : driver_(driver) {}
    DriverSettings Settings() const override;
    void ApplySettings(const DriverSettings& settings) override;
    void SaveSettings() override;

private:
    TVM30& driver_;
};

// The window's driver reference. Empty (no transport) when the window has no driver.
struct DriverBinding {
    std::shared_ptr<params::ParameterTransport> transport;
    std::shared_ptr<DriverSettingsAccess> settings;
    TVM30* driver = nullptr;  // the driver object itself, when the binding is over one

    explicit operator bool() const { return transport != nullptr; }
    // Adapters over `driver`; empty for a null driver.
    static DriverBinding For(TVM30* driver);
};

}  // namespace dorv::ui
