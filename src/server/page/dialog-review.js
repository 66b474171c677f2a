// The review dialog behind Review & apply and restoring a backup: it plans
// every change, shows each judgement with its tick and options, applies the
// included changes and shows what was done.
function requestOf(r) {
  const q = {action: str(r.req.action), id: str(r.req.id), stop_now: !!r.stop, ack: !!r.ack};
  if (r.spec) q.spec = Object.assign({}, r.spec);
  if (r.req.hints && typeof r.req.hints === 'object') q.hints = r.req.hints;
  return q;
}
function needsTick(r) {
  const p = r.plan;
  if (!p || p.blocked) return false;
  const l = levelOf(p);
  return !(l === 'safe' || l === 'low') || !!(p.risk && p.risk.needs_ack) || (r.req.action === 'create' && l === 'caution');
}
function reviewWaiting() {
  const rows = [];
  for (const p of S.pending.values()) rows.push({src: 'pending', req: {action: p.action, id: p.id}, name: p.name, include: true, ack: false, stop: !!p.stop_now});
  for (const [id, c] of S.creates) rows.push({src: 'create', req: {action: 'create', id}, name: c.spec.name, cand: c.candidate, spec: c.spec, include: true, ack: false});
  if (rows.length) openReview('Review & apply', rows, null);
}
async function openReview(title, rows, intro) {
  const m = modal(title);
  const R = {m, rows, busy: false};
  if (intro) m.body.appendChild(intro);
  R.list = h('div', {'aria-live': 'polite'});
  m.body.appendChild(R.list);
  R.hint = h('span', {class: 'hint'});
  R.cancel = h('button', {type: 'button', class: 'btn', text: 'Cancel', onclick: () => m.close()});
  R.apply = h('button', {type: 'button', class: 'btn primary', id: 'apply-btn', text: 'Nothing to apply', disabled: true, onclick: () => applyReview(R)});
  m.foot.append(R.hint, R.cancel, R.apply);
  if (!rows.length) {
    R.list.appendChild(h('p', {class: 'summary', text: 'Nothing needs restoring: this computer already matches the backup.'}));
    R.apply.remove();
    R.cancel.textContent = 'Close';
    return;
  }
  R.list.appendChild(h('p', {class: 'muted', text: 'Checking the changes…'}));
  let plans;
  try {
    plans = arr((await api('/api/plan', {changes: rows.map(requestOf)})).plans);
  } catch (e) {
    m.close();
    toast('Could not check the changes: ' + e.message, 'error');
    return;
  }
  if (m.closed) return;
  rows.forEach((r, i) => {
    r.plan = plans[i] && typeof plans[i] === 'object' ? plans[i] : {name: r.name, blocked: true, problems: ['Quillmoor gave no answer for this change.'], risk: {level: 'unknown'}};
  });
  fill(R.list, ...rows.map((r) => buildBox(R, r)));
  updateApply(R);
}
function buildBox(R, r) {
  r.head = h('div');
  r.info = h('div');
  r.opts = h('div', {class: 'opts'});
  r.box = h('section', {class: 'box', 'aria-label': (VERBS[r.req.action] || r.req.action) + ': ' + str(r.plan.name || r.name)}, r.head, r.info);
  if (r.req.action === 'create' && r.cand) r.box.appendChild(createForm(R, r));
  else if (r.req.action === 'create' && r.spec) r.box.appendChild(h('dl', {class: 'facts form'}, fact('Command', r.spec.command, true), fact('Start mode', r.spec.mode)));
  r.box.appendChild(r.opts);
  fillBox(R, r);
  return r.box;
}
function fillBox(R, r) {
  const p = r.plan;
  const risk = p.risk || {};
  const l = levelOf(p);
  const blocked = !!p.blocked;
  r.box.className = 'box lb-' + l + (blocked ? ' blocked' : '');
  fill(r.head, h('div', {class: 'box-head'}, h('div', {}, h('div', {class: 'verb', text: VERBS[r.req.action] || str(r.req.action)}), h('h4', {text: str(p.name) || str(r.name)})), badge(l)));
  const problems = arr(p.problems).map(str);
  const reasons = arr(risk.reasons).map(str);
  fill(r.info, 
    risk.effect ? h('p', {text: str(risk.effect)}) : null,
    r.detail ? h('p', {class: 'muted', text: r.detail}) : null,
    problems.length ? h('p', {class: 'problem', text: 'Not possible: ' + problems.join(' ')}) : null,
    h('details', {}, h('summary', {text: 'How Quillmoor worked this out (confidence: ' + (str(risk.confidence) || 'unknown') + ')'}),
      reasons.length ? h('ul', {}, reasons.map((x) => h('li', {text: x}))) : h('p', {text: 'No particular reasons were recorded.'})),
    p.admin_needed ? h('p', {class: 'adminnote', text: 'This change needs administrator rights. Use “Restart as administrator” first, or it will not be made.'}) : null);
  const opts = [];
  if (r.req.action === 'disable' && !blocked) opts.push(checkbox('Also stop it now (otherwise it keeps running until the next restart)', !!r.stop, (v) => { r.stop = v; }));
  if (needsTick(r)) {
    const ack = checkbox('I have read this and want to go ahead', !!r.ack, (v) => { r.ack = v; ack.classList.toggle('done', v); updateApply(R); }, 'ack' + (r.ack ? ' done' : ''));
    opts.push(ack);
  }
  if (!blocked) opts.push(checkbox('Include this change', !!r.include, (v) => { r.include = v; updateApply(R); }));
  fill(r.opts, ...opts);
}
function createForm(R, r) {
  const s = r.spec;
  const modes = arr(r.cand.modes).filter((x) => x && typeof x === 'object');
  const field = (label, key, wide) => h('label', {class: 'field' + (wide ? ' wide' : '')}, h('span', {text: label}),
    h('input', {type: 'text', value: str(s[key]), spellcheck: 'false', oninput: (e) => { s[key] = e.target.value; replanSoon(R, r); }}));
  const detail = h('p', {class: 'modedetail'});
  const showDetail = () => { const md = modes.find((x) => x.id === s.mode); detail.textContent = md ? str(md.detail) : ''; };
  let modeField;
  if (modes.length > 1) {
    const sel = h('select', {onchange: (e) => { s.mode = e.target.value; showDetail(); replan(R, r); }},
      modes.map((md) => h('option', {value: str(md.id), text: str(md.label) + (md.needs_admin ? ' (needs administrator)' : '')})));
    sel.value = s.mode;
    modeField = h('label', {class: 'field wide'}, h('span', {text: 'Start mode'}), sel);
  } else {
    const md = modes[0];
    modeField = h('div', {class: 'field wide'}, h('span', {text: 'Start mode'}), h('div', {class: 'ro', text: md ? str(md.label) + (md.needs_admin ? ' (needs administrator)' : '') : s.mode}));
  }
  showDetail();
  return h('div', {class: 'form'}, field('Name', 'name'), field('Runs as (user)', 'user'), field('Command', 'command', true), field('Working folder', 'workdir', true), modeField, detail);
}
function replanSoon(R, r) {
  clearTimeout(r.timer);
  r.planning = true;
  updateApply(R);
  r.timer = setTimeout(() => replan(R, r), 300);
}
async function replan(R, r) {
  clearTimeout(r.timer);
  const my = r.seq = (r.seq || 0) + 1;
  r.planning = true;
  updateApply(R);
  try {
    const np = arr((await api('/api/plan', {changes: [requestOf(r)]})).plans)[0];
    if (my !== r.seq || R.m.closed) return;
    if (np && typeof np === 'object') {
      // A confirmation given for one judgement does not carry over to another.
      if (levelOf(np) !== levelOf(r.plan) || !!np.blocked !== !!r.plan.blocked) r.ack = false;
      r.plan = np;
    }
  } catch (e) {
    if (my !== r.seq) return;
    toast('Could not check the changes: ' + e.message, 'error');
  }
  r.planning = false;
  fillBox(R, r);
  updateApply(R);
}
function includedRows(R) { return R.rows.filter((r) => r.plan && !r.plan.blocked && r.include); }
function updateApply(R) {
  if (!R.apply) return;
  const inc = includedRows(R);
  const missing = inc.some((r) => needsTick(r) && !r.ack);
  R.apply.textContent = inc.length ? 'Apply ' + inc.length + ' ' + (inc.length === 1 ? 'change' : 'changes') : 'Nothing to apply';
  R.apply.disabled = !inc.length || missing || R.busy || R.rows.some((r) => r.planning);
  R.hint.textContent = missing ? 'Tick “I have read this and want to go ahead” on each highlighted change first.' : '';
}
async function applyReview(R) {
  const inc = includedRows(R);
  if (!inc.length || R.busy) return;
  R.busy = true;
  updateApply(R);
  R.apply.textContent = 'Applying…';
  let results;
  try {
    results = arr((await api('/api/apply', {changes: inc.map(requestOf)})).results);
  } catch (e) {
    R.busy = false;
    updateApply(R);
    R.hint.textContent = 'The change failed: ' + e.message;
    toast('The change failed: ' + e.message, 'error');
    return;
  }
  let made = 0, admin = false;
  inc.forEach((r, i) => {
    const res = results[i];
    if (res && res.ok) {
      made++;
      if (r.src === 'pending') S.pending.delete(r.req.id);
      if (r.src === 'create') S.creates.delete(r.req.id);
    }
    if (res && (res.admin_needed || res.admin)) admin = true;
  });
  drawBar();
  const m = R.m;
  m.onclose = afterChange;
  fill(m.body, h('p', {class: 'summary', role: 'status', text: made + ' of ' + inc.length + ' ' + (inc.length === 1 ? 'change' : 'changes') + ' made.'}),
    ...inc.map((r, i) => {
      const res = results[i] || {};
      const ok = !!res.ok;
      return h('section', {class: 'box ' + (ok ? 'lb-safe' : 'lb-critical')}, h('div', {class: 'res'}, tag(ok ? 'Done' : 'Not done', ok ? 'good' : 'bad'),
        h('div', {}, h('b', {text: str(res.name) || str(r.plan.name) || str(r.name)}), h('p', {text: str(res.message) || (ok ? '' : 'No answer came for this change.')}))));
    }));
  const close = h('button', {type: 'button', class: 'btn primary', text: 'Close', onclick: () => m.close()});
  fill(m.foot, admin && !(S.state && S.state.demo) ? btn('Restart as administrator', 'shield', elevate) : null, close);
  close.focus();
}
