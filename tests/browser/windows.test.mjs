// The window of the Windows build, quillmoor.exe, run under wine on a fresh
// Wine prefix and driven in Chromium: the real scan lists a Run entry made for
// the test; switching it off through the review and undoing it from History
// write the start-up approval flag in the registry; through the API, switching
// off an item judged critical and removing an entry the program did not make
// are refused and change nothing. Skipped unless QUILLMOOR_WINDOWS_EXE names
// quillmoor.exe and wine is on PATH. One prefix and one program serve the
// whole file; the tests run in order and build on each other's state. Sign-in
// records placed in the prefix give the entry its measured cost at start.
import {describe, test, before, after} from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs/promises';
import path from 'node:path';
import {startServerWith, openBrowser, newPage, openWindow, itemRow, createWinePrefix, windowsSkipReason} from './harness.mjs';

const skip = windowsSkipReason();
const runKey = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run';
const approvedKey = 'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run';
const servicesKey = 'HKLM\\System\\CurrentControlSet\\Services';
const entry = `QuillmoorWindowTest${process.pid}`;
const entryCommand = 'C:\\windows\\notepad.exe';

// Two sign-in records of the account the program runs as under Wine
// (S-1-5-21-0-0-0-1000), in UTF-16 with its mark as Windows writes them: the
// Run entry's program started 3.5 s into each sign-in and used 1.8 s of
// processor time and 5,000,000 bytes of disk.
async function writeSignInRecords(prefixFolder) {
  const folder = path.join(prefixFolder, 'drive_c', 'windows', 'system32', 'wdi', 'LogFiles', 'StartupInfo');
  await fs.mkdir(folder, {recursive: true});
  for (const [n, day] of [[1, '07'], [2, '08']]) {
    const xml = '<?xml version="1.0" encoding="UTF-16"?>\r\n' +
      `<StartupData Version="1" StartTime="2026-12-${day}T08:00:00Z">` +
      `<Process Name="C:\\Windows\\notepad.exe" PID="4242" StartTime="2026-12-${day}T08:00:03.5Z">` +
      '<CommandLine>"C:\\Windows\\notepad.exe"</CommandLine><DiskUsage Unit="bytes">5000000</DiskUsage>' +
      '<CpuUsage Unit="us">1800000</CpuUsage></Process></StartupData>';
    await fs.writeFile(path.join(folder, `S-1-5-21-0-0-0-1000_StartupInfo${n}.xml`),
      Buffer.concat([Buffer.from([0xff, 0xfe]), Buffer.from(xml, 'utf16le')]));
  }
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
async function until(check, what, timeout = 15000) {
  const end = Date.now() + timeout;
  let last;
  while (Date.now() < end) {
    try { last = await check(); if (last) return last; } catch (e) { last = e; }
    await sleep(100);
  }
  throw new Error('timed out waiting for ' + what + (last instanceof Error ? ': ' + last.message : ''));
}

describe('quillmoor.exe under wine, in the window', {skip: skip ?? false}, () => {
  let prefix;
  let browser;
  let server;
  let page;
  let watcher;
  let token;

  before(async () => {
    const started = Date.now();
    const [madePrefix, madeBrowser] = await Promise.allSettled([createWinePrefix(), openBrowser()]);
    if (madePrefix.status === 'fulfilled') prefix = madePrefix.value;
    if (madeBrowser.status === 'fulfilled') browser = madeBrowser.value;
    if (madePrefix.status === 'rejected') throw madePrefix.reason;
    if (madeBrowser.status === 'rejected') throw madeBrowser.reason;
    const prefixMs = Date.now() - started;

    const added = prefix.reg('add', runKey, '/v', entry, '/t', 'REG_SZ', '/d', entryCommand, '/f');
    assert.equal(added.status, 0, `reg add failed: ${added.out}${added.err}`);
    await writeSignInRecords(prefix.folder);

    // QUILLMOOR_TIMING makes the program print how long each source of the
    // scan took, shown when the first list does not arrive.
    server = await startServerWith('wine', [process.env.QUILLMOOR_WINDOWS_EXE, 'serve', '--no-browser', '--port', '0'],
      {env: {...prefix.env, QUILLMOOR_TIMING: '1'}, timeoutMs: 60000});
    ({page, watcher} = await newPage(browser, 'tab'));
    let listMs;
    try {
      listMs = await openWindow(page, server.link, 90000);
    } catch (e) {
      e.message += `\nquillmoor's output: ${server.stdout()}${server.stderr()}`;
      throw e;
    }
    token = await page.evaluate(() => sessionStorage.getItem('qm-token'));
    console.log(`Wine prefix ready after ${prefixMs} ms; under Wine, from opening the link to the first list: ${listMs} ms`);
  });

  after(async () => {
    if (page) await page.close().catch(() => {});
    if (browser) await browser.close().catch(() => {});
    if (server) await server.stop();
    if (prefix) prefix.close();
  });

  async function assertClean() {
    assert.deepEqual(watcher.problems, [], 'console or page errors');
    assert.deepEqual(await watcher.cspViolations(), [], 'CSP violations');
  }
  const switchOf = (name) => itemRow(page, name).getByRole('switch');
  const approval = () => prefix.value(approvedKey, entry);
  // The first byte of the approval value: 02 on, 03 off (the low bit).
  const approvalByte = () => (approval()?.data ?? '').slice(0, 2);

  // A call as the page makes it, with the session token it got for the link.
  async function api(route, body) {
    const res = await fetch(server.origin + route, {
      method: body === undefined ? 'GET' : 'POST',
      headers: {'x-quillmoor-token': token, 'content-type': 'application/json'},
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    assert.equal(res.status, 200, `${route} answered ${res.status}`);
    return res.json();
  }
  const scanItems = async () => (await api('/api/scan', {what: 'startup'})).items;
  const historyLength = async () => (await api('/api/history')).records.length;

  test('the real scan lists the Run entry; switching it off and undoing it from History go through its approval flag', async () => {
    const who = await page.locator('#who').textContent();
    assert.doesNotMatch(who, /demonstration/i, 'the real computer, not the demonstration');
    const row = itemRow(page, entry);
    await row.waitFor();
    assert.equal(await switchOf(entry).getAttribute('aria-checked'), 'true');
    assert.notEqual(approvalByte(), '03', 'not switched off before the test');
    const approvalBefore = approval();

    await switchOf(entry).click();
    await page.getByRole('button', {name: 'Review & apply'}).click();
    const dialog = page.getByRole('dialog', {name: 'Review & apply'});
    const apply = dialog.locator('#apply-btn');
    await until(async () => (await apply.textContent()) === 'Apply 1 change', 'the plan');
    assert.equal(await dialog.locator('section.box h4').textContent(), entry);
    for (const tick of await dialog.getByRole('checkbox', {name: 'I have read this and want to go ahead'}).all()) await tick.check();
    await apply.click();
    await dialog.getByText('1 of 1 change made.').waitFor({timeout: 30000});
    await dialog.getByRole('button', {name: 'Close', exact: true}).last().click();
    await dialog.waitFor({state: 'detached'});

    const off = approval();
    assert.equal(off?.type, 'REG_BINARY', `approval value after switching off: ${JSON.stringify(off)}`);
    assert.equal(off.data.slice(0, 2), '03', `approval value marks it off: ${off.data}`);
    assert.equal(off.data.length, 24, 'twelve bytes: the flag and the time it was switched off');
    assert.equal(prefix.value(runKey, entry)?.data, entryCommand, 'the Run value itself is untouched');
    await until(async () => (await switchOf(entry).getAttribute('aria-checked')) === 'false' &&
      !(await itemRow(page, entry).getAttribute('class')).includes('waiting'), 'the entry shown off after the scan');

    await page.getByRole('tab', {name: 'History'}).click();
    const record = page.locator('#history-table tbody tr').filter({hasText: entry}).first();
    await record.getByRole('cell', {name: 'Switched off'}).waitFor();
    await record.getByText('Done').waitFor();
    await record.getByRole('button', {name: 'Undo'}).click();
    await page.getByRole('dialog', {name: 'Undo this change?'}).getByRole('button', {name: 'Undo'}).click();
    await until(async () => (await page.locator('#history-table').textContent()).includes('Undone'), 'the undone mark', 30000);

    // Undone, the registry is as it began: a flag the program made where none
    // was is gone again, one that was there marks the entry on.
    if (approvalBefore === null) assert.equal(approval(), null, `no approval value: ${approval()?.data}`);
    else assert.equal(approvalByte(), '02', `approval value marks it on again: ${approval()?.data}`);
    assert.equal(prefix.value(runKey, entry)?.data, entryCommand, 'the Run value itself is untouched');
    await page.getByRole('tab', {name: 'Startup items'}).click();
    await until(async () => (await switchOf(entry).getAttribute('aria-checked')) === 'true', 'the entry shown on again');
    await assertClean();
  });

  test('the sign-in records in the prefix give the Run entry its impact, and the timeline draws it', async () => {
    const cell = itemRow(page, entry).locator('td.c-imp');
    assert.equal(await cell.locator('.tag').textContent(), 'High');
    assert.equal(await cell.getAttribute('title'), '1.8 s of processor time, 4.8 MB read, on average over 2 sign-ins');
    const box = page.locator('details.timeline');
    assert.match(await box.locator('summary').textContent(), /^Last sign-in: what started and how long it took · 2026-12-08 08:00:00/);
    const bar = box.locator('g.tl-item').filter({has: page.locator('.tl-name', {hasText: entry})});
    assert.equal(await bar.locator('rect.tl-bar').count(), 1);
    await assertClean();
  });

  test('switching off an item judged critical is refused through the API and changes nothing', async (t) => {
    const critical = (await scanItems()).filter((item) => item.risk?.critical);
    if (critical.length === 0) return t.skip('the real scan of this Wine prefix judges no item critical');
    // One that is on, so that only its being critical stands in the way.
    const item = critical.find((i) => i.enabled) ?? critical[0];
    const serviceKeys = () => Object.fromEntries(Object.entries(prefix.query(servicesKey, '/s'))
      .filter(([, values]) => values.DisplayName?.data === item.name));
    const registryBefore = serviceKeys();
    if (item.kind === 'service') assert.equal(Object.keys(registryBefore).length, 1, `the service key of ${item.name}`);
    const recordsBefore = await historyLength();

    const {results} = await api('/api/apply', {changes: [{action: 'disable', id: item.id, ack: true}]});
    assert.equal(results.length, 1);
    assert.equal(results[0].ok, false, `switching off ${item.name} was not refused: ${results[0].message}`);
    assert.match(results[0].message, /^Refused: /);
    if (item.enabled) assert.ok(results[0].message.includes(item.risk.effect), `the refusal says why: ${results[0].message}`);

    const again = (await scanItems()).find((i) => i.id === item.id);
    assert.equal(again?.enabled, item.enabled, 'still in the same state');
    assert.equal(again.state_text, item.state_text);
    assert.deepEqual(serviceKeys(), registryBefore, 'its registry values are unchanged');
    assert.equal(await historyLength(), recordsBefore, 'nothing was written to the history');
  });

  test('removing an entry the program did not make is refused through the API and changes nothing', async () => {
    const item = (await scanItems()).find((i) => i.name === entry);
    assert.ok(item, 'the Run entry is in the scan');
    assert.equal(item.managed, false);
    const approvalBefore = approval();
    const recordsBefore = await historyLength();

    const {results} = await api('/api/apply', {changes: [{action: 'remove', id: item.id, ack: true}]});
    assert.equal(results.length, 1);
    assert.equal(results[0].ok, false, `removing ${entry} was not refused: ${results[0].message}`);
    assert.equal(results[0].message, 'Refused: Only startup entries created by Quillmoor can be removed. Use Disable for others.');

    assert.equal(prefix.value(runKey, entry)?.data, entryCommand, 'the Run value is still there');
    assert.deepEqual(approval(), approvalBefore, 'its approval value is unchanged');
    assert.equal(await historyLength(), recordsBefore, 'nothing was written to the history');
    await page.getByRole('button', {name: 'Scan again'}).click();
    await itemRow(page, entry).waitFor();
    assert.equal(await switchOf(entry).getAttribute('aria-checked'), 'true');
    await assertClean();
  });

  test('a Run entry switched off and turned back on by another program shows as came back in the banner and its row', async () => {
    const item = (await scanItems()).find((i) => i.name === entry);
    const {results} = await api('/api/apply', {changes: [{action: 'disable', id: item.id, ack: true}]});
    assert.equal(results[0].ok, true, results[0].message);
    await scanItems();  // the scan with the entry off is the one compared with
    // Another program (an updater) sets its flag on again.
    const reset = prefix.reg('add', approvedKey, '/v', entry, '/t', 'REG_BINARY', '/d', '020000000000000000000000', '/f');
    assert.equal(reset.status, 0, `reg add failed: ${reset.out}${reset.err}`);

    await page.getByRole('button', {name: 'Scan again'}).click();
    const banner = page.locator('.changes-banner');
    await banner.getByText(`${entry} came back on`, {exact: false}).waitFor({timeout: 30000});
    await itemRow(page, entry).getByText('Came back', {exact: true}).waitFor();
    await banner.getByRole('button', {name: 'Acknowledge all'}).click();
    await until(async () => await banner.isHidden(), 'the banner gone');
    await assertClean();
  });
});
