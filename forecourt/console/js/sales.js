// The sales list: filtered by state, pump and local day, with the day's totals per grade.
// The service is asked for the local day's instants, so a long history does not hide today;
// the day follows midnight while it shows today. A sale event updates the rows shown.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { get } from './api.js';
import { el, showError } from './ui.js';

const PAGE = 1000;
const MAX_PAGES = 50;

export class SalesView {
  constructor(app) {
    this.app = app;
    this.form = document.getElementById('sales-filters');
    this.body = document.querySelector('#sales-table tbody');
    this.totals = document.querySelector('#sales-totals tbody');
    this.sales = new Map();
    this.today = fmt.localDay();
    this.form.elements.day.value = this.today;
    this.form.addEventListener('submit', (e) => { e.preventDefault(); this.load(); });
    this.form.addEventListener('change', () => this.load());
    setInterval(() => this.followMidnight(), 30000);
  }

  followMidnight() {
    const today = fmt.localDay();
    if (today === this.today) return;
    const day = this.form.elements.day;
    const wasToday = day.value === this.today;
    this.today = today;
    if (!wasToday) return;
    day.value = today;
    this.sales.clear();
    if (this.app.visible('view-sales')) this.load();
  }

  filters() {
    const f = this.form.elements;
    return { state: f.state.value, pump: f.pump.value, day: f.day.value };
  }

  fillPumpFilter() {
    const select = this.form.elements.pump;
    const chosen = select.value;
    select.replaceChildren(el('option', { value: '' }, t('all')),
      ...this.app.state.sortedPumps().map((p) => el('option', { value: p.pump }, String(p.pump))));
    select.value = chosen;
  }

  matches(sale) {
    const f = this.filters();
    return (!f.state || sale.state === f.state) && (!f.pump || sale.pump === Number(f.pump))
      && (!f.day || fmt.localDay(sale.ended) === f.day);
  }

  async load() {
    const f = this.filters();
    const query = new URLSearchParams({ limit: String(PAGE) });
    if (f.state) query.set('state', f.state);
    if (f.pump) query.set('pump', f.pump);
    const range = f.day ? fmt.dayRange(f.day) : null;
    if (range) {
      query.set('from', range.from);
      query.set('to', range.to);
    }
    const found = new Map();
    try {
      let after = 0;
      for (let page = 0; page < MAX_PAGES; ++page) {
        query.set('after', String(after));
        const { sales } = await get(`/sales?${query}`);
        for (const sale of sales) if (this.matches(sale)) found.set(sale.id, sale);
        if (sales.length < PAGE) break;
        after = sales[sales.length - 1].id;
      }
    } catch (error) {
      showError(error);
      return;
    }
    this.sales = found;
    this.summary = null;
    // The service's totals of the day when no other filter narrows what is shown.
    if (range && !f.state && !f.pump) {
      this.summary = await get(`/sales/summary?${new URLSearchParams(range)}`).catch(() => null);
    }
    this.render();
  }

  onSale(sale) {
    const known = this.sales.get(sale.id);
    if (this.matches(sale)) this.sales.set(sale.id, sale);
    else this.sales.delete(sale.id);
    // A new sale of the day moves the service's totals: they are counted here from then on.
    if (!known && this.matches(sale)) this.summary = null;
  }

  render() {
    const model = this.app.state;
    const sorted = [...this.sales.values()].sort((a, b) => b.id - a.id);
    this.body.replaceChildren(...sorted.map((s) => {
      const d = model.decimals(s.grade);
      return el('tr', { dataset: { sale: s.id, state: s.state } },
        el('td', {}, String(s.id)), el('td', {}, String(s.pump)), el('td', {}, String(s.nozzle)),
        el('td', {}, model.gradeName(s.grade)),
        el('td', { class: 'num' }, fmt.number(s.price, d.price)),
        el('td', { class: 'num' }, fmt.number(s.volume, d.volume)),
        el('td', { class: 'num' }, fmt.number(s.amount, d.amount)),
        el('td', {}, t(`sale_${s.state}`) + (s.refund === null || s.refund === undefined ? ''
          : ` · ${t('refund', { v: fmt.number(s.refund, d.amount), p: fmt.number(s.prepaid, d.amount) })}`)),
        el('td', {}, fmt.dateTime(s.started)), el('td', {}, fmt.dateTime(s.ended)));
    }));
    this.renderTotals(sorted);
  }

  // The service's summary as per-grade sums; null when there is none for what is shown.
  summed() {
    if (!this.summary) return null;
    return new Map(this.summary.grades.map((g) => [g.grade, { count: g.sales, volume: g.volume, amount: g.amount }]));
  }

  // Totals of the sales shown: the day's, as filtered.
  renderTotals(sales) {
    const model = this.app.state;
    const byGrade = this.summed() ?? new Map();
    // Test deliveries went back to the tank: they are not the day's money.
    for (const s of this.summary ? [] : sales.filter((x) => x.state !== 'test')) {
      const sum = byGrade.get(s.grade) ?? { count: 0, volume: 0, amount: 0 };
      sum.count += 1;
      sum.volume += s.volume;
      sum.amount += s.amount;
      byGrade.set(s.grade, sum);
    }
    if (!byGrade.size) {
      this.totals.replaceChildren(el('tr', {}, el('td', { colspan: 4 }, t('totals_none'))));
      return;
    }
    const all = { count: 0, amount: 0 };
    const rows = [...byGrade.entries()].sort(([a], [b]) => String(a).localeCompare(String(b))).map(([grade, sum]) => {
      all.count += sum.count;
      all.amount += sum.amount;
      const d = model.decimals(grade);
      return el('tr', { dataset: { grade } }, el('td', {}, model.gradeName(grade)),
        el('td', { class: 'num' }, String(sum.count)),
        el('td', { class: 'num' }, fmt.number(sum.volume, d.volume)),
        el('td', { class: 'num' }, fmt.number(sum.amount, d.amount)));
    });
    // Litres of different grades are not added up; money is.
    rows.push(el('tr', { class: 'total' }, el('td', {}, t('all')), el('td', { class: 'num' }, String(all.count)),
      el('td', {}, ''), el('td', { class: 'num' }, fmt.number(all.amount, model.decimals(null).amount))));
    this.totals.replaceChildren(...rows);
  }
}
