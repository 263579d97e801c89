// Files the driver saves survive the saving process being killed at any moment: afterwards the
// file is one of the complete contents that were saved, never a mix or a cut-off one.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "driver/settings.h"
#include "params/buffer_file.h"
#include "temp_dir.h"

namespace dorv::e2e {
namespace {

constexpr int kKills = 20;

const DriverSettings kSettings[2] = {
    {},
    {.pistStep = 2,
     .freeStartEn = false,
     .startInLiter = false,
     .forceStart = true,
     .noVerifeAuthorization = true,
     .specAvtomatika = true,
     .readDecimalTRK = true},
};

// Two parameter sets that differ in every numbered entry.
const params::CTRKParameters& Parameters(int which) {
    static const auto sets = [] {
        std::array<std::shared_ptr<params::CTRKParameters>, 2> s{params::MakeFilledCatalogue(), params::MakeFilledCatalogue()};
        for (std::int32_t i = params::kFirstNumberedPosition; i < s[1]->GetCount(); ++i) s[1]->GetParameter(i).SetValue(1000 + i);
        return s;
    }();
    return *sets[static_cast<std::size_t>(which)];
}

bool SameValues(const params::CTRKParameters& a, const params::CTRKParameters& b) {
    for (std::int32_t i = params::kFirstNumberedPosition; i < a.GetCount(); ++i)
        if (a.GetParameter(i).Value() != b.GetParameter(i).Value()) return false;
    return true;
}

struct SavedFile {
    const char* label;
    const char* name;
    std::function<void(const std::string& path, int which)> save;
    std::function<bool(const std::string& path, int which)> holds;  // the file reads as content `which`
};

const SavedFile kFiles[] = {
    {"DriverSettings", "cnf.INI", [](const std::string& path, int which) { SaveSettings(path, kSettings[which]); },
     [](const std::string& path, int which) { return LoadSettings(path, {}) == kSettings[which]; }},
    {"ParameterBuffer", "parameters.buf", [](const std::string& path, int which) { params::SaveParamsToFile(Parameters(which), path); },
     [](const std::string& path, int which) {
         params::CTRKParameters loaded;
         loaded.FillParameters();
         params::LoadParamsFromFile(loaded, path);
         return SameValues(loaded, Parameters(which));
     }},
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A child that saves the two contents in turn, one handshake byte after each save.
pid_t StartSaver(const SavedFile& f, const std::string& path, int& handshake) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        try {
            for (int i = 0; i < 1000000; ++i) {
                f.save(path, i % 2);
                if (::write(fds[1], "s", 1) != 1) ::_exit(1);
            }
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    handshake = fds[0];
    return pid;
}

// Waits for `count` saves to complete; false when the saver stopped or stalled.
bool AwaitSaves(int handshake, int count) {
    for (int got = 0; got < count;) {
        pollfd p{handshake, POLLIN, 0};
        char buf[8];
        if (::poll(&p, 1, 5000) != 1) return false;
        const ssize_t n = ::read(handshake, buf, std::min<std::size_t>(sizeof buf, static_cast<std::size_t>(count - got)));
        if (n <= 0) return false;
        got += static_cast<int>(n);
    }
    return true;
}

void PrintTo(const SavedFile& f, std::ostream* os) { *os << f.name; }

class KilledWhileSaving : public ::testing::TestWithParam<SavedFile> {};

TEST_P(KilledWhileSaving, FileIsAlwaysOneWholeContent) {
    const SavedFile& f = GetParam();
    test::TempDir dir;
    const std::string path = dir.File(f.name);
    std::string text[2];
    for (int which : {0, 1, 0}) {
        f.save(path, which);
        text[which] = ReadAll(path);
    }
    ASSERT_NE(text[0], text[1]);
    ASSERT_TRUE(f.holds(path, 0));

    std::mt19937 rng(5000);
    std::uniform_int_distribution<int> saves(1, 6);
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        int handshake = -1;
        const pid_t pid = StartSaver(f, path, handshake);
        ASSERT_GT(pid, 0);
        const bool saving = AwaitSaves(handshake, saves(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(handshake);
        ASSERT_TRUE(saving) << "the saver stopped by itself, status " << status;
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

        const std::string now = ReadAll(path);
        const int which = now == text[1] ? 1 : 0;
        ASSERT_EQ(now, text[which]) << "neither complete content";
        EXPECT_TRUE(f.holds(path, which));
    }
    // The next save clears away the temporary files the killed ones left beside the file.
    f.save(path, 0);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{f.name});
}

INSTANTIATE_TEST_SUITE_P(SavedFiles, KilledWhileSaving, ::testing::ValuesIn(kFiles),
                         [](const ::testing::TestParamInfo<SavedFile>& info) { return info.param.label; });

}  // namespace
}  // namespace dorv::e2e
