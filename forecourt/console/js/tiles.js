// The forecourt: a tile per pump in pump order (state in colour, symbol and words, the
// running filling, the unpaid sales stacked beneath) and, in emulator mode, the customer's
// nozzles. Tiles are built once and updated in place, so focus survives a running filling.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { el, allow, action } from './ui.js';

const SYMBOLS = {
  offline: '✕', idle: '○', calling: '☎', authorized: '✓', fuelling: '▶', stopped: '■', finished: '◆',
};
const RUNNING = new Set(['authorized', 'fuelling']);
const BUSY = new Set(['authorized', 'fuelling', 'stopped']);

export class ForecourtView {
  constructor(app) {
    this.app = app;
    this.root = document.getElementById('tiles');
    this.tiles = new Map();  // pump number -> element refs
    this.customerRows = new Map();
  }

  // Draws every tile again (after a snapshot, a language or role change).
  renderAll() {
    const numbers = this.app.state.sortedPumps().map((p) => p.pump);
    if (numbers.join() !== [...this.tiles.keys()].join()) {
      this.root.replaceChildren();
      this.tiles.clear();
      for (const n of numbers) {
        const tile = this.buildTile(n);
        this.tiles.set(n, tile);
        this.root.append(tile.root);
      }
    }
    for (const n of numbers) this.update(n);
    this.renderCustomer();
  }

  buildTile(n) {
    const refs = {};
    refs.title = el('h3', { id: `pump-${n}-title` });
    refs.symbol = el('span', { 'aria-hidden': 'true' });
    refs.word = el('span', { class: 'state-word' });
    refs.meta = el('div', { class: 'meta' });
    refs.volume = el('output', { class: 'volume' });
    refs.amount = el('output', { class: 'amount' });
    refs.volumeLabel = el('span', { class: 'label' });
    refs.amountLabel = el('span', { class: 'label' });
    refs.preset = el('div', { class: 'preset' });
    refs.authorize = el('button', { type: 'button', class: 'authorize', onclick: action(() => this.app.authorize(n)) });
    refs.stop = el('button', { type: 'button', class: 'stop', onclick: action(() => this.app.stop(n)) });
    refs.unpaid = el('ul', { class: 'unpaid' });
    refs.sales = new Map();
    refs.root = el('article', { class: 'tile', 'aria-labelledby': `pump-${n}-title`, dataset: { pump: n } },
      el('header', {}, refs.title, el('span', { class: 'badge' }, refs.symbol, refs.word)),
      refs.meta,
      el('div', { class: 'readings' },
        el('div', { class: 'reading' }, refs.volumeLabel, refs.volume),
        el('div', { class: 'reading' }, refs.amountLabel, refs.amount)),
      refs.preset,
      el('div', { class: 'actions' }, refs.authorize, refs.stop),
      refs.unpaid);
    return refs;
  }

  update(n) {
    const pump = this.app.state.pumps.get(n);
    const refs = this.tiles.get(n);
    if (!pump || !refs) return;
    const { state: model, roles } = this.app;
    const d = model.decimals(pump.grade);
    const state = SYMBOLS[pump.state] ? pump.state : 'unknown';
    if (refs.root.dataset.state !== state) {
      refs.root.className = `tile state-${state}`;
      refs.root.dataset.state = state;
    }
    setText(refs.title, t('pump', { n }));
    setText(refs.symbol, SYMBOLS[state] ?? '?');
    setText(refs.word, t(`state_${state}`));
    // With no nozzle in play the tile lists what each nozzle sells and at what price.
    setText(refs.meta, pump.nozzle
      ? `${t('nozzle_n', { n: pump.nozzle })} · ${model.gradeName(pump.grade)} · ${t('price')} ${fmt.number(pump.price, d.price)}`
      : (pump.nozzles ?? []).map((nz) => `${nz.nozzle}: ${model.gradeName(nz.grade)} `
        + `${fmt.number(model.gradeEntry(nz.grade)?.price, model.decimals(nz.grade).price)}`).join(' · '));
    setText(refs.volumeLabel, t('volume'));
    setText(refs.amountLabel, t('amount'));
    const idle = state === 'idle' || state === 'offline';
    setText(refs.volume, idle ? '—' : fmt.number(pump.volume, d.volume));
    setText(refs.amount, idle ? '—' : fmt.number(pump.amount, d.amount));
    const shows = !idle && state !== 'calling';
    setText(refs.preset, `${t('preset')}: ${shows ? presetText(pump.preset, d) : '—'}`);

    setText(refs.authorize, t('authorize'));
    setText(refs.stop, t('stop'));
    const limit = this.app.unpaidLimit;
    allow(refs.authorize, !roles.pos ? t('why_role_pos')
      : state === 'offline' ? t('why_offline')
        : BUSY.has(state) ? t('why_busy')
          : limit && pump.unpaid >= limit ? t('why_unpaid_limit') : null);
    allow(refs.stop, !roles.pos ? t('why_role_pos')
      : state === 'offline' ? t('why_offline')
        : !RUNNING.has(state) ? t('why_not_running') : null);
    this.updateSales(n, refs);
    this.updateCustomer(n);
  }

  updateSales(n, refs) {
    const sales = this.app.state.unpaidOf(n);
    const keep = new Set(sales.map((s) => s.id));
    for (const [id, row] of refs.sales) {
      if (!keep.has(id)) { row.root.remove(); refs.sales.delete(id); }
    }
    for (const sale of sales) {
      let row = refs.sales.get(sale.id);
      if (!row) {
        row = this.buildSaleRow(sale.id);
        refs.sales.set(sale.id, row);
        refs.unpaid.append(row.root);
      }
      this.updateSaleRow(row, sale);
    }
  }

  buildSaleRow(id) {
    const row = {};
    row.what = el('span', { class: 'what' });
    row.lockState = el('span', { class: 'lock-state' });
    row.lock = el('button', { type: 'button', class: 'lock', onclick: action(() => this.app.lock(id)) });
    row.clear = el('button', { type: 'button', class: 'clear', onclick: action(() => this.app.clear(id)) });
    row.root = el('li', { dataset: { sale: id } }, row.what, row.lockState, row.lock, row.clear);
    return row;
  }

  updateSaleRow(row, sale) {
    const { roles } = this.app;
    const d = this.app.state.decimals(sale.grade);
    const mine = this.app.lockedByMe(sale);
    row.root.dataset.state = sale.state;
    setText(row.what, `${t('sale_n', { n: sale.id })}: ${this.app.state.gradeName(sale.grade)} `
      + `${fmt.number(sale.volume, d.volume)} × ${fmt.number(sale.price, d.price)} = ${fmt.number(sale.amount, d.amount)}`);
    setText(row.lockState, sale.state === 'payable' ? t('sale_payable')
      : mine ? t('locked_here') : `${t('locked_other')}${sale.locked_by ? ` (${sale.locked_by})` : ''}`);
    setText(row.lock, t('lock'));
    setText(row.clear, t('clear'));
    // Whether a lock is this page's own is known once the service has named it; until then
    // locking again asks the service, which accepts it only from the holder.
    const lockWhy = !roles.pos ? t('why_role_pos')
      : sale.state === 'locked' && (mine || this.app.lockName) ? (mine ? t('locked_here') : t('why_locked_other')) : null;
    allow(row.lock, lockWhy);
    allow(row.clear, !roles.pos ? t('why_role_pos')
      : sale.state === 'payable' ? t('why_lock_first')
        : !mine ? t('why_locked_other') : null);
  }

  renderCustomer() {
    const panel = document.getElementById('customer');
    panel.hidden = !this.app.state.emulator;
    if (panel.hidden) return;
    const box = document.getElementById('customer-pumps');
    box.replaceChildren();
    this.customerRows.clear();
    for (const pump of this.app.state.sortedPumps()) {
      const n = pump.pump;
      const lifts = (pump.nozzles ?? []).map((nz) => el('button', {
        type: 'button', class: 'lift', dataset: { nozzle: nz.nozzle },
        onclick: action(() => this.app.customer(n, 'lift', nz.nozzle)),
      }, `${t('lift', { n: nz.nozzle })} (${this.app.state.gradeName(nz.grade)})`));
      const hang = el('button', {
        type: 'button', class: 'hang', onclick: action(() => this.app.customer(n, 'hang', this.app.state.pumps.get(n)?.nozzle ?? 1)),
      }, t('hang'));
      const row = el('div', { dataset: { pump: n } }, el('strong', {}, t('pump', { n })), ...lifts, hang);
      this.customerRows.set(n, { lifts, hang });
      box.append(row);
      this.updateCustomer(n);
    }
  }

  updateCustomer(n) {
    const row = this.customerRows.get(n);
    if (!row) return;
    const why = this.app.roles.pos ? null : t('why_role_pos');
    for (const b of [...row.lifts, row.hang]) allow(b, why);
  }
}

// Writes a text only when it changed: a storm of events then costs no needless layout.
function setText(node, text) {
  if (node.textContent !== text) node.textContent = text;
}

export function presetText(preset, d) {
  if (!preset) return t('preset_none');
  if (preset.volume !== undefined) return t('preset_volume', { v: fmt.number(preset.volume, d.volume) });
  if (preset.amount !== undefined) return t('preset_amount', { v: fmt.number(preset.amount, d.amount) });
  return '—';
}
