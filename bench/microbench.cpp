// dorv-microbench: the driver's per-exchange work in isolation (Google Benchmark).
//
// - the frame builder: a status request and the longest parameter write;
// - the reply validator: short and long replies, clean and with line noise ahead of the lead
//   byte (each iteration copies the reply into the buffer first, since the validator drops
//   the noise in place; the copy is a few nanoseconds of the figure);
// - the reply decoders, whole slots over an in-memory link that answers at once: the status
//   poll (GetStatus), the filling reading (GetFilling: type query '7' and '5'), the counters
//   ('6') and numbered parameter reads ('N', a one-digit and the 13-digit one);
// - the link's reply collector, fed a status reply whole and byte by byte.
//
// Replies are the emulator's, taken from a controller halfway through a filling.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/codec.h"
#include "driver/tvm30.h"
#include "instant_link.h"
#include "links/reply_collector.h"
#include "params/transport.h"

namespace dorv::bench {
namespace {

constexpr std::uint8_t kLine = 1;
const Bytes kNoise{0x7F, 0x41, 0x00, 0x55};

const CannedReplies& Canned() {
    static const CannedReplies canned = MakeCannedReplies();
    return canned;
}

// A driver over an in-memory link that answers the commands of the slots measured here.
struct Bench {
    InstantLink link;
    TVM30 driver{0, &link};
    Bench() {
        const CannedReplies& c = Canned();
        link.Answer('1', c.status);
        link.Answer('7', c.type);
        link.Answer('5', c.filling);
        link.Answer('6', c.counters);
        link.Answer('N', c.paramShort);
    }
};

void BuildFrame(benchmark::State& state, std::vector<std::uint8_t> record) {
    std::uint8_t frame[codec::kMaxFrame];
    for (auto _ : state) {
        benchmark::DoNotOptimize(record.data());
        const std::uint8_t n = codec::BuildFrame(record.data(), record.size(), frame);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(2 * record.size() + 3));
}
// [group, address, '1'] and [group, address, 'O', number, 13 digits].
BENCHMARK_CAPTURE(BuildFrame, status_request, std::vector<std::uint8_t>{0x02, 0x21, '1'});
BENCHMARK_CAPTURE(BuildFrame, parameter_write_13_digits,
                  std::vector<std::uint8_t>{0x02, 0x21, 'O', '0' + 52, '0', '0', '0', '0', '0', '6', '0', '0', '0', '1', '1', '0', '3'});

void ValidateReply(benchmark::State& state, Bytes reply, bool noise) {
    if (noise) reply.insert(reply.begin(), kNoise.begin(), kNoise.end());
    std::uint8_t buffer[kReplyCapacity];
    bool accepted = true;
    for (auto _ : state) {
        std::memcpy(buffer, reply.data(), reply.size());
        auto length = static_cast<std::uint8_t>(reply.size());
        const codec::Verdict v = codec::ValidateReply(buffer, length);
        accepted = accepted && v.accepted;
        benchmark::DoNotOptimize(v);
        benchmark::ClobberMemory();
    }
    if (!accepted) state.SkipWithError("the validator rejected a good reply");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(reply.size()));
}
BENCHMARK_CAPTURE(ValidateReply, short_status_8_bytes, Canned().status, false);
BENCHMARK_CAPTURE(ValidateReply, short_status_with_noise, Canned().status, true);
BENCHMARK_CAPTURE(ValidateReply, long_counters, Canned().counters, false);
BENCHMARK_CAPTURE(ValidateReply, long_counters_with_noise, Canned().counters, true);
BENCHMARK_CAPTURE(ValidateReply, long_parameter_52, Canned().paramLong, false);
BENCHMARK_CAPTURE(ValidateReply, one_byte_ack, Bytes{0x06}, false);

void GetStatus(benchmark::State& state) {
    Bench b;
    const auto nozzles = static_cast<std::uint8_t>(state.range(0));
    for (auto _ : state) {
        const StatusRecord r = b.driver.GetStatus(kLine, 1, nozzles);
        benchmark::DoNotOptimize(r);
    }
    if (b.driver.GetLineStatus(kLine) != kLineAnswered) state.SkipWithError("the status poll was not answered");
    state.SetItemsProcessed(static_cast<std::int64_t>(b.link.Exchanges()));
}
BENCHMARK(GetStatus)->Arg(1)->Arg(4);

void GetFilling(benchmark::State& state) {
    Bench b;
    double litres = 0, money = 0;
    for (auto _ : state) {
        b.driver.GetFilling(kLine, 1, &litres, &money);
        benchmark::DoNotOptimize(litres);
        benchmark::DoNotOptimize(money);
    }
    if (!(litres > 0)) state.SkipWithError("the filling reading gave no volume");
    state.SetItemsProcessed(static_cast<std::int64_t>(b.link.Exchanges()));
}
BENCHMARK(GetFilling);

void ReadCounters(benchmark::State& state) {
    Bench b;
    double volume = 0, money = 0;
    for (auto _ : state) {
        b.driver.ReadCounters(kLine, 1, 1, &volume, &money, 0, 0);
        benchmark::DoNotOptimize(volume);
        benchmark::DoNotOptimize(money);
    }
    if (!(volume > 0)) state.SkipWithError("the counters reading gave no volume");
    state.SetItemsProcessed(static_cast<std::int64_t>(b.link.Exchanges()));
}
BENCHMARK(ReadCounters);

void ReadParameter(benchmark::State& state, int number) {
    Bench b;
    b.link.Answer('N', number == 52 ? Canned().paramLong : Canned().paramShort);
    std::int64_t value = -1;
    for (auto _ : state) {
        value = b.driver.ReadParameter(0, kLine, 1, number, 0);
        benchmark::DoNotOptimize(value);
    }
    if (value < 0) state.SkipWithError("the parameter read gave no value");
    state.SetItemsProcessed(static_cast<std::int64_t>(b.link.Exchanges()));
}
BENCHMARK_CAPTURE(ReadParameter, number_2_one_digit, 2);
BENCHMARK_CAPTURE(ReadParameter, number_52_thirteen_digits, 52);

void CollectReply(benchmark::State& state) {
    const Bytes& reply = Canned().status;
    const std::uint8_t record[] = {0x02, 0x21, '1'};
    std::uint8_t request[codec::kMaxFrame];
    const std::span<const std::uint8_t> echo(request, codec::BuildFrame(record, 3, request));
    const bool byteByByte = state.range(0) != 0;
    for (auto _ : state) {
        links::ReplyCollector collector(echo);
        if (byteByByte) {
            for (std::size_t i = 0; i < reply.size(); ++i) collector.Feed(std::span(&reply[i], 1));
        } else {
            collector.Feed(reply);
        }
        benchmark::DoNotOptimize(collector.Complete());
    }
    state.SetLabel(byteByByte ? "byte by byte" : "whole");
}
BENCHMARK(CollectReply)->Arg(0)->Arg(1);

}  // namespace
}  // namespace dorv::bench

int main(int argc, char** argv) {
    // The driver reads its settings file from here; keep the machine's own out of it.
    std::string scratch = (std::filesystem::temp_directory_path() / "dorv-microbench-XXXXXX").string();
    if (::mkdtemp(scratch.data()) == nullptr) return 1;
    ::setenv("DORV_WINDIR", scratch.c_str(), 1);
    ::benchmark::Initialize(&argc, argv);
    if (::benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
    return 0;
}
