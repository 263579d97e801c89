// A temporary folder for one test, named by WINDIR while it lives, so the driver's settings
// file and parameter buffers never touch the machine's own.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace dorv::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorv-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
        const char* old = std::getenv("WINDIR");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        ::setenv("WINDIR", path_.c_str(), 1);
        ::unsetenv("DORV_SETTINGS_DIR");
    }
    ~TempDir() {
        if (hadOld_) ::setenv("WINDIR", old_.c_str(), 1);
        else ::unsetenv("WINDIR");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace dorv::test
