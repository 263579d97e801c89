// The price board: the current price set, and for a manager new prices per grade. Only the
// grades whose price was changed are sent; the service makes a new price set of them. A price
// is read as typed (decimal comma or point), echoed, and goes live only after a confirmation.
// With a time in "from" the service keeps the change until then; what waits is listed, and a
// manager may cancel it.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { get, put, del } from './api.js';
import { el, allow, action, toast, confirmDialog } from './ui.js';

export class PricesView {
  constructor(app) {
    this.app = app;
    this.form = document.getElementById('prices-form');
    this.body = this.form.querySelector('tbody');
    this.apply = document.getElementById('prices-apply');
    // Enter in a field clicks the apply button, the form's default one, which applies; the form
    // itself never submits (clicking the button again here sent every change twice).
    this.form.addEventListener('submit', (e) => e.preventDefault());
    this.apply.addEventListener('click', action(() => this.submit()));
    this.form.addEventListener('input', (e) => { if (e.target.matches('tbody input')) this.check(e.target); });
    this.from = document.getElementById('prices-from');
    this.pending = document.querySelector('#pending-table tbody');
  }

  // "Name price, ..." of a change's grades.
  gradeList(grades) {
    return grades.map((g) => `${g.name} ${fmt.number(g.price, this.app.state.decimals(g.grade).price)}`).join(', ');
  }

  renderPending(manager) {
    const pending = this.app.state.prices?.pending ?? [];
    document.getElementById('pending-none').hidden = pending.length > 0;
    document.getElementById('pending-table').hidden = pending.length === 0;
    this.pending.replaceChildren(...pending.map((p) => {
      const cancel = el('button', { type: 'button', class: 'pending-cancel', onclick: action(() => this.cancel(p)) }, t('pending_cancel'));
      allow(cancel, manager ? null : t('why_role_manager'));
      return el('tr', { dataset: { pending: p.id } }, el('td', {}, fmt.dateTime(p.valid_from)), el('td', {}, this.gradeList(p.grades)),
        el('td', {}, cancel));
    }));
  }

  async cancel(p) {
    const time = fmt.dateTime(p.valid_from);
    if (!(await confirmDialog(t('pending_cancel_confirm', { time, list: this.gradeList(p.grades) })))) return;
    this.app.state.prices = await del(`/prices/pending/${p.id}`);
    this.app.redraw({ prices: true });
    toast(t('pending_cancelled'));
  }

  render() {
    const prices = this.app.state.prices;
    document.getElementById('price-set').textContent = prices
      ? `· ${t('price_set', { id: prices.price_set })} · ${fmt.dateTime(prices.since)}` : '';
    const manager = this.app.roles.manager;
    this.from.readOnly = !manager;
    this.renderPending(manager);
    const typed = new Map([...this.body.querySelectorAll('input')].map((i) => [i.name, i.value]));
    this.body.replaceChildren(...(prices?.grades ?? []).map((g) => {
      const d = this.app.state.decimals(g.grade);
      const input = el('input', {
        type: 'text', name: g.grade, inputmode: 'decimal', autocomplete: 'off',
        'aria-label': `${t('new_price')}: ${g.name}`, 'aria-describedby': `price-echo-${g.grade}`,
      });
      input.value = typed.get(g.grade) ?? '';
      input.readOnly = !manager;
      if (!manager) input.title = t('why_role_manager');
      const echo = el('output', { id: `price-echo-${g.grade}`, class: 'echo' });
      const row = el('tr', { dataset: { grade: g.grade } }, el('td', {}, g.name),
        el('td', { class: 'num price' }, fmt.number(g.price, d.price)), el('td', {}, input, ' ', echo));
      this.check(input);
      return row;
    }));
    allow(this.apply, manager ? null : t('why_role_manager'));
  }

  // Reads one typed price and says what it understood, or why it cannot.
  check(input, showEmpty = false) {
    const echo = input.parentElement?.querySelector('.echo');
    const d = this.app.state.decimals(input.name);
    const parsed = input.value.trim() === '' && !showEmpty ? null : fmt.parseDecimal(input.value, d.price);
    input.setAttribute('aria-invalid', String(Boolean(parsed?.error)));
    if (echo) {
      echo.dataset.kind = parsed?.error ? 'error' : 'ok';
      echo.textContent = !parsed ? '' : parsed.error ? t(parsed.error, parsed.params) : `→ ${fmt.number(parsed.value, d.price)}`;
    }
    return parsed;
  }

  async submit() {
    const typed = [...this.body.querySelectorAll('input')].filter((i) => i.value.trim() !== '');
    if (!typed.length) {
      toast(t('why_no_change'), 'error');
      return;
    }
    const bad = typed.find((i) => this.check(i).error);
    if (bad) {
      const { error, params } = this.check(bad);
      bad.focus();
      toast(`${this.app.state.gradeName(bad.name)}: ${t(error, params)}`, 'error');
      return;
    }
    const grades = typed.map((i) => ({ grade: i.name, price: this.check(i).value }));
    const list = grades.map((g) => {
      const d = this.app.state.decimals(g.grade);
      return `${this.app.state.gradeName(g.grade)}: ${fmt.number(this.app.state.gradeEntry(g.grade)?.price, d.price)} → ${fmt.number(g.price, d.price)}`;
    }).join('; ');
    // The local time typed, sent as an instant with its zone.
    const from = this.from.value ? new Date(this.from.value) : null;
    if (from && Number.isNaN(from.getTime())) {
      this.from.focus();
      toast(t('value_time'), 'error');
      return;
    }
    const time = from ? fmt.dateTime(from.toISOString()) : '';
    if (!(await confirmDialog(from ? t('prices_confirm_at', { time, list }) : t('prices_confirm', { list })))) return;
    const answer = await put('/prices', from ? { grades, valid_from: from.toISOString() } : { grades });
    for (const input of this.body.querySelectorAll('input')) input.value = '';
    this.from.value = '';
    // A change that waits answers with itself; the board with what waits is read again.
    const pending = answer.valid_from !== undefined;
    this.app.state.prices = pending ? await get('/prices') : answer;
    this.app.redraw({ prices: true });
    toast(pending ? t('pending_done', { time: fmt.dateTime(answer.valid_from) }) : `${t('done')}: ${t('price_set', { id: answer.price_set })}`);
  }
}
