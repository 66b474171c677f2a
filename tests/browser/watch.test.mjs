// The window's switch "Watch for changes" against the real program on a
// Linux root of the test's own: while it is on, a file another program puts
// into an autostart folder shows in the Startup list by itself.
import {test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import {exePath, startServerWith, openBrowser, newPage, openWindow, itemRow} from './harness.mjs';

let browser;
before(async () => { browser = await openBrowser(); });
after(async () => { if (browser) await browser.close(); });

test('with Watch for changes on, an autostart file added by another program appears in the list', async (t) => {
  const root = await fs.mkdtemp(path.join(os.tmpdir(), 'quillmoor-watch-root-'));
  const autostart = path.join(root, 'etc/xdg/autostart');
  await fs.mkdir(autostart, {recursive: true});
  await fs.writeFile(path.join(autostart, 'first.desktop'), '[Desktop Entry]\nName=First\nExec=first\n');
  const server = await startServerWith(exePath, ['serve', '--no-browser', '--port', '0'],
    {env: {QUILLMOOR_LINUX_ROOT: root, XDG_DATA_HOME: ''}});
  const {page, watcher} = await newPage(browser, 'tab');
  t.after(async () => {
    await page.close().catch(() => {});
    await server.stop();
    await fs.rm(root, {recursive: true, force: true});
  });
  await openWindow(page, server.link);
  const sw = page.getByRole('switch', {name: 'Watch for changes'});
  await sw.click();
  assert.equal(await sw.getAttribute('aria-checked'), 'true');
  // The first answer comes once the program's watch has read the computer.
  await page.locator('#watch-switch[title^="Watching "]').waitFor();

  await fs.writeFile(path.join(autostart, 'newcomer.desktop'), '[Desktop Entry]\nName=Newcomer\nExec=newcomer\n');
  await itemRow(page, 'Newcomer').waitFor({timeout: 5000});

  await sw.click();
  assert.equal(await sw.getAttribute('aria-checked'), 'false');
  assert.deepEqual(watcher.problems, [], 'console or page errors');
  assert.deepEqual(await watcher.cspViolations(), [], 'CSP violations');
});
