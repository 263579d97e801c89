#include "ini_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#define SI_CONVERT_ICU
#include <SimpleIni.h>

#include "dorv5000/exceptions.h"

namespace dorv::platform {

namespace {

// Buffer and settings files are a few kilobytes; a larger file is read up to this size and the
// rest is ignored, so a wrong or hostile file cannot exhaust memory.
constexpr std::size_t kMaxFileBytes = 16u << 20;

std::string ReadPrefix(const std::string& path, bool& exists) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec))
        throw Exception("Cannot read file " + path);
    std::ifstream in(path, std::ios::binary);
    exists = static_cast<bool>(in);
    if (!exists) {
        if (std::filesystem::exists(path, ec)) throw Exception("Cannot read file " + path);
        return {};
    }
    // Read piece by piece: a file of a few hundred bytes must not cost a buffer of the limit.
    std::string data;
    std::string piece(64u << 10, '\0');
    while (in && data.size() < kMaxFileBytes) {
        const std::size_t want = std::min(piece.size(), kMaxFileBytes - data.size());
        in.read(piece.data(), static_cast<std::streamsize>(want));
        data.append(piece, 0, static_cast<std::size_t>(in.gcount()));
    }
    return data;
}

// Drops what would make the parser swallow valid lines after it: NUL bytes end a line, and a
// line that opens a section name without closing it on the same line is ignored (the parser
// would file the keys after it under a section named by the bytes that follow). A carriage
// return ends a line here as it does for the parser, so a lone one cannot hide such a line.
std::string KeepWellFormedLines(const std::string& data) {
    std::string out;
    out.reserve(data.size());
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = start;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r' && data[end] != '\0') ++end;
        const std::string_view line(data.data() + start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        const bool openSection = first != std::string_view::npos && line[first] == '[';
        if (!openSection || line.find(']', first) != std::string_view::npos) {
            out.append(line);
            out += '\n';
        }
        start = end + 1;
    }
    return out;
}

}  // namespace

struct IniFile::Impl {
    CSimpleIniA ini{/*isUtf8=*/false, /*multiKey=*/false, /*multiLine=*/false};
};

IniFile::IniFile(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {
    impl_->ini.SetSpaces(false);
    bool exists = false;
    std::string data = ReadPrefix(path_, exists);
    if (!data.empty()) {
        const std::string text = KeepWellFormedLines(data);
        impl_->ini.LoadData(text.data(), text.size());
    }
}

IniFile::~IniFile() = default;

std::optional<std::string> IniFile::ReadString(const std::string& section,
                                               const std::string& key) const {
    const char* v = impl_->ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!v) return std::nullopt;
    return std::string(v);
}

void IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value) {
    impl_->ini.SetValue(section.c_str(), key.c_str(), value.c_str());
}

void IniFile::EraseSection(const std::string& section) {
    impl_->ini.Delete(section.c_str(), nullptr, /*removeEmpty=*/true);
}

void IniFile::UpdateFile() {
    std::string content;
    if (impl_->ini.Save(content) < 0) throw Exception("Cannot write file " + path_);
    WriteFileAtomically(path_, content);
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ec);
    std::string tmp = path + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) throw Exception("Cannot write file " + path + ": " + std::strerror(errno));
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) ok = false;
        else done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        const int err = errno;
        ::unlink(tmp.c_str());
        throw Exception("Cannot write file " + path + ": " + std::strerror(err));
    }
}

}  // namespace dorv::platform
