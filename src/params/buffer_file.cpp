#include "buffer_file.h"

#include "platform/ini_file.h"
#include "texts.h"

namespace dorv::params {

void SaveParamsToFile(const CTRKParameters& catalogue, const std::string& path) {
    platform::IniFile ini(path);
    // The section is rebuilt, so it holds exactly the current keys and no stale ones.
    ini.EraseSection(text::kBufferSection);
    for (std::int32_t i = kFirstNumberedPosition; i < catalogue.GetCount(); ++i) {
        const CParameter& entry = catalogue.GetParameter(i);
        ini.WriteInteger(text::kBufferSection, std::to_string(entry.Number()), LowWord(entry.Value()));
    }
    ini.UpdateFile();
}

int LoadParamsFromFile(CTRKParameters& catalogue, const std::string& path) {
    const platform::IniFile ini(path);
    int loaded = 0;
    for (std::int32_t i = kFirstNumberedPosition; i < catalogue.GetCount(); ++i) {
        CParameter& entry = catalogue.GetParameter(i);
        const auto text = ini.ReadString(text::kBufferSection, std::to_string(entry.Number()));
        if (!text) continue;
        // Only a value that parses replaces Value: defaulting to the low 32 bits would cut a
        // wider value (the 13-digit ID reading) whenever its key is missing or damaged.
        if (const auto value = platform::ParseInteger(*text)) {
            entry.SetValue(*value);
            ++loaded;
        }
    }
    return loaded;
}

}  // namespace dorv::params
