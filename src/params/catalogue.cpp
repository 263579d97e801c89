#include "catalogue.h"

#include <cstdio>

#include "dorv5000/exceptions.h"
#include "texts.h"

namespace dorv::params {

void CTRKParameters::Add(std::uint8_t number, std::uint8_t digits, std::uint8_t decimals, const char* name, const char* unit,
                         std::int64_t value, std::int64_t min, std::int64_t max, std::uint8_t type, std::uint8_t section, bool skipWriteAll,
                         std::initializer_list<const char*> choices) {
    auto entry = std::make_unique<CParameter>(number, digits, decimals, name, unit, value, min, max, type, section, skipWriteAll);
    for (const char* choice : choices) entry->AddChoice(choice);
    entries_.push_back(std::move(entry));
}

CParameter& CTRKParameters::GetParameter(std::int32_t position) {
    if (position < 0 || position >= GetCount()) {
        char message[64];
        std::snprintf(message, sizeof message, text::kListIndexFormat, position);
        throw Exception(message);
    }
    return *entries_[static_cast<std::size_t>(position)];
}

const CParameter& CTRKParameters::GetParameter(std::int32_t position) const {
    return const_cast<CTRKParameters*>(this)->GetParameter(position);
}

std::shared_ptr<CTRKParameters> MakeFilledCatalogue() {
    auto catalogue = std::make_shared<CTRKParameters>();
    catalogue->FillParameters();
    return catalogue;
}

}  // namespace dorv::params
