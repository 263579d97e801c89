// CTRKParameters: the fixed, ordered list of controller parameters the service window offers.
// Position p is grid row p + 1; positions 7 to the end are the numbered parameters
// (section 2) that the read and write runs and the buffer files handle.
//
// Thread safety: the list is built on one thread by FillParameters and never changes after;
// share it (std::shared_ptr) only once filled. From then on any thread may call GetCount and
// GetParameter; the entries' shared fields carry their own lock (parameter.h).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "parameter.h"

namespace dorv::params {

// The first numbered parameter; positions before it are the common commands and the address
// programming entry, which the runs and the buffer files leave alone.
inline constexpr std::int32_t kFirstNumberedPosition = 7;

class CTRKParameters {
public:
    CTRKParameters() = default;
    CTRKParameters(const CTRKParameters&) = delete;
    CTRKParameters& operator=(const CTRKParameters&) = delete;

    // Appends the 57 entries in their fixed order. A second call appends a second copy.
    void FillParameters();
    std::int32_t GetCount() const { return static_cast<std::int32_t>(entries_.size()); }
    // Raises dorv::Exception "List index out of bounds (n)" outside 0..GetCount()-1.
    CParameter& GetParameter(std::int32_t position);
    const CParameter& GetParameter(std::int32_t position) const;

private:
    void Add(std::uint8_t number, std::uint8_t digits, std::uint8_t decimals, const char* name, const char* unit, std::int64_t value,
             std::int64_t min, std::int64_t max, std::uint8_t type, std::uint8_t section, bool skipWriteAll,
             std::initializer_list<const char*> choices);

    std::vector<std::unique_ptr<CParameter>> entries_;
};

// A new catalogue, filled, ready to be shared.
std::shared_ptr<CTRKParameters> MakeFilledCatalogue();

}  // namespace dorv::params
