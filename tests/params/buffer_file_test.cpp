#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "params/buffer_file.h"
#include "temp_dir.h"

namespace dorv::params {
namespace {

struct BufferFile : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.File("set.par");
    std::shared_ptr<CTRKParameters> catalogue = MakeFilledCatalogue();
    CParameter& Entry(int position) { return catalogue->GetParameter(position); }
    void Write(const std::string& content) { std::ofstream(path, std::ios::binary) << content; }
    // The file's text with line ends as LF: Windows writes its INI files with CR LF.
    std::string Read() {
        std::ostringstream s;
        s << std::ifstream(path, std::ios::binary).rdbuf();
        std::string text = s.str();
        std::erase(text, '\r');
        return text;
    }
};

TEST_F(BufferFile, SaveKeepsOtherSectionsAndRewritesTheParameterSectionWhole) {
    Write("[Other]\nkeep=1\n[Parametr]\n99=5\n");
    Entry(7).SetValue(1);
    Entry(8).SetValue(2);
    Entry(55).SetValue(9876543210987);  // the 13-digit ID reading keeps its low 32 bits
    SaveParamsToFile(*catalogue, path);
    std::string expected = "[Parametr]\n";
    for (int i = 7; i < 57; ++i) expected += std::to_string(Entry(i).Number()) + "=" + std::to_string(LowWord(Entry(i).Value())) + "\n";
    EXPECT_NE(Read().find("[Other]\nkeep=1\n"), std::string::npos);
    EXPECT_NE(Read().find(expected), std::string::npos);
    EXPECT_NE(Read().find("0=1\n2=2\n"), std::string::npos);
    EXPECT_NE(Read().find("\n52=-1881569813\n"), std::string::npos);
    EXPECT_EQ(Read().find("99="), std::string::npos);
}

TEST_F(BufferFile, SaveClearsAwayWhatAKilledSaveOfTheSameFileLeft) {
    Write("[Parametr]\n0=1\n");
    const std::string leftover = path + ".save-k1LLed", other = dir.File("other.par.save-k1LLed");
    for (const std::string& name : {leftover, other}) {
        std::ofstream(name, std::ios::binary) << "[Parametr]\n0=7\n";
        std::filesystem::last_write_time(name, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
    }
    SaveParamsToFile(*catalogue, path);
    EXPECT_FALSE(std::filesystem::exists(leftover));
    EXPECT_TRUE(std::filesystem::exists(other));
}

TEST_F(BufferFile, LoadTakesSignedValuesAndLeavesWhatItCannotRead) {
    Entry(9).SetValue(2);
    Entry(55).SetValue(9876543210987);
    Write("[parametr]\n0=-5\n3=abc\n4=$10\n");
    EXPECT_EQ(LoadParamsFromFile(*catalogue, path), 2);
    EXPECT_EQ(Entry(7).Value(), -5);
    EXPECT_EQ(Entry(9).Value(), 2);  // not a number: unchanged
    EXPECT_EQ(Entry(10).Value(), 16);
    EXPECT_EQ(Entry(55).Value(), 9876543210987);  // no key: all 64 bits kept
}

TEST_F(BufferFile, DamagedFilesLoadWhatIsValidAndNothingElse) {
    const struct {
        const char* behaviour;
        std::string content;
        int loaded;
    } cases[] = {
        {"no section", "0=1\n2=2\n", 0},
        {"binary garbage", std::string("\x00\xff\x01[Parametr\x00=\n\xfe", 11), 0},
        {"valid keys among noise", "junk\n[Parametr]\n==\n0=1\n=3\n2\n5=99999999999\n6=2\n", 2},
        {"huge file", "[Parametr]\n0=1\n" + std::string(17u << 20, 'x'), 1},
    };
    for (const auto& c : cases) {
        Write(c.content);
        EXPECT_EQ(LoadParamsFromFile(*MakeFilledCatalogue(), path), c.loaded) << c.behaviour;
    }
    EXPECT_EQ(LoadParamsFromFile(*catalogue, dir.File("missing.par")), 0);
}

}  // namespace
}  // namespace dorv::params
