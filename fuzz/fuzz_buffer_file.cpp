// Parameter buffer files on arbitrary contents: loaded into a fresh catalogue, saved, and
// loaded into another.
//
// Checked: the common commands and the address entry (positions 0 to 6) are never touched; no
// more values are taken than there are numbered entries; what a save wrote loads back as the
// low 32 bits of each value, sign-extended.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "fuzz_files.h"
#include "params/buffer_file.h"
#include "params/catalogue.h"

namespace {

using dorv::params::CTRKParameters;

std::vector<std::int64_t> Values(const CTRKParameters& c) {
    std::vector<std::int64_t> v;
    for (std::int32_t i = 0; i < c.GetCount(); ++i) v.push_back(c.GetParameter(i).Value());
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dorv::fuzz::ScratchDir::Get();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = dorv::fuzz::ScratchDir::Get().Write("Dorv.buf", data, size);
    const auto catalogue = dorv::params::MakeFilledCatalogue();
    const std::vector<std::int64_t> initial = Values(*catalogue);
    const int loaded = dorv::params::LoadParamsFromFile(*catalogue, path);
    FUZZ_CHECK(loaded >= 0 && loaded <= catalogue->GetCount() - dorv::params::kFirstNumberedPosition);
    const std::vector<std::int64_t> after = Values(*catalogue);
    for (std::int32_t i = 0; i < dorv::params::kFirstNumberedPosition; ++i) FUZZ_CHECK(after[i] == initial[i]);

    dorv::params::SaveParamsToFile(*catalogue, path);
    const auto other = dorv::params::MakeFilledCatalogue();
    FUZZ_CHECK(dorv::params::LoadParamsFromFile(*other, path) == other->GetCount() - dorv::params::kFirstNumberedPosition);
    const std::vector<std::int64_t> back = Values(*other);
    for (std::int32_t i = dorv::params::kFirstNumberedPosition; i < other->GetCount(); ++i)
        FUZZ_CHECK(back[i] == static_cast<std::int32_t>(after[i]));
    return 0;
}
