// The driver module as a host loads it: by path, with GetDI30 looked up by name.
#pragma once

#include <string>

#include "dorv5000/driver.h"

namespace dorv::service {

class DriverModule {
public:
    // Raises std::runtime_error with the loader's message when the module or its export is
    // missing.
    explicit DriverModule(const std::string& path);
    // The module stays loaded until the process ends: its windows' classes are registered with
    // Qt, which may still refer to them while the application shuts down.
    ~DriverModule() = default;
    DriverModule(const DriverModule&) = delete;
    DriverModule& operator=(const DriverModule&) = delete;

    // A new driver object over `link`; the caller owns it (delete it before `link` goes).
    DI30* Create(std::int32_t flags, HostLink& link) const;
    const std::string& Path() const { return path_; }

private:
    using GetDI30Fn = DI30*(DORV_CALL*)(std::int32_t, std::int32_t, HostLink*);
    std::string path_;
    GetDI30Fn create_ = nullptr;
};

}  // namespace dorv::service
