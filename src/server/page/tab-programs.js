// The Running now and Installed apps tabs, which share one view: programs
// that do not start with the computer, each switched on to be made to start.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {app, widgets, element, fill, asArray, asText, plural, byName, tag, btn, checkbox, api, redrawLists, headOf,
  searchBox, skeleton, emptyRow, noteList, keepFocus, sortHeader} = qm;
function buildPrograms(which, panel) {
  const view = widgets[which] = {};
  view.rescan = btn('Scan again', 'refresh', () => scanPrograms(which));
  view.count = element('span');
  view.thead = element('thead');
  view.body = element('tbody');
  view.notes = element('div');
  panel.append(
    which === 'running'
      ? headOf('Running now', 'Programs that are running now but do not start with the computer. Switch one on to make it start; you review the change before anything happens.')
      : headOf('Installed apps', 'Installed programs that do not start with the computer. Switch one on to make it start; you review the change before anything happens.'),
    element('div', {class: 'toolbar'}, searchBox(which === 'running' ? 'Search running programs' : 'Search installed apps', app.q[which], (v) => { app.q[which] = v; drawPrograms(which); }),
      checkbox('Show system programs', app.showSystem, (v) => { app.showSystem = v; for (const w of ['running', 'apps']) { if (widgets[w]) { widgets[w].sys.checked = v; drawPrograms(w); } } }),
      element('span', {class: 'spacer'}), view.rescan),
    element('div', {class: 'meta'}, view.count),
    element('div', {class: 'card tablecard'}, element('table', {class: 'list', id: which + '-table'},
      view.thead, view.body)),
    view.notes);
  view.sys = panel.querySelector('.toolbar input[type=checkbox]');
  drawPrograms(which);
}
function processText(c) {
  const n = asArray(c.pids).length;
  return n ? n + ' ' + (n === 1 ? 'process' : 'processes') : 'not running';
}
function drawPrograms(which) {
  const view = widgets[which];
  if (!view) return;
  fill(view.thead, element('tr', {}, element('th', {class: 'c-sw'}, element('span', {class: 'sr', text: 'Start with the computer'})), sortHeader(which, 'name', 'Name', 1, () => drawPrograms(which)),
    element('th', {class: 'c-pub', text: 'Publisher'}), element('th', {class: 'c-path', text: 'Program'}), element('th', {class: 'c-proc', text: 'Processes'})));
  view.rescan.disabled = app.busyScan[which];
  const list = app[which];
  fill(view.notes, noteList(app[which + 'Notes']) || '');
  if (list === null) {
    view.count.textContent = '';
    fill(view.body, ...skeleton(5, which === 'running' ? 'Looking at the programs running now…' : 'Looking at the installed programs…', 5));
    return;
  }
  if (app[which + 'Error']) {
    view.count.textContent = '';
    fill(view.body, emptyRow(5, 'The scan failed: ' + app[which + 'Error']));
    return;
  }
  const q = app.q[which].trim().toLowerCase();
  const dir = app.sort[which].dir;
  const rows = list.filter((c) => (app.showSystem || !c.system) &&
      (!q || [c.name, c.publisher, c.exe, c.command, c.description].some((f) => asText(f).toLowerCase().includes(q))))
    .sort((a, b) => byName(a, b) * dir);
  view.count.textContent = (app.busyScan[which] ? 'Scanning again… ' : '') + 'Showing ' + rows.length + ' of ' + plural(list.length, 'program', 'programs');
  keepFocus(view.body, () => fill(view.body, ...(rows.length ? rows.map((c) => programRow(c, which)) : [emptyRow(5, 'Nothing here matches the search.')])));
}
function programRow(c, which) {
  const on = app.creates.has(c.id);
  return element('tr', {class: 'item' + (on ? ' waiting' : ''), 'data-id': c.id, onclick: () => flipCandidate(c, which)},
    element('td', {class: 'c-sw'}, element('button', {type: 'button', class: 'switch' + (on ? ' changed' : ''), role: 'switch', 'aria-checked': String(on),
      'aria-label': 'Make it start with the computer: ' + asText(c.name), onclick: (e) => { e.stopPropagation(); flipCandidate(c, which); }})),
    element('td', {class: 'c-name'},
      element('div', {class: 'nmline'}, element('span', {class: 'nm', text: asText(c.name)}), c.source === 'service' ? tag('Service') : null, c.system ? tag('System') : null,
        on ? tag('Waiting: make it start', 'warn') : null),
      c.description ? element('div', {class: 'sub', text: asText(c.description)}) : null,
      asArray(c.notes).map((n) => element('div', {class: 'sub', text: asText(n)})),
      c.command ? element('div', {class: 'cmd', text: asText(c.command), title: asText(c.command)}) : null),
    element('td', {class: 'c-pub', text: asText(c.publisher) || '-'}),
    element('td', {class: 'c-path'}, element('div', {class: 'wrapmono', text: asText(c.exe)})),
    element('td', {class: 'c-proc', text: processText(c)}));
}
function flipCandidate(c) {
  if (app.creates.has(c.id)) app.creates.delete(c.id);
  else {
    const modes = asArray(c.modes);
    const mode = (modes.find((m) => m && m.recommended) || modes[0] || {id: 'login'}).id || 'login';
    app.creates.set(c.id, {candidate: c, spec: {name: asText(c.name), command: asText(c.command), exe: asText(c.exe), workdir: asText(c.workdir), user: asText(c.user), description: '', mode: asText(mode)}});
  }
  redrawLists();
}
async function scanPrograms(which) {
  app.busyScan[which] = true;
  app.stale[which] = false;
  drawPrograms(which);
  try {
    const a = await api('/api/scan', {what: which});
    app[which] = asArray(a.items).filter((x) => x && typeof x === 'object');
    app[which + 'Notes'] = asArray(a.notes);
    app[which + 'Error'] = '';
  } catch (e) {
    app[which] = [];
    app[which + 'Notes'] = [];
    app[which + 'Error'] = e.message;
  }
  app.busyScan[which] = false;
  drawPrograms(which);
}
Object.assign(qm, {buildPrograms, drawPrograms, scanPrograms});
})(quillmoor);
