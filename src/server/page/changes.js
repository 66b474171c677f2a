// What changed since an earlier scan: the banner above the startup list with
// the ignore list under it, the mark on each changed row, what the drawer
// says of an item's change and its likely cause, acknowledging, and
// switching an item that came back off again together with its cause, as
// two changes of one review, each with its own tick.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {app, element, fill, asArray, asText, plural, tag, btn, waysOf, api, toast} = qm;
const {openReview, scanStartup} = qm.later;
const CHANGE_WORDS = {new: 'New', 'came back': 'Came back', 'switched on': 'Switched on', 'command changed': 'Command changed', gone: 'Gone'};
const MONTHS = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];
// "2 Dec" from the program's "2026-12-02 10:00:00".
function dayText(time) {
  const m = /^(\d{4})-(\d{2})-(\d{2})/.exec(asText(time));
  return m && MONTHS[Number(m[2]) - 1] ? Number(m[3]) + ' ' + MONTHS[Number(m[2]) - 1] : '';
}
function changesNow() {
  return asArray(app.changes).filter((c) => c && typeof c === 'object' && CHANGE_WORDS[c.change]);
}
function names(list) {
  const shown = list.slice(0, 3).map((c) => asText(c.name));
  return shown.join(', ') + (list.length > 3 ? ' and ' + (list.length - 3) + ' more' : '');
}
// "3 items are new since 2 Dec; Spotify came back on"
function changeSummary(changes) {
  const of = (word) => changes.filter((c) => c.change === word);
  const parts = [];
  const added = of('new');
  const back = of('came back');
  const commands = of('command changed');
  const gone = of('gone');
  const on = of('switched on');
  if (added.length) parts.push(added.length === 1 ? asText(added[0].name) + ' is new' : added.length + ' items are new');
  if (back.length) parts.push(names(back) + ' came back on');
  if (on.length) parts.push(names(on) + (on.length === 1 ? ' was' : ' were') + ' switched on');
  if (commands.length) parts.push(commands.length === 1 ? asText(commands[0].name) + ' has a changed command' : commands.length + ' commands changed');
  if (gone.length) parts.push(gone.length === 1 ? asText(gone[0].name) + ' is gone' : gone.length + ' items are gone');
  const since = changes.map((c) => asText(c.since)).filter(Boolean).sort()[0];
  if (since && dayText(since)) parts[0] += ' since ' + dayText(since);
  return parts.join('; ');
}
async function acknowledge(ids) {
  try {
    await api('/api/changes/ack', {ids});
  } catch (e) {
    toast('The change could not be acknowledged: ' + e.message, 'error');
  }
  scanStartup();
}
async function setIgnored(id, ignored) {
  try {
    await api('/api/changes/ignore', {id, ignored});
  } catch (e) {
    toast('The ignore list could not be changed: ' + e.message, 'error');
  }
  scanStartup();
}
function itemName(id) {
  const it = (app.startup || []).find((x) => x.id === id);
  return it ? asText(it.name) : asText(id);
}
function drawChangesBanner(banner) {
  const changes = changesNow();
  const ignored = asArray(app.ignored).map(asText).filter(Boolean);
  fill(banner,
    changes.length ? element('div', {class: 'notice changes', role: 'status'},
      element('span', {class: 'ch-text', text: changeSummary(changes) + '.'}),
      element('span', {class: 'spacer'}),
      btn('Show only these', null, () => { app.filter = 'changed'; qm.drawStartup(); }, 'ghost'),
      btn('Acknowledge all', 'check', () => acknowledge([]), 'ghost')) : null,
    ignored.length ? element('details', {class: 'ignored'},
      element('summary', {text: 'Ignored for changes: ' + plural(ignored.length, 'item', 'items')}),
      element('ul', {}, ignored.map((id) => element('li', {}, element('span', {text: itemName(id) + ' '}),
        btn('Stop ignoring', null, () => setIgnored(id, false), 'ghost small'))))) : null);
  banner.hidden = !changes.length && !ignored.length;
}
function changeTag(it) {
  return it && CHANGE_WORDS[it.change] ? tag(CHANGE_WORDS[it.change], 'warn') : null;
}
// The cause's change: a service that can start only when needed is set so,
// anything else switched off.
function causeRow(cause) {
  const manual = asArray(waysOf(cause).offered).some((o) => o && o.way === 'manual');
  return {src: 'pending', req: {action: manual ? 'manual' : 'disable', id: cause.id}, name: asText(cause.name), include: true, ack: false, stop: false, offered: []};
}
function switchOffAgain(it) {
  const c = it.cause && typeof it.cause === 'object' ? it.cause : null;
  const causeItem = c && c.item ? (app.startup || []).find((x) => x.id === c.item && x.enabled) : null;
  const rows = [{src: 'pending', req: {action: 'disable', id: it.id}, name: asText(it.name), include: true, ack: false, stop: false,
    offered: asArray(waysOf(it).offered).filter((o) => o && typeof o === 'object')}];
  if (causeItem) rows.push(causeRow(causeItem));
  const intro = element('p', {class: 'note', text: causeItem
    ? 'Its likely cause is switched off too, as a change of its own: untick it to keep it. ' + asText(c.why)
    : 'No cause that Quillmoor can switch is known, so it may come back again.'});
  openReview('Switch it off again', rows, intro);
}
// What the drawer says of a changed item.
function changePart(it) {
  if (!it || !CHANGE_WORDS[it.change]) return null;
  const found = changesNow().find((c) => c.id === it.id);
  const since = found && dayText(found.since) ? ' since ' + dayText(found.since) : '';
  const what = it.change === 'came back' ? 'It came back on' + since + ' after you switched it off.'
    : it.change === 'new' ? 'It is new' + since + '.'
    : it.change === 'switched on' ? 'Another program switched it on' + since + '.' : 'Its command changed' + since + '.';
  const c = it.cause && typeof it.cause === 'object' ? it.cause : null;
  return element('div', {class: 'changed-part'},
    element('p', {class: 'notice', role: 'status', text: what}),
    c ? element('p', {class: 'note'}, element('b', {text: (c.sure === 'likely' ? 'Likely cause: ' : 'Possible cause: ')}), asText(c.why))
      : it.change !== 'command changed' ? element('p', {class: 'note', text: 'The computer\u2019s records name no cause.'}) : null,
    element('div', {class: 'row-btns'},
      (it.change === 'came back' || it.change === 'switched on') && it.enabled ? btn(it.change === 'came back' ? 'Switch it off again' : 'Switch it off', 'power', () => switchOffAgain(it), 'primary') : null,
      btn('Acknowledge', 'check', () => acknowledge([it.id])),
      btn('Ignore changes to it', null, () => setIgnored(it.id, true))));
}
Object.assign(qm, {drawChangesBanner, changeTag, changePart, switchOffAgain});
})(quillmoor);
