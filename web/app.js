// The browser edition's page: the pad, its input, the sound, the files and the commands wired
// together, and the window the tests look through (window.tonvarel). The page keeps a module
// instance of its own, apart from the worklet's, for the pad's geometry and for what a position
// plays; it mirrors the snap setting (snap.js) so that both agree.
import { Audio } from './audio.js';
import { applyTexts, listenToMenus, showAbout, showMessage } from './commands.js';
import { Feedback, placeOf } from './feedback.js';
import { download, listenToFiles } from './files.js';
import { Input } from './input.js';
import { Loader, progressLine } from './loader.js';
import { Looper } from './looper.js';
import { Microphone } from './microphone.js';
import { Midi } from './midi.js';
import { MidiOut } from './mpe.js';
import { PadView, fitPanels, layOut } from './pad.js';
import { OUT_OF_MEMORY, decodeRecording, makeVoice } from './recording.js';
import { Snap } from './snap.js';
import { explain, outOfMemory, pickLanguage, texts } from './texts.js';
import createTonvarel from './tonvarel.js';

const lang = pickLanguage(location.search, navigator.languages);
const t = texts[lang];
const tapSeconds = Number(new URLSearchParams(location.search).get('tap')) || 0;
const $ = (id) => document.getElementById(id);

function readGeometry(m) {
  const ticks = [];
  for (let i = 0; i < m._tv_tick_count(); i++) {
    ticks.push({ row: m._tv_tick_row(i), fromX: m._tv_tick_from_x(i), toX: m._tv_tick_to_x(i) });
  }
  return { pad: { x: m._tv_pad_origin_x(), y: m._tv_pad_origin_y(), size: m._tv_pad_size() },
           ticks };
}

async function start() {
  applyTexts(t, lang);
  const wasm = await (await fetch('tonvarel.wasm')).arrayBuffer();

  let input = null;
  let feedback = null;
  let midi = null;  // MIDI devices, once the page's module is there
  let midiOut = null;
  let snap = null;
  let waveLength = 0;  // the take length whose drawing is shown
  let looper = null;
  let engine = null;  // the worklet's word at its start, which may come before the looper
  let voice = null;  // the worklet's last word on the voice, which may come before the panel
  let recorded = null;  // { name, bytes }: the last voice made from the microphone or a file
  // Save voice is offered while the voice is the one made from the microphone.
  const offerVoice = ({ builtIn, loaded, name }) => {
    if (builtIn) $('cmd-save-voice').hidden = true;
    else if (loaded) $('cmd-save-voice').hidden = name !== recorded?.name;
  };
  const hint = $('hint');
  const showHint = (info) => {
    const reason = audio.reason();
    if (reason === null) {
      hint.hidden = true;
      delete hint.dataset.reason;
    } else {
      hint.hidden = false;
      hint.dataset.reason = reason;
      hint.textContent = t.hint[reason];
    }
    if (fitPanels($('panels'))) feedback?.redraw();
    if (info?.restarted) {
      // A new engine: nothing held, the built-in tone, and the snap the toggle shows.
      input?.forget();
      midi?.restarted();
      midiOut?.forget();
      feedback?.showVoice({ builtIn: true, wave: new Float32Array(0) });
      offerVoice({ builtIn: true });
      if (snap?.on) audio.send(snap.event(), performance.now());
      looper?.restarted();
    }
  };
  // A message box of the module, as the page says it; `saving` tells a loop's save from a take's.
  const say = (text, caption, format, saving) => {
    const box = explain(lang, text, caption, format, saving);
    showMessage(box.text, box.caption, t.ok);
  };
  const fromWorklet = (data) => {
    switch (data.type) {
      case 'notes': midi?.heard(data); break;
      case 'message': say(data.text, data.caption, null, data.what); break;
      case 'saved': download(data.bytes, data.what); break;
      case 'ready':
        engine = data;
        looper?.offer(data.looper);
        break;
      case 'voice':
        voice = data;
        feedback?.showVoice(data);
        offerVoice(data);
        break;
      case 'print': console.log(data.line); break;
    }
  };
  const audio = new Audio({ wasm, tapSeconds, onMessage: fromWorklet, onChange: showHint });
  audio.open();  // the engine starts loading now, while the page builds its own instance
  showHint();

  const heard = [];  // message boxes of a load worked out on this instance
  const m = await createTonvarel({
    wasmBinary: wasm, showMessage: (text, caption) => heard.push({ text, caption }),
  });
  const geometry = readGeometry(m);
  const pad = new PadView($('pad'), geometry);
  const chordOf = (midis) => {
    const at = m._tv_chord_notes() >> 2;
    midis.slice(0, m._tv_voice_count()).forEach((n, i) => { m.HEAP32[at + i] = n; });
    return m._tv_chord(Math.min(midis.length, m._tv_voice_count()));
  };
  feedback = new Feedback(t, { pitchFor: (y) => m._tv_pitch_for(y),
                               depthFor: (x) => m._tv_depth_for(x), chordOf });
  if (voice) feedback.showVoice(voice);

  // What sounds: the pointers' voices, and MIDI notes where their pitches lie on the pad (the
  // engine ignores pointers on a note's voice).
  const soundingNow = () => [
    ...input.sounding().filter(({ voice }) => !midi.holds(voice)),
    ...midi.notes.map(({ hz, depth }) => ({ at: placeOf(hz, depth), hz, depth })),
  ];
  // Drawing follows the last known state, once per frame, never waiting for the audio thread.
  let frame = 0;
  const paint = () => {
    frame = 0;
    const sounding = soundingNow();
    pad.draw({ markers: sounding.map((sound) => ({ at: sound.at, label: feedback.label(sound) })),
               cursor: input.cursor() });
    feedback.showNotes(sounding, sounding.length > 0);
  };
  const changed = () => {
    if (frame === 0) frame = requestAnimationFrame(paint);
  };
  const gesture = () => audio.gesture();
  const send = (event, time, transfer) => audio.send(event, time, transfer);
  midiOut = new MidiOut({ pitchFor: (y) => m._tv_pitch_for(y) });
  input = new Input({
    canvas: pad.canvas, pad, gesture, changed,
    send: (event, e) => {
      send(event, e.timeStamp);
      midiOut.follow(event);
    },
    noteVoices: () => midi.voices,
    // The semitones' rows, ending below the lowest tick at offset 255, the last row inside.
    rows: [...pad.notes.map((n) => n.row), 319],
    keyOn: () => { $('announce').textContent = feedback.spoken(soundingNow()); },
  });
  midi = new Midi({
    t, send, out: midiOut, notesChanged: changed,
    say: (text) => showMessage(text, t.midi.caption, t.ok),
    keyOn: () => { $('announce').textContent = feedback.spoken(soundingNow()); },
  });
  const showScale = () => {
    const flats = m._tv_spelled_with_flats(snap.scale, snap.key) === 1;
    pad.setScale(snap.mask, snap.key, flats);
    feedback.setScale(snap.mask, snap.key, flats);
  };
  snap = new Snap({ t, module: m, send, shown: () => { showScale(); changed(); } });
  showScale();

  const relayout = () => {
    layOut(pad, $('stage'), document.querySelector('.bar'));
    feedback.redraw();
    changed();
  };
  relayout();
  window.addEventListener('resize', relayout);  // rotation and a new device pixel ratio too
  // The bar's rows change with its groups (the looper shown) and its fonts, not only on resize.
  let barHeight = document.querySelector('.bar').offsetHeight;
  new ResizeObserver(([entry]) => {
    if (entry.target.offsetHeight === barHeight) return;
    barHeight = entry.target.offsetHeight;
    relayout();
  }).observe(document.querySelector('.bar'));
  matchMedia('(prefers-color-scheme: dark)').addEventListener('change', relayout);

  // Browsers differ in which events may start sound (WebKit has wanted a touch's end or a click).
  for (const type of ['pointerdown', 'keydown', 'touchend', 'click']) {
    document.addEventListener(type, gesture, true);
  }
  input.listen();
  // A file that cannot be read into memory: said so, and the built-in tone comes back, as the
  // message promises.
  const tooLarge = (time) => {
    say(outOfMemory.text, outOfMemory.caption);
    send({ type: 'builtin' }, time);
  };
  const progress = progressLine($('loading'), $('loading-bar'), $('loading-text'));
  const loader = new Loader({
    module: m, audio, heard: () => heard.splice(0), tooLarge, progress, t,
    say: (boxes, format) => boxes.forEach((b) => say(b.text, b.caption, format)),
  });
  const loadVoice = (bytes, name, time) => {
    recorded = { name, bytes: bytes.slice(0) };
    return loader.bytes(bytes, name, time);
  };
  const microphone = new Microphone({
    t, context: () => audio.context, module: m,
    voice: (bytes, name) => loadVoice(bytes, name, performance.now()),
    say: (text) => showMessage(text, t.micCaption, t.ok),
  });
  // A voice from a recording in a file, decoded by the browser at the sound's rate; what cannot
  // be made is said, and the voice stays as it was.
  const voiceFromFile = async (file, time) => {
    progress.start(t.makingVoice(file.name));
    try {
      const rate = audio.context?.sampleRate ?? 44100;
      const decoded = await decodeRecording(file, rate);
      const made = decoded.samples ? makeVoice(m, decoded.samples, rate)
                                   : { status: decoded.problem };
      if (made.bytes) await loadVoice(made.bytes, t.voiceFrom(file.name), time);
      else showMessage(t.fileStatus[made.status === OUT_OF_MEMORY ? 'memory' : made.status] ??
                       t.fileStatus.other, t.fileCaption, t.ok);
    } finally {
      progress.done();
    }
  };
  listenToMenus({
    'cmd-load': () => $('picker').click(),
    'cmd-mic': () => microphone.record(),
    'cmd-voicefile': () => $('voice-picker').click(),
    'cmd-save-voice': () => download(recorded.bytes.slice(0), 'voice'),
    'cmd-save': (e) => send({ type: 'save' }, e.timeStamp),
    'cmd-builtin': (e) => send({ type: 'builtin' }, e.timeStamp),
    'cmd-about': () => showAbout(),
    'cmd-play': (e) => {
      send({ type: feedback.take.playing ? 'stop' : 'play' }, e.timeStamp);
      poll();  // the button shows what the engine then does
    },
    'cmd-snap': (e) => snap.toggle(e),
    'cmd-midi': () => midi.open(),
  });
  listenToFiles({
    picker: $('picker'), voicePicker: $('voice-picker'), gesture,
    loadTable: (file, time) => loader.file(file, time), makeVoice: voiceFromFile,
  });

  // The take's and the loop's state, asked of the worklet ten times a second, and at once after a
  // control; the take's drawing once it closed.
  async function poll() {
    if (!audio.ready || document.hidden) return;
    const status = await audio.ask('status');
    if (status === null) return;
    feedback.showTake(status);
    looper.show(status.loop);
    $('cmd-save').disabled = status.length === 0;  // nothing to save: shown and announced so
    if (!status.recording && status.length !== waveLength) {
      waveLength = status.length;
      const reply = await audio.ask('take-wave', { columns: 256 });
      if (reply) feedback.showTakeWave(reply);
    }
  }
  looper = new Looper({
    t, send, ask: (type, extra) => audio.ask(type, extra), refresh: poll,
    say: (caption, text) => showMessage(text, caption, t.ok), scale: () => feedback.scale,
  });
  if (engine) looper.offer(engine.looper);
  setInterval(poll, 100);

  window.tonvarel = {
    lang,
    log: () => audio.ask('log'),
    tap: () => audio.ask('tap'),
    sent: () => audio.sent.slice(),
    audio: () => audio.context,
    clientToPage: (x, y) => pad.toPage(x, y),
    noteVoices: () => midi.voices,
  };
  performance.mark('tonvarel-page-ready');
  document.body.dataset.page = 'ready';
  // Offline and installable: the worker keeps this build. Without it the page still works.
  navigator.serviceWorker?.register('sw.js').catch(
      (error) => console.info('the page will not work offline:', error));
}

start();
