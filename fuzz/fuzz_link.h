// A HostLink whose line delivers the fuzzer's bytes: each Transact takes the next answer from
// the input and treats it as a real link treats what the port delivered: at most the buffer's
// 255 bytes are copied into the reply buffer, the installed validator is called on them, and
// the line state that ReadLineState returns is what the validator reported (2, a timeout, when
// it reported nothing).
//
// Answers in the input: a byte h of 1 to 255 is followed by a reply of h bytes (fewer when the
// input ends first); a byte 0 is followed by one byte choosing an event of the line: silence,
// a failed transaction, an exception in Transact or in ReadLineState, or an empty reply. Once
// the input is used up the line is silent.
//
// Every frame the driver hands over is checked on the way out: lead byte, complements, trailer
// and check byte right, and no longer than the 255 bytes a frame may have.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "dorv5000/host_link.h"
#include "fuzz_check.h"

namespace dorv::fuzz {

// Reads the fuzzer's input front to back.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool Empty() const { return pos_ >= size_; }
    std::uint8_t Byte() { return Empty() ? 0 : data_[pos_++]; }
    // Up to n bytes; returns how many it gives.
    std::size_t Take(std::size_t n, const std::uint8_t** out) {
        n = std::min(n, size_ - std::min(pos_, size_));
        *out = data_ + pos_;
        pos_ += n;
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

class FuzzLink : public HostLink {
public:
    static constexpr std::uint8_t kTimeoutState = 2;
    static constexpr std::int32_t kFailure = 5;
    static constexpr std::int32_t kLineError = 77;

    explicit FuzzLink(Input& input) : input_(input) {}

    // One transaction as the line saw it: the request's command character and the byte after
    // it, and the reply the validator accepted (empty when it accepted none).
    struct Transaction {
        std::uint8_t command = 0;
        std::uint8_t argument = 0;
        std::vector<std::uint8_t> reply;
    };

    int transactions = 0;
    std::vector<Transaction> log;

    std::int32_t DORV_CALL GetLineError(std::uint8_t) override { return kLineError; }
    void DORV_CALL ReportLineCode(std::uint8_t, std::int32_t code) override {
        FUZZ_CHECK(code == kCodeAccepted || code == kCodeBadCheck || code == kCodeNoLead || code == kCodeBadFrame);
    }
    void DORV_CALL ReportLineState(std::uint8_t, std::int32_t state) override {
        FUZZ_CHECK(state == kLineAnswered || state == kLineFrameError);
        state_ = static_cast<std::uint8_t>(state);
    }
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t) override {
        if (throwInReadState_) {
            throwInReadState_ = false;
            throw std::runtime_error("line state unavailable");
        }
        return state_;
    }
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t, std::uint8_t) override {
        ++transactions;
        CheckFrame(frame, frameLength);
        // Frame: 0x7F, request byte 0, then every further request byte and its complement.
        log.push_back({frameLength > 4 ? frame[4] : std::uint8_t{0}, frameLength > 6 ? frame[6] : std::uint8_t{0}, {}});
        FUZZ_CHECK(validator_ != nullptr);
        state_ = kTimeoutState;
        if (input_.Empty()) return 0;
        const std::uint8_t h = input_.Byte();
        if (h == 0) {
            switch (input_.Byte() % 5) {
                case 0: return 0;  // silence
                case 1: return kFailure;
                case 2: throw std::runtime_error("port gone");
                case 3: throwInReadState_ = true; return 0;
                default: return Deliver(line, reply, nullptr, 0);
            }
        }
        const std::uint8_t* bytes = nullptr;
        const std::size_t n = input_.Take(h, &bytes);
        return Deliver(line, reply, bytes, n);
    }
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t, std::int32_t, std::int32_t) override { return 0; }
    void DORV_CALL SetReplyValidator(std::uint8_t, ReplyValidator v, void* context) override {
        validator_ = v;
        context_ = context;
    }
    void DORV_CALL SetLineConfigurator(std::uint8_t, LineConfigurator, void*) override {}

private:
    // What arrived goes into the driver's buffer and through the validator, as a port's bytes do.
    std::int32_t Deliver(std::uint8_t line, std::uint8_t* reply, const std::uint8_t* bytes, std::size_t n) {
        const auto copied = static_cast<std::uint8_t>(std::min<std::size_t>(n, kReplyCapacity));
        if (copied > 0) std::memcpy(reply, bytes, copied);
        std::uint8_t length = copied;
        const bool accepted = validator_(context_, line, reply, 0, &length, 0);
        FUZZ_CHECK(length <= copied);
        if (accepted) log.back().reply.assign(reply, reply + length);
        return 0;
    }

    static void CheckFrame(const std::uint8_t* f, std::size_t n) {
        FUZZ_CHECK(n >= 5 && n % 2 == 1);
        FUZZ_CHECK(f[0] == 0x7F);
        std::uint8_t check = 0x03;
        for (std::size_t i = 2; i + 3 < n; i += 2) {
            FUZZ_CHECK((f[i] ^ f[i + 1]) == 0x7F);
            check ^= f[i];
        }
        FUZZ_CHECK(f[n - 3] == 0x03 && f[n - 2] == 0x03);
        FUZZ_CHECK(f[n - 1] == (check | 0x40));
    }

    Input& input_;
    ReplyValidator validator_ = nullptr;
    void* context_ = nullptr;
    std::uint8_t state_ = 0;
    bool throwInReadState_ = false;
};

}  // namespace dorv::fuzz
