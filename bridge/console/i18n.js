// The console's language: Russian unless this browser chose English, the
// choice kept in localStorage. Texts come from messages.js by key; money,
// dates and times are formatted by the browser's Intl for the language's
// locale, never by hand. A text put on the page with say() is worded again
// when the language changes, so nothing stays in the other one.

import { LANGUAGES, DEFAULT_LANGUAGE } from './messages.js';

const KEY = 'fr-console-language';
const listeners = [];
const results = new Map();  // result code -> { en, ru, ... } from /console/names.json
let lang = DEFAULT_LANGUAGE;
let formats = null;

function stored() {
  try {
    return localStorage.getItem(KEY);
  } catch {
    return null;  // storage refused (a private window): the default then
  }
}

function makeFormats() {
  const l = LANGUAGES[lang];
  formats = {
    money: new Intl.NumberFormat(l.locale, { style: 'currency', currency: 'RUB', currencyDisplay: 'narrowSymbol' }),
    // A field's value: no grouping, so that it reads back as typed.
    plain: new Intl.NumberFormat(l.locale, { minimumFractionDigits: 2, maximumFractionDigits: 2, useGrouping: false }),
    date: new Intl.DateTimeFormat(l.locale, l.date),
    time: new Intl.DateTimeFormat(l.locale, { hour: '2-digit', minute: '2-digit', hourCycle: 'h23' }),
  };
}

export const language = () => lang;
export const languages = () => Object.entries(LANGUAGES).map(([code, l]) => ({ code, name: l.name }));

export function t(key, values = {}) {
  const text = LANGUAGES[lang].texts[key] ?? key;
  return text.replace(/\{(\w+)\}/g, (m, k) => (k in values ? String(values[k]) : m));
}

export function onLanguage(fn) {
  listeners.push(fn);
}

export function setLanguage(code, remember = true) {
  if (!LANGUAGES[code]) return;
  lang = code;
  if (remember) {
    try {
      localStorage.setItem(KEY, code);
    } catch {
      // not remembered; the page still switches
    }
  }
  makeFormats();
  apply();
  for (const fn of listeners) fn();
}

// The register's result meanings, in every language, by code.
export function setResults(list) {
  results.clear();
  for (const r of list || []) results.set(r.code, r);
}

export function meaning(code, fallback = '') {
  const r = results.get(code);
  return (r && r[lang]) || fallback;
}

// Kopecks as the shop writes money: 20720000 -> "207 200,00 ₽" / "₽207,200.00".
export function money(kopecks) {
  if (typeof kopecks !== 'number' || !Number.isFinite(kopecks)) return '—';
  return formats.money.format(kopecks / 100);
}

// Kopecks for a field to be edited: "2,50" / "2.50".
export function moneyField(kopecks) {
  return formats.plain.format(kopecks / 100);
}

// An RFC 3339 time in this computer's zone: "09.12.2026 00:16".
export function when(text) {
  if (!text) return '—';
  const d = new Date(text);
  if (Number.isNaN(d.getTime())) return text;
  return `${formats.date.format(d)} ${formats.time.format(d)}`;
}

// ---- the clock field: one fixed 24-hour form per language ----

const CLOCK_PARTS = { YYYY: 'FullYear', MM: 'Month', DD: 'Date', hh: 'Hours', mm: 'Minutes', ss: 'Seconds' };
const CLOCK_TOKEN = /YYYY|MM|DD|hh|mm|ss/g;

export function clockText(date) {
  return LANGUAGES[lang].clockForm.replace(CLOCK_TOKEN, (token) => {
    const v = date[`get${CLOCK_PARTS[token]}`]() + (token === 'MM' ? 1 : 0);
    return String(v).padStart(token.length, '0');
  });
}

// The field's text as a local time, or null when it is not in the form or
// names no real moment (31.02 is refused, not moved to March).
export function parseClock(text) {
  const tokens = [];
  const pattern = LANGUAGES[lang].clockForm.replace(/[.*+?^${}()|[\]\\]/g, '\\$&').replace(CLOCK_TOKEN, (token) => {
    tokens.push(token);
    return `(\\d{${token.length}})`;
  });
  const m = new RegExp(`^${pattern}$`).exec(text.trim());
  if (!m) return null;
  const v = {};
  tokens.forEach((token, i) => { v[token] = Number(m[i + 1]); });
  const d = new Date(v.YYYY, v.MM - 1, v.DD, v.hh, v.mm, v.ss);
  // A moment that does not exist comes back as another text.
  return Number.isNaN(d.getTime()) || clockText(d) !== text.trim() ? null : d;
}

// ---- the page's own texts ----

// Elements name their text: data-t (the text), data-t-placeholder,
// data-t-label (aria-label). Texts put with say() are worded again.
export function apply(root = document) {
  for (const el of root.querySelectorAll('[data-t]')) el.textContent = t(el.dataset.t);
  for (const el of root.querySelectorAll('[data-t-placeholder]')) el.placeholder = t(el.dataset.tPlaceholder);
  for (const el of root.querySelectorAll('[data-t-label]')) el.setAttribute('aria-label', t(el.dataset.tLabel));
  for (const el of root.querySelectorAll('[data-said]')) if (el.sayText) el.textContent = el.sayText();
  if (root === document) {
    document.documentElement.lang = lang;
    document.title = t('title');
  }
}

// Puts a text that is made again in the chosen language: `text` is a
// function of no arguments, or a fixed string.
export function say(el, text) {
  const fn = typeof text === 'function' ? text : () => text;
  el.sayText = fn;
  el.toggleAttribute('data-said', true);
  el.textContent = fn();
}

const chosen = stored();
setLanguage(LANGUAGES[chosen] ? chosen : DEFAULT_LANGUAGE, false);
