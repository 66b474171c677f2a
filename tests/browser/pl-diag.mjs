import {openBrowser, newPage, openWindow, startServerWith, exePath} from './harness.mjs';
const browser = await openBrowser();
for (let i = 0; i < 4; i++) {
  const server = await startServerWith(exePath, ['--demo', 'serve', '--no-browser', '--port', '0']);
  const {page} = await newPage(browser, 'x');
  const ms = await openWindow(page, server.link);
  const t = await page.evaluate(() => {
    const nav = performance.getEntriesByType('navigation')[0];
    const out = {nav: {reqStart: nav.requestStart, respStart: nav.responseStart, respEnd: nav.responseEnd, dcl: nav.domContentLoadedEventEnd}};
    out.res = performance.getEntriesByType('resource').map((r) => [r.name.replace(/.*\/api/, '/api'), Math.round(r.startTime), Math.round(r.requestStart), Math.round(r.responseStart), Math.round(r.responseEnd)]);
    out.first = performance.getEntriesByName('qm-first-list')[0].startTime;
    out.paint = performance.getEntriesByType('paint').map((p) => [p.name, Math.round(p.startTime)]);
    return out;
  });
  console.log(ms, JSON.stringify(t));
  await page.close(); await server.stop();
}
await browser.close();
