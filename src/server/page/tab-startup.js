// The Startup items tab: search, chips, type and sort, one row per item with
// its switch, marking changes, and the scan that fills the list.
function buildStartup(panel) {
  const u = UI.startup = {};
  u.chips = h('div', {class: 'chips', role: 'group', 'aria-label': 'Show'});
  for (const [f, label] of [['all', 'All'], ['on', 'Starts'], ['off', 'Does not start'], ['attention', 'Needs care']]) {
    u.chips.appendChild(h('button', {type: 'button', class: 'chip', 'data-f': f, onclick: () => { S.filter = f; drawStartup(); }}, label, h('span', {class: 'n'})));
  }
  u.type = h('select', {'aria-label': 'Type', onchange: (e) => { S.type = e.target.value; drawStartup(); }}, h('option', {value: 'all', text: 'All types'}));
  u.sort = h('select', {'aria-label': 'Sort by', onchange: (e) => { const k = e.target.value; S.sort.startup = {key: k, dir: k === 'level' ? -1 : 1}; drawStartup(); }},
    h('option', {value: 'origin', text: 'Your programs first'}), h('option', {value: 'name', text: 'Name'}), h('option', {value: 'level', text: 'Impact of switching off'}));
  u.rescan = btn('Scan again', 'refresh', () => scanStartup());
  u.count = h('span', {});
  u.thead = h('thead');
  u.body = h('tbody');
  u.notes = h('div');
  panel.append(
    headOf('Startup items', 'Everything that starts with this computer, and what switching it off would do. Flip a switch to mark a change: nothing is changed until you review and apply it.'),
    h('div', {class: 'toolbar'}, searchBox('Search startup items', S.q.startup, (v) => { S.q.startup = v; drawStartup(); }), u.chips, u.type, u.sort),
    h('div', {class: 'toolbar'},
      checkbox('On-demand services', S.showOnDemand, (v) => { S.showOnDemand = v; drawStartup(); }),
      checkbox('Windows/system items', S.showOs, (v) => { S.showOs = v; drawStartup(); }),
      h('span', {class: 'spacer'}), u.rescan),
    h('div', {class: 'meta'}, u.count),
    h('div', {class: 'card tablecard'}, h('table', {class: 'list', id: 'startup-table'},
      u.thead, u.body)),
    u.notes);
  drawStartup();
}
function effectivelyOn(it) {
  const p = S.pending.get(it.id);
  return p ? p.action === 'enable' : !!it.enabled;
}
function itemPassesFilters(it) {
  if (!S.showOnDemand && it.kind === 'service' && /^Manual/.test(str(it.state_text))) return false;
  if (!S.showOs && it.origin === 'Operating system') return false;
  if (S.type !== 'all' && it.kind !== S.type) return false;
  const q = S.q.startup.trim().toLowerCase();
  if (q && ![it.name, it.command, it.publisher, it.description, it.kind_label, it.exe].some((f) => str(f).toLowerCase().includes(q))) return false;
  return true;
}
function chipKeeps(f, it) {
  if (f === 'on') return effectivelyOn(it);
  if (f === 'off') return !effectivelyOn(it);
  if (f === 'attention') return effectivelyOn(it) && ['caution', 'high', 'critical', 'unknown'].includes(levelOf(it));
  return true;
}
function compareItems(a, b) {
  const s = S.sort.startup;
  let d = 0;
  if (s.key === 'level') d = LEVELS[levelOf(a)][1] - LEVELS[levelOf(b)][1];
  else if (s.key === 'origin') d = (a.origin === 'Operating system') - (b.origin === 'Operating system');
  else return byName(a, b) * s.dir;
  return d ? d * s.dir : byName(a, b);
}
function drawStartup() {
  const u = UI.startup;
  if (!u) return;
  const redraw = () => drawStartup();
  fill(u.thead, h('tr', {}, h('th', {class: 'c-sw'}, h('span', {class: 'sr', text: 'Starts'})), sortHeader('startup', 'name', 'Name', 1, redraw),
    h('th', {class: 'c-type', text: 'Type'}), h('th', {class: 'c-pub', text: 'Publisher'}), sortHeader('startup', 'level', 'If switched off', -1, redraw, 'c-level'), h('th', {class: 'c-state', text: 'State'})));
  u.sort.value = S.sort.startup.key;
  u.rescan.disabled = S.scanning;
  const items = S.startup;
  const base = items ? items.filter(itemPassesFilters) : [];
  for (const c of u.chips.children) {
    const f = c.dataset.f;
    c.setAttribute('aria-pressed', String(S.filter === f));
    c.lastChild.textContent = items ? String(base.filter((it) => chipKeeps(f, it)).length) : '';
  }
  fill(u.notes, noteList(S.startupNotes) || '');
  if (items === null) {
    u.count.textContent = '';
    fill(u.body, ...skeleton(6, 'Scanning this computer…', 7));
    return;
  }
  if (S.startupError) {
    u.count.textContent = '';
    fill(u.body, emptyRow(6, 'The scan failed: ' + S.startupError));
    return;
  }
  const rows = base.filter((it) => chipKeeps(S.filter, it)).sort(compareItems);
  if (!S.firstListShown) { S.firstListShown = true; try { performance.mark('qm-first-list'); } catch (e) { /* timing is optional */ } }
  u.count.textContent = (S.scanning ? 'Scanning again… ' : '') + 'Showing ' + rows.length + ' of ' + plural(items.length, 'item', 'items');
  keepFocus(u.body, () => fill(u.body, ...(rows.length ? rows.map(itemRow) : [emptyRow(6, 'Nothing here matches the search and filters.')])));
}
function itemRow(it) {
  const p = S.pending.get(it.id);
  const on = effectivelyOn(it);
  const locked = it.toggle === 'locked';
  const waitingTag = p ? tag(p.action === 'remove' ? 'Will be removed' : p.action === 'disable' ? 'Waiting: switch off' : 'Waiting: switch on', 'warn') : null;
  return h('tr', {class: 'item' + (on ? '' : ' off') + (p ? ' waiting' : '') + (S.selected === it.id ? ' sel' : ''), 'data-id': it.id, onclick: () => openDrawer(it.id)},
    h('td', {class: 'c-sw'}, h('button', {type: 'button', class: 'switch' + (p ? ' changed' : ''), role: 'switch', 'aria-checked': String(on),
      'aria-label': 'Starts with the computer: ' + str(it.name), title: str(it.toggle_note) || null, disabled: locked,
      onclick: (e) => { e.stopPropagation(); flipItem(it); }})),
    h('td', {class: 'c-name'},
      h('div', {class: 'nmline'}, h('button', {type: 'button', class: 'namebtn', text: str(it.name) || str(it.id), onclick: (e) => { e.stopPropagation(); openDrawer(it.id); }}),
        it.managed ? tag('Made by Quillmoor', 'accent') : null, it.toggle === 'admin' ? tag('Admin') : null, locked ? tag('Locked') : null, waitingTag),
      it.description ? h('div', {class: 'sub', text: str(it.description)}) : null,
      it.command ? h('div', {class: 'cmd', text: str(it.command), title: str(it.command)}) : null),
    h('td', {class: 'c-type', text: str(it.kind_label)}),
    h('td', {class: 'c-pub', text: str(it.publisher) || '-'}),
    h('td', {class: 'c-level'}, badge(levelOf(it))),
    h('td', {class: 'c-state', text: str(it.state_text) + (it.running ? ' · running' : '')}));
}
function flipItem(it) {
  if (it.toggle === 'locked') return;
  if (S.pending.has(it.id)) S.pending.delete(it.id);
  else S.pending.set(it.id, {action: it.enabled ? 'disable' : 'enable', id: it.id, name: str(it.name), stop_now: false});
  redrawLists();
}
function markItem(it, action) {
  const p = S.pending.get(it.id);
  if (action === 'remove') { if (p && p.action === 'remove') S.pending.delete(it.id); else S.pending.set(it.id, {action: 'remove', id: it.id, name: str(it.name), stop_now: false}); }
  else { const target = !effectivelyOn(it); if (target === !!it.enabled) S.pending.delete(it.id); else S.pending.set(it.id, {action: target ? 'enable' : 'disable', id: it.id, name: str(it.name), stop_now: false}); }
  redrawLists();
}
function refreshTypes() {
  const u = UI.startup;
  if (!u || !S.startup) return;
  const kinds = [];
  for (const it of S.startup) if (it.kind && !kinds.includes(it.kind)) kinds.push(it.kind);
  if (S.type !== 'all' && !kinds.includes(S.type)) S.type = 'all';
  fill(u.type, h('option', {value: 'all', text: 'All types'}),
    ...kinds.map((k) => h('option', {value: k, text: KIND_WORDS[k] || str((S.startup.find((it) => it.kind === k) || {}).kind_label) || k})));
  u.type.value = S.type;
}
let scanSeq = 0;
async function scanStartup() {
  const my = ++scanSeq;
  S.scanning = true;
  drawStartup();
  try {
    const a = await api('/api/scan', {what: 'startup'});
    if (my !== scanSeq) return;
    S.startup = arr(a.items).filter((x) => x && typeof x === 'object');
    S.startupNotes = arr(a.notes);
    S.startupError = '';
  } catch (e) {
    if (my !== scanSeq) return;
    S.startup = [];
    S.startupNotes = [];
    S.startupError = e.message;
  }
  S.scanning = false;
  // A waiting change whose item is gone, or which the computer already shows, is dropped.
  for (const [id, p] of Array.from(S.pending)) {
    const it = S.startup.find((x) => x.id === id);
    if (!it || (p.action === 'enable' && it.enabled) || (p.action === 'disable' && !it.enabled)) S.pending.delete(id);
  }
  refreshTypes();
  redrawLists();
}
