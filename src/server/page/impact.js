// What an item was measured to cost when the computer started or its user
// signed in: the level word as a tag, the figures as a sentence, and the
// order "Impact at start" sorts by. Figures are per start, averaged over the
// starts the records hold; an item without them is "not measured".
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {element, asText, asNumber, tag} = qm;
// The program's level word: the word shown, its rank (higher costs more), its class.
const IMPACT_LEVELS = {high: ['High', 3, 'imp-high'], medium: ['Medium', 2, 'imp-medium'], low: ['Low', 1, 'imp-low'],
  'not measured': ['Not measured', 0, 'imp-none']};

// One figure of the impact, or null when the records do not give it.
function figure(m, key) {
  const v = m[key];
  return typeof v === 'number' && isFinite(v) && v >= 0 ? v : null;
}
// The item's impact as {level, processor, disk, delay, started, measured, source};
// a level the page does not know counts as not measured, and so do its figures.
function impactOf(it) {
  const m = it && it.impact && typeof it.impact === 'object' ? it.impact : {};
  const level = typeof m.level === 'string' && Object.prototype.hasOwnProperty.call(IMPACT_LEVELS, m.level) ? m.level : 'not measured';
  if (level === 'not measured') return {level, processor: null, disk: null, delay: null, started: null, measured: 0, source: ''};
  return {level, processor: figure(m, 'processor_ms'), disk: figure(m, 'disk_bytes'), delay: figure(m, 'delay_ms'),
    started: figure(m, 'started_ms'), measured: asNumber(m.measured), source: asText(m.source)};
}
// One decimal below ten units and none above, as the command line writes them.
function inUnits(value, unit, name) { const u = value / unit; return (u < 9.95 ? u.toFixed(1) : u.toFixed(0)) + ' ' + name; }
function durationText(ms) { return ms < 1000 ? Math.round(ms) + ' ms' : inUnits(ms, 1000, 's'); }
function bytesText(n) { return n < 1048576 ? Math.round(n / 1024) + ' KB' : inUnits(n, 1048576, 'MB'); }
// Which starts the figures come from, as words.
function startWord(imp) { return imp.source === 'sign-in records' ? 'sign-in' : 'boot'; }

// "2.1 s of processor time, 38 MB read, on average over 5 sign-ins".
function impactSentence(it) {
  const imp = impactOf(it);
  if (imp.level === 'not measured') return 'No record says what starting it costs.';
  const parts = [];
  if (imp.processor !== null) parts.push(durationText(imp.processor) + ' of processor time');
  if (imp.disk !== null) parts.push(bytesText(imp.disk) + ' read');
  if (imp.delay !== null) parts.push(imp.source === 'systemd' ? 'took ' + durationText(imp.delay) + ' to start' : 'delayed the start by ' + durationText(imp.delay));
  if (!parts.length) return 'Measured, but the records give no figures.';
  const word = startWord(imp);
  const over = imp.source === 'systemd' || imp.measured <= 1 ? 'in the last ' + word : 'on average over ' + imp.measured + ' ' + word + 's';
  return parts.join(', ') + ', ' + over;
}
// The figures in a few characters, for under the tag: "2.1 s · 38 MB", "4.3 s delay".
function impactShort(imp) {
  const parts = [];
  if (imp.processor !== null) parts.push(durationText(imp.processor));
  if (imp.delay !== null) parts.push(durationText(imp.delay) + ' delay');
  if (imp.disk !== null) parts.push(bytesText(imp.disk));
  return parts.join(' · ');
}
function impactTag(it) { const l = IMPACT_LEVELS[impactOf(it).level]; return tag(l[0], l[2]); }
// The tag with its figures: shortened for the eye, the whole sentence for a
// screen reader and as the tooltip.
function impactFigures(it) {
  const imp = impactOf(it);
  const short = impactShort(imp);
  return [impactTag(it), short ? element('span', {class: 'imp-fig', 'aria-hidden': 'true', text: short}) : null,
    element('span', {class: 'sr', text: ': ' + impactSentence(it)})];
}
// Costs more first when sorted descending: the level, then the larger of the
// processor time and the delay it caused.
function impactOrder(a, b) {
  const ia = impactOf(a), ib = impactOf(b);
  const d = IMPACT_LEVELS[ia.level][1] - IMPACT_LEVELS[ib.level][1];
  return d || Math.max(ia.processor || 0, ia.delay || 0) - Math.max(ib.processor || 0, ib.delay || 0);
}
Object.assign(qm, {IMPACT_LEVELS, impactOf, durationText, impactSentence, impactFigures, impactOrder});
})(quillmoor);
