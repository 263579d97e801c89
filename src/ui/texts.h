// Every caption, label, hint and message of the parameter window and the driver settings
// dialog. The drawing layer shows these and no texts of its own; operators and their
// instructions know them word for word (blanks and quotes included), so keep them as they are.
// UTF-8.
#pragma once

#include <array>

namespace dorv::ui::text {

// ---- parameter window ----
inline constexpr const char* kWindowCaption = "Программирование параметров ТРК";
inline constexpr const char* kComPortLabel = "№ СОМ-порта";
inline constexpr const char* kAddressLabel = "Адрес пистолета";
inline constexpr const char* kIdNumberLabel = "ID-номер";
inline constexpr const char* kReadAllButton = "Прочитать все параметры из ТРК";
inline constexpr const char* kSaveButton = "Сохранить параметры в файл";
inline constexpr const char* kLoadButton = "Считать параметры из файла";
inline constexpr const char* kWriteAllButton = "Записать все параметры в ТРК";
inline constexpr const char* kCopyHint = "Копировать в буфер";
inline constexpr const char* kPasteCaption = "&Вставить";
inline constexpr const char* kPasteHint = "Копировать из буфера";
inline constexpr const char* kDriverSettingsButton = "Настройки драйвера";
inline constexpr const char* kCloseButton = "Закрыть (Esc)";

inline constexpr std::array<const char*, 3> kTabs = {"Общие команды", "Программирование адреса", "Программирование параметров"};
inline constexpr std::array<const char*, 5> kColumnHeaders = {"Код", "Имя параметра", "Ограничения", "Чтение", "Запись"};

inline constexpr const char* kReadCellHint = "Дважды щелкните на поле для чтения параметра";
inline constexpr const char* kWriteCellHint = "Нажмите Enter для записи параметра";
inline constexpr const char* kReadFailed = "Ошибка чтения!";

// Limits column.
inline constexpr const char* kLimitsFrom = "от ";
inline constexpr const char* kLimitsTo = " до ";
inline constexpr const char* kListLimits = "<список>";
inline constexpr const char* kPairLimits = "от 0 до 999 л/мин.";
// "OC" in the two temperature texts are the Latin letters O and C.
inline constexpr const char* kTemperatureLimits = "от -99 до +200 OC (200 - датчик отключен)";
inline constexpr const char* kHeaterLimits = "от -20 до 0 OC";

// Single write.
inline constexpr const char* kConfirmWriteText = "Вы действительно хотите записать параметр";
inline constexpr const char* kConfirmWriteCaption = "Подтверждение записи";
inline constexpr const char* kWriteDone = "Операция записи проведена.";
inline constexpr const char* kWriteFailed = "Ошибка при проведении операции записи.";
inline constexpr const char* kWriteImpossible = "Невозможно провести операцию записи.";
// A value wider than the parameter's digit field: the hint over its "Запись" cell and the
// status line of a write refused for it, followed by the field's width ("знаков: 3)").
inline constexpr const char* kValueTooWide = "Значение не помещается в поле параметра (знаков: ";

// Buffer files.
inline constexpr const char* kSaveDialogTitle = "Сохранение файла настроек";
inline constexpr const char* kOpenDialogTitle = "Считать параметры из файла";
inline constexpr const char* kDialogDefaultName = "ТРК";
inline constexpr const char* kSaveDefaultExtension = "par";
inline constexpr const char* kOpenDefaultExtension = "tar";
// Caption of the message that reports a buffer or settings file that cannot be read or written.
inline constexpr const char* kErrorCaption = "Ошибка";

// ---- driver settings dialog ----
inline constexpr const char* kSettingsCaption = "Настройки драйвера ТРК DORV";
inline constexpr const char* kPistStepCaption = "Нумерация пистолетов на стороне";
// Four blanks before the parenthesis of the first item line the two items up.
inline constexpr std::array<const char*, 2> kPistStepItems = {"Сплошная    (1,2,3,4 - 5,6,7,8)", "Чередующаяся (1,3,5,7 - 2,4,6,8)"};
// The inner quotes and the final blank belong to the caption.
inline constexpr const char* kFreeStartCaption = "Разрешить команду старта при повешенном пистолете (для \"Ирвала\" лучше запретить) ";
inline constexpr const char* kSummaToLiterCaption = "Пересчитывать отпуск на СУММУ в ЛИТРЫ";
inline constexpr const char* kForceStartCaption = "Прямой пуск";
inline constexpr const char* kNoVerifStartCaption = "Не проверять выполнение старта (для плохих линий связи с ТРК)";
inline constexpr const char* kSpecAutomatikaCaption = "ТРК Спецавтоматика (с протоколом АЗС2.0)";
inline constexpr const char* kReadDecimalCaption = "Взять количество знаков после запятой с ТРК";
inline constexpr const char* kApplyButton = "Применить";
inline constexpr const char* kCancelButton = "Отмена";

}  // namespace dorv::ui::text
