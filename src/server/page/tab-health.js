// The Health & updates tab: knowledge status, updates and their settings,
// the self-check, and the copied report with private details removed.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {PROBE_MARKS, app, widgets, element, fill, asArray, asText, asNumber, plural, tag, btn, api, toast, copyText,
  afterChange, headOf, noteList, fact} = qm;
function buildHealth(panel) {
  const view = widgets.health = {};
  view.facts = element('dl', {class: 'facts'});
  view.notes = element('div');
  view.url = element('input', {type: 'text', spellcheck: 'false', 'aria-label': 'Update address'});
  view.auto = element('input', {type: 'checkbox'});
  view.probes = element('ul', {class: 'probes', 'aria-live': 'polite'});
  view.report = element('pre', {class: 'report', hidden: true, 'aria-label': 'The report as copied'});
  const file = element('input', {type: 'file', accept: '.json,application/json', class: 'sr', tabindex: '-1', 'aria-hidden': 'true', onchange: async (e) => {
    const f = e.target.files && e.target.files[0];
    if (!f) return;
    let text = '';
    try { text = await f.text(); } catch (err) { toast('Could not read that file: ' + err.message, 'error'); return; } finally { e.target.value = ''; }
    knowledgeAction('/api/knowledge/import', {text});
  }});
  view.buttons = [btn('Check for a knowledge update', 'refresh', (e) => knowledgeAction('/api/knowledge/update', {}, e.currentTarget), 'primary'),
    btn('Install an update from a file…', 'file', () => file.click()),
    btn('Go back to the previous knowledge', 'undo', () => knowledgeAction('/api/knowledge/rollback', {}))];
  panel.append(
    headOf('Health & updates', 'The knowledge tells Quillmoor what switching each item off would do. Keep it current, and check that Quillmoor can do its work on this computer.'),
    element('div', {class: 'grid2'},
      element('section', {class: 'card pad', 'aria-labelledby': 'kn-h'}, element('h3', {id: 'kn-h', text: 'Knowledge'}),
        element('p', {class: 'lead', text: 'Updates are checked against a published checksum before they are used.'}),
        view.facts, view.notes, element('div', {class: 'btnrow'}, view.buttons, file),
        element('div', {class: 'inline'}, element('label', {class: 'field'}, element('span', {text: 'Update address'}), view.url),
          btn('Save', 'check', saveSettings)),
        element('div', {class: 'btnrow'}, element('label', {class: 'check'}, view.auto, element('span', {text: 'Also check when Quillmoor starts'})))),
      element('section', {class: 'card pad', 'aria-labelledby': 'dr-h'}, element('h3', {id: 'dr-h', text: 'Self-check'}),
        element('p', {class: 'lead', text: 'What Quillmoor needs from this computer, and whether it has it.'}),
        view.probes,
        element('div', {class: 'btnrow'}, btn('Run the check again', 'refresh', loadDoctor), btn('Copy a report (private details removed)', 'copy', copyReport)),
        view.report)));
  drawHealth();
}
function drawHealth() {
  const view = widgets.health;
  if (!view) return;
  const k = app.knowledge;
  if (k) {
    fill(view.facts, 
      ...fact('Built-in knowledge', asText(k.builtin_version) + ' (' + plural(asNumber(k.builtin_rules), 'rule', 'rules') + ')'),
      ...fact('Installed update', k.pack_version ? asText(k.pack_version) + (k.pack_published ? ', published ' + asText(k.pack_published) : '') : 'None'),
      ...fact('Your own rules', String(asNumber(k.local_rules))),
      ...fact('Last checked', k.last_check ? asText(k.last_check) + (k.last_result ? ' - ' + asText(k.last_result) : '') : 'Never'));
    fill(view.notes, noteList(asArray(k.notes)) || '');
    if (document.activeElement !== view.url) view.url.value = asText(k.url);
    view.auto.checked = !!k.auto_check;
  } else fill(view.facts, element('dt', {text: 'Loading…'}), element('dd'));
  const probes = app.doctor;
  if (probes === null) fill(view.probes, element('li', {class: 'muted', text: 'Checking…'}));
  else if (!probes.length) fill(view.probes, element('li', {class: 'muted', text: 'No checks were reported.'}));
  else fill(view.probes, ...probes.map((p) => {
    const mark = PROBE_MARKS[p.status] || [asText(p.status), ''];
    return element('li', {}, tag(mark[0], mark[1]), element('div', {}, element('div', {class: 'nm', text: asText(p.name)}), element('div', {class: 'sub', text: asText(p.detail)})));
  }));
}
function loadHealth() { loadKnowledge(); loadDoctor(); }
async function loadKnowledge() {
  try { app.knowledge = await api('/api/knowledge'); } catch (e) { toast('Could not read the knowledge status: ' + e.message, 'error'); }
  drawHealth();
}
async function loadDoctor() {
  try { app.doctor = asArray((await api('/api/doctor')).probes).filter((x) => x && typeof x === 'object'); } catch (e) {
    if (app.doctor === null) app.doctor = [];
    toast('Could not run the self-check: ' + e.message, 'error');
  }
  drawHealth();
}
async function knowledgeAction(path, body, button) {
  const buttons = widgets.health.buttons;
  for (const b of buttons) b.disabled = true;
  const old = button ? button.lastChild.textContent : '';
  if (button) button.lastChild.textContent = 'Checking…';
  try {
    const a = await api(path, body);
    if (a.status && typeof a.status === 'object') app.knowledge = a.status;
    toast(asText(a.message) || (a.ok ? 'Done.' : 'That did not work.'), a.ok ? '' : 'error');
    drawHealth();
    if (a.ok) afterChange();
  } catch (e) { toast('The knowledge could not be changed: ' + e.message, 'error'); }
  for (const b of buttons) b.disabled = false;
  if (button) button.lastChild.textContent = old;
}
async function saveSettings() {
  const view = widgets.health;
  try {
    const a = await api('/api/knowledge/settings', {auto_check: view.auto.checked, url: view.url.value.trim()});
    if (a.ok) { if (a.status && typeof a.status === 'object') app.knowledge = a.status; toast('The update settings were saved.'); drawHealth(); }
    else toast(asText(a.message), 'error');
  } catch (e) { toast('Could not save the settings: ' + e.message, 'error'); }
}
// The report leaves the computer, so the home folder, the user name and the
// computer name are replaced; names are matched whole so that a short user
// name does not cut into ordinary words.
function scrubPrivate(text) {
  const st = app.state || {};
  const esc = (s) => s.replace(/[.*+?^${}()|[\]\\]/g, '\\$&');
  const marks = [];
  const swap = (value, label, whole) => {
    value = asText(value);
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
  const st = app.state || {};
  const k = app.knowledge || {};
  const lines = ['Quillmoor ' + asText(st.version) + ' report', 'Developer: ' + asText(st.developer), 'Operating system: ' + (asText(st.os_version) || asText(st.os)), '', 'Self-check:'];
  for (const p of app.doctor || []) lines.push('[' + asText(p.status) + '] ' + asText(p.name) + ': ' + asText(p.detail));
  lines.push('', 'Knowledge: built-in ' + asText(k.builtin_version) + ' (' + asNumber(k.builtin_rules) + ' rules); installed update ' + (asText(k.pack_version) || 'none') +
    '; own rules ' + asNumber(k.local_rules) + '; last checked ' + (asText(k.last_check) || 'never'));
  return scrubPrivate(lines.join('\n'));
}
async function copyReport() {
  if (app.doctor === null || app.knowledge === null) await Promise.all([loadKnowledge(), loadDoctor()]);
  const text = reportText();
  const view = widgets.health;
  view.report.textContent = text;
  view.report.hidden = false;
  toast(await copyText(text) ? 'The report is on the clipboard; it is shown below as well.' : 'The clipboard could not be used; the report is shown below to copy by hand.');
}
Object.assign(qm, {buildHealth, loadHealth});
})(quillmoor);
