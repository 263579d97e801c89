// The reply validator on arbitrary bytes, 0 to 255 of them, as a line may deliver them.
//
// Checked on every input: the length written back never grows; what is left is the input from
// its first lead byte on; the verdict is one of the validator's few; an accepted data reply has
// its trailer, its complements and its check byte right. And the other way round: the fuzzed
// bytes sent as the data of a well-formed reply, behind noise, are always accepted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "dorv5000/host_link.h"
#include "driver/codec.h"
#include "fuzz_check.h"

namespace {

using dorv::codec::Verdict;

bool IsLead(std::uint8_t b) { return b == 0x02 || b == 0x06 || b == 0x15 || b == 0x18; }

void CheckVerdict(const std::uint8_t* input, std::size_t size) {
    // Exactly the bytes received: a read past them is a fault the address sanitizer reports.
    const std::unique_ptr<std::uint8_t[]> owner(new std::uint8_t[size]);
    std::uint8_t* const buffer = owner.get();
    if (size > 0) std::memcpy(buffer, input, size);
    std::uint8_t length = static_cast<std::uint8_t>(size);
    const Verdict v = dorv::codec::ValidateReply(buffer, length);

    FUZZ_CHECK(length <= size);
    std::size_t skip = 0;
    while (skip < size && !IsLead(input[skip])) ++skip;
    FUZZ_CHECK(length == size - skip);
    FUZZ_CHECK(length == 0 || std::memcmp(buffer, input + skip, length) == 0);

    const std::size_t L = length;
    if (L == 0) {
        FUZZ_CHECK(!v.accepted && v.state == -1 && v.code == dorv::kCodeNoLead);
        return;
    }
    if (buffer[0] != 0x02) {
        FUZZ_CHECK(v.accepted && v.state == dorv::kLineAnswered && v.code == dorv::kCodeAccepted);
        return;
    }
    if (!v.accepted) {
        FUZZ_CHECK((v.state == dorv::kLineFrameError && v.code == dorv::kCodeBadFrame) || (v.state == -1 && v.code == dorv::kCodeBadCheck));
        return;
    }
    FUZZ_CHECK(v.state == dorv::kLineAnswered && v.code == dorv::kCodeAccepted);
    // Accepted data reply: 02, then the trailer 03 03 and the check byte at the end.
    FUZZ_CHECK(L >= 4);
    FUZZ_CHECK(buffer[L - 3] == 0x03 && buffer[L - 2] == 0x03);
    FUZZ_CHECK((buffer[L - 1] & 0x40) == 0x40);
    if (L % 2 == 0) {
        // The well-formed shape: d data bytes each followed by its complement.
        const std::size_t d = (L - 4) / 2;
        std::uint8_t check = 0x03;
        for (std::size_t j = 1; j <= d; ++j) {
            FUZZ_CHECK((buffer[2 * j - 1] ^ buffer[2 * j]) == 0x7F);
            check ^= buffer[2 * j - 1];
        }
        FUZZ_CHECK(buffer[L - 1] == (check | 0x40));
    }
}

// The fuzzed bytes as the data of a reply built here, behind noise that holds no lead byte.
void CheckWellFormedIsAccepted(const std::uint8_t* input, std::size_t size) {
    const std::size_t d = size < 125 ? size : 125;
    std::vector<std::uint8_t> reply;
    for (std::size_t i = d; i < size && reply.size() + 2 * d + 4 < dorv::kReplyCapacity; ++i)
        if (!IsLead(input[i])) reply.push_back(input[i]);
    const std::size_t noise = reply.size();
    reply.push_back(0x02);
    std::uint8_t check = 0x03;
    for (std::size_t j = 0; j < d; ++j) {
        reply.push_back(input[j]);
        reply.push_back(static_cast<std::uint8_t>(input[j] ^ 0x7F));
        check ^= input[j];
    }
    reply.insert(reply.end(), {0x03, 0x03, static_cast<std::uint8_t>(check | 0x40)});
    FUZZ_CHECK(reply.size() <= dorv::kReplyCapacity);

    std::vector<std::uint8_t> buffer = reply;
    std::uint8_t length = static_cast<std::uint8_t>(reply.size());
    const Verdict v = dorv::codec::ValidateReply(buffer.data(), length);
    FUZZ_CHECK(v.accepted);
    FUZZ_CHECK(length == reply.size() - noise);
    FUZZ_CHECK(std::memcmp(buffer.data(), reply.data() + noise, length) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > dorv::kReplyCapacity) return -1;  // no link delivers more than its buffer holds
    CheckVerdict(data, size);
    CheckWellFormedIsAccepted(data, size);
    return 0;
}
