// The shared library loaded as a host loads it: by path, GetDI30 looked up by name.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "dorv5000/driver.h"
#include "recording_link.h"
#include "temp_dir.h"

namespace {

using GetDI30Fn = dorv::DI30*(DORV_CALL*)(std::int32_t, std::int32_t, dorv::HostLink*);

TEST(Library, ExportsGetDI30AndTheDriverAnswersThroughItsSlots) {
    dorv::test::TempDir dir;
    void* lib = dlopen(DORV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    auto create = reinterpret_cast<GetDI30Fn>(dlsym(lib, "GetDI30"));
    ASSERT_NE(create, nullptr);
    dorv::test::RecordingLink link;
    dorv::DI30* driver = create(0, 0, &link);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->GetDriverInfo().length, 32);
    driver->SetLineStatus(5, 9);
    EXPECT_EQ(driver->GetLineStatus(5), 9);
    // Failures cross the boundary as the public exception classes.
    EXPECT_THROW(driver->StartNozzle(1, 34, 1), dorv::Exception);
    link.Queue(dorv::test::Failed(5));
    EXPECT_THROW(driver->StartNozzle(1, 1, 1), dorv::ESerialIO);
    delete driver;
    EXPECT_EQ(dlsym(lib, "_ZN4dorv5TVM30C1EiPNS_8HostLinkE"), nullptr) << "internals stay hidden";
    dlclose(lib);
}

}  // namespace
