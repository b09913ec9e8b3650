// The browser edition in the three browser engines (Chromium, Firefox, WebKit), driven through one
// small driver layer (drivers.mjs) as a person would: a first visit, a performance by mouse and
// touch with a load and a save, sound resuming after the browser suspended it, and the page
// offline from its service worker. The sound tapped in the page and the saved takes are compared
// with what the native tonvarel-render makes of the worklet's own event log.
//
//   node engines.mjs --web build/web --render build/native/tools/tonvarel-render --out DIR
//                    [--engines chromium,firefox,webkit]
import fs from 'node:fs';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import { parseArgs } from 'node:util';

import { launchers, serve, sleep, stopAll } from './drivers.mjs';
import { barProblems, checkProblems, compareWithRenderer, mono44100s16, pagePoints, readPng,
         writeWav } from './lib.mjs';
import { MIDI_STAND_IN } from './midi_standin.mjs';
import { texts } from '../../web/texts.js';

const { values: args } = parseArgs({
  options: { web: { type: 'string' }, render: { type: 'string' }, out: { type: 'string' },
             engines: { type: 'string', default: 'chromium,firefox,webkit' } },
});
for (const name of ['web', 'render', 'out']) {
  if (!args[name]) {
    throw new Error('usage: engines.mjs --web DIR --render PATH --out DIR [--engines LIST] ' +
                    `(no --${name})`);
  }
}
const web = path.resolve(args.web);
const render = path.resolve(args.render);
const out = path.resolve(args.out);
const engines = args.engines.split(',');
for (const engine of engines) {
  if (!launchers[engine]) {
    throw new Error(`unknown engine ${engine}; known: ${Object.keys(launchers)}`);
  }
}
fs.rmSync(out, { recursive: true, force: true });

// ---- The page, through the contract only ----

async function open(page, url) {
  await page.goto(url);
  await page.waitFor(() => document.body.dataset.page === 'ready');
}

// A command's one element, once it is offered; in a menu popup that is not shown, its menu's
// title opens it first.
async function command(page, id) {
  await page.waitFor((i) => !document.getElementById(i).disabled, id);
  if (!await page.evaluate((i) => document.getElementById(i).checkVisibility(), id)) {
    await page.click((i) => document.getElementById(i).closest('.menu').querySelector('.title'),
                     id);
  }
  await page.click((i) => document.getElementById(i), id);
}

// After the first press: the engine has started and the context plays (Firefox takes a second
// or two here), so that what follows is spread over the blocks as played.
async function soundRuns(page) {
  await page.waitFor(() => document.body.dataset.engine === 'ready' &&
                           window.tonvarel.audio().state === 'running');
}

async function note(page, at, ms) {
  await page.mouse('down', at);
  await sleep(ms);
  await page.mouse('up', at);
}

const sounds = (tap, from) => tap.left.subarray(from).some((v) => v !== 0);

// ---- Scenarios: each gets (ctx, check) and returns nothing, or { note } or { skip } ----

async function firstVisit({ browser, origin, dir }, check) {
  const page = await browser.newPage();
  await open(page, `${origin}/?lang=en`);
  const said = await page.evaluate(() => {
    const h = document.getElementById('hint');
    return { shown: h.checkVisibility(), reason: h.dataset.reason };
  });
  check(said.shown && said.reason === 'start',
        `the hint is ${said.shown ? `"${said.reason}"` : 'hidden'}, ` +
        'not that sound starts with a gesture');
  // Every control of the bar whole and in reach, with this engine's fonts and pickers.
  const bar = await barProblems(page);
  check(bar.length === 0, `the bar: ${bar.join('; ')}`);
  // The pad's border, one black client pixel wide, white inside, wherever the pad is seen: in
  // the viewport, not under the notice (which lies over the pad when there is no room beside).
  const ring = [];
  for (let i = 64; i < 320; i++) ring.push([i, 64], [i, 319], [64, i], [319, i]);
  const inside = ring.map(([x, y]) => [x + (x === 64) - (x === 319), y + (y === 64) - (y === 319)]);
  const points = await page.evaluate((list) => {
    const notice = document.getElementById('hint').getBoundingClientRect();
    const under = (p) => p.x >= notice.left && p.x < notice.right && p.y >= notice.top &&
                         p.y < notice.bottom;
    return list.map(([x, y]) => {
      const p = window.tonvarel.clientToPage(x, y);
      return { ...p, onTop: !under(p) && document.elementFromPoint(p.x, p.y)?.id === 'pad' };
    });
  }, [...ring, ...inside]);
  const scale = await page.evaluate(() => window.devicePixelRatio);
  const file = path.join(dir, 'first-visit.png');
  await page.screenshot(file);
  const shot = readPng(fs.readFileSync(file));
  const seen = points.filter((p) => p.onTop).length;
  const wrong = points.filter(({ x, y, onTop }, i) => {
    const v = shot.gray(Math.floor(x * scale), Math.floor(y * scale));
    return onTop && (i < ring.length ? v > 64 : v < 192);
  }).length;
  check(seen > points.length / 2, `the pad is on top at only ${seen} of ${points.length} points`);
  check(wrong === 0, `${wrong} pixels of the pad's border or just inside it are wrong`);
  await checkProblems(check, page, 'the first visit');
  await page.close();
}

async function playLoadSave({ browser, origin, dir }, check) {
  const page = await browser.newPage();
  await open(page, `${origin}/?lang=en&tap=20`);
  await page.evaluate(() => {
    window.pointerTypes = [];
    document.addEventListener('pointerdown', (e) => window.pointerTypes.push(e.pointerType), true);
  });
  const [a, b, c, d, t1, t2, n] = await pagePoints(page, [[100, 192], [100, 160], [160, 128],
                                                          [250, 128], [120, 171], [120, 150],
                                                          [140, 180]]);
  // A glide with vibrato by mouse; the same by touch.
  await page.mouse('down', a);
  await soundRuns(page);
  for (const p of [b, c, d]) {
    await sleep(120);
    await page.mouse('move', p);
  }
  await sleep(150);
  await page.mouse('up', d);
  await sleep(100);
  await page.touch('start', t1);
  await sleep(150);
  await page.touch('move', t2);
  await sleep(150);
  await page.touch('end', t2);
  await sleep(100);
  // Keys on the focused pad: three semitones up from where the finger left, held, moved right.
  await page.evaluate(() => document.getElementById('pad').focus());
  for (let i = 0; i < 3; i++) await page.key('press', 'ArrowUp');
  await page.key('down', ' ');
  await sleep(150);
  for (let i = 0; i < 2; i++) await page.key('press', 'ArrowRight');
  await sleep(150);
  await page.key('up', ' ');
  await sleep(100);
  // A file as the tone table, a note with it, the take saved.
  const wav = path.join(dir, 'saw.wav');
  writeWav(wav, mono44100s16());
  await page.loadFile(wav, () => command(page, 'cmd-load'));
  await page.waitFor(async () => (await window.tonvarel.log()).log.some((e) => e.type === 'load'));
  await note(page, n, 150);
  await sleep(80);
  await command(page, 'cmd-save');
  const download = await page.nextDownload();
  await sleep(100);

  const types = await page.evaluate(() => window.pointerTypes);
  const result = await compareWithRenderer(check, page, render, dir, {
    files: { 'saw.wav': wav }, downloads: [download] });
  await checkProblems(check, page, 'the performance');
  await page.close();
  if (!result) return {};
  const downs = result.log.log.filter((e) => e.type === 'ldown');
  check(downs.length === 4, `${downs.length} notes logged, not 4`);
  // Notes start within a quantum of the press, not at the next 1,500-frame block.
  check(downs.some((e) => e.frame % 1500 !== 0),
        `every press fell on a block boundary: ${downs.map((e) => e.frame)}`);
  check(downs[0] && downs[0].x === 100 && downs[0].y === 192,
        `the first note is at (${downs[0]?.x}, ${downs[0]?.y}), not at client (100, 192)`);
  const [keyed, keyedUp] = [downs[2], result.log.log.filter((e) => e.type === 'lup')[2]];
  check(keyed?.x === 120 && keyed.y < 150 && keyedUp?.x === 152 && keyedUp.y === keyed.y,
        `the keys played from (${keyed?.x}, ${keyed?.y}) to (${keyedUp?.x}, ${keyedUp?.y})`);
  check(['move', 'lup', 'load', 'save'].every((k) => result.log.log.some((e) => e.type === k)),
        `the log lacks some event kinds: ${[...new Set(result.log.log.map((e) => e.type))]}`);
  const touch = types[1] === 'touch';
  return { note: touch ? '' : `touch actions arrive as ${types[1]} pointer events: not touch` };
}

async function resumeAfterSuspension({ browser, origin, dir }, check) {
  const page = await browser.newPage();
  await open(page, `${origin}/?lang=en&tap=20`);
  const [p, q] = await pagePoints(page, [[150, 160], [200, 140]]);
  await page.mouse('down', p);
  await soundRuns(page);
  await sleep(200);
  await page.mouse('up', p);
  await sleep(100);
  await page.evaluate(() => window.tonvarel.audio().suspend());
  await page.waitFor(() => {
    const h = document.getElementById('hint');
    return h.dataset.reason === 'suspended' && h.checkVisibility();
  });
  // The note is held until the sound runs again: Firefox takes about 2 s to resume here, and a
  // note released before that is over before it was heard.
  const pressed = performance.now();
  await page.mouse('down', q);
  await page.waitFor(() => window.tonvarel.audio().state === 'running');
  const resumed = performance.now() - pressed;
  await sleep(300);
  await page.mouse('up', q);
  await page.waitFor(() => !document.getElementById('hint').checkVisibility());
  await sleep(100);
  // What the engine grants for the lowest latency asked for, in ms.
  const [base, output] = await page.evaluate(() => [window.tonvarel.audio().baseLatency,
                                                    window.tonvarel.audio().outputLatency]);
  const result = await compareWithRenderer(check, page, render, dir);
  await checkProblems(check, page, 'the resumed page');
  await page.close();
  if (!result) return {};
  const downs = result.log.log.filter((e) => e.type === 'ldown');
  check(downs.length === 2 && sounds(result.tap, downs[1].frame),
        'no sound after the pad was pressed again');
  const ms = (s) => (s === undefined ? 'not reported' : `${(s * 1000).toFixed(1)} ms`);
  return { note: `running ${(resumed / 1000).toFixed(2)} s after the press; baseLatency ` +
                 `${ms(base)}, outputLatency ${ms(output)}` };
}

async function offline({ browser, origin, dir, stopServer }, check) {
  if (!fs.existsSync(path.join(web, 'sw.js'))) return { skip: `${args.web} has no sw.js` };
  const page = await browser.newPage();
  const url = `${origin}/?lang=en&tap=10`;
  await open(page, url);
  const controlled = () => page.evaluate(() => Promise.race([
    navigator.serviceWorker.ready.then(() => !!navigator.serviceWorker.controller),
    new Promise((resolve) => setTimeout(() => resolve(false), 10_000)),
  ]));
  // The first visit installs the worker; it controls the page from the next load on, or at
  // once if it claims its clients.
  if (!await controlled()) await open(page, url);
  if (!check(await controlled(), 'no service worker controls the page')) {
    await page.close();
    return {};
  }
  // A note on the first visit: the worklet and the module have loaded before the server goes,
  // so no fetch of this page is cut off by it (or by the reload).
  const [first] = await pagePoints(page, [[120, 150]]);
  await page.mouse('down', first);
  await soundRuns(page);
  await page.mouse('up', first);
  const installErrors = await page.installabilityErrors?.();
  if (installErrors) {
    check(installErrors.length === 0,
          `Chromium would not install the page: ${JSON.stringify(installErrors)}`);
  }
  await stopServer();
  check(await fetch(origin).then(() => false, () => true), 'the static server still answers');
  await open(page, url);
  const [p] = await pagePoints(page, [[120, 150]]);
  await page.mouse('down', p);
  await soundRuns(page);
  await sleep(200);
  await page.mouse('up', p);
  await sleep(80);
  await command(page, 'cmd-save');
  const download = await page.nextDownload();
  await sleep(100);
  const result = await compareWithRenderer(check, page, render, dir, { downloads: [download] });
  await checkProblems(check, page, 'the page offline');
  await page.close();
  if (result) check(sounds(result.tap, 0), 'the page offline played nothing');
}

// Three fingers put down at once sound C4, E4 and G4 (rows 215, 171 and 144 lie within a few
// cents of them); the readout and the live region name the chord. One finger lifts and another
// glides up a fifth while the third holds.
async function chordOfThreeFingers({ browser, origin, dir }, check) {
  const page = await browser.newPage();
  await open(page, `${origin}/?lang=en&tap=20`);
  const [c, e, g, glide] = await pagePoints(page, [[100, 279], [150, 235], [200, 208],
                                                   [200, 176]]);
  // A tap first: a touch starts the sound only as it ends.
  await page.touch('start', c);
  await page.touch('end', c);
  await soundRuns(page);
  await page.evaluate(() => {
    window.fingersDown = new Set();
    document.addEventListener('pointerdown', (x) => {
      if (x.pointerType === 'touch') window.fingersDown.add(x.pointerId);
    }, true);
  });
  await page.fingers([{ finger: 1, action: 'start', at: c }, { finger: 2, action: 'start', at: e },
                      { finger: 3, action: 'start', at: g }]);
  await sleep(300);
  if (await page.evaluate(() => window.fingersDown.size) < 3) {
    await page.fingers([{ finger: 1, action: 'end', at: c }, { finger: 2, action: 'end', at: e },
                        { finger: 3, action: 'end', at: g }]);
    await page.close();
    return { skip: 'the driver\'s touch sources do not arrive as three touch pointers' };
  }
  const said = await page.evaluate(() => ['note', 'notes', 'chord', 'announce'].map(
      (id) => document.getElementById(id).textContent));
  check(JSON.stringify(said) === JSON.stringify(['C', 'C4 E4 G4', 'C major', 'C major: C4 E4 G4']),
        `the readout and the live region say ${JSON.stringify(said)}`);
  await page.fingers([{ finger: 2, action: 'end', at: e }]);
  await sleep(150);
  for (let k = 1; k <= 4; k++) {
    const at = { x: g.x, y: g.y + (glide.y - g.y) * k / 4 };
    await page.fingers([{ finger: 3, action: 'move', at }]);
    await sleep(60);
  }
  await sleep(150);
  await page.fingers([{ finger: 1, action: 'end', at: c }, { finger: 3, action: 'end', at: glide }]);
  await sleep(150);
  const result = await compareWithRenderer(check, page, render, dir);
  await checkProblems(check, page, 'the chord');
  await page.close();
  if (!result) return {};
  const downs = result.log.log.filter((x) => x.type === 'ldown').map((x) => x.voice);
  const ups = result.log.log.filter((x) => x.type === 'lup').map((x) => x.voice);
  check(JSON.stringify(downs.sort()) === '[0,0,1,2]' && JSON.stringify(ups.sort()) === '[0,0,1,2]',
        `voices pressed ${downs}, released ${ups}`);
  return {};
}

// Every pointer that pressed the pad ends its note wherever it lets go, and Space tapped while the
// mouse holds the note leaves it sounding: the mouse and a finger let go over the readout, the mouse outside the page (where the driver can take it there), the mouse
// under the About box that opened meanwhile. Nothing sounds at the end.
async function releasesAnywhere({ browser, origin, dir, engine }, check) {
  const page = await browser.newPage();
  await open(page, `${origin}/?lang=en&tap=20`);
  const [p, q] = await pagePoints(page, [[150, 160], [200, 200]]);
  const readout = await page.evaluate(() => {
    const r = document.getElementById('readout').getBoundingClientRect();
    return { x: r.left + r.width / 2, y: r.top + r.height / 2 };
  });
  await page.mouse('down', p);
  await soundRuns(page);
  // Space tapped while the mouse holds the note: the note goes on, moved by the mouse.
  await page.key('down', ' ');
  await sleep(100);
  await page.key('up', ' ');
  await page.mouse('move', q);
  await sleep(150);
  const early = await page.evaluate(async () => (await window.tonvarel.log()).log.map((x) => x.type));
  check(!early.includes('lup'), `Space let go of the mouse's note: ${early}`);
  await page.mouse('move', readout);
  await page.mouse('up', readout);
  await sleep(150);
  await page.touch('start', q);
  await sleep(150);
  await page.touch('move', readout);
  await page.touch('end', readout);
  await sleep(150);
  if (engine === 'chromium') {
    await page.mouse('down', p);
    await sleep(150);
    await page.mouse('move', { x: -20, y: -20 });
    await page.mouse('up', { x: -20, y: -20 });
    await sleep(150);
  }
  await page.mouse('down', q);
  await sleep(150);
  await page.evaluate(() => document.getElementById('pad').focus());
  await page.key('down', 'Alt');
  await page.key('press', '/');
  await page.key('up', 'Alt');
  await page.waitFor(() => document.getElementById('about').open);
  await sleep(150);
  await page.mouse('up', q);
  await sleep(200);
  const result = await compareWithRenderer(check, page, render, dir);
  await page.click(() => document.getElementById('about-ok'));
  await checkProblems(check, page, 'the releases');
  await page.close();
  if (!result) return {};
  const count = (type) => result.log.log.filter((x) => x.type === type).length;
  const notes = engine === 'chromium' ? 4 : 3;
  check(count('ldown') === notes + 1 && count('lup') === notes,
        `${count('ldown')} presses and ${count('lup')} releases logged`);
  const last = result.tap.left.subarray(result.tap.left.length - 4410);
  check(last.every((v) => v === 0), 'a note still sounds after every pointer let go');
  return {};
}

// ---- MIDI through a stand-in for Web MIDI (midi_standin.mjs); WebKit has no Web MIDI ----

const NO_WEB_MIDI = 'WebKit has no Web MIDI';
const hex = (bytes) => bytes.map((b) => b.toString(16).padStart(2, '0')).join(' ');
const midiIn = (page, bytes, input = 0) => page.evaluate((b, i) => window.__midi.play(b, i),
                                                         bytes, input);

// The MIDI command: access asked for, then its dialog.
async function openMidi(page) {
  await command(page, 'cmd-midi');
  await page.waitFor(() => document.getElementById('midi').open);
}

// A phrase from a keyboard: a chord in one packet with clock bytes among it, a bend, the mod
// wheel, notes held by the pedal (their note-offs by running status, a stray data byte after
// them); ten notes on every voice, one let go, where a finger then lands; a second keyboard
// plugged in and switched off while it holds a note; the first unplugged while its pedal holds a
// note. The sound is the renderer's replay of the log, which holds exactly the channel messages
// that should have played.
async function midiPhrase({ browser, origin, dir, engine }, check) {
  if (engine === 'webkit') return { skip: NO_WEB_MIDI };
  const page = await browser.newPage();
  await page.preload(MIDI_STAND_IN, { answer: 'grant', inputs: ['Keys'] });
  await open(page, `${origin}/?lang=en&tap=20`);
  check(await page.evaluate(() => window.__midi.asked) === 0, 'MIDI access was asked at load');
  await openMidi(page);
  await page.click(() => document.getElementById('midi-ok'));
  await soundRuns(page);
  const [finger] = await pagePoints(page, [[150, 200]]);
  // Bytes from the keyboard, pauses in ms, the voices notes should hold, and what else happens.
  const steps = [
    [0x90, 60, 100, 0xf8, 0x90, 64, 100, 0xfe, 0x90, 67, 100], 'chord',
    [0xf0, 0x7e, 0x7f, 0x06, 0x01, 0xf7], [0xe0, 0x00, 0x50], 150, [0xe0, 0x00, 0x40],
    [0xb0, 1, 90], 150, [0xb0, 64, 127], [0x80, 60, 0, 64, 0, 67, 0, 0x3c], 200, [0xb0, 64, 0],
    100, [0x91, ...Array.from({ length: 10 }, (_, i) => [48 + i, 100]).flat()], { voices: 0x3ff },
    [0x81, 52, 0], { voices: 0x3ff & ~(1 << 5) }, 'finger', 150, [0xb1, 123, 0],
  ];
  for (const step of steps) {
    if (Array.isArray(step)) {
      await midiIn(page, step);
    } else if (step.voices !== undefined) {
      await page.waitFor((v) => window.tonvarel.noteVoices() === v, step.voices);
    } else if (step === 'chord') {
      await page.waitFor(() => document.getElementById('notes').textContent === 'C4 E4 G4');
      const said = await page.evaluate(() => document.getElementById('chord').textContent);
      check(said === 'C major', `the readout names the keyboard's chord ${JSON.stringify(said)}`);
      await page.screenshot(path.join(dir, 'midi-chord.png'));
    } else if (step === 'finger') {
      await page.touch('start', finger);
      await sleep(150);
      await page.touch('end', finger);
    } else {
      await sleep(step);
    }
  }
  await page.evaluate(() => window.__midi.plug('inputs', 'Pads'));
  await midiIn(page, [0x99, 70, 90], 1);
  await sleep(150);
  await openMidi(page);
  await page.click(() => [...document.querySelectorAll('#midi-inputs label')]
    .find((l) => l.textContent === 'Pads').querySelector('input'));
  await page.click(() => document.getElementById('midi-ok'));
  await midiIn(page, [0x99, 72, 90], 1);
  await midiIn(page, [0xb0, 64, 127, 0x90, 62, 100]);
  await sleep(150);
  await page.evaluate(() => window.__midi.unplug('inputs', 0));
  await sleep(200);
  const result = await compareWithRenderer(check, page, render, dir);
  await checkProblems(check, page, 'the MIDI phrase');
  await page.close();
  if (!result) return {};
  const played = result.log.log.filter((e) => e.type === 'midi').map((e) => hex(e.bytes));
  const expected = [
    '90 3c 64', '90 40 64', '90 43 64', 'e0 00 50', 'e0 00 40', 'b0 01 5a', 'b0 40 7f',
    '80 3c 00', '80 40 00', '80 43 00', 'b0 40 00',
    ...Array.from({ length: 10 }, (_, i) => `91 ${(48 + i).toString(16)} 64`), '81 34 00',
    'b1 7b 00', '99 46 5a', '89 46 00', 'b0 40 7f', '90 3e 64', 'b0 40 00', '80 3e 00',
  ];
  check(played.join(', ') === expected.join(', '), `the log played ${played.join(', ')}`);
  const fingers = result.log.log.filter((e) => e.type === 'ldown').map((e) => e.voice);
  check(JSON.stringify(fingers) === '[5]', `the finger took voice ${fingers}, not 5`);
  const last = result.tap.left.subarray(result.tap.left.length - 4410);
  check(last.every((v) => v === 0), 'a note still sounds after its keyboard went');
  return {};
}

// What a synth hears from `sent`, as pitches: after each note-on and each bend of a channel that
// sounds a note (from message `from` on), that note bent by the channel's range (set by registered
// parameter 0). Also whether every note-on followed a bend of its channel, and the notes left
// sounding.
function synthHears(sent, from) {
  const channels = Array.from({ length: 16 }, () => ({
    range: 2, bend: 8192, note: null, bent: false, parameter: [127, 127] }));
  const pitches = [];
  let bentFirst = true;
  const pitch = (c) => 440 * 2 ** ((c.note - 69 + (c.bend - 8192) / 8192 * c.range) / 12);
  for (const [i, [status, a, b]] of sent.entries()) {
    const c = channels[status & 15];
    const kind = status >> 4;
    if (kind === 0xb && (a === 101 || a === 100)) c.parameter[a === 101 ? 0 : 1] = b;
    if (kind === 0xb && a === 6 && c.parameter.join() === '0,0') c.range = b;
    if (kind === 0xe) {
      c.bend = a + 128 * b;
      c.bent = true;
    }
    if (kind === 0x9) {
      bentFirst &&= c.bent;
      c.note = a;
    }
    if (kind === 0x8 && c.note === a) {
      c.note = null;
      c.bent = false;
    }
    if ((kind === 0x9 || kind === 0xe) && c.note !== null && i >= from) pitches.push(pitch(c));
  }
  return { pitches, bentFirst, sounding: channels.filter((c) => c.note !== null).length };
}

const cents = (a, b) => Math.abs(1200 * Math.log2(a / b));

// A glide on the pad, from near its foot to near its top (about 64 semitones, past MPE's bend
// range of 48) and across, played on an output in each mode: the setup messages, then pitches that
// follow the pad's within a cent, each note started by its bend, the column as CC 74, and nothing
// left sounding. The pad's pitch at row offset y is 7,040 / (y / 8) Hz with snap off.
async function midiOutGlide({ browser, origin, engine }, check) {
  if (engine === 'webkit') return { skip: NO_WEB_MIDI };
  const page = await browser.newPage();
  await page.preload(MIDI_STAND_IN, { answer: 'grant', outputs: ['Synth'] });
  await open(page, `${origin}/?lang=en`);
  const rows = [300, 260, 220, 180, 140, 110, 90, 78, 70];
  const points = await pagePoints(page, rows.map((y, i) => [90 + 20 * i, y]));
  const expected = rows.map((y) => 7040 / ((y - 64) / 8));
  const setups = {
    mpe: ['b0 65 00', 'b0 64 06', 'b0 06 0f', 'b0 65 7f', 'b0 64 7f',
          ...Array.from({ length: 15 }, (_, i) => [101, 100, 6, 38, 101, 100].map(
              (cc, k) => `${hex([0xb1 + i, cc, [0, 0, 48, 0, 127, 127][k]])}`)).flat()],
    one: ['b0 65 00', 'b0 64 00', 'b0 06 02', 'b0 26 00', 'b0 65 7f', 'b0 64 7f'],
  };
  for (const mode of ['mpe', 'one']) {
    await openMidi(page);
    await page.evaluate((m) => {
      for (const [id, value] of [['midi-output', 'Synth'], ['midi-mode', m]]) {
        const select = document.getElementById(id);
        select.value = value;
        select.dispatchEvent(new Event('change'));
      }
    }, mode);
    await page.click(() => document.getElementById('midi-ok'));
    const from = await page.evaluate(() => window.__midi.sent.length);
    await page.mouse('down', points[0]);
    for (const p of points.slice(1)) {
      await sleep(40);
      await page.mouse('move', p);
    }
    await sleep(40);
    await page.mouse('up', points.at(-1));
    const sent = await page.waitFor((n) => window.__midi.sent.length > n &&
                                           window.__midi.sent.map((m) => m.data), from);
    // Choosing MPE sends its setup; choosing the other mode ends nothing and sends its own.
    const setup = sent.slice(0, from).map(hex).slice(-setups[mode].length);
    check(setup.join() === setups[mode].join(),
          `${mode}: the setup sent is ${setup.join(', ')}`);
    const played = sent.slice(from);
    const heard = synthHears(sent, from);
    const pitches = heard.pitches;
    const distinct = pitches.filter((p, i) => i === 0 || cents(p, pitches[i - 1]) > 0.01);
    check(distinct.length === expected.length &&
          distinct.every((p, i) => cents(p, expected[i]) <= 1),
          `${mode}: the synth plays ${distinct.map((p) => p.toFixed(2))} Hz, the pad ` +
          `${expected.map((p) => p.toFixed(2))} Hz`);
    check(heard.bentFirst, `${mode}: a note started before its bend`);
    check(heard.sounding === 0, `${mode}: ${heard.sounding} notes still sound on the synth`);
    const ons = played.filter(([s]) => s >> 4 === 9);
    check(ons.length >= 2, `${mode}: the glide past the bend range started ${ons.length} notes`);
    // MPE plays on member channels (2 to 16), the other mode on channel 1.
    const astray = played.filter(([s]) => (mode === 'one') !== ((s & 15) === 0));
    check(astray.length === 0, `${mode}: messages on the wrong channels: ${astray.map(hex)}`);
    // Columns 90 and 250 of the pad's 65 to 319.
    const timbre = played.filter(([s, cc]) => s >> 4 === 0xb && cc === 74).map((m) => m[2]);
    check(timbre[0] === 13 && timbre.at(-1) === 93,
          `${mode}: CC 74 went ${timbre}, not from 13 to 93`);
  }
  // The next visit remembers the output and its mode, and sets it up once MIDI is opened.
  await open(page, `${origin}/?lang=en`);
  await openMidi(page);
  const again = await page.evaluate(() => [document.getElementById('midi-output').value,
                                           document.getElementById('midi-mode').value,
                                           window.__midi.sent.map((m) => m.data)]);
  check(again[0] === 'Synth' && again[1] === 'one' &&
        again[2].map(hex).join() === setups.one.join(),
        `the next visit has ${again[0]} in mode ${again[1]} and sent ${again[2].map(hex)}`);
  await checkProblems(check, page, 'the MIDI output');
  await page.close();
  return {};
}

// MIDI that cannot be had: access refused, and a browser without Web MIDI. Each is said, and the
// dialog does not open.
async function midiUnavailable({ browser, origin, engine }, check) {
  if (engine === 'webkit') return { skip: NO_WEB_MIDI };
  for (const [answer, problem] of [['refuse', 'refused'], ['absent', 'unsupported']]) {
    const page = await browser.newPage();
    await page.preload(MIDI_STAND_IN, { answer });
    await open(page, `${origin}/?lang=en`);
    await command(page, 'cmd-midi');
    const said = await page.waitFor(() => document.querySelector('dialog.message[open] .text')
                                               ?.textContent);
    check(said === texts.en.midi.problems[problem], `${answer}: the page says ${said}`);
    check(!await page.evaluate(() => document.getElementById('midi').open),
          `${answer}: the MIDI dialog opened`);
    await page.click(() => document.querySelector('dialog.message[open] .ok'));
    await checkProblems(check, page, `MIDI ${answer}`);
    await page.close();
  }
  return {};
}

// The looper: a loop of about 2 s recorded while a note glides, a layer overdubbed and undone,
// another overdubbed, and the take played back over the loop, by keys and buttons. The bar names
// the overdub while it runs and the lane draws the layers that stay; every sample is
// tonvarel-render's replay of the log, loop and playback included.
async function looper({ browser, origin, dir }, check) {
  const page = await browser.newPage();
  await open(page, `${origin}/?lang=en&tap=20`);
  const [a, b, c, d, e] = await pagePoints(page, [[100, 200], [130, 180], [160, 171],
                                                  [120, 150], [200, 135]]);
  const state = (s) => page.waitFor((x) => document.getElementById('loop').dataset.state === x, s);
  const press = async (key, s) => {
    await page.key('press', key);
    await state(s);
  };
  await page.mouse('down', a);
  await soundRuns(page);
  await page.waitFor(() => !document.getElementById('cmd-loop').disabled);
  await press('l', 'recording');
  for (const p of [b, c]) {
    await sleep(800);
    await page.mouse('move', p);
  }
  await sleep(400);
  await press('l', 'playing');
  await page.mouse('up', c);
  await sleep(300);
  await press('l', 'overdub');
  const marked = await page.evaluate(() => [document.getElementById('cmd-loop').dataset.next,
                                            document.getElementById('loop').title]);
  check(marked[0] === 'play' && /overdubbing/.test(marked[1]),
        `while overdubbing the loop button says ${marked[0]} and the loop ${marked[1]}`);
  await note(page, d, 600);
  await press('l', 'playing');
  await command(page, 'cmd-loop-undo');
  await page.waitFor(() => document.getElementById('cmd-loop-undo').disabled);
  await press('l', 'overdub');
  await page.mouse('down', e);
  await sleep(500);
  await page.screenshot(path.join(dir, 'overdub.png'));
  await page.mouse('up', e);
  await press('l', 'playing');
  await command(page, 'cmd-play');
  await page.waitFor(() => document.getElementById('cmd-play').classList.contains('playing'));
  await sleep(300);
  await page.waitFor(() => document.getElementById('loop-lane').dataset.layers === '2');
  await page.screenshot(path.join(dir, 'playing.png'));
  await sleep(600);
  const length = await page.evaluate(() => document.getElementById('loop-length').textContent);
  const result = await compareWithRenderer(check, page, render, dir);
  await checkProblems(check, page, 'the looper');
  await page.close();
  check(/^(1\.[6-9]|2\.\d) s$/.test(length), `the loop lasts ${length}, not about 2 s`);
  if (!result) return {};
  const controls = result.log.log.map((x) => x.type).filter((x) => /^loop|^play$/.test(x));
  check(controls.join() === 'loop,loop,loop,loop,loop-undo,loop,loop,play',
        `the looper's controls logged: ${controls}`);
  return {};
}

const scenarios = [
  ['first visit', firstVisit],
  ['mouse, touch and keys, load, save', playLoadSave],
  ['a chord of three fingers', chordOfThreeFingers],
  ['MIDI in: a phrase from keyboards', midiPhrase],
  ['MIDI out: a glide as MPE and on one channel', midiOutGlide],
  ['MIDI refused or missing', midiUnavailable],
  ['a loop, overdubs, undo and the take over it', looper],
  ['releases anywhere end the note', releasesAnywhere],
  ['resume after suspension', resumeAfterSuspension],
  ['offline', offline],
];

// ---- Run ----

const started = performance.now();
const counts = { passed: 0, failed: 0, skipped: 0 };
const seconds = (t) => `${((performance.now() - t) / 1000).toFixed(1)} s`;

async function runEngine(engine) {
  const dir = path.join(out, engine);
  fs.mkdirSync(dir, { recursive: true });
  const t = performance.now();
  const site = await serve(web);
  let browser = null;
  let front = site;
  try {
    browser = await launchers[engine](dir);
    if (browser.serves) front = await browser.serves(site.origin);
    const stopServer = () => Promise.all([front.stop(), site.stop()]);
    console.log(`${engine}: started in ${seconds(t)}`);
    for (const [name, scenario] of scenarios) {
      const failures = [];
      const check = (ok, what) => {
        if (!ok) failures.push(what);
        return ok;
      };
      const ts = performance.now();
      const scenarioDir = path.join(dir, name.replace(/\W+/g, '-'));
      fs.mkdirSync(scenarioDir, { recursive: true });
      let result = {};
      try {
        result = (await scenario({ browser, origin: front.origin, dir: scenarioDir,
                                   stopServer, engine }, check)) ?? {};
      } catch (error) {
        failures.push(error.message.split('\n')[0]);
      }
      const label = `${engine.padEnd(8)} ${name}`;
      if (result.skip && failures.length === 0) {
        counts.skipped++;
        console.log(`SKIP ${label}: ${result.skip}`);
      } else if (failures.length === 0) {
        counts.passed++;
        console.log(`ok   ${label} (${seconds(ts)})${result.note ? `; ${result.note}` : ''}`);
      } else {
        counts.failed++;
        console.log(`FAIL ${label} (${seconds(ts)})`);
        for (const f of failures) console.log(`       ${f}`);
      }
    }
  } catch (error) {
    counts.failed++;
    console.log(`FAIL ${engine.padEnd(8)} could not be driven: ${error.message.split('\n')[0]}`);
  } finally {
    await browser?.close().catch(() => {});
    await Promise.all([front.stop(), site.stop()]);
  }
  console.log(`${engine}: ${seconds(t)}`);
}

for (const engine of engines) await runEngine(engine);
stopAll();
console.log(`browser engines: ${counts.passed} passed, ${counts.failed} failed` +
            `${counts.skipped ? `, ${counts.skipped} skipped` : ''} in ${seconds(started)}`);
process.exit(counts.failed === 0 ? 0 : 1);
