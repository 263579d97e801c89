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
export function toast(text, kind = 'info') {
  const box = document.getElementById('toast');
  box.textContent = text;
  box.dataset.kind = kind;
  box.hidden = false;
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { box.hidden = true; }, kind === 'error' ? 8000 : 3000);
}

export function showError(error) {
  const detail = error.status === 0 ? t('error_network') : error.message;
  const code = error.code ? ` (${error.code})` : '';
  toast(`${t('error')}: ${detail}${code}`, 'error');
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
