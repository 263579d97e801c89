// Shifts (POS and managers): the open one and since when, opening and closing it, the list of
// shifts and a closed one's report, per nozzle, with its CSV to download.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { get, post, token, ApiError } from './api.js';
import { el, allow, action, confirmDialog, showError, toast } from './ui.js';

export class ShiftsView {
  constructor(app) {
    this.app = app;
    this.shown = null;  // the shift whose report is on the page
    document.getElementById('shift-open').addEventListener('click', action(() => this.change('open')));
    document.getElementById('shift-close').addEventListener('click', action(() => this.change('close')));
    document.getElementById('shift-csv').addEventListener('click', action(() => this.download()));
  }

  async change(step) {
    if (!await confirmDialog(t(step === 'open' ? 'shift_open_confirm' : 'shift_close_confirm'))) return;
    const shift = await post(step === 'open' ? '/shifts' : '/shifts/current/close');
    toast(t(step === 'open' ? 'shift_opened' : 'shift_closed', { id: shift.id }));
    await this.load(step === 'close' ? shift : null);
  }

  async load(report = null) {
    const note = document.getElementById('shifts-note');
    note.hidden = this.app.roles.pos;
    note.textContent = this.app.roles.pos ? '' : t('why_role_pos');
    if (!this.app.roles.pos) return;
    let shifts;
    try {
      ({ shifts } = await get('/shifts?limit=50'));
    } catch (error) {
      showError(error);
      return;
    }
    const open = shifts.find((s) => s.state === 'open');
    document.getElementById('shift-current').textContent = open
      ? t('shift_open_since', { id: open.id, time: fmt.dateTime(open.opened), by: open.opened_by }) : t('shift_none');
    allow(document.getElementById('shift-open'), open ? t('why_shift_open') : null);
    allow(document.getElementById('shift-close'), open ? null : t('why_no_shift'));
    document.querySelector('#shifts-table tbody').replaceChildren(...shifts.map((s) => el('tr', {},
      el('td', { class: 'num' }, String(s.id)), el('td', {}, fmt.dateTime(s.opened)), el('td', {}, s.opened_by),
      el('td', {}, fmt.dateTime(s.closed)), el('td', {}, s.closed_by ?? '—'),
      el('td', {}, s.unread ? t('shift_unread') : ''),
      el('td', {}, s.state === 'closed'
        ? el('button', { type: 'button', onclick: action(() => this.show(s.id)) }, t('shift_report')) : t('shift_state_open')))));
    if (report) this.render(report);
  }

  async show(id) { this.render(await get(`/shifts/${id}`)); }

  render(shift) {
    this.shown = shift;
    const box = document.getElementById('shift-report');
    box.hidden = false;
    const r = shift.report;
    document.getElementById('shift-report-title').textContent = t('shift_report_title', { id: shift.id });
    // A nozzle not read is said so, never shown as 0.
    const reading = (v) => (v ? fmt.number(v.volume) : t('shift_not_read'));
    document.querySelector('#shift-nozzles tbody').replaceChildren(...r.nozzles.map((n) => el('tr', { dataset: { unread: n.unread } },
      el('td', {}, String(n.pump)), el('td', {}, String(n.nozzle)), el('td', {}, n.grade),
      el('td', { class: 'num' }, String(n.sales)), el('td', { class: 'num' }, fmt.number(n.volume)),
      el('td', { class: 'num' }, fmt.number(n.amount)), el('td', { class: 'num' }, reading(n.totalizer_open)),
      el('td', { class: 'num' }, reading(n.totalizer_close)), el('td', { class: 'num' }, reading(n.growth)),
      el('td', { class: 'num' }, n.difference_cl === null ? '—' : String(n.difference_cl)))));
    const tally = (name, v) => el('tr', {}, el('th', {}, name), el('td', { class: 'num' }, String(v.sales)),
      el('td', { class: 'num' }, v.volume === undefined ? '' : fmt.number(v.volume)), el('td', { class: 'num' }, fmt.number(v.amount)));
    document.querySelector('#shift-totals tbody').replaceChildren(
      ...r.grades.map((g) => tally(g.grade, g)), tally(t('shift_total'), r.total), tally(t('shift_drive_offs'), r.drive_offs),
      tally(t('shift_tests'), r.tests), tally(t('shift_refunds'), r.refunds), tally(t('shift_unpaid'), r.unpaid),
      ...r.cashiers.map((c) => tally(t('shift_cashier', { name: c.cashier }), c)));
    document.getElementById('shift-difference').textContent = r.difference_cl === null
      ? t('shift_difference_unknown') : t('shift_difference', { cl: r.difference_cl });
  }

  // The report's CSV: fetched with the token (a plain link could not carry it) and saved.
  async download() {
    if (!this.shown) return;
    const headers = { Accept: 'text/csv' };
    if (token()) headers.Authorization = `Bearer ${token()}`;
    const response = await fetch(`/api/v1/shifts/${this.shown.id}`, { headers, cache: 'no-store' });
    if (!response.ok) throw new ApiError(response.status, 'csv', await response.text());
    const url = URL.createObjectURL(await response.blob());
    const link = el('a', { href: url, download: `shift-${this.shown.id}.csv` });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 1000);
  }
}
