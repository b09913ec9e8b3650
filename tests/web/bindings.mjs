// The module's looper and playback calls, made as the worklet makes its calls, against the renderer
// given the same session as a script: every frame, the saved loop and take, the message boxes,
// and the looper's state as the page will read it. Then a voice made when the module's memory is
// all taken: the maker answers out of memory, and the module goes on.
//
//   node tests/web/bindings.mjs --web build/web --render build/wasm/tonvarel-render
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';

const { values: args } = parseArgs({ options: { web: { type: 'string' },
                                                render: { type: 'string' } } });
if (!args.web || !args.render) {
  console.error('usage: node tests/web/bindings.mjs --web DIR --render TONVAREL_RENDER');
  process.exit(2);
}

// The glue is built for the page's worklet and workers; under Node it runs as a worker would, with
// the module's bytes handed over as the worklet hands them.
globalThis.self = globalThis;
globalThis.importScripts = () => {};
globalThis.location = { href: 'file:///' };
const web = path.resolve(args.web);
const { default: createTonvarel } = await import(path.join(web, 'tonvarel.js'));
const messages = [];
const m = await createTonvarel({
  wasmBinary: fs.readFileSync(path.join(web, 'tonvarel.wasm')),
  locateFile: (name) => name,
  showMessage: (text, caption) =>
    messages.push(`${caption ?? 'Error'}: ${text.replace(/\r\n/g, ' ')}`),
});
const base = m._tv_start();
const maxFrames = m._tv_max_frames();

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tonvarel-bindings-'));
let failures = 0;
function check(ok, what) {
  if (!ok) failures++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
}

// The looper's state as the page reads it: [state, position, length, undoable].
const looper = () => [m._tv_loop_state(), m._tv_loop_position(), m._tv_loop_length(),
                      m._tv_loop_undoable()];
const EMPTY = 0, RECORDING = 1, PLAYING = 2, OVERDUBBING = 3, STOPPED = 4;

// Each step calls the module and writes the script line that does the same.
const script = [];
const frames = [];
const saved = [];
const calls = {
  ldown: (x, y) => { m._tv_voice_left_down(0, x, y); return `ldown ${x} ${y}`; },
  lup: () => { m._tv_voice_left_up(0); return 'lup 0 0'; },
  loop: () => { m._tv_loop(); return 'loop'; },
  stop: () => { m._tv_loop_stop(); return 'loop stop'; },
  undo: () => { m._tv_loop_undo(); return 'loop undo'; },
  clear: () => { m._tv_loop_clear(); return 'loop clear'; },
  play: () => { m._tv_take_play(); return 'take play'; },
  end: () => { m._tv_take_stop(); return 'take stop'; },
  frames: (count) => {
    for (let left = count; left > 0;) {
      const n = Math.min(left, maxFrames);
      m._tv_render_frames(n);
      frames.push(m.HEAPU8.slice(base, base + 4 * n));
      left -= n;
    }
    return `frames ${count}`;
  },
  loopSave: () => save('loop save', m._tv_loop_save()),
  save: () => save('save', m._tv_save()),
};
function save(command, length) {
  const file = path.join(dir, `saved-${saved.length}.wav`);
  const at = m._tv_saved_bytes();
  saved.push({ file, bytes: length === 0 ? null : m.HEAPU8.slice(at, at + length) });
  return `${command} ${file}`;
}
function step(name, ...values) {
  script.push(calls[name](...values));
}

check(m._tv_looper_available() === 1 && m._tv_playback_available() === 1,
      'the looper\'s and the playback\'s storage were had');
step('loopSave');  // empty: nothing written
step('ldown', 150, 180);
step('loop');
step('frames', 3000);
const recording = looper();
const soFar = m.HEAPU8.slice(m._tv_loop_bytes(), m._tv_loop_bytes() + m._tv_loop_byte_length());
step('loopSave');
step('frames', 1410);
step('loop');
step('lup');
step('frames', 5000);
const playing = looper();
step('ldown', 90, 100);
step('loop');
step('frames', 2500);
const overdubbing = looper();
step('undo');
const undone = looper();
step('frames', 700);
step('lup');
step('play');
const takePlaying = m._tv_take_playing();
step('frames', 4000);
step('loop');
step('frames', 300);
step('end');
step('stop');
const stopped = looper();
step('loopSave');
step('frames', 128);
step('clear');
step('save');

check(JSON.stringify([recording, playing, overdubbing, undone, stopped]) === JSON.stringify([
  [RECORDING, 3000, 0, 0], [PLAYING, 5000 % 4410, 4410, 0], [OVERDUBBING, 7500 % 4410, 4410, 1],
  [PLAYING, 7500 % 4410, 4410, 0], [STOPPED, 0, 4410, 1]]),
      `the looper's state read back: ${JSON.stringify([recording, playing, overdubbing, undone,
                                                        stopped])}`);
check(takePlaying === 1 && m._tv_take_playing() === 0 && looper()[0] === EMPTY,
      'the take played until stopped; the loop cleared');
check(saved[1].bytes !== null &&
      Buffer.from(saved[1].bytes.subarray(44)).equals(Buffer.from(soFar)),
      'the loop\'s bytes while it records are what its save writes');

// The same session through the renderer.
const scriptFile = path.join(dir, 'session.txt');
const stream = path.join(dir, 'stream.wav');
fs.writeFileSync(scriptFile, script.join('\n') + '\n');
const pages = saved.map(({ file }) => file);
const run = spawnSync(args.render, [scriptFile, '--out', stream], { encoding: 'utf8' });
check(run.status === 0,
      `tonvarel-render plays the session${run.status === 0 ? '' : `: ${run.stderr}`}`);
if (run.status === 0) {
  const rendered = fs.readFileSync(stream).subarray(44);
  const played = Buffer.concat(frames);
  const at = rendered.findIndex((b, i) => b !== played[i]);
  check(rendered.equals(played),
        `every frame as the renderer plays it (${played.length / 4} frames; first difference at ` +
        `frame ${at < 0 ? 'none' : Math.floor(at / 4)})`);
  for (const [i, { bytes }] of saved.entries()) {
    const file = pages[i];
    const written = fs.existsSync(file) ? fs.readFileSync(file) : null;
    const same = bytes === null ? written === null
                                : written !== null && written.equals(Buffer.from(bytes));
    check(same,
          `${script.find((line) => line.endsWith(file)).split(' /')[0]} ${i}: ` +
          `${bytes === null ? 'nothing written' : `${bytes.length} bytes`}, as the renderer saves`);
  }
  const boxes = run.stderr.split('\n').filter(Boolean);
  check(JSON.stringify(boxes) === JSON.stringify(messages),
        `the message boxes: ${messages.length}, as the renderer shows them`);
}
fs.rmSync(dir, { recursive: true, force: true });

// Two seconds of a 220 Hz tone, made into a voice with every byte of the module's memory taken
// (it grows no further) but the recording's, and again once the memory is given back.
const samples = 2 * 44100;
const input = m._tv_voice_input(samples) >>> 0;
const tone = new Float32Array(m.HEAPU8.buffer, input, samples);
for (let i = 0; i < samples; i++) tone[i] = 0.5 * Math.sin(2 * Math.PI * 220 * i / 44100);
const taken = [];
for (let size = 1 << 30; size >= 16;) {
  const at = m._malloc(size);
  if (at) taken.push(at);
  else size >>= 1;
}
let starved;
try {
  starved = m._tv_voice_make(samples, 44100);
} catch (error) {
  starved = `${error}`;
}
check(starved === 7 && m._tv_voice_wav_length() === 0,
      `with no memory left the voice maker answers ${starved} (7: out of memory)`);
for (const at of taken) m._free(at);
check(m._tv_voice_make(samples, 44100) === 0 && m._tv_voice_wav_length() > 44,
      'with the memory given back the same recording makes a voice');
console.log(`bindings: ${failures === 0 ? 'all passed' : `${failures} failed`}`);
process.exit(failures === 0 ? 0 : 1);
