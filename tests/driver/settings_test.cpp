#include "driver/settings.h"

#include <gtest/gtest.h>

#include <fstream>

#include "dorv5000/exceptions.h"
#include "driver/tvm30.h"
#include "platform/ini_file.h"
#include "recording_link.h"
#include "temp_dir.h"

namespace dorv {
namespace {

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(DriverSettings, CreationFlagsAndFileCombine) {
    struct Case {
        const char* name;
        std::int32_t flags;
        const char* file;  // nullptr: no settings file
        DriverSettings expected;
    };
    const Case cases[] = {
        {"no file, flags 0", 0, nullptr, {1, true, true, false, false, false, false}},
        {"no file, flags F0", 0xF0, nullptr, {1, true, false, true, true, true, false}},
        {"bits above the low byte are ignored", 0x1F0, nullptr, {1, true, false, true, true, true, false}},
        {"PistStep keeps its low byte", 0, "[Dorv]\nPistStep=258\n", {2, true, true, false, false, false, false}},
        {"file wins over flags",
         0xF0,
         "[Dorv]\nStartInLiter=1\nForceStart=0\nNoVerifeAuthorization=0\nSpecAvtomatika=0\nReadDecimalTRK=1\nFreeStartEn=0\n",
         {1, false, true, false, false, false, true}},
        {"names compare without case", 0, "[dorv]\npiststep=2\nforcestart=1\n", {2, true, true, true, false, false, false}},
        {"a value that is no number keeps the default",
         0x40,
         "[Dorv]\nForceStart=yes\nPistStep=two\n",
         {1, true, true, true, false, false, false}},
        {"other sections do not count", 0, "[Other]\nPistStep=2\n", {1, true, true, false, false, false, false}},
        {"a lone carriage return does not hide an open section name from the keys after it",
         0,
         "[Dorv]\nForceStart=1\nx=1\r[y\nPistStep=2\n",
         {2, true, true, true, false, false, false}},
        {"a key twice: the first value counts",
         0,
         "[Dorv]\nPistStep=2\nForceStart=1\nPistStep=3\nForceStart=0\n",
         {2, true, true, true, false, false, false}},
        {"a section twice: only the first counts",
         0,
         "[Dorv]\nPistStep=2\n[Other]\nx=1\n[dorv]\nPistStep=3\nForceStart=1\n",
         {2, true, true, false, false, false, false}},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        if (c.file) WriteText(dir.File("cnf.INI"), c.file);
        test::RecordingLink link;
        TVM30 driver(c.flags, &link);
        EXPECT_EQ(driver.Settings(), c.expected) << c.name;
        EXPECT_TRUE(link.calls.empty()) << c.name << ": nothing is sent at creation";
    }
}

TEST(DriverSettings, SaveWritesAllSevenKeysAndKeepsTheRest) {
    test::TempDir dir;
    const std::string path = dir.File("cnf.INI");
    WriteText(path, "[Station]\nName=North\n[Dorv]\nPistStep=1\nExtra=5\n[Dorv]\nUnread=7\n");
    SaveSettings(path, {2, false, true, true, false, true, true});
    const std::string text = ReadText(path);
    EXPECT_NE(text.find("Name=North"), std::string::npos);
    EXPECT_NE(text.find("Extra=5"), std::string::npos);
    EXPECT_NE(text.find("Unread=7"), std::string::npos);  // in a repeated section: kept, not read
    for (const char* line : {"PistStep=2", "FreeStartEn=0", "StartInLiter=1", "ForceStart=1", "NoVerifeAuthorization=0", "SpecAvtomatika=1",
                             "ReadDecimalTRK=1"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(LoadSettings(path, {}), (DriverSettings{2, false, true, true, false, true, true}));
}

TEST(DriverSettings, LiveSettingsSaveIntoTheWindowsDirectory) {
    test::TempDir dir;
    test::RecordingLink link;
    TVM30 driver(0, &link);
    DriverSettings s = driver.Settings();
    s.specAvtomatika = true;
    driver.ApplySettings(s);
    driver.SaveSettings();
    TVM30 second(0, &link);
    EXPECT_TRUE(second.Settings().specAvtomatika);
}

TEST(IniFile, IntegersAsTheStationsToolsWriteThem) {
    struct Case {
        const char* text;
        std::optional<std::int32_t> value;
    };
    const Case cases[] = {{"12", 12},
                          {"-5", -5},
                          {" 7 ", 7},
                          {"$1F", 31},
                          {"0x10", 16},
                          {"2147483647", INT32_MAX},
                          {"-2147483648", INT32_MIN},
                          {"2147483648", std::nullopt},
                          {"", std::nullopt},
                          {"1.5", std::nullopt},
                          {"abc", std::nullopt},
                          {"-", std::nullopt},
                          {"99999999999999999999", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(platform::ParseInteger(c.text), c.value) << "'" << c.text << "'";
}

TEST(IniFile, BinaryGarbageReadsAsWhatIsValid) {
    test::TempDir dir;
    const std::string path = dir.File("junk.ini");
    std::string junk = "\x01\x02\n[Parametr]\n7=3\n\xff\xfe=\n[[[\n=9\n";
    junk.push_back('\0');
    junk += "\n8=4";
    WriteText(path, junk);
    platform::IniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("Parametr", "7", -1), 3);
    EXPECT_EQ(ini.ReadInteger("Parametr", "8", -1), 4);
    EXPECT_EQ(ini.ReadInteger("Parametr", "9", -1), -1);
}

TEST(IniFile, AFolderInThePlaceOfTheFileIsAnError) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.File("cnf.INI"));
    test::RecordingLink link;
    EXPECT_THROW(TVM30(0, &link), Exception);
}

}  // namespace
}  // namespace dorv
