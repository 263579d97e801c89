// A HostLink test double: records every frame the driver sends and answers from a script,
// calling the installed reply validator exactly as a real link does.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <vector>

#include "dorv5000/host_link.h"

namespace dorv::test {

using Bytes = std::vector<std::uint8_t>;

// A valid data reply carrying `data`, built independently of the driver's codec:
// 02, each data byte and its complement, 03 03, check byte.
inline Bytes DataReply(const Bytes& data) {
    Bytes r{0x02};
    std::uint8_t check = 0x03;
    for (std::uint8_t b : data) {
        r.push_back(b);
        r.push_back(static_cast<std::uint8_t>(b ^ 0x7F));
        check ^= b;
    }
    r.insert(r.end(), {0x03, 0x03, static_cast<std::uint8_t>(check | 0x40)});
    return r;
}

// The request record inside a request frame: group, then every other byte after it.
inline Bytes RequestOf(const Bytes& frame) {
    Bytes r;
    if (frame.size() < 5) return r;
    r.push_back(frame[1]);
    for (std::size_t i = 2; i + 3 < frame.size(); i += 2) r.push_back(frame[i]);
    return r;
}

struct Answer {
    enum Kind { Reply, Silence, Fail, ThrowInTransact, ThrowInReadState } kind = Reply;
    Bytes bytes;              // Reply: the bytes the line delivered (validated by the driver)
    std::int32_t result = 0;  // Fail: the non-zero code Transact returns
};

inline Answer Ack() { return {Answer::Reply, {0x06}, 0}; }
inline Answer Refused() { return {Answer::Reply, {0x18}, 0}; }
inline Answer Data(const Bytes& data) { return {Answer::Reply, DataReply(data), 0}; }
inline Answer Raw(const Bytes& bytes) { return {Answer::Reply, bytes, 0}; }
inline Answer Silent() { return {Answer::Silence, {}, 0}; }
inline Answer Failed(std::int32_t code = 5) { return {Answer::Fail, {}, code}; }

class RecordingLink : public HostLink {
public:
    struct Call {
        std::uint8_t line;
        Bytes frame;
        std::uint8_t replyLength;
        std::uint8_t mode;
        Bytes Request() const { return RequestOf(frame); }
    };

    // Line state after a transaction without an accepted reply (a timeout).
    static constexpr std::uint8_t kSilentState = 2;

    std::vector<Call> calls;
    std::deque<Answer> answers;  // taken one per Transact; when empty, the line is silent
    std::vector<std::int32_t> codes;
    std::vector<std::int32_t> states;
    Bytes lastReply;  // the reply buffer after validation, at the validated length
    bool lastAccepted = false;
    std::int32_t lineError = 77;
    std::int32_t configureResult = 0;
    std::vector<std::int32_t> configureArgs;  // line, format, baud of each ConfigureLine
    int configuratorInstalls = 0;
    LineConfigurator configurator = nullptr;
    void* configuratorContext = nullptr;
    ReplyValidator validator = nullptr;
    void* validatorContext = nullptr;

    void Queue(Answer a) { answers.push_back(std::move(a)); }
    std::vector<Bytes> Requests() const {
        std::vector<Bytes> r;
        for (const auto& c : calls) r.push_back(c.Request());
        return r;
    }

    std::int32_t DORV_CALL GetLineError(std::uint8_t) override { return lineError; }
    void DORV_CALL ReportLineCode(std::uint8_t, std::int32_t code) override { codes.push_back(code); }
    void DORV_CALL ReportLineState(std::uint8_t, std::int32_t s) override {
        states.push_back(s);
        state_ = static_cast<std::uint8_t>(s);
    }
    std::uint8_t DORV_CALL ReadLineState(std::uint8_t) override {
        if (throwInReadState_) {
            throwInReadState_ = false;
            throw std::runtime_error("line state unavailable");
        }
        return state_;
    }
    std::int32_t DORV_CALL Transact(std::uint8_t line, const std::uint8_t* frame, std::uint8_t frameLength, std::uint8_t* reply,
                                    std::uint8_t replyLength, std::uint8_t mode) override {
        calls.push_back({line, Bytes(frame, frame + frameLength), replyLength, mode});
        Answer a = Silent();
        if (!answers.empty()) {
            a = answers.front();
            answers.pop_front();
        }
        state_ = kSilentState;
        switch (a.kind) {
            case Answer::Silence: return 0;
            case Answer::Fail: return a.result;
            case Answer::ThrowInTransact: throw std::runtime_error("port gone");
            case Answer::ThrowInReadState: throwInReadState_ = true; return 0;
            case Answer::Reply: break;
        }
        std::uint8_t len = static_cast<std::uint8_t>(std::min<std::size_t>(a.bytes.size(), kReplyCapacity));
        std::copy(a.bytes.begin(), a.bytes.begin() + len, reply);
        lastAccepted = validator && validator(validatorContext, line, reply, 0, &len, 0);
        lastReply.assign(reply, reply + len);
        return 0;
    }
    std::int32_t DORV_CALL ConfigureLine(std::uint8_t line, std::int32_t format, std::int32_t baud) override {
        configureArgs.insert(configureArgs.end(), {line, format, baud});
        return configureResult;
    }
    void DORV_CALL SetReplyValidator(std::uint8_t, ReplyValidator v, void* context) override {
        validator = v;
        validatorContext = context;
    }
    void DORV_CALL SetLineConfigurator(std::uint8_t, LineConfigurator c, void* context) override {
        ++configuratorInstalls;
        configurator = c;
        configuratorContext = context;
    }

private:
    std::uint8_t state_ = 0;
    bool throwInReadState_ = false;
};

// The line state the driver reports after a silent line.
inline constexpr std::uint8_t kSilent = RecordingLink::kSilentState;

}  // namespace dorv::test
