// The driver's fixed message texts. Hosts and operators know them; keep them as they are.
#pragma once

namespace dorv::msg {

inline constexpr const char* kColumnRange = "Номер колонки выходит за допустимый диапозон";
inline constexpr const char* kLineRange = "Номер линии выходит за допустимый диапазон";
inline constexpr const char* kNozzleRange = "Номер пистолета выходит за допустимый диапазон";
inline constexpr const char* kAddressRange = "Адрес пистолета выходит за допустимый диапазон";
inline constexpr const char* kParameterRange = "Номер параметра выходит за допустимый диапазон";

inline constexpr const char* kStartPump = "Can't START POMP";
inline constexpr const char* kStopPump = "Can't STOP POMP";
inline constexpr const char* kPrice = "Ошибка задания цены";
inline constexpr const char* kPresetVolume = "Ошибка задания отпуска по литрам";
inline constexpr const char* kPresetAmount = "Ошибка задания отпуска по сумме";
inline constexpr const char* kFilling = "Ошибка при запросе состояния отлива";
inline constexpr const char* kGetStatus = "Can't GetSost";
inline constexpr const char* kGetType = "Can't GetType";
inline constexpr const char* kGetParam = "Can't GetParam";
inline constexpr const char* kSetParam = "Can't SetPar";
inline constexpr const char* kSetAddress = "Can't SetClapan";
inline constexpr const char* kAddressNotAnswered = "Ошибка при программировании адреса пистолета";
inline constexpr const char* kLinkFailed = "Ошибка связи с блоком связи";
inline constexpr const char* kDispenserSilent = "Ошибка связи с ТРК";

// Values that cannot travel in their digit field.
inline constexpr const char* kValueRange = "Значение не помещается в поле команды";
inline constexpr const char* kZeroPrice = "Цена не задана: пересчет суммы в литры невозможен";

inline constexpr const char* kDriverInfo = "v2.41#Протокол колонок Dorv 5000";
inline constexpr const char* kMenuCaption = "Программирование параметров (Dorv 5000)";
inline constexpr const char* kDispenserMenu = "&ТРК";

}  // namespace dorv::msg
