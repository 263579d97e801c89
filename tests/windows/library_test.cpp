// Dorv5000.dll as a Windows host loads it: LoadLibraryA, GetDI30 looked up by its plain name,
// the slots and the host link's operations called across the module boundary with stdcall.
// The library is the one scripts/build-windows.sh built and checked, copied beside this program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

#include "dorv5000/driver.h"
#include "driver/messages.h"
#include "platform/cp1251.h"
#include "host/host_boundary.h"
#include "recording_link.h"
#include "temp_dir.h"

namespace {

using GetDI30Fn = dorv::DI30*(DORV_CALL*)(std::int32_t, std::int32_t, dorv::HostLink*);
using dorv::test::Bytes;

class Library : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryA("Dorv5000.dll");
        ASSERT_NE(module_, nullptr) << "Windows error " << GetLastError();
        create_ = reinterpret_cast<GetDI30Fn>(reinterpret_cast<void*>(GetProcAddress(module_, "GetDI30")));
        ASSERT_NE(create_, nullptr);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    dorv::DI30* Create(std::int32_t flags) { return create_(flags, 0, &link_); }

    dorv::test::TempDir dir_;
    dorv::test::RecordingLink link_;
    HMODULE module_ = nullptr;
    GetDI30Fn create_ = nullptr;
};

TEST_F(Library, ExportsGetDI30UnderItsPlainNameOnly) {
    struct Case {
        const char* name;
        bool exported;
    };
    const Case cases[] = {{"GetDI30", true}, {"GetDI30@12", false}, {"_GetDI30@12", false}, {"_GetDI30", false}};
    for (const auto& c : cases) EXPECT_EQ(GetProcAddress(module_, c.name) != nullptr, c.exported) << c.name;
}

TEST_F(Library, DriverInfoRecordArrivesWhole) {
    dorv::DI30* driver = Create(0);
    const dorv::DriverInfo info = driver->GetDriverInfo();
    // "v2.41#Протокол колонок Dorv 5000" in CP1251.
    const char expected[] = "v2.41#\xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB \xEA\xEE\xEB\xEE\xED\xEE\xEA Dorv 5000";
    EXPECT_EQ(info.length, 32);
    EXPECT_EQ(std::string(info.text, sizeof info.text), std::string(expected, 32));
    delete driver;
}

TEST_F(Library, ByteAndPointerArgumentsCrossTheBoundary) {
    dorv::DI30* driver = Create(0);
    struct Property {
        std::int32_t number;
        bool known;
        std::int32_t value;
    };
    const Property properties[] = {{1, true, 1}, {5, true, 1}, {7, true, 400}, {9, true, 99999}, {8, false, -5}, {-1, false, -5}};
    for (const auto& p : properties) {
        std::int32_t value = -5;
        EXPECT_EQ(driver->GetDriverProperty(p.number, &value), p.known) << p.number;
        EXPECT_EQ(value, p.value) << p.number;
    }
    driver->SetLineStatus(5, 9);
    driver->SetLineStatus(39, 200);
    driver->SetLineStatus(40, 7);
    EXPECT_EQ(driver->GetLineStatus(5), 9);
    EXPECT_EQ(driver->GetLineStatus(39), 200);
    EXPECT_EQ(driver->GetLineStatus(40), 0) << "line 40 has no entry";
    EXPECT_EQ(driver->GetLineStatus(6), 0);
    delete driver;
}

TEST_F(Library, SettingsComeFromCnfIniInTheWindowsDirectory) {
    struct Case {
        const char* name;
        const char* file;  // nullptr: no settings file
        std::int32_t freeStart;
    };
    const Case cases[] = {{"no file: FreeStartEn defaults to true", nullptr, 1},
                          {"FreeStartEn=0 in the file", "[Dorv]\r\nFreeStartEn=0\r\n", 0},
                          {"section and key in other case", "[DORV]\r\nfreestarten=0\r\n", 0},
                          {"other section only", "[Other]\r\nFreeStartEn=0\r\n", 1}};
    for (const auto& c : cases) {
        const std::string path = dir_.File("cnf.INI");
        DeleteFileA(path.c_str());
        if (c.file) std::ofstream(path, std::ios::binary) << c.file;
        dorv::DI30* driver = Create(0);
        std::int32_t value = -1;
        EXPECT_TRUE(driver->GetDriverProperty(1, &value)) << c.name;
        EXPECT_EQ(value, c.freeStart) << c.name;
        delete driver;
    }
}

TEST_F(Library, StartFrameGoesOutThroughTheHostsLinkAndItsAckIsAccepted) {
    dorv::DI30* driver = Create(0);
    link_.Queue(dorv::test::Ack());
    driver->StartNozzle(1, 3, 2);  // PistStep 1: controller address 4, group 2, address 0x24
    ASSERT_EQ(link_.calls.size(), 1u);
    // 7F, group, then address and command each with its complement, 03 03, check byte.
    EXPECT_EQ(link_.calls[0].frame, (Bytes{0x7F, 0x02, 0x24, 0x5B, 0x32, 0x4D, 0x03, 0x03, 0x55}));
    EXPECT_EQ(link_.calls[0].line, 1);
    EXPECT_TRUE(link_.lastAccepted) << "the library's validator accepted the ack";
    EXPECT_EQ(driver->GetLineStatus(1), 1);
    delete driver;
}

TEST_F(Library, StatusRecordArrivesWhole) {
    dorv::DI30* driver = Create(0);
    link_.Queue(dorv::test::Data({'0'}));  // nozzle 1: status '0'
    link_.Queue(dorv::test::Data({'1'}));  // nozzle 2: status '1'
    const dorv::StatusRecord r = driver->GetStatus(1, 1, 2);
    EXPECT_EQ(r.bytes[0], 0xE2) << "summary: nozzle 2's code outranks 0xC0";
    EXPECT_EQ(r.bytes[2], 0xC0);
    EXPECT_EQ(r.bytes[4], 0xE2);
    EXPECT_EQ(r.bytes[14], 2);
    EXPECT_EQ(r.bytes[15], 0);
    delete driver;
}

// What a host's handler sees of a failure, printed where the death test can read it:
// "failure kind=K message=HEX" for the driver's structured exception, "other exception" else.
LONG WINAPI ReportFailure(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& r = *info->ExceptionRecord;
    if (r.ExceptionCode != dorv::win::kDriverFailureCode || r.NumberParameters != 3) {
        std::fprintf(stderr, "other exception %08lX\n", r.ExceptionCode);
    } else {
        const auto* text = reinterpret_cast<const unsigned char*>(r.ExceptionInformation[1]);
        std::fprintf(stderr, "failure kind=%lu message=", static_cast<unsigned long>(r.ExceptionInformation[0]));
        for (ULONG_PTR i = 0; i < r.ExceptionInformation[2]; ++i) std::fprintf(stderr, "%02X", text[i]);
        std::fprintf(stderr, "%s\n", text[r.ExceptionInformation[2]] == 0 ? " terminated" : "");
    }
    std::fflush(stderr);
    ExitProcess(42);
}

// A host whose link runs the host's message loop while it waits for the line, and the loop frees
// the driver: the first exchange deletes `driver`; any later call of the link ends the process.
class FreeingLink final : public dorv::test::RecordingLink {
public:
    dorv::DI30* driver = nullptr;

    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override {
        if (!driver) CalledAfterFree();
        delete std::exchange(driver, nullptr);
        return RecordingLink::Transact(line, frame, frameLength, reply, replyLength, mode);
    }
    std::int32_t DORV_CALL GetLineError(std::uint8_t line) override {
        if (!driver) CalledAfterFree();
        return RecordingLink::GetLineError(line);
    }
    void DORV_CALL ReportLineCode(std::uint8_t, std::int32_t) override { CalledAfterFree(); }
    void DORV_CALL ReportLineState(std::uint8_t, std::int32_t) override { CalledAfterFree(); }
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t) override { CalledAfterFree(); }

private:
    [[noreturn]] static void CalledAfterFree() {
        std::fprintf(stderr, "the freed driver called its link\n");
        std::fflush(stderr);
        ExitProcess(43);
    }
};

std::string Hex(const std::string& utf8) {
    std::string hex;
    char digits[3];
    for (unsigned char c : dorv::platform::Utf8ToCp1251(utf8)) {
        std::snprintf(digits, sizeof digits, "%02X", c);
        hex += digits;
    }
    return hex;
}

TEST_F(Library, FailuresReachTheHostAsStructuredExceptionsWithKindAndMessage) {
    struct Case {
        const char* behaviour;
        void (*prepare)(dorv::test::RecordingLink&, const dorv::test::TempDir&);
        void (*call)(GetDI30Fn, dorv::test::RecordingLink&);
        int kind;
        std::string message;  // the start of the message
    };
    const Case cases[] = {
        {"a column above 33 is the caller's fault", nullptr,
         [](GetDI30Fn create, dorv::test::RecordingLink& link) { create(0, 0, &link)->StartNozzle(1, 34, 1); }, 1, dorv::msg::kColumnRange},
        {"a link that cannot transact is the line's fault",
         [](dorv::test::RecordingLink& link, const dorv::test::TempDir&) { link.Queue(dorv::test::Failed(5)); },
         [](GetDI30Fn create, dorv::test::RecordingLink& link) { create(0, 0, &link)->StartNozzle(1, 1, 1); }, 2, dorv::msg::kStartPump},
        {"freed by the host inside an exchange of a slot: the slot fails as the line's, the link hears no more", nullptr,
         [](GetDI30Fn create, dorv::test::RecordingLink&) {
             FreeingLink link;
             link.Queue(dorv::test::Data({'0', '1', '2'}));
             link.driver = create(0, 0, &link);
             link.driver->GetParam(1, 1, 14);
         },
         2, dorv::msg::kGetParam},
        {"an unreadable settings file fails GetDI30 itself",
         [](dorv::test::RecordingLink&, const dorv::test::TempDir& dir) { CreateDirectoryA(dir.File("cnf.INI").c_str(), nullptr); },
         [](GetDI30Fn create, dorv::test::RecordingLink& link) { create(0, 0, &link); }, 1, "Cannot read file"},
    };
    for (const auto& c : cases) {
        if (c.prepare) c.prepare(link_, dir_);
        EXPECT_EXIT(
            {
                SetUnhandledExceptionFilter(&ReportFailure);
                c.call(create_, link_);
            },
            ::testing::ExitedWithCode(42), "failure kind=" + std::to_string(c.kind) + " message=" + Hex(c.message))
            << c.behaviour;
    }
}

TEST_F(Library, SlotsThatSucceedRaiseNothingAfterAFailureWasCaught) {
    // The guard leaves no state behind: a driver whose slots answer normally keeps doing so.
    dorv::DI30* driver = Create(0);
    link_.Queue(dorv::test::Refused());
    driver->StartNozzle(1, 1, 1);
    EXPECT_EQ(driver->GetLineStatus(1), 16) << "a refused start sets line status 16";
    delete driver;
}

}  // namespace
