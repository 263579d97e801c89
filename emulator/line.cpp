#include "line.h"

#include <algorithm>

#include "addressing.h"

namespace dorv::emu {

namespace {

constexpr std::uint8_t kBroadcastGroup = 0x02;
constexpr std::uint8_t kCommonSettingCommand = 'W';
constexpr std::uint8_t kProgramAddressCommand = ']';
constexpr int kResetAllSetting = 4;
constexpr int kMaxProgrammedAddress = 999;

}  // namespace

Line::Line(LineConfig config, Clock clock)
    : config_(config), clock_(std::move(clock)), faults_(config.seed) {}

bool Line::AddController(int address, std::optional<std::uint64_t> id) {
  std::lock_guard lock(mutex_);
  if (address < 1 || address > kMaxAddress) return false;
  return controllers_.try_emplace(address, id.value_or(DefaultId(address))).second;
}

std::vector<int> Line::Addresses() const {
  std::lock_guard lock(mutex_);
  std::vector<int> out;
  for (const auto& [address, c] : controllers_) out.push_back(address);
  return out;
}

Reply Line::Answer(std::span<const std::uint8_t> record) {
  std::lock_guard lock(mutex_);
  Sync();
  if (record.size() < 2) return {};
  std::optional<int> address;
  std::uint8_t command = record[1];
  const bool unaddressed = record[0] == kBroadcastGroup &&
                           (command == kCommonSettingCommand || command == kProgramAddressCommand);
  Controller* target = nullptr;
  if (!unaddressed) {
    address = DecodeAddress(record[0], record[1]);
    target = address ? Find(*address) : nullptr;
    // Nobody on the line hears a request for an address it does not have.
    if (target == nullptr || record.size() < 3) return {};
    command = record[2];
  }

  if (auto blocking = faults_.TakeBlocking(command, address)) {
    Reply reply;
    reply.fault = blocking->kind;
    if (blocking->kind == FaultKind::kRefusal) reply.bytes = OneByteReply(kRefusal);
    return reply;
  }

  Reply reply;
  if (command == kCommonSettingCommand && unaddressed)
    reply.bytes = CommonSetting(record);
  else if (unaddressed)
    reply.bytes = ProgramAddress(record);
  else
    reply.bytes = target->Handle(command, record.subspan(3));
  faults_.Damage(reply, command, address);
  return reply;
}

// [0x02, 'W', '0' + setting, '0' + value] goes to every controller at once.
Bytes Line::CommonSetting(std::span<const std::uint8_t> record) {
  const bool valid = record.size() == 4 && record[2] >= '0' && record[2] <= '9' &&
                     record[3] >= '0' && record[3] <= '9';
  if (valid) {
    const int setting = record[2] - '0';
    common_[static_cast<std::size_t>(setting)] = record[3] - '0';
    if (setting == kResetAllSetting)
      for (auto& [a, c] : controllers_) c.nozzle().Abort();
  }
  if (!config_.answer_common_settings || controllers_.empty()) return {};
  return OneByteReply(valid ? kAck : kRefusal);
}

// [0x02, ']', ID chars 1-5, address (3 digits), ID chars 6-10 (long form)].
// The controller with that ID answers; if none has it, the line stays silent.
Bytes Line::ProgramAddress(std::span<const std::uint8_t> record) {
  if (record.size() != 10 && record.size() != 15) return {};
  Bytes id_text(record.begin() + 2, record.begin() + 7);
  if (record.size() == 15) id_text.insert(id_text.end(), record.begin() + 10, record.end());
  const auto id = ParseDigits(id_text);
  const auto new_address = ParseDigits(record.subspan(7, 3));
  if (!id || !new_address) return {};
  auto it = std::find_if(controllers_.begin(), controllers_.end(),
                         [&](const auto& entry) { return entry.second.id() == *id; });
  if (it == controllers_.end()) return {};
  const int to = static_cast<int>(*new_address);
  if (to == it->first) return OneByteReply(kAck);
  if (to < 1 || to > kMaxProgrammedAddress || controllers_.contains(to))
    return OneByteReply(kRefusal);
  // Parameters, totalizers and the nozzle's state move with the controller.
  auto node = controllers_.extract(it);
  node.key() = to;
  controllers_.insert(std::move(node));
  return OneByteReply(kAck);
}

bool Line::Lift(int address) {
  std::lock_guard lock(mutex_);
  Sync();
  Controller* c = Find(address);
  if (c == nullptr) return false;
  c->nozzle().Lift();
  return true;
}

bool Line::Hang(int address) {
  std::lock_guard lock(mutex_);
  Sync();
  Controller* c = Find(address);
  if (c == nullptr) return false;
  c->nozzle().Hang();
  return true;
}

void Line::SetFlowRate(double litres_per_second) {
  std::lock_guard lock(mutex_);
  Sync();  // what flowed so far flowed at the old rate
  config_.flow_lps = std::max(0.0, litres_per_second);
}

double Line::flow_rate() const {
  std::lock_guard lock(mutex_);
  return config_.flow_lps;
}

bool Line::SetId(int address, std::uint64_t id) {
  std::lock_guard lock(mutex_);
  Controller* c = Find(address);
  if (c != nullptr) c->set_id(id);
  return c != nullptr;
}

bool Line::SetType(int address, char type) {
  std::lock_guard lock(mutex_);
  Controller* c = Find(address);
  if (c != nullptr) c->set_type(type);
  return c != nullptr;
}

bool Line::SetParam(int address, int number, std::int64_t value) {
  std::lock_guard lock(mutex_);
  Controller* c = Find(address);
  return c != nullptr && c->SetParam(number, value);
}

std::optional<std::int64_t> Line::Param(int address, int number) {
  std::lock_guard lock(mutex_);
  Sync();
  const Controller* c = Find(address);
  return c != nullptr ? c->ReadParam(number) : std::nullopt;
}

std::optional<ControllerState> Line::State(int address) {
  std::lock_guard lock(mutex_);
  Sync();
  const Controller* c = Find(address);
  if (c == nullptr) return std::nullopt;
  const Nozzle& n = c->nozzle();
  return ControllerState{address,   c->id(),          c->type(),   n.StatusChar(),
                         n.phase(), n.lifted(),       n.filling(), n.totals(),
                         n.price(), n.pending_dose(), c->scales(), c->calibration_unlocked()};
}

std::array<int, 10> Line::CommonSettings() const {
  std::lock_guard lock(mutex_);
  return common_;
}

void Line::SetAnswerCommonSettings(bool answer) {
  std::lock_guard lock(mutex_);
  config_.answer_common_settings = answer;
}

void Line::ArmFault(const FaultRule& rule) {
  std::lock_guard lock(mutex_);
  faults_.Arm(rule);
}

void Line::ClearFaults() {
  std::lock_guard lock(mutex_);
  faults_.Clear();
}

std::size_t Line::armed_faults() const {
  std::lock_guard lock(mutex_);
  return faults_.armed();
}

void Line::Sync() {
  const SteadyTime now = clock_();
  for (auto& [address, c] : controllers_) c.nozzle().Update(now, config_.flow_lps);
}

Controller* Line::Find(int address) {
  auto it = controllers_.find(address);
  return it == controllers_.end() ? nullptr : &it->second;
}

const Controller* Line::Find(int address) const {
  auto it = controllers_.find(address);
  return it == controllers_.end() ? nullptr : &it->second;
}

}  // namespace dorv::emu
