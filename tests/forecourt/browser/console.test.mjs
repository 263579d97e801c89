// The console in a real browser against the service on the emulator: one row per scenario a
// cashier or a manager lives through. Each row uses its own pumps so rows do not disturb
// each other.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { startService, launchBrowser, openConsole, apiClient, Proxy, until, repo, TOKENS } from './harness.mjs';

let service; let browser; let proxy; let url; let pos; let manager;

const tile = (page, n) => page.locator(`.tile[data-pump="${n}"]`);
const waitState = (page, n, state) => page.locator(`.tile[data-pump="${n}"][data-state="${state}"]`).waitFor();
const pumpOf = async (n) => pos('GET', `/pumps/${n}`);
const shot = (page, name) => page.screenshot({ path: path.join(repo, 'docs', name) });

// A finished, unpaid sale on pump n, made through the API as another POS would.
async function saleOn(n, volume = 1) {
  await pos('POST', `/emulator/pumps/${n}/lift`, { nozzle: 1 });
  await pos('POST', `/pumps/${n}/authorize`, { nozzle: 1, preset: { volume } });
  const pump = await until(`pump ${n} to finish`, async () => {
    const p = await pumpOf(n);
    return p.state === 'finished' && p;
  });
  await pos('POST', `/emulator/pumps/${n}/hang`, { nozzle: 1 });
  return pos('GET', `/sales/${pump.sale}`);
}

async function settle(saleId) {
  await pos('POST', `/sales/${saleId}/lock`);
  await pos('POST', `/sales/${saleId}/clear`);
}

async function startFuelling(n, preset = { volume: 500 }) {
  await pos('POST', `/pumps/${n}/authorize`, { nozzle: 1, preset });
  await pos('POST', `/emulator/pumps/${n}/lift`, { nozzle: 1 });
  await until(`pump ${n} to fuel`, async () => (await pumpOf(n)).state === 'fuelling');
}

async function stopAndSettle(n) {
  const stopped = await pos('POST', `/pumps/${n}/stop`);
  await until(`pump ${n} to finish`, async () => (await pumpOf(n)).state === 'finished');
  await pos('POST', `/emulator/pumps/${n}/hang`, { nozzle: 1 });
  const sale = await pos('GET', `/sales/${stopped.sale}`);
  await settle(sale.id);
  return sale;
}

const scenarios = [
  ['a filling runs from lift to clear through the page', async () => {
    const page = await openConsole(browser, url, TOKENS.pos1);
    await page.locator('#customer [data-pump="1"] button.lift[data-nozzle="1"]').click();
    await waitState(page, 1, 'calling');
    assert.equal(await tile(page, 1).locator('.state-word').textContent(), 'Calling');
    await tile(page, 1).locator('button.authorize').click();
    const dialog = page.locator('#authorize-dialog');
    await dialog.locator('input[value="volume"]').check();
    await dialog.locator('input[name="value"]').fill('1.5');
    await dialog.locator('button[value="ok"]').click();
    await waitState(page, 1, 'finished');
    const pump = await pumpOf(1);
    assert.deepEqual(pump.preset, { volume: 1.5 });
    const row = tile(page, 1).locator(`.unpaid li[data-sale="${pump.sale}"]`);
    await row.waitFor();
    assert.equal(await tile(page, 1).locator('output.volume').textContent(), '1.50');
    await page.locator('#customer [data-pump="1"] button.hang').click();
    await waitState(page, 1, 'idle');
    await row.locator('button.lock').click();
    await page.locator(`.unpaid li[data-sale="${pump.sale}"][data-state="locked"]`).waitFor();
    await row.locator('button.clear').click();
    await row.waitFor({ state: 'detached' });
    assert.equal((await pos('GET', `/sales/${pump.sale}`)).state, 'cleared');
    assert.deepEqual(page.errors, []);
    await page.context().close();
  }],

  ['another POS sees the lock and cannot clear the sale', async () => {
    const sale = await saleOn(2);
    const first = await openConsole(browser, url, TOKENS.pos1);
    const second = await openConsole(browser, url, TOKENS.pos2);
    await first.locator(`li[data-sale="${sale.id}"] button.lock`).click();
    const theirs = second.locator(`li[data-sale="${sale.id}"]`);
    await second.locator(`li[data-sale="${sale.id}"][data-state="locked"]`).waitFor();
    assert.match(await theirs.locator('.lock-state').textContent(), /another POS/);
    assert.equal(await theirs.locator('button.clear').getAttribute('aria-disabled'), 'true');
    await theirs.locator('button.clear').press('Enter');
    await second.locator('#toast[data-kind="error"]', { hasText: 'another POS' }).waitFor();
    // Taking the lock over is refused by the service and said; the sale stays the first's.
    await second.evaluate(() => { document.getElementById('toast').hidden = true; });
    await theirs.locator('button.lock').click();
    await second.locator('#toast[data-kind="error"]:not([hidden])').waitFor();
    const held = await pos('GET', `/sales/${sale.id}`);
    assert.deepEqual([held.state, held.locked_by], ['locked', 'pos1']);
    await first.locator(`li[data-sale="${sale.id}"] button.clear`).click();
    await theirs.waitFor({ state: 'detached' });
    await first.context().close();
    await second.context().close();
  }],

  ['a price change while fuelling leaves the running filling at its price', async () => {
    const page = await openConsole(browser, url, TOKENS.manager);
    await startFuelling(3);
    const old = (await pumpOf(3)).price;
    const grade = (await pumpOf(3)).grade;
    await page.locator('#tab-prices').click();
    const input = page.locator(`#prices-form tr[data-grade="${grade}"] input`);
    await input.fill(String(old + 1));
    await page.locator('#prices-apply').click();
    await page.locator(`#prices-form tr[data-grade="${grade}"] .price`, { hasText: (old + 1).toFixed(2) }).waitFor();
    await page.locator('#tab-forecourt').click();
    assert.match(await tile(page, 3).locator('.meta').textContent(), new RegExp(`Price ${old.toFixed(2)}$`));
    assert.match(await tile(page, 4).locator('.meta').textContent(), new RegExp((old + 1).toFixed(2)));
    const sale = await stopAndSettle(3);
    assert.equal(sale.price, old);
    await page.context().close();
  }],

  ['a line that goes offline shows its pumps offline and brings them back', async () => {
    const page = await openConsole(browser, url, TOKENS.viewer);
    await lineFault(2, true);
    for (const n of [5, 6, 7, 8]) await waitState(page, n, 'offline');
    assert.equal(await tile(page, 5).locator('.state-word').textContent(), 'Offline');
    await page.locator('#language').selectOption('ru');
    assert.equal(await tile(page, 5).locator('.state-word').textContent(), 'Нет связи');
    await page.locator('#tab-lines').click();
    await page.locator('#lines-table tr[data-line="2"][data-online="false"]').waitFor();
    await lineFault(2, false);
    await page.locator('#lines-table tr[data-line="2"][data-online="true"]').waitFor();
    await page.locator('#tab-forecourt').click();
    for (const n of [5, 6, 7, 8]) await waitState(page, n, 'idle');
    assert.equal(await tile(page, 1).locator('button.authorize').getAttribute('title'), 'Нужна роль кассы');
    await page.context().close();
  }],

  ['the forecourt in several states, and the sales list', async () => {
    const page = await openConsole(browser, url, TOKENS.pos1);
    const sale = await saleOn(4);
    await pos('POST', `/emulator/pumps/1/lift`, { nozzle: 2 });
    await pos('POST', '/pumps/2/authorize', { nozzle: 1, preset: { amount: 500 } });
    await startFuelling(3);
    await saleOn(5);
    await pos('POST', `/emulator/pumps/5/lift`, { nozzle: 1 });
    await lineFault(2, true);
    for (const [n, state] of [[1, 'calling'], [2, 'authorized'], [3, 'fuelling'], [8, 'offline']]) await waitState(page, n, state);
    await page.locator(`li[data-sale="${sale.id}"]`).waitFor();
    await shot(page, 'console-forecourt.png');
    await page.setViewportSize({ width: 768, height: 1024 });
    await shot(page, 'console-tablet-portrait.png');
    await page.setViewportSize({ width: 1280, height: 800 });
    await lineFault(2, false);
    await page.locator('#tab-sales').click();
    await page.locator(`#sales-table tr[data-sale="${sale.id}"]`).waitFor();
    assert.ok(await page.locator('#sales-totals tr[data-grade]').count() >= 1);
    await shot(page, 'console-sales.png');
    await pos('POST', `/emulator/pumps/1/hang`, { nozzle: 2 });
    await pos('POST', '/pumps/2/stop');
    await stopAndSettle(3);
    await page.context().close();
  }],

  ['stop every pump, confirmed, stops each running pump', async () => {
    const viewer = await openConsole(browser, url, TOKENS.viewer);
    assert.equal(await viewer.locator('#stop-all').getAttribute('aria-disabled'), 'true');
    await viewer.context().close();
    const page = await openConsole(browser, url, TOKENS.pos1);
    await startFuelling(1);
    await startFuelling(2);
    await page.locator('#stop-all').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    for (const n of [1, 2]) {
      await until(`pump ${n} to stop`, async () => !['authorized', 'fuelling'].includes(await tile(page, n).getAttribute('data-state')));
    }
    for (const n of [1, 2]) await stopAndSettleAfterStop(n);
    await page.context().close();
  }],

  ['a cut connection is said, and the page catches up without a reload', async () => {
    const page = await openConsole(browser, url, TOKENS.pos1);
    await page.evaluate(() => { window.sameDocument = true; });
    await pos('POST', '/pumps/7/authorize', { nozzle: 1, preset: { volume: 1 } });
    await waitState(page, 7, 'authorized');
    const seen = await page.evaluate(() => window.forecourtConsole.state.lastSeq);
    await proxy.cut();
    await page.locator('#connection[data-state="lost"]').waitFor();
    await pos('POST', '/pumps/6/authorize', { nozzle: 1, preset: { volume: 1 } });
    await proxy.restore();
    await page.locator('#connection[data-state="live"]').waitFor();
    await waitState(page, 6, 'authorized');
    assert.equal(await page.evaluate(() => window.sameDocument), true);
    assert.ok(proxy.requests.some((r) => r.startsWith(`GET /api/v1/events?after=${seen}&`)), proxy.requests.join('\n'));
    for (const n of [6, 7]) {
      await pos('POST', `/pumps/${n}/stop`);
      await waitState(page, n, 'idle');
    }
    await page.context().close();
  }],
];

// The stop-all above ended the fillings; their sales are settled so later rows have room.
async function stopAndSettleAfterStop(n) {
  const pump = await until(`pump ${n} to finish`, async () => {
    const p = await pumpOf(n);
    return p.state === 'finished' && p;
  });
  await pos('POST', `/emulator/pumps/${n}/hang`, { nozzle: 1 });
  await settle(pump.sale);
}

async function lineFault(line, silent) {
  await fetch(`http://127.0.0.1:${service.port}/fake/line/${line}/${silent ? 'off' : 'on'}`);
}

before(async () => {
  fs.mkdirSync(path.join(repo, 'docs'), { recursive: true });
  service = await startService();
  pos = apiClient(service.port, TOKENS.pos1);
  manager = apiClient(service.port, TOKENS.manager);
  proxy = new Proxy(service.port);
  url = `http://127.0.0.1:${await proxy.listen()}/`;
  browser = await launchBrowser();
}, { timeout: 60000 });

after(async () => {
  await browser?.close();
  await proxy?.cut().catch(() => {});
  await service?.stop();
});

for (const [name, run] of scenarios) test(name, { timeout: 60000 }, run);
