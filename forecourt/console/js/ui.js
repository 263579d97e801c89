// Small helpers the views share: building elements, actions that say why they are not
// allowed, the message line and the confirmation dialog.
import { t } from './i18n.js';

export function el(tag, props = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'class') node.className = value;
    else if (key === 'dataset') Object.assign(node.dataset, value);
    else if (key.startsWith('on')) node.addEventListener(key.slice(2), value);
    else if (value !== undefined && value !== null) node.setAttribute(key, value);
  }
  for (const child of children.flat()) {
    if (child !== null && child !== undefined) node.append(child);
  }
  return node;
}

// A forbidden action stays focusable and says why (title, and the message line when
// pressed), rather than vanishing or doing nothing in silence.
export function allow(button, why) {
  if ((button.dataset.why ?? null) === (why || null)) return;
  if (why) {
    button.setAttribute('aria-disabled', 'true');
    button.title = why;
    button.dataset.why = why;
  } else {
    button.removeAttribute('aria-disabled');
    button.removeAttribute('title');
    delete button.dataset.why;
  }
}

// Wraps an action's handler: a forbidden press shows the reason; a failed call shows
// the service's answer.
export function action(handler) {
  return async (event) => {
    const button = event.currentTarget;
    if (button.getAttribute('aria-disabled') === 'true') {
      toast(button.dataset.why, 'error');
      return;
    }
    try {
      await handler(event);
    } catch (error) {
      showError(error);
    }
  };
}

let toastTimer;
export function toast(text, kind = 'info', detail = '') {
  const box = document.getElementById('toast');
  box.textContent = text;
  if (detail) box.title = detail;
  else box.removeAttribute('title');
  box.dataset.kind = kind;
  box.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { box.hidden = true; }, kind === 'error' ? 8000 : 3000);
}

// A refusal in the reader's language, from the service's stable code; the service's own
// (English) message is kept for the tooltip only.
export function errorText(error) {
  const code = error?.code;
  if (error?.status === 0) return t(code === 'timeout' ? 'err_timeout' : 'error_network');
  if (code && t(`err_${code}`) !== `err_${code}`) {
    const holder = error.body?.holder ? ` (${error.body.holder})` : '';
    return t(`err_${code}`, { code: error.body?.code ?? '', holder });
  }
  const status = error?.status;
  if (typeof status !== 'number') return t('err_page');  // a fault of the page, not an answer
  return t(status >= 500 ? 'err_status_5' : 'err_status_4', { status });
}

// Told of every failure shown, so one that needs a person can also raise an alarm.
let errorHook = null;
export function onError(hook) { errorHook = hook; }

export function showError(error) {
  errorHook?.(error);
  toast(`${t('error')}: ${errorText(error)}`, 'error', error?.message);
}

// The polite announcement line: what changed on the forecourt, for a screen reader.
export function announce(text) {
  const box = document.getElementById('announce');
  box.textContent = '';
  // A new text node is read even when the words repeat.
  setTimeout(() => { box.textContent = text; }, 30);
}

export function confirmDialog(text) {
  const dialog = document.getElementById('confirm-dialog');
  dialog.querySelector('#confirm-text').textContent = text;
  dialog.returnValue = '';
  dialog.showModal();
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => resolve(dialog.returnValue === 'ok'), { once: true });
  });
}
