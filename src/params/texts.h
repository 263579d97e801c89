// Texts the parameter service raises or shows. Operators and the host's logs know them; keep
// them as they are.
#pragma once

namespace dorv::params::text {

inline constexpr const char* kConversionFailed = "Ошибка при преобразовании параметра в текстовый вид";
// The run-time list's own wording for a position outside the catalogue.
inline constexpr const char* kListIndexFormat = "List index out of bounds (%d)";

// Status line of the write run; the parameter's number follows.
inline constexpr const char* kRunWriteDone = "Операция записи параметра ";
inline constexpr const char* kRunWriteFailed = "Ошибка при операции записи параметра ";

// The INI section of the buffer files.
inline constexpr const char* kBufferSection = "Parametr";

}  // namespace dorv::params::text
