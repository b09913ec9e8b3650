// Helpers of the browser tests: the window's pad pixels derived afresh, a PNG reader for
// screenshots, WAV files to load, and the worklet's log replayed by the native renderer.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

// The lines the window paints black, as client rectangles [x, y, w, h] one pixel thick: the border
// Rectangle(64, 64, 320, 320) drawn with a one-pixel pen, and the 48 scale ticks, one per
// semitone below 3,520 Hz at the reciprocal height 56,320 / f, drawn from x 62 towards 56 (towards
// 48 at each C), the end excluded.
export function padLines() {
  const lines = [[64, 64, 256, 1], [64, 319, 256, 1], [64, 64, 1, 256], [319, 64, 1, 256]];
  for (let j = 0; j < 48; j++) {
    const row = 64 + Math.floor(16 * 2 ** (j / 12));
    const end = j % 12 === 9 ? 48 : 56;  // 3,520 Hz lowered by 9 semitones is a C
    lines.push([end + 1, row, 62 - end, 1]);
  }
  return lines;
}

// Which device pixels of a pad drawn at `scale` device pixels per client unit, with client
// (x0, y0) at device (0, 0), are black: each line's long side spans its client extent rounded
// to device pixels, its thickness is one client unit rounded to whole device pixels (at least
// one). Returns a test of device pixel (i, j).
export function padDrawing(scale, x0, y0) {
  const thick = Math.max(1, Math.round(scale));
  const rects = padLines().map(([x, y, w, h]) => {
    const left = Math.round((x - x0) * scale);
    const top = Math.round((y - y0) * scale);
    return [left, top, w === 1 ? left + thick : Math.round((x + w - x0) * scale),
            h === 1 ? top + thick : Math.round((y + h - y0) * scale)];
  });
  return (i, j) => rects.some(([l, t, r, b]) => i >= l && i < r && j >= t && j < b);
}

// 8-bit RGB or RGBA PNGs, not interlaced, as the browser's screenshots are.
export function readPng(buffer) {
  const width = buffer.readUInt32BE(16);
  const height = buffer.readUInt32BE(20);
  const [depth, colorType, , , interlace] = buffer.subarray(24, 29);
  if (depth !== 8 || (colorType !== 2 && colorType !== 6) || interlace !== 0) {
    throw new Error(`unexpected PNG: depth ${depth}, color type ${colorType}`);
  }
  const channels = colorType === 6 ? 4 : 3;
  const parts = [];
  for (let at = 8; at < buffer.length;) {
    const length = buffer.readUInt32BE(at);
    if (buffer.toString('latin1', at + 4, at + 8) === 'IDAT') {
      parts.push(buffer.subarray(at + 8, at + 8 + length));
    }
    at += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(parts));
  const stride = width * channels;
  const pixels = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let i = 0; i < stride; i++) {
      const a = i >= channels ? pixels[y * stride + i - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + i] : 0;
      const c = i >= channels && y > 0 ? pixels[(y - 1) * stride + i - channels] : 0;
      const p = a + b - c;
      const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c)
          ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
      const predictor = [0, a, b, (a + b) >> 1, paeth][filter];
      pixels[y * stride + i] = (line[i] + predictor) & 0xff;
    }
  }
  return {
    width, height,
    gray: (x, y) => {
      const k = y * stride + x * channels;
      return Math.round((pixels[k] + pixels[k + 1] + pixels[k + 2]) / 3);
    },
  };
}

// A 22,050 Hz, 8-bit stereo file: a rising ramp on the left, a falling one on the right.
export function stereo22050u8() {
  const frames = 2000;
  const data = Buffer.alloc(frames * 2);
  for (let i = 0; i < frames; i++) {
    data[2 * i] = (i * 7) & 0xff;
    data[2 * i + 1] = 255 - ((i * 3) & 0xff);
  }
  return { channels: 2, rate: 22050, bits: 8, data };
}

export function writeWav(file, { channels, rate, bits, data }) {
  const header = Buffer.alloc(44);
  const align = channels * bits / 8;
  header.write('RIFF', 0, 'latin1');
  header.writeUInt32LE(36 + data.length, 4);
  header.write('WAVEfmt ', 8, 'latin1');
  header.writeUInt32LE(16, 16);
  header.writeUInt16LE(1, 20);
  header.writeUInt16LE(channels, 22);
  header.writeUInt32LE(rate, 24);
  header.writeUInt32LE(rate * align, 28);
  header.writeUInt16LE(align, 32);
  header.writeUInt16LE(bits, 34);
  header.write('data', 36, 'latin1');
  header.writeUInt32LE(data.length, 40);
  fs.writeFileSync(file, Buffer.concat([header, data]));
}

// A 44,100 Hz, 16-bit mono file, a one-cycle saw of 100 frames: it loads without a message box.
export function mono44100s16() {
  const frames = 100;
  const data = Buffer.alloc(frames * 2);
  for (let i = 0; i < frames; i++) data.writeInt16LE(Math.round(-20000 + 400 * i), 2 * i);
  return { channels: 1, rate: 44100, bits: 16, data };
}

// Three seconds of a note sung at 196 Hz (G3), 44,100 Hz 16-bit mono: a bright tone with a slow
// vibrato of a few cents and a little breath, for the fake microphone.
export function sungNote() {
  const frames = 3 * 44100;
  const data = Buffer.alloc(2 * frames);
  let phase = 0;
  let noise = 12345;
  for (let i = 0; i < frames; i++) {
    phase += 196 * 2 ** (0.05 * Math.sin(2 * Math.PI * 5 * i / 44100) / 12) / 44100;
    const p = phase % 1;
    noise = (noise * 1103515245 + 12345) % 2147483648;
    const v = 0.6 * Math.sin(2 * Math.PI * p) + 0.3 * Math.sin(4 * Math.PI * p) +
              0.1 * (2 * p - 1) + 0.01 * (noise / 1073741824 - 1);
    data.writeInt16LE(Math.round(12000 * v), 2 * i);
  }
  return { channels: 1, rate: 44100, bits: 16, data };
}

// ---- The worklet's log replayed by the native renderer ----

// The renderer's names of the scales and keys, in the module's numbering.
const SCALES = ['chromatic', 'major', 'minor', 'major-pentatonic', 'minor-pentatonic', 'blues',
                'whole-tone'];
const KEYS = ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B'];

// The log as a tonvarel-render script: each event after the frames rendered before it. `files`
// maps each loaded name to a path; each save, the take's or the loop's, writes to the next of
// `saves`.
export function logScript(log, { files = {}, saves = [] } = {}) {
  const lines = [];
  let frame = 0;
  let saved = 0;
  let voice = 0;  // what ldown, lup and move address
  for (const e of log.log) {
    if (e.frame > frame) lines.push(`frames ${e.frame - frame}`);
    frame = e.frame;
    if (e.voice !== undefined && e.voice !== voice) {
      voice = e.voice;
      lines.push(`voice ${voice}`);
    }
    switch (e.type) {
      case 'load':
        if (!files[e.name]) throw new Error(`the log loads ${e.name}, a file not given`);
        lines.push(`load ${files[e.name]}`);
        break;
      case 'save': case 'loop-save':
        if (saved === saves.length) throw new Error('the log saves more files than expected');
        lines.push(`${e.type === 'save' ? 'save' : 'loop save'} ${saves[saved++]}`);
        break;
      case 'snap':
        lines.push(e.scale < 0 ? 'snap off' : `snap ${SCALES[e.scale]} ${KEYS[e.key]}`);
        break;
      case 'builtin': lines.push('default'); break;
      case 'midi':
        lines.push(`midi ${e.bytes.map((b) => b.toString(16).padStart(2, '0')).join(' ')}`);
        break;
      case 'play': case 'stop': lines.push(`take ${e.type}`); break;
      case 'loop': lines.push('loop'); break;
      case 'loop-stop': case 'loop-undo': case 'loop-clear':
        lines.push(e.type.replace('-', ' '));
        break;
      default: lines.push(`${e.type} ${e.x} ${e.y}`);
    }
  }
  lines.push(`frames ${log.frames - frame}`);
  return lines.join('\n') + '\n';
}

// Renders the log in `dir`: the stream it should have played, the files its saves wrote (a save
// of nothing writes none) and the message boxes it showed (one line each), or the renderer's
// refusal.
export function renderLog(render, log, dir, files = {}) {
  fs.mkdirSync(dir, { recursive: true });
  const saving = log.log.filter((e) => e.type === 'save' || e.type === 'loop-save');
  const saves = saving.map((e, i) => path.join(
      dir, `expected-${e.type === 'save' ? 'take' : 'loop'}-${i + 1}.wav`));
  const script = path.join(dir, 'performance.txt');
  const streamPath = path.join(dir, 'expected-stream.wav');
  fs.writeFileSync(script, logScript(log, { files, saves }));
  const run = spawnSync(render, [script, '--out', streamPath], { encoding: 'utf8' });
  if (run.status !== 0) return { error: `tonvarel-render refused ${script}: ${run.stderr}` };
  return {
    stream: fs.readFileSync(streamPath),
    saves: saves.filter((file) => fs.existsSync(file)).map((file) => fs.readFileSync(file)),
    messages: run.stderr.split('\n').filter(Boolean),
  };
}

// The first frame where the tapped sound (16-bit integers) and the rendered stream differ
// within their common length, or -1; and that length.
export function compareTap(tap, stream) {
  const frames = Math.min(tap.left.length, (stream.length - 44) / 4);
  for (let i = 0; i < frames; i++) {
    if (tap.left[i] !== stream.readInt16LE(44 + 4 * i) ||
        tap.right[i] !== stream.readInt16LE(46 + 4 * i)) return { frames, mismatch: i };
  }
  return { frames, mismatch: -1 };
}

// The worklet's output from its first frame on, as the 16-bit values it was made of (any driver's
// page).
export async function tapped(page) {
  const base64 = await page.evaluate(async () => {
    const { left, right } = await window.tonvarel.tap();
    const ints = new Int16Array(2 * left.length);
    for (let i = 0; i < left.length; i++) {
      ints[2 * i] = Math.round(left[i] * 32768);
      ints[2 * i + 1] = Math.round(right[i] * 32768);
    }
    const bytes = new Uint8Array(ints.buffer);
    let text = '';
    for (let k = 0; k < bytes.length; k += 0x8000) {
      text += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
    }
    return btoa(text);
  });
  const bytes = Buffer.from(base64, 'base64');
  const frames = bytes.length / 4;
  const tap = { left: new Int16Array(frames), right: new Int16Array(frames) };
  for (let i = 0; i < frames; i++) {
    tap.left[i] = bytes.readInt16LE(4 * i);
    tap.right[i] = bytes.readInt16LE(4 * i + 2);
  }
  return tap;
}

// The worklet's log, its tap and the page's downloads ({ name, bytes }) against the renderer's
// replay of the log in `dir`; `files` maps each loaded name to a path. Returns the log, the tap
// and the renderer's message boxes, or null when it refused the log.
export async function compareWithRenderer(check, page, render, dir,
                                          { files = {}, downloads = [] } = {}) {
  const log = await page.evaluate(() => window.tonvarel.log());
  const tap = await tapped(page);
  const expected = renderLog(render, log, dir, files);
  if (!check(!expected.error, expected.error)) return null;
  check(log.complete, 'the worklet stopped logging');
  const { frames, mismatch } = compareTap(tap, expected.stream);
  const last = log.log.length > 0 ? log.log.at(-1).frame : 0;
  check(frames > last, `the tap holds ${frames} frames; the events reach frame ${last}`);
  check(mismatch < 0, `the sound differs from tonvarel-render's at frame ${mismatch}`);
  check(downloads.length === expected.saves.length,
        `${downloads.length} downloads for ${expected.saves.length} saves in the log`);
  for (const [i, { name, bytes }] of downloads.entries()) {
    check(bytes.equals(expected.saves[i] ?? Buffer.alloc(0)),
          `the download ${name} (${bytes.length} bytes) is not the renderer's save`);
  }
  return { log, tap, messages: expected.messages };
}

// Console errors and warnings, page errors, failed requests and content security policy
// violations: none is allowed.
export async function checkProblems(check, page, when) {
  const seen = await page.problems();
  check(seen.length === 0, `${when}: ${seen.join('; ')}`);
}

// ---- Positions on the page ----

// Viewport positions of the centres of window client pixels [[x, y]...], asked of the page
// (any driver's page with evaluate()).
export function pagePoints(page, points) {
  return page.evaluate((list) => list.map(([x, y]) => window.tonvarel.clientToPage(x, y)), points);
}

// ---- The page's layout, as seen: what is out of reach or cut ----

// What is wrong with the controls of the bar as the page shows them (any driver's page): each one
// shown (menu titles and items, buttons, pickers, the take's and the loop's state) must lie inside
// the viewport, be what a press at its centre reaches, keep clear of the others, and be as wide as
// its content laid out at its widest, so that no label is cut (a picker as its longest name).
// With a menu open as a drop-down, its items alone. `states` ([{ id, text, data }]) are put in
// first (a text, data- attributes), in the same task, so that nothing the page updates comes
// between them and the measuring.
export function barProblems(page, states = []) {
  return page.evaluate((widest) => {
    for (const { id, text, data = {} } of widest) {
      const e = document.getElementById(id);
      if (text !== undefined) e.textContent = text;
      Object.assign(e.dataset, data);
    }
    const vw = document.documentElement.clientWidth;
    const vh = window.innerHeight;
    const shown = (e) => e.checkVisibility({ visibilityProperty: true, checkVisibilityCSS: true });
    const name = (e) => e.id || (typeof e.className === 'string' && e.className) || e.tagName;
    const dropped = [...document.querySelectorAll('.menu.open .popup')]
      .filter((p) => getComputedStyle(p).display !== 'contents');
    const scope = dropped.length > 0 ? dropped : [document.querySelector('.bar')];
    const controls = scope.flatMap((s) => [...s.querySelectorAll(
      'button, select, [role=status]')]).filter(shown);
    const problems = [];
    const boxes = controls.map((e) => ({ e, r: e.getBoundingClientRect() }));
    const round = (r) => `(${Math.round(r.left)}, ${Math.round(r.top)}) to ` +
                         `(${Math.round(r.right)}, ${Math.round(r.bottom)})`;
    for (const { e, r } of boxes) {
      if (r.left < -0.5 || r.top < -0.5 || r.right > vw + 0.5 || r.bottom > vh + 0.5) {
        problems.push(`${name(e)} lies at ${round(r)}, outside ${vw} x ${vh}`);
      }
      const hit = document.elementFromPoint(r.left + r.width / 2, r.top + r.height / 2);
      if (!e.contains(hit)) problems.push(`${name(e)} is under ${hit ? name(hit) : 'nothing'}`);
      // Its content at its widest: a copy, out of the flow, as wide as it likes (with the same
      // ids, as the styles name them, for as long as it takes to measure).
      const copy = e.cloneNode(true);
      copy.style.cssText = 'position: absolute; left: 0; top: 0; width: max-content; ' +
                           'min-width: 0; max-width: none; visibility: hidden';
      e.after(copy);
      const need = copy.getBoundingClientRect().width;
      copy.remove();
      if (r.width + 0.5 < need) {
        problems.push(`${name(e)} is ${r.width.toFixed(1)} px wide, its content ` +
                      `${need.toFixed(1)} px: ${JSON.stringify(e.innerText)} is cut`);
      }
      // Nor any box inside it narrower than what it holds (a time in a field of fixed width).
      for (const inner of [e, ...e.querySelectorAll('*')]) {
        if (!shown(inner) || getComputedStyle(inner).display === 'inline') continue;
        if (inner.scrollWidth > inner.clientWidth + 1) {
          problems.push(`${JSON.stringify(inner.textContent)} overflows its box in ${name(e)} ` +
                        `(${inner.scrollWidth} px in ${inner.clientWidth})`);
        }
      }
      // Every line of its text shown inside it.
      const walk = document.createTreeWalker(e, NodeFilter.SHOW_TEXT);
      for (let t = walk.nextNode(); t; t = walk.nextNode()) {
        if (!t.textContent.trim() || !shown(t.parentElement)) continue;
        const range = document.createRange();
        range.selectNodeContents(t);
        for (const l of range.getClientRects()) {
          if (l.left < r.left - 1 || l.right > r.right + 1 || l.top < r.top - 1 ||
              l.bottom > r.bottom + 1) {
            problems.push(`${JSON.stringify(t.textContent)} runs out of ${name(e)}`);
          }
        }
      }
    }
    for (let i = 0; i < boxes.length; i++) {
      for (let j = i + 1; j < boxes.length; j++) {
        const [a, b] = [boxes[i].r, boxes[j].r];
        const w = Math.min(a.right, b.right) - Math.max(a.left, b.left);
        const h = Math.min(a.bottom, b.bottom) - Math.max(a.top, b.top);
        if (w > 0.5 && h > 0.5) {
          problems.push(`${name(boxes[i].e)} and ${name(boxes[j].e)} overlap`);
        }
      }
    }
    // The stage starts under the bar's last row.
    const bar = document.querySelector('.bar').getBoundingClientRect();
    const pad = document.getElementById('pad').getBoundingClientRect();
    if (pad.top < bar.bottom - 0.5) {
      problems.push(`the pad starts at ${pad.top}, under the bar ending at ${bar.bottom}`);
    }
    return problems;
  }, states);
}

// What is wrong with an open dialog (a CSS selector): it must lie wholly inside the viewport,
// be on top at its corners and its centre, and show all it holds without scrolling.
export function dialogProblems(page, selector) {
  return page.evaluate((sel) => {
    const dialog = document.querySelector(sel);
    if (!dialog?.open) return [`${sel} is not open`];
    const vw = document.documentElement.clientWidth;
    const vh = window.innerHeight;
    const r = dialog.getBoundingClientRect();
    const problems = [];
    if (r.left < 0 || r.top < 0 || r.right > vw || r.bottom > vh) {
      problems.push(`${sel} lies at (${r.left}, ${r.top}) to (${r.right}, ${r.bottom}), ` +
                    `outside ${vw} x ${vh}`);
    }
    const inset = 3;
    const points = [[r.left + inset, r.top + inset], [r.right - inset, r.top + inset],
                    [r.left + inset, r.bottom - inset], [r.right - inset, r.bottom - inset],
                    [(r.left + r.right) / 2, (r.top + r.bottom) / 2]];
    for (const [x, y] of points) {
      const hit = document.elementFromPoint(x, y);
      if (!dialog.contains(hit)) {
        const under = hit?.id || (typeof hit?.className === 'string' && hit.className) ||
                      hit?.tagName || 'nothing';
        problems.push(`at (${Math.round(x)}, ${Math.round(y)}) ${sel} is under ${under}`);
      }
    }
    if (dialog.scrollHeight > dialog.clientHeight + 1 ||
        dialog.scrollWidth > dialog.clientWidth + 1) {
      problems.push(`${sel} scrolls: ${dialog.scrollWidth} x ${dialog.scrollHeight} in ` +
                    `${dialog.clientWidth} x ${dialog.clientHeight}`);
    }
    return problems;
  }, selector);
}
