// What every part of the script shares: the fixed word tables and icons, the
// page state, the element builders that put every text from the program in
// as a text node, and small value helpers.
//
// How the page's files work together: they are joined, in the order
// CMakeLists.txt lists them, into the page's one script element, yet each is
// a function scope of its own in strict mode, called with `quillmoor`, the
// one object they share, which this file creates and so comes first. A file
// names at its top what it uses from the others,
//   const {element, fill} = qm;      from files that ran before it,
//   const {openDrawer} = qm.later;   from files that run after it,
// and adds what it offers them at its end: Object.assign(qm, {toast, ask}).
// A name taken from qm.later stands for a function that looks the name up in
// qm when it is called, by which time every file has run. Everything else in
// a file is its own; a value that changes (the theme, the ping timer) belongs
// to the one file that changes it.
const quillmoor = {};
(function (qm) {
'use strict';
// What qm.later gives for a name: a function that calls qm's function of that name.
qm.later = new Proxy({}, {get: (unused, name) => (...args) => qm[name](...args)});
const query = (sel) => document.querySelector(sel);
const SVG_NS = 'http://www.w3.org/2000/svg';

const LEVELS = {safe: ['Safe', 0], low: ['Low', 1], caution: ['Caution', 2], high: ['High', 3], critical: ['Critical', 4], unknown: ['Unknown', 2.5]};
const TABS = [['startup', 'Startup items', 'list'], ['running', 'Running now', 'activity'], ['apps', 'Installed apps', 'grid'],
  ['backup', 'Backup & restore', 'archive'], ['history', 'History', 'clock'], ['health', 'Health & updates', 'heart']];
// The gentler ways than off read the same as a verb and in the history.
const WAY_WORDS = {later: 'Start later', manual: 'Start only when needed', 'on-time': 'Start as before'};
const VERBS = Object.assign({disable: 'Stop it starting', enable: 'Make it start', create: 'Make it start with the computer', remove: 'Remove the entry'}, WAY_WORDS);
const ACTION_WORDS = Object.assign({disable: 'Switched off', enable: 'Switched on', create: 'Created', remove: 'Removed', undo: 'Undone', restore: 'Restored', observed: 'Seen changing'}, WAY_WORDS);
const KIND_WORDS = {service: 'Services', run: 'Registry Run entries', task: 'Scheduled tasks', folder: 'Startup folders'};
const PROBE_MARKS = {ok: ['OK', 'good'], warn: ['Check', 'warn'], fail: ['Failed', 'bad']};
const ICONS = {
  search: 'M11 4a7 7 0 1 0 0 14 7 7 0 0 0 0-14zM20 20l-4-4',
  refresh: 'M20 11a8 8 0 0 0-14.6-4.5L4 8M4 3.5V8h4.5M4 13a8 8 0 0 0 14.6 4.5L20 16M20 20.5V16h-4.5',
  x: 'M6 6l12 12M18 6L6 18',
  moon: 'M20 14.5A8 8 0 0 1 9.5 4a8 8 0 1 0 10.5 10.5z',
  sun: 'M12 8a4 4 0 1 0 0 8 4 4 0 0 0 0-8zM12 2v2M12 20v2M4.9 4.9l1.4 1.4M17.7 17.7l1.4 1.4M2 12h2M20 12h2M4.9 19.1l1.4-1.4M17.7 6.3l1.4-1.4',
  power: 'M12 3v8M6.8 6.5a7.5 7.5 0 1 0 10.4 0',
  shield: 'M12 3l8 3v6c0 4.5-3.4 8.3-8 9-4.6-.7-8-4.5-8-9V6z',
  list: 'M9 6h11M9 12h11M9 18h11M4.5 6h.01M4.5 12h.01M4.5 18h.01',
  activity: 'M3 12h4l3-8 4 16 3-8h4',
  grid: 'M4 4h7v7H4zM13 4h7v7h-7zM4 13h7v7H4zM13 13h7v7h-7z',
  archive: 'M3 4h18v4H3zM5 8v12h14V8M10 12h4',
  clock: 'M12 3a9 9 0 1 0 0 18 9 9 0 0 0 0-18zM12 7v5l3 2',
  heart: 'M20.4 5.6a5 5 0 0 0-7.3-.2L12 6.5l-1.1-1.1a5 5 0 0 0-7.3 7L12 21l8.4-8.6a5 5 0 0 0 0-6.8z',
  download: 'M12 4v11M7 10l5 5 5-5M5 20h14',
  upload: 'M12 20V9M7 14l5-5 5 5M5 4h14',
  trash: 'M4 7h16M9 7V4h6v3M6 7l1 13h10l1-13',
  undo: 'M9 14L4 9l5-5M4 9h10a6 6 0 0 1 0 12h-3',
  copy: 'M9 9h11v11H9zM5 15H4V4h11v1',
  info: 'M12 3a9 9 0 1 0 0 18 9 9 0 0 0 0-18zM12 11v5M12 8h.01',
  alert: 'M12 3.5l9.5 17h-19zM12 10v4.5M12 17.5h.01',
  check: 'M5 12.5l4.5 4.5L19 7.5',
  restore: 'M4 12a8 8 0 1 0 2.4-5.7L4 8.6M4 4v4.6h4.6',
  file: 'M6 3h8l4 4v14H6zM14 3v4h4',
};

// Everything the page knows: the session token, what the program last sent
// for each tab, the changes waiting for review, and the filters and sorting.
const app = {
  token: '', state: null, tab: 'startup', stopped: false,
  startup: null, startupNotes: [], startupError: '', startupCost: null, scanning: false, changes: [], ignored: [],
  running: null, runningNotes: [], runningError: '', apps: null, appsNotes: [], appsError: '', stale: {running: false, apps: false}, busyScan: {running: false, apps: false},
  history: null, historyNote: '', backups: null, backupFolder: '', knowledge: null, doctor: null,
  pending: new Map(), creates: new Map(), selected: '',
  q: {startup: '', running: '', apps: ''}, filter: 'all', type: 'all',
  showOnDemand: false, showSystem: false, showOs: true, hideVerifiedOs: false,
  sort: {startup: {key: 'origin', dir: 1}, running: {key: 'name', dir: 1}, apps: {key: 'name', dir: 1}},
};
// The elements each tab and the header keep for redrawing, by tab name.
const widgets = {};

// ---- small helpers: every text from the program goes in as a text node ----
function element(tag, props, ...kids) {
  const el = document.createElement(tag);
  if (props) {
    for (const k of Object.keys(props)) {
      const v = props[k];
      if (v === null || v === undefined || v === false) continue;
      if (k === 'class') el.className = v;
      else if (k === 'text') el.textContent = String(v);
      else if (k.slice(0, 2) === 'on') el.addEventListener(k.slice(2), v);
      else if (k === 'checked' || k === 'value' || k === 'disabled' || k === 'hidden') el[k] = v;
      else el.setAttribute(k, v === true ? '' : String(v));
    }
  }
  append(el, kids);
  return el;
}
// Replaces the children; null and false entries are skipped (the DOM's own
// replaceChildren would turn them into the text "null").
function fill(el, ...kids) {
  el.textContent = '';
  append(el, kids);
  return el;
}
function append(el, kids) {
  for (const k of kids) {
    if (k === null || k === undefined || k === false || k === '') continue;
    if (Array.isArray(k)) append(el, k);
    else if (typeof k === 'object') el.appendChild(k);
    else el.appendChild(document.createTextNode(String(k)));
  }
}
// An SVG element with its attributes; `text` becomes its text node.
function svgElement(tag, attrs, ...kids) {
  const el = document.createElementNS(SVG_NS, tag);
  for (const k of Object.keys(attrs || {})) {
    const v = attrs[k];
    if (v === null || v === undefined || v === false) continue;
    if (k === 'text') el.textContent = String(v);
    else el.setAttribute(k, String(v));
  }
  append(el, kids);
  return el;
}
function icon(name) {
  const s = document.createElementNS(SVG_NS, 'svg');
  s.setAttribute('viewBox', '0 0 24 24');
  s.setAttribute('class', 'i');
  s.setAttribute('aria-hidden', 'true');
  const p = document.createElementNS(SVG_NS, 'path');
  p.setAttribute('d', ICONS[name] || '');
  s.appendChild(p);
  return s;
}
const asArray = (x) => (Array.isArray(x) ? x : []);
const asText = (x) => (typeof x === 'string' ? x : (x === null || x === undefined ? '' : String(x)));
const asNumber = (x) => (typeof x === 'number' && isFinite(x) ? x : 0);
const plural = (n, one, many) => n + ' ' + (n === 1 ? one : many);
const knownLevel = (l) => (Object.prototype.hasOwnProperty.call(LEVELS, l) ? l : 'unknown');
const levelOf = (x) => knownLevel(x && x.risk && x.risk.level);
// One collator for every sort: localeCompare with options makes a new one on
// each call, which made sorting a long list take tens of milliseconds. The
// first one a page makes loads the browser's collation data, which takes tens
// of milliseconds more, so the first list is drawn before it is made
// (tab-startup.js), sorted by byNameQuick.
let nameOrder = null;
function prepareNameOrder() {
  if (!nameOrder) nameOrder = new Intl.Collator(undefined, {sensitivity: 'base'});
  return nameOrder;
}
const byName = (a, b) => prepareNameOrder().compare(asText(a.name), asText(b.name));
// Lower-case code-unit order: for names made of ASCII letters, digits and
// spaces, the collator's order in English and most other languages. Whoever
// sorts by it sorts again by byName once the collator is made.
function byNameQuick(a, b) {
  const x = asText(a.name).toLowerCase();
  const y = asText(b.name).toLowerCase();
  return x < y ? -1 : x > y ? 1 : 0;
}
function tag(text, kind) { return element('span', {class: 'tag' + (kind ? ' ' + kind : ''), text}); }
// What the check of an item's program file found, as the program says it:
// "Microsoft Windows (verified)", "unsigned", "not checked: why".
function signatureText(it) {
  const s = it && it.signature;
  if (!s) return '';
  const verdict = asText(s.verdict);
  if (verdict === 'not checked' && s.note) return verdict + ': ' + asText(s.note);
  return s.signer ? asText(s.signer) + ' (' + verdict + ')' : verdict;
}
function vouched(it) { return !!it.signature && ['verified', 'catalog'].includes(it.signature.verdict); }
// The row's short mark: a tick for a file its signer or package vouches for,
// a word for one that is changed, unsigned or signed by someone untrusted.
const SIGNATURE_MARKS = {tampered: ['Tampered', 'bad'], modified: ['Modified', 'bad'], 'signed-untrusted': ['Untrusted signer', 'warn'], unsigned: ['Unsigned', '']};
function signatureTag(it) {
  if (!it.signature) return null;
  const mark = vouched(it) ? ['\u2713 Signed', 'good'] : SIGNATURE_MARKS[it.signature.verdict];
  if (!mark) return null;
  const t = tag(mark[0], mark[1]);
  t.title = 'Signed: ' + signatureText(it);
  return t;
}
function badge(level) { const l = knownLevel(level); return element('span', {class: 'badge lv-' + l, text: LEVELS[l][0]}); }
function btn(label, ic, onclick, cls, extra) {
  return element('button', Object.assign({type: 'button', class: 'btn' + (cls ? ' ' + cls : ''), onclick}, extra || {}), ic ? icon(ic) : null, element('span', {class: 'lbl', text: label}));
}
function checkbox(label, checked, onchange, cls) {
  return element('label', {class: 'check' + (cls ? ' ' + cls : '')}, element('input', {type: 'checkbox', checked, onchange: (e) => onchange(e.target.checked)}), element('span', {text: label}));
}
function sizeText(n) { n = asNumber(n); return n < 1024 ? n + ' B' : n < 1048576 ? (n / 1024).toFixed(1) + ' KB' : (n / 1048576).toFixed(1) + ' MB'; }
// "30 s", "2 minutes", "1 minute 30 s", as the program writes them.
function secondsText(s) { const m = Math.floor(s / 60), r = s % 60; return m ? plural(m, 'minute', 'minutes') + (r ? ' ' + r + ' s' : '') : r + ' s'; }
// The gentler ways an item offers and the one it has taken (item.ways).
// Hands a JSON text to the browser as a file download named `name`.
function saveJsonFile(name, text) {
  const url = URL.createObjectURL(new Blob([text], {type: 'application/json'}));
  const link = element('a', {href: url, download: name, class: 'sr'});
  document.body.appendChild(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 30000);
}
const waysOf = (it) => (it && it.ways && typeof it.ways === 'object' ? it.ways : {});
// The label of an offered way; a later start names its seconds.
function wayLabel(o, seconds) {
  return o.way === 'later' && seconds ? 'Start ' + secondsText(seconds) + ' after ' + (o.kind === 'after-boot' ? 'boot' : 'sign-in') : asText(o.label);
}
function waitingCount() { return app.pending.size + app.creates.size; }
Object.assign(qm, {query, LEVELS, TABS, VERBS, ACTION_WORDS, KIND_WORDS, PROBE_MARKS, app, widgets, element, svgElement, fill, icon,
  asArray, asText, asNumber, plural, levelOf, byName, byNameQuick, prepareNameOrder, tag, badge, btn, checkbox, sizeText, secondsText, waysOf, wayLabel, waitingCount,
  signatureText, signatureTag, vouched, saveJsonFile});
})(quillmoor);
