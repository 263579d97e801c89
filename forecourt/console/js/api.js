// The service's HTTP API, with the session's token. Every failure comes back as an ApiError
// carrying the service's own error code and message, so the page can say why.
const TOKEN_KEY = 'dorv-forecourt-token';

export class ApiError extends Error {
  constructor(status, code, message, body = null) {
    super(message || code || `HTTP ${status}`);
    this.status = status;
    this.code = code;
    this.body = body;  // the whole answer: a stop of several pumps carries each pump's result
  }
}

// A call the service leaves unanswered (every line silent, say) fails rather than hangs.
const TIMEOUT_MS = 20000;

export function token() { return sessionStorage.getItem(TOKEN_KEY) || ''; }

export function setToken(value) {
  if (value) sessionStorage.setItem(TOKEN_KEY, value);
  else sessionStorage.removeItem(TOKEN_KEY);
}

export async function call(method, path, body) {
  const headers = { Accept: 'application/json' };
  if (token()) headers.Authorization = `Bearer ${token()}`;
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  let response;
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), TIMEOUT_MS);
  try {
    response = await fetch(`/api/v1${path}`, {
      method, headers, body: body === undefined ? undefined : JSON.stringify(body), cache: 'no-store', signal: abort.signal,
    });
  } catch {
    throw new ApiError(0, abort.signal.aborted ? 'timeout' : 'network', '');
  } finally {
    clearTimeout(timer);
  }
  const text = await response.text();
  let json = null;
  try { json = text ? JSON.parse(text) : null; } catch { json = null; }
  if (!response.ok) throw new ApiError(response.status, json?.error, json?.message, json);
  return json;
}

export const get = (path) => call('GET', path);
export const post = (path, body) => call('POST', path, body ?? {});
export const put = (path, body) => call('PUT', path, body);
export const del = (path) => call('DELETE', path);

// The event stream's address; a browser cannot set a header on a WebSocket, so the token
// travels as a query parameter.
export function eventsUrl(after) {
  const url = new URL('/api/v1/events', location.href);
  url.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
  if (after !== null && after !== undefined) url.searchParams.set('after', String(after));
  if (token()) url.searchParams.set('token', token());
  return url.toString();
}
