// Numbers and dates as the reader expects them: the grade's own decimals, the language's
// separators, and times in the browser's local zone (the service sends UTC).
import { language } from './i18n.js';

const locales = { ru: 'ru-RU', en: 'en-GB' };
const cache = new Map();

function numberFormat(decimals) {
  const key = `${language()}:${decimals}`;
  if (!cache.has(key)) {
    cache.set(key, new Intl.NumberFormat(locales[language()], {
      minimumFractionDigits: decimals, maximumFractionDigits: decimals,
    }));
  }
  return cache.get(key);
}

// A missing reading is shown as a dash, never as 0.
export function number(value, decimals = 2) {
  if (value === null || value === undefined || Number.isNaN(Number(value))) return '—';
  return numberFormat(decimals).format(Number(value));
}

export function dateTime(iso) {
  if (!iso) return '—';
  const d = new Date(iso);
  return Number.isNaN(d.getTime()) ? '—' : d.toLocaleString(locales[language()]);
}

export function time(iso) {
  if (!iso) return '—';
  const d = new Date(iso);
  return Number.isNaN(d.getTime()) ? '—' : d.toLocaleTimeString(locales[language()]);
}

// The local calendar day of an instant, as the value of an <input type=date>.
export function localDay(iso) {
  const d = iso ? new Date(iso) : new Date();
  const pad = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${pad(d.getMonth() + 1)}-${pad(d.getDate())}`;
}

// The separator the language writes before decimals; the point is read in every language.
export function decimalSeparator() {
  return numberFormat(1).formatToParts(1.5).find((p) => p.type === 'decimal')?.value ?? '.';
}

// A number as a cashier types it: digits with at most one decimal separator (the language's
// or a point) and at most `decimals` digits after it. Anything else is refused, never
// trimmed to what could be read: {value} or {error, params} for t().
export function parseDecimal(text, decimals) {
  const typed = String(text ?? '').trim();
  if (!typed) return { error: 'value_empty' };
  const seps = new Set(['.', decimalSeparator()]);
  const match = /^(\d{1,7})(?:(.)(\d+))?$/.exec(typed);
  if (!match || (match[2] !== undefined && !seps.has(match[2]))) {
    return { error: 'value_invalid', params: { example: decimals ? number(20.5, Math.min(decimals, 2)) : '20' } };
  }
  const fraction = match[3] ?? '';
  if (fraction.length > decimals) return { error: 'value_decimals', params: { d: decimals } };
  const value = Number(`${match[1]}.${fraction || '0'}`);
  if (!(value > 0)) return { error: 'value_zero' };
  return { value };
}

// The local calendar day `day` (YYYY-MM-DD) as the instants it starts and ends at.
export function dayRange(day) {
  const [y, m, d] = day.split('-').map(Number);
  return { from: new Date(y, m - 1, d).toISOString(), to: new Date(y, m - 1, d + 1).toISOString() };
}
