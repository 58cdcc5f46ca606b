// The console: sign in with a bridge token, then each register's state kept
// live from the event stream (never by reloading), its shift's documents
// and its paper. The forms that act on a register are in actions.js; every
// text comes from messages.js through i18n.js.

import * as api from './api.js';
import * as i18n from './i18n.js';
import { EventStream } from './events.js';
import { setupActions, showRole, clearActions, syncRegisterPick, loadTaxRates } from './actions.js';

const { t, say, money, when } = i18n;
const $ = (sel, root = document) => root.querySelector(sel);
const SHEETS_SHOWN = 8;
const DOCUMENTS_LIMIT = 500;  // the most /documents answers at once
const PAPER_SETTLE_MS = 1000;  // the virtual printer cuts just after the document is stored

// name -> { name, online, status, documents (by number), listShift, more,
// expanded (numbers), lines (number -> document), card, urls (sheet -> blob URL), sheets }
const registers = new Map();
let stream = null;
let session = 0;  // bumped at every sign-in and sign-out; late answers of an old one are dropped
let loaded = false;  // the state was read at least once in this session

function documentName(doc) {
  const kind = doc.document === 'receipt' && doc.receipt_type ? `receipt.${doc.receipt_type}` : `doc.${doc.document}`;
  const name = t(kind) === kind ? doc.receipt_type || doc.document : t(kind);
  return doc.receipt_number ? t('doc.numbered', { name, number: doc.receipt_number }) : name;
}

// ---- sign in and out ----

function showSignedIn(on) {
  $('#sign-in').hidden = on;
  $('#console').hidden = !on;
  $('#signed-in').hidden = !on;
}

async function signIn(token) {
  const mine = ++session;
  loaded = false;
  const message = $('#token-message');
  say(message, '');
  const answer = await api.get('/v1/registers', { token });
  if (mine !== session) return;
  if (!answer.ok) {
    if (answer.status === 401) api.forgetToken();  // kept when the bridge was only out of reach
    say(message, () => (answer.status === 401 ? t('token.refused', { why: api.describe(answer) }) : api.describe(answer)));
    $('#token').focus();
    return;
  }
  api.saveToken(token);
  $('#token').value = '';
  showSignedIn(true);
  $('#cashier-password').focus();  // what the cashier types first
  syncRegisters(answer.body.registers || []);
  probeRole(mine);
  stream = new EventStream({
    token,
    // Read everything again at each (re)connection as well as replaying
    // what was missed: a restarted bridge counts its events from 1 again.
    onOpen: () => { if (mine === session) loadAll(mine); },
    // Without the stream the page still shows where things stand.
    onLost: () => { if (mine === session && !loaded) loadAll(mine); },
    onEvent: (name, data) => { if (mine === session) onEvent(name, data); },
    onState: (state, values, live) => {
      const el = $('#stream');
      say(el, () => t(`events.${state}`, values));
      el.dataset.live = live ? 'yes' : 'no';
    },
    onRefused: () => signOut('token.revoked'),
  });
  stream.start();
}

function signOut(messageKey = '') {
  session++;
  if (stream) stream.stop();
  stream = null;
  api.forgetToken();
  for (const reg of registers.values()) dropRegister(reg);
  registers.clear();
  clearActions();
  showSignedIn(false);
  say($('#token-message'), () => (messageKey ? t(messageKey) : ''));
  $('#token').focus();
}

// Without a "who am I" route the role shows itself: a pos token is refused
// a table read before anything goes to the register.
async function probeRole(mine) {
  const first = registers.keys().next().value;
  let role = 'admin';
  if (first) {
    const answer = await api.get(api.registerPath(first, '/tables/cashiers/1'));
    if (mine !== session) return;
    if (answer.forbidden) role = 'pos';
  }
  say($('#role'), () => t('role', { role: t(`role.${role}`) }));
  $('#role').dataset.role = role;
  showRole(role);
}

// ---- registers ----

function syncRegisters(list) {
  const names = new Set(list.map((r) => r.name));
  for (const [name, reg] of registers) {
    if (!names.has(name)) {
      dropRegister(reg);
      registers.delete(name);
    }
  }
  for (const r of list) {
    let reg = registers.get(r.name);
    if (!reg) {
      reg = {
        name: r.name, online: r.online, status: null, documents: new Map(), listShift: 0, more: false,
        expanded: new Set(), lines: new Map(), urls: new Map(), sheets: [], paperRound: 0,
      };
      reg.card = $('#register-template').content.firstElementChild.cloneNode(true);
      reg.card.dataset.register = r.name;
      $('.name', reg.card).textContent = r.name;
      i18n.apply(reg.card);
      $('#registers').append(reg.card);
      registers.set(r.name, reg);
    }
    reg.online = r.online;
    reg.virtual = r.virtual;
    renderStatus(reg);
  }
  syncRegisterPick([...registers.keys()]);
}

function dropRegister(reg) {
  for (const url of reg.urls.values()) URL.revokeObjectURL(url);
  reg.urls.clear();
  reg.card.remove();
}

async function loadAll(mine) {
  const list = await api.get('/v1/registers');
  if (mine !== session || !list.ok) return;
  loaded = true;
  syncRegisters(list.body.registers || []);
  await Promise.all([...registers.values()].map((reg) => loadRegister(reg, mine)));
}

async function loadRegister(reg, mine) {
  const status = await api.get(api.registerPath(reg.name, '/status'));
  if (mine !== session) return;
  if (status.ok) reg.status = status.body;
  renderStatus(reg);
  await loadDocuments(reg, mine);
  refreshPaper(reg, mine);
  loadTaxRates(reg.name);
}

const shiftOf = (reg) => (reg.status && reg.status.shift && reg.status.shift.number) || 0;

// The documents of the register's shift (open or last closed) from the
// bridge's journal: what was stored before this page, or before the bridge
// restarted, as well as now. Without a shift yet, the newest ones.
async function loadDocuments(reg, mine) {
  const shift = shiftOf(reg);
  const query = shift ? `?shift=${shift}&limit=${DOCUMENTS_LIMIT}` : `?limit=${DOCUMENTS_LIMIT}`;
  const docs = await api.get(api.registerPath(reg.name, `/documents${query}`));
  if (mine !== session || !docs.ok) return;
  reg.documents.clear();
  for (const d of docs.body.documents || []) reg.documents.set(d.number, d);
  reg.listShift = shift;
  reg.more = Boolean(docs.body.more);
  renderDocuments(reg);
}

function onEvent(name, data) {
  if (name === 'reset') {
    loadAll(session);
    return;
  }
  const reg = data && registers.get(data.register);
  if (!reg) {
    if (name === 'register') loadAll(session);  // one this page has not seen yet
    return;
  }
  if (name === 'register') {
    reg.online = data.online;
    if (reg.status) reg.status.online = data.online;
    renderStatus(reg);
  } else if (name === 'status') {
    reg.status = data.status;
    reg.online = data.status.online;
    renderStatus(reg);
  } else if (name === 'document') {
    const doc = data.document;
    const mine = session;
    // A new shift starts a new list.
    if (doc.shift !== undefined && doc.shift !== reg.listShift) {
      if (reg.status && reg.status.shift) reg.status.shift.number = doc.shift;
      loadDocuments(reg, mine);
    } else {
      reg.documents.set(doc.number, doc);
      renderDocuments(reg);
    }
    refreshPaper(reg, mine);
    setTimeout(() => refreshPaper(reg, mine), PAPER_SETTLE_MS);
  }
}

function field(reg, name) {
  return reg.card.querySelector(`[data-f="${name}"]`);
}

function renderStatus(reg) {
  const s = reg.status || {};
  const online = field(reg, 'online');
  online.textContent = t(reg.online ? 'online' : 'offline');
  online.dataset.state = reg.online ? 'online' : 'offline';
  const set = (name, text, state) => {
    const el = field(reg, name);
    el.textContent = text;
    if (state !== undefined) el.dataset.state = state;
  };
  const shift = s.shift;
  if (shift) {
    set('shift', shift.open ? t('shift.state-open', { shift: shift.number, time: when(shift.opened) })
      : shift.number ? t('shift.state-closed', { shift: shift.number, time: when(shift.closed) }) : t('shift.none'),
    shift.open ? 'open' : 'closed');
    set('receipts', String(shift.receipts));
  } else {
    set('shift', '—', '');
    set('receipts', '—');
  }
  set('drawer', typeof s.drawer === 'number' ? money(s.drawer) : '—');
  set('paper', s.paper && s.paper !== 'unknown' ? t(`paper.${s.paper}`) : '—', s.paper || '');
  set('printer', s.printer && s.printer !== 'unknown' ? t(`printer.${s.printer}`) : '—', s.printer || '');
  const open = s.open_document;
  set('open', open ? t('open.some', { document: documentName({ document: open.type }) }) : s.shift ? t('open.none') : '—');
  const last = s.last_document;
  set('last', last ? t('last', { number: last.number, time: when(last.time) }) : '—');

  const alerts = [];
  if (!reg.online) alerts.push(t('alert.offline'));
  if (s.paper === 'out') alerts.push(t('alert.paper-out'));
  else if (s.paper === 'near-end') alerts.push(t('alert.near-end'));
  if (s.printer === 'silent') alerts.push(t('alert.silent'));
  if (s.result_code !== undefined) {
    alerts.push(t('alert.status-refused', { code: s.result_code, meaning: i18n.meaning(s.result_code, s.result_meaning) }));
  }
  const alert = field(reg, 'alert');
  alert.textContent = alerts.join(' ');
  alert.hidden = alerts.length === 0;
}

function cell(text, className) {
  const td = document.createElement('td');
  td.textContent = text;
  if (className) td.className = className;
  return td;
}

function renderDocuments(reg) {
  field(reg, 'documents-title').textContent = t(reg.listShift ? 'documents' : 'documents.recent');
  const body = field(reg, 'documents');
  const docs = [...reg.documents.values()].sort((a, b) => b.number - a.number);
  const rows = [];
  for (const d of docs) {
    const tr = document.createElement('tr');
    tr.dataset.number = d.number;
    tr.dataset.document = d.document;
    const amount = d.total ?? d.amount;
    const sign = d.fiscal_sign !== undefined ? String(d.fiscal_sign) : (d.missing || []).includes('fiscal_sign') ? t('not-told') : '';
    tr.append(cell(String(d.number)), cell(documentName(d)), cell(when(d.time)),
              cell(typeof amount === 'number' ? money(amount) : '', 'num'), cell(sign, 'num'));
    const toggle = cell('');
    if (d.document === 'receipt') toggle.append(linesButton(reg, d));
    tr.append(toggle);
    rows.push(tr);
    if (reg.expanded.has(d.number)) rows.push(linesRow(reg, d.number));
  }
  body.replaceChildren(...rows);
  field(reg, 'no-documents').hidden = docs.length > 0;
  const more = field(reg, 'more-documents');
  more.hidden = !reg.more;
  more.textContent = t('documents.more', { count: docs.length });
}

// A receipt's lines, read from /documents/{number} when asked for.
function linesButton(reg, d) {
  const button = document.createElement('button');
  button.type = 'button';
  button.className = 'secondary small';
  button.textContent = t('lines.show');
  button.setAttribute('aria-expanded', String(reg.expanded.has(d.number)));
  button.setAttribute('aria-label', t('lines.caption', { number: d.number }));
  button.addEventListener('click', async () => {
    if (reg.expanded.has(d.number)) {
      reg.expanded.delete(d.number);
    } else {
      reg.expanded.add(d.number);
      if (!reg.lines.has(d.number)) {
        const mine = session;
        const answer = await api.get(api.registerPath(reg.name, `/documents/${d.number}`));
        if (mine !== session) return;
        reg.lines.set(d.number, answer.ok ? answer.body : { failed: answer });
      }
    }
    renderDocuments(reg);
    const again = field(reg, 'documents').querySelector(`tr[data-number="${d.number}"] button`);
    if (again) again.focus();
  });
  return button;
}

function linesRow(reg, number) {
  const tr = document.createElement('tr');
  tr.className = 'lines-row';
  tr.dataset.linesOf = number;
  const td = document.createElement('td');
  td.colSpan = 6;
  tr.append(td);
  const doc = reg.lines.get(number);
  if (!doc) return tr;
  if (doc.failed) {
    td.textContent = t('lines.failed', { why: api.describe(doc.failed) });
    return tr;
  }
  const table = document.createElement('table');
  const caption = document.createElement('caption');
  caption.className = 'visually-hidden';
  caption.textContent = t('lines.caption', { number });
  table.append(caption);
  for (const line of doc.lines || []) {
    const row = document.createElement('tr');
    row.append(cell(line.name), cell(t('lines.row', { quantity: line.quantity, price: money(line.price) }), 'num'),
               cell(typeof line.amount === 'number' ? money(line.amount) : '', 'num'));
    table.append(row);
  }
  td.append(table);
  return tr;
}

// ---- paper ----

// The paper of a virtual register: the list, then each new sheet's picture
// (fetched with the token, so shown from a blob URL). The newest sheet is
// shown at its own width, readable as it is; any opens full size.
async function refreshPaper(reg, mine) {
  const round = ++reg.paperRound;
  const answer = await api.get(api.registerPath(reg.name, '/paper'));
  if (mine !== session || round !== reg.paperRound) return;
  const panel = field(reg, 'paper-panel');
  if (!answer.ok || !answer.body.virtual) {
    panel.hidden = true;
    return;
  }
  panel.hidden = false;
  reg.sheets = (answer.body.sheets || []).slice(0, SHEETS_SHOWN);
  const keep = new Set(reg.sheets.map((s) => s.sheet));
  for (const [sheet, url] of reg.urls) {
    if (!keep.has(sheet)) {
      URL.revokeObjectURL(url);
      reg.urls.delete(sheet);
    }
  }
  renderSheets(reg, mine);
}

function sheetLabel(s) {
  return s.document != null ? t('sheet.document', { number: s.document }) : t('sheet.no-document');
}

function renderSheets(reg, mine) {
  const list = field(reg, 'sheets');
  const items = reg.sheets.map((s, i) => {
    let li = list.querySelector(`li[data-sheet="${CSS.escape(s.sheet)}"]`);
    if (!li) {
      li = document.createElement('li');
      li.dataset.sheet = s.sheet;
      li.innerHTML = '<figure><button type="button" class="sheet-open"></button><figcaption></figcaption></figure>';
      $('.sheet-open', li).addEventListener('click', (ev) => openSheet(reg, s, ev.currentTarget));
    }
    li.classList.toggle('newest', i === 0);
    li.dataset.document = s.document ?? '';
    $('figcaption', li).textContent = t('sheet.caption', { document: sheetLabel(s), sheet: s.sheet, time: when(s.time) });
    $('.sheet-open', li).setAttribute('aria-label', t('sheet.open', { sheet: s.sheet }));
    const img = $('img', li);
    if (img) img.alt = s.document != null ? t('sheet.alt', { number: s.document }) : t('sheet.alt-plain', { sheet: s.sheet });
    if (!reg.urls.has(s.sheet)) showSheet(reg, s, li, mine);
    return li;
  });
  list.replaceChildren(...items);
}

async function showSheet(reg, s, li, mine) {
  reg.urls.set(s.sheet, '');  // asked for; not again while it comes
  const picture = await api.blob(api.registerPath(reg.name, `/paper/${encodeURIComponent(s.sheet)}.png`));
  if (mine !== session || !reg.urls.has(s.sheet)) return;
  if (!picture) {
    reg.urls.delete(s.sheet);  // try again at the next refresh
    return;
  }
  const url = URL.createObjectURL(picture);
  reg.urls.set(s.sheet, url);
  const img = document.createElement('img');
  img.src = url;
  img.alt = s.document != null ? t('sheet.alt', { number: s.document }) : t('sheet.alt-plain', { sheet: s.sheet });
  $('.sheet-open', li).append(img);
}

let jsonUrl = '';
let opener = null;

// The sheet full size in a dialog (Escape or the button closes it), with
// its document's number and the document's JSON from the bridge's journal.
async function openSheet(reg, s, from) {
  const url = reg.urls.get(s.sheet);
  if (!url) return;
  const dialog = $('#sheet-dialog');
  opener = from;
  $('#sheet-title').textContent = t('sheet.caption', { document: sheetLabel(s), sheet: s.sheet, time: when(s.time) });
  const img = $('#sheet-image');
  img.src = url;
  img.alt = $('img', from) ? $('img', from).alt : '';
  const link = $('#sheet-json');
  link.hidden = true;
  $('#sheet-json-missing').hidden = true;
  dialog.showModal();
  $('#sheet-close').focus();
  if (s.document == null) return;
  const mine = session;
  const answer = await api.get(api.registerPath(reg.name, `/documents/${s.document}`));
  if (mine !== session || !dialog.open) return;
  if (!answer.ok) {
    $('#sheet-json-missing').hidden = false;
    return;
  }
  if (jsonUrl) URL.revokeObjectURL(jsonUrl);
  jsonUrl = URL.createObjectURL(new Blob([JSON.stringify(answer.body, null, 2)], { type: 'application/json' }));
  link.href = jsonUrl;
  link.download = `${reg.name}-${s.document}.json`;
  link.hidden = false;
}

function setupSheetDialog() {
  const dialog = $('#sheet-dialog');
  $('#sheet-close').addEventListener('click', () => dialog.close());
  // A click on the backdrop closes it too.
  dialog.addEventListener('click', (ev) => { if (ev.target === dialog) dialog.close(); });
  dialog.addEventListener('close', () => {
    $('#sheet-image').removeAttribute('src');
    if (jsonUrl) URL.revokeObjectURL(jsonUrl);
    jsonUrl = '';
    if (opener && opener.isConnected) opener.focus();
    opener = null;
  });
}

// ---- the language ----

function setupLanguage() {
  const pick = $('#language');
  for (const l of i18n.languages()) pick.add(new Option(l.name, l.code));
  pick.value = i18n.language();
  pick.addEventListener('change', () => i18n.setLanguage(pick.value));
  // What the page made from the register's answers is made again.
  i18n.onLanguage(() => {
    pick.value = i18n.language();
    for (const reg of registers.values()) {
      renderStatus(reg);
      renderDocuments(reg);
      renderSheets(reg, session);
    }
  });
}

// The receipt types, reports and result meanings the bridge knows, by its
// own names (one table on its side).
async function loadNames() {
  try {
    const res = await fetch('/console/names.json', { cache: 'no-store' });
    const names = await res.json();
    i18n.setResults(names.results);
    const option = (key, value) => {
      const o = new Option('', value);
      o.dataset.t = key;
      return o;
    };
    const types = $('#receipt-form select[name="type"]');
    for (const name of names.receipt_types) types.add(option(`receipt.${name}`, name));
    // The reports the form prints with the cashier alone (the others take a range).
    const reports = $('#report-form select[name="kind"]');
    for (const name of names.report_kinds) if (t(`report.${name}`) !== `report.${name}`) reports.add(option(`report.${name}`, name));
  } catch {
    // Without them the form cannot send a receipt; everything else works.
  }
}

// ---- start ----

$('#token-form').addEventListener('submit', (ev) => {
  ev.preventDefault();
  const token = $('#token').value.trim();
  if (token) signIn(token);
});
$('#sign-out').addEventListener('click', () => signOut('signed-out'));
// A token revoked while signed in: back to the form.
api.whenUnauthorized(() => {
  if (!$('#console').hidden) signOut('token.revoked');
});

setupLanguage();
setupSheetDialog();
await loadNames();
setupActions();
i18n.apply();

const saved = api.savedToken();
if (saved) signIn(saved);
else showSignedIn(false);
