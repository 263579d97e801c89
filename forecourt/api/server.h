// The network side: accepts connections (TLS when configured), reads HTTP requests within the
// body and header limits, hands them to the router, and upgrades /api/v1/events to a WebSocket
// that carries the event hub's stream. Each event client has a bounded queue: a client that
// falls behind by more than the backlog is disconnected, never buffered without bound.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <memory>
#include <optional>

#include "config/config.h"

namespace forecourt {

class EventHub;
class Router;

class Server {
public:
    // Raises std::runtime_error when the address cannot be bound or the TLS files not read.
    Server(boost::asio::io_context& io, const Config& config, Router& router, EventHub& hub);
    ~Server();
    std::uint16_t Port() const;
    void Close();

private:
    void Accept();

    boost::asio::io_context& io_;
    const Config& config_;
    Router& router_;
    EventHub& hub_;
    boost::asio::ip::tcp::acceptor acceptor_;
    std::unique_ptr<boost::asio::ssl::context> tls_;
};

}  // namespace forecourt
