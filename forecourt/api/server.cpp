#include "server.h"

#include <boost/asio/strand.hpp>
#include <spdlog/spdlog.h>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <algorithm>
#include <array>
#include <deque>
#include <tuple>

#include "events/event_hub.h"
#include "router.h"

namespace forecourt {
namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

constexpr auto kReadTimeout = std::chrono::seconds(30);
// An event client answers a ping within this or is let go.
constexpr auto kEventIdle = std::chrono::seconds(30);
// What an event client may send in one message; the service reads none of it.
constexpr std::size_t kEventMessage = 4096;

// The answer to a connection that finds no place; written at once, and the door closed.
void TurnAway(tcp::socket& socket) {
    static const std::string body = R"({"error":"too_many_connections","message":"too many connections"})";
    static const std::string busy =
        "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
        "Retry-After: 1\r\nConnection: close\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    beast::error_code ignored;
    socket.non_blocking(true, ignored);
    socket.write_some(net::buffer(busy), ignored);
    socket.close(ignored);
}

// Counts a connection for as long as its session lives.
struct Counted {
    explicit Counted(std::atomic<int>& n) : count(n) { ++count; }
    ~Counted() { --count; }
    std::atomic<int>& count;
};

template <typename Stream>
class EventSession : public std::enable_shared_from_this<EventSession<Stream>> {
public:
    EventSession(Stream&& stream, Router& router, EventHub& hub, std::size_t backlog, std::chrono::seconds handshake)
        : ws_(std::move(stream)), router_(router), hub_(hub), backlog_(backlog), handshake_(handshake), counted_(router.event_clients) {}
    ~EventSession() {
        if (subscription_) hub_.Unsubscribe(subscription_);
    }

    void Run(Request request, std::int64_t after) {
        after_ = after;
        // A client that answers no ping is let go; one that sends more than a small message too.
        websocket::stream_base::timeout timeout{};
        timeout.handshake_timeout = handshake_;
        timeout.idle_timeout = kEventIdle;
        timeout.keep_alive_pings = true;
        ws_.set_option(timeout);
        ws_.read_message_max(kEventMessage);
        ws_.set_option(
            websocket::stream_base::decorator([](websocket::response_type& res) { res.set(http::field::server, "dorv-forecourt"); }));
        ws_.async_accept(request, beast::bind_front_handler(&EventSession::OnAccept, this->shared_from_this()));
    }

private:
    void OnAccept(beast::error_code ec) {
        if (ec) return;
        std::weak_ptr<EventSession> weak = this->shared_from_this();
        auto executor = ws_.get_executor();
        std::vector<Serialized> missed;
        // The hub calls this under its lock: only hand the bytes to the session's strand.
        subscription_ = hub_.Subscribe(
            [weak, executor](const Serialized& text, const nlohmann::json&) {
                net::post(executor, [weak, text] {
                    if (auto self = weak.lock()) self->Queue(text, true);
                });
            },
            after_, &missed);
        for (auto& text : missed) Queue(text, false);
        DoRead();
    }

    // Replayed events are the journal's own bytes and do not count against the backlog.
    void Queue(const Serialized& text, bool live) {
        if (dropped_) return;
        if (live && ++live_queued_ > backlog_) return Drop();
        queue_.push_back({text, live});
        if (queue_.size() == 1) Write();
    }

    void Drop() {
        spdlog::warn("event=client_dropped reason=backlog");
        dropped_ = true;
        ++router_.dropped_clients;
        // The queue stays: a write in flight still sends from its front. It goes with the session.
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

    void Write() {
        ws_.text(true);
        ws_.async_write(net::buffer(*queue_.front().first), beast::bind_front_handler(&EventSession::OnWrite, this->shared_from_this()));
    }

    void OnWrite(beast::error_code ec, std::size_t) {
        if (ec || dropped_) return;
        if (queue_.front().second) --live_queued_;
        queue_.pop_front();
        if (!queue_.empty()) Write();
    }

    // What the client sends is read and dropped; a read error ends the session.
    void DoRead() { ws_.async_read(buffer_, beast::bind_front_handler(&EventSession::OnRead, this->shared_from_this())); }
    void OnRead(beast::error_code ec, std::size_t) {
        if (ec) {
            if (subscription_) hub_.Unsubscribe(std::exchange(subscription_, 0));
            return;
        }
        buffer_.consume(buffer_.size());
        buffer_.shrink_to_fit();
        DoRead();
    }

    websocket::stream<Stream> ws_;
    Router& router_;
    EventHub& hub_;
    std::size_t backlog_;
    std::chrono::seconds handshake_;
    Counted counted_;
    std::int64_t after_ = -1;
    int subscription_ = 0;
    beast::flat_buffer buffer_;
    std::deque<std::pair<Serialized, bool>> queue_;
    std::size_t live_queued_ = 0;
    bool dropped_ = false;
};

}  // namespace

// A connection's place. While it waits (for its first or next request, or for the rest of one
// sent slowly) a newcomer may take it; once a request is read it keeps it until answered.
struct ConnectionTable::Slot {
    std::string address;
    std::chrono::steady_clock::time_point since;  // when the current wait began
    bool waiting = true;
    bool trusted = false;  // a request on it carried a known token
    bool evicted = false;
    std::function<void()> close;
};

std::shared_ptr<ConnectionTable::Slot> ConnectionTable::Admit(const std::string& address, int limit, int per_address) {
    std::function<void()> close;
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard lock(mutex_);
        int total = 0, mine = 0;
        for (const auto* s : slots_) {
            if (s->evicted) continue;
            ++total;
            if (s->address == address) ++mine;
        }
        // An address at its own cap gives up one of its own; otherwise the one that waited longest
        // goes, those that never showed a token first.
        Slot* victim = nullptr;
        if (mine >= per_address || total >= limit) {
            for (auto* s : slots_) {
                if (s->evicted || !s->waiting || !s->close || (mine >= per_address && s->address != address)) continue;
                if (!victim || std::tie(s->trusted, s->since) < std::tie(victim->trusted, victim->since)) victim = s;
            }
            if (!victim) return nullptr;
            victim->evicted = true;
            close = victim->close;
        }
        // A session may outlive the server (its handler freed with the io_context): the table too.
        slot = std::shared_ptr<Slot>(new Slot{address, std::chrono::steady_clock::now(), true, false, false, {}},
                                     [table = shared_from_this()](Slot* gone) {
                                         {
                                             std::lock_guard lock(table->mutex_);
                                             table->slots_.erase(std::find(table->slots_.begin(), table->slots_.end(), gone));
                                         }
                                         delete gone;
                                     });
        slots_.push_back(slot.get());
    }
    if (close) close();
    return slot;
}

void ConnectionTable::Bind(Slot& slot, std::function<void()> close) {
    std::lock_guard lock(mutex_);
    slot.close = std::move(close);
}

void ConnectionTable::Wait(Slot& slot) {
    std::lock_guard lock(mutex_);
    slot.waiting = true;
    slot.since = std::chrono::steady_clock::now();
}

bool ConnectionTable::Start(Slot& slot) {
    std::lock_guard lock(mutex_);
    slot.waiting = false;
    return !slot.evicted;
}

void ConnectionTable::Trust(Slot& slot) {
    std::lock_guard lock(mutex_);
    slot.trusted = true;
}

namespace {

template <typename Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream&& stream, const Config& config, Router& router, EventHub& hub, ConnectionTable& table,
                std::shared_ptr<ConnectionTable::Slot> slot)
        : stream_(std::move(stream)),
          config_(config),
          router_(router),
          hub_(hub),
          table_(table),
          slot_(std::move(slot)),
          counted_(router.connections) {}

    void Run() {
        // Another connection may take this one's place while it waits: it is closed on its strand.
        table_.Bind(*slot_, [weak = this->weak_from_this(), executor = stream_.get_executor()] {
            net::post(executor, [weak] {
                auto self = weak.lock();
                if (!self || !self->slot_) return;
                beast::error_code ignored;
                beast::get_lowest_layer(self->stream_).socket().close(ignored);
            });
        });
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            beast::get_lowest_layer(stream_).expires_after(HeaderTime());
            stream_.async_handshake(net::ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code ec) {
                if (!ec) self->DoRead();
            });
        } else {
            net::dispatch(stream_.get_executor(), beast::bind_front_handler(&HttpSession::DoRead, this->shared_from_this()));
        }
    }

private:
    std::chrono::seconds HeaderTime() const { return std::chrono::seconds(config_.limits.header_seconds); }

    // A request's head must come within the header time of the wait's start (an idle connection
    // goes then too); its body gets the whole request's time.
    void DoRead() {
        table_.Wait(*slot_);
        parser_.emplace();
        parser_->body_limit(config_.limits.body_bytes);
        parser_->header_limit(16 * 1024);
        beast::get_lowest_layer(stream_).expires_after(HeaderTime());
        http::async_read_header(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::OnHeader, this->shared_from_this()));
    }

    void OnHeader(beast::error_code ec, std::size_t) {
        if (ec || parser_->is_done()) return OnRead(ec, 0);
        beast::get_lowest_layer(stream_).expires_after(kReadTimeout);
        http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::OnRead, this->shared_from_this()));
    }

    // What cannot be read as a request is answered (the connection then closes), unless the
    // client went away or was too slow.
    void Refuse(beast::error_code ec) {
        Request head;
        head.version(11);
        head.keep_alive(false);
        if (ec == http::error::body_limit)
            return Send(ErrorResponse(head, http::status::payload_too_large, "payload_too_large",
                                      "the body is larger than " + std::to_string(config_.limits.body_bytes) + " bytes"));
        if (ec == http::error::header_limit)
            return Send(ErrorResponse(head, http::status::request_header_fields_too_large, "header_too_large",
                                      "the request's head is larger than 16384 bytes"));
        if (ec.category() == beast::error_code(http::error::bad_target).category() && ec != http::error::end_of_stream &&
            ec != http::error::partial_message)
            return Send(ErrorResponse(head, http::status::bad_request, "bad_request", "malformed request: " + ec.message()));
        Close();
    }

    void OnRead(beast::error_code ec, std::size_t) {
        if (ec) return Refuse(ec);
        if (!table_.Start(*slot_)) return Close();  // its place was given away while it was read
        Request request = parser_->release();
        if (router_.Trusted(request)) table_.Trust(*slot_);
        const auto target = request.target();
        const bool events = target.substr(0, std::min<std::size_t>(target.size(), target.find('?'))) == "/api/v1/events";
        if (events && websocket::is_upgrade(request)) {
            std::variant<EventsRequest, Response> asked;
            try {
                asked = router_.Events(request);
            } catch (const std::exception&) {
                asked = ErrorResponse(request, http::status::internal_server_error, "internal", "the request could not be served");
            }
            if (auto* refused = std::get_if<Response>(&asked)) return Send(std::move(*refused));
            if (router_.event_clients.load() >= config_.limits.events) {
                auto busy = ErrorResponse(request, http::status::service_unavailable, "too_many_connections", "too many event clients");
                busy.set(http::field::retry_after, "1");
                return Send(std::move(busy));
            }
            // The event stream has a limit of its own: it leaves the HTTP connections' count.
            slot_.reset();
            beast::get_lowest_layer(stream_).expires_never();
            std::make_shared<EventSession<Stream>>(std::move(stream_), router_, hub_, config_.limits.client_backlog, HeaderTime())
                ->Run(std::move(request), std::get<EventsRequest>(asked).after);
            return;
        }
        auto executor = stream_.get_executor();
        router_.Handle(request, [self = this->shared_from_this(), executor](Response res) {
            net::post(executor, [self, res = std::move(res)]() mutable { self->Send(std::move(res)); });
        });
    }

    void Send(Response res) {
        // The read's time may be nearly spent by a slow line exchange: the answer gets its own.
        beast::get_lowest_layer(stream_).expires_after(kReadTimeout);
        response_ = std::make_shared<Response>(std::move(res));
        response_->set(http::field::server, "dorv-forecourt");
        http::async_write(stream_, *response_, beast::bind_front_handler(&HttpSession::OnWrite, this->shared_from_this()));
    }

    void OnWrite(beast::error_code ec, std::size_t) {
        if (ec) return;
        if (!response_->keep_alive()) return Close();
        response_.reset();
        DoRead();
    }

    // What the client still sends is read and dropped for a moment, so that closing with unread
    // bytes does not reset the connection before it has read the answer.
    void Close() {
        beast::error_code ignored;
        if (slot_) table_.Wait(*slot_);
        auto& lowest = beast::get_lowest_layer(stream_);
        lowest.socket().shutdown(tcp::socket::shutdown_send, ignored);
        lowest.expires_after(std::chrono::seconds(1));
        Drain();
    }
    void Drain() {
        beast::get_lowest_layer(stream_).async_read_some(net::buffer(drain_),
                                                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                                                             if (!ec) self->Drain();
                                                         });
    }

    Stream stream_;
    const Config& config_;
    Router& router_;
    EventHub& hub_;
    ConnectionTable& table_;
    std::shared_ptr<ConnectionTable::Slot> slot_;
    Counted counted_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<Response> response_;
    std::array<char, 4096> drain_;
};

}  // namespace

Server::Server(net::io_context& io, const Config& config, Router& router, EventHub& hub)
    : io_(io), config_(config), router_(router), hub_(hub), acceptor_(net::make_strand(io)) {
    if (config.tls.enabled()) {
        tls_ = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
        tls_->set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2 | net::ssl::context::no_sslv3 |
                          net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1);
        beast::error_code ec;
        tls_->use_certificate_chain_file(config.tls.cert, ec);
        if (ec) throw std::runtime_error("tls.cert: " + config.tls.cert + ": " + ec.message());
        tls_->use_private_key_file(config.tls.key, net::ssl::context::pem, ec);
        if (ec) throw std::runtime_error("tls.key: " + config.tls.key + ": " + ec.message());
    }
    beast::error_code ec;
    const auto address = net::ip::make_address(config.listen.host == "localhost" ? "127.0.0.1" : config.listen.host, ec);
    if (ec) throw std::runtime_error("listen: " + config.listen.host + " is no IP address");
    const tcp::endpoint endpoint{address, config.listen.port};
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(net::socket_base::reuse_address(true));
    acceptor_.bind(endpoint, ec);
    if (ec)
        throw std::runtime_error("listen: cannot bind " + config.listen.host + ":" + std::to_string(config.listen.port) + ": " +
                                 ec.message());
    acceptor_.listen(net::socket_base::max_listen_connections);
    Accept();
}

Server::~Server() { Close(); }

std::uint16_t Server::Port() const { return acceptor_.local_endpoint().port(); }

void Server::Close() {
    net::post(acceptor_.get_executor(), [this] {
        beast::error_code ignored;
        acceptor_.close(ignored);
    });
}

void Server::Accept() {
    acceptor_.async_accept(net::make_strand(io_), [this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted || !acceptor_.is_open()) return;
        if (!ec) {
            beast::error_code peer_ec;
            const auto peer = socket.remote_endpoint(peer_ec);
            auto slot = peer_ec ? nullptr
                                : table_->Admit(peer.address().to_string(), config_.limits.connections,
                                                std::min(config_.limits.per_address, config_.limits.connections));
            if (!slot) {
                TurnAway(socket);
            } else if (tls_) {
                std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *tls_), config_, router_, hub_, *table_,
                                                         std::move(slot))
                    ->Run();
            } else {
                std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), config_, router_, hub_, *table_, std::move(slot))
                    ->Run();
            }
        }
        Accept();
    });
}

}  // namespace forecourt
