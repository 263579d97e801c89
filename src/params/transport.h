// The two operations the parameter service needs from a driver, behind one small interface so
// the runs and the window can be driven by any transport (the driver object, a tool's own
// link, a test double).
//
// Thread safety: the read and write runs call a transport from their own threads while the
// window may call it from the user-interface thread; an implementation must allow calls from
// several threads at once (the driver object does: it keeps no state of its own besides the
// line status, and the host link serialises the transactions of a line).
#pragma once

#include <cstdint>
#include <optional>

namespace dorv {
class TVM30;
}

namespace dorv::params {

class ParameterTransport {
public:
    virtual ~ParameterTransport() = default;
    // The value read, or -1 when the entry cannot be read (kind 1 and 2, a refusal). May raise
    // (ESerialIO for line failures).
    virtual std::int64_t ReadParameter(std::uint8_t kind, std::int32_t line, std::int32_t address, std::int32_t number,
                                       std::int32_t digits) = 0;
    // True when the request was carried out. May raise.
    virtual bool WriteParameter(std::uint8_t kind, std::int64_t line, std::int64_t address, std::int64_t number, std::int64_t digits,
                                std::int64_t value) = 0;
};

// The driver object as a transport. The driver must outlive the adapter's use: the window
// stops and joins its runs before the driver goes away.
class Tvm30Transport final : public ParameterTransport {
public:
    explicit Tvm30Transport(TVM30& driver) : driver_(driver) {}
    std::int64_t ReadParameter(std::uint8_t kind, std::int32_t line, std::int32_t address, std::int32_t number,
                               std::int32_t digits) override;
    bool WriteParameter(std::uint8_t kind, std::int64_t line, std::int64_t address, std::int64_t number, std::int64_t digits,
                        std::int64_t value) override;

private:
    TVM30& driver_;
};

// Access kind of a value type: 0 numbered parameter (types 0..5), 1 common setting (6, 7),
// 2 network-address programming (8); other types are never transferred.
std::optional<std::uint8_t> AccessKindOf(std::uint8_t type);

}  // namespace dorv::params
