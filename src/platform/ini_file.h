// INI files as the stations' tools keep them: section and key names compare without regard to
// case, a key that appears twice in a section gives its first value, a section whose name
// appeared before is not read (as the Windows profile functions read only the first), sections
// and keys this program does not know are kept as they were, and a file is rewritten through a
// temporary file and a rename, so a crash never leaves half a file.
// On Windows the system's profile functions read and write the files (as TIniFile does) and
// texts are converted between UTF-8 and CP1251; elsewhere SimpleIni keeps them in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace dorv::platform {

// Buffer and settings files are a few kilobytes; of a larger file only this much is read, and
// such a file is never saved over (what was not read would be lost).
inline constexpr std::size_t kIniReadLimit = 16u << 20;

class IniFile {
public:
    // Reads the file when it exists; a missing file reads as empty. Raises dorv::Exception
    // when the file exists and cannot be read.
    explicit IniFile(std::string path);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    const std::string& Path() const { return path_; }

    std::optional<std::string> ReadString(const std::string& section, const std::string& key) const;
    // A missing key, or a value that is not a 32-bit integer, gives the default.
    std::int32_t ReadInteger(const std::string& section, const std::string& key, std::int32_t defaultValue) const;
    // Booleans are integers: 0 is false, any other number true; anything else the default.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, std::int32_t value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    void EraseSection(const std::string& section);

    // Writes the whole file: temporary file in the same folder, flushed, then renamed over the
    // old one. Raises dorv::Exception when the folder or the file cannot be written, and, leaving
    // the file as it is, when the file could not be read whole (it exceeds the read limit).
    void UpdateFile();

private:
    struct Impl;
    std::string path_;
    std::unique_ptr<Impl> impl_;
};

// Parses a TIniFile-style integer: optional blanks and sign, decimal digits, or hexadecimal
// with "0x" or "$"; the whole text must be used and fit 32 bits.
std::optional<std::int32_t> ParseInteger(const std::string& text);

// Writes `content` to `path` through a temporary file and a rename (parent folder created).
// An existing file keeps its permissions (and owner, where the user may keep it); one the user
// may not write, or that has no write permission at all, is not replaced. A symbolic link stays
// a link: the file it leads to is replaced, from a temporary file in that file's folder. The
// temporary files of earlier saves of the same file that were killed are removed. Raises
// dorv::Exception on failure, with the old file left whole.
void WriteFileAtomically(const std::string& path, const std::string& content);

}  // namespace dorv::platform
