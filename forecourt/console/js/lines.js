// Line health (online, answered and failed exchanges, the poll cycle) and the event log.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { el } from './ui.js';

export function renderLines(app) {
  const body = document.querySelector('#lines-table tbody');
  const pumps = app.state.sortedPumps();
  const lines = [...app.state.lines.values()].sort((a, b) => a.line - b.line);
  body.replaceChildren(...lines.map((line) => {
    const own = pumps.filter((p) => p.line === line.line).map((p) => p.pump);
    const answered = line.exchanges === undefined ? undefined : line.exchanges - (line.failures ?? 0);
    return el('tr', { dataset: { line: line.line, online: String(Boolean(line.online)) } },
      el('td', {}, t('line_n', { n: line.line }), line.device ? el('div', { class: 'note' }, line.device) : null),
      el('td', { class: line.online ? '' : 'line-offline' }, `${line.online ? '●' : '✕'} ${t(line.online ? 'line_online' : 'line_offline')}`),
      el('td', {}, own.join(', ')),
      el('td', { class: 'num' }, answered === undefined ? '—' : String(answered)),
      el('td', { class: 'num' }, line.failures === undefined ? '—' : String(line.failures)),
      el('td', { class: 'num' }, fmt.number(line.poll_ms, 0)));
  }));
}

export function describe(event, app) {
  const d = event.data ?? {};
  const model = app.state;
  switch (event.type) {
    case 'pump': {
      const dec = model.decimals(d.grade);
      const running = d.state === 'fuelling' || d.state === 'stopped' || d.state === 'finished';
      return `${t('pump', { n: d.pump })}: ${t(`state_${d.state}`)}`
        + (running ? ` · ${fmt.number(d.volume, dec.volume)} · ${fmt.number(d.amount, dec.amount)}` : '');
    }
    case 'sale': {
      const dec = model.decimals(d.grade);
      return `${t('sale_n', { n: d.id })} · ${t('pump', { n: d.pump })} · ${t(`sale_${d.state}`)} · `
        + `${fmt.number(d.volume, dec.volume)} · ${fmt.number(d.amount, dec.amount)}`;
    }
    case 'prices':
      return `${t('price_set', { id: d.price_set })}: ${(d.grades ?? []).map((g) =>
        `${g.name} ${fmt.number(g.price, model.decimals(g.grade).price)}`).join(', ')}`;
    case 'line':
      return `${t('line_n', { n: d.line })}: ${t(d.online ? 'line_online' : 'line_offline')}`;
    case 'shift':
      return t(d.event === 'opened' ? 'shift_opened' : 'shift_closed', { id: d.shift?.id }) + ` (${d.shift?.[`${d.event}_by`] ?? ''})`;
    default:
      return '';
  }
}

// The log as filtered by type and pump; a pump's filter also keeps its line's events.
export function renderLog(app) {
  const body = document.querySelector('#log-table tbody');
  const type = document.getElementById('log-type').value;
  const pumpChoice = document.getElementById('log-pump');
  const chosen = pumpChoice.value;
  const pumps = app.state.sortedPumps();
  if (pumpChoice.options.length !== pumps.length + 1) {
    pumpChoice.replaceChildren(el('option', { value: '' }, t('all')), ...pumps.map((p) => el('option', { value: p.pump }, String(p.pump))));
    pumpChoice.value = chosen;
  }
  for (const option of document.getElementById('log-type').options) option.textContent = option.value ? t(`ev_${option.value}`) : t('all');
  pumpChoice.options[0].textContent = t('all');
  const line = app.state.pumps.get(Number(chosen))?.line;
  const shown = app.state.log.filter((e) => (!type || e.type === type)
    && (!chosen || (e.type === 'line' ? e.data?.line === line : String(e.data?.pump) === chosen)));
  body.replaceChildren(...shown.map((e) => el('tr', { dataset: { type: e.type } },
    el('td', { class: 'num' }, String(e.seq)), el('td', {}, fmt.time(e.time)),
    el('td', {}, t(`ev_${e.type}`)), el('td', {}, describe(e, app)))));
}
