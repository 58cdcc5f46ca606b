// The bridge's /v1 interface as the console uses it: the bearer token (kept
// in sessionStorage only, so it goes with the tab), requests with their
// Idempotency-Key, problem answers put into words, amounts as typed.

import { t, meaning } from './i18n.js';

const TOKEN_KEY = 'fr-console-token';

export function savedToken() {
  return sessionStorage.getItem(TOKEN_KEY) || '';
}

export function saveToken(token) {
  sessionStorage.setItem(TOKEN_KEY, token);
}

export function forgetToken() {
  sessionStorage.removeItem(TOKEN_KEY);
}

// 128 random bits as hex. crypto.randomUUID needs a secure context, which a
// tablet reaching the bridge by its LAN address over http is not.
export function newKey() {
  const bytes = crypto.getRandomValues(new Uint8Array(16));
  return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
}

// An answer: ok, status, body (parsed JSON, or null), and for a problem the
// problem itself. A request that never got an answer has status 0.
export class Answer {
  constructor(status, body, headers) {
    this.status = status;
    this.body = body;
    this.headers = headers;
  }
  get ok() { return this.status >= 200 && this.status < 300; }
  get problem() { return this.ok || this.status === 0 ? null : (this.body || {}); }
  // The register or the bridge decided: sending the same request again with
  // the same key only replays this answer. A lost answer or a 5xx may not be
  // final, and the bridge asks for a retry with the same key then.
  get final() { return this.status >= 200 && this.status < 500; }
  get forbidden() { return this.status === 403 && this.body && this.body.code === 'auth.forbidden'; }
}

let onUnauthorized = () => {};
export function whenUnauthorized(fn) { onUnauthorized = fn; }

export async function call(method, path, { token = savedToken(), body, key, signal } = {}) {
  const headers = { Authorization: `Bearer ${token}` };
  const init = { method, headers, signal, cache: 'no-store' };
  if (body !== undefined) {
    headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  } else if (method !== 'GET') {
    init.body = '';
  }
  if (key) headers['Idempotency-Key'] = key;
  let res;
  try {
    res = await fetch(path, init);
  } catch (e) {
    if (e.name === 'AbortError') throw e;
    return new Answer(0, { detail: String(e.message || e) }, null);
  }
  let parsed = null;
  const type = res.headers.get('Content-Type') || '';
  if (type.includes('json')) {
    try { parsed = await res.json(); } catch { parsed = null; }
  }
  const answer = new Answer(res.status, parsed, res.headers);
  if (res.status === 401 && token === savedToken()) onUnauthorized(answer);
  return answer;
}

export const get = (path, opts) => call('GET', path, opts);

// A blob (a sheet's picture) with the token; null when it is not there.
export async function blob(path, { signal } = {}) {
  try {
    const res = await fetch(path, { headers: { Authorization: `Bearer ${savedToken()}` }, signal });
    return res.ok ? await res.blob() : null;
  } catch (e) {
    if (e.name === 'AbortError') throw e;
    return null;
  }
}

export const registerPath = (name, rest = '') => `/v1/registers/${encodeURIComponent(name)}${rest}`;

// A problem in words for the person at the till, in the chosen language:
// a register's refusal by its result code; the bridge's own problems as it
// words them.
export function describe(answer) {
  const p = answer.problem || answer.body || {};
  if (answer.forbidden) return t('needs-admin');
  const parts = [];
  if (p.result_code !== undefined) {
    // The detail only says the same again.
    parts.push(t('refused', { code: p.result_code, meaning: meaning(p.result_code, p.result_meaning) }));
  } else {
    const head = [answer.status === 0 ? t('no-answer') : p.title, p.detail].filter(Boolean).join(': ');
    if (head) parts.push(head.endsWith('.') ? head : `${head}.`);
  }
  if (answer.status && !parts.length) parts.push(t('bridge-answered', { status: answer.status }));
  if (p.pointer) parts.push(t('at', { pointer: p.pointer }));
  return parts.join(' ');
}

// Spaces (a pasted "1 250,00 ₽") and the rouble sign are not part of the
// amount; the decimal mark is a comma or a point.
const typed = (text) => String(text).replace(/[\s\u00a0\u202f₽]/g, '');

// "45.50", "45,5", "45" -> 4550; null for anything else. Parsed as text, so
// no binary fraction ever rounds a price.
export function parseMoney(text) {
  const m = /^(\d{1,12})(?:[.,](\d{0,2}))?$/.exec(typed(text));
  if (!m) return null;
  return Number(m[1]) * 100 + Number((m[2] || '').padEnd(2, '0'));
}

// A quantity as the bridge takes it: digits with up to 9 places; null if not.
export function parseQuantity(text) {
  const m = /^(\d{1,9})(?:[.,](\d{1,9}))?$/.exec(typed(text));
  if (!m) return null;
  const whole = m[1].replace(/^0+(?=\d)/, '');
  const frac = (m[2] || '').replace(/0+$/, '');
  if (whole === '0' && frac === '') return null;
  return frac ? `${whole}.${frac}` : whole;
}
