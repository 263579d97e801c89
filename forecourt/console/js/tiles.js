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

// The reasons a manager picks from are said in the page's language; a text of their own as it is.
function closureReason(reason) {
  return ['maintenance', 'no_fuel', 'fault'].includes(reason) ? t(`reason_${reason}`) : reason;
}

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
    // Running figures are not read out at every tick: calls, ends and failures are announced.
    refs.volume = el('output', { class: 'volume', 'aria-live': 'off' });
    refs.amount = el('output', { class: 'amount', 'aria-live': 'off' });
    refs.volumeLabel = el('span', { class: 'label' });
    refs.amountLabel = el('span', { class: 'label' });
    refs.preset = el('div', { class: 'preset' });
    refs.outcome = el('div', { class: 'outcome' });
    refs.note = el('div', { class: 'note-line' });
    refs.authorize = el('button', { type: 'button', class: 'authorize', onclick: action(() => this.app.authorize(n)) });
    refs.stop = el('button', { type: 'button', class: 'stop', onclick: action(() => this.app.stop(n)) });
    refs.totalsButton = el('button', { type: 'button', class: 'read-totals', onclick: action(() => this.readTotals(n)) });
    refs.totals = el('div', { class: 'totals', role: 'status' });
    refs.unpaid = el('ul', { class: 'unpaid' });
    refs.sales = new Map();
    refs.root = el('article', { class: 'tile', tabindex: '-1', 'aria-labelledby': `pump-${n}-title`, dataset: { pump: n } },
      el('header', {}, refs.title, el('span', { class: 'badge' }, refs.symbol, refs.word)),
      refs.note,
      refs.meta,
      el('div', { class: 'readings' },
        el('div', { class: 'reading' }, refs.volumeLabel, refs.volume),
        el('div', { class: 'reading' }, refs.amountLabel, refs.amount)),
      refs.preset,
      refs.outcome,
      el('div', { class: 'actions' }, refs.authorize, refs.stop, refs.totalsButton),
      refs.totals,
      refs.unpaid);
    return refs;
  }

  update(n) {
    const pump = this.app.state.pumps.get(n);
    const refs = this.tiles.get(n);
    if (!pump || !refs) return;
    const { state: model, roles } = this.app;
    const state = SYMBOLS[pump.state] ? pump.state : 'unknown';
    const stale = this.app.connection !== 'live';
    // An offline tile still shows the filling its line fell silent in.
    const last = state === 'offline' ? model.lastRunning.get(n) ?? null : null;
    const shown = last ?? pump;
    const f = this.figures(shown);
    if (refs.root.dataset.state !== state) {
      refs.root.className = `tile state-${state}`;
      refs.root.dataset.state = state;
    }
    refs.root.classList.toggle('stale', stale || Boolean(last));
    refs.root.dataset.unstopped = String(this.app.unstopped.has(n));
    setText(refs.title, t('pump', { n }));
    setText(refs.symbol, SYMBOLS[state] ?? '?');
    setText(refs.word, t(`state_${state}`));
    const notes = [];
    if (this.app.unstopped.has(n)) notes.push(`⚠ ${t('not_stopped')}`);
    if (last) notes.push(t('last_known', { state: t(`state_${last.state}`) }));
    if (stale) notes.push(t('stale'));
    if (pump.closed) notes.push(`⛔ ${t('closed', { reason: closureReason(pump.closed.reason) })}`);
    if (pump.alarm) notes.push(`⚠ ${t('alarm_nozzle_out', { time: fmt.time(pump.alarm.since) })}`);
    if (pump.mode === 'attendant') notes.push(t('mode_attendant'));
    refs.root.dataset.closed = String(Boolean(pump.closed));
    setText(refs.note, notes.join(' · '));
    // With no nozzle in play the tile lists what each nozzle sells and at what price.
    setText(refs.meta, f.nozzle
      ? `${t('nozzle_n', { n: f.nozzle })} · ${model.gradeName(f.grade)} · ${t('price')} ${fmt.number(f.price, f.d.price)}`
      : (pump.nozzles ?? []).map((nz) => `${nz.nozzle}: ${model.gradeName(nz.grade)} `
        + `${fmt.number(model.gradeEntry(nz.grade)?.price, model.decimals(nz.grade).price)}`).join(' · '));
    setText(refs.volumeLabel, t('volume'));
    setText(refs.amountLabel, t('amount'));
    setText(refs.volume, fmt.number(f.volume, f.d.volume));
    setText(refs.amount, fmt.number(f.amount, f.d.amount));
    setText(refs.preset, `${t('preset')}: ${f.presetText}`);
    setText(refs.outcome, f.outcome ? t(`outcome_${f.outcome}`) : '');
    refs.root.dataset.outcome = f.outcome ?? '';

    setText(refs.authorize, t('authorize'));
    setText(refs.stop, t('stop'));
    setText(refs.totalsButton, t('totals'));
    const limit = this.app.unpaidLimit;
    allow(refs.authorize, !roles.pos ? t('why_role_pos') : stale ? t('why_stale')
      : state === 'offline' ? t('why_offline')
        : this.app.emergency ? t('why_emergency')
        : pump.closed ? t('why_closed')
        : BUSY.has(state) ? t('why_busy')
          : limit && pump.unpaid >= limit ? t('why_unpaid_limit') : null);
    allow(refs.stop, !roles.pos ? t('why_role_pos') : stale ? t('why_stale')
      : state === 'offline' ? t('why_offline')
        : !RUNNING.has(state) ? t('why_not_running') : null);
    allow(refs.totalsButton, !roles.viewer ? t('roles_none') : stale ? t('why_stale')
      : state === 'offline' ? t('why_offline') : null);
    this.updateSales(n, refs);
    this.updateCustomer(n);
  }

  // What a tile shows of a pump: the running filling's own figures, a finished sale's as the
  // sale recorded them (its price, its preset, whether it was stopped), nothing of an older
  // sale while the pump is idle or calling. A missing figure is a dash, never another sale's.
  figures(pump) {
    const model = this.app.state;
    const f = { nozzle: pump.nozzle, grade: pump.grade, price: pump.price, volume: null, amount: null, presetText: '—', outcome: null };
    if (pump.state === 'authorized') {
      Object.assign(f, { volume: 0, amount: 0 });
      f.d = model.decimals(f.grade);
      f.presetText = presetText(pump.preset, f.d);
    } else if (pump.state === 'fuelling' || pump.state === 'stopped') {
      Object.assign(f, { volume: pump.volume, amount: pump.amount });
      f.d = model.decimals(f.grade);
      f.presetText = presetText(pump.preset, f.d, f);
    } else if (pump.state === 'finished') {
      const sale = model.saleOf(pump);
      if (!sale) {
        if (pump.sale) this.app.fetchSale(pump.sale);
        Object.assign(f, { price: null, volume: pump.volume, amount: pump.amount });
      } else {
        Object.assign(f, { nozzle: sale.nozzle, grade: sale.grade, price: sale.price, volume: sale.volume, amount: sale.amount });
        f.d = model.decimals(f.grade);
        f.presetText = presetText(sale.preset, f.d, f);
        f.outcome = outcomeOf(sale, model.stoppedSales.has(sale.id));
      }
    }
    f.d ??= model.decimals(f.grade);
    return f;
  }

  async readTotals(n) {
    const refs = this.tiles.get(n);
    const totals = await this.app.readTotals(n);
    const model = this.app.state;
    const lines = (totals.nozzles ?? []).map((nz) => {
      const d = model.decimals(nz.grade);
      return el('div', {}, t('totals_line', {
        n: nz.nozzle, grade: model.gradeName(nz.grade), v: fmt.number(nz.volume, d.volume), a: fmt.number(nz.amount, d.amount),
      }));
    });
    refs.totals.replaceChildren(el('div', { class: 'note' }, t('totals_at', { time: fmt.time(new Date().toISOString()) })), ...lines);
  }

  // Keys 1-9: the tile's own action when it has one to take, else the tile.
  pick(n) {
    const refs = this.tiles.get(n);
    if (!refs) return;
    const target = [refs.authorize, refs.stop].find((b) => b.getAttribute('aria-disabled') !== 'true') ?? refs.root;
    target.focus();
    refs.root.scrollIntoView({ block: 'nearest' });
  }

  focusTile(n) { this.tiles.get(n)?.root.focus(); }

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
    row.driveOff = el('button', { type: 'button', class: 'drive-off', onclick: action(() => this.app.mark(id, 'drive_off')) });
    row.test = el('button', { type: 'button', class: 'test', onclick: action(() => this.app.mark(id, 'test')) });
    row.root = el('li', { dataset: { sale: id } }, row.what, row.lockState, row.lock, row.clear, row.driveOff, row.test);
    return row;
  }

  updateSaleRow(row, sale) {
    const { roles } = this.app;
    const d = this.app.state.decimals(sale.grade);
    const mine = this.app.lockedByMe(sale);
    row.root.dataset.state = sale.state;
    const refund = sale.refund === null || sale.refund === undefined ? ''
      : ` · ${t('refund', { v: fmt.number(sale.refund, d.amount), p: fmt.number(sale.prepaid, d.amount) })}`;
    setText(row.what, `${t('sale_n', { n: sale.id })}: ${this.app.state.gradeName(sale.grade)} `
      + `${fmt.number(sale.volume, d.volume)} × ${fmt.number(sale.price, d.price)} = ${fmt.number(sale.amount, d.amount)}${refund}`);
    setText(row.lockState, sale.state === 'payable' ? t('sale_payable')
      : mine ? t('locked_here') : `${t('locked_other')}${sale.locked_by ? ` (${sale.locked_by})` : ''}`);
    setText(row.lock, t('lock'));
    setText(row.clear, t('clear'));
    setText(row.driveOff, t('mark_drive_off'));
    setText(row.test, t('mark_test'));
    // Marks are a manager's, on a payable sale the customer did not prepay.
    row.driveOff.hidden = row.test.hidden = !roles.manager || sale.prepaid !== null && sale.prepaid !== undefined;
    const markWhy = sale.state !== 'payable' ? t('why_marked_payable') : null;
    allow(row.driveOff, markWhy);
    allow(row.test, markWhy);
    // Whether a lock is this page's own is known once the service has named this token; until
    // then locking again asks the service, which accepts it only from the holder.
    const known = this.app.caller ?? this.app.lockName;
    const lockWhy = !roles.pos ? t('why_role_pos')
      : sale.state === 'locked' && (mine || known) ? (mine ? t('locked_here') : t('why_locked_other')) : null;
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

// A preset as words; with the figures of a running or finished filling, how far it went.
export function presetText(preset, d, f = null) {
  if (!preset) return t('preset_none');
  if (preset.volume !== undefined) {
    return f ? t('preset_of_volume', { v: fmt.number(f.volume, d.volume), p: fmt.number(preset.volume, d.volume) })
      : t('preset_volume', { v: fmt.number(preset.volume, d.volume) });
  }
  if (preset.amount !== undefined) {
    return f ? t('preset_of_amount', { v: fmt.number(f.amount, d.amount), p: fmt.number(preset.amount, d.amount) })
      : t('preset_amount', { v: fmt.number(preset.amount, d.amount) });
  }
  return '—';
}

// Whether a finished sale was stopped short of its preset. An amount preset ends within one
// centilitre's cost of the amount; a full tank ends when the nozzle is hung, so it counts as
// stopped only when this page stopped it.
export function outcomeOf(sale, stoppedHere) {
  const p = sale.preset;
  const short = p?.volume !== undefined ? sale.volume < p.volume - 0.005
    : p?.amount !== undefined ? p.amount - sale.amount > sale.price / 100 + 0.005 : false;
  if (short || (!p && stoppedHere)) return 'stopped';
  return p ? 'done' : 'full';
}
