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
