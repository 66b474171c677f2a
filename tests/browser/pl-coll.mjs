import {openBrowser, newPage} from './harness.mjs';
const browser = await openBrowser();
for (let i = 0; i < 3; i++) {
  const {page} = await newPage(browser, 'x');
  await page.goto('data:text/html,<p>x</p>');
  const r = await page.evaluate(() => {
    const t0 = performance.now(); const c = new Intl.Collator(undefined, {sensitivity: 'base'}); c.compare('abc', 'abd');
    const t1 = performance.now(); for (let k = 0; k < 200; k++) 'abc'.localeCompare('abd', undefined, {sensitivity: 'base'});
    const t2 = performance.now(); for (let k = 0; k < 200; k++) c.compare('abc' + k, 'abd');
    const t3 = performance.now();
    return [t1 - t0, t2 - t1, t3 - t2];
  });
  console.log(r.map((x) => x.toFixed(2)).join(' '));
  await page.close();
}
await browser.close();
