// Texts of the console in the stations' language (Russian) and in English. A key missing
// from one language falls back to English, then to the key itself, so a gap shows, not a blank.
const texts = {
  en: {
    title: 'Forecourt', language: 'Language', token: 'Token', apply: 'Apply', forget: 'Forget',
    role: 'Role', roles_none: 'no access', role_viewer: 'viewer', role_pos: 'POS', role_manager: 'manager', connection_live: 'Live', connection_lost: 'Connection lost: reconnecting…',
    connection_connecting: 'Connecting…', connection_caught_up: 'Reconnected: caught up',
    tab_forecourt: 'Forecourt', tab_sales: 'Sales', tab_prices: 'Prices', tab_lines: 'Lines', tab_log: 'Event log',
    pump: 'Pump {n}', line_n: 'Line {n}', nozzle: 'Nozzle', nozzle_n: 'Nozzle {n}', grade: 'Grade', price: 'Price',
    volume: 'Volume', amount: 'Amount', preset: 'Preset', preset_none: 'full tank', preset_volume: '{v} L',
    preset_amount: 'amount {v}',
    state_offline: 'Offline', state_idle: 'Idle', state_calling: 'Calling', state_authorized: 'Authorized',
    state_fuelling: 'Fuelling', state_stopped: 'Stopped', state_finished: 'Finished', state_unknown: 'Unknown',
    authorize: 'Authorize', stop: 'Stop', stop_all: 'Stop every pump', lock: 'Lock', clear: 'Clear',
    unpaid: 'Unpaid', sale_n: 'Sale {n}', locked_here: 'locked by you', locked_other: 'locked by another POS',
    sale_payable: 'payable', sale_locked: 'locked', sale_cleared: 'cleared',
    why_role_pos: 'Needs the POS role', why_role_manager: 'Needs the manager role',
    why_locked_other: 'Locked by another POS: only it may clear', why_lock_first: 'Lock the sale first',
    why_offline: 'The pump is offline', why_busy: 'The pump is busy', why_not_running: 'Nothing to stop',
    why_unpaid_limit: 'Too many unpaid sales', why_no_change: 'No price changed',
    authorize_title: 'Authorize pump {n}', preset_kind: 'Preset', by_volume: 'By volume (L)',
    by_amount: 'By amount', full_tank: 'Full tank', value: 'Value', cancel: 'Cancel', confirm: 'Confirm',
    stop_all_confirm: 'Stop every pump on the forecourt now?',
    prices_title: 'Price board', price_set: 'Price set {id}', new_price: 'New price', apply_prices: 'Apply prices',
    prices_note: 'A pump that is fuelling keeps its price until its sale ends.',
    sales_title: 'Sales', filter_state: 'State', filter_pump: 'Pump', filter_day: 'Day', all: 'All',
    col_id: 'Sale', col_pump: 'Pump', col_nozzle: 'Nozzle', col_grade: 'Grade', col_price: 'Price',
    col_volume: 'Volume', col_amount: 'Amount', col_state: 'State', col_start: 'Started', col_end: 'Ended',
    day_totals: 'Day totals', totals_count: 'Sales', totals_none: 'No sales this day', refresh: 'Refresh',
    lines_title: 'Line health', col_line: 'Line', col_line_state: 'State', col_answered: 'Answered exchanges',
    col_failed: 'Failed exchanges', col_cycle: 'Poll cycle, ms', col_pumps: 'Pumps',
    line_online: 'online', line_offline: 'offline',
    uplink: 'Uplink', uplink_state: '{state}, {n} waiting', uplink_connected: '● connected', uplink_connecting: '◌ connecting', uplink_disconnected: '✕ disconnected',
    log_title: 'Event log', col_seq: 'No.', col_time: 'Time', col_type: 'Type', col_what: 'What',
    customer_title: 'Customer (emulator)', lift: 'Lift {n}', hang: 'Hang up',
    error: 'Error', done: 'Done', error_network: 'The service did not answer',
    ev_pump: 'pump', ev_sale: 'sale', ev_prices: 'prices', ev_line: 'line',
  },
  ru: {
    title: 'АЗС', language: 'Язык', token: 'Токен', apply: 'Применить', forget: 'Забыть',
    role: 'Роль', roles_none: 'нет доступа', role_viewer: 'просмотр', role_pos: 'касса', role_manager: 'управляющий', connection_live: 'На связи', connection_lost: 'Связь потеряна: переподключение…',
    connection_connecting: 'Подключение…', connection_caught_up: 'Связь восстановлена: данные догнаны',
    tab_forecourt: 'Колонки', tab_sales: 'Продажи', tab_prices: 'Цены', tab_lines: 'Линии', tab_log: 'Журнал событий',
    pump: 'ТРК {n}', line_n: 'Линия {n}', nozzle: 'Пистолет', nozzle_n: 'Пистолет {n}', grade: 'Топливо', price: 'Цена',
    volume: 'Объём', amount: 'Сумма', preset: 'Доза', preset_none: 'до полного бака', preset_volume: '{v} л',
    preset_amount: 'на сумму {v}',
    state_offline: 'Нет связи', state_idle: 'Свободна', state_calling: 'Вызов', state_authorized: 'Разрешена',
    state_fuelling: 'Налив', state_stopped: 'Остановлена', state_finished: 'Налив окончен', state_unknown: 'Неизвестно',
    authorize: 'Разрешить', stop: 'Стоп', stop_all: 'Остановить все ТРК', lock: 'Взять', clear: 'Закрыть',
    unpaid: 'Не оплачено', sale_n: 'Продажа {n}', locked_here: 'взята вами', locked_other: 'взята другой кассой',
    sale_payable: 'к оплате', sale_locked: 'взята', sale_cleared: 'закрыта',
    why_role_pos: 'Нужна роль кассы', why_role_manager: 'Нужна роль управляющего',
    why_locked_other: 'Взята другой кассой: закрыть может только она', why_lock_first: 'Сначала возьмите продажу',
    why_offline: 'ТРК не на связи', why_busy: 'ТРК занята', why_not_running: 'Нечего останавливать',
    why_unpaid_limit: 'Слишком много неоплаченных продаж', why_no_change: 'Цены не изменены',
    authorize_title: 'Разрешить ТРК {n}', preset_kind: 'Доза', by_volume: 'По объёму (л)',
    by_amount: 'На сумму', full_tank: 'До полного бака', value: 'Значение', cancel: 'Отмена', confirm: 'Подтвердить',
    stop_all_confirm: 'Остановить все ТРК на АЗС сейчас?',
    prices_title: 'Табло цен', price_set: 'Набор цен {id}', new_price: 'Новая цена', apply_prices: 'Установить цены',
    prices_note: 'ТРК, которая наливает, сохраняет цену до конца продажи.',
    sales_title: 'Продажи', filter_state: 'Состояние', filter_pump: 'ТРК', filter_day: 'День', all: 'Все',
    col_id: 'Продажа', col_pump: 'ТРК', col_nozzle: 'Пистолет', col_grade: 'Топливо', col_price: 'Цена',
    col_volume: 'Объём', col_amount: 'Сумма', col_state: 'Состояние', col_start: 'Начало', col_end: 'Конец',
    day_totals: 'Итоги дня', totals_count: 'Продаж', totals_none: 'За этот день продаж нет', refresh: 'Обновить',
    lines_title: 'Состояние линий', col_line: 'Линия', col_line_state: 'Состояние', col_answered: 'Обменов с ответом',
    col_failed: 'Неудачных обменов', col_cycle: 'Цикл опроса, мс', col_pumps: 'ТРК',
    line_online: 'на связи', line_offline: 'нет связи',
    uplink: 'Связь с сетью АЗС', uplink_state: '{state}, в очереди {n}', uplink_connected: '● на связи', uplink_connecting: '◌ подключение', uplink_disconnected: '✕ нет связи',
    log_title: 'Журнал событий', col_seq: '№', col_time: 'Время', col_type: 'Тип', col_what: 'Что',
    customer_title: 'Покупатель (эмулятор)', lift: 'Снять {n}', hang: 'Повесить',
    error: 'Ошибка', done: 'Готово', error_network: 'Сервис не ответил',
    ev_pump: 'ТРК', ev_sale: 'продажа', ev_prices: 'цены', ev_line: 'линия',
  },
};

let current = 'ru';

export function setLanguage(lang) {
  current = texts[lang] ? lang : 'en';
  document.documentElement.lang = current;
}

export function language() { return current; }

export function t(key, params = {}) {
  const text = texts[current][key] ?? texts.en[key] ?? key;
  return text.replace(/\{(\w+)\}/g, (_, name) => String(params[name] ?? ''));
}

// Fills every element marked data-i18n (its text) or data-i18n-label (its aria-label).
export function translatePage(root = document) {
  for (const el of root.querySelectorAll('[data-i18n]')) el.textContent = t(el.dataset.i18n);
  for (const el of root.querySelectorAll('[data-i18n-label]')) el.setAttribute('aria-label', t(el.dataset.i18nLabel));
}
