// What every browser test needs: the service on the emulator on a free port, behind a proxy
// the test can cut, and Debian's Chromium driven by Playwright (never a downloaded browser).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';

const here = path.dirname(new URL(import.meta.url).pathname);
export const repo = path.resolve(here, '../../..');
export const TOKENS = { pos1: 'pos-one-secret-0123', pos2: 'pos-two-secret-0123', viewer: 'viewer-secret-0123', manager: 'manager-secret-0123' };

export function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
    server.on('error', reject);
  });
}

export async function until(what, check, timeoutMs = 20000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// A TCP proxy between the browser and the service: cut() drops every connection and refuses
// new ones, restore() lets them through again. It remembers each request line it carried.
export class Proxy {
  constructor(targetPort) {
    this.targetPort = targetPort;
    this.sockets = new Set();
    this.requests = [];
  }

  async listen(port) {
    this.port = port ?? await freePort();
    this.server = net.createServer((client) => {
      const upstream = net.connect(this.targetPort, '127.0.0.1');
      this.sockets.add(client).add(upstream);
      client.once('data', (chunk) => this.requests.push(chunk.toString('latin1').split('\r\n')[0]));
      client.pipe(upstream).pipe(client);
      const drop = () => { client.destroy(); upstream.destroy(); this.sockets.delete(client); this.sockets.delete(upstream); };
      client.on('error', drop).on('close', drop);
      upstream.on('error', drop).on('close', drop);
    });
    await new Promise((resolve) => this.server.listen(this.port, '127.0.0.1', resolve));
    return this.port;
  }

  async cut() {
    const closed = new Promise((resolve) => this.server.close(resolve));
    for (const socket of this.sockets) socket.destroy();
    this.sockets.clear();
    await closed;
  }

  restore() { return this.listen(this.port); }
}

const bin = (name, dir) => path.join(repo, 'build', dir, name);
const FLOW = '2';        // litres per second: a 1.5 L filling takes under a second
const POLL_MS = '30';

function spawnReading(file, args, cwd) {
  const child = spawn(file, args, { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
  child.output = '';
  child.stdout.on('data', (d) => { child.output += d; });
  child.stderr.on('data', (d) => { child.output += d; });
  child.exited = new Promise((resolve) => child.on('exit', resolve));
  return child;
}

// One dorv-emulator line on a pty, told from outside through its control socket.
async function startEmulator(dir, flow) {
  const child = spawnReading(process.env.DORV_EMULATOR ?? bin('dorv-emulator', 'emulator'),
    ['--pty', '--control', '127.0.0.1:0', '--baud', '0', '--flow', flow], dir);
  const field = (name) => child.output.match(new RegExp(`^${name} (\\S+)$`, 'm'))?.[1];
  await until('the emulator to start', () => {
    if (child.exitCode !== null) throw new Error(`dorv-emulator exited:\n${child.output}`);
    return field('pty') && field('control');
  });
  return { child, pty: field('pty'), control: field('control') };
}

export function emulatorCommand(control, command) {
  const [host, port] = [control.slice(0, control.lastIndexOf(':')), Number(control.slice(control.lastIndexOf(':') + 1))];
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, host, () => socket.write(`${command}\n`));
    let answer = '';
    socket.on('data', (d) => {
      answer += d;
      if (answer.includes('\n')) { socket.end(); resolve(answer.trim()); }
    });
    socket.on('error', reject);
  });
}

function stationConfig(dir, lines, tokens, lineTimeoutMs) {
  const toml = [`station = "browser"\ndatabase = "${dir}/sales.db"\nunpaid_limit = 3\npoll_interval_ms = ${POLL_MS}\nline_timeout_ms = ${lineTimeoutMs}`,
    '[[grades]]\nid = "95"\nname = "AI-95"\nprice = 54.3', '[[grades]]\nid = "D"\nname = "DT"\nprice = 61.9'];
  lines.forEach((line, i) => {
    toml.push(`[[lines]]\nline = ${i + 1}\ndevice = "${line.pty}"\nemulator = "${line.control}"`);
    for (let c = 0; c < 4; ++c) {
      toml.push(`[[pumps]]\npump = ${i * 4 + c + 1}\nline = ${i + 1}\ncolumn = ${1 + 2 * c}\n`
        + 'nozzles = [{ nozzle = 1, grade = "95" }, { nozzle = 2, grade = "D" }]');
    }
  });
  for (const [name, role] of tokens ? [['pos1', 'pos'], ['pos2', 'pos'], ['viewer', 'viewer'], ['manager', 'manager']] : []) {
    toml.push(`[[tokens]]\nname = "${name}"\ntoken = "${TOKENS[name]}"\nrole = "${role}"`);
  }
  fs.writeFileSync(path.join(dir, 'station.toml'), `${toml.join('\n')}\n`);
  return path.join(dir, 'station.toml');
}

// The service on a free port with its own database. 'emulator': `dorv-forecourt --emulator`,
// every role granted on loopback, the customer panel shown. 'station': dorv-emulator lines of
// our own (so a test can silence one) and, unless told otherwise, the test tokens.
export async function startService(kind = 'emulator', { lines: count = 2, tokens = true, flow = FLOW, lineTimeoutMs = 100 } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'forecourt-browser-'));
  const children = [];
  const stop = async () => {
    for (const c of children.reverse()) {
      if (c.exitCode === null) c.kill('SIGTERM');
      await c.exited;
    }
    fs.rmSync(dir, { recursive: true, force: true });
  };
  try {
    const port = await freePort();
    const lines = [];
    for (let i = 0; kind === 'station' && i < count; ++i) {
      lines.push(await startEmulator(dir, flow));
      children.push(lines[i].child);
    }
    const args = kind === 'station' ? ['--config', stationConfig(dir, lines, tokens, lineTimeoutMs)]
      : ['--emulator', '--emulator-flow', flow, '--poll-ms', POLL_MS, '--database', path.join(dir, 'sales.db')];
    const child = spawnReading(process.env.FORECOURT_BIN ?? bin('dorv-forecourt', 'forecourt'),
      [...args, '--listen', `127.0.0.1:${port}`], dir);
    children.push(child);
    await until('the service to answer with every line', async () => {
      if (child.exitCode !== null) throw new Error(`dorv-forecourt exited ${child.exitCode}:\n${child.output}`);
      const health = await fetch(`http://127.0.0.1:${port}/healthz`).then((r) => r.json(), () => null);
      return health?.lines_online === count;
    }, 60000);
    return {
      port,
      output: () => child.output,
      silence: (line, silent) => emulatorCommand(lines[line - 1].control, silent ? 'fault silence 0' : 'clear-faults'),
      stop,
    };
  } catch (error) {
    await stop();
    throw error;
  }
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The API as a POS or a manager would call it, straight to the service (not through the proxy);
// no token on the emulator service, where loopback grants every role.
export function apiClient(port, token) {
  return async (method, route, body) => {
    const response = await fetch(`http://127.0.0.1:${port}/api/v1${route}`, {
      method,
      headers: { ...(token ? { Authorization: `Bearer ${token}` } : {}), 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const json = await response.json().catch(() => null);
    if (!response.ok) throw new Error(`${method} ${route}: ${response.status} ${JSON.stringify(json)}`);
    return json;
  };
}

// A browser context of its own (its own session storage), signed in with a token.
export async function openConsole(browser, url, token, { viewport = { width: 1280, height: 800 }, language = 'en', live = true, clock } = {}) {
  const context = await browser.newContext({ viewport, locale: language === 'ru' ? 'ru-RU' : 'en-GB' });
  if (clock) await context.clock.install({ time: clock });
  await context.addInitScript(([t, lang]) => {
    if (t && !sessionStorage.getItem('dorv-forecourt-token')) sessionStorage.setItem('dorv-forecourt-token', t);
    if (!localStorage.getItem('dorv-forecourt-language')) localStorage.setItem('dorv-forecourt-language', lang);
  }, [token, language]);
  context.setDefaultTimeout(15000);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.errors = errors;
  await page.goto(url);
  if (!live) return page;
  await page.locator('#connection[data-state="live"]').waitFor();
  await page.locator('.tile[data-pump="1"]').waitFor();
  return page;
}
