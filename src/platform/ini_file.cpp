#include "ini_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string_view>

#define SI_CONVERT_ICU
#include <SimpleIni.h>

#include "dorv5000/exceptions.h"

namespace dorv::platform {

namespace {

// The rest of a larger file is ignored, so a wrong or hostile file cannot exhaust memory.
constexpr std::size_t kMaxFileBytes = kIniReadLimit;

// What a save's temporary file is called beside the file it replaces: the file's name, this
// infix and six random letters or digits. A save holds an exclusive lock on its temporary file
// until the rename, so one that carries no lock is the leftover of a save that was killed.
constexpr std::string_view kTempInfix = ".save-";
constexpr std::size_t kTempRandom = 6;
constexpr std::string_view kTempLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

[[noreturn]] void Fail(const std::string& path, int err) { throw Exception("Cannot write file " + path + ": " + std::strerror(err)); }

// Reads at most kMaxFileBytes; `whole` says whether that was all of the file.
std::string ReadPrefix(const std::string& path, bool& whole) {
    std::error_code ec;
    whole = true;
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec)) throw Exception("Cannot read file " + path);
    std::ifstream in(path, std::ios::binary);
    if (!in) {
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
    if (in.bad()) throw Exception("Cannot read file " + path);
    whole = in.eof() || in.peek() == std::char_traits<char>::eof();
    return data;
}

// The name a section header line gives, compared as the parser compares names: blanks around
// it trimmed, ASCII letters without case.
std::string SectionKey(std::string_view line) {
    const std::size_t open = line.find('[');
    std::string_view name = line.substr(open + 1, line.find(']', open) - open - 1);
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t')) name.remove_prefix(1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    std::string key(name);
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

// The lines of a file as the parser is to see them, and the sections it is not to see.
struct SplitText {
    std::string parsed;
    // A section whose name appeared before, with its lines: the Windows profile functions
    // read only the first section of a name, so these are not read here either. They are
    // written back unchanged at the end of the file.
    std::string repeated;
};

// Drops what would make the parser swallow valid lines after it: NUL bytes end a line, and a
// line that opens a section name without closing it on the same line is ignored (the parser
// would file the keys after it under a section named by the bytes that follow). A carriage
// return ends a line here as it does for the parser, so a lone one cannot hide such a line.
// Sections whose name appeared before go aside.
SplitText KeepWellFormedLines(const std::string& data) {
    SplitText out;
    out.parsed.reserve(data.size());
    std::set<std::string> sections;
    std::string* into = &out.parsed;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = start;
        while (end < data.size() && data[end] != '\n' && data[end] != '\r' && data[end] != '\0') ++end;
        const std::string_view line(data.data() + start, end - start);
        const std::size_t first = line.find_first_not_of(" \t");
        const bool openSection = first != std::string_view::npos && line[first] == '[';
        const bool header = openSection && line.find(']', first) != std::string_view::npos;
        if (header) into = sections.insert(SectionKey(line)).second ? &out.parsed : &out.repeated;
        if (!openSection || header) {
            into->append(line);
            *into += '\n';
        }
        start = end + 1;
    }
    return out;
}

// The file a save replaces: `path` itself, or where the symbolic links it names lead, so that a
// link stays a link and its target takes the new content.
std::filesystem::path SaveTarget(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path target(path);
    for (int hops = 0;; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(target, ec))) return target;
        if (hops == 40) Fail(path, ELOOP);
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) Fail(path, ec.value());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
}

bool IsTempName(std::string_view name, std::string_view of) {
    if (name.size() != of.size() + kTempInfix.size() + kTempRandom) return false;
    if (!name.starts_with(of) || name.substr(of.size(), kTempInfix.size()) != kTempInfix) return false;
    return name.substr(of.size() + kTempInfix.size()).find_first_not_of(kTempLetters) == std::string_view::npos;
}

// Removes the temporary files that killed saves of `target` left beside it. One that another
// save still holds locked is that save's own and stays.
void RemoveLeftovers(const std::filesystem::path& target) {
    namespace fs = std::filesystem;
    const std::string name = target.filename().string();
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path& found = it->path();
        if (!IsTempName(found.filename().string(), name)) continue;
        const int fd = ::open(found.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlink(found.c_str());
        ::close(fd);
    }
}

std::string TempName(const std::filesystem::path& target) {
    static thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> letter(0, kTempLetters.size() - 1);
    std::string name = target.string() + std::string(kTempInfix);
    for (std::size_t i = 0; i < kTempRandom; ++i) name += kTempLetters[letter(random)];
    return name;
}

// The file is locked before it has a name: an unnamed file in the folder, given its name once
// held, so that no other save's cleanup can ever find it unheld. -1 where the folder's file
// system or /proc does not allow it.
int CreateHeldUnnamed(const std::filesystem::path& target, std::string& tempPath) {
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    // Mode 0666 less the umask, as any new file gets; an existing file's mode is copied later.
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = TempName(target);
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                tempPath = std::move(name);
                return fd;
            }
            if (errno != EEXIST) break;
        }
    }
    ::close(fd);
    return -1;
}

// Creates, locks and returns the temporary file for a save of `target`, named by kTempInfix.
int CreateTemp(const std::filesystem::path& target, std::string& tempPath, const std::string& shown) {
    if (const int fd = CreateHeldUnnamed(target, tempPath); fd >= 0) return fd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempName(target);
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) Fail(shown, errno);
        // Between creating and locking, another save's cleanup may have taken the file for a
        // leftover: then the name is no longer this file's, and another name is tried.
        struct stat held {
        }, named{};
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (locked && ::fstat(fd, &held) == 0 && ::stat(name.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            tempPath = std::move(name);
            return fd;
        }
        const int err = errno;
        ::close(fd);
        if (locked || err == EWOULDBLOCK) continue;
        ::unlink(name.c_str());
        Fail(shown, err);
    }
    Fail(shown, EEXIST);
}

}  // namespace

struct IniFile::Impl {
    // Several values for one key are kept as the file holds them; reads take the first, as
    // the Windows profile functions do, and a write replaces them all.
    CSimpleIniA ini{/*isUtf8=*/false, /*multiKey=*/true, /*multiLine=*/false};
    std::string repeated;  // sections whose name appeared before, kept as they were
    bool whole = true;     // the file was read to its end
};

IniFile::IniFile(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {
    impl_->ini.SetSpaces(false);
    std::string data = ReadPrefix(path_, impl_->whole);
    if (!data.empty()) {
        SplitText text = KeepWellFormedLines(data);
        impl_->ini.LoadData(text.parsed.data(), text.parsed.size());
        impl_->repeated = std::move(text.repeated);
    }
}

IniFile::~IniFile() = default;

std::optional<std::string> IniFile::ReadString(const std::string& section, const std::string& key) const {
    CSimpleIniA::TNamesDepend values;
    if (!impl_->ini.GetAllValues(section.c_str(), key.c_str(), values) || values.empty()) return std::nullopt;
    const auto first = std::min_element(values.begin(), values.end(), CSimpleIniA::Entry::LoadOrder());
    return std::string(first->pItem);
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    impl_->ini.SetValue(section.c_str(), key.c_str(), value.c_str(), nullptr, /*forceReplace=*/true);
}

void IniFile::EraseSection(const std::string& section) { impl_->ini.Delete(section.c_str(), nullptr, /*removeEmpty=*/true); }

void IniFile::UpdateFile() {
    // Saving what was read of a file cut at the read limit would cut the file.
    if (!impl_->whole) throw Exception("Cannot write file " + path_ + ": the file is too large");
    std::string content;
    if (impl_->ini.Save(content) < 0) throw Exception("Cannot write file " + path_);
    if (!impl_->repeated.empty() && !content.empty() && content.back() != '\n') content += '\n';
    content += impl_->repeated;
    WriteFileAtomically(path_, content);
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
    namespace fs = std::filesystem;
    const fs::path target = SaveTarget(path);
    // A missing folder is made for the file named, never along a symbolic link: a link may lead
    // anywhere, and a dangling one is no order to build its way.
    std::error_code ec;
    if (target == fs::path(path) && target.has_parent_path()) fs::create_directories(target.parent_path(), ec);

    // The file keeps its mode and, where allowed, its owner. One that may not be written is not
    // replaced, although the folder's write permission alone would allow it.
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && (old.st_mode & 0222) == 0) Fail(path, EACCES);
    if (exists && ::access(target.c_str(), W_OK) != 0) Fail(path, errno);

    RemoveLeftovers(target);
    std::string tmp;
    const int fd = CreateTemp(target, tmp, path);
    bool ok = true;
    if (exists) {
        // Only root may give the file to another owner; others keep at least its group when
        // they are in it. Neither is a reason to fail the save.
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            [[maybe_unused]] const int kept = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        }
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    std::size_t done = 0;
    while (ok && done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
    const int err = errno;
    if (!ok) ::unlink(tmp.c_str());
    // Closing releases the lock, only after the rename: until then the file is a save's own.
    if (::close(fd) != 0 && ok) Fail(path, errno);
    if (!ok) Fail(path, err);
}

}  // namespace dorv::platform
