import {openBrowser, newPage, openWindow, startServerWith, exePath} from './harness.mjs';
const browser = await openBrowser();
for (let i = 0; i < 3; i++) {
  const server = await startServerWith(exePath, ['--demo', 'serve', '--no-browser', '--port', '0']);
  const {page} = await newPage(browser, 'x');
  const cdp = await page.context().newCDPSession(page);
  const events = [];
  cdp.on('Tracing.dataCollected', (d) => events.push(...d.value));
  const done = new Promise((r) => cdp.on('Tracing.tracingComplete', r));
  await cdp.send('Tracing.start', {categories: 'devtools.timeline,v8,blink', transferMode: 'ReportEvents'});
  const ms = await openWindow(page, server.link);
  await cdp.send('Tracing.end'); await done;
  const sum = new Map();
  // main thread of the renderer: the thread with ParseHTML events
  const parse = events.find((e) => e.name === 'ParseHTML');
  const tid = parse ? parse.tid : null; const pid = parse ? parse.pid : null;
  for (const e of events) {
    if (e.ph !== 'X' || e.tid !== tid || e.pid !== pid) continue;
    sum.set(e.name, (sum.get(e.name) || 0) + (e.dur || 0));
  }
  const top = [...sum.entries()].sort((a, b) => b[1] - a[1]).slice(0, 14).map(([k, v]) => k + ':' + (v / 1000).toFixed(1));
  console.log(ms, top.join(' | '));
  await page.close(); await server.stop();
}
await browser.close();
