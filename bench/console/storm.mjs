// The console under a storm: 39 lines x 4 pumps fuelling at once, events at the poll rate.
// Reports the time the page spends per event batch (median, 95th percentile, from the
// browser's performance timeline) and checks that, after the storm, every tile shows what
// GET /pumps says. A figure, not a test: run it with scripts/bench-console.sh.
import { startService, launchBrowser, apiClient, until } from '../../tests/forecourt/browser/harness.mjs';

const LINES = Number(process.env.LINES ?? 39);
const LITRES = Number(process.env.LITRES ?? 20);
const FLOW = process.env.FLOW ?? '1';

const quantile = (sorted, q) => sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];

const service = await startService('station', { lines: LINES, tokens: false, flow: FLOW, lineTimeoutMs: 1000 });
const browser = await launchBrowser();
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => Promise.all([browser.close(), service.stop()]).finally(() => process.exit(130)));
}
try {
  const api = apiClient(service.port, '');
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 }, locale: 'en-GB' });
  await context.addInitScript(() => localStorage.setItem('dorv-forecourt-language', 'en'));
  const page = await context.newPage();
  await page.goto(`http://127.0.0.1:${service.port}/?timing=1`);
  await page.locator('#connection[data-state="live"]').waitFor();
  const { pumps } = await api('GET', '/pumps');
  await page.locator(`.tile[data-pump="${pumps.at(-1).pump}"]`).waitFor();
  await page.evaluate(() => performance.clearMeasures());

  const started = Date.now();
  await Promise.all(pumps.map(async ({ pump }) => {
    await api('POST', `/pumps/${pump}/authorize`, { nozzle: 1, preset: { volume: LITRES } });
    await api('POST', `/emulator/pumps/${pump}/lift`, { nozzle: 1 });
  }));
  // Over when every filling has ended and become a sale.
  await until('every filling to end', async () => {
    const now = await api('GET', '/pumps');
    const { sales } = await api('GET', '/sales?limit=1000');
    return sales.length >= pumps.length && now.pumps.every((p) => !['authorized', 'fuelling', 'stopped'].includes(p.state));
  }, 600000);
  const seconds = (Date.now() - started) / 1000;
  // The page has had the last events when the same picture shows on it as on the API.
  const truth = (await api('GET', '/pumps')).pumps;
  const expected = truth.map((p) => `${p.pump}:${p.state}:${p.volume.toFixed(2)}`);
  const shown = async () => page.$$eval('.tile', (tiles) => tiles.map((t) =>
    `${t.dataset.pump}:${t.dataset.state}:${t.querySelector('output.volume').textContent}`));
  let mismatch = [];
  await until('the page to equal GET /pumps', async () => {
    const seen = await shown();
    mismatch = expected.filter((e, i) => seen[i] !== e);
    return mismatch.length === 0;
  }, 30000).catch(() => {});
  const metrics = await fetch(`http://127.0.0.1:${service.port}/metrics`).then((r) => r.text());
  const clients = metrics.split('\n').filter((l) => /client/.test(l) && !l.startsWith('#'));

  const batches = await page.evaluate(() => performance.getEntriesByName('console-batch')
    .map((m) => ({ ms: m.duration, events: m.detail })));
  const times = batches.map((b) => b.ms).sort((a, b) => a - b);
  const events = batches.reduce((n, b) => n + b.events, 0);
  console.log(`pumps ${pumps.length} on ${LINES} lines, ${LITRES} L each at ${FLOW} L/s: storm ${seconds.toFixed(1)} s`);
  console.log(`events ${events} in ${batches.length} batches (${(events / seconds).toFixed(0)} events/s)`);
  console.log(`time per batch: median ${quantile(times, 0.5).toFixed(2)} ms, p95 ${quantile(times, 0.95).toFixed(2)} ms, `
    + `max ${times.at(-1).toFixed(2)} ms; events per batch: median ${quantile(batches.map((b) => b.events).sort((a, b) => a - b), 0.5)}`);
  console.log(mismatch.length ? `page differs from GET /pumps on ${mismatch.length} pumps: ${mismatch.slice(0, 5).join(' ')}`
    : `page equals GET /pumps on all ${pumps.length} pumps`);
  if (mismatch.length) {
    console.log(`the page shows: ${(await shown()).slice(0, 5).join(' ')}; connection: ${await page.locator('#connection').textContent()}`);
    console.log(`service: ${clients.join(', ')}`);
  }
  process.exitCode = mismatch.length ? 1 : 0;
} finally {
  await browser.close();
  await service.stop();
}
