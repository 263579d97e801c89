// The console in a real browser against the service on the emulator: one row per scenario a
// cashier or a manager lives through. Each row uses its own pumps so rows do not disturb
// each other.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { startService, launchBrowser, openConsole, apiClient, Proxy, until, repo, TOKENS } from './harness.mjs';

// emu: `dorv-forecourt --emulator` behind a proxy the test can cut; station: tokens for two
// POS, a viewer and a manager, and lines a test can silence.
let browser; let proxy; const emu = {}; const station = {};

const tile = (page, n) => page.locator(`.tile[data-pump="${n}"]`);
const waitState = (page, n, state) => page.locator(`.tile[data-pump="${n}"][data-state="${state}"]`).waitFor();
const pumpOf = (at, n) => at.api('GET', `/pumps/${n}`);
const shot = (page, name) => page.screenshot({ path: path.join(repo, 'docs', name) });

async function finished(at, n) {
  return until(`pump ${n} to finish`, async () => {
    const p = await pumpOf(at, n);
    return p.state === 'finished' && p;
  });
}

// A finished, unpaid sale on pump n, made through the API as another POS would.
async function saleOn(at, n, volume = 1) {
  await at.api('POST', `/emulator/pumps/${n}/lift`, { nozzle: 1 });
  await at.api('POST', `/pumps/${n}/authorize`, { nozzle: 1, preset: { volume } });
  const pump = await finished(at, n);
  await at.api('POST', `/emulator/pumps/${n}/hang`, { nozzle: 1 });
  return at.api('GET', `/sales/${pump.sale}`);
}

async function startFuelling(at, n, preset = { volume: 500 }) {
  await at.api('POST', `/pumps/${n}/authorize`, { nozzle: 1, preset });
  await at.api('POST', `/emulator/pumps/${n}/lift`, { nozzle: 1 });
  await until(`pump ${n} to fuel`, async () => (await pumpOf(at, n)).state === 'fuelling');
}

// Ends pump n's filling (stopped here or already) and pays its sale, so later rows have room.
async function stopAndSettle(at, n, stop = true) {
  if (stop) await at.api('POST', `/pumps/${n}/stop`);
  const pump = await finished(at, n);
  await at.api('POST', `/emulator/pumps/${n}/hang`, { nozzle: 1 });
  await at.api('POST', `/sales/${pump.sale}/lock`);
  return at.api('POST', `/sales/${pump.sale}/clear`);
}

const scenarios = [
  ['a filling runs from lift to clear through the page', async () => {
    const page = await openConsole(browser, emu.url, '');
    await page.locator('#customer [data-pump="1"] button.lift[data-nozzle="1"]').click();
    await waitState(page, 1, 'calling');
    assert.equal(await tile(page, 1).locator('.state-word').textContent(), 'Calling');
    await tile(page, 1).locator('button.authorize').click();
    const dialog = page.locator('#authorize-dialog');
    await dialog.locator('input[value="volume"]').check();
    await dialog.locator('input[name="value"]').fill('1.5');
    await dialog.locator('button[value="ok"]').click();
    await waitState(page, 1, 'finished');
    const pump = await pumpOf(emu, 1);
    const sale = await emu.api('GET', `/sales/${pump.sale}`);
    assert.deepEqual([sale.preset, sale.volume], [{ volume: 1.5 }, 1.5]);
    const row = tile(page, 1).locator(`.unpaid li[data-sale="${pump.sale}"]`);
    await row.waitFor();
    assert.equal(await tile(page, 1).locator('output.volume').textContent(), '1.50');
    await page.locator('#customer [data-pump="1"] button.hang').click();
    await waitState(page, 1, 'idle');
    await row.locator('button.lock').click();
    await page.locator(`.unpaid li[data-sale="${pump.sale}"][data-state="locked"]`).waitFor();
    await row.locator('button.clear').click();
    await row.waitFor({ state: 'detached' });
    assert.equal((await emu.api('GET', `/sales/${pump.sale}`)).state, 'cleared');
    assert.deepEqual(page.errors, []);
    await page.context().close();
  }],

  ['another POS sees the lock and cannot clear the sale', async () => {
    const sale = await saleOn(station, 2);
    const first = await openConsole(browser, station.url, TOKENS.pos1);
    const second = await openConsole(browser, station.url, TOKENS.pos2);
    await first.locator(`li[data-sale="${sale.id}"] button.lock`).click();
    const theirs = second.locator(`li[data-sale="${sale.id}"]`);
    await second.locator(`li[data-sale="${sale.id}"][data-state="locked"]`).waitFor();
    assert.match(await theirs.locator('.lock-state').textContent(), /another POS/);
    assert.deepEqual([await second.locator('#role').textContent(), await second.locator('#uplink').isHidden()], ['POS, viewer', true]);
    assert.equal(await theirs.locator('button.clear').getAttribute('aria-disabled'), 'true');
    await theirs.locator('button.clear').press('Enter');
    await second.locator('#toast[data-kind="error"]', { hasText: 'another POS' }).waitFor();
    // Taking the lock over is refused and said; the sale stays the first's.
    await second.evaluate(() => { document.getElementById('toast').hidden = true; });
    await theirs.locator('button.lock').press('Enter');
    await second.locator('#toast[data-kind="error"]:not([hidden])').waitFor();
    const held = await station.api('GET', `/sales/${sale.id}`);
    assert.deepEqual([held.state, held.locked_by], ['locked', 'pos1']);
    await first.locator(`li[data-sale="${sale.id}"] button.clear`).click();
    await theirs.waitFor({ state: 'detached' });
    await first.context().close();
    await second.context().close();
  }],

  ['a price change while fuelling leaves the running filling at its price', async () => {
    const page = await openConsole(browser, station.url, TOKENS.manager);
    await startFuelling(station, 3);
    const { price: old, grade } = await pumpOf(station, 3);
    const raised = (old + 1).toFixed(2);
    await page.locator('#tab-prices').click();
    await page.locator(`#prices-form tr[data-grade="${grade}"] input`).fill(raised);
    await page.locator('#prices-apply').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    await page.locator(`#prices-form tr[data-grade="${grade}"] .price`, { hasText: raised }).waitFor();
    await page.locator('#tab-forecourt').click();
    assert.match(await tile(page, 3).locator('.meta').textContent(), new RegExp(`Price ${old.toFixed(2)}$`));
    assert.match(await tile(page, 4).locator('.meta').textContent(), new RegExp(`1: AI-95 ${raised}`));
    const sale = await stopAndSettle(station, 3);
    assert.equal(sale.price, old);
    await page.context().close();
  }],

  ['a line that goes offline shows its pumps offline and brings them back', async () => {
    const page = await openConsole(browser, station.url, TOKENS.viewer);
    await station.service.silence(2, true);
    for (const n of [5, 6, 7, 8]) await waitState(page, n, 'offline');
    assert.equal(await tile(page, 5).locator('.state-word').textContent(), 'Offline');
    await page.locator('#language').selectOption('ru');
    assert.equal(await tile(page, 5).locator('.state-word').textContent(), 'Нет связи');
    await page.locator('#tab-lines').click();
    await page.locator('#lines-table tr[data-line="2"][data-online="false"]').waitFor();
    await station.service.silence(2, false);
    await page.locator('#lines-table tr[data-line="2"][data-online="true"]').waitFor();
    await page.locator('#tab-forecourt').click();
    for (const n of [5, 6, 7, 8]) await waitState(page, n, 'idle');
    assert.equal(await tile(page, 1).locator('button.authorize').getAttribute('title'), 'Нужна роль кассы');
    await page.context().close();
  }],

  ['the forecourt in several states, and the sales list', async () => {
    const page = await openConsole(browser, station.url, TOKENS.pos1);
    const sale = await saleOn(station, 4);
    await station.api('POST', '/emulator/pumps/1/lift', { nozzle: 2 });
    await station.api('POST', '/pumps/2/authorize', { nozzle: 1, preset: { amount: 500 } });
    await startFuelling(station, 3);
    await station.service.silence(2, true);
    for (const [n, state] of [[1, 'calling'], [2, 'authorized'], [3, 'fuelling'], [8, 'offline']]) await waitState(page, n, state);
    await page.locator(`li[data-sale="${sale.id}"]`).waitFor();
    await shot(page, 'console-forecourt.png');
    await page.setViewportSize({ width: 768, height: 1024 });
    await shot(page, 'console-tablet-portrait.png');
    await page.setViewportSize({ width: 1280, height: 800 });
    await station.service.silence(2, false);
    await page.locator('#tab-sales').click();
    await page.locator(`#sales-table tr[data-sale="${sale.id}"]`).waitFor();
    assert.ok(await page.locator('#sales-totals tr[data-grade]').count() >= 1);
    await shot(page, 'console-sales.png');
    await station.api('POST', '/emulator/pumps/1/hang', { nozzle: 2 });
    await station.api('POST', '/pumps/2/stop');
    await stopAndSettle(station, 3);
    await page.context().close();
  }],

  ['stop every pump, confirmed, stops each running pump', async () => {
    const viewer = await openConsole(browser, station.url, TOKENS.viewer);
    assert.equal(await viewer.locator('#stop-all').getAttribute('aria-disabled'), 'true');
    await viewer.context().close();
    const page = await openConsole(browser, emu.url, '');
    await startFuelling(emu, 2);
    await startFuelling(emu, 5);
    await page.locator('#stop-all').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    for (const n of [2, 5]) {
      await until(`pump ${n} to stop`, async () => !['authorized', 'fuelling'].includes(await tile(page, n).getAttribute('data-state')));
    }
    for (const n of [2, 5]) await stopAndSettle(emu, n, false);
    await page.context().close();
  }],

  ['a closed pump, attendant mode and the emergency stop show; a manager releases the stop', async () => {
    const page = await openConsole(browser, emu.url, '');
    await emu.api('POST', '/pumps/3/close', { reason: 'no_fuel' });
    await emu.api('PUT', '/pumps/6/mode', { mode: 'attendant' });
    await tile(page, 3).locator('.note-line', { hasText: 'Closed: no fuel' }).waitFor();
    await tile(page, 6).locator('.note-line', { hasText: 'Attendant mode' }).waitFor();
    assert.equal(await tile(page, 3).locator('button.authorize').getAttribute('aria-disabled'), 'true');
    await page.locator('#emergency-stop').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    await page.locator('#emergency', { hasText: 'Emergency stop since' }).waitFor();
    await page.locator('#emergency-release').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    await page.locator('#emergency').waitFor({ state: 'hidden' });
    await emu.api('POST', '/pumps/3/open');
    await emu.api('PUT', '/pumps/6/mode', { mode: 'pos' });
    await page.context().close();
  }],

  ['a cut connection is said, and the page catches up without a reload', async () => {
    const page = await openConsole(browser, emu.url, '');
    await page.evaluate(() => { window.sameDocument = true; });
    await emu.api('POST', '/pumps/7/authorize', { nozzle: 1, preset: { volume: 1 } });
    await waitState(page, 7, 'authorized');
    // Events of other pumps may still reach the page before the cut: the reopened
    // stream must start after what the page held, never before.
    const seen = await page.evaluate(() => window.forecourtConsole.state.lastSeq);
    const carried = proxy.requests.length;
    await proxy.cut();
    await page.locator('#connection[data-state="lost"]').waitFor();
    // While the service cannot be reached the tiles say their figures may be old, and act on nothing.
    await page.locator('.tile[data-pump="7"].stale').waitFor();
    assert.equal(await tile(page, 7).locator('button.stop').getAttribute('aria-disabled'), 'true');
    await emu.api('POST', '/pumps/6/authorize', { nozzle: 1, preset: { volume: 1 } });
    await proxy.restore();
    await page.locator('#connection[data-state="live"]').waitFor();
    await waitState(page, 6, 'authorized');
    assert.equal(await page.evaluate(() => window.sameDocument), true);
    const resumedAfter = proxy.requests.slice(carried)
      .map((r) => /^GET \/api\/v1\/events\?after=(\d+) /.exec(r)?.[1]).filter(Boolean).map(Number);
    assert.ok(resumedAfter.length > 0 && resumedAfter.every((n) => n >= seen), proxy.requests.join('\n'));
    for (const n of [6, 7]) {
      await emu.api('POST', `/pumps/${n}/stop`);
      await waitState(page, n, 'idle');
    }
    await page.context().close();
  }],

  // Rows as a Russian cashier meets the page: by keyboard, numbers with a decimal comma.
  ['a value is read as typed: a comma is a decimal, garbage is refused, Enter authorizes', async () => {
    const page = await openConsole(browser, emu.url, '', { language: 'ru' });
    await emu.api('POST', '/emulator/pumps/3/lift', { nozzle: 1 });
    await waitState(page, 3, 'calling');
    await page.locator('#announce', { hasText: 'ТРК 3: вызов' }).waitFor({ state: 'attached' });
    await page.keyboard.press('3');
    await page.keyboard.press('Enter');
    const value = page.locator('#authorize-dialog input[name="value"]');
    await value.pressSequentially('1,5.');
    await value.press('Enter');
    assert.equal(await value.getAttribute('aria-invalid'), 'true');
    await value.fill('');
    await value.pressSequentially('1,5');
    assert.equal(await page.locator('#authorize-echo').textContent(), 'Будет разрешено: 1,50 л');
    await value.press('Enter');
    await waitState(page, 3, 'finished');
    const pump = await pumpOf(emu, 3);
    assert.deepEqual((await emu.api('GET', `/sales/${pump.sale}`)).preset, { volume: 1.5 });
    assert.equal(await tile(page, 3).locator('.preset').textContent(), 'Доза: 1,50 из 1,50 л');
    await stopAndSettle(emu, 3, false);
    await page.context().close();
  }],

  ['prices set for later wait in their list until a manager cancels them', async () => {
    const page = await openConsole(browser, emu.url, '');
    await page.locator('#tab-prices').click();
    await page.locator('#prices-form tr[data-grade="95"] input').fill('3.33');
    await page.locator('#prices-from').fill('2099-01-01T06:00');
    await page.locator('#prices-apply').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    const row = page.locator('#pending-table tr[data-pending]');
    await row.waitFor();
    assert.equal((await emu.api('GET', '/prices')).pending[0].grades[0].price, 3.33);
    await row.locator('button.pending-cancel').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    await page.locator('#pending-none').waitFor();
    assert.deepEqual((await emu.api('GET', '/prices')).pending, []);
    await page.context().close();
  }],

  ['a price typed with a comma goes live only once confirmed; a refusal is said in Russian', async () => {
    const page = await openConsole(browser, station.url, TOKENS.manager, { language: 'ru' });
    await page.locator('#tab-prices').click();
    const input = page.locator('#prices-form tr[data-grade="D"] input');
    await input.pressSequentially('100');
    await input.press('Enter');
    await page.locator('#confirm-dialog button[value="ok"]').click();
    const refusal = await page.locator('#toast[data-kind="error"]').textContent();
    assert.equal(refusal, 'Ошибка: Сервис не принял запрос');
    await input.fill('');
    await input.pressSequentially('62,4');
    await input.press('Enter');
    assert.equal(await page.locator('#confirm-text').textContent(), 'Установить эти цены сейчас? DT: 61,90 → 62,40');
    await page.keyboard.press('Tab');
    await page.keyboard.press('Enter');
    await page.locator('#prices-form tr[data-grade="D"] .price', { hasText: '62,40' }).waitFor();
    assert.equal((await station.api('GET', '/prices')).grades.find((g) => g.grade === 'D').price, 62.4);
    await page.context().close();
  }],

  ['stop every pump with a line silenced names the pump it could not stop and keeps it marked', async () => {
    const page = await openConsole(browser, station.url, TOKENS.pos1, { language: 'ru' });
    for (const n of [1, 6]) await startFuelling(station, n);
    await station.service.silence(2, true);
    await waitState(page, 6, 'offline');
    assert.match(await tile(page, 6).locator('.note-line').textContent(), /последнее известное: Налив/);
    await page.locator('#stop-all').click();
    await page.locator('#confirm-dialog button[value="ok"]').click();
    await page.locator('#toast[data-kind="error"]', { hasText: /Не остановлены: .*ТРК 6 \(/ }).waitFor();
    await page.locator('.tile[data-pump="6"][data-unstopped="true"]').waitFor();
    await page.locator('#alarms li[data-alarm="stop-6"]').waitFor();
    await page.locator('#alarms li[data-alarm="line-2"]').waitFor();
    assert.notEqual(await tile(page, 1).getAttribute('data-unstopped'), 'true');
    await shot(page, 'console-stop-incomplete.png');
    await station.service.silence(2, false);
    await until('pump 6 back', async () => (await pumpOf(station, 6)).state !== 'offline');
    await stopAndSettle(station, 1, false);
    await stopAndSettle(station, 6);
    await page.locator('#alarms li[data-alarm="stop-6"] button.ack').press('Enter');
    await page.locator('#alarms li[data-alarm="stop-6"]').waitFor({ state: 'detached' });
    await page.context().close();
  }],

  ['a tile shows its own sale: stopped mid-fill, at its own price; a new call shows none of it', async () => {
    const page = await openConsole(browser, station.url, TOKENS.pos1, { language: 'ru' });
    await startFuelling(station, 7, { volume: 30 });
    await waitState(page, 7, 'fuelling');
    await page.keyboard.press('7');
    await page.keyboard.press('Enter');
    const { price: old } = await pumpOf(station, 7);
    await apiClient(station.service.port, TOKENS.manager)('PUT', '/prices', { grades: [{ grade: '95', price: old + 2 }] });
    await waitState(page, 7, 'finished');
    const sale = await station.api('GET', `/sales/${(await pumpOf(station, 7)).sale}`);
    const ru = (v) => v.toFixed(2).replace('.', ',');
    assert.equal(await tile(page, 7).locator('.outcome').textContent(), 'остановлен досрочно');
    assert.equal(await tile(page, 7).locator('.preset').textContent(), `Доза: ${ru(sale.volume)} из 30,00 л`);
    assert.match(await tile(page, 7).locator('.meta').textContent(), new RegExp(`Цена ${ru(old)}$`));
    await station.api('POST', '/emulator/pumps/7/hang', { nozzle: 1 });
    await waitState(page, 7, 'idle');
    await station.api('POST', '/emulator/pumps/7/lift', { nozzle: 1 });
    await waitState(page, 7, 'calling');
    assert.deepEqual(await tile(page, 7).locator('output').allTextContents(), ['—', '—']);
    await station.api('POST', '/emulator/pumps/7/hang', { nozzle: 1 });
    await station.api('POST', `/sales/${sale.id}/lock`);
    await station.api('POST', `/sales/${sale.id}/clear`);
    await page.context().close();
  }],

  ['a refused token is said as such, not as a lost connection', async () => {
    const page = await openConsole(browser, station.url, 'not-a-token', { language: 'ru', live: false });
    await page.locator('#connection[data-state="refused"]', { hasText: 'Токен не принят: введите другой' }).waitFor();
    await new Promise((r) => setTimeout(r, 1000));
    assert.equal(await page.locator('#connection').getAttribute('data-state'), 'refused');
    await page.context().close();
  }],

  ['a second tab of the same cashier holds its lock and clears it; focus goes back to the tile', async () => {
    const sale = await saleOn(station, 8);
    const [first, second] = await Promise.all([1, 2].map(() => openConsole(browser, station.url, TOKENS.pos1, { language: 'ru' })));
    await first.locator(`li[data-sale="${sale.id}"] button.lock`).press('Enter');
    const row = second.locator(`li[data-sale="${sale.id}"][data-state="locked"]`);
    assert.equal(await row.locator('.lock-state').textContent(), 'взята вами');
    await row.locator('button.clear').press('Enter');
    await row.waitFor({ state: 'detached' });
    assert.equal(await second.evaluate(() => document.activeElement.dataset.pump), '8');
    await Promise.all([first, second].map((p) => p.context().close()));
  }],

  ['the sales view asks for the local day and follows midnight', async () => {
    const now = new Date();
    const late = new Date(now.getFullYear(), now.getMonth(), now.getDate(), 23, 59, 40);
    const page = await openConsole(browser, emu.url, '', { language: 'ru', clock: late });
    const asked = [];
    page.on('request', (r) => asked.push(new URL(r.url()).searchParams.get('from')));
    await page.locator('#tab-sales').click();
    const tomorrow = new Date(late.getFullYear(), late.getMonth(), late.getDate() + 1);
    await until('the first day asked', () => asked.includes(new Date(late.getFullYear(), late.getMonth(), late.getDate()).toISOString()));
    await page.clock.fastForward('01:00');
    await until('the next day asked', () => asked.includes(tomorrow.toISOString()));
    assert.equal(await page.locator('#sales-filters input[name="day"]').inputValue(),
      `${tomorrow.getFullYear()}-${String(tomorrow.getMonth() + 1).padStart(2, '0')}-${String(tomorrow.getDate()).padStart(2, '0')}`);
    await page.context().close();
  }],

  ['the log keeps state changes, not volume ticks, and filters by pump', async () => {
    const page = await openConsole(browser, emu.url, '', { language: 'ru' });
    await emu.api('POST', '/pumps/4/authorize', { nozzle: 1, preset: { volume: 3 } });
    await emu.api('POST', '/emulator/pumps/4/lift', { nozzle: 1 });
    await waitState(page, 4, 'finished');
    await page.locator('#tab-log').click();
    await page.locator('#log-pump').selectOption('4');
    const rows = await page.locator('#log-table tbody tr').allTextContents();
    assert.ok(rows.length >= 3 && rows.length <= 8 && rows.every((r) => /ТРК 4/.test(r)), rows.join('\n'));
    await stopAndSettle(emu, 4, false);
    await page.context().close();
  }],

  ['every view has no serious or critical accessibility finding', async () => {
    const page = await openConsole(browser, station.url, TOKENS.pos1, { language: 'ru' });
    await page.addScriptTag({ path: path.join(repo, 'tests/forecourt/browser/node_modules/axe-core/axe.min.js') });
    const findings = [];
    const check = async (view) => {
      const { violations } = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
      for (const v of violations) if (['serious', 'critical'].includes(v.impact)) findings.push(`${view}: ${v.id} ${v.nodes.map((n) => n.target).join(' ')}`);
    };
    await station.api('POST', '/emulator/pumps/2/lift', { nozzle: 1 });
    await waitState(page, 2, 'calling');
    for (const tab of ['forecourt', 'sales', 'prices', 'lines', 'log', 'shifts']) {
      await page.locator(`#tab-${tab}`).click();
      await check(tab);
    }
    await page.keyboard.press('2');
    await page.keyboard.press('Enter');
    await check('authorize');
    await page.keyboard.press('Escape');
    await station.api('POST', '/emulator/pumps/2/hang', { nozzle: 1 });
    assert.deepEqual(findings, []);
    await page.context().close();
  }],

  ['every call authorized at once, confirmed; a tile reads its totalizers; the sound choice is kept', async () => {
    const page = await openConsole(browser, emu.url, '', { language: 'ru' });
    for (const n of [4, 8]) await emu.api('POST', `/emulator/pumps/${n}/lift`, { nozzle: 1 });
    for (const n of [4, 8]) await waitState(page, n, 'calling');
    await page.locator('#authorize-all').click();
    assert.equal(await page.locator('#confirm-text').textContent(), 'Разрешить налив до полного бака ТРК 4, 8?');
    await page.locator('#confirm-dialog button[value="ok"]').click();
    await page.locator('#toast', { hasText: 'Разрешены ТРК 4, 8' }).waitFor();
    for (const n of [4, 8]) await stopAndSettle(emu, n);
    await tile(page, 8).locator('button.read-totals').click();
    await tile(page, 8).locator('.totals', { hasText: 'Пистолет 1 · Unleaded 95' }).waitFor();
    await page.locator('#sound').check();
    await page.reload();
    assert.equal(await page.locator('#sound').isChecked(), true);
    await page.context().close();
  }],
  ['a shift opened and closed on the page shows its report and saves its CSV, fetched with the token', async () => {
    const page = await openConsole(browser, station.url, TOKENS.pos1);
    await page.locator('#tab-shifts').click();
    for (const step of ['#shift-open', '#shift-close']) {
      await page.locator(step).click();
      await page.locator('#confirm-dialog button[value="ok"]').click();
    }
    await page.locator('#shift-report:not([hidden])').waitFor();
    assert.equal(await page.locator('#shift-nozzles tbody tr').count(), 16);
    await shot(page, 'console-shift.png');
    const [download] = await Promise.all([page.waitForEvent('download'), page.locator('#shift-csv').click()]);
    const csv = fs.readFileSync(await download.path(), 'utf8').trim().split('\r\n');
    assert.match(csv[0], /^pump,nozzle,grade,sales,volume,amount,/);
    assert.equal(csv.length, 17);
    assert.deepEqual(page.errors, []);
    await page.context().close();
  }],
];

before(async () => {
  fs.mkdirSync(path.join(repo, 'docs'), { recursive: true });
  emu.service = await startService('emulator');
  station.service = await startService('station');
  browser = await launchBrowser();
  emu.api = apiClient(emu.service.port, '');
  station.api = apiClient(station.service.port, TOKENS.pos1);
  proxy = new Proxy(emu.service.port);
  emu.url = `http://127.0.0.1:${await proxy.listen()}/`;
  station.url = `http://127.0.0.1:${station.service.port}/`;
}, { timeout: 60000 });

after(async () => {
  await browser?.close();
  await proxy?.cut().catch(() => {});
  await Promise.all([emu.service?.stop(), station.service?.stop()]);
});

for (const [name, run] of scenarios) test(name, { timeout: 60000 }, run);
