// The header's switch "Watch for changes": while it is on, one long poll to
// /api/watch stays open, and each change the program sees reads the Startup
// list again. Turning it off, or leaving the page, ends the poll and the
// program's watch with it.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {query, app, element, asArray, asText, asNumber, toast, api, scanStartup} = qm;
let on = false;
let poll = null;  // the AbortController of the poll on its way
let cursor = null;  // the number of the last change seen; none before the first answer
const offTitle = 'Read the list again whenever something changes what starts';
const sw = element('button', {type: 'button', class: 'switch', role: 'switch', 'aria-checked': 'false', id: 'watch-switch',
  'aria-labelledby': 'watch-label', title: offTitle, onclick: () => setOn(!on)});
query('#actions').prepend(element('span', {class: 'check'}, sw, element('span', {class: 'lbl', id: 'watch-label', text: 'Watch for changes'})));
function setOn(next) {
  if (next === on || (next && (!app.token || app.stopped))) return;
  on = next;
  sw.setAttribute('aria-checked', String(on));
  if (on) { cursor = null; follow(); return; }
  if (poll) poll.abort();
  sw.title = offTitle;
  api('/api/watch/stop', {}).catch(() => {});
}
async function follow() {
  while (on && !app.stopped) {
    poll = new AbortController();
    let a = null;
    try {
      const res = await fetch('/api/watch', {method: 'POST', signal: poll.signal, cache: 'no-store',
        headers: {'x-quillmoor-token': app.token, 'content-type': 'application/json'}, body: JSON.stringify(cursor === null ? {} : {after: cursor})});
      a = await res.json();
    } catch (e) {
      if (!on) return;
      a = null;
    }
    if (!on) return;
    if (!a || typeof a !== 'object' || a.ok === false) {
      setOn(false);
      toast('Changes can no longer be watched: ' + (a && asText(a.message) || 'the program did not answer.'), 'error');
      return;
    }
    if (cursor === null) sw.title = 'Watching ' + asNumber(a.places) + ' places for changes to what starts';
    cursor = asNumber(a.cursor);
    const changes = asArray(a.changes).filter((c) => c && typeof c === 'object');
    if (changes.length) {
      const c = changes[changes.length - 1];
      toast(changes.length === 1 ? asText(c.name) + ': ' + asText(c.change) + '.' : changes.length + ' changes to what starts were seen.');
      scanStartup();
    }
  }
}
addEventListener('pagehide', () => { if (on) { on = false; if (poll) poll.abort(); } });
})(quillmoor);
