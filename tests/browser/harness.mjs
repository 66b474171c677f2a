// Shared setup for the window tests: starts the real program in demonstration
// mode, launches Debian's Chromium through playwright-core with a fresh
// profile, and records every console error, page error and CSP violation so
// that a test can fail on them.
import {spawn} from 'node:child_process';
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
  const env = {...process.env};
  delete env.QUILLMOOR_TEST_XSS;
  Object.assign(env, extraEnv);
  const child = spawn(exePath, ['--demo', 'serve', '--no-browser', '--port', '0'], {env, stdio: ['ignore', 'pipe', 'pipe']});
  const exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({code, signal})));
  let out = '';
  let err = '';
  child.stderr.on('data', (d) => { err += d; });
  const link = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no link within 10 s\nstdout: ${out}\nstderr: ${err}`)), 10000);
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
export async function openWindow(page, link) {
  const started = Date.now();
  await page.goto(link, {waitUntil: 'commit'});
  await page.locator('#startup-table tr.item').first().waitFor({timeout: 10000});
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
