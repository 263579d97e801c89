// The serial links' side of the line on arbitrary bytes: the reply collector, which decides from
// the framing alone when a reply is whole, takes the line's bytes in pieces of any size after a
// request that the line may echo; the trace decoder describes the request and what came back.
//
// Input: a byte e, then e bytes of the request sent (its echo is taken out of the reply), then
// the line's bytes as pieces: a length byte and that many bytes, as often as the input lasts.
//
// Checked: the collector never takes more than it is offered, nothing once it is done, every
// byte offered while it is not done; it never holds more than a reply buffer; and a reply it
// calls whole, handed to the driver's validator from its lead byte on, is the reply the
// validator finds (a data reply must still end in 0x03 0x03 and its check byte).
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "dorv5000/host_link.h"
#include "driver/codec.h"
#include "fuzz_check.h"
#include "fuzz_link.h"
#include "links/frame_decoder.h"
#include "links/reply_collector.h"

using dorv::links::ReplyCollector;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    dorv::fuzz::Input input(data, size);
    const std::uint8_t* request = nullptr;
    const std::size_t requestLength = input.Take(input.Byte(), &request);
    const std::span<const std::uint8_t> sent(request, requestLength);

    ReplyCollector collector(sent);
    std::size_t offered = 0;
    while (!input.Empty()) {
        const std::uint8_t* piece = nullptr;
        const std::size_t n = input.Take(input.Byte(), &piece);
        const bool wasDone = collector.Done();
        const std::size_t took = collector.Feed({piece, n});
        FUZZ_CHECK(took <= n);
        if (wasDone) FUZZ_CHECK(took == 0);
        if (!collector.Done()) FUZZ_CHECK(took == n);
        offered += took;
        FUZZ_CHECK(collector.Bytes().size() <= static_cast<std::size_t>(dorv::kReplyCapacity));
        FUZZ_CHECK(collector.Bytes().size() + collector.EchoRemoved() <= offered);
    }

    const std::span<const std::uint8_t> got = collector.Bytes();
    if (collector.Complete()) {
        // What the link hands the validator: the reply from the lead byte the collector chose.
        const std::span<const std::uint8_t> reply = collector.Reply();
        FUZZ_CHECK(!reply.empty());
        std::uint8_t buffer[dorv::kReplyCapacity] = {};
        std::copy(reply.begin(), reply.end(), buffer);
        auto length = static_cast<std::uint8_t>(reply.size());
        dorv::codec::ValidateReply(buffer, length);
        if (length >= 1 && buffer[0] == dorv::codec::kDataLead) {
            FUZZ_CHECK(length >= 4);
            FUZZ_CHECK(buffer[length - 3] == 0x03 && buffer[length - 2] == 0x03);
        }
    }
    FUZZ_CHECK(!dorv::links::DescribeRequest(sent).empty());
    FUZZ_CHECK(!dorv::links::DescribeReply(got).empty());
    FUZZ_CHECK(!dorv::links::DescribeReply({data, size}).empty());
    return 0;
}
