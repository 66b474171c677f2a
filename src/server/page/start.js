// The header's administrator and quit actions, and the start of the page,
// which comes last so that every file has added what it offers before it.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {query, app, element, fill, icon, asText, waitingCount, api, Stop, obtainToken, showStop, toast, ask, buildShell, showShell,
  showState, buildTab, loadTab} = qm;
let pingTimer = 0;
async function elevate() {
  try {
    const a = await api('/api/elevate', {});
    if (a.ok) toast('A copy of Quillmoor with administrator rights is starting; it opens its own window.');
    else toast(asText(a.message), 'error');
  } catch (e) { toast('Could not restart as administrator: ' + e.message, 'error'); }
}
async function quit() {
  if (waitingCount() && !(await ask('Quit Quillmoor?', 'There are changes waiting that have not been applied. Quit anyway?', 'Quit anyway', true))) return;
  try { await api('/api/quit', {}); } catch (e) { toast('Could not stop Quillmoor: ' + e.message, 'error'); return; }
  app.stopped = true;
  clearInterval(pingTimer);
  const mark = element('div', {}, icon('power'));
  fill(document.body, element('main', {class: 'stopped'}, mark, element('h1', {id: 'stopped', text: 'Quillmoor has stopped. You can close this tab.'})));
}

async function start() {
  // The link's key goes to the program first; the frame and the empty list
  // are built while its answer is on the way.
  const token = obtainToken();
  buildShell();
  buildTab('startup');
  // The tabs and the empty list are shown with the first list, or after a
  // quarter of a second when the program's answers take longer than that.
  const shellTimer = setTimeout(showShell, 250);
  try {
    app.token = await token;
  } catch (e) {
    clearTimeout(shellTimer);  // the stop message hides the tabs for good
    showShell();
    showStop(e instanceof Stop ? e.message : 'The link could not be used.');
    return;
  }
  loadTab('startup');  // the list's scan is asked for first: the window waits on it
  api('/api/state').then(showState, (e) => { fill(query('#who'), element('span', {class: 'stopmsg', text: 'Cannot reach the program: ' + e.message})); });
  api('/api/ping', {}).catch(() => {});
  // The goodbye of a reloaded page can arrive after this page's first ping,
  // or within the same second; a second ping soon after keeps the program.
  setTimeout(() => { if (!app.stopped) api('/api/ping', {}).catch(() => {}); }, 2000);
  pingTimer = setInterval(() => { if (!app.stopped) api('/api/ping', {}).catch(() => {}); }, 15000);
}
Object.assign(qm, {elevate, quit});
start();
})(quillmoor);
