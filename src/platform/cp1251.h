// CP1251, the 8-bit code page of the stations' hosts, from and to the UTF-8 the sources hold.
#pragma once

#include <string>
#include <string_view>

namespace dorv::platform {

// Characters with no CP1251 byte become '?'; malformed UTF-8 bytes become '?' one each.
std::string Utf8ToCp1251(std::string_view utf8);
std::string Cp1251ToUtf8(std::string_view cp1251);

}  // namespace dorv::platform
