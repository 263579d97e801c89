#include "driver_binding.h"

#include "driver/tvm30.h"

namespace dorv::ui {

DriverSettings Tvm30SettingsAccess::Settings() const { return driver_.Settings(); }
void Tvm30SettingsAccess::ApplySettings(const DriverSettings& s) { driver_.ApplySettings(s); }
void Tvm30SettingsAccess::SaveSettings() { driver_.SaveSettings(); }

DriverBinding DriverBinding::For(TVM30* driver) {
    if (!driver) return {};
    return {std::make_shared<params::Tvm30Transport>(*driver), std::make_shared<Tvm30SettingsAccess>(*driver), driver};
}

}  // namespace dorv::ui
