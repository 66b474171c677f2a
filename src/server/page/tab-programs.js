// The Running now and Installed apps tabs, which share one view: programs
// that do not start with the computer, each switched on to be made to start.
function buildPrograms(which, panel) {
  const u = UI[which] = {};
  u.rescan = btn('Scan again', 'refresh', () => scanPrograms(which));
  u.count = h('span');
  u.thead = h('thead');
  u.body = h('tbody');
  u.notes = h('div');
  panel.append(
    which === 'running'
      ? headOf('Running now', 'Programs that are running now but do not start with the computer. Switch one on to make it start; you review the change before anything happens.')
      : headOf('Installed apps', 'Installed programs that do not start with the computer. Switch one on to make it start; you review the change before anything happens.'),
    h('div', {class: 'toolbar'}, searchBox(which === 'running' ? 'Search running programs' : 'Search installed apps', S.q[which], (v) => { S.q[which] = v; drawPrograms(which); }),
      checkbox('Show system programs', S.showSystem, (v) => { S.showSystem = v; for (const w of ['running', 'apps']) { if (UI[w]) { UI[w].sys.checked = v; drawPrograms(w); } } }),
      h('span', {class: 'spacer'}), u.rescan),
    h('div', {class: 'meta'}, u.count),
    h('div', {class: 'card tablecard'}, h('table', {class: 'list', id: which + '-table'},
      u.thead, u.body)),
    u.notes);
  u.sys = panel.querySelector('.toolbar input[type=checkbox]');
  drawPrograms(which);
}
function processText(c) {
  const n = arr(c.pids).length;
  return n ? n + ' ' + (n === 1 ? 'process' : 'processes') : 'not running';
}
function drawPrograms(which) {
  const u = UI[which];
  if (!u) return;
  fill(u.thead, h('tr', {}, h('th', {class: 'c-sw'}, h('span', {class: 'sr', text: 'Start with the computer'})), sortHeader(which, 'name', 'Name', 1, () => drawPrograms(which)),
    h('th', {class: 'c-pub', text: 'Publisher'}), h('th', {class: 'c-path', text: 'Program'}), h('th', {class: 'c-proc', text: 'Processes'})));
  u.rescan.disabled = S.busyScan[which];
  const list = S[which];
  fill(u.notes, noteList(S[which + 'Notes']) || '');
  if (list === null) {
    u.count.textContent = '';
    fill(u.body, ...skeleton(5, which === 'running' ? 'Looking at the programs running now…' : 'Looking at the installed programs…', 5));
    return;
  }
  if (S[which + 'Error']) {
    u.count.textContent = '';
    fill(u.body, emptyRow(5, 'The scan failed: ' + S[which + 'Error']));
    return;
  }
  const q = S.q[which].trim().toLowerCase();
  const dir = S.sort[which].dir;
  const rows = list.filter((c) => (S.showSystem || !c.system) &&
      (!q || [c.name, c.publisher, c.exe, c.command, c.description].some((f) => str(f).toLowerCase().includes(q))))
    .sort((a, b) => byName(a, b) * dir);
  u.count.textContent = (S.busyScan[which] ? 'Scanning again… ' : '') + 'Showing ' + rows.length + ' of ' + plural(list.length, 'program', 'programs');
  keepFocus(u.body, () => fill(u.body, ...(rows.length ? rows.map((c) => programRow(c, which)) : [emptyRow(5, 'Nothing here matches the search.')])));
}
function programRow(c, which) {
  const on = S.creates.has(c.id);
  return h('tr', {class: 'item' + (on ? ' waiting' : ''), 'data-id': c.id, onclick: () => flipCandidate(c, which)},
    h('td', {class: 'c-sw'}, h('button', {type: 'button', class: 'switch' + (on ? ' changed' : ''), role: 'switch', 'aria-checked': String(on),
      'aria-label': 'Make it start with the computer: ' + str(c.name), onclick: (e) => { e.stopPropagation(); flipCandidate(c, which); }})),
    h('td', {class: 'c-name'},
      h('div', {class: 'nmline'}, h('span', {class: 'nm', text: str(c.name)}), c.source === 'service' ? tag('Service') : null, c.system ? tag('System') : null,
        on ? tag('Waiting: make it start', 'warn') : null),
      c.description ? h('div', {class: 'sub', text: str(c.description)}) : null,
      arr(c.notes).map((n) => h('div', {class: 'sub', text: str(n)})),
      c.command ? h('div', {class: 'cmd', text: str(c.command), title: str(c.command)}) : null),
    h('td', {class: 'c-pub', text: str(c.publisher) || '-'}),
    h('td', {class: 'c-path'}, h('div', {class: 'wrapmono', text: str(c.exe)})),
    h('td', {class: 'c-proc', text: processText(c)}));
}
function flipCandidate(c) {
  if (S.creates.has(c.id)) S.creates.delete(c.id);
  else {
    const modes = arr(c.modes);
    const mode = (modes.find((m) => m && m.recommended) || modes[0] || {id: 'login'}).id || 'login';
    S.creates.set(c.id, {candidate: c, spec: {name: str(c.name), command: str(c.command), exe: str(c.exe), workdir: str(c.workdir), user: str(c.user), description: '', mode: str(mode)}});
  }
  redrawLists();
}
async function scanPrograms(which) {
  S.busyScan[which] = true;
  S.stale[which] = false;
  drawPrograms(which);
  try {
    const a = await api('/api/scan', {what: which});
    S[which] = arr(a.items).filter((x) => x && typeof x === 'object');
    S[which + 'Notes'] = arr(a.notes);
    S[which + 'Error'] = '';
  } catch (e) {
    S[which] = [];
    S[which + 'Notes'] = [];
    S[which + 'Error'] = e.message;
  }
  S.busyScan[which] = false;
  drawPrograms(which);
}
