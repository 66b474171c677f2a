// The frame around the tabs: theme, header buttons and status line, the tab
// strip and its panels, the waiting-changes bar, and showing and loading a tab
// with the table of tab builders.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {query, TABS, app, widgets, element, fill, icon, asText, tag, btn, waitingCount} = qm;
const {buildStartup, drawStartup, scanStartup, closeDrawer, drawDrawer, buildPrograms, drawPrograms, scanPrograms,
  reviewWaiting, buildBackup, loadBackups, buildHistory, loadHistory, buildHealth, loadHealth, elevate,
  quit} = qm.later;
// The theme chosen before in this browser, or else the system's.
let theme = '';
try { theme = localStorage.getItem('qm-theme') || ''; } catch (e) { theme = ''; }
if (theme !== 'light' && theme !== 'dark') theme = window.matchMedia && matchMedia('(prefers-color-scheme: dark)').matches ? 'dark' : 'light';
document.documentElement.dataset.theme = theme;
function setTheme(next) {
  theme = next;
  document.documentElement.dataset.theme = theme;
  try { localStorage.setItem('qm-theme', theme); } catch (e) { /* the choice lasts for this page only */ }
  const b = widgets.themeBtn;
  fill(b, icon(theme === 'dark' ? 'sun' : 'moon'), element('span', {class: 'lbl', text: 'Theme'}));
  b.title = theme === 'dark' ? 'Switch to the light theme' : 'Switch to the dark theme';
  b.setAttribute('aria-pressed', String(theme === 'dark'));
}
function buildShell() {
  widgets.elevateBtn = btn('Restart as administrator', 'shield', elevate, '', {hidden: true, 'aria-label': 'Restart as administrator'});
  widgets.themeBtn = btn('Theme', 'moon', () => setTheme(theme === 'dark' ? 'light' : 'dark'), '', {'aria-label': 'Theme'});
  widgets.quitBtn = btn('Quit', 'power', quit, '', {'aria-label': 'Quit'});
  query('#actions').append(widgets.elevateBtn, widgets.themeBtn, widgets.quitBtn);
  setTheme(theme);
  const nav = query('#tabs');
  for (const [id, label, ic] of TABS) {
    nav.appendChild(element('button', {type: 'button', class: 'tab', role: 'tab', id: 'tab-' + id, 'aria-controls': 'panel-' + id,
      'aria-selected': String(id === app.tab), tabindex: id === app.tab ? '0' : '-1', onclick: () => showTab(id)}, icon(ic), label));
  }
  nav.addEventListener('keydown', (e) => {
    const ids = TABS.map((t) => t[0]);
    let i = ids.indexOf(app.tab);
    if (e.key === 'ArrowRight') i = (i + 1) % ids.length; else if (e.key === 'ArrowLeft') i = (i + ids.length - 1) % ids.length;
    else if (e.key === 'Home') i = 0; else if (e.key === 'End') i = ids.length - 1; else return;
    e.preventDefault();
    showTab(ids[i]);
    query('#tab-' + ids[i]).focus();
  });
  const main = query('#main');
  fill(main);
  // The tabs and panels are laid out and painted first with the list
  // (showShell): a frame of them alone before it would delay it.
  nav.hidden = true;
  main.hidden = true;
  for (const [id] of TABS) main.appendChild(element('section', {id: 'panel-' + id, role: 'tabpanel', 'aria-labelledby': 'tab-' + id, hidden: id !== app.tab}));
  widgets.barText = element('span', {id: 'bar-text'});
  query('#bar').append(widgets.barText,
    element('button', {type: 'button', class: 'btn ghost', text: 'Discard', onclick: discardWaiting}),
    element('button', {type: 'button', class: 'btn primary', text: 'Review & apply', onclick: reviewWaiting}));
  window.addEventListener('pagehide', () => {
    if (!app.token || app.stopped) return;
    try { navigator.sendBeacon('/api/bye?k=' + encodeURIComponent(app.token)); } catch (e) { /* the server stops by itself later */ }
  });
}
// Shows the tabs and panels: with the first list, once the answers take
// longer than a glance, or when the page cannot go on.
function showShell() {
  if (app.stopped) return;  // the page is gone
  query('#tabs').hidden = false;
  query('#main').hidden = false;
}
function showState(st) {
  app.state = st;
  query('#byline').textContent = st.developer ? 'by ' + asText(st.developer) : '';
  fill(query('#who'), element('span', {text: asText(st.host) + ' · ' + asText(st.os_version) + ' · ' + asText(st.user) + ' · '}),
    tag(st.admin ? 'Administrator' : 'Standard rights', st.admin ? 'accent' : ''),
    st.demo ? tag('Demonstration data - nothing real is read or changed', 'warn') : null);
  widgets.elevateBtn.hidden = !!(st.admin || st.demo);
  query('#about').textContent = ['Quillmoor ' + asText(st.version), asText(st.developer), asText(st.company), asText(st.copyright)].filter((x) => x.trim()).join(' · ');
}
function drawBar() {
  const n = waitingCount();
  query('#bar').hidden = n === 0;
  widgets.barText.textContent = n + ' ' + (n === 1 ? 'change' : 'changes') + ' waiting. Nothing has been changed yet.';
}
function discardWaiting() {
  app.pending.clear();
  app.creates.clear();
  redrawLists();
}
function redrawLists() {
  drawBar();
  if (widgets.startup) drawStartup();
  if (widgets.running) drawPrograms('running');
  if (widgets.apps) drawPrograms('apps');
  if (app.selected) drawDrawer();
}

function showTab(id) {
  app.tab = id;
  for (const [t] of TABS) {
    const b = query('#tab-' + t);
    b.setAttribute('aria-selected', String(t === id));
    b.tabIndex = t === id ? 0 : -1;
    query('#panel-' + t).hidden = t !== id;
  }
  if (id !== 'startup' && !query('#drawer').hidden) closeDrawer(true);
  loadTab(id);
}
const TAB_BUILDERS = {startup: buildStartup, running: (p) => buildPrograms('running', p), apps: (p) => buildPrograms('apps', p), backup: buildBackup, history: buildHistory, health: buildHealth};
// Builds a tab's panel the first time it is asked for; nothing is loaded.
function buildTab(id) {
  if (!widgets[id]) TAB_BUILDERS[id](query('#panel-' + id));
}
function loadTab(id) {
  buildTab(id);
  if (id === 'startup') { if (app.startup === null && !app.scanning) scanStartup(); }
  else if (id === 'running' || id === 'apps') { if (app[id] === null || app.stale[id]) scanPrograms(id); }
  else if (id === 'history') loadHistory();
  else if (id === 'backup') loadBackups();
  else if (id === 'health') loadHealth();
}
// After anything that changed the computer or the knowledge: read the list
// again and refresh what the visible tab shows.
function afterChange() {
  app.stale.running = true;
  app.stale.apps = true;
  scanStartup();
  if (app.tab !== 'startup') loadTab(app.tab);
}
Object.assign(qm, {buildShell, showShell, showState, drawBar, redrawLists, buildTab, loadTab, afterChange});
})(quillmoor);
