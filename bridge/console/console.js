// The console: sign in with a bridge token, then each register's state kept
// live from the event stream (never by reloading), its last documents and
// its paper. The forms that act on a register are in actions.js.

import * as api from './api.js';
import { EventStream } from './events.js';
import { setupActions, showRole, clearActions, syncRegisterPick } from './actions.js';

const $ = (sel, root = document) => root.querySelector(sel);
const SHEETS_SHOWN = 8;
const DOCUMENTS_SHOWN = 20;
const PAPER_SETTLE_MS = 1000;  // the virtual printer cuts just after the document is stored

const registers = new Map();  // name -> { name, online, status, documents (by number), card, urls (sheet -> blob URL) }
let stream = null;
let session = 0;  // bumped at every sign-in and sign-out; late answers of an old one are dropped
let loaded = false;  // the state was read at least once in this session

// ---- words for what the register says ----

const PAPER = { ready: 'Paper ready', 'near-end': 'Paper near end', out: 'Paper out' };
const PRINTER = { ready: 'Printer ready', silent: 'Printer silent (not answering)' };
const DOCUMENT = {
  receipt: 'Receipt', 'shift-open': 'Shift opened', 'shift-close': 'Shift closed (Z report)',
  'cash-in': 'Cash in', 'cash-out': 'Cash out', registration: 'Registration',
  'archive-close': 'Archive closed', unknown: 'Unknown document',
};
const RECEIPT = { sale: 'Sale', purchase: 'Purchase', 'return-sale': 'Return of a sale', 'return-purchase': 'Return of a purchase' };
// The reports the form prints with the cashier alone (the others take a range).
const REPORT = { x: 'X report', 'x-sections': 'X report by section' };

function when(t) {
  if (!t) return '—';
  const d = new Date(t);
  if (Number.isNaN(d.getTime())) return t;
  const p = (n) => String(n).padStart(2, '0');
  return `${d.getFullYear()}-${p(d.getMonth() + 1)}-${p(d.getDate())} ${p(d.getHours())}:${p(d.getMinutes())}:${p(d.getSeconds())}`;
}

function documentName(doc) {
  if (doc.document === 'receipt' && doc.receipt_type) {
    return `${RECEIPT[doc.receipt_type] || doc.receipt_type}${doc.receipt_number ? ` (receipt ${doc.receipt_number})` : ''}`;
  }
  return DOCUMENT[doc.document] || doc.document;
}

// ---- sign in and out ----

function showSignedIn(on) {
  $('#sign-in').hidden = on;
  $('#console').hidden = !on;
  $('#session').hidden = !on;
}

async function signIn(token, message = '') {
  const mine = ++session;
  loaded = false;
  const say = $('#token-message');
  say.textContent = message;
  const answer = await api.get('/v1/registers', { token });
  if (mine !== session) return;
  if (!answer.ok) {
    if (answer.status === 401) api.forgetToken();  // kept when the bridge was only out of reach
    say.textContent = answer.status === 401 ? `The bridge refused this token: ${api.describe(answer)}` : api.describe(answer);
    $('#token').focus();
    return;
  }
  api.saveToken(token);
  say.textContent = '';
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
    onState: (text, live) => {
      const el = $('#stream');
      el.textContent = text;
      el.dataset.live = live ? 'yes' : 'no';
    },
    onRefused: () => signOut('The bridge no longer takes this token.'),
  });
  stream.start();
}

function signOut(message = '') {
  session++;
  if (stream) stream.stop();
  stream = null;
  api.forgetToken();
  for (const reg of registers.values()) dropRegister(reg);
  registers.clear();
  clearActions();
  showSignedIn(false);
  $('#token-message').textContent = message;
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
  $('#role').textContent = `Role: ${role}`;
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
      reg = { name: r.name, online: r.online, status: null, documents: new Map(), urls: new Map(), paperRound: 0 };
      reg.card = $('#register-template').content.firstElementChild.cloneNode(true);
      reg.card.dataset.register = r.name;
      $('.name', reg.card).textContent = r.name;
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
  const [status, docs] = await Promise.all([
    api.get(api.registerPath(reg.name, '/status')),
    api.get(api.registerPath(reg.name, '/documents')),
  ]);
  if (mine !== session) return;
  if (status.ok) reg.status = status.body;
  if (docs.ok) {
    reg.documents.clear();
    const list = Array.isArray(docs.body) ? docs.body : docs.body.documents || [];
    for (const d of list) reg.documents.set(d.number, d);
  }
  renderStatus(reg);
  renderDocuments(reg);
  refreshPaper(reg, mine);
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
    reg.documents.set(data.document.number, data.document);
    renderDocuments(reg);
    const mine = session;
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
  online.textContent = reg.online ? 'Online' : 'Offline';
  online.dataset.state = reg.online ? 'online' : 'offline';
  const set = (name, text, state) => {
    const el = field(reg, name);
    el.textContent = text;
    if (state !== undefined) el.dataset.state = state;
  };
  const shift = s.shift;
  if (shift) {
    set('shift', shift.open
      ? `Open: shift ${shift.number}, since ${when(shift.opened)}`
      : shift.number ? `Closed: shift ${shift.number} closed ${when(shift.closed)}` : 'Closed: no shift yet',
    shift.open ? 'open' : 'closed');
    set('receipts', String(shift.receipts));
  } else {
    set('shift', '—', '');
    set('receipts', '—');
  }
  set('drawer', typeof s.drawer === 'number' ? api.money(s.drawer) : '—');
  set('paper', PAPER[s.paper] || '—', s.paper || '');
  set('printer', PRINTER[s.printer] || '—', s.printer || '');
  set('open', s.open_document ? `${DOCUMENT[s.open_document.type] || s.open_document.type} open` : s.shift ? 'None' : '—');
  set('last', s.last_document ? `No. ${s.last_document.number}${s.last_document.time ? `, ${when(s.last_document.time)}` : ''}` : '—');

  const alerts = [];
  if (!reg.online) alerts.push('The register does not answer.');
  if (s.paper === 'out') alerts.push('Paper out: load paper before the next document.');
  else if (s.paper === 'near-end') alerts.push('Paper near end.');
  if (s.printer === 'silent') alerts.push('The printer is silent: check it is on and connected.');
  if (s.result_code !== undefined) alerts.push(`The register refused its status: ${s.result_code} — ${s.result_meaning || ''}.`);
  const alert = field(reg, 'alert');
  alert.textContent = alerts.join(' ');
  alert.hidden = alerts.length === 0;
}

function renderDocuments(reg) {
  const body = field(reg, 'documents');
  const docs = [...reg.documents.values()].sort((a, b) => b.number - a.number).slice(0, DOCUMENTS_SHOWN);
  body.replaceChildren(...docs.map((d) => {
    const tr = document.createElement('tr');
    tr.dataset.number = d.number;
    tr.dataset.document = d.document;
    const amount = d.total ?? d.amount;
    const cells = [
      String(d.number),
      documentName(d),
      when(d.time),
      typeof amount === 'number' ? api.money(amount) : '',
      d.fiscal_sign !== undefined ? String(d.fiscal_sign) : (d.missing || []).includes('fiscal_sign') ? 'not told again' : '',
    ];
    cells.forEach((text, i) => {
      const td = document.createElement('td');
      td.textContent = text;
      if (i >= 3) td.className = 'num';
      tr.append(td);
    });
    return tr;
  }));
  field(reg, 'no-documents').hidden = docs.length > 0;
}

// The paper of a virtual register: the list, then each new sheet's picture
// (fetched with the token, so shown from a blob URL).
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
  const sheets = (answer.body.sheets || []).slice(0, SHEETS_SHOWN);
  const list = field(reg, 'sheets');
  const keep = new Set(sheets.map((s) => s.sheet));
  for (const [sheet, url] of reg.urls) {
    if (!keep.has(sheet)) {
      URL.revokeObjectURL(url);
      reg.urls.delete(sheet);
    }
  }
  const items = sheets.map((s) => {
    let li = list.querySelector(`li[data-sheet="${CSS.escape(s.sheet)}"]`);
    if (!li) {
      li = document.createElement('li');
      li.dataset.sheet = s.sheet;
      const figure = document.createElement('figure');
      const caption = document.createElement('figcaption');
      figure.append(caption);
      li.append(figure);
    }
    const label = s.document != null ? `Document ${s.document}` : 'No document';
    li.dataset.document = s.document ?? '';
    $('figcaption', li).textContent = `${label} · sheet ${s.sheet} · ${when(s.time)}`;
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
  img.alt = s.document != null ? `The paper of document ${s.document}` : `Paper sheet ${s.sheet}`;
  $('figure', li).prepend(img);
}

// ---- start ----

$('#token-form').addEventListener('submit', (ev) => {
  ev.preventDefault();
  const token = $('#token').value.trim();
  if (token) signIn(token);
});
$('#sign-out').addEventListener('click', () => signOut('Signed out.'));
// A token revoked while signed in: back to the form.
api.whenUnauthorized(() => {
  if (!$('#console').hidden) signOut('The bridge no longer takes this token.');
});
// The receipt types and reports the register knows, by the bridge's own names.
async function loadNames() {
  try {
    const res = await fetch('/console/names.json', { cache: 'no-store' });
    const names = await res.json();
    const types = $('#receipt-form select[name="type"]');
    for (const name of names.receipt_types) types.add(new Option(RECEIPT[name] || name, name));
    const reports = $('#report-form select[name="kind"]');
    for (const name of names.report_kinds) if (REPORT[name]) reports.add(new Option(REPORT[name], name));
  } catch {
    // Without them the form cannot send a receipt; everything else works.
  }
}

await loadNames();
setupActions();

const saved = api.savedToken();
if (saved) signIn(saved);
else showSignedIn(false);
