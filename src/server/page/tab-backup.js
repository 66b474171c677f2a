// The Backup & restore tab: the list of backups; making, downloading and
// deleting one; and reading a backup into the review dialog to restore it.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {app, widgets, element, fill, asArray, asText, asNumber, plural, tag, btn, sizeText, api, toast, ask, headOf,
  emptyRow, openReview, saveJsonFile} = qm;
function buildBackup(panel) {
  const view = widgets.backup = {};
  view.label = element('input', {type: 'text', class: 'txt', placeholder: 'Manual backup', 'aria-label': 'Label for the new backup', maxlength: '120'});
  view.make = btn('Back up now', 'archive', makeBackup, 'primary');
  const file = element('input', {type: 'file', accept: '.json,application/json', class: 'sr', tabindex: '-1', 'aria-hidden': 'true', onchange: async (e) => {
    const f = e.target.files && e.target.files[0];
    if (!f) return;
    let text = '';
    try { text = await f.text(); } catch (err) { toast('Could not read that file: ' + err.message, 'error'); return; } finally { e.target.value = ''; }
    startRestore({text});
  }});
  view.body = element('tbody');
  view.folder = element('p', {class: 'notes'});
  panel.append(
    headOf('Backup & restore', 'A backup is a snapshot of every startup item. Quillmoor makes one by itself before its first change; make your own before a bigger clean-up. Restoring shows you a plan first.'),
    element('div', {class: 'backupbar'}, view.label, view.make, btn('Restore from a file…', 'upload', () => file.click()), file),
    element('div', {class: 'card tablecard'}, element('table', {class: 'list', id: 'backup-table'},
      element('thead', {}, element('tr', {}, element('th', {text: 'Backup'}), element('th', {class: 'c-btime', text: 'Made (UTC)'}), element('th', {class: 'c-bhost', text: 'Computer'}),
        element('th', {class: 'c-bcount', text: 'Items'}), element('th', {class: 'c-bsize', text: 'Size'}), element('th', {class: 'c-bact'}, element('span', {class: 'sr', text: 'Actions'})))),
      view.body)),
    view.folder);
  drawBackups();
}
function drawBackups() {
  const view = widgets.backup;
  if (!view) return;
  view.folder.textContent = app.backupFolder ? 'Backups are kept in ' + app.backupFolder : '';
  if (app.backups === null) { fill(view.body, emptyRow(6, 'Loading the backups…')); return; }
  if (!app.backups.length) { fill(view.body, emptyRow(6, 'No backups yet. Press “Back up now” to make the first one.')); return; }
  const list = app.backups.slice().sort((a, b) => asText(b.time).localeCompare(asText(a.time)));
  fill(view.body, ...list.map((b) => element('tr', {'data-id': asText(b.name)},
    element('td', {}, element('div', {class: 'nmline'}, element('span', {class: 'nm', text: asText(b.label) || 'Backup'}), b.auto ? tag('Automatic') : null), element('div', {class: 'cmd', text: asText(b.name)})),
    element('td', {class: 'c-btime', text: asText(b.time)}), element('td', {class: 'c-bhost', text: asText(b.host)}), element('td', {class: 'c-bcount', text: String(asNumber(b.count))}),
    element('td', {class: 'c-bsize', text: sizeText(b.size)}),
    element('td', {class: 'c-bact'}, element('div', {class: 'rowbtns'},
      btn('Restore…', 'restore', () => startRestore({name: asText(b.name)}), 'small', {'aria-label': 'Restore…', title: 'Restore ' + asText(b.name)}),
      btn('Download', 'download', () => downloadBackup(asText(b.name)), 'small', {'aria-label': 'Download', title: 'Download ' + asText(b.name)}),
      btn('Delete', 'trash', () => deleteBackup(asText(b.name)), 'small danger', {'aria-label': 'Delete', title: 'Delete ' + asText(b.name)}))))));
}
async function loadBackups() {
  try {
    const a = await api('/api/backup/list');
    app.backups = asArray(a.backups).filter((x) => x && typeof x === 'object');
    app.backupFolder = asText(a.folder);
  } catch (e) {
    if (app.backups === null) app.backups = [];
    toast('Could not list the backups: ' + e.message, 'error');
  }
  drawBackups();
}
async function makeBackup() {
  const view = widgets.backup;
  view.make.disabled = true;
  try {
    const a = await api('/api/backup/create', {label: view.label.value.trim()});
    if (a.ok) { toast('Backup saved: ' + plural(asNumber(a.count), 'item', 'items') + ' in ' + asText(a.name) + '.'); view.label.value = ''; }
    else toast(asText(a.message), 'error');
  } catch (e) { toast('Could not make the backup: ' + e.message, 'error'); }
  view.make.disabled = false;
  loadBackups();
}
async function downloadBackup(name) {
  try {
    const a = await api('/api/backup/get', {name});
    if (!a.ok) { toast(asText(a.message), 'error'); return; }
    saveJsonFile(name, asText(a.text));
  } catch (e) { toast('Could not download the backup: ' + e.message, 'error'); }
}
async function deleteBackup(name) {
  if (!(await ask('Delete backup', 'Delete this backup file?', 'Delete', true))) return;
  try {
    const a = await api('/api/backup/delete', {name});
    if (a.ok) toast('The backup was deleted.'); else toast(asText(a.message), 'error');
  } catch (e) { toast('Could not delete the backup: ' + e.message, 'error'); }
  loadBackups();
}
async function startRestore(body) {
  let a;
  try { a = await api('/api/restore/plan', body); } catch (e) { toast('Could not read the backup: ' + e.message, 'error'); return; }
  if (!a.ok) { toast(asText(a.message) || 'Could not read the backup.', 'error'); return; }
  const hd = a.header && typeof a.header === 'object' ? a.header : {};
  const items = asArray(a.items).filter((x) => x && typeof x === 'object');
  const missing = items.filter((x) => !x.change || typeof x.change !== 'object');
  const intro = element('div', {class: 'restore-intro'},
    element('p', {}, 'Backup ', element('b', {text: asText(hd.label) || 'without a label'}), ', made ' + (asText(hd.created) || 'at an unknown time') + ' on ' + (asText(hd.host) || 'an unknown computer') +
      (hd.os_version ? ' (' + asText(hd.os_version) + ')' : '') + ', ' + plural(asNumber(hd.count), 'item', 'items') + '.'),
    a.wrong_machine ? element('p', {class: 'warnbox', text: 'This backup comes from another computer or system. Only items that exist here are listed.'}) : null,
    element('p', {class: 'muted', text: plural(asNumber(a.same), 'item already matches', 'items already match') + '; ' + plural(asNumber(a.appeared), 'item', 'items') + ' appeared since the backup and are left alone.' +
      (asNumber(a.locked) > 0 ? ' ' + plural(asNumber(a.locked), 'item differs', 'items differ') + ' from the backup but cannot be switched here, and ' + (asNumber(a.locked) === 1 ? 'is' : 'are') + ' left alone.' : '')}),
    missing.length ? element('details', {}, element('summary', {text: plural(missing.length, 'item cannot be restored', 'items cannot be restored')}),
      element('ul', {}, missing.map((x) => element('li', {}, element('b', {text: asText(x.name)}), ' - ' + asText(x.detail))))) : null);
  const rows = items.filter((x) => x.change && typeof x.change === 'object').map((x) => ({src: 'restore', req: x.change, name: asText(x.name), detail: asText(x.detail),
    include: !!x.selected, ack: false, stop: !!x.change.stop_now, spec: x.change.action === 'create' && x.change.spec && typeof x.change.spec === 'object' ? x.change.spec : null}));
  openReview('Restore from a backup', rows, intro);
}
Object.assign(qm, {buildBackup, loadBackups});
})(quillmoor);
