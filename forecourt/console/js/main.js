// The console's start and its wiring: the snapshot, the event stream, the views and the
// actions a POS or a manager takes. It uses the public API and nothing else.
import { t, setLanguage, language, translatePage } from './i18n.js';
import * as api from './api.js';
import { ForecourtState, newChanges } from './state.js';
import { EventStream } from './events.js';
import { ForecourtView } from './tiles.js';
import { SalesView } from './sales.js';
import { PricesView } from './prices.js';
import { renderLines, renderLog } from './lines.js';
import { askAuthorization } from './authorize.js';
import { allow, action, toast, confirmDialog } from './ui.js';
import { rolesOf } from './roles.js';

const LANGUAGE_KEY = 'dorv-forecourt-language';
const LOCK_NAME_KEY = 'dorv-forecourt-lock-name';
const LINES_REFRESH_MS = 2000;
// ?timing=1 records each event batch in the performance timeline (for the benchmark).
const TIMING = new URLSearchParams(location.search).has('timing');

class App {
  constructor() {
    this.state = new ForecourtState();
    this.roles = { viewer: false, pos: false, manager: false };
    this.uplink = null;
    this.unpaidLimit = 0;
    this.lockName = sessionStorage.getItem(LOCK_NAME_KEY);
    this.lockedIds = new Set();
    this.loading = null;
    this.pending = [];
    this.hadConnection = false;
    this.forecourt = new ForecourtView(this);
    this.sales = new SalesView(this);
    this.prices = new PricesView(this);
    this.stream = new EventStream({
      lastSeq: () => this.state.lastSeq,
      onBatch: (events) => this.onBatch(events),
      onStatus: (status) => this.showConnection(status),
      onGap: () => this.reload(),
    });
  }

  async start() {
    setLanguage(localStorage.getItem(LANGUAGE_KEY) || 'ru');
    document.getElementById('language').value = language();
    this.wire();
    translatePage();
    this.showConnection('connecting');
    this.stream.start();
    await this.reload();
    setInterval(() => this.refreshLines(), LINES_REFRESH_MS);
  }

  wire() {
    document.getElementById('language').addEventListener('change', (e) => {
      setLanguage(e.target.value);
      localStorage.setItem(LANGUAGE_KEY, language());
      translatePage();
      this.showConnection(this.connection);
      this.showUplink(this.uplink ?? null);
      this.redraw({ all: true });
    });
    const tokenInput = document.getElementById('token');
    document.getElementById('token-form').addEventListener('submit', (e) => {
      e.preventDefault();
      this.changeToken(tokenInput.value.trim());
      tokenInput.value = '';
    });
    document.getElementById('token-forget').addEventListener('click', () => this.changeToken(''));
    document.getElementById('stop-all').addEventListener('click', action(() => this.stopAll()));
    const tabs = [...document.querySelectorAll('[role="tab"]')];
    tabs.forEach((tab, i) => {
      tab.addEventListener('click', () => this.showTab(tab));
      tab.addEventListener('keydown', (e) => {
        const step = { ArrowRight: 1, ArrowLeft: -1 }[e.key];
        if (!step) return;
        const next = tabs[(i + step + tabs.length) % tabs.length];
        next.focus();
        this.showTab(next);
      });
    });
  }

  showTab(tab) {
    for (const other of document.querySelectorAll('[role="tab"]')) {
      const selected = other === tab;
      other.setAttribute('aria-selected', String(selected));
      other.tabIndex = selected ? 0 : -1;
      document.getElementById(other.getAttribute('aria-controls')).hidden = !selected;
    }
    if (tab.id === 'tab-sales') this.sales.load();
    if (tab.id === 'tab-lines') this.refreshLines();
    this.redraw({ all: true });
  }

  visible(id) { return !document.getElementById(id).hidden; }

  changeToken(value) {
    api.setToken(value);
    this.lockName = null;
    this.lockedIds.clear();
    sessionStorage.removeItem(LOCK_NAME_KEY);
    this.stream.restart();
    this.reload();
  }

  // The whole picture from the service: at start, with a new token, and when the event
  // journal no longer holds what the page missed.
  reload() {
    if (!this.loading) {
      this.loading = this.load().finally(() => {
        this.loading = null;
        const held = this.pending;
        this.pending = [];
        if (held.length) this.onBatch(held);
      });
    }
    return this.loading;
  }

  async load() {
    try {
      const forecourt = await api.get('/forecourt').catch((error) => {
        if (error instanceof api.ApiError && (error.status === 401 || error.status === 403)) return null;
        throw error;
      });
      this.roles = rolesOf(forecourt?.role);
      this.showRole();
      this.showUplink(forecourt?.uplink ?? null);
      if (!forecourt) return;
      const [prices, payable, locked] = await Promise.all([
        api.get('/prices'), api.get('/sales?state=payable&limit=1000'), api.get('/sales?state=locked&limit=1000'),
      ]);
      this.state.loadForecourt(forecourt);
      this.unpaidLimit = forecourt.unpaid_limit ?? 0;
      this.state.prices = prices;
      this.state.loadUnpaid([...payable.sales, ...locked.sales]);
      document.getElementById('station').textContent = this.state.station;
      this.sales.fillPumpFilter();
      this.redraw({ all: true });
    } catch (error) {
      toast(`${t('error')}: ${error.message}`, 'error');
    }
  }

  onBatch(events) {
    if (this.loading) {
      this.pending.push(...events);
      return;
    }
    if (TIMING) performance.mark('batch-start');
    const changed = newChanges();
    for (const event of events) {
      this.state.apply(event, changed);
      if (event.type === 'sale') this.sales.onSale(event.data);
    }
    this.redraw(changed);
    if (TIMING) performance.measure('console-batch', { start: 'batch-start', detail: events.length });
  }

  redraw(changed) {
    const all = changed.all;
    if (all) this.forecourt.renderAll();
    else for (const n of changed.pumps ?? []) this.forecourt.update(n);
    if ((all || changed.sales) && this.visible('view-sales')) this.sales.render();
    if ((all || changed.prices) && this.visible('view-prices')) this.prices.render();
    // Names and decimals of grades show on every tile.
    if (changed.prices && !all) this.forecourt.renderAll();
    if ((all || changed.lines) && this.visible('view-lines')) renderLines(this);
    if ((all || changed.log) && this.visible('view-log')) renderLog(this);
    allow(document.getElementById('stop-all'), this.roles.pos ? null : t('why_role_pos'));
  }

  showConnection(status) {
    const box = document.getElementById('connection');
    const wasLost = this.connection === 'lost' || (this.connection === 'connecting' && this.hadConnection);
    this.connection = status;
    box.dataset.state = status;
    box.textContent = status === 'live' ? t(wasLost ? 'connection_caught_up' : 'connection_live')
      : status === 'lost' ? t('connection_lost') : t('connection_connecting');
    if (status === 'live') this.hadConnection = true;
  }

  showRole() {
    const names = ['manager', 'pos', 'viewer'].filter((r) => this.roles[r]).map((r) => t(`role_${r}`));
    document.getElementById('role').textContent = names.length ? names.join(', ') : t('roles_none');
  }

  // The uplink sends no events: its state is read again with the lines' health.
  showUplink(uplink) {
    this.uplink = uplink;
    const text = uplink ? t('uplink_state', { state: t(`uplink_${uplink.state}`), n: uplink.outbox }) : '';
    const header = document.getElementById('uplink');
    header.hidden = !uplink;
    header.dataset.state = uplink?.state ?? '';
    document.getElementById('uplink-state').textContent = text;
    const line = document.getElementById('lines-uplink');
    line.hidden = !uplink;
    line.textContent = uplink ? `${t('uplink')}: ${text}` : '';
  }

  async refreshLines() {
    if (!this.roles.viewer || (!this.visible('view-lines') && !this.uplink)) return;
    const forecourt = await api.get('/forecourt').catch(() => null);
    if (!forecourt) return;
    this.showUplink(forecourt.uplink ?? null);
    for (const line of forecourt.lines ?? []) this.state.lines.set(line.line, { ...this.state.lines.get(line.line), ...line });
    renderLines(this);
  }

  lockedByMe(sale) {
    if (sale.state !== 'locked') return false;
    return this.lockedIds.has(sale.id) || (this.lockName !== null && sale.locked_by === this.lockName);
  }

  putPump(pump) {
    this.state.pumps.set(pump.pump, pump);
    this.forecourt.update(pump.pump);
  }

  putSale(sale) {
    this.state.putSale(sale);
    this.sales.onSale(sale);
    this.redraw({ pumps: new Set([sale.pump]), sales: true });
  }

  async authorize(n) {
    const pump = this.state.pumps.get(n);
    const body = await askAuthorization(pump, (g) => this.state.gradeName(g));
    if (!body) return;
    this.putPump(await api.post(`/pumps/${n}/authorize`, body));
  }

  async stop(n) { this.putPump(await api.post(`/pumps/${n}/stop`)); }

  async stopAll() {
    if (!(await confirmDialog(t('stop_all_confirm')))) return;
    const { pumps } = await api.post('/stop');
    for (const pump of pumps) this.putPump(pump);
    toast(t('done'));
  }

  async lock(id) {
    const sale = await api.post(`/sales/${id}/lock`);
    this.lockedIds.add(id);
    if (sale.locked_by !== null && sale.locked_by !== undefined) {
      this.lockName = sale.locked_by;
      sessionStorage.setItem(LOCK_NAME_KEY, this.lockName);
    }
    this.putSale(sale);
  }

  async clear(id) {
    this.putSale(await api.post(`/sales/${id}/clear`));
    this.lockedIds.delete(id);
  }

  async customer(n, what, nozzle) {
    await api.post(`/emulator/pumps/${n}/${what}`, { nozzle });
  }
}

const app = new App();
// Reachable from the browser's console (and the browser tests) for a look at the page's state.
window.forecourtConsole = app;
app.start();
