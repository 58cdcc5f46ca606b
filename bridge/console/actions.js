// The forms that act on a register. Each submission carries an
// Idempotency-Key made when the form is first submitted, together with the
// body it was made for: a double click, a second submit while the first is
// pending, or a retry after an answer that did not settle the outcome send
// the same key and body again, so the bridge stores one document. A new key
// is made once the outcome is settled (a 2xx, or a refusal, which the bridge
// would only replay) or the form, the cashier or the register was edited.

import * as api from './api.js';
import * as i18n from './i18n.js';

const { t, money } = i18n;
const $ = (sel, root = document) => root.querySelector(sel);
const contextEdits = [];  // each form's "edited" mark, for the shared fields

// A field the person has to mend: the message's key and values, and where.
class InputError extends Error {
  constructor(key, values, field) {
    super(key);
    this.key = key;
    this.values = values;
    this.field = field;
  }
}

// `text`: a string, or a function that words it in the chosen language.
function say(el, text, kind = '') {
  i18n.say(el, text);
  el.dataset.kind = kind;
}

function messageOf(form) {
  return $('.message', form) || form.closest('section').querySelector('.message');
}

function currentRegister() {
  const name = $('#register-pick').value;
  if (!name) throw new InputError('input.no-register', {}, $('#register-pick'));
  return name;
}

function path(rest) {
  return api.registerPath(currentRegister(), rest);
}

function cashier() {
  const number = $('#cashier-number');
  const password = $('#cashier-password');
  const name = $('#cashier-name').value.trim();
  const n = Number(number.value);
  if (!Number.isInteger(n) || n < 1 || n > 20) throw new InputError('input.cashier-number', {}, number);
  if (!/^\d{1,8}$/.test(password.value)) throw new InputError('input.password', {}, password);
  const c = { number: n, password: Number(password.value) };
  if (name) c.name = name;
  return c;
}

// What a stored document means for the person who asked for it.
function stored(doc) {
  const parts = [t('stored', { number: doc.number })];
  if (doc.document === 'receipt') {
    if (typeof doc.total === 'number') parts.push(t('stored.total', { money: money(doc.total) }));
    if (typeof doc.change === 'number') parts.push(t('stored.change', { money: money(doc.change) }));
  }
  if (typeof doc.amount === 'number') parts.push(t('stored.amount', { money: money(doc.amount) }));
  if (typeof doc.drawer === 'number') parts.push(t('stored.drawer', { money: money(doc.drawer) }));
  let text = `${parts.join(', ')}.`;
  if (doc.settled) text += ` ${t('stored.lost', { missing: (doc.missing || []).join(', ') || t('nothing') })}`;
  return text;
}

// A form whose submission goes to the bridge. build() reads the form and
// answers { method, path, body, done(answerBody) -> words, after?() }; the
// words are made again when the language changes.
function submission(form, build) {
  let attempt = null;
  let edited = false;
  let pending = 0;
  let enabled = [];  // the buttons to give back once nothing is pending
  const message = messageOf(form);
  const markEdited = () => { edited = true; };
  form.addEventListener('input', markEdited);
  form.addEventListener('change', markEdited);
  contextEdits.push(markEdited);
  form.addEventListener('submit', async (ev) => {
    ev.preventDefault();
    if (!attempt || edited) {
      try {
        attempt = { ...build(), key: api.newKey() };
      } catch (e) {
        if (!(e instanceof InputError)) throw e;
        say(message, () => t(e.key, e.values), 'error');
        if (e.field) e.field.focus();
        return;
      }
      edited = false;
    }
    const mine = attempt;
    if (pending++ === 0) {
      enabled = [...form.querySelectorAll('button')].filter((b) => !b.disabled);
      for (const b of enabled) b.disabled = true;
      form.setAttribute('aria-busy', 'true');
    }
    say(message, () => t(mine.again ? 'sending-again' : 'sending'), 'busy');
    const answer = await api.call(mine.method, mine.path, { body: mine.body, key: mine.key });
    if (--pending === 0) {
      for (const b of enabled) b.disabled = false;
      form.removeAttribute('aria-busy');
    }
    if (answer.final && attempt === mine) attempt = null;
    if (answer.ok) {
      say(message, () => mine.done(answer.body), 'ok');
      if (mine.after) mine.after(answer.body);
    } else if (answer.final) {
      say(message, () => api.describe(answer), 'error');
    } else {
      mine.again = true;
      say(message, () => t('not-known', { why: api.describe(answer) }), 'error');
    }
  });
}

// ---- the receipt ----

// The register's tax rates by register name: [{ number, name }], read from
// the bridge; until then (or if it cannot tell) the numbers 1 to 5.
const taxRates = new Map();

export async function loadTaxRates(register) {
  const answer = await api.get(api.registerPath(register, '/tax-rates'));
  if (!answer.ok) return;
  taxRates.set(register, answer.body.tax_rates || []);
  if ($('#register-pick').value === register) {
    for (const line of $('#lines').children) fillTaxes(line);
  }
}

function fillTaxes(line) {
  const select = line.querySelector('[name="tax"]');
  const was = select.value;
  const rates = taxRates.get($('#register-pick').value);
  const options = rates && rates.length
    ? rates.map((r) => new Option(r.name || t('tax.number', { number: r.number }), String(r.number)))
    : [1, 2, 3, 4, 5].map((n) => new Option(t('tax.number', { number: n }), String(n)));
  select.replaceChildren(...options);
  if (was && [...select.options].some((o) => o.value === was)) select.value = was;
}

function addLine(values = {}) {
  const line = $('#line-template').content.firstElementChild.cloneNode(true);
  i18n.apply(line);
  fillTaxes(line);
  for (const [k, v] of Object.entries(values)) line.querySelector(`[name="${k}"]`).value = v;
  $('.remove', line).addEventListener('click', () => {
    const lines = $('#lines');
    line.remove();
    if (!lines.children.length) addLine();
    renumberLines();
    $('#receipt-form').dispatchEvent(new Event('change'));
    $('[name="name"]', lines.lastElementChild).focus();
  });
  $('#lines').append(line);
  renumberLines();
  return line;
}

function renumberLines() {
  const lines = [...$('#lines').children];
  lines.forEach((line, i) => {
    $('legend', line).textContent = t('line', { n: i + 1 });
    $('.remove', line).textContent = t('remove-line', { n: i + 1 });
    $('.remove', line).disabled = lines.length === 1;
  });
}

// The lines as the bridge takes them, or an InputError at the first bad field.
function readLines() {
  return [...$('#lines').children].map((line, i) => {
    const f = (n) => line.querySelector(`[name="${n}"]`);
    const at = { n: i + 1 };
    const name = f('name').value.trim();
    if (!name) throw new InputError('input.line-name', at, f('name'));
    const price = api.parseMoney(f('price').value);
    if (price === null) throw new InputError('input.line-price', at, f('price'));
    const quantity = api.parseQuantity(f('quantity').value);
    if (quantity === null) throw new InputError('input.line-quantity', at, f('quantity'));
    const section = Number(f('section').value || 1);
    if (!Number.isInteger(section) || section < 1 || section > 20) throw new InputError('input.line-section', at, f('section'));
    const l = { name, price, quantity, tax: Number(f('tax').value), section };
    if (f('discount').value !== '') {
      const discount = Number(f('discount').value);
      if (!Number.isInteger(discount) || discount < 1 || discount > 20) throw new InputError('input.line-discount', at, f('discount'));
      l.discount = discount;
    }
    return l;
  });
}

function payment(form) {
  const read = (name) => {
    const el = form.elements[name];
    if (el.value.trim() === '') return 0;
    const v = api.parseMoney(el.value);
    if (v === null) throw new InputError('input.payment', { kind: t(name).toLowerCase() }, el);
    return v;
  };
  return { cash: read('cash'), cashless: read('cashless') };
}

// Total, discounts, taxes and change before sending, as the register will
// work them out: its own receipt code, run by the bridge with its tax rates
// and discount records (the preview), asked again whenever the form changes.
// A refusal is shown where it belongs: a line, the payment or the type.
const PREVIEW_DELAY_MS = 150;
let previewAsked = 0;  // the newest preview asked for; older answers are dropped
let previewTimer = null;

// What the sums show: paid, preview (the bridge's answer body), why (a
// function wording the reason there is none), pending (asked, nothing shown
// yet); kept so a language change rewords it.
let sums = { paid: null, preview: null, why: null, pending: false };

function showSums() {
  const p = sums.preview;
  const out = (id, text) => { $(id).textContent = text; };
  const pending = sums.pending ? '…' : '—';
  out('#receipt-total', p ? money(p.total) : pending);
  out('#receipt-discounts', p ? money(p.lines.reduce((a, l) => a + l.discount, 0)) : pending);
  out('#receipt-taxes', p ? p.taxes.map((x) => `${x.name || t('tax.number', { number: x.number })}: ${money(x.amount)}`).join('; ') || money(0) : pending);
  out('#receipt-paid', sums.paid === null ? '—' : money(sums.paid));
  out('#receipt-change', p ? money(p.change) : pending);
  $('#receipt-note').textContent = sums.why ? t('preview.none', { why: sums.why() }) : '';
  const form = $('#receipt-form');
  for (const el of form.querySelectorAll('.problem')) el.textContent = '';
  [...$('#lines').children].forEach((line, i) => {
    const l = p && p.lines[i];
    $('.line-amount', line).textContent = l ? money(l.amount) : '—';
    const figures = [];
    if (l && l.discount) figures.push(t('line.discount', { money: money(l.discount) }));
    if (l) figures.push(t('line.tax', { money: money(l.tax) }));
    $('.line-figures', line).textContent = figures.join(' · ');
  });
  if (p && p.refusal) {
    const text = t('preview.refused', { meaning: i18n.meaning(p.refusal.result_code, p.refusal.result_meaning || p.refusal.detail) });
    const line = /^\/lines\/(\d+)$/.exec(p.refusal.pointer || '');
    const where = line ? $('.problem', $('#lines').children[Number(line[1])] || form)
      : form.querySelector(`.problem[data-at="${p.refusal.pointer === '/type' ? '/type' : '/payment'}"]`);
    where.textContent = text;
  }
}

let previewText = '';  // the request of the figures shown or asked for

function updateSums() {
  const form = $('#receipt-form');
  let request;
  try {
    const pay = payment(form);
    request = { at: path('/receipts/preview'), body: { type: form.elements.type.value, lines: readLines(), payment: pay } };
  } catch (e) {
    if (!(e instanceof InputError)) throw e;
    clearTimeout(previewTimer);
    ++previewAsked;
    previewText = '';
    sums = { paid: null, preview: null, why: null, pending: false };
    showSums();
    return;
  }
  // A field's change event after its input events asks nothing new; the
  // figures stay where they are, so a click on the button lands on it.
  const text = JSON.stringify(request);
  if (text === previewText) return;
  previewText = text;
  clearTimeout(previewTimer);
  const asked = ++previewAsked;
  const { cash, cashless } = request.body.payment;
  // The last figures stay until the new ones come: nothing jumps meanwhile.
  sums = { ...sums, paid: cash + cashless, why: null, pending: !sums.preview };
  showSums();
  $('#receipt-form .sums').setAttribute('aria-busy', 'true');
  previewTimer = setTimeout(async () => {
    let answer;
    try {
      answer = await api.call('POST', request.at, { body: request.body });
    } catch {
      return;
    }
    if (asked !== previewAsked) return;
    sums = answer.ok ? { ...sums, preview: answer.body, pending: false }
      : { ...sums, preview: null, why: () => api.describe(answer), pending: false };
    if (!answer.ok) previewText = '';  // asked again at the next change
    $('#receipt-form .sums').removeAttribute('aria-busy');
    showSums();
  }, PREVIEW_DELAY_MS);
}

function resetReceipt() {
  const form = $('#receipt-form');
  previewText = '';
  $('#lines').replaceChildren();
  addLine();
  form.elements.cash.value = '';
  form.elements.cashless.value = '';
  updateSums();
}

// ---- tables ----

let editing = null;  // { table, number, register } of the record in the write form

function showRecord(table, record) {
  const form = $('#table-write-form');
  editing = { table, number: record.number, register: currentRegister() };
  form.hidden = false;
  for (const label of form.querySelectorAll('[data-in]')) label.hidden = !label.dataset.in.split(' ').includes(table);
  const { number, register } = editing;
  i18n.say($('.editing', form), () => t(`editing.${table}`, { number, register }));
  form.elements.name.value = record.name || '';
  form.elements.rights.value = record.rights ?? '';
  form.elements.password.value = '';
  if (table === 'discounts') {
    form.elements.kind.value = record.type || 'empty';
    form.elements.value.value = record.type === 'empty' ? '' : i18n.moneyField(record.value);
  }
}

function recordBody() {
  const form = $('#table-write-form');
  if (!editing) throw new InputError('input.read-first', {});
  const name = form.elements.name.value.trim();
  if (editing.table === 'cashiers') {
    const rights = Number(form.elements.rights.value);
    if (!Number.isInteger(rights) || rights < 0 || rights > 65535) throw new InputError('input.rights', {}, form.elements.rights);
    if (!name) throw new InputError('input.cashier-name', {}, form.elements.name);
    if (!/^\d{1,8}$/.test(form.elements.password.value) || Number(form.elements.password.value) < 1) {
      throw new InputError('input.password-nonzero', {}, form.elements.password);
    }
    return { name, rights, password: Number(form.elements.password.value) };
  }
  if (editing.table === 'sections') {
    if (!name) throw new InputError('input.section-name', {}, form.elements.name);
    return { name };
  }
  const type = form.elements.kind.value;
  if (type === 'empty') return { type };
  const value = api.parseMoney(form.elements.value.value);
  if (value === null || value < 1) throw new InputError(type === 'percent' ? 'input.percent' : 'input.money', {}, form.elements.value);
  const body = { type, value };
  if (name) body.name = name;
  return body;
}

function describeRecord(table, r) {
  const name = r.name || t('record.no-name');
  if (table === 'cashiers') return t('record.cashier', { number: r.number, name, rights: r.rights });
  if (table === 'sections') return t('record.section', { number: r.number, name });
  if (r.type === 'empty') return t('record.discount-empty', { number: r.number });
  const value = r.type === 'percent' ? `${i18n.moneyField(r.value)} %` : money(r.value);
  return t('record.discount', { number: r.number, name, value });
}

// ---- the clock ----

// The register's own time in the field, in the language's 24-hour form.
async function fillClock() {
  const time = $('#clock-form').elements.time;
  let answer;
  try {
    answer = await api.get(path('/clock'));
  } catch (e) {
    if (!(e instanceof InputError)) throw e;
    return;
  }
  if (answer.ok && !time.disabled && !time.value) time.value = i18n.clockText(new Date(answer.body.time));
}

// ---- wiring ----

export function setupActions() {
  const edited = () => { for (const mark of contextEdits) mark(); };
  $('#cashier').addEventListener('input', edited);
  $('#cashier').addEventListener('change', edited);
  $('#cashier').addEventListener('submit', (ev) => ev.preventDefault());  // Enter in a field sends nothing

  submission($('#shift-open-form'), () => ({
    method: 'POST', path: path('/shift/open'), body: { cashier: cashier() },
    done: (d) => t('shift.opened', { shift: d.shift ?? '', stored: stored(d) }),
  }));
  submission($('#shift-close-form'), () => ({
    method: 'POST', path: path('/shift/close'), body: { cashier: cashier() },
    done: (d) => t('shift.closed', { shift: d.shift ?? '', stored: stored(d) }),
  }));
  submission($('#cancel-form'), () => ({
    method: 'POST', path: path('/cancel'),
    done: (a) => t(a.cancelled ? 'cancelled' : 'nothing-open'),
  }));

  const receipt = $('#receipt-form');
  $('#add-line').addEventListener('click', () => {
    const line = addLine();
    receipt.dispatchEvent(new Event('change'));
    $('[name="name"]', line).focus();
  });
  receipt.addEventListener('input', updateSums);
  receipt.addEventListener('change', updateSums);
  submission(receipt, () => {
    const lines = readLines();
    const pay = payment(receipt);
    if (pay.cash + pay.cashless === 0) throw new InputError('input.no-payment', {}, receipt.elements.cash);
    return {
      method: 'POST', path: path('/receipts'),
      body: { type: receipt.elements.type.value, cashier: cashier(), lines, payment: pay },
      done: (d) => (d.receipt_number ? t('receipt.stored', { stored: stored(d), number: d.receipt_number }) : stored(d)),
      after: resetReceipt,
    };
  });

  const cash = $('#cash-form');
  submission(cash, () => {
    const amount = api.parseMoney(cash.elements.amount.value);
    if (!amount) throw new InputError('input.amount', {}, cash.elements.amount);
    return {
      method: 'POST', path: path(`/${cash.elements.direction.value}`), body: { cashier: cashier(), amount },
      done: stored,
      after: () => { cash.elements.amount.value = ''; },
    };
  });

  const report = $('#report-form');
  submission(report, () => ({
    method: 'POST', path: path(`/reports/${report.elements.kind.value}`), body: { cashier: cashier() },
    done: () => t('report.printed', { report: t(`report.${report.elements.kind.value}`) }),
  }));

  const copy = $('#copy-form');
  submission(copy, () => {
    const number = Number(copy.elements.number.value);
    if (!Number.isInteger(number) || number < 1) throw new InputError('input.document-number', {}, copy.elements.number);
    return {
      method: 'POST', path: path('/copies'), body: { cashier: cashier(), number },
      done: (a) => t('copy.printed', { number: a.number }),
    };
  });

  const clock = $('#clock-form');
  clock.elements.now.addEventListener('change', () => {
    const time = clock.elements.time;
    time.disabled = clock.elements.now.checked;
    if (!time.disabled && !time.value) fillClock();
  });
  // "Now" is read at the first submission and kept with its key: a retry
  // sends the same time, not a later one the bridge would call another body.
  submission(clock, () => {
    const now = clock.elements.now.checked;
    const when = now ? new Date() : i18n.parseClock(clock.elements.time.value);
    if (!when) throw new InputError('input.time', { example: t('clock.placeholder') }, clock.elements.time);
    return {
      method: 'PUT', path: path('/clock'), body: { time: when.toISOString().replace(/\.\d{3}Z$/, 'Z') },
      done: (a) => t('clock.done', { time: i18n.clockText(new Date(a.time)) }),
    };
  });

  // Reading a record changes nothing: no key, no submission state.
  const read = $('#table-read-form');
  read.addEventListener('submit', async (ev) => {
    ev.preventDefault();
    const message = messageOf(read);
    const table = read.elements.table.value;
    const number = Number(read.elements.number.value);
    if (!Number.isInteger(number) || number < 1 || number > 20) {
      say(message, () => t('input.record'), 'error');
      read.elements.number.focus();
      return;
    }
    const button = $('button', read);
    button.disabled = true;
    say(message, () => t('reading'), 'busy');
    let answer;
    try {
      answer = await api.get(path(`/tables/${table}/${number}`));
    } catch (e) {
      if (!(e instanceof InputError)) throw e;
      say(message, () => t(e.key, e.values), 'error');
      return;
    } finally {
      button.disabled = false;
    }
    if (!answer.ok) {
      say(message, () => api.describe(answer), 'error');
      return;
    }
    say(message, () => describeRecord(table, answer.body), 'ok');
    showRecord(table, answer.body);
    $('#table-write-form').dispatchEvent(new Event('change'));
  });
  const write = $('#table-write-form');
  submission(write, () => {
    const { table, number } = editing || {};
    return {
      method: 'PUT', path: path(`/tables/${table}/${number}`), body: recordBody(),
      done: (r) => t('saved', { record: describeRecord(table, r) }),
      after: () => { write.elements.password.value = ''; },
    };
  });
  write.elements.kind.addEventListener('change', () => {
    write.elements.value.disabled = write.elements.kind.value === 'empty';
  });

  // The receipt's figures and the lines' texts in the new language; the
  // clock field in the new language's form.
  i18n.onLanguage(() => {
    renumberLines();
    for (const line of $('#lines').children) fillTaxes(line);
    showSums();
    clock.elements.time.value = '';
    if (!clock.elements.time.disabled) fillClock();
  });
  // Another register has other tax rates.
  $('#register-pick').addEventListener('change', () => {
    for (const line of $('#lines').children) fillTaxes(line);
  });

  resetReceipt();
}

export function syncRegisterPick(names) {
  const pick = $('#register-pick');
  const was = pick.value;
  pick.replaceChildren(...names.map((n) => new Option(n, n)));
  if (names.includes(was)) pick.value = was;
  pick.closest('label').hidden = names.length < 2;
  // Another register makes another request of every form; the same one
  // (a reload after a dropped stream) must keep a pending retry's key.
  if (pick.value !== was) pick.dispatchEvent(new Event('change', { bubbles: true }));
}

// Admin forms are not shown to a pos token; the bridge would refuse them.
export function showRole(role) {
  for (const el of document.querySelectorAll('.admin')) el.hidden = role !== 'admin';
  $('#admin-note').hidden = role === 'admin';
}

// Signed out: nothing of the last session stays on the screen.
export function clearActions() {
  for (const mark of contextEdits) mark();
  for (const el of document.querySelectorAll('#console .message')) say(el, '');
  for (const el of document.querySelectorAll('.admin')) el.hidden = true;
  $('#admin-note').hidden = true;
  $('#cashier-password').value = '';
  $('#table-write-form').hidden = true;
  $('#table-write-form').elements.password.value = '';
  $('#clock-form').elements.now.checked = true;
  $('#clock-form').elements.time.value = '';
  $('#clock-form').elements.time.disabled = true;
  editing = null;
  resetReceipt();
}
