#include "dorv_dispenser.h"

#include "station_link.h"
#include "status_codes.h"

namespace forecourt {

namespace {

Reply Silent(std::string message = {}) { return {Reply::Kind::kSilent, 0, std::move(message)}; }

// A controller's line status other than an answer: a refusal carries its code.
Reply Failed(int status) {
    if (status >= 16) return {Reply::Kind::kRefused, status, RefusalText(status)};
    return Silent();
}

}  // namespace

DorvDispenser::DorvDispenser(dorv::DI30& driver, StationLink& link, int line) : driver_(driver), link_(link), line_(line) {}

bool DorvDispenser::CommandAnswered(int& status) {
    status = driver_.GetLineStatus(static_cast<std::uint8_t>(line_));
    return status == dorv::kLineAnswered;
}

bool DorvDispenser::LinkAnswered() const { return link_.LastState(line_) == dorv::kLineAnswered; }

void DorvDispenser::Open() {
    try {
        driver_.SetupLine(static_cast<std::uint8_t>(line_));
    } catch (const dorv::Exception&) {
    }
}

std::optional<std::vector<NozzleReading>> DorvDispenser::Poll(int column, int nozzles) {
    try {
        const auto count = static_cast<std::uint8_t>(nozzles);
        const dorv::StatusRecord record = driver_.GetStatus(static_cast<std::uint8_t>(line_), static_cast<std::uint8_t>(column), count);
        int status = 0;
        if (!CommandAnswered(status)) return std::nullopt;
        std::vector<NozzleReading> out;
        for (std::size_t n = 1; n <= count; ++n) out.push_back({ClassifyCode(record.bytes[2 * n]), record.bytes[2 * n]});
        return out;
    } catch (const dorv::Exception&) {
        return std::nullopt;
    }
}

std::optional<Delivery> DorvDispenser::Filling(int column) {
    try {
        double litres = 0, money = 0;
        driver_.GetFilling(line_, column, &litres, &money);
        if (!LinkAnswered()) return std::nullopt;
        return Delivery{ToHundredths(litres), ToHundredths(money)};
    } catch (const dorv::Exception&) {
        return std::nullopt;
    }
}

std::optional<Totalizer> DorvDispenser::Totals(int column, int nozzle) {
    try {
        double volume = 0, amount = 0;
        driver_.ReadCounters(line_, column, nozzle, &volume, &amount, 0, 0);
        if (!LinkAnswered()) return std::nullopt;
        return Totalizer{ToHundredths(volume), ToHundredths(amount)};
    } catch (const dorv::Exception&) {
        return std::nullopt;
    }
}

Reply DorvDispenser::Authorize(int column, int nozzle, std::int64_t price_cents, const Preset& preset, bool& sent) {
    sent = false;
    int status = 0;
    try {
        driver_.SetPrice(line_, column, nozzle, 0, Hundredths(price_cents));
        if (!CommandAnswered(status)) return Failed(status);
        if (preset.kind == Preset::Kind::kVolume) driver_.PresetVolume(line_, column, nozzle, 0, Hundredths(preset.hundredths));
        if (preset.kind == Preset::Kind::kAmount) driver_.PresetAmount(line_, column, nozzle, 0, Hundredths(preset.hundredths));
        if (!CommandAnswered(status)) return Failed(status);
        sent = true;
        driver_.AuthorizeNozzle(line_, column, nozzle, 0);
        if (!CommandAnswered(status)) return Failed(status);
        return {};
    } catch (const dorv::ESerialIO& e) {
        return Silent(e.what());
    } catch (const dorv::Exception& e) {
        // The driver refused a value before sending it: nothing reached the pump.
        sent = false;
        return {Reply::Kind::kInvalid, 0, e.what()};
    }
}

Reply DorvDispenser::Stop(int column, int nozzle, bool flowing) {
    try {
        if (flowing)
            driver_.StopNozzle(line_, column, nozzle, 1);
        else
            driver_.StopAndRelease(line_, column, nozzle, 1);
        int status = 0;
        if (CommandAnswered(status)) return {};
        // Only the stop's own refusal is one; any other status is a line that did not take it.
        if (status == 20) return Failed(status);
        return Silent();
    } catch (const dorv::Exception& e) {
        return Silent(e.what());
    }
}

bool DorvDispenser::Release(int column, int nozzle) {
    try {
        driver_.StopAndRelease(line_, column, nozzle, 1);
        return LinkAnswered();
    } catch (const dorv::Exception&) {
        return false;
    }
}

LineHealth DorvDispenser::Health() const {
    const auto& c = link_.Counters(line_);
    return {c.last_state.load(), c.exchanges.load(), c.failures.load()};
}

}  // namespace forecourt
