// Pieces the tab panels share: panel heading, search box, skeleton and empty
// rows, notes under a list, focus kept across a redraw, sortable headings.
function headOf(title, lead) { return h('div', {class: 'head'}, h('h2', {text: title}), h('p', {text: lead})); }
function searchBox(label, value, oninput) {
  return h('div', {class: 'search'}, icon('search'), h('input', {type: 'search', placeholder: 'Search…', 'aria-label': label, value, oninput: (e) => oninput(e.target.value)}));
}
function skeleton(cols, text, rows) {
  const out = [h('tr', {class: 'skel'}, h('td', {colspan: cols, class: 'empty', text}))];
  for (let i = 1; i < rows; i++) {
    out.push(h('tr', {class: 'skel', 'aria-hidden': 'true'}, h('td', {class: 'c-sw'}), h('td', {colspan: cols - 1},
      h('div', {class: 'bar-s w1'}), h('div', {class: 'bar-s w2'}), h('div', {class: 'bar-s w3'}))));
  }
  return out;
}
function emptyRow(cols, text) { return h('tr', {}, h('td', {colspan: cols, class: 'empty', text})); }
function noteList(notes) {
  return notes.length ? h('ul', {class: 'notes'}, notes.map((n) => h('li', {}, icon('info'), h('span', {text: str(n)})))) : null;
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
  const s = S.sort[list];
  const on = s.key === key;
  return h('th', {class: cls || null, 'aria-sort': on ? (s.dir > 0 ? 'ascending' : 'descending') : null},
    h('button', {type: 'button', onclick: () => { if (s.key === key) s.dir = -s.dir; else { s.key = key; s.dir = firstDir; } redraw(); }},
      label, h('span', {class: 'arrow', 'aria-hidden': 'true', text: on ? (s.dir > 0 ? '▲' : '▼') : ''})));
}
