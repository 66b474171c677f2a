// The History tab: every change made, newest first, each with its Undo.
function buildHistory(panel) {
  const u = UI.history = {};
  u.body = h('tbody');
  panel.append(headOf('History', 'Every change Quillmoor has made on this computer, newest first. Undo puts an item back the way it was before that change.'),
    h('div', {class: 'toolbar'}, h('span', {class: 'spacer'}), btn('Refresh', 'refresh', loadHistory)),
    h('div', {class: 'card tablecard'}, h('table', {class: 'list', id: 'history-table'},
      h('thead', {}, h('tr', {}, h('th', {class: 'c-when', text: 'When (UTC)'}), h('th', {class: 'c-what', text: 'Change'}), h('th', {text: 'Item'}),
        h('th', {class: 'c-res', text: 'Result'}), h('th', {class: 'c-act'}, h('span', {class: 'sr', text: 'Undo'})))),
      u.body)));
  drawHistory();
}
function drawHistory() {
  const u = UI.history;
  if (!u) return;
  if (S.history === null) { fill(u.body, emptyRow(5, 'Loading the history…')); return; }
  if (!S.history.length) { fill(u.body, emptyRow(5, 'No changes yet. Whatever Quillmoor changes will be listed here.')); return; }
  const recs = S.history.slice().sort((a, b) => num(b.seq) - num(a.seq));
  fill(u.body, ...recs.map((r) => h('tr', {'data-id': String(num(r.seq))},
    h('td', {class: 'c-when mono', text: str(r.time)}),
    h('td', {class: 'c-what', text: ACTION_WORDS[r.action] || str(r.action)}),
    h('td', {}, h('div', {class: 'verb nonly', text: ACTION_WORDS[r.action] || str(r.action)}), h('div', {class: 'nm', text: str(r.name)}), r.detail ? h('div', {class: 'sub', text: str(r.detail)}) : null, r.command ? h('div', {class: 'cmd', text: str(r.command), title: str(r.command)}) : null),
    h('td', {class: 'c-res'}, h('div', {class: 'nmline'}, tag(r.ok ? 'Done' : 'Failed', r.ok ? 'good' : 'bad'), r.undone ? tag('Undone') : null)),
    h('td', {class: 'c-act'}, r.can_undo && !r.undone ? btn('Undo', 'undo', () => undo(r), 'small', {'aria-label': 'Undo', title: 'Undo: ' + str(r.name)}) : null))));
}
async function loadHistory() {
  try { S.history = arr((await api('/api/history')).records).filter((x) => x && typeof x === 'object'); } catch (e) {
    if (S.history === null) S.history = [];
    toast('Could not read the history: ' + e.message, 'error');
  }
  drawHistory();
}
async function undo(rec) {
  const what = (ACTION_WORDS[rec.action] || str(rec.action)) + ': ' + str(rec.name) + '.';
  if (!(await ask('Undo this change?', what + ' Quillmoor will put it back the way it was before.', 'Undo'))) return;
  try {
    const a = await api('/api/undo', {seq: num(rec.seq), ack: true});
    toast(str(a.message) || (a.ok ? 'The change was undone.' : 'The change could not be undone.'), a.ok ? '' : 'error');
  } catch (e) { toast('Could not undo: ' + e.message, 'error'); }
  afterChange();
}
