// The INI layer on arbitrary file contents: the file is read, typed values are read from the
// keys the driver and the buffer files use, keys are written and the file is rewritten, then
// read again.
//
// Checked: integers and booleans read as the integer parser says; after the rewrite the keys
// written read back as written and the keys left alone keep their text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz_check.h"
#include "fuzz_files.h"
#include "platform/ini_file.h"

namespace {

using dorv::platform::IniFile;

struct Key {
    const char* section;
    const char* key;
};

// Keys of the settings file and of the buffer files, and a few that no program writes.
constexpr Key kProbed[] = {{"Dorv", "PistStep"},
                           {"Dorv", "FreeStartEn"},
                           {"Dorv", "ReadDecimalTRK"},
                           {"Parametr", "0"},
                           {"Parametr", "52"},
                           {"dorv", "piststep"},
                           {"", "x"},
                           {"Other", "Key"}};

void CheckTypedReads(const IniFile& ini) {
    for (const Key& k : kProbed) {
        const std::optional<std::string> text = ini.ReadString(k.section, k.key);
        const std::optional<std::int32_t> parsed = text ? dorv::platform::ParseInteger(*text) : std::nullopt;
        FUZZ_CHECK(ini.ReadInteger(k.section, k.key, -7) == parsed.value_or(-7));
        FUZZ_CHECK(ini.ReadBool(k.section, k.key, true) == (parsed.value_or(1) != 0));
        FUZZ_CHECK(ini.ReadBool(k.section, k.key, false) == (parsed.value_or(0) != 0));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dorv::fuzz::ScratchDir::Get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = dorv::fuzz::ScratchDir::Get().Write("fuzz.ini", data, size);
    std::optional<std::string> kept[sizeof kProbed / sizeof kProbed[0]];
    {
        IniFile ini(path);
        CheckTypedReads(ini);
        for (std::size_t i = 0; i < sizeof kProbed / sizeof kProbed[0]; ++i) kept[i] = ini.ReadString(kProbed[i].section, kProbed[i].key);
        ini.WriteInteger("Written", "Integer", -123456);
        ini.WriteBool("Written", "Bool", true);
        ini.WriteString("Written", "Text", "a=b; c");
        ini.UpdateFile();
    }
    const IniFile again(path);
    FUZZ_CHECK(again.ReadInteger("Written", "Integer", 0) == -123456);
    FUZZ_CHECK(again.ReadBool("Written", "Bool", false));
    FUZZ_CHECK(again.ReadString("Written", "Text") == std::optional<std::string>("a=b; c"));
    for (std::size_t i = 0; i < sizeof kProbed / sizeof kProbed[0]; ++i) {
        // "Written" is no probed section, so every probed key is as the first read found it.
        FUZZ_CHECK(again.ReadString(kProbed[i].section, kProbed[i].key) == kept[i]);
    }
    CheckTypedReads(again);
    return 0;
}
