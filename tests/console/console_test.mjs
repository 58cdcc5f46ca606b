// The register console in a real browser against fr-bridge and a fresh
// virtual register (tests/console/run.sh starts both and sets the
// environment): BASE_URL, ADMIN_TOKEN, POS_TOKEN, EMU_DIR (fr-emu's
// directory, for its printer-state file), SHOTS_DIR (screenshots), PHASE
// and DAY_FILE (what the first phase leaves the second).
// PHASE=ru: a day at the till in Russian, the page's first language: sign
// in, set up a cashier and a discount, open a shift, sell with change and
// with a discount, read a sheet full size, run out of paper, double submit.
// PHASE=en (the bridge restarted): the page switched to English, the
// documents stored before the restart listed, a sale, the shift closed;
// then a pos token's view, and a page without a token that asks for nothing.

import assert from 'node:assert/strict';
import { writeFile, readFile, mkdir } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { randomUUID } from 'node:crypto';
import { execFileSync } from 'node:child_process';

import { LANGUAGES } from '../../bridge/console/messages.js';

const require = createRequire(new URL('../node/package.json', import.meta.url));
const { chromium } = require('playwright-core');

const env = (name) => {
  const v = process.env[name];
  if (!v) throw new Error(`${name} is not set (tests/console/run.sh sets it)`);
  return v;
};
const BASE = env('BASE_URL');
const ADMIN = env('ADMIN_TOKEN');
const POS = env('POS_TOKEN');
const EMU = env('EMU_DIR');
const SHOTS = env('SHOTS_DIR');
const PHASE = env('PHASE');
const DAY_FILE = env('DAY_FILE');

async function api(method, path, body, { token = ADMIN, key } = {}) {
  const headers = { Authorization: `Bearer ${token}` };
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  if (key) headers['Idempotency-Key'] = key;
  const res = await fetch(BASE + path, { method, headers, body: body === undefined ? undefined : JSON.stringify(body) });
  return { status: res.status, body: await res.json().catch(() => null) };
}

async function lastDocument() {
  const s = await api('GET', '/v1/registers/main/status?fresh=1');
  assert.equal(s.status, 200, JSON.stringify(s.body));
  return s.body.last_document.number;
}

async function storedDocument(number) {
  const d = await api('GET', `/v1/registers/main/documents/${number}`);
  assert.equal(d.status, 200, JSON.stringify(d.body));
  return d.body;
}

const printer = (state) => writeFile(`${EMU}/printer-state`, `${state}\n`);
// Money as a manager reads it: "45,50 ₽" in Russian, "₽45.50" in English
// (the space Intl puts is a no-break one, which \s takes).
const rub = (amount) => new RegExp(`^${amount.replace('.', '\\.')}\\s₽$`);
const usd = (amount) => new RegExp(`^₽${amount.replace('.', '\\.')}$`);
const escape = (text) => text.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');

await mkdir(SHOTS, { recursive: true });
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox'] });
const failures = [];
let current = null;  // the page a failure is photographed from

async function newPage(viewport = { width: 1280, height: 800 }) {
  const context = await browser.newContext({ viewport });
  const page = await context.newPage();
  current = page;
  page.setDefaultTimeout(10000);
  page.on('pageerror', (e) => failures.push(`page error: ${e.message}`));
  // Refusals the test asks for (401, 403, 404, 422) are logged as failed loads.
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.text().startsWith('Failed to load resource')) failures.push(`console: ${m.text()}`);
  });
  const requests = [];
  page.on('request', (r) => {
    const u = new URL(r.url());
    requests.push({ method: r.method(), origin: u.origin, url: u.pathname, headers: r.headers() });
  });
  const card = page.locator('[data-register="main"]');
  return {
    page, context, requests, card,
    fact: (name) => card.locator(`[data-f="${name}"]`),
    shot: (name) => page.screenshot({ path: `${SHOTS}/${name}.png`, fullPage: true }),
    noSideScroll: async () => {
      const [scroll, inner] = await page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
      assert.ok(scroll <= inner, `the page scrolls sideways: ${scroll} > ${inner}`);
    },
  };
}

async function signIn(page, token) {
  await page.fill('#token', token);
  await page.press('#token', 'Enter');
  await page.locator('#stream[data-live="yes"]').waitFor();
}

async function sell(page, { name, price, quantity = '1', discount = '', cash }) {
  await page.fill('#lines .line:last-child [name="name"]', name);
  await page.fill('#lines .line:last-child [name="price"]', price);
  await page.fill('#lines .line:last-child [name="quantity"]', quantity);
  await page.fill('#lines .line:last-child [name="discount"]', discount);
  await page.fill('#receipt-form [name="cash"]', cash);
}

// The newest sheet of a document: shown at its own width; opened, full size
// in a dialog with the document's number and its JSON; Escape closes it.
async function readSheet({ page, card }, number, heading) {
  const item = card.locator(`[data-f="sheets"] li.newest[data-document="${number}"]`);
  await item.locator('img').waitFor();
  const img = await item.locator('img').elementHandle();
  await page.waitForFunction((i) => i.complete && i.naturalWidth > 0, img);
  const [shown, natural] = await img.evaluate((i) => [i.getBoundingClientRect().width, i.naturalWidth]);
  assert.equal(Math.round(shown), natural, 'the newest sheet is shown at its own width');
  await item.locator('button').click();
  const dialog = page.locator('#sheet-dialog');
  await dialog.waitFor();
  assert.match(await page.textContent('#sheet-title'), heading);
  const full = await page.locator('#sheet-image').evaluate((i) => [i.getBoundingClientRect().width, i.naturalWidth]);
  assert.equal(Math.round(full[0]), full[1], 'full size in the dialog');
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#sheet-json')]);
  const json = JSON.parse(await readFile(await download.path(), 'utf8'));
  assert.equal(json.number, number, 'the link is the document of the sheet');
  return async () => {
    await page.keyboard.press('Escape');
    await dialog.waitFor({ state: 'hidden' });
    assert.equal(await item.locator('button').evaluate((b) => b === document.activeElement), true, 'focus back on the sheet');
  };
}

// Every language says everything: the same keys in each table, and every
// key the page names in one of them (a missing one would show as its key).
async function everyTextInEveryLanguage() {
  const [first, ...others] = Object.values(LANGUAGES).map((l) => Object.keys(l.texts).sort());
  for (const keys of others) assert.deepEqual(keys, first);
  const html = await readFile(new URL('../../bridge/console/index.html', import.meta.url), 'utf8');
  const named = [...html.matchAll(/data-t(?:-placeholder|-label)?="([^"]+)"/g)].map((m) => m[1]);
  assert.deepEqual(named.filter((k) => !first.includes(k)), []);
}

// ---- PHASE=ru: the day in Russian ----

async function dayInRussian() {
  await everyTextInEveryLanguage();
  {
    const serial = await api('PUT', '/v1/registers/main/serial-number', { serial: '4200012345' });
    assert.equal(serial.status, 200, JSON.stringify(serial.body));
    const reg = await api('POST', '/v1/registers/main/registration', {
      inn: '7701234567',
      fn: '9999078900012345',
      texts: ['ООО Ромашка', 'ул. Лесная, 1', 'Москва'],
      tax_rates: [{ number: 1, type: 1, rate: 2000, name: 'НДС 20%' }, { number: 2, type: 1, rate: 1000, name: 'НДС 10%' }],
    }, { key: randomUUID() });
    assert.equal(reg.status, 201, JSON.stringify(reg.body));
  }
  const t = await newPage();
  const { page, requests, card, fact, shot } = t;
  const files = [];  // the page's own files as served
  page.on('response', (r) => {
    const u = new URL(r.url());
    if (/^\/($|console\/)/.test(u.pathname)) files.push(`${r.status()} ${u.pathname}`);
  });

  // Without a token the page asks the bridge for nothing, and speaks Russian.
  await page.goto(BASE + '/', { waitUntil: 'networkidle' });
  assert.equal(await page.locator('html').getAttribute('lang'), 'ru');
  assert.equal(await page.title(), 'Консоль кассы');
  assert.equal(await page.textContent('#sign-in-title'), 'Вход');
  assert.ok(await page.locator('#console').isHidden());
  assert.deepEqual(requests.filter((r) => r.url.startsWith('/v1')), [], 'no /v1 request before a token');
  assert.deepEqual(requests.filter((r) => r.origin !== new URL(BASE).origin || !/^\/($|console\/)/.test(r.url)), [],
    'the page and its files alone, all from the bridge');
  assert.ok(files.length >= 4 && files.every((f) => f.startsWith('200 ')), files.join(', '));
  await shot('ru-signed-out');

  // A wrong token: the 401 in words, nothing shown, nothing kept.
  await page.fill('#token', 'not-a-token-of-this-bridge');
  await page.press('#token', 'Enter');
  await page.locator('#token-message').filter({ hasText: 'Мост не принял этот токен' }).waitFor();
  assert.ok(await page.locator('#console').isHidden());
  assert.equal(await page.evaluate(() => sessionStorage.length), 0, 'a refused token is not kept');

  await signIn(page, ADMIN);
  await page.locator('#role[data-role="admin"]').filter({ hasText: 'Роль: администратор' }).waitFor();
  await fact('online').filter({ hasText: 'На связи' }).waitFor();
  assert.ok(!Object.values(await page.evaluate(() => ({ ...localStorage }))).includes(ADMIN), 'the token stays out of localStorage');
  await page.evaluate(() => { window.sameDocument = true; });

  // Cashier 1 and a 5 % discount, through the tables form.
  const write = async (table, number, fill, saved) => {
    await page.selectOption('#table-read-form [name="table"]', table);
    await page.fill('#table-read-form [name="number"]', String(number));
    await page.click('#table-read-form button[type="submit"]');
    await page.locator('#table-write-form').waitFor();
    await fill();
    await page.click('#table-write-form button[type="submit"]');
    await page.locator('#table-write-form .message').filter({ hasText: saved }).waitFor();
  };
  await write('cashiers', 1, async () => {
    await page.fill('#table-write-form [name="name"]', 'Иванова');
    await page.fill('#table-write-form [name="rights"]', String(0x0001 | 0x0002 | 0x0010));
    await page.fill('#table-write-form [name="password"]', '1234');
  }, 'Сохранено. Кассир 1: Иванова, права 19.');
  await write('discounts', 1, async () => {
    await page.selectOption('#table-write-form [name="kind"]', 'percent');
    await page.fill('#table-write-form [name="value"]', '5');
    await page.fill('#table-write-form [name="name"]', 'СКИДКА 5%');
  }, 'Сохранено. Скидка 1: СКИДКА 5%, 5,00 %.');

  // The shift, its times as a Russian shop writes them.
  await page.fill('#cashier-password', '1234');
  await page.click('#shift-open-form button');
  await fact('shift').filter({ hasText: /^Открыта: смена 1 с \d\d\.\d\d\.\d{4} \d\d:\d\d$/ }).waitFor();
  assert.match(await fact('drawer').textContent(), rub('0,00'));
  await shot('ru-shift-open');

  // A sale with change: the register's own figures before sending, the
  // tax rates by their names, a price typed with a comma.
  assert.deepEqual(await page.locator('#lines .line:last-child [name="tax"] option').allTextContents(), ['НДС 20%', 'НДС 10%']);
  await sell(page, { name: 'Хлеб', price: '45,50', cash: '50' });
  await page.locator('#receipt-change').filter({ hasText: rub('4,50') }).waitFor();
  assert.match(await page.textContent('#receipt-total'), rub('45,50'));
  assert.match(await page.textContent('#receipt-taxes'), /^НДС 20%: 7,58\s₽$/);
  assert.equal(requests.filter((r) => r.url.endsWith('/receipts')).length, 0, 'shown before sending');
  let before = await lastDocument();
  await page.click('#receipt-form button[type="submit"]');
  await page.locator('#receipt-form .message[data-kind="ok"]')
    .filter({ hasText: /^Сохранён как документ \d+, итого 45,50\s₽, сдача 4,50\s₽\. Чек 1 в смене\.$/ }).waitFor();
  assert.equal(await lastDocument(), before + 1);
  await fact('drawer').filter({ hasText: rub('45,50') }).waitFor();
  const saleRow = card.locator(`[data-f="documents"] tr[data-number="${before + 1}"]`);
  await saleRow.waitFor();
  assert.match(await saleRow.textContent(), /Приход \(чек 1\).*45,50\s₽/);
  const close = await readSheet(t, before + 1, new RegExp(`^Документ № ${before + 1} · лист`));
  await shot('ru-sheet');
  await close();

  // A discount record: a refusal on its line before anything is sent, then
  // the total and change the register stores, shown before sending.
  await sell(page, { name: 'Сыр', price: '200', discount: '7', cash: '200' });
  await page.locator('#lines .line:last-child .problem').filter({ hasText: 'Касса откажет' }).waitFor();
  await page.fill('#lines .line:last-child [name="discount"]', '1');
  await page.locator('#receipt-discounts').filter({ hasText: rub('10,00') }).waitFor();
  assert.equal(await page.locator('#lines .line:last-child .problem').textContent(), '', 'the refusal goes with its cause');
  const shownTotal = await page.textContent('#receipt-total');
  const shownChange = await page.textContent('#receipt-change');
  assert.match(shownTotal, rub('190,00'));
  assert.match(shownChange, rub('10,00'));
  assert.match(await page.textContent('#lines .line:last-child .line-amount'), rub('190,00'));
  await shot('ru-receipt-preview');
  before = await lastDocument();
  await page.click('#receipt-form button[type="submit"]');
  await page.locator('#receipt-form .message[data-kind="ok"]')
    .filter({ hasText: `итого ${shownTotal}, сдача ${shownChange}.` }).waitFor();
  const discounted = await storedDocument(before + 1);
  assert.deepEqual([discounted.total, discounted.change], [19000, 1000], 'the register stored what was shown');

  // Its lines on demand.
  const row = card.locator(`[data-f="documents"] tr[data-number="${before + 1}"]`);
  await row.locator('button').click();
  await card.locator(`tr[data-lines-of="${before + 1}"]`).filter({ hasText: /Сыр.*1 × 200,00\s₽/ }).waitFor();
  assert.equal(await row.locator('button').getAttribute('aria-expanded'), 'true');

  // Paper out: seen, and the refusal in Russian words.
  await printer('paper-out');
  await fact('paper').filter({ hasText: 'Нет бумаги' }).waitFor({ timeout: 2000 });
  assert.match(await card.locator('[data-f="alert"]').textContent(), /Нет бумаги: заправьте бумагу/);
  await shot('ru-paper-out');
  await sell(page, { name: 'Чай', price: '10.00', cash: '10' });
  await page.click('#receipt-form button[type="submit"]');
  const refusal = page.locator('#receipt-form .message[data-kind="error"]');
  await refusal.waitFor();
  assert.match(await refusal.textContent(), /^Касса отказала: 54 — нет бумаги/);
  await printer('ready');
  await fact('paper').filter({ hasText: 'Бумага есть' }).waitFor();

  // A double click stores one receipt.
  const receiptPosts = () => requests.filter((r) => r.method === 'POST' && r.url === '/v1/registers/main/receipts');
  const stored = page.locator('#receipt-form .message[data-kind="ok"]');
  const rows = () => card.locator('[data-f="documents"] tr[data-document="receipt"]').count();
  let last = await lastDocument();
  let receiptRows = await rows();
  await page.fill('#lines .line:last-child [name="quantity"]', '2');
  await page.fill('#receipt-form [name="cash"]', '20,00');
  await page.dblclick('#receipt-form button[type="submit"]');
  await stored.waitFor();
  assert.equal(await lastDocument(), last + 1, 'one document for a double click');
  await card.locator(`tr[data-number="${last + 1}"]`).waitFor();
  assert.equal(await rows(), receiptRows + 1);

  // Two submissions while the first is pending (past the disabled button):
  // the same key twice, one document.
  last = await lastDocument();
  receiptRows = await rows();
  await sell(page, { name: 'Сок', price: '99,90', cash: '100' });
  const sent = receiptPosts().length;
  const answers = [];
  const collect = (res) => { if (res.url().endsWith('/receipts')) answers.push(res.status()); };
  page.on('response', collect);
  const disabledWhilePending = await page.evaluate(() => {
    const form = document.querySelector('#receipt-form');
    form.requestSubmit();
    const disabled = form.querySelector('button[type="submit"]').disabled;
    form.requestSubmit();
    return disabled;
  });
  assert.equal(disabledWhilePending, true, 'the submit button waits for the answer');
  await page.waitForFunction(() => document.querySelector('#receipt-form .message').dataset.kind === 'ok');
  const pairs = receiptPosts().slice(sent);
  assert.equal(pairs.length, 2);
  assert.ok(pairs[0].headers['idempotency-key'], 'a key is sent');
  assert.equal(pairs[0].headers['idempotency-key'], pairs[1].headers['idempotency-key']);
  assert.notEqual(pairs[0].headers['idempotency-key'], receiptPosts()[sent - 1].headers['idempotency-key'],
    'a new key for a new receipt');
  for (let i = 0; i < 50 && answers.length < 2; i++) await page.waitForTimeout(100);
  page.off('response', collect);
  assert.deepEqual(answers, [201, 201]);
  assert.equal(await lastDocument(), last + 1, 'one document for a double submit');
  // And in the archive itself: one receipt of 99.90, read off the card.
  const stored99 = JSON.parse(execFileSync(env('FR_ARCHIVE'),
    ['export', `${EMU}/mnt/sd/V0XD24TX`, '--format', 'json'], { encoding: 'utf8' }))
    .filter((d) => d.document === 'receipt' && d.total === 9990);
  assert.equal(stored99.length, 1, 'the archive holds one receipt of the double submit');
  await card.locator(`tr[data-number="${last + 1}"]`).waitFor();
  assert.equal(await rows(), receiptRows + 1);
  assert.equal(await page.evaluate(() => window.sameDocument), true, 'no reload');
  await t.noSideScroll();
  await shot('ru-after-sales');

  await writeFile(DAY_FILE, JSON.stringify({ discounted: discounted.number }));
  await t.context.close();
}

// ---- PHASE=en: the bridge restarted, the page in English ----

async function dayInEnglish() {
  const { discounted } = JSON.parse(await readFile(DAY_FILE, 'utf8'));
  const t = await newPage();
  const { page, card, fact, shot } = t;
  await page.goto(BASE + '/');
  await page.selectOption('#language', 'en');
  assert.equal(await page.locator('html').getAttribute('lang'), 'en');
  await page.reload();
  assert.equal(await page.textContent('#sign-in-title'), 'Sign in', 'the choice is remembered');
  assert.equal(await page.title(), 'Register console');
  await shot('en-signed-out');
  await signIn(page, ADMIN);
  await fact('online').filter({ hasText: 'Online' }).waitFor();

  // What was stored before the restart, from the bridge's journal.
  const row = card.locator(`[data-f="documents"] tr[data-number="${discounted}"]`);
  await row.waitFor();
  assert.match(await row.textContent(), /Sale \(receipt 2\).*₽190\.00/);
  await row.locator('button').click();
  await card.locator(`tr[data-lines-of="${discounted}"]`).filter({ hasText: /Сыр.*1 × ₽200\.00/ }).waitFor();
  assert.match(await fact('shift').textContent(), /^Open: shift 1, since [A-Z][a-z]{2} \d{1,2}, \d{4} \d\d:\d\d$/);

  // The clock field: the register's time, 24-hour, whatever the browser's locale.
  await page.uncheck('#clock-form [name="now"]');
  await page.waitForFunction(() => document.querySelector('#clock-form [name="time"]').value !== '');
  assert.match(await page.inputValue('#clock-form [name="time"]'), /^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$/);
  await page.check('#clock-form [name="now"]');

  // A sale in English: money as ₽12.50, a price typed with a point.
  await page.fill('#cashier-password', '1234');
  await sell(page, { name: 'Bread', price: '12.50', cash: '20' });
  await page.locator('#receipt-change').filter({ hasText: usd('7.50') }).waitFor();
  const before = await lastDocument();
  await page.click('#receipt-form button[type="submit"]');
  await page.locator('#receipt-form .message').filter({ hasText: `Stored as document ${before + 1}, total ₽12.50, change ₽7.50.` }).waitFor();
  const close = await readSheet(t, before + 1, new RegExp(`^Document ${before + 1} · sheet`));
  await shot('en-sheet');
  await close();

  // The drawer emptied, the shift closed; the same words in Russian on a switch.
  const drawer = await fact('drawer').textContent();
  assert.notEqual(drawer, '₽0.00');
  await page.check('#cash-form [value="cash-out"]');
  await page.fill('#cash-form [name="amount"]', drawer.replace(/[₽,]/g, ''));
  await page.click('#cash-form button[type="submit"]');
  await page.locator('#cash-form .message').filter({ hasText: `amount ${drawer}, drawer ₽0.00.` }).waitFor();
  await page.click('#shift-close-form button');
  await fact('shift').filter({ hasText: /^Closed: shift 1 closed/ }).waitFor();
  await card.locator('tr[data-document="shift-close"]').waitFor();
  await t.noSideScroll();
  await shot('en-shift-closed');
  await page.selectOption('#language', 'ru');
  await fact('shift').filter({ hasText: /^Закрыта: смена 1 закрыта/ }).waitFor();
  assert.match(await page.locator('#cash-form .message').textContent(), new RegExp(`в ящике ${escape('0,00')}\\s₽`));

  // A portrait tablet: one column, nothing sideways.
  await page.setViewportSize({ width: 800, height: 1280 });
  await t.noSideScroll();
  await shot('ru-tablet');
  await t.context.close();

  // A pos token in a new browser: Russian again, the day is there, the admin forms are not.
  const pos = await newPage();
  await pos.page.goto(BASE + '/');
  await signIn(pos.page, POS);
  await pos.page.locator('#role[data-role="pos"]').waitFor();
  assert.ok(await pos.page.locator('#tables-title').isHidden());
  assert.match(await pos.page.locator('#admin-note').textContent(), /токена администратора/);
  await pos.card.locator('[data-f="shift"]').filter({ hasText: /^Закрыта: смена 1/ }).waitFor();
  await pos.card.locator(`tr[data-number="${await lastDocument()}"][data-document="shift-close"]`).waitFor();
  await pos.shot('ru-pos-view');
  await pos.page.click('#sign-out');
  await pos.page.locator('#token').waitFor();
  assert.equal(await pos.page.evaluate(() => sessionStorage.length), 0, 'signing out forgets the token');
  await pos.context.close();
}

try {
  if (PHASE === 'ru') await dayInRussian();
  else if (PHASE === 'en') await dayInEnglish();
  else throw new Error(`PHASE is ru or en, not ${PHASE}`);
} catch (e) {
  if (current) await current.screenshot({ path: `${SHOTS}/failure-${PHASE}.png`, fullPage: true }).catch(() => {});
  if (failures.length) console.error(failures.join('\n'));
  throw e;
} finally {
  await browser.close();
}

assert.deepEqual(failures, [], 'no errors in the pages');
console.log(`console test (${PHASE}): passed`);
