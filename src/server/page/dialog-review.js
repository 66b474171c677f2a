// The review dialog behind Review & apply and restoring a backup: it plans
// every change, shows each judgement with its tick and options, applies the
// included changes and shows what was done. An item being switched off that
// offers a gentler way can take it instead (the one the plan suggests is
// chosen first), and several sign-in programs can start one after another.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {VERBS, app, element, fill, asArray, asText, asNumber, levelOf, tag, badge, btn, checkbox, secondsText, waysOf, wayLabel,
  api, toast, modal, drawBar, afterChange, fact, saveJsonFile} = qm;
const {elevate} = qm.later;
function requestOf(row) {
  const q = {action: asText(row.req.action), id: asText(row.req.id), stop_now: !!row.stop, ack: !!row.ack};
  if (row.req.seconds) q.seconds = row.req.seconds;
  if (row.spec) q.spec = Object.assign({}, row.spec);
  if (row.req.hints && typeof row.req.hints === 'object') q.hints = row.req.hints;
  return q;
}
// The program's judgement says whether a change needs the user's tick; a
// blocked change is never made, so it asks for none.
function needsTick(row) {
  const plan = row.plan;
  return !!(plan && !plan.blocked && plan.risk && plan.risk.needs_ack);
}
function reviewWaiting() {
  const rows = [];
  for (const p of app.pending.values()) {
    const it = p.action === 'disable' ? (app.startup || []).find((x) => x.id === p.id) : null;
    rows.push({src: 'pending', req: {action: p.action, id: p.id}, name: p.name, include: true, ack: false, stop: !!p.stop_now, offered: asArray(waysOf(it).offered).filter((o) => o && typeof o === 'object')});
  }
  for (const [id, c] of app.creates) rows.push({src: 'create', req: {action: 'create', id}, name: c.spec.name, cand: c.candidate, spec: c.spec, include: true, ack: false});
  if (rows.length) openReview('Review & apply', rows, null);
}
async function openReview(title, rows, intro) {
  const dialog = modal(title);
  const review = {dialog, rows, busy: false};
  if (intro) dialog.body.appendChild(intro);
  review.list = element('div', {'aria-live': 'polite'});
  dialog.body.appendChild(review.list);
  review.hint = element('span', {class: 'hint'});
  review.cancel = element('button', {type: 'button', class: 'btn', text: 'Cancel', onclick: () => dialog.close()});
  review.apply = element('button', {type: 'button', class: 'btn primary', id: 'apply-btn', text: 'Nothing to apply', disabled: true, onclick: () => applyReview(review)});
  review.export = btn('Export plan', 'download', () => exportPlan(review), 'ghost', {title: 'Save the included changes as a plan to apply on other computers (quillmoor plan apply)', disabled: true});
  dialog.foot.append(review.hint, review.export, review.cancel, review.apply);
  if (!rows.length) {
    review.list.appendChild(element('p', {class: 'summary', text: 'Nothing needs restoring: this computer already matches the backup.'}));
    review.apply.remove();
    review.export.remove();
    review.cancel.textContent = 'Close';
    return;
  }
  review.list.appendChild(element('p', {class: 'muted', text: 'Checking the changes…'}));
  let plans;
  try {
    plans = asArray((await api('/api/plan', {changes: rows.map(requestOf)})).plans);
  } catch (e) {
    dialog.close();
    toast('Could not check the changes: ' + e.message, 'error');
    return;
  }
  if (dialog.closed) return;
  rows.forEach((row, i) => {
    row.plan = plans[i] && typeof plans[i] === 'object' ? plans[i] : {name: row.name, blocked: true, problems: ['Quillmoor gave no answer for this change.'], risk: {level: 'unknown'}};
  });
  fill(review.list, staggerBox(review), ...rows.map((row) => buildBox(review, row)));
  updateApply(review);
  // A way the plan suggests instead of off is chosen first, and says why.
  for (const row of rows) {
    const way = asText(row.plan.suggested);
    const o = way && asArray(row.offered).find((x) => x.way === way);
    if (!o || row.req.action !== 'disable') continue;
    row.why = asText(asArray(row.plan.risk && row.plan.risk.reasons)[0]);
    choose(review, row, way, asArray(o.seconds).map(asNumber).includes(300) ? 300 : 0);
  }
}
// What a row being switched off may do instead: off, each offered way, a
// later start once for each number of seconds offered.
function choicesOf(row) {
  const out = [['disable', 'Switch it off']];
  for (const o of asArray(row.offered)) {
    const secs = asArray(o.seconds).map(asNumber).filter((s) => s > 0);
    if (secs.length) for (const s of secs) out.push([o.way + ':' + s, wayLabel(o, s)]);
    else out.push([asText(o.way), asText(o.label)]);
  }
  return out;
}
function choose(review, row, action, seconds) {
  row.req.action = action;
  row.req.seconds = seconds || 0;
  replan(review, row);
}
const afterSignIn = (row) => asArray(row.offered).some((o) => o.way === 'later' && o.kind === 'after-sign-in');
// Two or more sign-in programs being switched off can instead start one
// after another: each `step` seconds after the one before, in the order
// chosen, the first `step` seconds after sign-in.
function staggerBox(review) {
  const st = review.stagger = {on: false, step: 30, rows: review.rows.filter(afterSignIn)};
  if (st.rows.length < 2) return null;
  const list = element('ol', {class: 'order'});
  const move = (i, d) => { st.rows.splice(i + d, 0, st.rows.splice(i, 1)[0]); update(); };
  const update = () => {
    fill(list, ...st.rows.map((row, i) => {
      const name = asText(row.plan.name || row.name);
      return element('li', {}, element('span', {text: name + (st.on ? ': ' + secondsText(st.step * (i + 1)) + ' after sign-in' : '')}),
        element('button', {type: 'button', class: 'btn small', text: '↑', 'aria-label': 'Move ' + name + ' up', disabled: i === 0, onclick: () => move(i, -1)}),
        element('button', {type: 'button', class: 'btn small', text: '↓', 'aria-label': 'Move ' + name + ' down', disabled: i === st.rows.length - 1, onclick: () => move(i, 1)}));
    }));
    st.rows.forEach((row, i) => {
      if (st.on) choose(review, row, 'later', st.step * (i + 1));
      else if (row.staggered) choose(review, row, 'disable', 0);
      row.staggered = st.on;
    });
  };
  const step = element('input', {type: 'number', class: 'txt', min: '1', max: '3600', value: '30', 'aria-label': 'Seconds between them',
    onchange: (e) => { st.step = Math.min(3600, Math.max(1, Math.round(Number(e.target.value)) || 30)); e.target.value = st.step; update(); }});
  update();
  return element('section', {class: 'box'}, checkbox('Start one after another instead of switching them off', false, (v) => { st.on = v; update(); }),
    element('p', {class: 'muted'}, 'Each starts ', step, ' s after the one before, in this order:'), list);
}
function buildBox(review, row) {
  row.head = element('div');
  row.info = element('div');
  row.opts = element('div', {class: 'opts'});
  row.box = element('section', {class: 'box', 'aria-label': (VERBS[row.req.action] || row.req.action) + ': ' + asText(row.plan.name || row.name)}, row.head, row.info);
  if (row.req.action === 'create' && row.cand) row.box.appendChild(createForm(review, row));
  else if (row.req.action === 'create' && row.spec) row.box.appendChild(element('dl', {class: 'facts form'}, fact('Command', row.spec.command, true), fact('Start mode', row.spec.mode)));
  row.box.appendChild(row.opts);
  fillBox(review, row);
  return row.box;
}
function fillBox(review, row) {
  const p = row.plan;
  const risk = p.risk || {};
  const l = levelOf(p);
  const blocked = !!p.blocked;
  row.box.className = 'box lb-' + l + (blocked ? ' blocked' : '');
  fill(row.head, element('div', {class: 'box-head'}, element('div', {}, element('div', {class: 'verb', text: VERBS[row.req.action] || asText(row.req.action)}), element('h4', {text: asText(p.name) || asText(row.name)})), badge(l)));
  const problems = asArray(p.problems).map(asText);
  const reasons = asArray(risk.reasons).map(asText);
  fill(row.info, 
    risk.effect ? element('p', {text: asText(risk.effect)}) : null,
    row.detail ? element('p', {class: 'muted', text: row.detail}) : null,
    row.why ? element('p', {class: 'note', text: 'Suggested instead of switching it off. ' + row.why}) : null,
    problems.length ? element('p', {class: 'problem', text: 'Not possible: ' + problems.join(' ')}) : null,
    element('details', {}, element('summary', {text: 'How Quillmoor worked this out (confidence: ' + (asText(risk.confidence) || 'unknown') + ')'}),
      reasons.length ? element('ul', {}, reasons.map((x) => element('li', {text: x}))) : element('p', {text: 'No particular reasons were recorded.'})),
    p.admin_needed ? element('p', {class: 'adminnote', text: 'This change needs administrator rights. Use “Restart as administrator” first, or it will not be made.'}) : null);
  const opts = [];
  if (row.staggered) opts.push(element('p', {class: 'muted', text: 'Starts ' + secondsText(asNumber(row.req.seconds)) + ' after sign-in, one after another.'}));
  else if (asArray(row.offered).length) {
    const current = row.req.action === 'later' && row.req.seconds ? 'later:' + row.req.seconds : row.req.action;
    const sel = element('select', {onchange: (e) => { const [a, s] = e.target.value.split(':'); choose(review, row, a, Number(s) || 0); }},
      choicesOf(row).map(([v, label]) => element('option', {value: v, text: label})));
    sel.value = current;
    opts.push(element('label', {class: 'field'}, element('span', {text: 'What to do'}), sel));
  }
  if (row.req.action === 'disable' && !blocked) opts.push(checkbox('Also stop it now (otherwise it keeps running until the next restart)', !!row.stop, (v) => { row.stop = v; }));
  if (needsTick(row)) {
    const ack = checkbox('I have read this and want to go ahead', !!row.ack, (v) => { row.ack = v; ack.classList.toggle('done', v); updateApply(review); }, 'ack' + (row.ack ? ' done' : ''));
    opts.push(ack);
  }
  if (!blocked) opts.push(checkbox('Include this change', !!row.include, (v) => { row.include = v; updateApply(review); }));
  fill(row.opts, ...opts);
}
function createForm(review, row) {
  const s = row.spec;
  const modes = asArray(row.cand.modes).filter((x) => x && typeof x === 'object');
  const field = (label, key, wide) => element('label', {class: 'field' + (wide ? ' wide' : '')}, element('span', {text: label}),
    element('input', {type: 'text', value: asText(s[key]), spellcheck: 'false', oninput: (e) => { s[key] = e.target.value; replanSoon(review, row); }}));
  const detail = element('p', {class: 'modedetail'});
  const showDetail = () => { const md = modes.find((x) => x.id === s.mode); detail.textContent = md ? asText(md.detail) : ''; };
  let modeField;
  if (modes.length > 1) {
    const sel = element('select', {onchange: (e) => { s.mode = e.target.value; showDetail(); replan(review, row); }},
      modes.map((md) => element('option', {value: asText(md.id), text: asText(md.label) + (md.needs_admin ? ' (needs administrator)' : '')})));
    sel.value = s.mode;
    modeField = element('label', {class: 'field wide'}, element('span', {text: 'Start mode'}), sel);
  } else {
    const md = modes[0];
    modeField = element('div', {class: 'field wide'}, element('span', {text: 'Start mode'}), element('div', {class: 'ro', text: md ? asText(md.label) + (md.needs_admin ? ' (needs administrator)' : '') : s.mode}));
  }
  showDetail();
  return element('div', {class: 'form'}, field('Name', 'name'), field('Runs as (user)', 'user'), field('Command', 'command', true), field('Working folder', 'workdir', true), modeField, detail);
}
function replanSoon(review, row) {
  clearTimeout(row.timer);
  row.planning = true;
  updateApply(review);
  row.timer = setTimeout(() => replan(review, row), 300);
}
async function replan(review, row) {
  clearTimeout(row.timer);
  const my = row.seq = (row.seq || 0) + 1;
  row.planning = true;
  updateApply(review);
  try {
    const np = asArray((await api('/api/plan', {changes: [requestOf(row)]})).plans)[0];
    if (my !== row.seq || review.dialog.closed) return;
    if (np && typeof np === 'object') {
      // A confirmation given for one judgement does not carry over to another.
      if (levelOf(np) !== levelOf(row.plan) || !!np.blocked !== !!row.plan.blocked) row.ack = false;
      row.plan = np;
    }
  } catch (e) {
    if (my !== row.seq) return;
    toast('Could not check the changes: ' + e.message, 'error');
  }
  row.planning = false;
  fillBox(review, row);
  updateApply(review);
}
function includedRows(review) { return review.rows.filter((row) => row.plan && !row.plan.blocked && row.include); }
function updateApply(review) {
  if (!review.apply) return;
  const inc = includedRows(review);
  const missing = inc.some((row) => needsTick(row) && !row.ack);
  review.apply.textContent = inc.length ? 'Apply ' + inc.length + ' ' + (inc.length === 1 ? 'change' : 'changes') : 'Nothing to apply';
  review.apply.disabled = !inc.length || missing || review.busy || review.rows.some((row) => row.planning);
  if (review.export) review.export.disabled = !inc.length || review.busy;
  review.hint.textContent = missing ? 'Tick “I have read this and want to go ahead” on each highlighted change first.' : '';
}
// The included changes as a plan file for other computers, judged there again.
async function exportPlan(review) {
  try {
    const a = await api('/api/plan/export', {changes: includedRows(review).map(requestOf)});
    if (!a.ok) { toast(asText(a.message), 'error'); return; }
    saveJsonFile(asText(a.name) || 'quillmoor-plan.json', asText(a.text));
    toast('Saved a plan of ' + asText(a.count) + ' ' + (a.count === 1 ? 'change' : 'changes') + '; apply it elsewhere with quillmoor plan apply.', '');
  } catch (e) { toast('Could not export the plan: ' + e.message, 'error'); }
}
async function applyReview(review) {
  const inc = includedRows(review);
  if (!inc.length || review.busy) return;
  review.busy = true;
  updateApply(review);
  review.apply.textContent = 'Applying…';
  let results;
  try {
    results = asArray((await api('/api/apply', {changes: inc.map(requestOf)})).results);
  } catch (e) {
    review.busy = false;
    updateApply(review);
    review.hint.textContent = 'The change failed: ' + e.message;
    toast('The change failed: ' + e.message, 'error');
    return;
  }
  let made = 0, admin = false;
  inc.forEach((row, i) => {
    const res = results[i];
    if (res && res.ok) {
      made++;
      if (row.src === 'pending') app.pending.delete(row.req.id);
      if (row.src === 'create') app.creates.delete(row.req.id);
    }
    if (res && (res.admin_needed || res.admin)) admin = true;
  });
  drawBar();
  const dialog = review.dialog;
  review.export.remove();
  dialog.onclose = afterChange;
  fill(dialog.body, element('p', {class: 'summary', role: 'status', text: made + ' of ' + inc.length + ' ' + (inc.length === 1 ? 'change' : 'changes') + ' made.'}),
    ...inc.map((row, i) => {
      const res = results[i] || {};
      const ok = !!res.ok;
      return element('section', {class: 'box ' + (ok ? 'lb-safe' : 'lb-critical')}, element('div', {class: 'res'}, tag(ok ? 'Done' : 'Not done', ok ? 'good' : 'bad'),
        element('div', {}, element('b', {text: asText(res.name) || asText(row.plan.name) || asText(row.name)}), element('p', {text: asText(res.message) || (ok ? '' : 'No answer came for this change.')}))));
    }));
  const close = element('button', {type: 'button', class: 'btn primary', text: 'Close', onclick: () => dialog.close()});
  fill(dialog.foot, admin && !(app.state && app.state.demo) ? btn('Restart as administrator', 'shield', elevate) : null, close);
  close.focus();
}
Object.assign(qm, {reviewWaiting, openReview});
})(quillmoor);
