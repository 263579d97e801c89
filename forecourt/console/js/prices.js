// The price board: the current price set, and for a manager new prices per grade. Only the
// grades whose price was changed are sent; the service makes a new price set of them.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { put } from './api.js';
import { el, allow, action, toast } from './ui.js';

export class PricesView {
  constructor(app) {
    this.app = app;
    this.form = document.getElementById('prices-form');
    this.body = this.form.querySelector('tbody');
    this.apply = document.getElementById('prices-apply');
    this.form.addEventListener('submit', (e) => e.preventDefault());
    this.apply.addEventListener('click', action(() => this.submit()));
  }

  render() {
    const prices = this.app.state.prices;
    document.getElementById('price-set').textContent = prices
      ? `· ${t('price_set', { id: prices.price_set })} · ${fmt.dateTime(prices.since)}` : '';
    const manager = this.app.roles.manager;
    const typed = new Map([...this.body.querySelectorAll('input')].map((i) => [i.name, i.value]));
    this.body.replaceChildren(...(prices?.grades ?? []).map((g) => {
      const d = this.app.state.decimals(g.grade);
      const input = el('input', {
        type: 'number', name: g.grade, min: 0, step: 10 ** -d.price, inputmode: 'decimal',
        'aria-label': `${t('new_price')}: ${g.name}`,
      });
      input.value = typed.get(g.grade) ?? '';
      input.readOnly = !manager;
      if (!manager) input.title = t('why_role_manager');
      return el('tr', { dataset: { grade: g.grade } }, el('td', {}, g.name),
        el('td', { class: 'num price' }, fmt.number(g.price, d.price)), el('td', {}, input));
    }));
    allow(this.apply, manager ? null : t('why_role_manager'));
  }

  async submit() {
    const grades = [...this.body.querySelectorAll('input')]
      .filter((i) => i.value !== '')
      .map((i) => ({ grade: i.name, price: Number(i.value) }));
    if (!grades.length) {
      toast(t('why_no_change'), 'error');
      return;
    }
    const prices = await put('/prices', { grades });
    for (const input of this.body.querySelectorAll('input')) input.value = '';
    this.app.state.prices = prices;
    this.app.redraw({ prices: true });
    toast(`${t('done')}: ${t('price_set', { id: prices.price_set })}`);
  }
}
