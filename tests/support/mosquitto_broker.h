// A real mosquitto on a free loopback port, started and stopped by a test or a benchmark, and
// a consumer that records what it receives. Persistence is on, so a broker stopped with SIGTERM
// comes back with the consumers' sessions and their queued messages.
#pragma once

#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"

namespace dorv::test {

inline int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ::close(s);
        throw std::runtime_error("no free loopback port");
    }
    ::close(s);
    return ntohs(a.sin_port);
}

inline bool PortAccepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

class MosquittoBroker {
public:
    // Another program may take the free port first: a few ports are tried.
    // `listener` adds options to the listener (certfile, keyfile for TLS).
    explicit MosquittoBroker(const std::string& dir, const std::string& listener = "") : conf_(dir + "/mosquitto.conf") {
        for (int attempt = 1;; ++attempt) {
            port_ = FreeLoopbackPort();
            std::ofstream(conf_) << "listener " << port_ << " 127.0.0.1\n"
                                 << listener << "allow_anonymous true\nlog_dest none\n"
                                 << (::getuid() == 0 ? "user root\n" : "") << "persistence true\npersistence_location " << dir << "/\n"
                                 << "max_queued_messages 0\nmax_inflight_messages 0\n";
            try {
                Start();
                return;
            } catch (const std::runtime_error&) {
                if (attempt == 5) throw;
            }
        }
    }
    ~MosquittoBroker() { Stop(SIGKILL); }
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    int Port() const { return port_; }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }

    void Start() {
        const Parent parent;
        pid_ = ::fork();
        if (pid_ == 0) {
            EndWithParent(parent);
            ::execlp("mosquitto", "mosquitto", "-c", conf_.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!PortAccepts(port_)) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_ || std::chrono::steady_clock::now() > deadline) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, nullptr, 0);
                pid_ = -1;
                throw std::runtime_error("mosquitto did not start (is Debian's mosquitto installed?)");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // SIGTERM: a restart that saves the sessions; SIGKILL: a crash.
    void Stop(int signal = SIGTERM) {
        if (pid_ <= 0) return;
        ::kill(pid_, signal);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    int port_ = 0;
    std::string conf_;
    pid_t pid_ = -1;
};

// Subscribes at QoS 1 (a persistent session unless `clean`) and records every message.
class MqttConsumer {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool retained = false;
    };
    using Messages = std::vector<Message>;

    MqttConsumer(int port, const std::string& id, const std::string& topic, bool clean = false) : topic_(topic) {
        mosquitto_lib_init();
        m_ = mosquitto_new(id.c_str(), clean, this);
        mosquitto_reconnect_delay_set(m_, 1, 1, false);
        mosquitto_connect_callback_set(m_, [](mosquitto* m, void* self, int rc) {
            if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<MqttConsumer*>(self)->topic_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(m_, [](mosquitto*, void* self, int, int, const int*) {
            static_cast<MqttConsumer*>(self)->Update([](MqttConsumer& c) { c.subscribed_ = true; });
        });
        mosquitto_message_callback_set(m_, [](mosquitto*, void* self, const mosquitto_message* msg) {
            Message m{msg->topic, std::string(static_cast<const char*>(msg->payload), static_cast<std::size_t>(msg->payloadlen)),
                      msg->retain};
            static_cast<MqttConsumer*>(self)->Update([&](MqttConsumer& c) { c.messages_.push_back(std::move(m)); });
        });
        if (mosquitto_connect(m_, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS || mosquitto_loop_start(m_) != MOSQ_ERR_SUCCESS)
            throw std::runtime_error("consumer cannot connect");
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, std::chrono::seconds(10), [&] { return subscribed_; })) throw std::runtime_error("consumer not subscribed");
    }
    ~MqttConsumer() {
        mosquitto_disconnect(m_);
        mosquitto_loop_stop(m_, false);
        mosquitto_destroy(m_);
    }
    MqttConsumer(const MqttConsumer&) = delete;
    MqttConsumer& operator=(const MqttConsumer&) = delete;

    // Waits until `done` holds for what arrived (at most `limit`); returns whether it did.
    bool WaitFor(const std::function<bool(const Messages&)>& done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, limit, [&] { return done(messages_); });
    }
    Messages Received() {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    template <typename F>
    void Update(F f) {
        {
            std::lock_guard lock(mutex_);
            f(*this);
        }
        cv_.notify_all();
    }

    std::string topic_;
    mosquitto* m_ = nullptr;
    std::mutex mutex_;
    std::condition_variable cv_;
    bool subscribed_ = false;
    Messages messages_;
};

// The last message on `topic`, or "" when none came.
inline std::string LastPayload(const MqttConsumer::Messages& messages, const std::string& topic) {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it)
        if (it->topic == topic) return it->payload;
    return {};
}

}  // namespace dorv::test
