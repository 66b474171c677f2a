// The detail drawer of a startup item: its judgement, its facts, and buttons
// to mark it for a change.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {query, LEVELS, app, widgets, element, fill, icon, asArray, asText, asNumber, levelOf, btn, waysOf, toast, copyText, effectivelyOn,
  drawStartup, markItem, changePart, signatureText} = qm;
let drawerReturn = null;
function openDrawer(id) {
  const wasOpen = !query('#drawer').hidden;
  if (!wasOpen) drawerReturn = document.activeElement;
  app.selected = id;
  query('#drawer').hidden = false;
  drawDrawer();
  drawStartup();
  const c = query('#dr-close');
  if (c) c.focus();
}
function closeDrawer(quiet) {
  const id = app.selected;
  query('#drawer').hidden = true;
  app.selected = '';
  drawStartup();
  if (quiet) return;
  let target = null;
  if (widgets.startup) for (const tr of widgets.startup.body.rows) if (tr.dataset.id === id) target = tr.querySelector('.namebtn');
  if (target) target.focus(); else if (drawerReturn && document.contains(drawerReturn)) drawerReturn.focus();
}
function fact(label, value, mono) {
  return [element('dt', {text: label}), element('dd', {class: mono ? 'wrapmono' : null, text: asText(value) || '-'})];
}
// The gentler ways than off the item offers, each with what it means, and
// the one it has taken; a later start lists the minutes offered.
function waysPart(w) {
  const offered = asArray(w.offered).filter((o) => o && typeof o === 'object');
  if (!offered.length && !w.taken) return null;
  const label = (o) => {
    const m = asArray(o.seconds).map((s) => asNumber(s) / 60);
    return m.length > 1 ? asText(o.label).replace('N minutes', m.slice(0, -1).join(', ') + ' or ' + m[m.length - 1] + ' minutes') : asText(o.label);
  };
  return element('div', {class: 'ways'},
    w.taken_text ? element('p', {class: 'notice', role: 'status', text: asText(w.taken_text) + '.'}) : null,
    offered.length ? element('p', {class: 'note'}, element('b', {text: 'Gentler than off'}), ' (choose one in Review & apply when you switch it off):') : null,
    offered.length ? element('ul', {}, offered.map((o) => element('li', {}, element('b', {text: label(o)}), ': ' + asText(o.meaning)))) : null);
}
function drawDrawer() {
  const d = query('#drawer');
  const it = (app.startup || []).find((x) => x.id === app.selected);
  if (!it) { if (!d.hidden) closeDrawer(true); return; }
  const r = it.risk || {};
  const l = levelOf(it);
  const p = app.pending.get(it.id);
  const on = effectivelyOn(it);
  const locked = it.toggle === 'locked';
  const deps = asArray(it.dependents).map(asText);
  fill(d, 
    element('div', {class: 'dr-head'}, element('div', {}, element('h2', {id: 'dr-title', text: asText(it.name)}), element('div', {class: 'sub', text: asText(it.kind_label)})),
      element('button', {type: 'button', id: 'dr-close', class: 'btn ghost icon', 'aria-label': 'Close details', onclick: () => closeDrawer()}, icon('x'))),
    element('div', {class: 'dr-body'},
      element('div', {class: 'verdict lb-' + l}, element('div', {class: 'vt'}, 'If you switch it off: ', element('span', {class: 'badge lv-' + l, text: LEVELS[l][0]}), ' (confidence: ' + (asText(r.confidence) || 'unknown') + ')'),
        r.effect ? element('p', {text: asText(r.effect)}) : null,
        asArray(r.reasons).length ? element('ul', {}, asArray(r.reasons).map((x) => element('li', {text: asText(x)}))) : null),
      changePart(it),
      deps.length ? element('p', {class: 'note'}, element('b', {text: 'Needed by: '}), deps.join(', ')) : null,
      it.toggle_note ? element('p', {class: 'note', text: asText(it.toggle_note)}) : null,
      waysPart(waysOf(it)),
      p && p.action === 'remove' ? element('p', {class: 'notice', role: 'status', text: 'Marked for removal. Press Review & apply.'}) : null,
      p && p.action !== 'remove' ? element('p', {class: 'notice', role: 'status', text: (p.action === 'disable' ? 'Marked to switch off.' : p.action === 'on-time' ? 'Marked to start as before.' : 'Marked to switch on.') + ' Press Review & apply.'}) : null,
      element('dl', {class: 'facts'},
        fact('Starts now', (it.enabled ? 'Yes' : 'No') + (it.state_text ? ' (' + asText(it.state_text) + ')' : '') + (it.running ? ' · running' : '')),
        fact('Command', it.command, true), fact('Program', it.exe, true), fact('Publisher', it.publisher), fact('Signed', signatureText(it)), fact('What it is', it.description),
        fact('Origin', asText(it.origin) + (it.package ? ' · ' + asText(it.package) : '')),
        fact('For', it.scope === 'machine' ? 'Every user of this computer' : 'This account only'),
        fact('Where it lives', it.location, true))),
    element('div', {class: 'dr-foot'},
      element('button', {type: 'button', class: 'btn primary', disabled: locked || (p && p.action === 'remove'), text: on ? 'Mark to switch off' : 'Mark to switch on', onclick: () => markItem(it, 'toggle')}),
      waysOf(it).taken ? element('button', {type: 'button', class: 'btn', text: p && p.action === 'on-time' ? 'Keep this way' : 'Start as before', onclick: () => markItem(it, 'on-time')}) : null,
      it.managed ? element('button', {type: 'button', class: 'btn', text: p && p.action === 'remove' ? 'Keep this entry' : 'Mark for removal', onclick: () => markItem(it, 'remove')}) : null,
      btn('Copy details', 'copy', async () => {
        const text = JSON.stringify({name: asText(it.name), command: asText(it.command), location: asText(it.location), level: l, effect: asText(r.effect)}, null, 2);
        toast(await copyText(text) ? 'The details are on the clipboard.' : 'The clipboard could not be used.', '');
      })));
}
Object.assign(qm, {openDrawer, closeDrawer, fact, drawDrawer});
})(quillmoor);
