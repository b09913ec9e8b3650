// The browser edition's module driven as the page's worklet drives it for MIDI and for fingers:
// messages, pad events per voice and the queries for markers and the readout. The frames it
// renders are compared byte for byte with the renderer's stream for the same script.
//   node tests/web/module_midi.mjs --web build/web --render build/wasm/tonvarel-render
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { parseArgs } from 'node:util';

const { values: opts } = parseArgs({ options: { web: { type: 'string' }, render: { type: 'string' } } });
if (!opts.web || !opts.render) {
  console.error('usage: module_midi.mjs --web DIR --render TONVAREL_RENDER');
  process.exit(2);
}
const web = path.resolve(opts.web);
const { default: createTonvarel } = await import(path.join(web, 'tonvarel.js'));
const m = await createTonvarel({
  wasmBinary: fs.readFileSync(path.join(web, 'tonvarel.wasm')),
  showMessage: (text) => { throw new Error(`unexpected message: ${text}`); },
});
const frames = m._tv_start();

const script = [];
const rendered = [];
const hex = (b) => b.toString(16).toUpperCase().padStart(2, '0');
const at = (x, y) => [x + 64, y + 64];  // a pad offset as client coordinates
const midi = (...bytes) => {
  script.push(`midi ${bytes.map(hex).join(' ')}`);
  assert.equal(m._tv_midi(bytes[0], bytes[1], bytes[2] ?? 0, bytes.length), 1, script.at(-1));
};
const down = (voice, [x, y]) => {
  script.push(`voice ${voice}`, `ldown ${x} ${y}`);
  assert.equal(m._tv_voice_left_down(voice, x, y), 1);
};
const move = (voice, [x, y]) => {
  script.push(`voice ${voice}`, `move ${x} ${y}`);
  assert.equal(m._tv_voice_move(voice, x, y), 1);
};
const up = (voice) => {
  script.push(`voice ${voice}`, 'lup 0 0');
  assert.equal(m._tv_voice_left_up(voice), 1);
};
const render = (count) => {
  script.push(`frames ${count}`);
  m._tv_render_frames(count);
  rendered.push(Buffer.from(m.HEAPU8.subarray(frames, frames + 4 * count)));
};
const notes = () => m._tv_note_voices();
// The floats the pitch rule gives: 440 Hz bent up 200 cents, and middle C.
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
for (const args of [[0xf8, 0, 0, 1], [0xf0, 0x7e, 0x7f, 3], [0x90, 0x80, 1, 3], [0x90, 60, 1, 2],
                    [0xc0, 5, 0, 3], [0x190, 60, 1, 3], [0x90, -1, 1, 3], [0x90, 60, 1, 4]]) {
  assert.equal(m._tv_midi(...args), 0, `tv_midi(${args})`);
}
assert.equal(m._tv_voice_left_down(10, 100, 100), 0);
assert.equal(m._tv_voice_move(-1, 100, 100), 0);
assert.equal(m._tv_voice_left_up(10), 0);
assert.equal(m._tv_voice_note(10), -1);
assert.equal(m._tv_voice_pitch(-1), 0);
assert.equal(m._tv_voice_depth(10), 0);
assert.equal(notes(), 0);
render(128);

// The page's split of a Web MIDI packet into the whole channel messages it posts to the worklet.
const { channelMessages } = await import('../../web/midi.js');
for (const [packet, messages, what] of [
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
  assert.deepEqual(channelMessages(new Uint8Array(packet)), messages, what);
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tonvarel-module-midi-'));
try {
  fs.writeFileSync(path.join(dir, 'session.txt'), script.join('\n') + '\n');
  const run = spawnSync(opts.render, [path.join(dir, 'session.txt'), '--out', path.join(dir, 'out.wav')],
                        { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  const stream = fs.readFileSync(path.join(dir, 'out.wav')).subarray(44);
  const module = Buffer.concat(rendered);
  assert.ok(module.some((b) => b !== 0), 'the module played nothing');
  assert.ok(stream.equals(module), 'the module and the renderer played different frames');
} finally {
  fs.rmSync(dir, { recursive: true, force: true });
}
console.log(`module: MIDI and fingers through the dispatcher, ${script.length} script lines, ` +
            'the same frames as the renderer');
