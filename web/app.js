// The page: draws the pad, turns pointer, menu and file events into the window's commands and
// posts them to the audio worklet, where the engine lives; shows its dialogs and downloads.
import createTonvarel from './tonvarel.js';
import { messageText, pickLanguage, texts } from './texts.js';

const CLIENT = 384;  // CSS pixels of the canvas: the window's client coordinates, one for one
const lang = pickLanguage(location.search, navigator.languages);
const t = texts[lang];
const tapSeconds = Number(new URLSearchParams(location.search).get('tap')) || 0;

const $ = (id) => document.getElementById(id);
const canvas = $('pad');
const hint = $('hint');

// ---- Texts ----

function label(element, [text, key, suffix = '']) {
  const u = document.createElement('u');
  u.textContent = key;
  element.replaceChildren(`${text}(`, u, `)${suffix}`);
}

function applyTexts() {
  document.documentElement.lang = lang;
  label($('menu-file'), t.file);
  label($('cmd-load'), t.load);
  label($('cmd-save'), t.save);
  label($('menu-help'), t.help);
  label($('cmd-about'), t.about);
  $('about-caption').textContent = t.aboutCaption;
  $('about-version').textContent = t.aboutVersion;
  $('about-line').textContent = t.aboutLine;
  $('about-ok').textContent = t.ok;
  hint.textContent = t.hint;
}

// ---- The pad, drawn as the window draws it, in whole device pixels ----

function drawPad(geometry) {
  const scale = window.devicePixelRatio || 1;
  const side = Math.round(CLIENT * scale);
  canvas.width = side;
  canvas.height = side;
  const g = canvas.getContext('2d');
  g.fillStyle = '#fff';
  g.fillRect(0, 0, side, side);
  g.fillStyle = '#000';
  // Client pixels [x, x + w) x [y, y + h), snapped to the device grid.
  const fill = (x, y, w, h) => {
    const x0 = Math.round(x * scale);
    const y0 = Math.round(y * scale);
    g.fillRect(x0, y0, Math.round((x + w) * scale) - x0, Math.round((y + h) * scale) - y0);
  };
  // The border: a one-pixel outline whose right and bottom edges are exclusive.
  const { x, y, size } = geometry.pad;
  fill(x, y, size, 1);
  fill(x, y + size - 1, size, 1);
  fill(x, y, 1, size);
  fill(x + size - 1, y, 1, size);
  // Each tick runs from fromX leftwards, its far end excluded as a line's end is.
  for (const tick of geometry.ticks) fill(tick.toX + 1, tick.row, tick.fromX - tick.toX, 1);
}

function readGeometry(m) {
  const ticks = [];
  for (let i = 0; i < m._tv_tick_count(); i++) {
    ticks.push({ row: m._tv_tick_row(i), fromX: m._tv_tick_from_x(i), toX: m._tv_tick_to_x(i) });
  }
  return { pad: { x: m._tv_pad_origin_x(), y: m._tv_pad_origin_y(), size: m._tv_pad_size() },
           ticks };
}

// ---- Audio: started by the first gesture, as browsers require ----

let wasmBytes = null;
let audio = null;
const outbox = [];  // events before the worklet node exists
const replies = new Map();

function send(event, transfer = []) {
  if (audio && audio.node) audio.node.port.postMessage(event, transfer);
  else outbox.push([event, transfer]);
}

function startAudio() {
  if (audio) {
    if (audio.context.state === 'suspended') audio.context.resume();
    return;
  }
  const context = new AudioContext({ sampleRate: 44100, latencyHint: 'interactive' });
  audio = { context, node: null };
  context.addEventListener('statechange', () => {
    hint.hidden = context.state === 'running';
  });
  hint.hidden = context.state === 'running';
  context.audioWorklet.addModule('worklet.js').then(() => {
    const node = new AudioWorkletNode(context, 'tonvarel', {
      numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
      processorOptions: { wasm: wasmBytes, tapSeconds },
    });
    node.port.onmessage = (e) => fromWorklet(e.data);
    node.onprocessorerror = (e) => console.error('the audio worklet stopped:', e.message ?? e);
    node.connect(context.destination);
    audio.node = node;
    for (const [event, transfer] of outbox.splice(0)) node.port.postMessage(event, transfer);
  }, (error) => console.error('the audio worklet did not load:', error));
}

function fromWorklet(data) {
  switch (data.type) {
    case 'message': showMessage(data.text, data.caption); break;
    case 'saved': download(data.bytes); break;
    case 'ready': document.body.dataset.engine = 'ready'; break;
    case 'failed': console.error('the engine did not start:', data.text); break;
    case 'print': console.log(data.line); break;
    case 'log': case 'tap': replies.get(data.type)?.(data); break;
  }
}

// ---- Pointer input: the canvas is the client area ----

function clientPoint(e) {
  const r = canvas.getBoundingClientRect();
  // Unsigned 16-bit, as a mouse message carries them.
  return { x: Math.floor((e.clientX - r.left) * CLIENT / r.width) & 0xffff,
           y: Math.floor((e.clientY - r.top) * CLIENT / r.height) & 0xffff };
}

// Mouse and pen: the primary button is the left button, the secondary the right. A second
// button pressed while one is held arrives as a pointermove with `button` set.
function mouseEvent(e) {
  const at = clientPoint(e);
  if (e.button === -1) {
    if (e.type === 'pointermove') send({ type: 'move', ...at });
  } else if (e.button === 0) {
    send({ type: e.buttons & 1 ? 'ldown' : 'lup', ...at });
  } else if (e.button === 2) {
    send({ type: e.buttons & 2 ? 'rdown' : 'rup', ...at });
  }
}

// Touch: the first finger on the pad is the left button; any further finger, anywhere on the
// page, holds the right button while it stays down. No finger is captured: like the window,
// the pad does not see a release outside it.
let leftFinger = null;
const rightFingers = new Set();

function touchEvent(e) {
  const onPad = e.target === canvas;
  const at = clientPoint(e);
  if (e.type === 'pointerdown') {
    if (leftFinger === null && onPad) {
      leftFinger = e.pointerId;
      send({ type: 'ldown', ...at });
    } else if (leftFinger !== null || rightFingers.size > 0) {
      rightFingers.add(e.pointerId);
      if (rightFingers.size === 1) send({ type: 'rdown', ...at });
    }
  } else if (e.type === 'pointermove') {
    if (e.pointerId === leftFinger && onPad) send({ type: 'move', ...at });
  } else if (e.pointerId === leftFinger) {
    leftFinger = null;
    if (onPad) send({ type: 'lup', ...at });
  } else if (rightFingers.delete(e.pointerId) && rightFingers.size === 0) {
    send({ type: 'rup', ...at });
  }
}

function listenToPointers() {
  for (const type of ['pointerdown', 'pointermove', 'pointerup']) {
    canvas.addEventListener(type, (e) => {
      if (e.pointerType === 'touch') return;  // handled on the document
      if (type === 'pointerdown') {
        e.preventDefault();
        startAudio();
        canvas.releasePointerCapture(e.pointerId);
      }
      mouseEvent(e);
    });
  }
  for (const type of ['pointerdown', 'pointermove', 'pointerup', 'pointercancel']) {
    document.addEventListener(type, (e) => {
      if (e.pointerType !== 'touch') return;
      if (type === 'pointerdown' && e.target === canvas) {
        startAudio();
        if (e.target.hasPointerCapture(e.pointerId)) e.target.releasePointerCapture(e.pointerId);
      }
      touchEvent(e);
    });
  }
  canvas.addEventListener('contextmenu', (e) => e.preventDefault());
}

// ---- Menus ----

const menus = [...document.querySelectorAll('.menu')];

function closeMenus() {
  for (const menu of menus) {
    menu.classList.remove('open');
    menu.querySelector('.popup').hidden = true;
  }
}

function openMenu(menu) {
  closeMenus();
  menu.classList.add('open');
  const popup = menu.querySelector('.popup');
  popup.hidden = false;
  popup.querySelector('button').focus();
}

function openedMenu() { return menus.find((m) => m.classList.contains('open')); }

const commands = {
  'cmd-load': () => { startAudio(); $('picker').click(); },
  'cmd-save': () => { startAudio(); send({ type: 'save' }); },
  'cmd-about': () => showAbout(),
};

function listenToMenus() {
  for (const menu of menus) {
    menu.querySelector('.title').addEventListener('click', () => {
      if (menu.classList.contains('open')) closeMenus();
      else openMenu(menu);
    });
  }
  for (const [id, run] of Object.entries(commands)) {
    $(id).addEventListener('click', () => { closeMenus(); run(); });
  }
  document.addEventListener('pointerdown', (e) => {
    if (!e.target.closest('.menu')) closeMenus();
  });
  document.addEventListener('keydown', (e) => {
    if ($('about').open) return;
    const key = e.key.toLowerCase();
    if (e.altKey && (e.key === '?' || e.key === '/')) {
      e.preventDefault();
      closeMenus();
      showAbout();
    } else if (e.altKey && (key === 'f' || key === 'h')) {
      e.preventDefault();
      openMenu(menus.find((m) => m.querySelector('.title').dataset.key === key));
    } else if (openedMenu()) {
      if (e.key === 'Escape') {
        closeMenus();
      } else {
        const item = openedMenu().querySelector(`.popup [data-key="${key}"]`);
        if (item) {
          e.preventDefault();
          item.click();
        }
      }
    }
  });
}

// ---- Dialogs ----

function showAbout() {
  const about = $('about');
  if (!about.open) about.showModal();  // owned by the window: the pad waits until it closes
}

// A message box has no owner: the pad stays live while it is shown.
function showMessage(text, caption) {
  const box = $('message-box').content.firstElementChild.cloneNode(true);
  box.querySelector('.caption').textContent =
      caption === null ? t.defaultCaption : messageText(lang, caption);
  box.querySelector('.text').textContent = messageText(lang, text).replaceAll('\r\n', '\n');
  const ok = box.querySelector('.ok');
  ok.textContent = t.ok;
  const close = () => box.remove();
  ok.addEventListener('click', close);
  box.addEventListener('keydown', (e) => {
    if (e.key === 'Escape' || e.key === 'Enter') {
      e.preventDefault();
      close();
    }
  });
  document.body.append(box);
  box.show();
  ok.focus();
}

// ---- Files ----

function takeName(now) {
  const two = (n) => String(n).padStart(2, '0');
  return `tonvarel-take-${now.getFullYear()}${two(now.getMonth() + 1)}${two(now.getDate())}-` +
         `${two(now.getHours())}${two(now.getMinutes())}${two(now.getSeconds())}.wav`;
}

function download(bytes) {
  const url = URL.createObjectURL(new Blob([bytes], { type: 'audio/wav' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = takeName(new Date());
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

async function loadFile(file) {
  const bytes = await file.arrayBuffer();
  send({ type: 'load', bytes, name: file.name }, [bytes]);
}

// As in the window, a file that cannot be read leaves the table as it was.
function unreadable(error) {
  console.warn('the file could not be read:', error);
}

function listenToFiles() {
  const picker = $('picker');
  picker.addEventListener('change', () => {
    const file = picker.files[0];
    picker.value = '';  // the same file can be chosen again
    if (file) loadFile(file).catch(unreadable);
  });
  const hasFiles = (e) => e.dataTransfer && [...e.dataTransfer.types].includes('Files');
  document.addEventListener('dragover', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    document.body.classList.add('dropping');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
  document.addEventListener('drop', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    document.body.classList.remove('dropping');
    const file = e.dataTransfer.files[0];
    if (file) {
      startAudio();
      loadFile(file).catch(unreadable);
    }
  });
}

// ---- Start ----

// What the tests read: the worklet's log of applied events and, with ?tap=SECONDS, the samples
// it played from its first block on.
function ask(type) {
  return new Promise((resolve) => {
    replies.set(type, resolve);
    audio.node.port.postMessage({ type });
  });
}
window.tonvarel = { lang, log: () => ask('log'), tap: () => ask('tap') };

async function start() {
  applyTexts();
  listenToMenus();
  $('about-ok').addEventListener('click', () => $('about').close());
  wasmBytes = await (await fetch('tonvarel.wasm')).arrayBuffer();
  const geometry = readGeometry(await createTonvarel({ wasmBinary: wasmBytes }));
  const redraw = () => drawPad(geometry);
  redraw();
  window.addEventListener('resize', redraw);  // a new device pixel ratio, for one
  listenToPointers();
  listenToFiles();
  document.body.dataset.page = 'ready';
}

start();
