#include "server.h"

#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <deque>

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

// Counts a connection for as long as its session lives.
struct Counted {
    explicit Counted(std::atomic<int>& n) : count(n) { ++count; }
    ~Counted() { --count; }
    std::atomic<int>& count;
};

template <typename Stream>
class EventSession : public std::enable_shared_from_this<EventSession<Stream>> {
public:
    EventSession(Stream&& stream, Router& router, EventHub& hub, std::size_t backlog)
        : ws_(std::move(stream)), router_(router), hub_(hub), backlog_(backlog), counted_(router.event_clients) {}
    ~EventSession() {
        if (subscription_) hub_.Unsubscribe(subscription_);
    }

    void Run(Request request, std::int64_t after) {
        after_ = after;
        ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& res) { res.set(http::field::server, "dorv-forecourt"); }));
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
        DoRead();
    }

    websocket::stream<Stream> ws_;
    Router& router_;
    EventHub& hub_;
    std::size_t backlog_;
    Counted counted_;
    std::int64_t after_ = -1;
    int subscription_ = 0;
    beast::flat_buffer buffer_;
    std::deque<std::pair<Serialized, bool>> queue_;
    std::size_t live_queued_ = 0;
    bool dropped_ = false;
};

template <typename Stream>
class HttpSession : public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream&& stream, const Config& config, Router& router, EventHub& hub)
        : stream_(std::move(stream)), config_(config), router_(router), hub_(hub), counted_(router.connections) {}

    void Run() {
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            beast::get_lowest_layer(stream_).expires_after(kReadTimeout);
            stream_.async_handshake(net::ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code ec) {
                if (!ec) self->DoRead();
            });
        } else {
            net::dispatch(stream_.get_executor(), beast::bind_front_handler(&HttpSession::DoRead, this->shared_from_this()));
        }
    }

private:
    void DoRead() {
        parser_.emplace();
        parser_->body_limit(config_.limits.body_bytes);
        parser_->header_limit(16 * 1024);
        beast::get_lowest_layer(stream_).expires_after(kReadTimeout);
        http::async_read(stream_, buffer_, *parser_, beast::bind_front_handler(&HttpSession::OnRead, this->shared_from_this()));
    }

    void OnRead(beast::error_code ec, std::size_t) {
        if (ec == http::error::body_limit) {
            Request head;
            head.version(11);
            head.keep_alive(false);
            return Send(ErrorResponse(head, http::status::payload_too_large, "payload_too_large",
                                      "the body is larger than " + std::to_string(config_.limits.body_bytes) + " bytes"));
        }
        if (ec) return Close();
        Request request = parser_->release();
        const auto target = request.target();
        const bool events = target.substr(0, std::min<std::size_t>(target.size(), target.find('?'))) == "/api/v1/events";
        if (events && websocket::is_upgrade(request)) {
            auto asked = router_.Events(request);
            if (auto* refused = std::get_if<Response>(&asked)) return Send(std::move(*refused));
            beast::get_lowest_layer(stream_).expires_never();
            std::make_shared<EventSession<Stream>>(std::move(stream_), router_, hub_, config_.limits.client_backlog)
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

    void Close() {
        beast::error_code ignored;
        beast::get_lowest_layer(stream_).socket().shutdown(tcp::socket::shutdown_send, ignored);
    }

    Stream stream_;
    const Config& config_;
    Router& router_;
    EventHub& hub_;
    Counted counted_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::shared_ptr<Response> response_;
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
    if (ec) throw std::runtime_error("listen: cannot bind " + config.listen.host + ":" + std::to_string(config.listen.port) + ": " + ec.message());
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
            if (router_.connections.load() + router_.event_clients.load() >= config_.limits.connections) {
                // Over the limit: a short answer, written at once, and the door closed.
                static const std::string body = R"({"error":"unavailable","message":"too many connections"})";
                static const std::string busy = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
                                                "Connection: close\r\nContent-Length: " +
                                                std::to_string(body.size()) + "\r\n\r\n" + body;
                beast::error_code ignored;
                socket.non_blocking(true, ignored);
                socket.write_some(net::buffer(busy), ignored);
                socket.close(ignored);
            } else if (tls_) {
                std::make_shared<HttpSession<TlsStream>>(TlsStream(std::move(socket), *tls_), config_, router_, hub_)->Run();
            } else {
                std::make_shared<HttpSession<PlainStream>>(PlainStream(std::move(socket)), config_, router_, hub_)->Run();
            }
        }
        Accept();
    });
}

}  // namespace forecourt
