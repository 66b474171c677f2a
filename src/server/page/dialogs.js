// Toasts, the modal frame every dialog is built in (focus stays inside it,
// Escape closes the top one), the small yes-or-no confirmation dialog, and
// copying to the clipboard.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {query, element, icon} = qm;
const {closeDrawer} = qm.later;
function toast(text, kind) {
  const t = element('div', {class: 'toast' + (kind ? ' ' + kind : ''), role: kind === 'error' ? 'alert' : null},
    icon(kind === 'error' ? 'alert' : 'check'), element('div', {class: 't', text}),
    element('button', {type: 'button', class: 'btn ghost small icon', 'aria-label': 'Dismiss', onclick: () => t.remove()}, icon('x')));
  query('#toasts').appendChild(t);
  setTimeout(() => t.remove(), kind === 'error' ? 10000 : 5000);
}

let modalSerial = 0;
const modals = [];
function modal(title, small) {
  const back = document.activeElement;
  const id = 'mt' + (++modalSerial);
  const heading = element('h3', {id, text: title});
  const body = element('div', {class: 'm-body'});
  const foot = element('div', {class: 'm-foot'});
  const dialog = {heading, body, foot, closed: false, onclose: null};
  const box = element('div', {class: 'modal' + (small ? ' small' : ''), role: 'dialog', 'aria-modal': 'true', 'aria-labelledby': id, tabindex: '-1'},
    element('div', {class: 'm-head'}, heading, element('button', {type: 'button', class: 'btn ghost icon', 'aria-label': 'Close', onclick: () => dialog.close()}, icon('x'))),
    body, foot);
  const layer = element('div', {class: 'layer'}, box);
  dialog.el = box;
  dialog.close = () => {
    if (dialog.closed) return;
    dialog.closed = true;
    layer.remove();
    modals.splice(modals.indexOf(dialog), 1);
    if (dialog.onclose) dialog.onclose();
    if (back && back.focus && document.contains(back)) back.focus();
  };
  query('#layers').appendChild(layer);
  modals.push(dialog);
  box.focus();
  return dialog;
}
function ask(title, text, okLabel, danger) {
  return new Promise((resolve) => {
    const dialog = modal(title, true);
    let answer = false;
    dialog.onclose = () => resolve(answer);
    dialog.body.appendChild(element('p', {text}));
    const ok = element('button', {type: 'button', class: 'btn ' + (danger ? 'primary danger-fill' : 'primary'), text: okLabel, onclick: () => { answer = true; dialog.close(); }});
    dialog.foot.append(element('button', {type: 'button', class: 'btn', text: 'Cancel', onclick: () => dialog.close()}), ok);
    ok.focus();
  });
}
function focusables(root) {
  return Array.from(root.querySelectorAll('button,input,select,textarea,summary,a[href],[tabindex]:not([tabindex="-1"])'))
    .filter((x) => !x.disabled && x.getClientRects().length);
}
document.addEventListener('keydown', (e) => {
  if (e.key === 'Escape') {
    if (modals.length) { e.preventDefault(); modals[modals.length - 1].close(); } else if (!query('#drawer').hidden) { e.preventDefault(); closeDrawer(); }
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
  const ta = element('textarea', {class: 'sr', readonly: true, 'aria-hidden': 'true'});
  ta.value = text;
  document.body.appendChild(ta);
  ta.select();
  let done = false;
  try { done = document.execCommand('copy'); } catch (e) { done = false; }
  ta.remove();
  return done;
}
Object.assign(qm, {toast, modal, ask, copyText});
})(quillmoor);
