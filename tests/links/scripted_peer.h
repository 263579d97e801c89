// The controllers' end of a line, scripted by a test: a pseudo-terminal whose slave the link
// opens, or a TCP server on 127.0.0.1. It parses requests with its own framing code and
// answers from a script, so a fault in the link's framing cannot hide behind the same fault here.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "links/stream_host_link.h"

namespace dorv::links::test {

using Bytes = std::vector<std::uint8_t>;

class ScriptedPeer {
public:
    virtual ~ScriptedPeer();
    // Leads `line` of the link to this peer.
    virtual void Attach(StreamHostLink& link, std::uint8_t line) = 0;
    // The device disappears (pty closed) or the server goes down.
    virtual void GoAway() = 0;
    // A device is back at the same place, or the server is up again on the same port.
    virtual void ComeBack() = 0;

    // The next whole request frame, or nothing when none came within `wait`.
    std::optional<Bytes> NextRequest(std::chrono::milliseconds wait = std::chrono::seconds(5));
    // Writes each chunk in a write of its own, pausing briefly between them.
    void Send(const std::vector<Bytes>& chunks);
    // Blocks until everything sent is waiting on the link's side of the line.
    virtual void WaitDelivered() = 0;
    // Pours Junk into the line, following the link to every new connection, until `stop` or
    // until `bytes` went out.
    void Talk(const std::atomic<bool>& stop, std::size_t bytes = SIZE_MAX);

protected:
    // The stream to the link; -1 while there is none (a TCP peer then accepts one).
    virtual int Stream(bool wait) = 0;
    virtual void Lost() {}

private:
    Bytes pending_;
};

std::unique_ptr<ScriptedPeer> MakePtyPeer();
std::unique_ptr<ScriptedPeer> MakeTcpPeer();

// Answers each request with the chunks the script returns for it; no chunks means silence.
using Script = std::function<std::vector<Bytes>(const Bytes& request, int index)>;

// Runs a script on a peer in a thread of its own and counts the requests it saw.
class Responder {
public:
    Responder(ScriptedPeer& peer, Script script);
    ~Responder();
    // The number of requests seen, once it reached `expected` or a few seconds went by.
    int AwaitRequests(int expected) const;

private:
    ScriptedPeer& peer_;
    Script script_;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// `size` bytes of every value, an acknowledgement or a refusal among every eight of them.
Bytes Junk(std::size_t size);
// A data reply built with the peer's own encoder: 02, each byte and its complement, 03 03, check.
Bytes DataReply(const Bytes& data);
// The request record inside a request frame: group, then every other byte up to the trailer.
Bytes RecordOf(const Bytes& frame);
// A request frame for a record, built with the peer's own encoder.
Bytes RequestFrame(const Bytes& record);

}  // namespace dorv::links::test
