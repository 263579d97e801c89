// A temporary folder for one test, named by DORV_WINDIR while it lives, so the driver's settings
// file and parameter buffers never touch the machine's own (on Windows the Windows directory
// would otherwise come from the system, not from the environment).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#if defined(_WIN32)
#include <process.h>
#endif

namespace dorv::test {

class TempDir {
public:
    TempDir() {
        path_ = MakeFolder();
        const char* old = std::getenv(kVariable);
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        SetEnv(kVariable, path_);
        UnsetEnv("DORV_SETTINGS_DIR");
    }
    ~TempDir() {
        if (hadOld_)
            SetEnv(kVariable, old_);
        else
            UnsetEnv(kVariable);
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + kSeparator + name; }

private:
    static constexpr const char* kVariable = "DORV_WINDIR";

#if defined(_WIN32)
    static constexpr char kSeparator = '\\';

    static std::string MakeFolder() {
        namespace fs = std::filesystem;
        static unsigned counter = 0;
        const fs::path base = fs::temp_directory_path();
        for (;;) {
            const fs::path p = base / ("dorv-test-" + std::to_string(::_getpid()) + "-" + std::to_string(++counter));
            if (fs::create_directory(p)) return p.string();
        }
    }
    // An empty value removes the variable on Windows.
    static void SetEnv(const char* name, const std::string& value) { ::_putenv_s(name, value.c_str()); }
    static void UnsetEnv(const char* name) { ::_putenv_s(name, ""); }
#else
    static constexpr char kSeparator = '/';

    static std::string MakeFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorv-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create " + pattern);
        return pattern;
    }
    static void SetEnv(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }
    static void UnsetEnv(const char* name) { ::unsetenv(name); }
#endif

    std::string path_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace dorv::test
