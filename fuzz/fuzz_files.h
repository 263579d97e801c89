// A scratch folder for the whole fuzz run, named by DORV_WINDIR and DORV_SETTINGS_DIR so that
// the driver's settings file and the parameter buffers never touch the machine's own, and the
// fuzzer's bytes written as a file in it.
#pragma once

#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "fuzz_check.h"

namespace dorv::fuzz {

class ScratchDir {
public:
    static ScratchDir& Get() {
        static ScratchDir dir;
        return dir;
    }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // Writes the bytes to `name` in the folder, replacing what was there; returns the path.
    std::string Write(const std::string& name, const std::uint8_t* data, std::size_t size) const {
        const std::string path = File(name);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        FUZZ_CHECK(f != nullptr);
        FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
        FUZZ_CHECK(std::fclose(f) == 0);
        return path;
    }

    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

private:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorv-fuzz-XXXXXX").string();
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        path_ = pattern;
        ::setenv("DORV_WINDIR", path_.c_str(), 1);
        ::setenv("DORV_SETTINGS_DIR", path_.c_str(), 1);
    }

    std::string path_;
};

}  // namespace dorv::fuzz
