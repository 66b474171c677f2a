// The Startup items tab: search, chips, type and sort, one row per item with
// its switch and measured cost, marking changes, the timeline of the last
// start above the list, and the scan that fills them.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {LEVELS, KIND_WORDS, app, widgets, element, fill, asArray, asText, plural, levelOf, byName, byNameQuick, prepareNameOrder, tag, badge, btn,
  checkbox, waysOf, api, redrawLists, showShell, headOf, searchBox, skeleton, emptyRow, noteList, keepFocus, sortHeader, impactSentence, impactFigures,
  impactOrder, buildTimeline, drawTimeline, drawChangesBanner, changeTag, signatureTag, vouched} = qm;
const {openDrawer} = qm.later;
function buildStartup(panel) {
  const view = widgets.startup = {};
  view.chips = element('div', {class: 'chips', role: 'group', 'aria-label': 'Show'});
  for (const [f, label] of [['all', 'All'], ['on', 'Starts'], ['off', 'Does not start'], ['attention', 'Needs care'], ['changed', 'Changed']]) {
    view.chips.appendChild(element('button', {type: 'button', class: 'chip', 'data-f': f, onclick: () => { app.filter = f; drawStartup(); }}, label, element('span', {class: 'n'})));
  }
  view.type = element('select', {'aria-label': 'Type', onchange: (e) => { app.type = e.target.value; drawStartup(); }}, element('option', {value: 'all', text: 'All types'}));
  view.sort = element('select', {'aria-label': 'Sort by', onchange: (e) => { const k = e.target.value; app.sort.startup = {key: k, dir: k === 'level' || k === 'impact' ? -1 : 1}; drawStartup(); }},
    element('option', {value: 'origin', text: 'Your programs first'}), element('option', {value: 'name', text: 'Name'}), element('option', {value: 'level', text: 'Impact of switching off'}),
    element('option', {value: 'impact', text: 'Impact at start'}));
  view.rescan = btn('Scan again', 'refresh', () => scanStartup());
  view.count = element('span', {});
  view.thead = element('thead');
  view.body = element('tbody');
  view.notes = element('div');
  view.banner = element('div', {class: 'changes-banner', hidden: true});
  panel.append(
    headOf('Startup items', 'Everything that starts with this computer, and what switching it off would do. Flip a switch to mark a change: nothing is changed until you review and apply it.'),
    view.banner,
    buildTimeline(),
    element('div', {class: 'toolbar'}, searchBox('Search startup items', app.q.startup, (v) => { app.q.startup = v; drawStartup(); }), view.chips, view.type, view.sort),
    element('div', {class: 'toolbar'},
      checkbox('On-demand services', app.showOnDemand, (v) => { app.showOnDemand = v; drawStartup(); }),
      view.osBox = checkbox(osItemsLabel(), app.showOs, (v) => { app.showOs = v; drawStartup(); }),
      checkbox('Hide verified operating-system items', app.hideVerifiedOs, (v) => { app.hideVerifiedOs = v; drawStartup(); }),
      element('span', {class: 'spacer'}), view.rescan),
    element('div', {class: 'meta'}, view.count),
    element('div', {class: 'card tablecard'}, element('table', {class: 'list', id: 'startup-table'},
      view.thead, view.body)),
    view.notes);
  drawStartup();
}
function effectivelyOn(it) {
  const p = app.pending.get(it.id);
  return p ? p.action === 'enable' || p.action === 'on-time' : !!it.enabled;
}
function itemPassesFilters(it) {
  // A service made to start only when needed stays in sight.
  if (!app.showOnDemand && it.kind === 'service' && /^Manual/.test(asText(it.state_text)) && !waysOf(it).taken) return false;
  if (!app.showOs && it.origin === 'Operating system') return false;
  if (app.hideVerifiedOs && it.origin === 'Operating system' && vouched(it)) return false;
  if (app.type !== 'all' && it.kind !== app.type) return false;
  const q = app.q.startup.trim().toLowerCase();
  if (q && ![it.name, it.command, it.publisher, it.description, it.kind_label, it.exe].some((f) => asText(f).toLowerCase().includes(q))) return false;
  return true;
}
function chipKeeps(f, it) {
  if (f === 'on') return effectivelyOn(it);
  if (f === 'off') return !effectivelyOn(it);
  if (f === 'attention') return effectivelyOn(it) && ['caution', 'high', 'critical', 'unknown'].includes(levelOf(it));
  if (f === 'changed') return !!it.change;
  return true;
}
function compareItems(a, b, names = byName) {
  const s = app.sort.startup;
  let d = 0;
  if (s.key === 'level') d = LEVELS[levelOf(a)][1] - LEVELS[levelOf(b)][1];
  else if (s.key === 'impact') d = impactOrder(a, b);
  else if (s.key === 'origin') d = (a.origin === 'Operating system') - (b.origin === 'Operating system');
  else return names(a, b) * s.dir;
  return d ? d * s.dir : names(a, b);
}
// The operating system's items are "Windows/system items" on Windows; on
// any other computer the label does not name a system it is not.
function osItemsLabel() {
  return app.state && app.state.os && app.state.os !== 'windows' ? 'System items' : 'Windows/system items';
}
const FIRST_ROWS = 24;
function drawStartup() {
  const view = widgets.startup;
  if (!view) return;
  // The state may arrive after the tab was built.
  if (view.osBox) view.osBox.lastChild.textContent = osItemsLabel();
  const redraw = () => drawStartup();
  fill(view.thead, element('tr', {}, element('th', {class: 'c-sw'}, element('span', {class: 'sr', text: 'Starts'})), sortHeader('startup', 'name', 'Name', 1, redraw),
    element('th', {class: 'c-type', text: 'Type'}), element('th', {class: 'c-pub', text: 'Publisher'}), sortHeader('startup', 'level', 'If switched off', -1, redraw, 'c-level'),
    sortHeader('startup', 'impact', 'Impact at start', -1, redraw, 'c-imp'), element('th', {class: 'c-state', text: 'State'})));
  view.sort.value = app.sort.startup.key;
  view.rescan.disabled = app.scanning;
  const items = app.startup;
  const base = items ? items.filter(itemPassesFilters) : [];
  for (const c of view.chips.children) {
    const f = c.dataset.f;
    c.setAttribute('aria-pressed', String(app.filter === f));
    c.lastChild.textContent = items ? String(base.filter((it) => chipKeeps(f, it)).length) : '';
  }
  fill(view.notes, noteList(app.startupNotes) || '');
  drawChangesBanner(view.banner);
  // The first list does not wait for the timeline above it nor for the
  // names' collator: each takes tens of milliseconds (settleFirstList).
  const first = items !== null && !app.firstListShown;
  if (!first) drawTimeline();
  if (items === null) {
    view.count.textContent = '';
    fill(view.body, ...skeleton(7, 'Scanning this computer…', 7));
    return;
  }
  showShell();
  if (app.startupError) {
    view.count.textContent = '';
    fill(view.body, emptyRow(7, 'The scan failed: ' + app.startupError));
    return;
  }
  const rows = base.filter((it) => chipKeeps(app.filter, it)).sort(first ? (a, b) => compareItems(a, b, byNameQuick) : compareItems);
  if (first) {
    app.firstListShown = true;
    try { performance.mark('qm-first-list'); } catch (e) { /* timing is optional */ }
    // Once the list has been painted.
    requestAnimationFrame(() => setTimeout(settleFirstList, 0));
  }
  view.count.textContent = (app.scanning ? 'Scanning again… ' : '') + 'Showing ' + rows.length + ' of ' + plural(items.length, 'item', 'items');
  // The first list draws a screenful; the rest follow a frame later with the
  // collator's order (settleFirstList sees fewer rows shown and redraws).
  const drawn = first ? rows.slice(0, FIRST_ROWS) : rows;
  keepFocus(view.body, () => fill(view.body, ...(drawn.length ? drawn.map(itemRow) : [emptyRow(7, 'Nothing here matches the search and filters.')])));
}
// After the first list: the collator is made, the list drawn again if the
// collator orders its names differently, and the timeline drawn.
function settleFirstList() {
  prepareNameOrder();
  const view = widgets.startup;
  if (app.startup && !app.startupError) {
    const shown = Array.from(view.body.rows, (tr) => tr.dataset.id).filter((id) => id !== undefined);
    const sorted = app.startup.filter((it) => itemPassesFilters(it) && chipKeeps(app.filter, it)).sort(compareItems);
    if (sorted.length !== shown.length || sorted.some((it, i) => String(it.id) !== shown[i])) { drawStartup(); return; }
  }
  drawTimeline();
}
function itemRow(it) {
  const p = app.pending.get(it.id);
  const on = effectivelyOn(it);
  const locked = it.toggle === 'locked';
  const waitingTag = p ? tag(p.action === 'remove' ? 'Will be removed' : p.action === 'on-time' ? 'Waiting: start as before' : p.action === 'disable' ? 'Waiting: switch off' : 'Waiting: switch on', 'warn') : null;
  return element('tr', {class: 'item' + (on ? '' : ' off') + (p ? ' waiting' : '') + (app.selected === it.id ? ' sel' : ''), 'data-id': it.id, onclick: () => openDrawer(it.id)},
    element('td', {class: 'c-sw'}, element('button', {type: 'button', class: 'switch' + (p ? ' changed' : ''), role: 'switch', 'aria-checked': String(on),
      'aria-label': 'Starts with the computer: ' + asText(it.name), title: asText(it.toggle_note) || null, disabled: locked,
      onclick: (e) => { e.stopPropagation(); flipItem(it); }})),
    element('td', {class: 'c-name'},
      element('div', {class: 'nmline'}, element('button', {type: 'button', class: 'namebtn', text: asText(it.name) || asText(it.id), onclick: (e) => { e.stopPropagation(); openDrawer(it.id); }}),
        changeTag(it), signatureTag(it), it.managed ? tag('Made by Quillmoor', 'accent') : null, it.toggle === 'admin' ? tag('Admin') : null, locked ? tag('Locked') : null, waitingTag),
      it.description ? element('div', {class: 'sub', text: asText(it.description)}) : null,
      it.command ? element('div', {class: 'cmd', text: asText(it.command), title: asText(it.command)}) : null,
      element('div', {class: 'imp-line nonly'}, 'At start: ', impactFigures(it))),
    element('td', {class: 'c-type', text: asText(it.kind_label)}),
    element('td', {class: 'c-pub', text: asText(it.publisher) || '-'}),
    element('td', {class: 'c-level'}, badge(levelOf(it))),
    element('td', {class: 'c-imp', title: impactSentence(it)}, impactFigures(it)),
    element('td', {class: 'c-state', text: asText(waysOf(it).taken_text || it.state_text) + (it.running ? ' · running' : '')}));
}
function flipItem(it) {
  if (it.toggle === 'locked') return;
  if (app.pending.has(it.id)) app.pending.delete(it.id);
  else app.pending.set(it.id, {action: it.enabled ? 'disable' : 'enable', id: it.id, name: asText(it.name), stop_now: false});
  redrawLists();
}
function markItem(it, action) {
  const p = app.pending.get(it.id);
  if (action === 'remove' || action === 'on-time') { if (p && p.action === action) app.pending.delete(it.id); else app.pending.set(it.id, {action, id: it.id, name: asText(it.name), stop_now: false}); }
  else { const target = !effectivelyOn(it); if (target === !!it.enabled) app.pending.delete(it.id); else app.pending.set(it.id, {action: target ? 'enable' : 'disable', id: it.id, name: asText(it.name), stop_now: false}); }
  redrawLists();
}
function refreshTypes() {
  const view = widgets.startup;
  if (!view || !app.startup) return;
  const kinds = [];
  for (const it of app.startup) if (it.kind && !kinds.includes(it.kind)) kinds.push(it.kind);
  if (app.type !== 'all' && !kinds.includes(app.type)) app.type = 'all';
  fill(view.type, element('option', {value: 'all', text: 'All types'}),
    ...kinds.map((k) => element('option', {value: k, text: KIND_WORDS[k] || asText((app.startup.find((it) => it.kind === k) || {}).kind_label) || k})));
  view.type.value = app.type;
}
let scanSeq = 0;
async function scanStartup() {
  const my = ++scanSeq;
  app.scanning = true;
  const answer = api('/api/scan', {what: 'startup'});  // asked for before the redraw, which it need not wait for
  drawStartup();
  try {
    const a = await answer;
    if (my !== scanSeq) return;
    app.startup = asArray(a.items).filter((x) => x && typeof x === 'object');
    app.startupNotes = asArray(a.notes);
    app.startupCost = a.startup && typeof a.startup === 'object' ? a.startup : null;
    app.startupError = '';
    app.changes = asArray(a.changes);
    app.ignored = asArray(a.ignored);
  } catch (e) {
    if (my !== scanSeq) return;
    app.startup = [];
    app.startupNotes = [];
    app.startupCost = null;
    app.startupError = e.message;
  }
  app.scanning = false;
  // A waiting change whose item is gone, or which the computer already shows, is dropped.
  for (const [id, p] of Array.from(app.pending)) {
    const it = app.startup.find((x) => x.id === id);
    if (!it || (p.action === 'enable' && it.enabled) || (p.action === 'disable' && !it.enabled) || (p.action === 'on-time' && !waysOf(it).taken)) app.pending.delete(id);
  }
  refreshTypes();
  redrawLists();
}
Object.assign(qm, {buildStartup, effectivelyOn, drawStartup, markItem, scanStartup});
})(quillmoor);
