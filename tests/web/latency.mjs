// How long a tap on the pad takes to reach the output, in headless Chromium: from the pointer
// event (its DOM timeStamp, as the page's sent() keeps it) to the output of the first sample the
// event changed. The worklet applies an event before some block k; block k's first sample leaves
// at AudioContext frame firstFrame + 1500 k, which getOutputTimestamp() maps onto the
// performance clock, plus the output latency the context reports (outputLatency, or baseLatency
// where that is not reported). Measured over 50 taps on a running page, and on the first tap of
// fresh visits, which also waits for the audio context and the worklet to start.
//
//   node latency.mjs --web build/web --out DIR
import path from 'node:path';
import fs from 'node:fs';
import { parseArgs } from 'node:util';

import { launchChromium, serve, sleep, stopAll } from './drivers.mjs';
import { pagePoints } from './lib.mjs';

const { values: args } = parseArgs({
  options: { web: { type: 'string' }, out: { type: 'string' } },
});
if (!args.web || !args.out) throw new Error('usage: latency.mjs --web DIR --out DIR');
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

// For each left press the page sent: milliseconds from the event to the time getOutputTimestamp()
// gives its first changed frame; and the output latency the context reports, to add.
async function pressLatencies(page) {
  const found = await page.evaluate(async () => {
    const t = window.tonvarel;
    if (typeof t.sent !== 'function' || typeof t.audio !== 'function') return null;
    const log = await t.log();
    const audio = t.audio();
    const stamp = audio.getOutputTimestamp();
    return {
      sent: t.sent().filter((e) => e.type === 'ldown').map((e) => e.time),
      blocks: log.log.filter((e) => e.type === 'ldown').map((e) => e.block),
      firstFrame: log.firstFrame,
      sampleRate: audio.sampleRate,
      contextTime: stamp.contextTime,
      performanceTime: stamp.performanceTime,
      outputLatency: audio.outputLatency,
      baseLatency: audio.baseLatency,
    };
  });
  if (!found) throw new Error('the page offers no window.tonvarel.sent() or audio()');
  if (typeof found.firstFrame !== 'number') throw new Error('the log carries no firstFrame');
  if (found.sent.length !== found.blocks.length) {
    throw new Error(`${found.sent.length} presses sent, ${found.blocks.length} logged`);
  }
  const reported = found.outputLatency > 0;
  const at = (frame) => found.performanceTime + (frame / found.sampleRate - found.contextTime) * 1000;
  return {
    latencies: found.sent.map((time, i) => at(found.firstFrame + BLOCK * found.blocks[i]) - time),
    added: { name: reported ? 'outputLatency' : 'baseLatency (no outputLatency reported)',
             ms: (reported ? found.outputLatency : found.baseLatency ?? 0) * 1000 },
    blockMs: (BLOCK / found.sampleRate) * 1000,
  };
}

async function tapPad(page, at, hold) {
  await page.mouse('down', at);
  await sleep(hold);
  await page.mouse('up', at);
}

const site = await serve(path.resolve(args.web));
const browser = await launchChromium(out);
try {
  const url = `${site.origin}/?lang=en`;
  // Client pixels down the pad's middle column, through the octaves.
  const rows = Array.from({ length: 8 }, (_, i) => [192, 80 + 30 * i]);
  const pointsOf = (page) => pagePoints(page, rows);

  const first = [];
  for (let v = 0; v < VISITS; v++) {
    const page = await browser.newPage();
    await page.goto(url);
    await page.waitFor(() => document.body.dataset.page === 'ready');
    const [p] = await pointsOf(page);
    await tapPad(page, p, 150);
    await page.waitFor(() => document.body.dataset.engine === 'ready');
    await sleep(300);
    first.push((await pressLatencies(page)).latencies[0]);
    await page.close();
  }

  const page = await browser.newPage();
  await page.goto(url);
  await page.waitFor(() => document.body.dataset.page === 'ready');
  const points = await pointsOf(page);
  await tapPad(page, points[0], 100);
  await page.waitFor(() => document.body.dataset.engine === 'ready');
  await sleep(500);
  // Spacings that are no multiple of the block, so that the taps fall all over it.
  for (let i = 0; i < TAPS; i++) {
    await tapPad(page, points[i % points.length], 40 + (i * 17) % 50);
    await sleep(60 + (i * 29) % 70);
  }
  await sleep(300);
  const { latencies, added, blockMs } = await pressLatencies(page);
  const running = latencies.slice(1);  // the first press started the sound
  await page.close();

  const ms = (v) => `${v.toFixed(1)} ms`;
  const blocks = (v) => `${(v / blockMs).toFixed(2)} blocks`;
  const line = (what, values) => {
    const total = values.map((v) => v + added.ms);
    console.log(`  ${what}: median ${ms(median(total))} (${blocks(median(total))}), ` +
                `from ${ms(Math.min(...total))} to ${ms(Math.max(...total))}; ` +
                `without the output latency ${ms(median(values))}`);
  };
  console.log(`tap to output in headless ${await browser.browser.version()}; a block is ` +
              `${ms(blockMs)}; added: ${added.name}, ${ms(added.ms)}`);
  line(`${running.length} taps on a running page`, running);
  line(`the first tap of ${VISITS} fresh visits`, first);
} finally {
  await browser.close();
  await site.stop();
  stopAll();
}
