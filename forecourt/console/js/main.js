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
import { loadAudit } from './audit.js';
import { ShiftsView } from './shifts.js';
import { number as fmtNumber, time as fmtTime } from './format.js';
import { askAuthorization } from './authorize.js';
import { allow, action, toast, confirmDialog, errorText, announce, showError, onError } from './ui.js';
import { rolesOf } from './roles.js';
import { Alarms } from './alarms.js';

const LANGUAGE_KEY = 'dorv-forecourt-language';
const LOCK_NAME_KEY = 'dorv-forecourt-lock-name';
const SOUND_KEY = 'dorv-forecourt-sound';
const LINES_REFRESH_MS = 2000;
const HEALTH_MS = 5000;
const RUNNING = new Set(['authorized', 'fuelling']);
// ?timing=1 records each event batch in the performance timeline (for the benchmark).
const TIMING = new URLSearchParams(location.search).has('timing');

class App {
  constructor() {
    this.state = new ForecourtState();
    this.roles = { viewer: false, pos: false, manager: false };
    this.uplink = null;
    this.unpaidLimit = 0;
    this.emergency = null;        // the emergency stop in force: since, by
    this.lockName = sessionStorage.getItem(LOCK_NAME_KEY);
    this.caller = null;           // the token's name, as the service calls it in locked_by
    this.unstopped = new Set();   // pumps a stop did not reach
    this.fetching = new Set();    // sale ids being read for a tile
    this.connection = 'connecting';
    this.alarms = new Alarms();
    this.alarms.onAck = (key) => this.alarmStillThere(key);
    onError((error) => { if (error?.code === 'store_failed') this.alarms.raise('store', 'alarm_store'); });
    this.lockedIds = new Set();
    this.loading = null;
    this.pending = [];
    this.hadConnection = false;
    this.forecourt = new ForecourtView(this);
    this.sales = new SalesView(this);
    this.prices = new PricesView(this);
    this.shifts = new ShiftsView(this);
    this.stream = new EventStream({
      lastSeq: () => this.state.lastSeq,
      onBatch: (events) => this.onBatch(events),
      onStatus: (status) => this.showConnection(status),
      onGap: () => this.reload(),
      onResync: (seq) => {
        this.state.lastSeq = seq;
        this.reload();
      },
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
    setInterval(() => this.checkHealth(), HEALTH_MS);
  }

  wire() {
    document.getElementById('language').addEventListener('change', (e) => {
      setLanguage(e.target.value);
      localStorage.setItem(LANGUAGE_KEY, language());
      translatePage();
      this.showConnection(this.connection);
      this.showUplink(this.uplink ?? null);
      this.showRole();
      this.sales.fillPumpFilter();
      this.alarms.render();
      this.redraw({ all: true });
    });
    const sound = document.getElementById('sound');
    sound.checked = localStorage.getItem(SOUND_KEY) === '1';
    sound.addEventListener('change', () => {
      localStorage.setItem(SOUND_KEY, sound.checked ? '1' : '0');
      if (sound.checked) this.beep();
    });
    // A browser lets a page sound only after a touch or a key: the first one readies it.
    const ready = () => { if (sound.checked) (this.audio ??= new AudioContext()).resume().catch(() => {}); };
    document.addEventListener('pointerdown', ready, { once: true });
    document.addEventListener('keydown', ready, { once: true });
    document.getElementById('authorize-all').addEventListener('click', action(() => this.authorizeAll()));
    document.getElementById('emergency-stop').addEventListener('click', action(() => this.emergencyStop()));
    document.getElementById('emergency-release').addEventListener('click', action(() => this.releaseEmergency()));
    document.addEventListener('keydown', (e) => this.pumpKey(e));
    for (const id of ['log-type', 'log-pump']) document.getElementById(id).addEventListener('change', () => renderLog(this));
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
    if (tab.id === 'tab-audit') loadAudit(this);
    if (tab.id === 'tab-shifts') this.shifts.load();
    this.redraw({ all: true });
  }

  visible(id) { return !document.getElementById(id).hidden; }

  changeToken(value) {
    api.setToken(value);
    this.lockName = null;
    this.caller = null;
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
      this.caller = forecourt?.caller ?? null;
      this.showRole();
      this.showUplink(forecourt?.uplink ?? null);
      if (!forecourt) {
        this.refuse();
        return;
      }
      for (const line of forecourt.lines ?? []) this.lineAlarm(line);
      const [prices, payable, locked] = await Promise.all([
        api.get('/prices'), api.get('/sales?state=payable&limit=1000'), api.get('/sales?state=locked&limit=1000'),
      ]);
      this.state.loadForecourt(forecourt);
      this.unpaidLimit = forecourt.unpaid_limit ?? 0;
      this.emergency = forecourt.emergency_stop ?? null;
      this.state.prices = prices;
      this.state.loadUnpaid([...payable.sales, ...locked.sales]);
      document.getElementById('station').textContent = this.state.station;
      this.sales.fillPumpFilter();
      this.redraw({ all: true });
    } catch (error) {
      showError(error);
    }
  }

  // A refused token is said as such; the stream is not reopened for it until a new token.
  refuse() {
    this.stream.close();
    // Nothing read with an earlier token stays on show.
    this.state.pumps.clear();
    this.state.unpaid.clear();
    this.roles = rolesOf(null);
    this.showRole();
    this.showConnection('refused');
    this.redraw({ all: true });
  }


  async checkHealth() {
    const health = await fetch('/healthz', { cache: 'no-store' }).then((r) => r.json(), () => null);
    if (health?.status === 'store_failed') this.alarms.raise('store', 'alarm_store');
    else if (health) this.alarms.passed('store');
  }

  lineAlarm(line) {
    if (line.online === false) this.alarms.raise(`line-${line.line}`, 'alarm_line', { n: line.line });
    else if (line.online) this.alarms.passed(`line-${line.line}`);
  }

  alarmStillThere(key) {
    const [kind, n] = key.split('-');
    if (kind === 'line') return this.state.lines.get(Number(n))?.online === false;
    if (kind === 'stop') return this.unstopped.has(Number(n));
    return false;
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
      if (event.type === 'line') this.lineAlarm(event.data);
      if (event.type === 'shift' && this.visible('view-shifts')) this.shifts.load();
      if (event.type === 'emergency_stop') {
        this.emergency = event.data.in_force ? { since: event.data.since, by: event.data.by } : null;
        changed.all = true;
      }
    }
    this.tell(changed.moved);
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
    allow(document.getElementById('emergency-stop'), this.roles.pos ? null : t('why_role_pos'));
    const emergency = document.getElementById('emergency');
    emergency.hidden = !this.emergency;
    document.getElementById('emergency-text').textContent = this.emergency
      ? t('emergency_in_force', { time: fmtTime(this.emergency.since), by: this.emergency.by }) : '';
    const release = document.getElementById('emergency-release');
    release.hidden = !this.roles.manager;
    allow(release, this.roles.manager ? null : t('why_role_manager'));
    allow(document.getElementById('authorize-all'), !this.roles.pos ? t('why_role_pos')
      : this.connection !== 'live' ? t('why_stale') : null);
  }

  // Calls, ends and lost pumps are announced; a call rings when the cashier asked for sound.
  tell(moved) {
    for (const [n, before] of moved) {
      const pump = this.state.pumps.get(n);
      if (pump.state === 'calling') {
        announce(t('ann_calling', { n }));
        if (document.getElementById('sound').checked) this.beep();
      } else if (pump.state === 'finished' && before !== null) {
        announce(t('ann_finished', { n, v: `${fmtNumber(pump.volume, this.state.decimals(pump.grade).volume)} ${t('unit_l')}` }));
      } else if (pump.state === 'offline' && before !== null) {
        announce(t('ann_offline', { n }));
      }
      // A pump that stopped delivering while online is no longer unstopped; its alarm stays.
      if (this.unstopped.has(n) && pump.state !== 'offline' && !RUNNING.has(pump.state)) {
        this.unstopped.delete(n);
        this.alarms.passed(`stop-${n}`);
      }
    }
  }

  beep() {
    try {
      this.audio ??= new AudioContext();
      const tone = this.audio.createOscillator();
      const gain = this.audio.createGain();
      tone.frequency.value = 880;
      gain.gain.value = 0.2;
      tone.connect(gain).connect(this.audio.destination);
      tone.start();
      tone.stop(this.audio.currentTime + 0.25);
    } catch {
      // No audio output: the call still shows and is announced.
    }
  }

  // Keys 1-9 pick that pump's tile, from anywhere but a field or a dialog.
  pumpKey(e) {
    if (e.ctrlKey || e.altKey || e.metaKey || !/^[1-9]$/.test(e.key)) return;
    if (e.target.closest?.('input, select, textarea, dialog')) return;
    const n = Number(e.key);
    if (!this.state.pumps.has(n)) return;
    e.preventDefault();
    if (!this.visible('view-forecourt')) this.showTab(document.getElementById('tab-forecourt'));
    this.forecourt.pick(n);
  }

  showConnection(status) {
    const box = document.getElementById('connection');
    const previous = this.connection;
    const wasLost = previous === 'lost' || (previous === 'connecting' && this.hadConnection);
    this.connection = status;
    box.dataset.state = status;
    box.textContent = status === 'live' ? t(wasLost ? 'connection_caught_up' : 'connection_live')
      : status === 'lost' ? t('connection_lost')
        : status === 'refused' ? t(api.token() ? 'connection_refused' : 'connection_no_token') : t('connection_connecting');
    if (status === 'live') this.hadConnection = true;
    // A stream that cannot open may be a token the service refuses: ask it once per loss.
    if (status === 'lost' && previous !== 'lost') this.probeToken();
    if ((previous === 'live') !== (status === 'live') && this.forecourt) this.redraw({ all: true });
  }

  async probeToken() {
    try {
      await api.get('/forecourt');
    } catch (error) {
      if (error.status === 401) this.refuse();
    }
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
    for (const line of forecourt.lines ?? []) this.lineAlarm(line);
    for (const line of forecourt.lines ?? []) this.state.lines.set(line.line, { ...this.state.lines.get(line.line), ...line });
    renderLines(this);
  }

  // A lock is this page's when the service names this token as its holder; another tab of
  // the same cashier holds it too.
  lockedByMe(sale) {
    if (sale.state !== 'locked') return false;
    const me = this.caller ?? this.lockName;
    return this.lockedIds.has(sale.id) || (me !== null && sale.locked_by === me);
  }

  putPump(pump) {
    const changed = newChanges();
    this.state.putPump(pump, changed);
    this.tell(changed.moved);
    this.forecourt.update(pump.pump);
  }

  // The sale a finished tile stands for, read once when the page does not hold it.
  async fetchSale(id) {
    if (this.fetching.has(id)) return;
    this.fetching.add(id);
    const sale = await api.get(`/sales/${id}`).catch(() => null);
    if (!sale) return;  // stays in `fetching`: a missing sale is not asked for again
    this.fetching.delete(id);
    this.state.putSale(sale);
    this.redraw({ pumps: new Set([sale.pump]) });
  }

  readTotals(n) { return api.get(`/pumps/${n}/totals`); }

  putSale(sale) {
    this.state.putSale(sale);
    this.sales.onSale(sale);
    this.redraw({ pumps: new Set([sale.pump]), sales: true });
  }

  async authorize(n) {
    const pump = this.state.pumps.get(n);
    const body = await askAuthorization(pump, this.state);
    if (!body) return;
    this.putPump(await api.post(`/pumps/${n}/authorize`, body));
  }

  async stop(n) {
    const sale = this.state.pumps.get(n)?.sale;
    if (sale) this.state.stoppedSales.add(sale);
    try {
      this.putPump(await api.post(`/pumps/${n}/stop`));
    } catch (error) {
      if (this.mayDeliver(n)) this.notStopped([{ pump: n, error }]);
      throw error;
    }
  }

  // Running, or silent since it was running: the pump may be delivering.
  mayDeliver(n) {
    const pump = this.state.pumps.get(n);
    return Boolean(pump) && (RUNNING.has(pump.state) || (pump.state === 'offline' && this.state.lastRunning.has(n)));
  }

  notStopped(failures) {
    for (const { pump } of failures) {
      this.unstopped.add(pump);
      this.alarms.raise(`stop-${pump}`, 'alarm_stop', { n: pump });
      this.forecourt.update(pump);
    }
  }

  // The emergency stop stops as "stop every pump" does, and holds until a manager releases it.
  async emergencyStop() {
    if (!(await confirmDialog(t('emergency_confirm')))) return;
    await this.stopAll('/emergency-stop');
  }

  async releaseEmergency() {
    if (!(await confirmDialog(t('emergency_release_confirm')))) return;
    await api.post('/emergency-stop/release');
    this.emergency = null;
    toast(t('emergency_released'));
    this.redraw({ all: true });
  }

  // Each pump's own result: the stop is done only when no pump is left that could not be
  // stopped. An answer without results is judged by the pumps it shows.
  async stopAll(route = '/stop') {
    if (route === '/stop' && !(await confirmDialog(t('stop_all_confirm')))) return;
    const before = this.state.sortedPumps().filter((p) => this.mayDeliver(p.pump)).map((p) => p.pump);
    for (const n of before) if (this.state.pumps.get(n).sale) this.state.stoppedSales.add(this.state.pumps.get(n).sale);
    let answer;
    try {
      answer = await api.post(route);
    } catch (error) {
      if (!error.body?.results) {
        this.notStopped(before.map((pump) => ({ pump, error })));
        throw error;
      }
      answer = error.body;
    }
    for (const pump of answer.pumps ?? []) this.putPump(pump);
    if (answer.emergency_stop) {
      this.emergency = answer.emergency_stop;
      this.redraw({ all: true });
    }
    const failures = answer.results
      ? answer.results.filter((r) => !r.stopped).map((r) => ({ pump: r.pump, error: { code: r.error, message: r.message, status: 503 } }))
      : before.filter((n) => this.mayDeliver(n)).map((pump) => ({ pump, error: { code: 'line_offline', status: 503 } }));
    this.reportEach(failures, 'stop_all_done', {}, 'stop_all_failed');
    if (failures.length) this.notStopped(failures);
  }

  // An action over several pumps: "done" only when every pump took it; else each one that
  // did not, with its reason.
  reportEach(failures, doneKey, doneParams, failedKey) {
    if (!failures.length) {
      toast(t(doneKey, doneParams));
      announce(t(doneKey, doneParams));
      return;
    }
    const list = failures.map((f) => `${t('pump', { n: f.pump })} (${errorText(f.error)})`).join('; ');
    toast(`${t('error')}: ${t(failedKey, { list })}`, 'error');
  }

  async authorizeAll() {
    const calling = this.state.sortedPumps().filter((p) => p.state === 'calling');
    if (!calling.length) {
      toast(t('authorize_all_none'), 'error');
      return;
    }
    const list = calling.map((p) => p.pump).join(', ');
    if (!(await confirmDialog(t('authorize_all_confirm', { list })))) return;
    const results = await Promise.all(calling.map((p) => api.post(`/pumps/${p.pump}/authorize`,
      { ...(p.nozzle ? { nozzle: p.nozzle } : {}), preset: null })
      .then((pump) => { this.putPump(pump); return null; }, (error) => ({ pump: p.pump, error }))));
    this.reportEach(results.filter(Boolean), 'authorize_all_done', { list }, 'authorize_all_failed');
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
    const had = document.activeElement?.closest?.(`li[data-sale="${id}"]`);
    const sale = await api.post(`/sales/${id}/clear`);
    this.putSale(sale);
    this.lockedIds.delete(id);
    // The row is gone with its buttons (maybe already, by the sale's event): focus goes back
    // to its pump's tile.
    if (had && !had.isConnected) this.forecourt.focusTile(sale.pump);
  }

  // A manager settles a payable sale as a drive-off or a test delivery.
  async mark(id, as) {
    this.putSale(await api.post(`/sales/${id}/mark`, { as }));
  }

  async customer(n, what, nozzle) {
    await api.post(`/emulator/pumps/${n}/${what}`, { nozzle });
  }
}

const app = new App();
// Reachable from the browser's console (and the browser tests) for a look at the page's state.
window.forecourtConsole = app;
app.start();
