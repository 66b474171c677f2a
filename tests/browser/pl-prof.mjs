import {openBrowser, newPage, openWindow, startServerWith, exePath} from './harness.mjs';
const browser = await openBrowser();
for (let i = 0; i < 2; i++) {
  const server = await startServerWith(exePath, ['--demo', 'serve', '--no-browser', '--port', '0']);
  const {page} = await newPage(browser, 'x');
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('Profiler.enable');
  await cdp.send('Profiler.setSamplingInterval', {interval: 100});
  await cdp.send('Profiler.start');
  const ms = await openWindow(page, server.link);
  const {profile} = await cdp.send('Profiler.stop');
  const dt = profile.timeDeltas; const self = new Map();
  const byId = new Map(profile.nodes.map((n) => [n.id, n]));
  for (let k = 0; k < profile.samples.length; k++) {
    const n = byId.get(profile.samples[k]); const f = n.callFrame;
    const key = (f.functionName || '(anon)') + ' ' + (f.url ? 'L' + f.lineNumber : '');
    self.set(key, (self.get(key) || 0) + (dt[k] || 0));
  }
  const top = [...self.entries()].sort((a, b) => b[1] - a[1]).slice(0, 15).map(([k, v]) => k + ':' + (v / 1000).toFixed(1));
  console.log(ms, 'total', ((profile.endTime - profile.startTime) / 1000).toFixed(0), top.join(' | '));
  await page.close(); await server.stop();
}
await browser.close();
