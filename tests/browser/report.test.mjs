// The page `quillmoor report DIR --html FILE` writes, opened from its file in
// Chromium in both themes: the table with its level badges, the chart, the
// theme button, names with markup shown as text, and nothing refused or failed.
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {spawnSync} from 'node:child_process';
import fs from 'node:fs/promises';
import os from 'node:os';
import path from 'node:path';
import {pathToFileURL} from 'node:url';
import {exePath, newPage, openBrowser} from './harness.mjs';

const markup = '<img src=x onerror="window.__owned=1"><b>Bold</b> & co';

// Three computers: Spotify on all, an updater on one of three, the name with markup on two.
function lists() {
  const item = (kind, name, enabled, level) => ({id: `${kind}|machine|here|${name}`, name, kind, enabled, risk: {level}, impact: {level: 'not measured'}});
  return {
    pc1: [item('run', 'Spotify', true, 'safe'), item('service', 'Updater', true, 'low'), item('run', markup, true, 'caution')],
    pc2: [item('run', 'Spotify', true, 'safe'), item('service', 'Updater', false, 'low'), item('run', markup, true, 'high')],
    pc3: [item('run', 'Spotify', true, 'safe'), item('service', 'Updater', false, 'low')],
  };
}

test('the report page shows the table and chart as text in both themes', async () => {
  const folder = await fs.mkdtemp(path.join(os.tmpdir(), 'quillmoor-report-'));
  const browser = await openBrowser();
  try {
    const dir = path.join(folder, 'lists');
    await fs.mkdir(dir);
    for (const [name, items] of Object.entries(lists())) await fs.writeFile(path.join(dir, `${name}.json`), JSON.stringify(items));
    const page = path.join(folder, 'report.html');
    const run = spawnSync(exePath, ['report', dir, '--html', page], {encoding: 'utf8'});
    assert.equal(run.status, 0, run.stderr);

    for (const scheme of ['light', 'dark']) {
      const {page: tab, watcher} = await newPage(browser, scheme);
      await tab.emulateMedia({colorScheme: scheme});
      await tab.goto(pathToFileURL(page).href);
      const theme = () => tab.evaluate(() => document.documentElement.dataset.theme);
      assert.equal(await theme(), scheme);

      const rows = tab.locator('#report-table tbody tr.item');
      assert.equal(await rows.count(), 3);
      const first = await rows.first().locator('td').allTextContents();
      assert.deepEqual(first.slice(0, 4), ['3', '3', '0', '0']);
      assert.equal(await rows.nth(2).locator('.nm').textContent(), markup);
      assert.deepEqual(await rows.nth(2).locator('.badge').evaluateAll((b) => b.map((e) => e.className)),
        ['badge lv-high', 'badge lv-caution']);
      assert.equal(await rows.nth(1).locator('td').last().textContent(), 'on: pc1');
      assert.equal(await tab.locator('main img, main b').count(), 0, 'markup in a name became elements');

      const bars = tab.locator('#chart rect.bar');
      assert.equal(await bars.count(), 3);
      const labels = await tab.locator('#chart .bar-label').allTextContents();
      assert.deepEqual([labels[0], labels[2]], ['Spotify', 'Updater']);
      assert.ok(labels[1].startsWith('<img src=x onerror='), labels[1]);
      const barColour = await bars.first().evaluate((e) => getComputedStyle(e).fill);
      const safeColour = await tab.evaluate(() => getComputedStyle(document.documentElement).getPropertyValue('--safe').trim());
      assert.equal(barColour, safeColour === '#17663e' ? 'rgb(23, 102, 62)' : 'rgb(125, 213, 162)');

      const background = () => tab.evaluate(() => getComputedStyle(document.body).backgroundColor);
      const before = await background();
      await tab.click('#theme');
      assert.equal(await theme(), scheme === 'dark' ? 'light' : 'dark');
      assert.notEqual(await background(), before);

      assert.equal(await tab.evaluate(() => window.__owned), undefined);
      assert.deepEqual(watcher.problems, []);
      assert.deepEqual(await watcher.cspViolations(), []);
      await tab.close();
    }
  } finally {
    await browser.close();
    await fs.rm(folder, {recursive: true, force: true});
  }
});
