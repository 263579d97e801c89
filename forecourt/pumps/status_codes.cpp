#include "status_codes.h"

namespace forecourt {

NozzleCode ClassifyCode(std::uint8_t code) {
    if (code == 0xC0) return NozzleCode::kHung;
    if (code == 0xC8) return NozzleCode::kAuthorized;
    if (code == 0xD8) return NozzleCode::kEnded;
    if (code > 0xD0 && code < 0xD8) return NozzleCode::kDelivering;
    if (code > 0xD8 && code < 0xE0) return NozzleCode::kStarted;
    if (code > 0xE0 && code < 0xE8) return NozzleCode::kLifted;
    return NozzleCode::kOther;
}

const char* RefusalText(int code) {
    switch (code) {
        case 16: return "the controller refused the start";
        case 17: return "the controller refused the authorization";
        case 18: return "the controller refused the volume preset";
        case 19: return "the controller refused the amount preset";
        case 20: return "the controller refused the stop";
        case 21: return "the controller refused the price";
        default: return "the controller refused the request";
    }
}

}  // namespace forecourt
