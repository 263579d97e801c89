// What a save may not do to the file it replaces: cut it, change who may read or write it, turn a
// link into a copy, or leave the litter of a killed save behind for ever. POSIX files only.
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "dorv5000/exceptions.h"
#include "params/buffer_file.h"
#include "temp_dir.h"

namespace dorv::params {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}
void WriteAll(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }
unsigned ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

struct Keeping : ::testing::Test {
    test::TempDir dir;
    std::string path = dir.File("set.par");
    std::shared_ptr<CTRKParameters> catalogue = MakeFilledCatalogue();
    Keeping() { catalogue->GetParameter(7).SetValue(4242); }
    bool HoldsTheSave(const std::string& file) { return ReadAll(file).find("\n0=4242\n") != std::string::npos; }
};

TEST_F(Keeping, SaveKeepsWhatTheFileHoldsAndWhoMayWriteIt) {
    const std::string original = "[Other]\nkeep=1\n[Parametr]\n0=1\n";
    const std::string huge = "[Parametr]\n0=1\n" + std::string(17u << 20, ';') + "\n[Other]\nkeep=1\n";
    int held = -1;  // a temporary file a save still running holds locked
    const struct {
        const char* behaviour;
        std::function<void()> prepare;
        bool refused;
        std::function<bool()> holds;
    } cases[] = {
        {"a file beyond the read limit is not saved over, so nothing of it is cut", [&] { WriteAll(path, huge); }, true,
         [&] { return ReadAll(path) == huge; }},
        {"a read-only file is not replaced",
         [&] {
             WriteAll(path, original);
             fs::permissions(path, fs::perms(0444));
         },
         true, [&] { return ReadAll(path) == original && ModeOf(path) == 0444; }},
        {"a file readable by all stays so",
         [&] {
             WriteAll(path, original);
             fs::permissions(path, fs::perms(0644));
         },
         false, [&] { return HoldsTheSave(path) && ModeOf(path) == 0644; }},
        {"a symbolic link stays a link, and the file in the other folder takes the save",
         [&] {
             fs::create_directory(dir.File("real"));
             WriteAll(dir.File("real/set.par"), original);
             fs::create_symlink("real/set.par", path);
         },
         false,
         [&] {
             return fs::is_symlink(fs::symlink_status(path)) && HoldsTheSave(dir.File("real/set.par")) &&
                    ReadAll(dir.File("real/set.par")).find("keep=1") != std::string::npos;
         }},
        {"a dangling link into a missing folder builds no folder", [&] { fs::create_symlink("gone/set.par", path); }, true,
         [&] { return !fs::exists(dir.File("gone")) && fs::is_symlink(fs::symlink_status(path)); }},
        {"a killed save's temporary file goes; a running save's and other files stay",
         [&] {
             WriteAll(path, original);
             for (const char* name :
                  {"set.par.save-k1LLed", "set.par.save-RUNNIN", "set.par.backup", "other.par.save-k1LLed", "set.par.save-k1LLed.keep"})
                 WriteAll(dir.File(name), "[Parametr]\n0=7\n");
             held = ::open(dir.File("set.par.save-RUNNIN").c_str(), O_RDONLY | O_CLOEXEC);
             ::flock(held, LOCK_EX);
         },
         false,
         [&] {
             std::vector<std::string> names;
             for (const auto& e : fs::directory_iterator(dir.Path())) names.push_back(e.path().filename());
             std::sort(names.begin(), names.end());
             return names == std::vector<std::string>{"other.par.save-k1LLed", "set.par", "set.par.backup", "set.par.save-RUNNIN",
                                                      "set.par.save-k1LLed.keep"};
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        for (const auto& e : fs::directory_iterator(dir.Path())) fs::remove_all(e.path());
        c.prepare();
        bool refused = false;
        try {
            SaveParamsToFile(*catalogue, path);
        } catch (const Exception& e) {
            refused = true;
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_EQ(refused, c.refused);
        EXPECT_TRUE(c.holds());
        if (held >= 0) ::close(std::exchange(held, -1));
    }
}

// Saves of one file from two threads at once: neither takes the other's fresh temporary file
// for a killed save's, and nothing is left behind.
TEST_F(Keeping, SavesOfOneFileAtOnceAllSucceed) {
    std::atomic<int> failed{0};
    auto saves = [&] {
        for (int i = 0; i < 300; ++i) {
            try {
                SaveParamsToFile(*catalogue, path);
            } catch (const Exception&) {
                ++failed;
            }
        }
    };
    std::thread other(saves);
    saves();
    other.join();
    EXPECT_EQ(failed, 0);
    EXPECT_TRUE(HoldsTheSave(path));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace dorv::params
