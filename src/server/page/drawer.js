// The detail drawer of a startup item: its judgement, its facts, and buttons
// to mark it for a change.
let drawerReturn = null;
function openDrawer(id) {
  const wasOpen = !$('#drawer').hidden;
  if (!wasOpen) drawerReturn = document.activeElement;
  S.selected = id;
  $('#drawer').hidden = false;
  drawDrawer();
  drawStartup();
  const c = $('#dr-close');
  if (c) c.focus();
}
function closeDrawer(quiet) {
  const id = S.selected;
  $('#drawer').hidden = true;
  S.selected = '';
  drawStartup();
  if (quiet) return;
  let target = null;
  if (UI.startup) for (const tr of UI.startup.body.rows) if (tr.dataset.id === id) target = tr.querySelector('.namebtn');
  if (target) target.focus(); else if (drawerReturn && document.contains(drawerReturn)) drawerReturn.focus();
}
function fact(label, value, mono) {
  return [h('dt', {text: label}), h('dd', {class: mono ? 'wrapmono' : null, text: str(value) || '-'})];
}
function drawDrawer() {
  const d = $('#drawer');
  const it = (S.startup || []).find((x) => x.id === S.selected);
  if (!it) { if (!d.hidden) closeDrawer(true); return; }
  const r = it.risk || {};
  const l = levelOf(it);
  const p = S.pending.get(it.id);
  const on = effectivelyOn(it);
  const locked = it.toggle === 'locked';
  const deps = arr(it.dependents).map(str);
  fill(d, 
    h('div', {class: 'dr-head'}, h('div', {}, h('h2', {id: 'dr-title', text: str(it.name)}), h('div', {class: 'sub', text: str(it.kind_label)})),
      h('button', {type: 'button', id: 'dr-close', class: 'btn ghost icon', 'aria-label': 'Close details', onclick: () => closeDrawer()}, icon('x'))),
    h('div', {class: 'dr-body'},
      h('div', {class: 'verdict lb-' + l}, h('div', {class: 'vt'}, 'If you switch it off: ', h('span', {class: 'badge lv-' + l, text: LEVELS[l][0]}), ' (confidence: ' + (str(r.confidence) || 'unknown') + ')'),
        r.effect ? h('p', {text: str(r.effect)}) : null,
        arr(r.reasons).length ? h('ul', {}, arr(r.reasons).map((x) => h('li', {text: str(x)}))) : null),
      deps.length ? h('p', {class: 'note'}, h('b', {text: 'Needed by: '}), deps.join(', ')) : null,
      it.toggle_note ? h('p', {class: 'note', text: str(it.toggle_note)}) : null,
      p && p.action === 'remove' ? h('p', {class: 'notice', role: 'status', text: 'Marked for removal. Press Review & apply.'}) : null,
      p && p.action !== 'remove' ? h('p', {class: 'notice', role: 'status', text: (p.action === 'disable' ? 'Marked to switch off.' : 'Marked to switch on.') + ' Press Review & apply.'}) : null,
      h('dl', {class: 'facts'},
        fact('Starts now', (it.enabled ? 'Yes' : 'No') + (it.state_text ? ' (' + str(it.state_text) + ')' : '') + (it.running ? ' · running' : '')),
        fact('Command', it.command, true), fact('Program', it.exe, true), fact('Publisher', it.publisher), fact('What it is', it.description),
        fact('Origin', str(it.origin) + (it.package ? ' · ' + str(it.package) : '')),
        fact('For', it.scope === 'machine' ? 'Every user of this computer' : 'This account only'),
        fact('Where it lives', it.location, true))),
    h('div', {class: 'dr-foot'},
      h('button', {type: 'button', class: 'btn primary', disabled: locked || (p && p.action === 'remove'), text: on ? 'Mark to switch off' : 'Mark to switch on', onclick: () => markItem(it, 'toggle')}),
      it.managed ? h('button', {type: 'button', class: 'btn', text: p && p.action === 'remove' ? 'Keep this entry' : 'Mark for removal', onclick: () => markItem(it, 'remove')}) : null,
      btn('Copy details', 'copy', async () => {
        const text = JSON.stringify({name: str(it.name), command: str(it.command), location: str(it.location), level: l, effect: str(r.effect)}, null, 2);
        toast(await copyText(text) ? 'The details are on the clipboard.' : 'The clipboard could not be used.', '');
      })));
}
