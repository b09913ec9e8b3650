// How long a tap on the pad takes to reach the output, beside the platform's floor, measured in
// the same run by the same clock: in headless Chromium and Firefox (or any engine the drivers
// know, through --engines).
//
// For each press, from the pointer event (its DOM timeStamp) to the output of the first sample it
// changed: that sample's context frame, mapped onto the performance clock by the context's
// getOutputTimestamp() (taken right after each tap, so that the audio clock cannot drift away).
// The instrument's worklet logs each press with the frames rendered before it; the floor is a
// page of its own (floor/) whose worklet starts a tone at the first process() after a pointerdown
// and reports that quantum's currentFrame, which is as early as any page can sound. Measured over
// 50 taps on a running page, and on the first tap of 5 fresh visits, one page at a time: a second
// running AudioContext in the same browser skews getOutputTimestamp().
//
// Chromium's getOutputTimestamp() places a frame at the output already; Firefox's gives the render
// clock, so there the outputLatency the context reports comes on top (shown as well). Either way
// the difference between the instrument and the floor is what the instrument adds.
//
//   node latency.mjs --web build/web --out DIR [--engines chromium,firefox]
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

import { launchers, serve, sleep, stopAll } from './drivers.mjs';
import { pagePoints } from './lib.mjs';

const { values: args } = parseArgs({
  options: { web: { type: 'string' }, out: { type: 'string' },
             engines: { type: 'string', default: 'chromium,firefox' } },
});
const engines = args.engines.split(',');
if (!args.web || !args.out || !engines.every((e) => launchers[e])) {
  throw new Error('usage: latency.mjs --web DIR --out DIR [--engines chromium,firefox,webkit]');
}
const out = path.resolve(args.out);
fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(out, { recursive: true });

const QUANTUM = 128;
const TAPS = 50;
const VISITS = 5;

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// The two pages measured: where they are served from, which global holds their context, where
// to tap, and each press's event time and first changed context frame.
const subjects = {
  instrument: {
    dir: path.resolve(args.web),
    global: 'tonvarel',
    // Client pixels down the pad's middle column, through the octaves.
    points: (page) => pagePoints(page, Array.from({ length: 8 }, (_, i) => [192, 80 + 30 * i])),
    presses: () => window.tonvarel.log().then((log) => ({
      sent: window.tonvarel.sent().filter((e) => e.type === 'ldown').map((e) => e.time),
      frames: log.log.filter((e) => e.type === 'ldown').map((e) => log.firstFrame + e.frame),
    })),
  },
  floor: {
    dir: path.join(path.dirname(new URL(import.meta.url).pathname), 'floor'),
    global: 'floor',
    points: async () => Array.from({ length: 8 }, (_, i) => ({ x: 100 + 20 * i, y: 120 + 30 * i })),
    presses: () => window.floor.presses(),
  },
};

// A tap, then where the output stands once the sound runs: { contextTime, performanceTime }.
async function tap(page, global, at, hold) {
  await page.mouse('down', at);
  await sleep(hold);
  await page.mouse('up', at);
  await page.waitFor((g) => window[g].audio().state === 'running' &&
                            document.body.dataset.engine === 'ready', global);
  const stamp = await page.evaluate((g) => {
    const { contextTime, performanceTime } = window[g].audio().getOutputTimestamp();
    return { contextTime, performanceTime, now: performance.now() };
  }, global);
  // WebKitGTK's performanceTime runs at twice the performance clock's pace.
  if (Math.abs(stamp.now - stamp.performanceTime) > 150) {
    const off = (stamp.performanceTime - stamp.now).toFixed(0);
    throw new Error(`getOutputTimestamp() is ${off} ms off the performance clock: ` +
                    'no latency can be read from it');
  }
  return stamp;
}

// Milliseconds from each press to the output of its first changed frame, given the output stamp
// taken after it; and what the context reports.
async function latencies(page, subject, stamps) {
  const { sent, frames } = await page.evaluate(subject.presses);
  const context = await page.evaluate((g) => {
    const a = window[g].audio();
    return { rate: a.sampleRate, outputLatency: a.outputLatency, baseLatency: a.baseLatency };
  }, subject.global);
  if (sent.length !== stamps.length || frames.length !== stamps.length) {
    throw new Error(`${stamps.length} taps, ${sent.length} presses sent, ${frames.length} heard`);
  }
  const ms = stamps.map(({ contextTime, performanceTime }, i) =>
    performanceTime + (frames[i] / context.rate - contextTime) * 1000 - sent[i]);
  return { ms, context };
}

async function visit(browser, origin, subject) {
  const page = await browser.newPage();
  await page.goto(`${origin}/?lang=en`);
  await page.waitFor(() => document.body.dataset.page === 'ready');
  return { page, points: await subject.points(page) };
}

// The first tap of fresh visits, then taps on one running page.
async function measure(browser, origin, subject) {
  const first = [];
  for (let v = 0; v < VISITS; v++) {
    const { page, points } = await visit(browser, origin, subject);
    const stamp = await tap(page, subject.global, points[v], 150);
    first.push((await latencies(page, subject, [stamp])).ms[0]);
    await page.close();
  }
  const { page, points } = await visit(browser, origin, subject);
  const stamps = [await tap(page, subject.global, points[0], 100)];  // the sound starts
  await sleep(500);
  // Spacings that are no multiple of a quantum or a block, so that the taps fall all over them.
  for (let i = 0; i < TAPS; i++) {
    stamps.push(await tap(page, subject.global, points[i % points.length], 40 + (i * 17) % 50));
    await sleep(60 + (i * 29) % 70);
  }
  const { ms, context } = await latencies(page, subject, stamps);
  await page.close();
  return { first, running: ms.slice(1), context };
}

async function runEngine(engine) {
  const dir = path.join(out, engine);
  fs.mkdirSync(dir, { recursive: true });
  const browser = await launchers[engine](dir);
  const sites = [];
  try {
    const results = {};
    for (const [name, subject] of Object.entries(subjects)) {
      const site = await serve(subject.dir);
      sites.push(site);
      const front = browser.serves ? await browser.serves(site.origin) : site;
      if (front !== site) sites.push(front);
      results[name] = await measure(browser, front.origin, subject);
    }
    report(engine, results);
  } finally {
    await browser.close();
    await Promise.all(sites.map((s) => s.stop()));
  }
}

function report(engine, { instrument, floor }) {
  const { rate } = instrument.context;
  const quantumMs = QUANTUM / rate * 1000;
  const ms = (v) => `${v.toFixed(1)} ms`;
  const said = ({ baseLatency, outputLatency }) =>
    `baseLatency ${ms(baseLatency * 1000)}, outputLatency ${ms((outputLatency ?? 0) * 1000)}`;
  console.log(`tap to output in ${engine} (a quantum is ${ms(quantumMs)}); the contexts report ` +
              `${said(instrument.context)} (instrument), ${said(floor.context)} (floor)`);
  const added = (instrument.context.outputLatency ?? 0) * 1000;
  for (const [what, key] of [[`${TAPS} taps on a running page`, 'running'],
                             [`the first tap of ${VISITS} fresh visits`, 'first']]) {
    const [ours, least] = [median(instrument[key]), median(floor[key])];
    const range = (values) => `${ms(Math.min(...values))} to ${ms(Math.max(...values))}`;
    console.log(`  ${what}: instrument median ${ms(ours)} (${range(instrument[key])}), ` +
                `floor ${ms(least)} (${range(floor[key])}): ${ms(ours - least)} more, ` +
                `${((ours - least) / quantumMs).toFixed(2)} quanta; ` +
                `with outputLatency added ${ms(ours + added)} against ${ms(least + added)}`);
  }
}

// Headless Firefox now and then stops answering its automation in the middle of a run (a call
// that never returns, seen on pages old and new): such a run is started afresh, at most twice.
const ATTEMPTS = 3;
try {
  for (const engine of engines) {
    for (let attempt = 1; ; attempt++) {
      try {
        await runEngine(engine);
        break;
      } catch (error) {
        if (attempt === ATTEMPTS || !/timed out/.test(error.message)) throw error;
        console.log(`${engine}: the browser stopped answering (${error.message.split('\n')[0]}); ` +
                    'measuring again');
      }
    }
  }
} finally {
  stopAll();
}
