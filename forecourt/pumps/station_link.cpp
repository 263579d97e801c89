#include "station_link.h"

namespace forecourt {

void StationLink::AssignSerial(int line, const std::string& device) {
    tcp_lines_[static_cast<std::size_t>(line)] = false;
    serial_.AssignLine(static_cast<std::uint8_t>(line), device);
}

void StationLink::AssignTcp(int line, const std::string& host, std::uint16_t port) {
    tcp_lines_[static_cast<std::size_t>(line)] = true;
    tcp_.AssignLine(static_cast<std::uint8_t>(line), host, port);
}

void StationLink::SetTimeouts(std::chrono::milliseconds response, int retries) {
    for (dorv::links::StreamHostLink* link :
         {static_cast<dorv::links::StreamHostLink*>(&serial_), static_cast<dorv::links::StreamHostLink*>(&tcp_)}) {
        link->SetTimeouts(response, std::chrono::milliseconds(50));
        link->SetRetries(retries);
    }
}

dorv::HostLink& StationLink::For(std::uint8_t line) {
    if (line < kLines && tcp_lines_[line]) return tcp_;
    return serial_;
}

std::int32_t StationLink::Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                   std::uint8_t replyLength, std::uint8_t mode) {
    auto& link = For(line);
    const std::int32_t result = link.Transact(line, frame, frameLength, reply, replyLength, mode);
    if (line < kLines) {
        auto& c = counters_[line];
        const std::uint8_t state = result == 0 ? link.ReadLineState(line) : 0;
        c.exchanges.fetch_add(1);
        if (state != dorv::kLineAnswered) c.failures.fetch_add(1);
        c.last_state.store(state);
    }
    return result;
}

}  // namespace forecourt
