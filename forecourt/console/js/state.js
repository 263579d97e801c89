// What the page knows of the forecourt: the service's own objects, kept as they arrive.
// Events and snapshots both go through here; the views only read it and are told what changed.
export const PUMP_STATES = ['offline', 'idle', 'calling', 'authorized', 'fuelling', 'stopped', 'finished'];
const DEFAULT_DECIMALS = { volume: 2, amount: 2, price: 2 };
// drive_off and test are settled as cleared is: final, nothing left to pay.
const RANK = { payable: 0, locked: 1, cleared: 2, drive_off: 2, test: 2 };
const SALES_KEPT = 2000;

export class ForecourtState {
  constructor() {
    this.station = '';
    this.emulator = false;
    this.pumps = new Map();     // pump number -> Pump
    this.unpaid = new Map();    // sale id -> Sale, payable or locked
    this.cleared = new Set();   // sale ids seen cleared: a late older copy never brings one back
    this.prices = null;         // Prices
    this.lines = new Map();     // line number -> Line (health merged in from events)
    this.log = [];              // newest first, bounded
    this.lastSeq = null;
    this.logLimit = 300;
    this.sales = new Map();     // sale id -> Sale of any state, as last seen: what a tile shows
    this.stoppedSales = new Set();  // sales of fillings this page stopped
    this.lastRunning = new Map();   // pump number -> its view when its line went silent mid-filling
  }

  loadForecourt(forecourt) {
    this.station = forecourt.station ?? '';
    this.emulator = Boolean(forecourt.emulator);
    const numbers = new Set((forecourt.pumps ?? []).map((p) => p.pump));
    for (const n of this.pumps.keys()) if (!numbers.has(n)) this.pumps.delete(n);
    for (const pump of forecourt.pumps ?? []) this.putPump(pump, null);
    for (const line of forecourt.lines ?? []) this.lines.set(line.line, { ...this.lines.get(line.line), ...line });
  }

  loadUnpaid(sales) {
    this.unpaid.clear();
    for (const sale of sales) {
      if (!this.cleared.has(sale.id)) this.unpaid.set(sale.id, sale);
      if (!this.sales.has(sale.id)) this.sales.set(sale.id, sale);
    }
  }

  // A sale only moves forward (payable, locked, cleared): a copy older than the one held,
  // from a snapshot taken before a replayed event, is ignored.
  putSale(sale) {
    const known = this.sales.get(sale.id);
    if (!known || RANK[sale.state] >= RANK[known.state]) this.sales.set(sale.id, sale);
    // Bounded: the oldest seen go first; a tile that needs one again reads it from the service.
    if (this.sales.size > SALES_KEPT) this.sales.delete(this.sales.keys().next().value);
    if (RANK[sale.state] === RANK.cleared) {
      this.cleared.add(sale.id);
      this.unpaid.delete(sale.id);
      return;
    }
    if (this.cleared.has(sale.id)) return;
    if (sale.state === 'payable' && this.unpaid.get(sale.id)?.state === 'locked') return;
    this.unpaid.set(sale.id, sale);
  }

  // Applies one event; answers what it touched so only that is drawn again.
  apply(event, changed) {
    if (typeof event.seq === 'number') this.lastSeq = Math.max(this.lastSeq ?? 0, event.seq);
    const data = event.data ?? {};
    // A running filling's volume ticks are not log lines: a pump is logged when its state moves.
    if (event.type !== 'pump' || this.pumps.get(data.pump)?.state !== data.state) {
      this.log.unshift(event);
      if (this.log.length > this.logLimit) this.log.length = this.logLimit;
      changed.log = true;
    }
    switch (event.type) {
      case 'pump':
        this.putPump(data, changed);
        break;
      case 'sale':
        this.putSale(data);
        changed.pumps.add(data.pump);
        changed.sales = true;
        break;
      case 'prices':
        this.prices = data;
        changed.prices = true;
        break;
      case 'line':
        this.lines.set(data.line, { ...this.lines.get(data.line), ...data });
        changed.lines = true;
        break;
      default:
        break;
    }
  }

  // Keeps what a pump was doing when its line fell silent: the tile still shows it.
  putPump(pump, changed) {
    const before = this.pumps.get(pump.pump);
    if (pump.state === 'offline') {
      if (before && before.state !== 'offline' && before.state !== 'idle') this.lastRunning.set(pump.pump, before);
    } else {
      this.lastRunning.delete(pump.pump);
    }
    if (before?.state !== pump.state) changed?.moved?.set(pump.pump, before?.state ?? null);
    this.pumps.set(pump.pump, pump);
    changed?.pumps.add(pump.pump);
  }

  // The sale a finished tile stands for, when the page has it.
  saleOf(pump) { return pump?.sale ? this.sales.get(pump.sale) ?? null : null; }

  sortedPumps() { return [...this.pumps.values()].sort((a, b) => a.pump - b.pump); }

  unpaidOf(pumpNumber) {
    return [...this.unpaid.values()].filter((s) => s.pump === pumpNumber).sort((a, b) => a.id - b.id);
  }

  gradeEntry(grade) { return this.prices?.grades?.find((g) => g.grade === grade) ?? null; }

  gradeName(grade) { return this.gradeEntry(grade)?.name ?? grade ?? '—'; }

  // A grade's decimals when the service states them, else the station's usual two.
  decimals(grade) { return { ...DEFAULT_DECIMALS, ...(this.gradeEntry(grade)?.decimals ?? {}) }; }
}

export function newChanges() {
  // moved: pump number -> its state before, for the pumps whose state changed
  return { pumps: new Set(), moved: new Map(), sales: false, prices: false, lines: false, log: false, all: false };
}
