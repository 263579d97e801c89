#include "scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <stdexcept>

#include "links/serial_host_link.h"
#include "links/tcp_host_link.h"

namespace dorv::links::test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(5);

// Takes the first whole request (7F, group, pairs, 03 03, check) off the front of `pending`.
std::optional<Bytes> TakeFrame(Bytes& pending) {
    pending.erase(pending.begin(), std::find(pending.begin(), pending.end(), 0x7F));
    std::size_t i = 2;
    while (i < pending.size() && pending[i] != 0x03) i += 2;
    if (i + 2 >= pending.size()) return std::nullopt;
    Bytes frame(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(i + 3));
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(i + 3));
    return frame;
}

// A link that has hung up must not end the test by SIGPIPE.
ssize_t Put(int fd, const std::uint8_t* bytes, std::size_t count) {
    const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
    return n < 0 && errno == ENOTSOCK ? ::write(fd, bytes, count) : n;
}

void Require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(what);
}

// Waits, a few seconds at most, until `done` says so.
void Eventually(const std::function<bool()>& done) {
    for (auto end = Clock::now() + kPatience; !done() && Clock::now() < end;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

class PtyPeer : public ScriptedPeer {
public:
    PtyPeer() {
        std::string pattern = (std::filesystem::temp_directory_path() / "links-XXXXXX").string();
        Require(::mkdtemp(pattern.data()) != nullptr, "mkdtemp");
        dir_ = pattern;
        Open();
    }
    ~PtyPeer() override {
        GoAway();
        std::filesystem::remove_all(dir_);
    }
    void Attach(StreamHostLink& link, std::uint8_t line) override {
        // The link follows a symlink, as it would /dev/serial/by-id/..., so a new pty can
        // stand in for a replugged adapter.
        dynamic_cast<SerialHostLink&>(link).AssignLine(line, dir_ + "/tty");
    }
    void GoAway() override {
        if (spare_ >= 0) ::close(spare_);
        if (master_ >= 0) ::close(master_);
        spare_ = master_ = -1;
    }
    void ComeBack() override { Open(); }
    void WaitDelivered() override {
        // The slave's input queue is shared by all its descriptors: ours sees what the link will.
        Eventually([this] {
            int queued = 0;
            return ::ioctl(spare_, FIONREAD, &queued) == 0 && queued > 0;
        });
    }

protected:
    int Stream(bool) override { return master_; }

private:
    void Open() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        Require(master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0, "pty");
        char slave[128];
        Require(::ptsname_r(master_, slave, sizeof slave) == 0, "ptsname");
        // Held open so that the pty lives on while the link closes and reopens its end.
        spare_ = ::open(slave, O_RDWR | O_NOCTTY | O_NONBLOCK);
        Require(spare_ >= 0, "slave");
        std::filesystem::remove(dir_ + "/tty.new");
        std::filesystem::create_symlink(slave, dir_ + "/tty.new");
        std::filesystem::rename(dir_ + "/tty.new", dir_ + "/tty");
    }

    std::string dir_;
    int master_ = -1;
    int spare_ = -1;
};

class TcpPeer : public ScriptedPeer {
public:
    TcpPeer() { Listen(0); }
    ~TcpPeer() override { GoAway(); }
    void Attach(StreamHostLink& link, std::uint8_t line) override { dynamic_cast<TcpHostLink&>(link).AssignLine(line, "127.0.0.1", port_); }
    void GoAway() override {
        Lost();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
    }
    void ComeBack() override { Listen(port_); }
    void WaitDelivered() override {
        // Nothing left unacknowledged: the bytes sit in the link's receive queue.
        Eventually([this] {
            int unacked = 0;
            return ::ioctl(conn_, SIOCOUTQ, &unacked) == 0 && unacked == 0;
        });
    }

protected:
    int Stream(bool wait) override {
        for (auto end = Clock::now() + kPatience; conn_ < 0 && listener_ >= 0;) {
            conn_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (conn_ >= 0) {
                const int on = 1;  // replies sent byte by byte go out byte by byte
                ::setsockopt(conn_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            }
            if (conn_ >= 0 || !wait || Clock::now() > end) break;
            pollfd p{listener_, POLLIN, 0};
            ::poll(&p, 1, 10);
        }
        return conn_;
    }
    void Lost() override {
        if (conn_ >= 0) ::close(conn_);
        conn_ = -1;
    }

private:
    void Listen(std::uint16_t port) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        socklen_t size = sizeof a;
        Require(::bind(listener_, reinterpret_cast<sockaddr*>(&a), size) == 0 && ::listen(listener_, 4) == 0 &&
                    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) == 0,
                "listen");
        port_ = ntohs(a.sin_port);
    }

    int listener_ = -1;
    int conn_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace

ScriptedPeer::~ScriptedPeer() = default;

std::optional<Bytes> ScriptedPeer::NextRequest(std::chrono::milliseconds wait) {
    for (auto end = Clock::now() + wait;;) {
        if (auto frame = TakeFrame(pending_)) return frame;
        if (Clock::now() > end) return std::nullopt;
        const int fd = Stream(false);
        pollfd p{fd, POLLIN, 0};
        if (fd < 0 || ::poll(&p, 1, 10) <= 0) {
            if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        std::uint8_t chunk[256];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) pending_.insert(pending_.end(), chunk, chunk + n);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) Lost();
    }
}

void ScriptedPeer::Send(const std::vector<Bytes>& chunks) {
    const int fd = Stream(true);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::size_t done = 0;
        while (done < chunks[i].size()) {
            const ssize_t n = Put(fd, chunks[i].data() + done, chunks[i].size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN) {
                Lost();  // the link hung up; it may connect again
                return;
            }
        }
    }
}

void ScriptedPeer::Talk(const std::atomic<bool>& stop, std::size_t bytes) {
    const Bytes junk = Junk(4096);
    for (std::size_t sent = 0; !stop && sent < bytes;) {
        const int fd = Stream(false);
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const ssize_t n = Put(fd, junk.data(), std::min(junk.size(), bytes - sent));
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            // A few megabytes a second: a line that never pauses, without taking the machine.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 10);
        } else if (n < 0) {
            Lost();
        }
    }
}

Bytes Junk(std::size_t size) {
    Bytes junk(size);
    for (std::size_t i = 0; i < size; ++i) junk[i] = i % 8 == 0 ? (i % 16 == 0 ? 0x06 : 0x18) : static_cast<std::uint8_t>(i * 37 + 11);
    return junk;
}

Responder::Responder(ScriptedPeer& peer, Script script)
    : peer_(peer), script_(std::move(script)), thread_([this] {
          while (!stop_) {
              const auto request = peer_.NextRequest(std::chrono::milliseconds(20));
              if (!request) continue;
              const int index = requests_++;
              peer_.Send(script_(*request, index));
          }
      }) {}

Responder::~Responder() {
    stop_ = true;
    thread_.join();
}

int Responder::AwaitRequests(int expected) const {
    Eventually([&] { return requests_ >= expected; });
    return requests_;
}

// `head`, then each byte of `body` with its complement, 03 03 and the check byte.
static Bytes Framed(Bytes head, std::span<const std::uint8_t> body) {
    std::uint8_t check = 0x03;
    for (std::uint8_t b : body) {
        head.insert(head.end(), {b, static_cast<std::uint8_t>(b ^ 0x7F)});
        check ^= b;
    }
    head.insert(head.end(), {0x03, 0x03, static_cast<std::uint8_t>(check | 0x40)});
    return head;
}

Bytes DataReply(const Bytes& data) { return Framed({0x02}, data); }
Bytes RequestFrame(const Bytes& record) { return Framed({0x7F, record.at(0)}, std::span(record).subspan(1)); }

Bytes RecordOf(const Bytes& frame) {
    Bytes r{frame.at(1)};
    for (std::size_t i = 2; i + 3 < frame.size(); i += 2) r.push_back(frame[i]);
    return r;
}

std::unique_ptr<ScriptedPeer> MakePtyPeer() { return std::make_unique<PtyPeer>(); }
std::unique_ptr<ScriptedPeer> MakeTcpPeer() { return std::make_unique<TcpPeer>(); }

}  // namespace dorv::links::test
