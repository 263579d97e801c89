// The authorize dialog: the nozzle, and a preset by volume, by amount or a full tank, or the
// money a customer prepaid (the pump stops where it does; the rest is refunded).
// Answers the request body the service takes, or null when cancelled. The value is read as
// the cashier typed it (decimal comma or point) and echoed before it is sent; what cannot be
// read exactly is refused in the dialog, never sent rounded or with a character dropped.
import { t } from './i18n.js';
import * as fmt from './format.js';
import { el } from './ui.js';

export function askAuthorization(pump, model) {
  const dialog = document.getElementById('authorize-dialog');
  const form = document.getElementById('authorize-form');
  const echo = document.getElementById('authorize-echo');
  dialog.querySelector('#authorize-title').textContent = t('authorize_title', { n: pump.pump });
  const nozzles = form.elements.nozzle;
  nozzles.replaceChildren(...(pump.nozzles ?? []).map((nz) =>
    el('option', { value: nz.nozzle }, `${t('nozzle_n', { n: nz.nozzle })} · ${model.gradeName(nz.grade)}`)));
  if (pump.nozzle) nozzles.value = String(pump.nozzle);
  const value = form.elements.value;
  value.value = '';
  const kind = () => form.elements.kind.value;
  const gradeOf = () => (pump.nozzles ?? []).find((nz) => String(nz.nozzle) === nozzles.value)?.grade ?? pump.grade;
  // {body} when the form can be sent, {error} otherwise; echoed beside the value.
  const read = () => {
    if (kind() === 'full') return { body: { preset: null }, text: t('preset_none') };
    const d = model.decimals(gradeOf());
    const decimals = kind() === 'volume' ? d.volume : d.amount;
    const prepay = kind() === 'prepay';
    const parsed = fmt.parseDecimal(value.value, decimals);
    if (parsed.error) return { error: t(parsed.error, parsed.params) };
    const shown = fmt.number(parsed.value, decimals);
    if (prepay) return { body: { prepay: { amount: parsed.value } }, text: t('preset_prepay', { v: shown }) };
    return {
      body: { preset: { [kind()]: parsed.value } },
      text: kind() === 'volume' ? t('preset_volume', { v: shown }) : t('preset_amount', { v: shown }),
    };
  };
  const sync = (showError) => {
    const full = kind() === 'full';
    value.disabled = full;
    const r = read();
    const bad = Boolean(r.error) && (showError || value.value !== '');
    value.setAttribute('aria-invalid', String(bad));
    echo.dataset.kind = r.error ? 'error' : 'ok';
    echo.textContent = r.error ? (bad ? r.error : '') : t('will_authorize', { what: r.text });
    return r;
  };
  for (const radio of form.elements.kind) radio.onchange = () => sync(false);
  nozzles.onchange = () => sync(false);
  value.oninput = () => sync(false);
  form.elements.cancel.onclick = () => dialog.close('cancel');
  sync(false);
  dialog.returnValue = '';
  dialog.showModal();
  (kind() === 'full' ? nozzles : value).focus();
  return new Promise((resolve) => {
    let chosen = null;
    // Enter in any field submits; a value that cannot be read keeps the dialog open and says why.
    form.onsubmit = (e) => {
      e.preventDefault();
      const r = sync(true);
      if (r.error) {
        value.focus();
        return;
      }
      chosen = { nozzle: Number(nozzles.value), ...r.body };
      dialog.close('ok');
    };
    dialog.addEventListener('close', () => {
      form.onsubmit = null;
      resolve(dialog.returnValue === 'ok' ? chosen : null);
    }, { once: true });
  });
}
