// The forecourt service's request decoder on arbitrary client input: byte 0 picks what the rest
// is (a request target, an id, an authorization, a price change, a nozzle body).
//
// Checked: a decoded target is an absolute path; an id is the decimal number its text spells;
// a decoded preset or price is positive and fits the field the pump takes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "api/request_decoder.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 5) {
        case 0:
            if (const auto target = forecourt::ParseTarget(text)) FUZZ_CHECK(!target->path.empty() && target->path[0] == '/');
            break;
        case 1:
            if (const auto id = forecourt::ParseId(text)) {
                std::int64_t spelt = 0;
                for (char c : text) spelt = spelt * 10 + (c - '0');
                FUZZ_CHECK(*id == spelt && *id >= 0);
            }
            break;
        case 2: {
            const auto decoded = forecourt::DecodeAuthorize(text);
            if (const auto* r = std::get_if<forecourt::AuthorizeRequest>(&decoded)) {
                FUZZ_CHECK(!r->nozzle || (*r->nozzle >= 1 && *r->nozzle <= 4));
                if (r->preset.kind == forecourt::Preset::Kind::kVolume)
                    FUZZ_CHECK(r->preset.hundredths > 0 && r->preset.hundredths <= 99999);
                if (r->preset.kind == forecourt::Preset::Kind::kAmount)
                    FUZZ_CHECK(r->preset.hundredths > 0 && r->preset.hundredths <= 999999);
            }
            break;
        }
        case 3: {
            const auto decoded = forecourt::DecodePrices(text);
            if (const auto* prices = std::get_if<0>(&decoded))
                for (const auto& [grade, cents] : *prices) FUZZ_CHECK(cents > 0 && cents <= 9999);
            break;
        }
        default: {
            const auto decoded = forecourt::DecodeNozzle(text);
            if (const auto* nozzle = std::get_if<int>(&decoded)) FUZZ_CHECK(*nozzle >= 1 && *nozzle <= 4);
            break;
        }
    }
    return 0;
}
