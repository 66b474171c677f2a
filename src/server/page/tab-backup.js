// The Backup & restore tab: the list of backups; making, downloading and
// deleting one; and reading a backup into the review dialog to restore it.
function buildBackup(panel) {
  const u = UI.backup = {};
  u.label = h('input', {type: 'text', class: 'txt', placeholder: 'Manual backup', 'aria-label': 'Label for the new backup', maxlength: '120'});
  u.make = btn('Back up now', 'archive', makeBackup, 'primary');
  const file = h('input', {type: 'file', accept: '.json,application/json', class: 'sr', tabindex: '-1', 'aria-hidden': 'true', onchange: async (e) => {
    const f = e.target.files && e.target.files[0];
    if (!f) return;
    let text = '';
    try { text = await f.text(); } catch (err) { toast('Could not read that file: ' + err.message, 'error'); return; } finally { e.target.value = ''; }
    startRestore({text});
  }});
  u.body = h('tbody');
  u.folder = h('p', {class: 'notes'});
  panel.append(
    headOf('Backup & restore', 'A backup is a snapshot of every startup item. Quillmoor makes one by itself before its first change; make your own before a bigger clean-up. Restoring shows you a plan first.'),
    h('div', {class: 'backupbar'}, u.label, u.make, btn('Restore from a file…', 'upload', () => file.click()), file),
    h('div', {class: 'card tablecard'}, h('table', {class: 'list', id: 'backup-table'},
      h('thead', {}, h('tr', {}, h('th', {text: 'Backup'}), h('th', {class: 'c-btime', text: 'Made (UTC)'}), h('th', {class: 'c-bhost', text: 'Computer'}),
        h('th', {class: 'c-bcount', text: 'Items'}), h('th', {class: 'c-bsize', text: 'Size'}), h('th', {class: 'c-bact'}, h('span', {class: 'sr', text: 'Actions'})))),
      u.body)),
    u.folder);
  drawBackups();
}
function drawBackups() {
  const u = UI.backup;
  if (!u) return;
  u.folder.textContent = S.backupFolder ? 'Backups are kept in ' + S.backupFolder : '';
  if (S.backups === null) { fill(u.body, emptyRow(6, 'Loading the backups…')); return; }
  if (!S.backups.length) { fill(u.body, emptyRow(6, 'No backups yet. Press “Back up now” to make the first one.')); return; }
  const list = S.backups.slice().sort((a, b) => str(b.time).localeCompare(str(a.time)));
  fill(u.body, ...list.map((b) => h('tr', {'data-id': str(b.name)},
    h('td', {}, h('div', {class: 'nmline'}, h('span', {class: 'nm', text: str(b.label) || 'Backup'}), b.auto ? tag('Automatic') : null), h('div', {class: 'cmd', text: str(b.name)})),
    h('td', {class: 'c-btime', text: str(b.time)}), h('td', {class: 'c-bhost', text: str(b.host)}), h('td', {class: 'c-bcount', text: String(num(b.count))}),
    h('td', {class: 'c-bsize', text: sizeText(b.size)}),
    h('td', {class: 'c-bact'}, h('div', {class: 'rowbtns'},
      btn('Restore…', 'restore', () => startRestore({name: str(b.name)}), 'small', {'aria-label': 'Restore…', title: 'Restore ' + str(b.name)}),
      btn('Download', 'download', () => downloadBackup(str(b.name)), 'small', {'aria-label': 'Download', title: 'Download ' + str(b.name)}),
      btn('Delete', 'trash', () => deleteBackup(str(b.name)), 'small danger', {'aria-label': 'Delete', title: 'Delete ' + str(b.name)}))))));
}
async function loadBackups() {
  try {
    const a = await api('/api/backup/list');
    S.backups = arr(a.backups).filter((x) => x && typeof x === 'object');
    S.backupFolder = str(a.folder);
  } catch (e) {
    if (S.backups === null) S.backups = [];
    toast('Could not list the backups: ' + e.message, 'error');
  }
  drawBackups();
}
async function makeBackup() {
  const u = UI.backup;
  u.make.disabled = true;
  try {
    const a = await api('/api/backup/create', {label: u.label.value.trim()});
    if (a.ok) { toast('Backup saved: ' + plural(num(a.count), 'item', 'items') + ' in ' + str(a.name) + '.'); u.label.value = ''; }
    else toast(str(a.message), 'error');
  } catch (e) { toast('Could not make the backup: ' + e.message, 'error'); }
  u.make.disabled = false;
  loadBackups();
}
async function downloadBackup(name) {
  try {
    const a = await api('/api/backup/get', {name});
    if (!a.ok) { toast(str(a.message), 'error'); return; }
    const url = URL.createObjectURL(new Blob([str(a.text)], {type: 'application/json'}));
    const link = h('a', {href: url, download: name, class: 'sr'});
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 30000);
  } catch (e) { toast('Could not download the backup: ' + e.message, 'error'); }
}
async function deleteBackup(name) {
  if (!(await ask('Delete backup', 'Delete this backup file?', 'Delete', true))) return;
  try {
    const a = await api('/api/backup/delete', {name});
    if (a.ok) toast('The backup was deleted.'); else toast(str(a.message), 'error');
  } catch (e) { toast('Could not delete the backup: ' + e.message, 'error'); }
  loadBackups();
}
async function startRestore(body) {
  let a;
  try { a = await api('/api/restore/plan', body); } catch (e) { toast('Could not read the backup: ' + e.message, 'error'); return; }
  if (!a.ok) { toast(str(a.message) || 'Could not read the backup.', 'error'); return; }
  const hd = a.header && typeof a.header === 'object' ? a.header : {};
  const items = arr(a.items).filter((x) => x && typeof x === 'object');
  const missing = items.filter((x) => !x.change || typeof x.change !== 'object');
  const intro = h('div', {class: 'restore-intro'},
    h('p', {}, 'Backup ', h('b', {text: str(hd.label) || 'without a label'}), ', made ' + (str(hd.created) || 'at an unknown time') + ' on ' + (str(hd.host) || 'an unknown computer') +
      (hd.os_version ? ' (' + str(hd.os_version) + ')' : '') + ', ' + plural(num(hd.count), 'item', 'items') + '.'),
    a.wrong_machine ? h('p', {class: 'warnbox', text: 'This backup comes from another computer or system. Only items that exist here are listed.'}) : null,
    h('p', {class: 'muted', text: plural(num(a.same), 'item already matches', 'items already match') + '; ' + plural(num(a.appeared), 'item', 'items') + ' appeared since the backup and are left alone.'}),
    missing.length ? h('details', {}, h('summary', {text: plural(missing.length, 'item cannot be restored', 'items cannot be restored')}),
      h('ul', {}, missing.map((x) => h('li', {}, h('b', {text: str(x.name)}), ' - ' + str(x.detail))))) : null);
  const rows = items.filter((x) => x.change && typeof x.change === 'object').map((x) => ({src: 'restore', req: x.change, name: str(x.name), detail: str(x.detail),
    include: !!x.selected, ack: false, stop: !!x.change.stop_now, spec: x.change.action === 'create' && x.change.spec && typeof x.change.spec === 'object' ? x.change.spec : null}));
  openReview('Restore from a backup', rows, intro);
}
