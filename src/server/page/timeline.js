// The picture of the last sign-in or boot on the Startup items tab: each
// measured item the records give a start time for is a bar on a time axis,
// from when it started, as long as the delay it caused or else the processor
// time it used. It is drawn as SVG at the width it is given, and the items
// switched off in the waiting plan (or already off) are hatched and named.
// When nothing can be drawn, a sentence and what the records said instead.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {IMPACT_LEVELS, app, element, svgElement, fill, asArray, asText, plural, byName, noteList, impactOf, durationText,
  impactSentence} = qm;
const {effectivelyOn} = qm.later;

const WIDE = 560;     // px: narrower than this, each name goes on its own line above its bar
const MIN_BAR = 3;    // px: the shortest bar that can still be seen
const CHAR = 6.6;     // px: a generous width of one 12 px character, to shorten names that would not fit
const STEPS = [500, 1000, 2000, 5000, 10000, 15000, 30000, 60000, 120000, 300000, 600000];
let view = null;

function buildTimeline() {
  const narrow = !!(window.matchMedia && matchMedia('(max-width:820px)').matches);
  view = {summary: element('summary'), plot: element('div', {class: 'tl-plot'}), more: element('div'), width: 0, queued: false};
  view.box = element('details', {class: 'card timeline', open: !narrow, hidden: true, ontoggle: () => drawTimeline()},
    view.summary, element('div', {class: 'tl-body'}, view.plot, view.more));
  // Drawn again when its width changes, and when the tab is shown after being
  // hidden (its width was 0); the drawing waits for the next frame so that it
  // does not change a size while the sizes are being reported.
  if (window.ResizeObserver) {
    new ResizeObserver(() => {
      if (view.queued) return;
      view.queued = true;
      requestAnimationFrame(() => { view.queued = false; if (view.plot.clientWidth !== view.width) drawTimeline(); });
    }).observe(view.plot);
  }
  return view.box;
}
const nameOf = (it) => asText(it.name) || asText(it.id);

// The measured items with a start time, in the order they started.
function barsOf(items) {
  const bars = [];
  for (const it of items) {
    const imp = impactOf(it);
    if (imp.started === null) continue;
    const length = imp.delay !== null ? imp.delay : imp.processor !== null ? imp.processor : 0;
    bars.push({it, imp, start: imp.started, length, off: !effectivelyOn(it)});
  }
  return bars.sort((a, b) => a.start - b.start || byName(a.it, b.it));
}

function drawTimeline() {
  if (!view) return;
  const cost = app.startupCost;
  view.box.hidden = !cost || !app.startup || !!app.startupError;
  if (view.box.hidden) return;
  const word = cost.last_start === 'boot' || cost.last_start === 'sign-in' ? cost.last_start : '';
  fill(view.summary, (word ? 'Last ' + word : 'Last start') + ': what started and how long it took',
    cost.when ? element('span', {class: 'when', text: ' · ' + asText(cost.when)}) : null);
  if (!view.box.open) return;
  const width = view.plot.clientWidth;
  const bars = cost.measurable ? barsOf(app.startup) : [];
  if (!bars.length) {
    view.width = width;
    fill(view.plot);
    fill(view.more, element('p', {class: 'tl-none', text: cost.measurable
      ? 'The records give no start times for the last ' + (word || 'start') + ', so there is no timeline to draw.'
      : 'Nothing on this computer records what starting costs, so there is no timeline to draw.'}),
    noteList(asArray(cost.sources)), caption(cost, word, false));
    return;
  }
  if (!width) { view.width = 0; return; }  // hidden: drawn once it is shown
  view.width = width;
  fill(view.plot, picture(bars, width, word || 'start', asText(cost.when)));
  fill(view.more, legend(bars), caption(cost, word, true));
}

function summaryText(bars, word, when) {
  const name = (b) => nameOf(b.it);
  const lastStart = bars[bars.length - 1].start;
  const longest = bars.reduce((m, b) => (b.length > m.length ? b : m), bars[0]);
  let s = 'Timeline of the last ' + word + (when ? ' (' + when + ')' : '') + ': ' + (bars.length === 1
    ? '1 item started ' + durationText(bars[0].start) + ' into it.'
    : plural(bars.length, 'item', 'items') + ' started between ' + durationText(bars[0].start) + ' and ' + durationText(lastStart) +
      ' into it; ' + name(longest) + ' took longest, ' + durationText(longest.length) + '.');
  const off = bars.filter((b) => b.off).map(name);
  if (off.length) s += ' Switched off in this plan: ' + (off.length > 5 ? off.slice(0, 5).join(', ') + ' and ' + (off.length - 5) + ' more' : off.join(', ')) + '.';
  return s;
}
const secondsText = (ms) => String(Number((ms / 1000).toFixed(1))) + ' s';
const shorten = (text, px) => { const n = Math.max(4, Math.floor(px / CHAR)); return text.length > n ? text.slice(0, n - 1) + '…' : text; };

function picture(bars, width, word, when) {
  const wide = width >= WIDE;
  const labelW = wide ? Math.min(190, Math.round(width * 0.26)) : 0;
  const x0 = wide ? labelW + 10 : 1;
  const plotW = Math.max(40, width - x0 - 2);
  const end = Math.max(1, ...bars.map((b) => b.start + b.length));
  const maxTicks = Math.max(2, Math.floor(plotW / 56));
  const step = STEPS.find((s) => Math.ceil(end / s) <= maxTicks) || Math.ceil(end / maxTicks / 60000) * 60000;
  const axisEnd = Math.ceil(end / step) * step;
  const x = (ms) => x0 + (ms / axisEnd) * plotW;
  const rowH = wide ? 24 : 38;
  const top = 4;
  const axisY = top + bars.length * rowH + 2;
  const height = axisY + 20;
  const summary = summaryText(bars, word, when);
  const svg = svgElement('svg', {class: 'tl-svg', width, height, viewBox: '0 0 ' + width + ' ' + height, role: 'img', 'aria-label': summary},
    svgElement('title', {text: summary}),
    svgElement('defs', {}, svgElement('pattern', {id: 'tl-hatch', width: 6, height: 6, patternUnits: 'userSpaceOnUse', patternTransform: 'rotate(45)'},
      svgElement('rect', {class: 'tl-hatch-bg', width: 6, height: 6}), svgElement('line', {class: 'tl-hatch-line', x1: 1.5, y1: 0, x2: 1.5, y2: 6}))));
  for (let t = 0; t <= axisEnd; t += step) {
    svg.append(svgElement('line', {class: 'tl-grid', x1: x(t), x2: x(t), y1: top, y2: axisY}),
      svgElement('text', {class: 'tl-tick', x: x(t), y: axisY + 15, 'text-anchor': t === axisEnd ? 'end' : t === 0 && !wide ? 'start' : 'middle', text: secondsText(t)}));
  }
  svg.append(svgElement('line', {class: 'tl-axis', x1: x0, x2: x0 + plotW, y1: axisY, y2: axisY}));
  bars.forEach((b, i) => {
    const y = top + i * rowH;
    const bx = x(b.start);
    const bw = Math.max(MIN_BAR, x(b.start + b.length) - bx);
    const name = nameOf(b.it);
    const note = (mark) => [svgElement('tspan', {class: 'tl-dur', text: mark + durationText(b.length)}),
      b.off ? svgElement('tspan', {class: 'tl-offmark', text: ' · switched off'}) : null];
    const noteW = (durationText(b.length).length + (b.off ? 15 : 0) + 3) * CHAR;
    const g = svgElement('g', {class: 'tl-item' + (b.off ? ' off' : '')},
      svgElement('title', {text: name + ': started ' + durationText(b.start) + ' into the ' + word + '; ' + impactSentence(b.it) + '.' + (b.off ? ' Switched off in this plan.' : '')}));
    if (wide) {
      // The name at the left; the figure after the bar, or before it where it would not fit.
      const after = bx + bw + 6 + noteW <= x0 + plotW || bx - x0 < noteW;
      g.append(svgElement('text', {class: 'tl-name', x: 0, y: y + 16, text: shorten(name, labelW)}),
        svgElement('rect', {class: 'tl-bar ' + IMPACT_LEVELS[b.imp.level][2], x: bx, y: y + 6, width: bw, height: 13, rx: 3}),
        svgElement('text', {class: 'tl-note', x: after ? bx + bw + 6 : bx - 6, y: y + 16, 'text-anchor': after ? 'start' : 'end'}, note('')));
    } else {
      // The name and figure on a line of their own, the bar under them.
      g.append(svgElement('text', {class: 'tl-name', x: 0, y: y + 13}, shorten(name, width - noteW - 8), note(' · ')),
        svgElement('rect', {class: 'tl-bar ' + IMPACT_LEVELS[b.imp.level][2], x: bx, y: y + 19, width: bw, height: 12, rx: 3}));
    }
    svg.append(g);
  });
  return svg;
}

function legend(bars) {
  const key = (cls, text) => element('span', {class: 'tl-key'}, element('span', {class: 'tl-swatch ' + cls}), text);
  return element('div', {class: 'tl-legend'},
    ['high', 'medium', 'low'].filter((l) => bars.some((b) => b.imp.level === l)).map((l) => key(IMPACT_LEVELS[l][2], IMPACT_LEVELS[l][0] + ' impact')),
    key('off', 'Switched off in this plan'));
}
// What a bar means, and the boot's phases and length where the records give them.
function caption(cost, word, withBars) {
  const parts = [];
  if (withBars) parts.push('Each bar starts when its item started and lasts as long as the delay it caused, or else the processor time it used, on average.');
  const phases = asArray(cost.phases).filter((p) => p && typeof p === 'object' && typeof p.ms === 'number').map((p) => asText(p.name) + ' ' + durationText(p.ms));
  if (phases.length) parts.push('Boot phases: ' + phases.join(', ') + '.');
  if (typeof cost.total_ms === 'number' && cost.total_ms > 0) parts.push('The last ' + (word || 'start') + ' took ' + durationText(cost.total_ms) + ' in all.');
  return parts.length ? element('p', {class: 'tl-cap', text: parts.join(' ')}) : null;
}
Object.assign(qm, {buildTimeline, drawTimeline});
})(quillmoor);
