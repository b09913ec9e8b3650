// How long a tap on the pad takes to reach the output, in headless Chromium (or, with --engine,
// Firefox or WebKit through the same drivers as the tests): from the pointer event (its DOM
// timeStamp, as the page's sent() keeps it) to the output of the first sample the event changed.
// The worklet applies an event before some block k; block k's first sample is AudioContext frame
// firstFrame + 1500 k, which the context's getOutputTimestamp() (taken right after each tap, so
// that the audio clock cannot drift away) maps onto the performance clock. The output latency the
// context reports (outputLatency, or baseLatency where that is not reported) is shown added on
// top as well. Measured over 50 taps on a running page, and on the first tap of fresh visits,
// when the sound starts.
//
// Which of the two figures is the time to the output depends on the engine. Chromium's
// getOutputTimestamp() places a frame at the output already: even a tap just before a block
// starts takes about the outputLatency it reports, so adding it counts the device's delay twice.
// Firefox's gives the render clock (contextTime is currentTime, performanceTime is now): there
// the outputLatency added is the output. WebKitGTK's performanceTime runs at twice the pace of
// the performance clock and is refused.
//
//   node latency.mjs --web build/web --out DIR [--engine chromium|firefox|webkit]
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

import { launchers, serve, sleep, stopAll } from './drivers.mjs';
import { pagePoints } from './lib.mjs';

const { values: args } = parseArgs({
  options: { web: { type: 'string' }, out: { type: 'string' },
             engine: { type: 'string', default: 'chromium' } },
});
if (!args.web || !args.out || !launchers[args.engine]) {
  throw new Error('usage: latency.mjs --web DIR --out DIR [--engine chromium|firefox|webkit]');
}
const out = path.resolve(args.out);
fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(out, { recursive: true });

const BLOCK = 1500;
const TAPS = 50;
const VISITS = 5;

const median = (values) => {
  const s = [...values].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

// A tap, then where the output stands once the sound runs: { contextTime, performanceTime }.
async function tap(page, at, hold) {
  await page.mouse('down', at);
  await sleep(hold);
  await page.mouse('up', at);
  await page.waitFor(() => window.tonvarel.audio().state === 'running' &&
                           document.body.dataset.engine === 'ready');
  const stamp = await page.evaluate(() => {
    const { contextTime, performanceTime } = window.tonvarel.audio().getOutputTimestamp();
    return { contextTime, performanceTime, now: performance.now() };
  });
  // WebKitGTK's performanceTime runs at twice the performance clock's pace.
  if (Math.abs(stamp.now - stamp.performanceTime) > 150) {
    const off = (stamp.performanceTime - stamp.now).toFixed(0);
    throw new Error(`getOutputTimestamp() is ${off} ms off the performance clock: ` +
                    'no latency can be read from it');
  }
  return stamp;
}

// For each left press the page sent, with the output stamp taken after it: milliseconds from
// the event to the output of its first changed frame.
async function pressLatencies(page, stamps) {
  const found = await page.evaluate(async () => {
    const log = await window.tonvarel.log();
    const audio = window.tonvarel.audio();
    return {
      sent: window.tonvarel.sent().filter((e) => e.type === 'ldown').map((e) => e.time),
      blocks: log.log.filter((e) => e.type === 'ldown').map((e) => e.block),
      firstFrame: log.firstFrame,
      rate: audio.sampleRate,
      outputLatency: audio.outputLatency,
      baseLatency: audio.baseLatency,
    };
  });
  if (found.sent.length !== stamps.length || found.blocks.length !== stamps.length) {
    throw new Error(`${stamps.length} taps, ${found.sent.length} presses sent, ` +
                    `${found.blocks.length} logged`);
  }
  const reported = found.outputLatency > 0;
  return {
    latencies: stamps.map(({ contextTime, performanceTime }, i) => {
      const frame = found.firstFrame + BLOCK * found.blocks[i];
      return performanceTime + (frame / found.rate - contextTime) * 1000 - found.sent[i];
    }),
    added: { name: reported ? 'outputLatency' : 'baseLatency (no outputLatency reported)',
             ms: (reported ? found.outputLatency : found.baseLatency) * 1000 },
    blockMs: (BLOCK / found.rate) * 1000,
  };
}

async function visit(browser, url) {
  const page = await browser.newPage();
  await page.goto(url);
  await page.waitFor(() => document.body.dataset.page === 'ready');
  // Client pixels down the pad's middle column, through the octaves.
  const points = await pagePoints(page, Array.from({ length: 8 }, (_, i) => [192, 80 + 30 * i]));
  return { page, points };
}

const site = await serve(path.resolve(args.web));
const browser = await launchers[args.engine](out);
try {
  const front = browser.serves ? await browser.serves(site.origin) : site;
  const url = `${front.origin}/?lang=en`;
  const first = [];
  for (let v = 0; v < VISITS; v++) {
    const { page, points } = await visit(browser, url);
    const stamp = await tap(page, points[v], 150);
    first.push((await pressLatencies(page, [stamp])).latencies[0]);
    await page.close();
  }

  const { page, points } = await visit(browser, url);
  const stamps = [await tap(page, points[0], 100)];  // the sound starts
  await sleep(500);
  // Spacings that are no multiple of the block, so that the taps fall all over it.
  for (let i = 0; i < TAPS; i++) {
    stamps.push(await tap(page, points[i % points.length], 40 + (i * 17) % 50));
    await sleep(60 + (i * 29) % 70);
  }
  const { latencies, added, blockMs } = await pressLatencies(page, stamps);
  const running = latencies.slice(1);
  await page.close();

  const ms = (v) => `${v.toFixed(1)} ms`;
  const line = (what, values) => {
    const m = median(values);
    console.log(`  ${what}: median ${ms(m)} (${(m / blockMs).toFixed(2)} blocks), ` +
                `${ms(Math.min(...values))} to ${ms(Math.max(...values))}; ` +
                `with ${added.name.split(' ')[0]} added ${ms(m + added.ms)} ` +
                `(${((m + added.ms) / blockMs).toFixed(2)} blocks)`);
  };
  console.log(`tap to output in ${args.engine}: a block is ` +
              `${ms(blockMs)}; the context reports ${added.name} ${ms(added.ms)}`);
  line(`${running.length} taps on a running page`, running);
  line(`the first tap of ${VISITS} fresh visits`, first);
} finally {
  await browser.close();
  await site.stop();
  stopAll();
}
