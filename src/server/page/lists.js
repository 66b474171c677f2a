// Pieces the tab panels share: panel heading, search box, skeleton and empty
// rows, notes under a list, focus kept across a redraw, sortable headings.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {app, element, icon, asText} = qm;
function headOf(title, lead) { return element('div', {class: 'head'}, element('h2', {text: title}), element('p', {text: lead})); }
function searchBox(label, value, oninput) {
  return element('div', {class: 'search'}, icon('search'), element('input', {type: 'search', placeholder: 'Search…', 'aria-label': label, value, oninput: (e) => oninput(e.target.value)}));
}
function skeleton(cols, text, rows) {
  const out = [element('tr', {class: 'skel'}, element('td', {colspan: cols, class: 'empty', text}))];
  for (let i = 1; i < rows; i++) {
    out.push(element('tr', {class: 'skel', 'aria-hidden': 'true'}, element('td', {class: 'c-sw'}), element('td', {colspan: cols - 1},
      element('div', {class: 'bar-s w1'}), element('div', {class: 'bar-s w2'}), element('div', {class: 'bar-s w3'}))));
  }
  return out;
}
function emptyRow(cols, text) { return element('tr', {}, element('td', {colspan: cols, class: 'empty', text})); }
function noteList(notes) {
  return notes.length ? element('ul', {class: 'notes'}, notes.map((n) => element('li', {}, icon('info'), element('span', {text: asText(n)})))) : null;
}
// Redrawing a table body must not lose the keyboard focus of a switch or name.
function keepFocus(tbody, draw) {
  const at = document.activeElement;
  let key = null, cls = '';
  if (at && tbody.contains(at)) { const tr = at.closest('tr'); key = tr && tr.dataset.id; cls = at.classList.contains('switch') ? 'switch' : 'namebtn'; }
  draw();
  if (key !== null) {
    for (const tr of tbody.rows) if (tr.dataset.id === key) { const el = tr.querySelector('.' + cls); if (el) el.focus(); }
  }
}
function sortHeader(list, key, label, firstDir, redraw, cls) {
  const s = app.sort[list];
  const on = s.key === key;
  return element('th', {class: cls || null, 'aria-sort': on ? (s.dir > 0 ? 'ascending' : 'descending') : null},
    element('button', {type: 'button', onclick: () => { if (s.key === key) s.dir = -s.dir; else { s.key = key; s.dir = firstDir; } redraw(); }},
      label, element('span', {class: 'arrow', 'aria-hidden': 'true', text: on ? (s.dir > 0 ? '▲' : '▼') : ''})));
}
Object.assign(qm, {headOf, searchBox, skeleton, emptyRow, noteList, keepFocus, sortHeader});
})(quillmoor);
