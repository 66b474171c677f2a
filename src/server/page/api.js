// Talking to the program: the JSON API call carrying the session token,
// trading the one-time link key for that token, and the message shown when
// the page cannot go on.
// Its own scope; helpers.js tells how the files share names.
(function (qm) {
'use strict';
const {query, app, element, fill, icon} = qm;
async function api(path, body) {
  const init = {method: body === undefined ? 'GET' : 'POST', headers: {'x-quillmoor-token': app.token}, cache: 'no-store'};
  if (body !== undefined) { init.headers['content-type'] = 'application/json'; init.body = JSON.stringify(body); }
  const res = await fetch(path, init);
  let data = null;
  try { data = await res.json(); } catch (e) { data = null; }
  if (res.status >= 400) throw new Error(data && typeof data.error === 'string' && data.error ? data.error : 'The program answered ' + res.status);
  if (!data || typeof data !== 'object') throw new Error('The program answered ' + res.status + ' with something that is not JSON.');
  return data;
}

class Stop extends Error {}
async function obtainToken() {
  let token = '';
  try { token = sessionStorage.getItem('qm-token') || ''; } catch (e) { token = ''; }
  const keyMatch = /(?:^#|&)k=([0-9a-fA-F]+)/.exec(location.hash);
  if (keyMatch) {
    try { history.replaceState(null, '', location.pathname + location.search); } catch (e) { location.hash = ''; }
    let answer = null;
    try {
      const res = await fetch('/api/bootstrap', {method: 'POST', headers: {'content-type': 'application/json'}, body: JSON.stringify({k: keyMatch[1]}), cache: 'no-store'});
      answer = await res.json();
    } catch (e) { answer = null; }
    if (!answer || typeof answer.token !== 'string' || !answer.token) {
      throw new Stop(answer && typeof answer.error === 'string' && answer.error ? answer.error : 'The link could not be used.');
    }
    token = answer.token;
    try { sessionStorage.setItem('qm-token', token); } catch (e) { /* the tab keeps working until it is reloaded */ }
  }
  if (!token) throw new Stop('This page needs the link Quillmoor printed when it started. Start Quillmoor again and use that link.');
  return token;
}

function showStop(message) {
  fill(query('#who'), element('span', {class: 'stopmsg', text: message}));
  query('#tabs').hidden = true;
  query('#actions').hidden = true;
  fill(query('#main'), element('div', {class: 'card stopcard'}, icon('alert'), element('div', {}, element('p', {text: message}))));
}
Object.assign(qm, {api, Stop, obtainToken, showStop});
})(quillmoor);
