// The Health & updates tab: knowledge status, updates and their settings,
// the self-check, and the copied report with private details removed.
function buildHealth(panel) {
  const u = UI.health = {};
  u.facts = h('dl', {class: 'facts'});
  u.notes = h('div');
  u.url = h('input', {type: 'text', spellcheck: 'false', 'aria-label': 'Update address'});
  u.auto = h('input', {type: 'checkbox'});
  u.probes = h('ul', {class: 'probes', 'aria-live': 'polite'});
  u.report = h('pre', {class: 'report', hidden: true, 'aria-label': 'The report as copied'});
  const file = h('input', {type: 'file', accept: '.json,application/json', class: 'sr', tabindex: '-1', 'aria-hidden': 'true', onchange: async (e) => {
    const f = e.target.files && e.target.files[0];
    if (!f) return;
    let text = '';
    try { text = await f.text(); } catch (err) { toast('Could not read that file: ' + err.message, 'error'); return; } finally { e.target.value = ''; }
    knowledgeAction('/api/knowledge/import', {text});
  }});
  u.buttons = [btn('Check for a knowledge update', 'refresh', (e) => knowledgeAction('/api/knowledge/update', {}, e.currentTarget), 'primary'),
    btn('Install an update from a file…', 'file', () => file.click()),
    btn('Go back to the previous knowledge', 'undo', () => knowledgeAction('/api/knowledge/rollback', {}))];
  panel.append(
    headOf('Health & updates', 'The knowledge tells Quillmoor what switching each item off would do. Keep it current, and check that Quillmoor can do its work on this computer.'),
    h('div', {class: 'grid2'},
      h('section', {class: 'card pad', 'aria-labelledby': 'kn-h'}, h('h3', {id: 'kn-h', text: 'Knowledge'}),
        h('p', {class: 'lead', text: 'Updates are checked against a published checksum before they are used.'}),
        u.facts, u.notes, h('div', {class: 'btnrow'}, u.buttons, file),
        h('div', {class: 'inline'}, h('label', {class: 'field'}, h('span', {text: 'Update address'}), u.url),
          btn('Save', 'check', saveSettings)),
        h('div', {class: 'btnrow'}, h('label', {class: 'check'}, u.auto, h('span', {text: 'Also check when Quillmoor starts'})))),
      h('section', {class: 'card pad', 'aria-labelledby': 'dr-h'}, h('h3', {id: 'dr-h', text: 'Self-check'}),
        h('p', {class: 'lead', text: 'What Quillmoor needs from this computer, and whether it has it.'}),
        u.probes,
        h('div', {class: 'btnrow'}, btn('Run the check again', 'refresh', loadDoctor), btn('Copy a report (private details removed)', 'copy', copyReport)),
        u.report)));
  drawHealth();
}
function drawHealth() {
  const u = UI.health;
  if (!u) return;
  const k = S.knowledge;
  if (k) {
    fill(u.facts, 
      ...fact('Built-in knowledge', str(k.builtin_version) + ' (' + plural(num(k.builtin_rules), 'rule', 'rules') + ')'),
      ...fact('Installed update', k.pack_version ? str(k.pack_version) + (k.pack_published ? ', published ' + str(k.pack_published) : '') : 'None'),
      ...fact('Your own rules', String(num(k.local_rules))),
      ...fact('Last checked', k.last_check ? str(k.last_check) + (k.last_result ? ' - ' + str(k.last_result) : '') : 'Never'));
    fill(u.notes, noteList(arr(k.notes)) || '');
    if (document.activeElement !== u.url) u.url.value = str(k.url);
    u.auto.checked = !!k.auto_check;
  } else fill(u.facts, h('dt', {text: 'Loading…'}), h('dd'));
  const probes = S.doctor;
  if (probes === null) fill(u.probes, h('li', {class: 'muted', text: 'Checking…'}));
  else if (!probes.length) fill(u.probes, h('li', {class: 'muted', text: 'No checks were reported.'}));
  else fill(u.probes, ...probes.map((p) => {
    const mark = PROBE_MARKS[p.status] || [str(p.status), ''];
    return h('li', {}, tag(mark[0], mark[1]), h('div', {}, h('div', {class: 'nm', text: str(p.name)}), h('div', {class: 'sub', text: str(p.detail)})));
  }));
}
function loadHealth() { loadKnowledge(); loadDoctor(); }
async function loadKnowledge() {
  try { S.knowledge = await api('/api/knowledge'); } catch (e) { toast('Could not read the knowledge status: ' + e.message, 'error'); }
  drawHealth();
}
async function loadDoctor() {
  try { S.doctor = arr((await api('/api/doctor')).probes).filter((x) => x && typeof x === 'object'); } catch (e) {
    if (S.doctor === null) S.doctor = [];
    toast('Could not run the self-check: ' + e.message, 'error');
  }
  drawHealth();
}
async function knowledgeAction(path, body, button) {
  const buttons = UI.health.buttons;
  for (const b of buttons) b.disabled = true;
  const old = button ? button.lastChild.textContent : '';
  if (button) button.lastChild.textContent = 'Checking…';
  try {
    const a = await api(path, body);
    if (a.status && typeof a.status === 'object') S.knowledge = a.status;
    toast(str(a.message) || (a.ok ? 'Done.' : 'That did not work.'), a.ok ? '' : 'error');
    drawHealth();
    if (a.ok) afterChange();
  } catch (e) { toast('The knowledge could not be changed: ' + e.message, 'error'); }
  for (const b of buttons) b.disabled = false;
  if (button) button.lastChild.textContent = old;
}
async function saveSettings() {
  const u = UI.health;
  try {
    const a = await api('/api/knowledge/settings', {auto_check: u.auto.checked, url: u.url.value.trim()});
    if (a.ok) { if (a.status && typeof a.status === 'object') S.knowledge = a.status; toast('The update settings were saved.'); drawHealth(); }
    else toast(str(a.message), 'error');
  } catch (e) { toast('Could not save the settings: ' + e.message, 'error'); }
}
// The report leaves the computer, so the home folder, the user name and the
// computer name are replaced; names are matched whole so that a short user
// name does not cut into ordinary words.
function scrubPrivate(text) {
  const st = S.state || {};
  const esc = (s) => s.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const marks = [];
  const swap = (value, label, whole) => {
    value = str(value);
    if (!value.trim()) return;
    const mark = '\u0001' + marks.length + '\u0001';
    marks.push(label);
    const variants = [value, value.replace(/\\/g, '/')];
    for (const v of variants) {
      const re = whole ? new RegExp('(?<![A-Za-z0-9_])' + esc(v) + '(?![A-Za-z0-9_])', 'gi') : new RegExp(esc(v), 'gi');
      text = text.replace(re, mark);
    }
  };
  swap(st.home, '<home>', false);
  swap(st.user, '<user>', true);
  swap(st.host, '<computer>', true);
  return text.replace(/\u0001(\d+)\u0001/g, (m, i) => marks[Number(i)]);
}
function reportText() {
  const st = S.state || {};
  const k = S.knowledge || {};
  const lines = ['Quillmoor ' + str(st.version) + ' report', 'Developer: ' + str(st.developer), 'Operating system: ' + (str(st.os_version) || str(st.os)), '', 'Self-check:'];
  for (const p of S.doctor || []) lines.push('[' + str(p.status) + '] ' + str(p.name) + ': ' + str(p.detail));
  lines.push('', 'Knowledge: built-in ' + str(k.builtin_version) + ' (' + num(k.builtin_rules) + ' rules); installed update ' + (str(k.pack_version) || 'none') +
    '; own rules ' + num(k.local_rules) + '; last checked ' + (str(k.last_check) || 'never'));
  return scrubPrivate(lines.join('\n'));
}
async function copyReport() {
  if (S.doctor === null || S.knowledge === null) await Promise.all([loadKnowledge(), loadDoctor()]);
  const text = reportText();
  const u = UI.health;
  u.report.textContent = text;
  u.report.hidden = false;
  toast(await copyText(text) ? 'The report is on the clipboard; it is shown below as well.' : 'The clipboard could not be used; the report is shown below to copy by hand.');
}
