// INI files on Windows through the system's profile functions (GetPrivateProfileStringA,
// WritePrivateProfileStringA), the functions TIniFile itself calls, so a file reads and writes
// exactly as the stations' other programs see it: the same case rules, comments, quoting and
// handling of malformed lines.
//
// Texts are UTF-8 inside the library; the profile functions take and give 8-bit texts, and on
// the stations that is CP1251, so names, values and paths are converted at this boundary.
//
// Whole-file rewrite: the profile functions rewrite the file in place on every call, as
// TIniFile does, and a host killed between two of them would leave half of the change. This
// layer therefore lets them work on a copy beside the file and puts the copy in place with one
// MoveFileExA(MOVEFILE_REPLACE_EXISTING) when the caller commits with UpdateFile, like the
// temporary file and rename of the other platforms. A reader sees the old or the new file,
// never a mixture; an object dropped without UpdateFile changes nothing. The copy is named
// after the file (NAME.save-XXXXXX), so that the copy a killed host left behind is known as the
// file's and removed by a later save once it is clearly abandoned.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "dorv5000/exceptions.h"
#include "platform/cp1251.h"
#include "platform/ini_file.h"

namespace dorv::platform {

namespace {

// Values longer than this are cut; settings and buffer files hold short numbers and names.
constexpr DWORD kMaxValueBytes = 1u << 20;

std::string Native(const std::string& utf8) { return Utf8ToCp1251(utf8); }

[[noreturn]] void Fail(const char* what, const std::string& path) {
    throw Exception(std::string(what) + " " + path + ": Windows error " + std::to_string(GetLastError()));
}

bool Exists(const std::string& file) { return GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES; }

// `file` up to and including its last separator; empty for a bare name.
std::string FolderPrefix(const std::string& file) {
    const std::size_t slash = file.find_last_of("\\/:");
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

// A save's temporary file is the file's name, this infix and six random letters or digits.
constexpr std::string_view kTempInfix = ".save-";
constexpr std::size_t kTempRandom = 6;
constexpr std::string_view kTempLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// A save lives for milliseconds; a temporary file untouched for this long was left by a save
// that was killed.
constexpr ULONGLONG kLeftoverAge = 10ull * 60 * 10'000'000;  // 10 minutes in 100 ns units

bool IsTempName(std::string_view name, std::string_view of) {
    if (name.size() != of.size() + kTempInfix.size() + kTempRandom) return false;
    if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, name.data(), static_cast<int>(of.size()), of.data(),
                       static_cast<int>(of.size())) != CSTR_EQUAL)
        return false;
    if (name.substr(of.size(), kTempInfix.size()) != kTempInfix) return false;
    return name.substr(of.size() + kTempInfix.size()).find_first_not_of(kTempLetters) == std::string_view::npos;
}

ULONGLONG Ticks(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// Removes the temporary files that killed saves of `file` left beside it.
void RemoveLeftovers(const std::string& file) {
    const std::string folder = FolderPrefix(file);
    const std::string name = file.substr(folder.size());
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((file + std::string(kTempInfix) + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (!IsTempName(found.cFileName, name)) continue;
        if (Ticks(now) < Ticks(found.ftLastWriteTime) + kLeftoverAge) continue;
        DeleteFileA((folder + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

// Creates the folders leading to `file`. Failures show up when the file itself is written.
void CreateParentFolders(const std::string& file) {
    for (std::size_t at = file.find_first_of("\\/", 1); at != std::string::npos; at = file.find_first_of("\\/", at + 1)) {
        if (file[at - 1] == ':' || file[at - 1] == '\\' || file[at - 1] == '/') continue;
        CreateDirectoryA(file.substr(0, at).c_str(), nullptr);
    }
}

// An empty file with a fresh name in the folder of `file`, so that moving it over `file` is a
// rename within one volume. What killed saves of the file left there goes first.
std::string CreateSibling(const std::string& file, const std::string& shown) {
    CreateParentFolders(file);
    RemoveLeftovers(file);
    static std::atomic<unsigned> counter{0};
    std::mt19937 random(static_cast<unsigned>(GetTickCount64()) ^ GetCurrentProcessId() * 2654435761u ^ counter.fetch_add(1) * 40503u);
    std::uniform_int_distribution<std::size_t> letter(0, kTempLetters.size() - 1);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = file + std::string(kTempInfix);
        for (std::size_t i = 0; i < kTempRandom; ++i) name += kTempLetters[letter(random)];
        const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
            return name;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    Fail("Cannot write file", shown);
}

// Flushes `temp` to the disk and puts it in the place of `file` in one step.
void MoveIntoPlace(const std::string& temp, const std::string& file, const std::string& shown) {
    const HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE;
    if (ok) {
        ok = FlushFileBuffers(h) != 0;
        CloseHandle(h);
    }
    ok = ok && MoveFileExA(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    if (!ok) {
        const DWORD err = GetLastError();
        DeleteFileA(temp.c_str());
        SetLastError(err);
        Fail("Cannot write file", shown);
    }
}

}  // namespace

struct IniFile::Impl {
    std::string file;     // the path in the stations' code page
    std::string pending;  // the copy that takes the writes until UpdateFile, or empty

    const std::string& Source() const { return pending.empty() ? file : pending; }

    void BeginWrite(const std::string& shown) {
        if (!pending.empty()) return;
        std::string copy = CreateSibling(file, shown);
        if (Exists(file) && !CopyFileA(file.c_str(), copy.c_str(), FALSE)) {
            const DWORD err = GetLastError();
            DeleteFileA(copy.c_str());
            SetLastError(err);
            Fail("Cannot write file", shown);
        }
        pending = std::move(copy);
    }

    ~Impl() {
        if (!pending.empty()) DeleteFileA(pending.c_str());
    }
};

IniFile::IniFile(std::string path) : path_(std::move(path)), impl_(std::make_unique<Impl>()) {
    impl_->file = Native(path_);
    // The profile functions read anything they cannot open as an empty file; a file that is
    // there but unreadable (a folder in its place, no access) is an error here, as elsewhere.
    const DWORD attributes = GetFileAttributesA(impl_->file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw Exception("Cannot read file " + path_);
    const HANDLE h = CreateFileA(impl_->file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw Exception("Cannot read file " + path_);
    CloseHandle(h);
}

IniFile::~IniFile() = default;

std::optional<std::string> IniFile::ReadString(const std::string& section, const std::string& key) const {
    const std::string s = Native(section), k = Native(key);
    const auto read = [&](const char* fallback) {
        std::vector<char> buffer(256);
        for (;;) {
            const DWORD n = GetPrivateProfileStringA(s.c_str(), k.c_str(), fallback, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     impl_->Source().c_str());
            // A value that fills the buffer may have been cut: ask again with more room.
            if (n + 1 < buffer.size() || buffer.size() >= kMaxValueBytes) return std::string(buffer.data(), n);
            buffer.resize(buffer.size() * 2);
        }
    };
    // The functions give the default for a missing key; two different defaults tell a missing
    // key from a value that happens to equal one of them.
    std::string value = read("\x01");
    if (value == "\x01" && read("\x02") == "\x02") return std::nullopt;
    return Cp1251ToUtf8(value);
}

void IniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    impl_->BeginWrite(path_);
    if (!WritePrivateProfileStringA(Native(section).c_str(), Native(key).c_str(), Native(value).c_str(), impl_->pending.c_str()))
        Fail("Cannot write file", path_);
}

void IniFile::EraseSection(const std::string& section) {
    impl_->BeginWrite(path_);
    if (!WritePrivateProfileStringA(Native(section).c_str(), nullptr, nullptr, impl_->pending.c_str())) Fail("Cannot write file", path_);
}

void IniFile::UpdateFile() {
    // The file is written even when nothing changed, so that it exists afterwards.
    impl_->BeginWrite(path_);
    MoveIntoPlace(impl_->pending, impl_->file, path_);
    impl_->pending.clear();
}

void WriteFileAtomically(const std::string& path, const std::string& content) {
    const std::string file = Native(path);
    const std::string temp = CreateSibling(file, path);
    const HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE;
    for (std::size_t done = 0; ok && done < content.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(h, content.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (!ok) {
        const DWORD err = GetLastError();
        DeleteFileA(temp.c_str());
        SetLastError(err);
        Fail("Cannot write file", path);
    }
    MoveIntoPlace(temp, file, path);
}

}  // namespace dorv::platform
