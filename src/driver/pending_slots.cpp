// Placeholder bodies until the dispensing, reading, status and parameter commands land.
#include "dorv5000/exceptions.h"
#include "tvm30.h"

namespace dorv {
namespace {
[[noreturn]] void NotYet() { throw Exception("not built yet"); }
}  // namespace
bool TVM30::StopColumn(std::int32_t, std::int32_t, std::uint8_t) { NotYet(); }
void TVM30::GetFilling(std::int32_t, std::int32_t, double*, double*) { NotYet(); }
void TVM30::ReadCounters(std::int32_t, std::int32_t, std::int32_t, double*, double*, std::int32_t, std::int32_t) { NotYet(); }
void TVM30::WriteCounter(std::int32_t, std::int32_t, std::int32_t, const double*, std::int32_t, std::int32_t, std::int32_t) { NotYet(); }
double TVM30::GetFillingVolume(std::int32_t, std::int32_t, double*) { NotYet(); }
void TVM30::SetPrice(std::int32_t, std::int32_t, std::int32_t, double, double) { NotYet(); }
void TVM30::PresetVolume(std::int32_t, std::int32_t, std::int32_t, std::int32_t, double) { NotYet(); }
void TVM30::PresetAmount(std::int32_t, std::int32_t, std::int32_t, std::int32_t, double) { NotYet(); }
void TVM30::StartNozzle(std::int32_t, std::int32_t, std::int32_t) { NotYet(); }
std::int32_t TVM30::SetupLine(std::uint8_t) { NotYet(); }
std::int32_t TVM30::GetParam(std::int32_t, std::int32_t, std::int32_t) { NotYet(); }
void TVM30::SetParam(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { NotYet(); }
void TVM30::AuthorizeNozzle(std::int32_t, std::int32_t, std::int32_t, std::uint8_t) { NotYet(); }
StatusRecord TVM30::GetStatus(std::uint8_t, std::uint8_t, std::uint8_t) { NotYet(); }
void TVM30::StopNozzle(std::int32_t, std::int32_t, std::int32_t, std::uint8_t) { NotYet(); }
std::int32_t TVM30::StopAndRelease(std::int32_t, std::int32_t, std::int32_t, std::uint8_t) { NotYet(); }
std::int32_t TVM30::ReleaseNozzle(std::int32_t, std::int32_t, std::int32_t) { NotYet(); }
void TVM30::QueryType(std::uint8_t, std::uint8_t) { NotYet(); }
void TVM30::WriteNumberedParam(std::int32_t, std::int32_t, std::int32_t, std::int32_t) { NotYet(); }
void TVM30::ProgramNozzleAddress(std::uint8_t, std::uint8_t, std::int32_t, std::int32_t) { NotYet(); }
std::int64_t TVM30::ReadParameter(std::uint8_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t) { NotYet(); }
bool TVM30::WriteParameter(std::uint8_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t, std::int64_t) { NotYet(); }
void TVM30::FetchDecimals(std::int32_t, std::int32_t) { NotYet(); }
std::int32_t TVM30::ReconfigureLine(void*, std::uint8_t) { NotYet(); }
}  // namespace dorv
