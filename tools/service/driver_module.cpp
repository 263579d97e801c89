#include "driver_module.h"

#include <dlfcn.h>

#include <stdexcept>

namespace dorv::service {

DriverModule::DriverModule(const std::string& path) : path_(path) {
    // Local: the module's internals never mix with the host's symbols.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error(std::string("cannot load the driver module: ") + ::dlerror());
    create_ = reinterpret_cast<GetDI30Fn>(::dlsym(handle, "GetDI30"));
    if (!create_) throw std::runtime_error(path + " exports no GetDI30");
}

DI30* DriverModule::Create(std::int32_t flags, HostLink& link) const { return create_(flags, 0, &link); }

}  // namespace dorv::service
