// The History tab: every change made, newest first, each with its Undo and,
// where starts were measured before it, how long starting took before and since.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {ACTION_WORDS, app, widgets, element, fill, asArray, asText, asNumber, tag, btn, api, toast, ask, afterChange,
  headOf, emptyRow} = qm;
function buildHistory(panel) {
  const view = widgets.history = {};
  view.body = element('tbody');
  panel.append(headOf('History', 'Every change Quillmoor has made on this computer, newest first. Undo puts an item back the way it was before that change.'),
    element('div', {class: 'toolbar'}, element('span', {class: 'spacer'}), btn('Refresh', 'refresh', loadHistory)),
    element('div', {class: 'card tablecard'}, element('table', {class: 'list', id: 'history-table'},
      element('thead', {}, element('tr', {}, element('th', {class: 'c-when', text: 'When (UTC)'}), element('th', {class: 'c-what', text: 'Change'}), element('th', {text: 'Item'}),
        element('th', {class: 'c-res', text: 'Result'}), element('th', {class: 'c-act'}, element('span', {class: 'sr', text: 'Undo'})))),
      view.body)));
  drawHistory();
}
function drawHistory() {
  const view = widgets.history;
  if (!view) return;
  if (app.history === null) { fill(view.body, emptyRow(5, 'Loading the history…')); return; }
  if (!app.history.length) { fill(view.body, emptyRow(5, 'No changes yet. Whatever Quillmoor changes will be listed here.')); return; }
  const recs = app.history.slice().sort((a, b) => asNumber(b.seq) - asNumber(a.seq));
  fill(view.body, ...recs.map((r) => element('tr', {'data-id': String(asNumber(r.seq))},
    element('td', {class: 'c-when mono', text: asText(r.time)}),
    element('td', {class: 'c-what', text: ACTION_WORDS[r.action] || asText(r.action)}),
    element('td', {}, element('div', {class: 'verb nonly', text: ACTION_WORDS[r.action] || asText(r.action)}), element('div', {class: 'nm', text: asText(r.name)}), r.detail ? element('div', {class: 'sub', text: asText(r.detail)}) : null, r.command ? element('div', {class: 'cmd', text: asText(r.command), title: asText(r.command)}) : null,
      ...asArray(r.startup).map((line) => element('div', {class: 'sub effect', text: asText(line), title: app.historyNote}))),
    element('td', {class: 'c-res'}, element('div', {class: 'nmline'}, r.action === 'observed' ? tag('Observed') : tag(r.ok ? 'Done' : 'Failed', r.ok ? 'good' : 'bad'), r.undone ? tag('Undone') : null,
      r.interrupted ? tag(r.ok ? 'Interrupted, found made' : 'Interrupted, not made') : null, r.own === false ? tag('Another account') : null)),
    element('td', {class: 'c-act'}, r.can_undo && !r.undone ? btn('Undo', 'undo', () => undo(r), 'small', {'aria-label': 'Undo', title: 'Undo: ' + asText(r.name)}) : null))));
}
async function loadHistory() {
  try {
    const answer = await api('/api/history');
    app.history = asArray(answer.records).filter((x) => x && typeof x === 'object');
    app.historyNote = asText(answer.startup_note);
  } catch (e) {
    if (app.history === null) app.history = [];
    toast('Could not read the history: ' + e.message, 'error');
  }
  drawHistory();
}
async function undo(rec) {
  const what = (ACTION_WORDS[rec.action] || asText(rec.action)) + ': ' + asText(rec.name) + '.';
  if (!(await ask('Undo this change?', what + ' Quillmoor will put it back the way it was before.', 'Undo'))) return;
  try {
    const a = await api('/api/undo', {seq: asNumber(rec.seq), ack: true});
    toast(asText(a.message) || (a.ok ? 'The change was undone.' : 'The change could not be undone.'), a.ok ? '' : 'error');
  } catch (e) { toast('Could not undo: ' + e.message, 'error'); }
  afterChange();
}
Object.assign(qm, {buildHistory, loadHistory});
})(quillmoor);
