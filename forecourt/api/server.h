// The network side: accepts connections (TLS when configured), reads HTTP requests within the
// body and header limits, hands them to the router, and upgrades /api/v1/events to a WebSocket
// that carries the event hub's stream. Each event client has a bounded queue: a client that
// falls behind by more than the backlog is disconnected, never buffered without bound.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/config.h"

namespace forecourt {

class EventHub;
class Router;

// Who holds the HTTP connections. At the limit (or an address's cap) a newcomer takes the place
// of the connection that has waited longest for its request, one that never showed a known token
// first; it is turned away only when every place holds a request in progress.
class ConnectionTable : public std::enable_shared_from_this<ConnectionTable> {
public:
    struct Slot;
    // The newcomer's place (given up when the last copy goes), or null.
    std::shared_ptr<Slot> Admit(const std::string& address, int limit, int per_address);
    // How to close the connection when its place is taken; called on any thread.
    void Bind(Slot& slot, std::function<void()> close);
    void Wait(Slot& slot);
    // The connection has read a request; false when its place was already taken.
    bool Start(Slot& slot);
    void Trust(Slot& slot);

private:
    std::mutex mutex_;
    std::vector<Slot*> slots_;
};

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
    std::shared_ptr<ConnectionTable> table_ = std::make_shared<ConnectionTable>();
};

}  // namespace forecourt
