// Serves the line on a pseudo-terminal: the host opens the slave device as
// if it were the serial port the dispensers hang on.
#pragma once

#include <string>
#include <thread>

#include "line.h"
#include "stream_session.h"

namespace dorv::emu {

class PtyServer {
 public:
  // Opens the pair and starts serving; throws std::system_error on failure.
  PtyServer(Line& line, LinkTiming timing, ExchangeObserver observer = {});
  ~PtyServer();  // stops and joins the serving thread, closes the master
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // The device the host opens, e.g. /dev/pts/5.
  const std::string& slave_path() const { return slave_path_; }

 private:
  void Serve(std::stop_token stop);

  int master_ = -1;
  std::string slave_path_;
  StreamSession session_;
  std::jthread thread_;
};

}  // namespace dorv::emu
