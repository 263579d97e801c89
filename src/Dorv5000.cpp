// The library's entry: GetDI30 creates the driver object over the host's link.
#include "dorv5000/driver.h"
#include "driver/tvm30.h"

extern "C" DORV_EXPORT dorv::DI30* DORV_CALL GetDI30(std::int32_t flags, std::int32_t, dorv::HostLink* link) {
    return new dorv::TVM30(flags & 0xFF, link);
}
