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
export const TOKENS = { pos1: 'pos-one-secret', pos2: 'pos-two-secret', viewer: 'viewer-secret', manager: 'manager-secret' };

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

function tokenConfig(dir) {
  const file = path.join(dir, 'tokens.toml');
  const rows = [['pos1', 'pos'], ['pos2', 'pos'], ['viewer', 'viewer'], ['manager', 'manager']]
    .map(([name, role]) => `[[tokens]]\nname = "${name}"\ntoken = "${TOKENS[name]}"\nrole = "${role}"\n`);
  fs.writeFileSync(file, rows.join('\n'));
  return file;
}

// The service on the emulator, on a free port, with its own database and the test tokens.
export async function startService() {
  if (process.env.FORECOURT_URL) return { port: Number(new URL(process.env.FORECOURT_URL).port), stop: async () => {} };
  const bin = process.env.FORECOURT_BIN ?? path.join(repo, 'build/forecourt/dorv-forecourt');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'forecourt-browser-'));
  const port = await freePort();
  const args = ['--emulator', '--listen', `127.0.0.1:${port}`, '--database', path.join(dir, 'sales.db'),
    '--config', tokenConfig(dir)];
  const child = spawn(bin, args, { cwd: dir, stdio: ['ignore', 'pipe', 'pipe'] });
  let output = '';
  child.stdout.on('data', (d) => { output += d; });
  child.stderr.on('data', (d) => { output += d; });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  await until('the service to answer', async () => {
    if (child.exitCode !== null) throw new Error(`dorv-forecourt exited ${child.exitCode}:\n${output}`);
    return fetch(`http://127.0.0.1:${port}/healthz`).then((r) => r.ok, () => false);
  }, 30000);
  return {
    port,
    output: () => output,
    stop: async () => {
      child.kill('SIGTERM');
      await exited;
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
}

// The API as a POS or a manager would call it, straight to the service (not through the proxy).
export function apiClient(port, token) {
  return async (method, route, body) => {
    const response = await fetch(`http://127.0.0.1:${port}/api/v1${route}`, {
      method,
      headers: { Authorization: `Bearer ${token}`, 'Content-Type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const json = await response.json().catch(() => null);
    if (!response.ok) throw new Error(`${method} ${route}: ${response.status} ${JSON.stringify(json)}`);
    return json;
  };
}

// A browser context of its own (its own session storage), signed in with a token.
export async function openConsole(browser, url, token, { viewport = { width: 1280, height: 800 }, language = 'en' } = {}) {
  const context = await browser.newContext({ viewport, locale: language === 'ru' ? 'ru-RU' : 'en-GB' });
  await context.addInitScript(([t, lang]) => {
    if (!sessionStorage.getItem('dorv-forecourt-token')) sessionStorage.setItem('dorv-forecourt-token', t);
    if (!localStorage.getItem('dorv-forecourt-language')) localStorage.setItem('dorv-forecourt-language', lang);
  }, [token, language]);
  context.setDefaultTimeout(15000);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  page.errors = errors;
  await page.goto(url);
  await page.locator('#connection[data-state="live"]').waitFor();
  await page.locator('.tile[data-pump="1"]').waitFor();
  return page;
}
