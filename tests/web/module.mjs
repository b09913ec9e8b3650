// The browser edition's module driven as the page's worklet drives it: MIDI and fingers through the
// dispatcher, with the queries for markers and the readout, then the looper and the take's
// playback. The session is written as a script as it goes; the renderer plays that script, and
// every frame, saved file and message box must be the same. Then the page's split of Web MIDI
// packets, and a voice made when the module's memory is all taken: the maker answers out of
// memory, and the module goes on.
//
//   node tests/web/module.mjs --web build/web --render build/wasm/tonvarel-render
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';

const { values: args } = parseArgs({ options: { web: { type: 'string' },
                                                render: { type: 'string' } } });
if (!args.web || !args.render) {
  console.error('usage: node tests/web/module.mjs --web DIR --render TONVAREL_RENDER');
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
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tonvarel-module-'));

// ---- The session: each call made on the module and written as the script line that does it ----

const script = [];
const frames = [];
const saved = [];  // { file, bytes } of each save, null bytes when nothing was written
const hex = (b) => b.toString(16).toUpperCase().padStart(2, '0');
const at = (x, y) => [x + 64, y + 64];  // a pad offset as client coordinates
const call = (line, result) => {
  script.push(...[line].flat());
  return result;
};
const midi = (...bytes) => assert.equal(call(`midi ${bytes.map(hex).join(' ')}`,
                                             m._tv_midi(bytes[0], bytes[1], bytes[2] ?? 0,
                                                        bytes.length)), 1, script.at(-1));
const down = (k, [x, y]) => assert.equal(call([`voice ${k}`, `ldown ${x} ${y}`],
                                              m._tv_voice_left_down(k, x, y)), 1);
const move = (k, [x, y]) => assert.equal(call([`voice ${k}`, `move ${x} ${y}`],
                                              m._tv_voice_move(k, x, y)), 1);
const up = (k) => assert.equal(call([`voice ${k}`, 'lup 0 0'], m._tv_voice_left_up(k)), 1);
const control = (line, fn) => call(line, fn());
function render(count) {
  script.push(`frames ${count}`);
  for (let left = count; left > 0;) {
    const n = Math.min(left, maxFrames);
    m._tv_render_frames(n);
    frames.push(m.HEAPU8.slice(base, base + 4 * n));
    left -= n;
  }
}
function save(command, length) {
  const file = path.join(dir, `saved-${saved.length}.wav`);
  const bytes = m._tv_saved_bytes();
  saved.push({ file, bytes: length === 0 ? null : m.HEAPU8.slice(bytes, bytes + length) });
  script.push(`${command} ${file}`);
}
const notes = () => m._tv_note_voices();

// MIDI and fingers. The floats the pitch rule gives: 440 Hz bent up 200 cents, and middle C.
const A4_PLUS_200_CENTS = 493.88330078125;
const C4 = 261.6255798339844;
render(128);
down(0, at(100, 128));                       // the mouse plays voice 0
midi(0x90, 69, 100);                         // a note takes the highest voice
assert.equal(notes(), 1 << 9);
assert.equal(m._tv_voice_note(9), 69);
assert.equal(m._tv_voice_pitch(9), 440);
render(256);
move(9, at(200, 20));                        // a finger on the note's voice is ignored
down(9, at(30, 30));
assert.equal(m._tv_voice_pitch(9), 440);
midi(0xe0, 0x7f, 0x7f);                      // bent up the whole range, 2 semitones
assert.equal(m._tv_voice_pitch(9), A4_PLUS_200_CENTS);
midi(0xb0, 1, 100);                          // the mod wheel: 100 x 3 / 1000 as a float
assert.equal(m._tv_voice_depth(9), Math.fround(0.3));
render(700);
for (let k = 1; k <= 8; k++) down(k, at(20 * k, 40 + 20 * k));
midi(0x91, 60, 64);                          // every voice held: dropped
assert.equal(notes(), 1 << 9);
render(300);
up(0);
midi(0x91, 60, 64);                          // the mouse let go of voice 0: the note takes it
assert.equal(notes(), (1 << 9) | 1);
assert.equal(m._tv_voice_note(0), 128 + 60);
down(0, at(200, 200));                       // and the mouse is ignored while it sounds
assert.equal(m._tv_voice_pitch(0), C4);
render(1500);
midi(0xb0, 123, 0);
midi(0xb1, 123, 0);
assert.equal(notes(), 0);
assert.equal(m._tv_voice_pitch(9), 0);
for (let k = 1; k <= 8; k++) up(k);
render(400);
midi(0xc0, 5);                               // taken, and ignored
render(128);
// Bytes that are not one channel message, and voices out of range, change nothing.
for (const bytes of [[0xf8, 0, 0, 1], [0xf0, 0x7e, 0x7f, 3], [0x90, 0x80, 1, 3], [0x90, 60, 1, 2],
                     [0xc0, 5, 0, 3], [0x190, 60, 1, 3], [0x90, -1, 1, 3], [0x90, 60, 1, 4]]) {
  assert.equal(m._tv_midi(...bytes), 0, `tv_midi(${bytes})`);
}
assert.equal(m._tv_voice_left_down(10, 100, 100), 0);
assert.equal(m._tv_voice_move(-1, 100, 100), 0);
assert.equal(m._tv_voice_left_up(10), 0);
assert.equal(m._tv_voice_note(10), -1);
assert.equal(m._tv_voice_pitch(-1), 0);
assert.equal(m._tv_voice_depth(10), 0);
assert.equal(notes(), 0);
up(0);
render(128);

// The looper and the take's playback, and their state as the page reads it: [state, position,
// length, undoable].
const EMPTY = 0, RECORDING = 1, PLAYING = 2, OVERDUBBING = 3, STOPPED = 4;
const looper = () => [m._tv_loop_state(), m._tv_loop_position(), m._tv_loop_length(),
                      m._tv_loop_undoable()];
assert.ok(m._tv_looper_available() === 1 && m._tv_playback_available() === 1,
          'the looper\'s and the playback\'s storage were had');
save('loop save', m._tv_loop_save());  // empty: nothing written
down(0, at(150, 180));
control('loop', m._tv_loop);
render(3000);
assert.deepEqual(looper(), [RECORDING, 3000, 0, 0]);
const soFar = m.HEAPU8.slice(m._tv_loop_bytes(), m._tv_loop_bytes() + m._tv_loop_byte_length());
save('loop save', m._tv_loop_save());
assert.ok(Buffer.from(saved.at(-1).bytes.subarray(44)).equals(Buffer.from(soFar)),
          'the loop\'s bytes while it records are what its save writes');
render(1410);
control('loop', m._tv_loop);
up(0);
render(5000);
assert.deepEqual(looper(), [PLAYING, 5000 % 4410, 4410, 0]);
down(0, at(90, 100));
control('loop', m._tv_loop);
render(2500);
assert.deepEqual(looper(), [OVERDUBBING, 7500 % 4410, 4410, 1]);
control('loop undo', m._tv_loop_undo);
assert.deepEqual(looper(), [PLAYING, 7500 % 4410, 4410, 0]);
render(700);
up(0);
control('take play', m._tv_take_play);
assert.equal(m._tv_take_playing(), 1);
render(4000);
control('loop', m._tv_loop);
render(300);
control('take stop', m._tv_take_stop);
control('loop stop', m._tv_loop_stop);
assert.deepEqual(looper(), [STOPPED, 0, 4410, 1]);
save('loop save', m._tv_loop_save());
render(128);
control('loop clear', m._tv_loop_clear);
assert.ok(m._tv_take_playing() === 0 && looper()[0] === EMPTY, 'the take stopped; the loop cleared');
save('save', m._tv_save());

// The same session through the renderer: every frame, every saved file, every message box.
try {
  const scriptFile = path.join(dir, 'session.txt');
  const stream = path.join(dir, 'stream.wav');
  const pages = saved.map(({ file }) => file);
  fs.writeFileSync(scriptFile, script.join('\n') + '\n');
  const run = spawnSync(args.render, [scriptFile, '--out', stream], { encoding: 'utf8' });
  assert.equal(run.status, 0, `tonvarel-render refused the session: ${run.stderr}`);
  const rendered = fs.readFileSync(stream).subarray(44);
  const played = Buffer.concat(frames);
  assert.ok(played.some((b) => b !== 0), 'the module played nothing');
  const first = rendered.findIndex((b, i) => b !== played[i]);
  assert.ok(rendered.equals(played), `the module and the renderer differ from frame ${first >> 2}`);
  for (const [i, { bytes }] of saved.entries()) {
    const written = fs.existsSync(pages[i]) ? fs.readFileSync(pages[i]) : null;
    assert.ok(bytes === null ? written === null : written?.equals(Buffer.from(bytes)),
              `save ${i}: ${bytes === null ? 'nothing' : `${bytes.length} bytes`} in the page`);
  }
  assert.deepEqual(run.stderr.split('\n').filter(Boolean), messages, 'the message boxes');
} finally {
  fs.rmSync(dir, { recursive: true, force: true });
}

// ---- The page's split of a Web MIDI packet into the whole channel messages it posts ----

const { channelMessages } = await import('../../web/midi.js');
for (const [packet, expected, what] of [
  [[0x90, 60, 100], [[0x90, 60, 100]], 'one message'],
  [[0xf8, 0x90, 0xfe, 60, 100, 0xf8], [[0x90, 60, 100]], 'real-time bytes around and inside it'],
  [[0x90, 60, 100, 64, 100, 67], [[0x90, 60, 100], [0x90, 64, 100]],
   'running status, and a piece that is no whole message'],
  [[0xc0, 5, 6, 0xd0, 7], [[0xc0, 5], [0xc0, 6], [0xd0, 7]], 'messages of two bytes'],
  [[0xf0, 0x7e, 0x7f, 0x09, 0x01, 0xf7, 0xb0, 64, 127], [[0xb0, 64, 127]], 'system exclusive'],
  [[0xf2, 0x10, 0x20, 0xe0, 0, 0x40, 0xf6, 60, 100], [[0xe0, 0, 0x40]], 'system common'],
  [[60, 100, 0x80], [], 'data bytes with no status, a status with no data'],
  [[0x90, 60, 0xb0, 64, 0], [[0xb0, 64, 0]], 'a message cut short by another'],
]) {
  assert.deepEqual(channelMessages(new Uint8Array(packet)), expected, what);
}

// ---- A voice with no memory left to make it ----

// Two seconds of a 220 Hz tone, made into a voice with every byte of the module's memory taken
// (it grows no further) but the recording's, and again once the memory is given back.
const samples = 2 * 44100;
const input = m._tv_voice_input(samples) >>> 0;
const tone = new Float32Array(m.HEAPU8.buffer, input, samples);
for (let i = 0; i < samples; i++) tone[i] = 0.5 * Math.sin(2 * Math.PI * 220 * i / 44100);
const taken = [];
for (let size = 1 << 30; size >= 16;) {
  const block = m._malloc(size);
  if (block) taken.push(block);
  else size >>= 1;
}
let starved;
try {
  starved = m._tv_voice_make(samples, 44100);
} catch (error) {
  starved = `${error}`;
}
assert.ok(starved === 7 && m._tv_voice_wav_length() === 0,
          `with no memory left the voice maker answers ${starved}, not 7 (out of memory)`);
for (const block of taken) m._free(block);
assert.ok(m._tv_voice_make(samples, 44100) === 0 && m._tv_voice_wav_length() > 44,
          'with the memory given back the same recording makes no voice');

console.log(`module: ${script.length} script lines of MIDI, fingers, the looper and the take's ` +
            `playback, the same frames, ${saved.length} saves and ${messages.length} message ` +
            'boxes as the renderer; packets split; a voice with no memory answers so');
