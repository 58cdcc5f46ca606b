// The forms that act on a register. Each submission carries an
// Idempotency-Key made when the form is first submitted, together with the
// body it was made for: a double click, a second submit while the first is
// pending, or a retry after an answer that did not settle the outcome send
// the same key and body again, so the bridge stores one document. A new key
// is made once the outcome is settled (a 2xx, or a refusal, which the bridge
// would only replay) or the form, the cashier or the register was edited.

import * as api from './api.js';

const $ = (sel, root = document) => root.querySelector(sel);
const contextEdits = [];  // each form's "edited" mark, for the shared fields

class InputError extends Error {
  constructor(message, field) {
    super(message);
    this.field = field;
  }
}

function say(el, text, kind = '') {
  el.textContent = text;
  el.dataset.kind = kind;
}

function messageOf(form) {
  return $('.message', form) || form.closest('section').querySelector('.message');
}

function currentRegister() {
  const name = $('#register-pick').value;
  if (!name) throw new InputError('No register to act on.', $('#register-pick'));
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
  if (!Number.isInteger(n) || n < 1 || n > 20) throw new InputError('The cashier number is 1 to 20.', number);
  if (!/^\d{1,8}$/.test(password.value)) throw new InputError("Enter the cashier's password (digits).", password);
  const c = { number: n, password: Number(password.value) };
  if (name) c.name = name;
  return c;
}

// What a stored document means for the person who asked for it.
function stored(doc) {
  const parts = [`Stored as document ${doc.number}`];
  if (doc.document === 'receipt') {
    if (typeof doc.total === 'number') parts.push(`total ${api.money(doc.total)}`);
    if (typeof doc.change === 'number') parts.push(`change ${api.money(doc.change)}`);
  }
  if (typeof doc.amount === 'number') parts.push(`amount ${api.money(doc.amount)}`);
  if (typeof doc.drawer === 'number') parts.push(`drawer ${api.money(doc.drawer)}`);
  let text = `${parts.join(', ')}.`;
  if (doc.settled) text += ` Its answer was lost; the register could not tell again: ${(doc.missing || []).join(', ') || 'nothing'}.`;
  return text;
}

// A form whose submission goes to the bridge. build() reads the form and
// answers { method, path, body, done(answerBody) -> words, after?() }.
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
        say(message, e.message, 'error');
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
    say(message, mine.again ? 'Sending again with the same key…' : 'Sending…', 'busy');
    const answer = await api.call(mine.method, mine.path, { body: mine.body, key: mine.key });
    if (--pending === 0) {
      for (const b of enabled) b.disabled = false;
      form.removeAttribute('aria-busy');
    }
    if (answer.final && attempt === mine) attempt = null;
    if (answer.ok) {
      say(message, mine.done(answer.body), 'ok');
      if (mine.after) mine.after(answer.body);
    } else if (answer.final) {
      say(message, api.describe(answer), 'error');
    } else {
      mine.again = true;
      say(message, `${api.describe(answer)} It is not known yet whether it was done: submit again and the bridge answers what happened, without doing it twice.`, 'error');
    }
  });
}

// ---- the receipt ----

function addLine(values = {}) {
  const line = $('#line-template').content.firstElementChild.cloneNode(true);
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
    for (const el of line.querySelectorAll('.index')) el.textContent = String(i + 1);
    $('.remove', line).disabled = lines.length === 1;
  });
}

// The lines as the bridge takes them, or an InputError at the first bad field.
function readLines() {
  return [...$('#lines').children].map((line, i) => {
    const f = (n) => line.querySelector(`[name="${n}"]`);
    const at = `Line ${i + 1}:`;
    const name = f('name').value.trim();
    if (!name) throw new InputError(`${at} enter a name.`, f('name'));
    const price = api.parseMoney(f('price').value);
    if (price === null) throw new InputError(`${at} the price is money like 45.50.`, f('price'));
    const quantity = api.parseQuantity(f('quantity').value);
    if (quantity === null) throw new InputError(`${at} the quantity is a number above 0, like 1 or 0.25.`, f('quantity'));
    const section = Number(f('section').value || 1);
    if (!Number.isInteger(section) || section < 1 || section > 20) throw new InputError(`${at} the section is 1 to 20.`, f('section'));
    const l = { name, price, quantity, tax: Number(f('tax').value), section };
    if (f('discount').value !== '') {
      const discount = Number(f('discount').value);
      if (!Number.isInteger(discount) || discount < 1 || discount > 20) throw new InputError(`${at} the discount is a record 1 to 20, or empty.`, f('discount'));
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
    if (v === null) throw new InputError(`The ${name} payment is money like 50.00.`, el);
    return v;
  };
  return { cash: read('cash'), cashless: read('cashless') };
}

// Total and change before sending, as the register will work them out:
// its own receipt code, run by the bridge with its tax rates and discount
// records (the preview), asked again whenever the form changes.
const PREVIEW_DELAY_MS = 150;
let previewAsked = 0;  // the newest preview asked for; older answers are dropped
let previewTimer = null;

function showSums(total, paid, change, note, amounts = []) {
  $('#receipt-total').textContent = total;
  $('#receipt-paid').textContent = paid;
  $('#receipt-change').textContent = change;
  $('#receipt-note').textContent = note;
  [...$('#lines').children].forEach((line, i) => { $('.amount output', line).textContent = amounts[i] ?? '—'; });
}

function updateSums() {
  const form = $('#receipt-form');
  clearTimeout(previewTimer);
  const asked = ++previewAsked;
  let request;
  try {
    const pay = payment(form);
    request = { at: path('/receipts/preview'), body: { type: form.elements.type.value, lines: readLines(), payment: pay } };
  } catch (e) {
    if (!(e instanceof InputError)) throw e;
    showSums('—', '—', '—', '');
    return;
  }
  const { cash, cashless } = request.body.payment;
  showSums('…', api.money(cash + cashless), '…', '');
  previewTimer = setTimeout(async () => {
    let answer;
    try {
      answer = await api.call('POST', request.at, { body: request.body });
    } catch {
      return;
    }
    if (asked !== previewAsked) return;
    if (!answer.ok) {
      showSums('—', api.money(cash + cashless), '—', `No preview: ${api.describe(answer)}`);
      return;
    }
    const p = answer.body;
    let note = '';
    if (p.refusal) {
      const line = /^\/lines\/(\d+)$/.exec(p.refusal.pointer || '');
      note = `The register would refuse${line ? ` line ${Number(line[1]) + 1}` : ''}: ${p.refusal.result_meaning || p.refusal.detail}.`;
    }
    showSums(api.money(p.total), api.money(cash + cashless), api.money(p.change), note,
             p.lines.map((l) => api.money(l.amount)));
  }, PREVIEW_DELAY_MS);
}

function resetReceipt() {
  const form = $('#receipt-form');
  $('#lines').replaceChildren();
  addLine();
  form.elements.cash.value = '';
  form.elements.cashless.value = '';
  updateSums();
}

// ---- tables ----

const TABLE_NAMES = { cashiers: 'cashier', sections: 'section', discounts: 'discount' };
let editing = null;  // { table, number } of the record in the write form

function showRecord(table, record) {
  const form = $('#table-write-form');
  editing = { table, number: record.number };
  form.hidden = false;
  for (const label of form.querySelectorAll('[data-in]')) label.hidden = !label.dataset.in.split(' ').includes(table);
  $('.editing', form).textContent = `Editing ${TABLE_NAMES[table]} ${record.number} of ${currentRegister()}`;
  form.elements.name.value = record.name || '';
  form.elements.rights.value = record.rights ?? '';
  form.elements.password.value = '';
  if (table === 'discounts') {
    form.elements.kind.value = record.type || 'empty';
    form.elements.value.value = record.type === 'empty' ? '' : api.money(record.value);
  }
}

function recordBody() {
  const form = $('#table-write-form');
  if (!editing) throw new InputError('Read a record first.');
  const name = form.elements.name.value.trim();
  if (editing.table === 'cashiers') {
    const rights = Number(form.elements.rights.value);
    if (!Number.isInteger(rights) || rights < 0 || rights > 65535) throw new InputError('Rights are 0 to 65535.', form.elements.rights);
    if (!name) throw new InputError('A cashier needs a name.', form.elements.name);
    if (!/^\d{1,8}$/.test(form.elements.password.value) || Number(form.elements.password.value) < 1) {
      throw new InputError("Enter the cashier's password (digits, not 0).", form.elements.password);
    }
    return { name, rights, password: Number(form.elements.password.value) };
  }
  if (editing.table === 'sections') {
    if (!name) throw new InputError('A section needs a name.', form.elements.name);
    return { name };
  }
  const type = form.elements.kind.value;
  if (type === 'empty') return { type };
  const value = api.parseMoney(form.elements.value.value);
  if (value === null || value < 1) throw new InputError(type === 'percent' ? 'The value is a per cent like 5 or 2.50.' : 'The value is money like 10.00.', form.elements.value);
  const body = { type, value };
  if (name) body.name = name;
  return body;
}

function describeRecord(table, r) {
  if (table === 'cashiers') return `Cashier ${r.number}: ${r.name || '(no name)'}, rights ${r.rights}.`;
  if (table === 'sections') return `Section ${r.number}: ${r.name || '(no name)'}.`;
  if (r.type === 'empty') return `Discount ${r.number}: empty.`;
  return `Discount ${r.number}: ${r.name || '(no name)'}, ${api.money(r.value)}${r.type === 'percent' ? ' %' : ''}.`;
}

// ---- the clock ----

function localNow() {
  const d = new Date();
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())}T${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
}

// ---- wiring ----

export function setupActions() {
  const edited = () => { for (const mark of contextEdits) mark(); };
  $('#cashier').addEventListener('input', edited);
  $('#cashier').addEventListener('change', edited);
  $('#cashier').addEventListener('submit', (ev) => ev.preventDefault());  // Enter in a field sends nothing

  submission($('#shift-open-form'), () => ({
    method: 'POST', path: path('/shift/open'), body: { cashier: cashier() },
    done: (d) => `Shift ${d.shift ?? ''} opened. ${stored(d)}`,
  }));
  submission($('#shift-close-form'), () => ({
    method: 'POST', path: path('/shift/close'), body: { cashier: cashier() },
    done: (d) => `Shift ${d.shift ?? ''} closed (Z report). ${stored(d)}`,
  }));
  submission($('#cancel-form'), () => ({
    method: 'POST', path: path('/cancel'),
    done: (a) => (a.cancelled ? 'The open document was cancelled.' : 'No document was open.'),
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
    if (pay.cash + pay.cashless === 0) throw new InputError('Enter the payment, cash or cashless.', receipt.elements.cash);
    return {
      method: 'POST', path: path('/receipts'),
      body: { type: receipt.elements.type.value, cashier: cashier(), lines, payment: pay },
      done: (d) => `${stored(d)}${d.receipt_number ? ` Receipt ${d.receipt_number} of the shift.` : ''}`,
      after: resetReceipt,
    };
  });

  const cash = $('#cash-form');
  submission(cash, () => {
    const amount = api.parseMoney(cash.elements.amount.value);
    if (!amount) throw new InputError('The amount is money above 0, like 100.00.', cash.elements.amount);
    return {
      method: 'POST', path: path(`/${cash.elements.direction.value}`), body: { cashier: cashier(), amount },
      done: stored,
      after: () => { cash.elements.amount.value = ''; },
    };
  });

  const report = $('#report-form');
  submission(report, () => ({
    method: 'POST', path: path(`/reports/${report.elements.kind.value}`), body: { cashier: cashier() },
    done: () => `${report.elements.kind.selectedOptions[0].textContent} printed.`,
  }));

  const copy = $('#copy-form');
  submission(copy, () => {
    const number = Number(copy.elements.number.value);
    if (!Number.isInteger(number) || number < 1) throw new InputError('Enter the number of a stored document.', copy.elements.number);
    return {
      method: 'POST', path: path('/copies'), body: { cashier: cashier(), number },
      done: (a) => `A copy of document ${a.number} printed.`,
    };
  });

  const clock = $('#clock-form');
  clock.elements.now.addEventListener('change', () => {
    const time = clock.elements.time;
    time.disabled = clock.elements.now.checked;
    if (!time.disabled && !time.value) time.value = localNow();
  });
  // "Now" is read at the first submission and kept with its key: a retry
  // sends the same time, not a later one the bridge would call another body.
  submission(clock, () => {
    const now = clock.elements.now.checked;
    const t = now ? new Date() : new Date(clock.elements.time.value);
    if (!now && (!clock.elements.time.value || Number.isNaN(t.getTime()))) {
      throw new InputError('Enter a date and time.', clock.elements.time);
    }
    return {
      method: 'PUT', path: path('/clock'), body: { time: t.toISOString().replace(/\.\d{3}Z$/, 'Z') },
      done: (a) => `The register's clock now says ${a.time}.`,
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
      say(message, 'Records are 1 to 20.', 'error');
      read.elements.number.focus();
      return;
    }
    const button = $('button', read);
    button.disabled = true;
    say(message, 'Reading…', 'busy');
    let answer;
    try {
      answer = await api.get(path(`/tables/${table}/${number}`));
    } catch (e) {
      if (!(e instanceof InputError)) throw e;
      say(message, e.message, 'error');
      return;
    } finally {
      button.disabled = false;
    }
    if (!answer.ok) {
      say(message, api.describe(answer), 'error');
      return;
    }
    say(message, describeRecord(table, answer.body), 'ok');
    showRecord(table, answer.body);
    $('#table-write-form').dispatchEvent(new Event('change'));
  });
  const write = $('#table-write-form');
  submission(write, () => {
    const { table, number } = editing || {};
    return {
      method: 'PUT', path: path(`/tables/${table}/${number}`), body: recordBody(),
      done: (r) => `Saved. ${describeRecord(table, r)}`,
      after: () => { write.elements.password.value = ''; },
    };
  });
  write.elements.kind.addEventListener('change', () => {
    write.elements.value.disabled = write.elements.kind.value === 'empty';
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
