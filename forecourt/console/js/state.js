// What the page knows of the forecourt: the service's own objects, kept as they arrive.
// Events and snapshots both go through here; the views only read it and are told what changed.
export const PUMP_STATES = ['offline', 'idle', 'calling', 'authorized', 'fuelling', 'stopped', 'finished'];
const DEFAULT_DECIMALS = { volume: 2, amount: 2, price: 2 };

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
  }

  loadForecourt(forecourt) {
    this.station = forecourt.station ?? '';
    this.emulator = Boolean(forecourt.emulator);
    this.pumps.clear();
    for (const pump of forecourt.pumps ?? []) this.pumps.set(pump.pump, pump);
    for (const line of forecourt.lines ?? []) this.lines.set(line.line, { ...this.lines.get(line.line), ...line });
  }

  loadUnpaid(sales) {
    this.unpaid.clear();
    for (const sale of sales) if (!this.cleared.has(sale.id)) this.unpaid.set(sale.id, sale);
  }

  // A sale only moves forward (payable, locked, cleared): a copy older than the one held,
  // from a snapshot taken before a replayed event, is ignored.
  putSale(sale) {
    if (sale.state === 'cleared') {
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
    this.log.unshift(event);
    if (this.log.length > this.logLimit) this.log.length = this.logLimit;
    changed.log = true;
    const data = event.data ?? {};
    switch (event.type) {
      case 'pump':
        this.pumps.set(data.pump, data);
        changed.pumps.add(data.pump);
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
  return { pumps: new Set(), sales: false, prices: false, lines: false, log: false, all: false };
}
