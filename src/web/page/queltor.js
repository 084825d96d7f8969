// The QUELTOR page: signs in with a token, then shows the panel as the
// server's event stream tells it, and sends each press to the API. It never
// polls and never shows a state the panel has not told.
'use strict';

const byId = (id) => document.getElementById(id);
const two = (n) => String(n).padStart(2, '0');

let events = null;
let bank = 0;
let spokenAt = 0;
let spokenTimer = 0;

async function call(method, path, body) {
  const options = { method, credentials: 'same-origin', headers: {} };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, options);
  } catch (error) {
    return { status: 0, body: { message: 'the server cannot be reached' } };
  }
  let parsed = {};
  try {
    parsed = await response.json();
  } catch (error) {
    parsed = {};
  }
  return { status: response.status, body: parsed };
}

function show(signedIn) {
  byId('sign-in').hidden = signedIn;
  byId('panel').hidden = !signedIn;
  byId('sign-out').hidden = !signedIn;
}

function say(text) {
  byId('message').textContent = text;
}

function signedOut() {
  if (events) {
    events.close();
    events = null;
  }
  show(false);
  byId('token').focus();
}

// The answer to a press: nothing to show when it was done, the reason when not.
function answered(result) {
  if (result.status === 401) {
    signedOut();
    return;
  }
  say(result.status === 200 ? '' : (result.body.message || 'the request failed') + '.');
}

function fillChannels(count) {
  const group = byId('channels');
  group.replaceChildren();
  for (let channel = 0; channel < count; channel++) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'ch';
    button.textContent = 'CH ' + two(channel);
    button.dataset.channel = String(channel);
    button.setAttribute('aria-pressed', 'false');
    group.append(button);
  }
  for (const list of [byId('start'), byId('end')]) {
    list.replaceChildren();
    for (let channel = 0; channel < count; channel++)
      list.append(new Option(String(channel), String(channel)));
  }
}

// A field the operator is changing keeps what they typed.
function setField(field, value) {
  if (document.activeElement !== field)
    field.value = value;
}

// Screen readers hear the channel and the link at most once a second, the latest of them.
function speak(text) {
  const spoken = byId('spoken');
  if (spoken.textContent === text)
    return;
  clearTimeout(spokenTimer);
  const wait = Math.max(0, spokenAt + 1000 - Date.now());
  spokenTimer = setTimeout(() => {
    spokenAt = Date.now();
    spoken.textContent = text;
  }, wait);
}

function render(status) {
  const panel = status.panel === true;
  const connected = panel && status.connected === true;
  const linkText = panel
    ? status.port + ' · ' + status.device + ' · ' + (connected ? 'connected' : 'not connected')
    : 'No panel is running · not connected';
  const link = byId('link');
  link.textContent = linkText;
  link.classList.toggle('down', !connected);
  byId('channel').textContent = panel ? two(status.channel) : '--';
  byId('mode').textContent = panel ? (status.mode === 'auto' ? 'Auto' : 'Manual') + (status.scanning ? ' · scanning' : '') : '';
  speak(panel ? 'Channel ' + two(status.channel) + '. ' + linkText + '.' : linkText + '.');
  if (!panel)
    return;
  if (status.bank !== bank) {
    bank = status.bank;
    fillChannels(bank);
  }
  for (const button of byId('channels').children) {
    const current = Number(button.dataset.channel) === status.channel;
    button.setAttribute('aria-pressed', current ? 'true' : 'false');
    button.disabled = status.scanning;
  }
  setField(byId('start'), String(status.scan_start));
  setField(byId('end'), String(status.scan_end));
  if (status.scan_term !== null)
    setField(byId('term'), String(status.scan_term));
  byId('start-scan').disabled = status.scanning;
  byId('stop-scan').disabled = !status.scanning;
}

function listen() {
  if (events)
    events.close();
  events = new EventSource('/api/events');
  events.onmessage = (event) => render(JSON.parse(event.data));
  events.onerror = async () => {
    // The browser comes back by itself unless the server refused the stream.
    if (events.readyState !== EventSource.CLOSED)
      return;
    const result = await call('GET', '/api/status');
    if (result.status === 401)
      signedOut();
    else
      setTimeout(listen, 2000);
  };
}

async function start() {
  const result = await call('GET', '/api/status');
  if (result.status === 401) {
    signedOut();
    return;
  }
  show(true);
  if (result.status === 200)
    render(result.body);
  listen();
}

byId('sign-in').addEventListener('submit', async (event) => {
  event.preventDefault();
  const message = byId('sign-in-message');
  const result = await call('POST', '/api/session', { token: byId('token').value.trim() });
  if (result.status !== 200) {
    message.textContent = (result.body.message || 'the sign-in failed') + '.';
    return;
  }
  message.textContent = '';
  byId('token').value = '';
  start();
});

byId('sign-out').addEventListener('click', async () => {
  await call('DELETE', '/api/session');
  signedOut();
});

byId('channels').addEventListener('click', async (event) => {
  const button = event.target.closest('button.ch');
  if (button)
    answered(await call('POST', '/api/select', { channel: Number(button.dataset.channel) }));
});

byId('auto').addEventListener('submit', async (event) => {
  event.preventDefault();
  answered(await call('POST', '/api/scan', {
    start: Number(byId('start').value),
    end: Number(byId('end').value),
    term: byId('term').value.trim(),
  }));
});

byId('stop-scan').addEventListener('click', async () => answered(await call('POST', '/api/stop')));

start();
