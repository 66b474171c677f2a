// The frame around the tabs: theme, header buttons and status line, the tab
// strip and its panels, the waiting-changes bar, and showing and loading a tab.
function setTheme(next) {
  theme = next;
  document.documentElement.dataset.theme = theme;
  try { localStorage.setItem('qm-theme', theme); } catch (e) { /* the choice lasts for this page only */ }
  const b = UI.themeBtn;
  fill(b, icon(theme === 'dark' ? 'sun' : 'moon'), h('span', {class: 'lbl', text: 'Theme'}));
  b.title = theme === 'dark' ? 'Switch to the light theme' : 'Switch to the dark theme';
  b.setAttribute('aria-pressed', String(theme === 'dark'));
}
function buildShell() {
  UI.elevateBtn = btn('Restart as administrator', 'shield', elevate, '', {hidden: true, 'aria-label': 'Restart as administrator'});
  UI.themeBtn = btn('Theme', 'moon', () => setTheme(theme === 'dark' ? 'light' : 'dark'), '', {'aria-label': 'Theme'});
  UI.quitBtn = btn('Quit', 'power', quit, '', {'aria-label': 'Quit'});
  $('#actions').append(UI.elevateBtn, UI.themeBtn, UI.quitBtn);
  setTheme(theme);
  const nav = $('#tabs');
  for (const [id, label, ic] of TABS) {
    nav.appendChild(h('button', {type: 'button', class: 'tab', role: 'tab', id: 'tab-' + id, 'aria-controls': 'panel-' + id,
      'aria-selected': String(id === S.tab), tabindex: id === S.tab ? '0' : '-1', onclick: () => showTab(id)}, icon(ic), label));
  }
  nav.addEventListener('keydown', (e) => {
    const ids = TABS.map((t) => t[0]);
    let i = ids.indexOf(S.tab);
    if (e.key === 'ArrowRight') i = (i + 1) % ids.length; else if (e.key === 'ArrowLeft') i = (i + ids.length - 1) % ids.length;
    else if (e.key === 'Home') i = 0; else if (e.key === 'End') i = ids.length - 1; else return;
    e.preventDefault();
    showTab(ids[i]);
    $('#tab-' + ids[i]).focus();
  });
  const main = $('#main');
  fill(main);
  for (const [id] of TABS) main.appendChild(h('section', {id: 'panel-' + id, role: 'tabpanel', 'aria-labelledby': 'tab-' + id, hidden: id !== S.tab}));
  UI.barText = h('span', {id: 'bar-text'});
  $('#bar').append(UI.barText,
    h('button', {type: 'button', class: 'btn ghost', text: 'Discard', onclick: discardWaiting}),
    h('button', {type: 'button', class: 'btn primary', text: 'Review & apply', onclick: reviewWaiting}));
  window.addEventListener('pagehide', () => {
    if (!S.token || S.stopped) return;
    try { navigator.sendBeacon('/api/bye?k=' + encodeURIComponent(S.token)); } catch (e) { /* the server stops by itself later */ }
  });
}
function showState(st) {
  S.state = st;
  $('#byline').textContent = st.developer ? 'by ' + str(st.developer) : '';
  fill($('#who'), h('span', {text: str(st.host) + ' · ' + str(st.os_version) + ' · ' + str(st.user) + ' · '}),
    tag(st.admin ? 'Administrator' : 'Standard rights', st.admin ? 'accent' : ''),
    st.demo ? tag('Demonstration data - nothing real is read or changed', 'warn') : null);
  UI.elevateBtn.hidden = !!(st.admin || st.demo);
  $('#about').textContent = ['Quillmoor ' + str(st.version), str(st.developer), str(st.company), str(st.copyright)].filter((x) => x.trim()).join(' · ');
}
function drawBar() {
  const n = waitingCount();
  $('#bar').hidden = n === 0;
  UI.barText.textContent = n + ' ' + (n === 1 ? 'change' : 'changes') + ' waiting. Nothing has been changed yet.';
}
function discardWaiting() {
  S.pending.clear();
  S.creates.clear();
  redrawLists();
}
function redrawLists() {
  drawBar();
  if (UI.startup) drawStartup();
  if (UI.running) drawPrograms('running');
  if (UI.apps) drawPrograms('apps');
  if (S.selected) drawDrawer();
}

function showTab(id) {
  S.tab = id;
  for (const [t] of TABS) {
    const b = $('#tab-' + t);
    b.setAttribute('aria-selected', String(t === id));
    b.tabIndex = t === id ? 0 : -1;
    $('#panel-' + t).hidden = t !== id;
  }
  if (id !== 'startup' && !$('#drawer').hidden) closeDrawer(true);
  loadTab(id);
}
function loadTab(id) {
  const panel = $('#panel-' + id);
  if (!UI[id]) BUILD[id](panel);
  if (id === 'startup') { if (S.startup === null && !S.scanning) scanStartup(); }
  else if (id === 'running' || id === 'apps') { if (S[id] === null || S.stale[id]) scanPrograms(id); }
  else if (id === 'history') loadHistory();
  else if (id === 'backup') loadBackups();
  else if (id === 'health') loadHealth();
}
// After anything that changed the computer or the knowledge: read the list
// again and refresh what the visible tab shows.
function afterChange() {
  S.stale.running = true;
  S.stale.apps = true;
  scanStartup();
  if (S.tab !== 'startup') loadTab(S.tab);
}
