// Toasts, the modal frame every dialog is built in (focus stays inside it,
// Escape closes the top one), the small yes-or-no confirmation dialog, and
// copying to the clipboard.
function toast(text, kind) {
  const t = h('div', {class: 'toast' + (kind ? ' ' + kind : ''), role: kind === 'error' ? 'alert' : null},
    icon(kind === 'error' ? 'alert' : 'check'), h('div', {class: 't', text}),
    h('button', {type: 'button', class: 'btn ghost small icon', 'aria-label': 'Dismiss', onclick: () => t.remove()}, icon('x')));
  $('#toasts').appendChild(t);
  setTimeout(() => t.remove(), kind === 'error' ? 10000 : 5000);
}

const modals = [];
function modal(title, small) {
  const back = document.activeElement;
  const id = 'mt' + (++uid);
  const heading = h('h3', {id, text: title});
  const body = h('div', {class: 'm-body'});
  const foot = h('div', {class: 'm-foot'});
  const m = {heading, body, foot, closed: false, onclose: null};
  const box = h('div', {class: 'modal' + (small ? ' small' : ''), role: 'dialog', 'aria-modal': 'true', 'aria-labelledby': id, tabindex: '-1'},
    h('div', {class: 'm-head'}, heading, h('button', {type: 'button', class: 'btn ghost icon', 'aria-label': 'Close', onclick: () => m.close()}, icon('x'))),
    body, foot);
  const layer = h('div', {class: 'layer'}, box);
  m.el = box;
  m.close = () => {
    if (m.closed) return;
    m.closed = true;
    layer.remove();
    modals.splice(modals.indexOf(m), 1);
    if (m.onclose) m.onclose();
    if (back && back.focus && document.contains(back)) back.focus();
  };
  $('#layers').appendChild(layer);
  modals.push(m);
  box.focus();
  return m;
}
function ask(title, text, okLabel, danger) {
  return new Promise((resolve) => {
    const m = modal(title, true);
    let answer = false;
    m.onclose = () => resolve(answer);
    m.body.appendChild(h('p', {text}));
    const ok = h('button', {type: 'button', class: 'btn ' + (danger ? 'primary danger-fill' : 'primary'), text: okLabel, onclick: () => { answer = true; m.close(); }});
    m.foot.append(h('button', {type: 'button', class: 'btn', text: 'Cancel', onclick: () => m.close()}), ok);
    ok.focus();
  });
}
function focusables(root) {
  return Array.from(root.querySelectorAll('button,input,select,textarea,summary,a[href],[tabindex]:not([tabindex="-1"])'))
    .filter((x) => !x.disabled && x.getClientRects().length);
}
document.addEventListener('keydown', (e) => {
  if (e.key === 'Escape') {
    if (modals.length) { e.preventDefault(); modals[modals.length - 1].close(); } else if (!$('#drawer').hidden) { e.preventDefault(); closeDrawer(); }
  } else if (e.key === 'Tab' && modals.length) {
    const box = modals[modals.length - 1].el;
    const f = focusables(box);
    if (!f.length) { e.preventDefault(); return; }
    const first = f[0], last = f[f.length - 1], at = document.activeElement;
    if (!box.contains(at)) { e.preventDefault(); first.focus(); } else if (e.shiftKey && (at === first || at === box)) { e.preventDefault(); last.focus(); } else if (!e.shiftKey && at === last) { e.preventDefault(); first.focus(); }
  }
});

async function copyText(text) {
  try { await navigator.clipboard.writeText(text); return true; } catch (e) { /* fall back below */ }
  const ta = h('textarea', {class: 'sr', readonly: true, 'aria-hidden': 'true'});
  ta.value = text;
  document.body.appendChild(ta);
  ta.select();
  let done = false;
  try { done = document.execCommand('copy'); } catch (e) { done = false; }
  ta.remove();
  return done;
}
