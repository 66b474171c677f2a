// Shared setup for the window tests: starts the real program in demonstration
// mode, launches Debian's Chromium through playwright-core with a fresh
// profile, and records every console error, page error and CSP violation so
// that a test can fail on them. For the Windows build: a fresh Wine prefix
// with its registry readable through `wine reg`.
import {spawn, spawnSync} from 'node:child_process';
import {accessSync, closeSync, constants as fsConstants, existsSync, openSync, readFileSync, rmSync} from 'node:fs';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';
import {chromium} from 'playwright-core';

export const repoRoot = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const exePath = path.resolve(repoRoot, process.env.QUILLMOOR_EXE || 'build/native/quillmoor');
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
const chromiumArgs = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

const linkPattern = /http:\/\/127\.0\.0\.1:\d+\/#k=[0-9a-f]{64}/;

// Starts `quillmoor --demo serve` and resolves once it has printed its link.
export async function startServer(extraEnv = {}) {
  return startServerWith(exePath, ['--demo', 'serve', '--no-browser', '--port', '0'], {env: extraEnv});
}

// Starts `command args` (a program that serves the window, such as the
// Windows build under wine) and resolves once it has printed its link, or
// fails after `timeoutMs`.
export async function startServerWith(command, args, {env: extraEnv = {}, timeoutMs = 10000} = {}) {
  const env = {...process.env};
  delete env.QUILLMOOR_TEST_XSS;
  Object.assign(env, extraEnv);
  const child = spawn(command, args, {env, stdio: ['ignore', 'pipe', 'pipe']});
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({code, signal})));
  let out = '';
  let err = '';
  child.stderr.on('data', (d) => { err += d; });
  const link = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no link within ${timeoutMs / 1000} s\nstdout: ${out}\nstderr: ${err}`)), timeoutMs);
    child.stdout.on('data', (d) => {
      out += d;
      const m = linkPattern.exec(out);
      if (m) { clearTimeout(timer); resolve(m[0]); }
    });
    child.on('error', (e) => { clearTimeout(timer); reject(e); });
    exited.then(({code}) => { clearTimeout(timer); reject(new Error(`quillmoor ended (${code}) before printing a link\nstdout: ${out}\nstderr: ${err}`)); });
  });
  return {
    child, link, exited,
    origin: new URL(link).origin,
    stdout: () => out,
    stderr: () => err,
    async stop() {
      if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
      await exited;
    },
  };
}

// One Chromium with a fresh profile folder; the problems list collects what
// must never happen on the page.
export async function openBrowser() {
  const profile = await fs.mkdtemp(path.join(os.tmpdir(), 'quillmoor-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: chromiumPath, headless: true, args: chromiumArgs, viewport: {width: 1280, height: 800}, acceptDownloads: true,
  });
  await context.addInitScript(() => {
    window.__csp = [];
    document.addEventListener('securitypolicyviolation', (e) => window.__csp.push(e.violatedDirective + ' ' + e.blockedURI));
  });
  return {
    context,
    async close() {
      await context.close();
      await fs.rm(profile, {recursive: true, force: true});
    },
  };
}

// Watches one page. Messages matching `allowed` (expected failures such as
// the refused second use of the link) are not counted.
export function watch(page, label, allowed = []) {
  const problems = [];
  page.on('console', (m) => {
    const text = m.text();
    const bad = m.type() === 'error' || /Refused to|Content Security Policy/i.test(text);
    if (bad && !allowed.some((re) => re.test(text))) problems.push(`${label}: console ${m.type()}: ${text}`);
  });
  page.on('pageerror', (e) => problems.push(`${label}: page error: ${e.message}`));
  return {
    problems,
    async cspViolations() {
      try { return await page.evaluate(() => window.__csp || []); } catch { return []; }
    },
  };
}

export async function newPage(browser, label, allowed) {
  const page = await browser.context.newPage();
  const watcher = watch(page, label, allowed);
  return {page, watcher};
}

// Opens the one-time link and waits until the start-up list shows rows.
export async function openWindow(page, link, timeout = 10000) {
  const started = Date.now();
  await page.goto(link, {waitUntil: 'commit'});
  await page.locator('#startup-table tr.item').first().waitFor({timeout});
  return Date.now() - started;
}

export async function screenshotFolder() {
  const dir = process.env.QUILLMOOR_SCREENSHOTS || await fs.mkdtemp(path.join(os.tmpdir(), 'quillmoor-screens-'));
  await fs.mkdir(dir, {recursive: true});
  return dir;
}

// The row of the start-up list whose name is exactly `name`.
export function itemRow(page, name) {
  return page.locator('#startup-table tr.item').filter({has: page.locator('.namebtn', {hasText: new RegExp('^' + name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&') + '$')})});
}

// The first folder on PATH that holds an executable `name`, or null.
export function onPath(name) {
  for (const dir of (process.env.PATH || '').split(path.delimiter)) {
    if (!dir) continue;
    const candidate = path.join(dir, name);
    try { accessSync(candidate, fsConstants.X_OK); return candidate; } catch { /* not here */ }
  }
  return null;
}

// Why the Windows build cannot be tested here, or null when it can: it needs
// QUILLMOOR_WINDOWS_EXE naming quillmoor.exe and wine on PATH.
export function windowsSkipReason() {
  const exe = process.env.QUILLMOOR_WINDOWS_EXE;
  if (!exe) return 'QUILLMOOR_WINDOWS_EXE is not set (it names the quillmoor.exe to test under wine)';
  if (!existsSync(exe)) return `QUILLMOOR_WINDOWS_EXE names ${exe}, which does not exist`;
  if (!onPath('wine') || !onPath('wineserver')) return 'wine is not on PATH';
  return null;
}

// A fresh Wine prefix in a new folder under /tmp, with its server kept
// running until close(). No Wine program started here has its output read
// through a pipe that is waited on, except the short `reg` runs once the
// prefix's services are up: services that Wine starts inherit the streams
// of the program that caused them and hold them open for good.
export async function createWinePrefix() {
  const folder = await fs.mkdtemp(path.join(os.tmpdir(), 'quillmoor-wine-window-'));
  const env = {...process.env, WINEPREFIX: folder, WINEDEBUG: '-all', WINEDLLOVERRIDES: 'mscoree,mshtml=;winemenubuilder.exe=d'};
  const quiet = (command, args, timeout) => spawnSync(command, args, {env, stdio: 'ignore', timeout});
  // The server is made persistent before the prefix exists, so the services
  // the prefix starts outlive its creation. The prefix is made by its first
  // program: "wineboot -i" in an empty prefix leaves two service managers.
  quiet('wineserver', ['-p'], 30000);
  const made = quiet('wine', ['cmd', '/c', 'exit'], 180000);
  if (made.status !== 0) {
    quiet('wineserver', ['-k'], 30000);
    await fs.rm(folder, {recursive: true, force: true});
    throw new Error(`the Wine prefix could not be created (wine cmd ended with ${made.status ?? made.signal ?? made.error})`);
  }
  // A crash prints its backtrace and ends the program; no dialog waits.
  quiet('wine', ['reg', 'add', 'HKCU\\Software\\Wine\\WineDbg', '/v', 'ShowCrashDialog', '/t', 'REG_DWORD', '/d', '0', '/f'], 60000);
  // Wine's desktop process, which Windows always has running, started here
  // without any stream of ours and kept alive by a command prompt that stays
  // open (Wine ends the desktop process once no program uses the desktop).
  // Otherwise the first program of the test that needs a desktop starts it
  // and hands it that program's error stream, and whoever reads that stream
  // to its end waits for good. The prompt's own output goes to a file.
  const shellOutput = path.join(folder, 'desktop-keeper.txt');
  const outFd = openSync(shellOutput, 'w');
  const shell = spawn('wine', ['cmd'], {env, stdio: ['pipe', outFd, outFd]});
  closeSync(outFd);
  shell.on('error', () => {});
  shell.stdin.on('error', () => {});
  shell.stdin.write('schtasks /query <nul >nul 2>nul & echo desktop-ready\r\n');
  const readyBy = Date.now() + 60000;
  while (!/(?<!echo )desktop-ready\r?\n/.test(readFileSync(shellOutput, 'utf8'))) {
    if (Date.now() > readyBy || shell.exitCode !== null) {
      shell.stdin.destroy();
      quiet('wineserver', ['-k'], 30000);
      await fs.rm(folder, {recursive: true, force: true});
      throw new Error('Wine\'s desktop process did not start within 60 s');
    }
    await new Promise((r) => setTimeout(r, 100));
  }

  // Runs `wine reg ARGS`; gives its exit code and output.
  const reg = (...args) => {
    const run = spawnSync('wine', ['reg', ...args], {env, encoding: 'utf8', timeout: 60000, stdio: ['ignore', 'pipe', 'pipe']});
    return {status: run.status, out: run.stdout || '', err: run.stderr || ''};
  };
  return {
    folder, env, reg,
    // The values of `key` (and with `/s` of its sub-keys) as
    // {key path: {value name: {type, data}}}; {} when the key is missing.
    query(key, ...more) {
      const run = reg('query', key, ...more);
      if (run.status !== 0) return {};
      const keys = {};
      let current = null;
      for (const line of run.out.split(/\r?\n/)) {
        if (/^HKEY_/.test(line)) { current = keys[line.trim()] = {}; continue; }
        const m = /^ {4}(.*?) {4}(REG_[A-Z_]+)(?: {4}(.*))?$/.exec(line);
        if (m && current) current[m[1]] = {type: m[2], data: m[3] ?? ''};
      }
      return keys;
    },
    // One value as {type, data}, or null when it is not there.
    value(key, name) {
      const found = Object.values(this.query(key, '/v', name));
      return found.length && found[0][name] ? found[0][name] : null;
    },
    close() {
      shell.stdin.destroy();
      quiet('wineserver', ['-k'], 30000);
      rmSync(folder, {recursive: true, force: true});
    },
  };
}
