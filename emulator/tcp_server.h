// Serves the line over TCP, for hosts whose serial link is a network
// serial server. Every client gets its own session on the shared line.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "line.h"
#include "stream_session.h"

namespace dorv::emu {

class TcpServer {
 public:
  // Listens on host:port (port 0 picks a free one); throws std::system_error
  // or std::invalid_argument when it cannot.
  TcpServer(Line& line, LinkTiming timing, const std::string& host, std::uint16_t port,
            ExchangeObserver observer = {});
  ~TcpServer();  // closes every connection and joins every thread
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  struct Client {
    Client(int socket, Line& line, LinkTiming timing, ExchangeObserver observer);
    ~Client();
    int fd;
    std::atomic<bool> done{false};
    StreamSession session;
    std::jthread thread;  // declared last: joined before the socket closes
  };

  void AcceptLoop(std::stop_token stop);
  static void Serve(Client& client, std::stop_token stop);

  Line& line_;
  LinkTiming timing_;
  ExchangeObserver observer_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::list<std::unique_ptr<Client>> clients_;  // touched by the accept thread only
  std::jthread accept_thread_;
};

}  // namespace dorv::emu
