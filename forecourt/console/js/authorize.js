// The authorize dialog: the nozzle, and a preset by volume, by amount or a full tank.
// Answers the request body the service takes, or null when cancelled.
import { t } from './i18n.js';
import { el } from './ui.js';

export function askAuthorization(pump, gradeName) {
  const dialog = document.getElementById('authorize-dialog');
  const form = document.getElementById('authorize-form');
  dialog.querySelector('#authorize-title').textContent = t('authorize_title', { n: pump.pump });
  const nozzles = form.elements.nozzle;
  nozzles.replaceChildren(...(pump.nozzles ?? []).map((nz) =>
    el('option', { value: nz.nozzle }, `${t('nozzle_n', { n: nz.nozzle })} · ${gradeName(nz.grade)}`)));
  if (pump.nozzle) nozzles.value = String(pump.nozzle);
  const value = form.elements.value;
  const syncValue = () => {
    const full = form.elements.kind.value === 'full';
    value.disabled = full;
    value.required = !full;
  };
  for (const radio of form.elements.kind) radio.onchange = syncValue;
  syncValue();
  dialog.returnValue = '';
  dialog.showModal();
  (form.elements.kind.value === 'full' ? nozzles : value).focus();
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => {
      if (dialog.returnValue !== 'ok') return resolve(null);
      const kind = form.elements.kind.value;
      const amount = Number(value.value);
      const body = { nozzle: Number(nozzles.value) };
      body.preset = kind === 'full' ? null : { [kind]: amount };
      resolve(body);
    }, { once: true });
  });
}
