// The alarm list: what needs a person (a line that does not answer, the sale database failing,
// a pump that could not be stopped). An alarm stays until someone acknowledges it, even when
// its cause has passed; the same cause raises it again only after it passed.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { el, announce } from './ui.js';

export class Alarms {
  constructor() {
    this.box = document.getElementById('alarms');
    this.list = this.box.querySelector('ul');
    this.active = new Map();   // key -> { text, params, time }
    this.acked = new Set();    // keys acknowledged while their cause goes on
  }

  raise(key, text, params = {}) {
    if (this.active.has(key) || this.acked.has(key)) return;
    this.active.set(key, { text, params, time: new Date().toISOString() });
    announce(t(text, params));
    this.render();
  }

  // The cause is gone: an acknowledged alarm may be raised again next time.
  passed(key) { this.acked.delete(key); }

  ack(key, stillThere) {
    this.active.delete(key);
    if (stillThere) this.acked.add(key);
    this.render();
  }

  render() {
    this.box.hidden = this.active.size === 0;
    this.list.replaceChildren(...[...this.active].map(([key, a]) => el('li', { dataset: { alarm: key } },
      el('span', { class: 'time' }, fmt.time(a.time)), ' ', el('span', { class: 'what' }, t(a.text, a.params)), ' ',
      el('button', {
        type: 'button', class: 'ack', 'aria-label': `${t('ack')}: ${t(a.text, a.params)}`,
        onclick: () => this.acknowledge(key),
      }, t('ack')))));
  }

  acknowledge(key) {
    const buttons = [...this.list.querySelectorAll('button.ack')];
    const at = buttons.findIndex((b) => b.closest('li').dataset.alarm === key);
    this.ack(key, this.onAck?.(key) ?? false);
    // Focus stays in the list: on the next alarm, or on the tiles when none is left.
    const next = this.list.querySelectorAll('button.ack')[Math.min(at, this.active.size - 1)];
    if (next) next.focus();
    else document.getElementById('tiles-title').focus();
  }
}
