// The register console in a real browser against fr-bridge and a fresh
// virtual register (tests/console/run.sh starts both and sets the
// environment): BASE_URL, ADMIN_TOKEN, POS_TOKEN, EMU_DIR (fr-emu's
// directory, for its printer-state file) and SHOTS_DIR (screenshots).
// A day at the till through the page: sign in, set up a cashier, open a
// shift, sell with change, run out of paper, double submit, close; then a
// pos token's view, and a page without a token that asks for nothing.

import assert from 'node:assert/strict';
import { writeFile, mkdir } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { randomUUID } from 'node:crypto';
import { execFileSync } from 'node:child_process';

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

const printer = (state) => writeFile(`${EMU}/printer-state`, `${state}\n`);

// ---- the fresh register: serial number and registration ----

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

await mkdir(SHOTS, { recursive: true });
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: ['--no-sandbox'] });
const failures = [];
let current = null;  // the page a failure is photographed from
const watch = (page) => {
  page.on('pageerror', (e) => failures.push(`page error: ${e.message}`));
  // Refusals the test asks for (401, 403, 422) are logged as failed loads.
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.text().startsWith('Failed to load resource')) failures.push(`console: ${m.text()}`);
  });
};

try {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await context.newPage();
  current = page;
  page.setDefaultTimeout(10000);
  watch(page);
  const requests = [];
  page.on('request', (r) => {
    const u = new URL(r.url());
    requests.push({ method: r.method(), origin: u.origin, url: u.pathname, headers: r.headers() });
  });
  const files = [];  // the page's own files as served
  page.on('response', (r) => {
    const u = new URL(r.url());
    if (/^\/($|console\/)/.test(u.pathname)) files.push(`${r.status()} ${u.pathname}`);
  });
  const shot = (name, p = page) => p.screenshot({ path: `${SHOTS}/${name}.png`, fullPage: true });
  const card = page.locator('[data-register="main"]');
  const fact = (name) => card.locator(`[data-f="${name}"]`);
  const noSideScroll = async (p = page) => {
    const [scroll, inner] = await p.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
    assert.ok(scroll <= inner, `the page scrolls sideways: ${scroll} > ${inner}`);
  };

  // ---- without a token the page asks the bridge for nothing ----
  await page.goto(BASE + '/', { waitUntil: 'networkidle' });
  assert.equal(await page.locator('html').getAttribute('lang'), 'en');
  assert.ok(await page.locator('#token').isVisible());
  assert.ok(await page.locator('#console').isHidden());
  assert.deepEqual(requests.filter((r) => r.url.startsWith('/v1')), [], 'no /v1 request before a token');
  assert.deepEqual(requests.filter((r) => r.origin !== new URL(BASE).origin || !/^\/($|console\/)/.test(r.url)), [],
    'the page and its files alone, all from the bridge');
  assert.ok(files.length >= 4 && files.every((f) => f.startsWith('200 ')), files.join(', '));
  await shot('signed-out');

  // A wrong token: the 401's words, nothing shown.
  await page.fill('#token', 'not-a-token-of-this-bridge');
  await page.press('#token', 'Enter');
  await page.locator('#token-message').filter({ hasText: 'refused' }).waitFor();
  assert.match(await page.locator('#token-message').textContent(), /token/i);
  assert.ok(await page.locator('#console').isHidden());
  assert.deepEqual(requests.filter((r) => r.url.startsWith('/v1')).map((r) => `${r.method} ${r.url}`),
    ['GET /v1/registers'], 'the form alone asked, once');
  assert.equal(await page.evaluate(() => sessionStorage.length), 0, 'a refused token is not kept');

  // ---- the admin signs in ----
  await page.fill('#token', ADMIN);
  await page.click('#token-form button');
  await page.locator('#role[data-role="admin"]').waitFor();
  await fact('online').filter({ hasText: 'Online' }).waitFor();
  await page.locator('#stream[data-live="yes"]').waitFor();
  assert.equal(await page.evaluate(() => localStorage.length), 0, 'the token stays out of localStorage');
  assert.ok(await page.locator('#tables-title').isVisible());
  await page.evaluate(() => { window.sameDocument = true; });

  // Cashier 1, set up through the tables form.
  await page.selectOption('#table-read-form [name="table"]', 'cashiers');
  await page.fill('#table-read-form [name="number"]', '1');
  await page.click('#table-read-form button[type="submit"]');
  await page.locator('#table-write-form').waitFor();
  await page.fill('#table-write-form [name="name"]', 'Иванова');
  await page.fill('#table-write-form [name="rights"]', String(0x0001 | 0x0002 | 0x0010));
  await page.fill('#table-write-form [name="password"]', '1234');
  await page.click('#table-write-form button[type="submit"]');
  await page.locator('#table-write-form .message').filter({ hasText: 'Saved. Cashier 1: Иванова, rights 19.' }).waitFor();

  // ---- 1. the shift ----
  assert.equal(await page.inputValue('#cashier-number'), '1');
  assert.equal(await page.getAttribute('#cashier-password', 'type'), 'password');
  await page.fill('#cashier-password', '1234');
  await page.click('#shift-open-form button');
  await fact('shift').filter({ hasText: /^Open: shift 1,/ }).waitFor();
  assert.equal(await fact('receipts').textContent(), '0');
  assert.equal(await fact('drawer').textContent(), '0.00');
  await shot('shift-open');

  // ---- 2. a sale with change ----
  const sell = async (name, price, cash) => {
    await page.fill('#lines .line:last-child [name="name"]', name);
    await page.fill('#lines .line:last-child [name="price"]', price);
    await page.fill('#receipt-form [name="cash"]', cash);
  };
  await sell('Хлеб', '45.50', '50.00');
  // The register's own figures, from the bridge's preview, before anything is stored.
  await page.locator('#receipt-change').filter({ hasText: /^4\.50$/ }).waitFor();
  assert.equal(await page.textContent('#receipt-total'), '45.50');
  assert.equal(requests.filter((r) => r.url.endsWith('/receipts')).length, 0, 'shown before sending');
  assert.ok(requests.some((r) => r.url.endsWith('/receipts/preview')), 'asked the bridge');
  const before = await lastDocument();
  await page.click('#receipt-form button[type="submit"]');
  await page.locator('#receipt-form .message').filter({ hasText: `Stored as document ${before + 1}, total 45.50, change 4.50.` }).waitFor();
  await fact('receipts').filter({ hasText: /^1$/ }).waitFor();
  await fact('drawer').filter({ hasText: /^45\.50$/ }).waitFor();
  const saleRow = card.locator(`[data-f="documents"] tr[data-number="${before + 1}"]`);
  await saleRow.waitFor();
  assert.match(await saleRow.textContent(), /Sale.*45\.50/);
  const sheet = card.locator(`[data-f="sheets"] li[data-document="${before + 1}"] img`);
  await sheet.waitFor();
  await page.waitForFunction((img) => img.complete && img.naturalWidth > 0, await sheet.elementHandle());
  assert.equal(await page.evaluate(() => window.sameDocument), true, 'no reload');
  await shot('after-sale');

  // ---- 3. paper out, seen and refused in words ----
  await printer('paper-out');
  await fact('paper').filter({ hasText: 'Paper out' }).waitFor({ timeout: 2000 });
  assert.match(await card.locator('[data-f="alert"]').textContent(), /Paper out/);
  await shot('paper-out');
  await sell('Чай', '10.00', '10.00');
  await page.click('#receipt-form button[type="submit"]');
  const refusal = page.locator('#receipt-form .message[data-kind="error"]');
  await refusal.waitFor();
  assert.match(await refusal.textContent(), /The register refused: 54 — paper out/);
  await printer('ready');
  await fact('paper').filter({ hasText: 'Paper ready' }).waitFor();

  // ---- 4. a double click stores one receipt ----
  const receiptPosts = () => requests.filter((r) => r.method === 'POST' && r.url === '/v1/registers/main/receipts');
  const stored = page.locator('#receipt-form .message[data-kind="ok"]');
  const rows = () => card.locator('[data-f="documents"] tr[data-document="receipt"]').count();

  let last = await lastDocument();
  let receiptRows = await rows();
  await page.fill('#lines .line:last-child [name="quantity"]', '2');
  await page.fill('#receipt-form [name="cash"]', '20.00');
  await page.dblclick('#receipt-form button[type="submit"]');
  await stored.waitFor();
  assert.equal(await lastDocument(), last + 1, 'one document for a double click');
  await card.locator(`tr[data-number="${last + 1}"]`).waitFor();
  assert.equal(await rows(), receiptRows + 1);

  // Two submissions while the first is pending (past the disabled button):
  // the same key twice, one document.
  last = await lastDocument();
  receiptRows = await rows();
  await sell('Сок', '99.90', '100.00');
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
    ['export', `${env('EMU_DIR')}/mnt/sd/V0XD24TX`, '--format', 'json'], { encoding: 'utf8' }))
    .filter((d) => d.document === 'receipt' && d.total === 9990);
  assert.equal(stored99.length, 1, 'the archive holds one receipt of the double submit');
  await card.locator(`tr[data-number="${last + 1}"]`).waitFor();
  assert.equal(await rows(), receiptRows + 1);

  // ---- 5. the drawer emptied, the shift closes ----
  const drawer = await fact('drawer').textContent();
  assert.notEqual(drawer, '0.00');
  await page.check('#cash-form [value="cash-out"]');
  await page.fill('#cash-form [name="amount"]', drawer);
  await page.click('#cash-form button[type="submit"]');
  await page.locator('#cash-form .message').filter({ hasText: `amount ${drawer}, drawer 0.00.` }).waitFor();
  await fact('drawer').filter({ hasText: /^0\.00$/ }).waitFor();
  await page.click('#shift-close-form button');
  await fact('shift').filter({ hasText: /^Closed: shift 1 closed/ }).waitFor();
  await card.locator('tr[data-document="shift-close"]').waitFor();
  assert.equal(await page.evaluate(() => window.sameDocument), true, 'no reload all day');
  await noSideScroll();
  await shot('shift-closed');

  // A portrait tablet: the same page in one column, nothing sideways.
  await page.setViewportSize({ width: 800, height: 1280 });
  await noSideScroll();
  await shot('tablet');

  // Signing out forgets the token.
  await page.click('#sign-out');
  await page.locator('#token').waitFor();
  assert.equal(await page.evaluate(() => sessionStorage.length), 0);
  assert.ok(await page.locator('#console').isHidden());

  // ---- 6. a pos token: the day is there, the admin forms are not ----
  const posContext = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const pos = await posContext.newPage();
  current = pos;
  pos.setDefaultTimeout(10000);
  watch(pos);
  await pos.goto(BASE + '/');
  await pos.fill('#token', POS);
  await pos.press('#token', 'Enter');
  await pos.locator('#role[data-role="pos"]').waitFor();
  assert.ok(await pos.locator('#tables-title').isHidden());
  assert.ok(await pos.locator('#clock-title').isHidden());
  assert.match(await pos.locator('#admin-note').textContent(), /need an admin token/);
  const posCard = pos.locator('[data-register="main"]');
  await posCard.locator('[data-f="shift"]').filter({ hasText: /^Closed: shift 1/ }).waitFor();
  // The documents come from the bridge's list, no event needed.
  await posCard.locator(`tr[data-number="${await lastDocument()}"][data-document="shift-close"]`).waitFor();
  await shot('pos-view', pos);
  await posContext.close();
  await context.close();
} catch (e) {
  if (current) await current.screenshot({ path: `${SHOTS}/failure.png`, fullPage: true }).catch(() => {});
  throw e;
} finally {
  await browser.close();
}

assert.deepEqual(failures, [], 'no errors in the pages');
console.log('console test: passed');
