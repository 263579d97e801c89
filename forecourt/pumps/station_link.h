// The one HostLink the driver gets: each line goes to the serial or the TCP link it is
// assigned to, and every transaction is counted per line for the metrics and for telling a
// reading from a silence (the driver reports some silences as readings of zero).
//
// Threads: as the links; the counters are atomic.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "dorv5000/host_link.h"
#include "links/serial_host_link.h"
#include "links/tcp_host_link.h"

namespace forecourt {

struct LineCounters {
    std::atomic<std::uint64_t> exchanges{0};
    std::atomic<std::uint64_t> failures{0};   // not answered, or the line could not be used
    std::atomic<std::uint8_t> last_state{0};  // the link's state after the latest transaction
};

class StationLink final : public dorv::HostLink {
public:
    static constexpr int kLines = 40;

    void AssignSerial(int line, const std::string& device);
    void AssignTcp(int line, const std::string& host, std::uint16_t port);
    void SetTimeouts(std::chrono::milliseconds response, int retries);
    const LineCounters& Counters(int line) const { return counters_[static_cast<std::size_t>(line)]; }
    // The link's state after the line's latest transaction: 1 when the controller answered.
    std::uint8_t LastState(int line) const { return Counters(line).last_state.load(); }

    std::int32_t DORV_CALL GetLineError(std::uint8_t line) override { return For(line).GetLineError(line); }
    void DORV_CALL ReportLineCode(std::uint8_t line, std::int32_t code) override { For(line).ReportLineCode(line, code); }
    void DORV_CALL ReportLineState(std::uint8_t line, std::int32_t state) override { For(line).ReportLineState(line, state); }
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t line) override { return For(line).ReadLineState(line); }
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override;
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) override {
        return For(line).ConfigureLine(line, format, baud);
    }
    void DORV_CALL SetReplyValidator(std::uint8_t line, dorv::ReplyValidator validator, void* context) override {
        For(line).SetReplyValidator(line, validator, context);
    }
    void DORV_CALL SetLineConfigurator(std::uint8_t line, dorv::LineConfigurator configurator, void* context) override {
        For(line).SetLineConfigurator(line, configurator, context);
    }

private:
    dorv::HostLink& For(std::uint8_t line);

    dorv::links::SerialHostLink serial_;
    dorv::links::TcpHostLink tcp_;
    std::array<bool, kLines> tcp_lines_{};
    std::array<LineCounters, kLines> counters_;
};

}  // namespace forecourt
