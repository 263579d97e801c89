// The audit trail of the day (managers): who changed what, and what the service answered.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { get } from './api.js';
import { el, showError } from './ui.js';

export async function loadAudit(app) {
  const body = document.querySelector('#audit-table tbody');
  const note = document.getElementById('audit-note');
  note.hidden = app.roles.manager;
  if (!app.roles.manager) {
    note.textContent = t('why_role_manager');
    body.replaceChildren();
    return;
  }
  let entries;
  try {
    ({ entries } = await get(`/audit?${new URLSearchParams({ ...fmt.dayRange(fmt.localDay()), limit: '1000' })}`));
  } catch (error) {
    showError(error);
    return;
  }
  // Newest first, as the other lists.
  body.replaceChildren(...entries.reverse().map((e) => el('tr', { dataset: { status: e.status } },
    el('td', {}, fmt.dateTime(e.time)), el('td', {}, e.actor), el('td', {}, e.operation), el('td', {}, e.target),
    el('td', {}, e.error ? `${e.status} ${e.error}` : String(e.status)))));
}
