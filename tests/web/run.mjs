// The browser edition in headless Chromium, driven as a person would: real pointer, key, file
// chooser and drop events through the DevTools protocol. The sound the page's worklet played is
// tapped in the page and compared sample for sample with what the native tonvarel-render makes
// of the worklet's own event log; downloads and dialogs are compared the same way.
//
//   node run.mjs --web build/web --render build/native/tools/tonvarel-render --out build/web-test
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { performance } from 'node:perf_hooks';
import { parseArgs } from 'node:util';

import puppeteer from 'puppeteer-core';

import { expectedPadPixels, readPng, stereo22050u8, writeWav } from './lib.mjs';

const { values: args } = parseArgs({
  options: { web: { type: 'string' }, render: { type: 'string' }, out: { type: 'string' } },
});
for (const name of ['web', 'render', 'out']) {
  if (!args[name]) throw new Error(`usage: run.mjs --web DIR --render PATH --out DIR (no --${name})`);
}
const out = path.resolve(args.out);
const render = path.resolve(args.render);
fs.rmSync(out, { recursive: true, force: true });
fs.mkdirSync(out, { recursive: true });

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    console.log(`FAIL ${what}`);
  }
  return ok;
}

// ---- The static folder, served as `make web-run` serves it ----

function serve(dir) {
  const server = spawn('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
                                   '--directory', dir], { stdio: ['ignore', 'pipe', 'ignore'] });
  return new Promise((resolve, reject) => {
    let seen = '';
    server.stdout.on('data', (chunk) => {
      seen += chunk;
      const port = /port (\d+)/.exec(seen);
      if (port) resolve({ server, origin: `http://127.0.0.1:${port[1]}` });
    });
    server.on('exit', (code) => reject(new Error(`http.server exited with ${code}`)));
  });
}

// ---- A page, with every console error and failed request counted against it ----

async function openPage(browser, origin, query, { scale = 1 } = {}) {
  const page = await browser.newPage();
  const problems = [];
  page.on('console', (m) => {
    if (m.type() === 'error' || m.type() === 'warn') problems.push(`console: ${m.text()}`);
  });
  page.on('pageerror', (e) => problems.push(`page error: ${e.message}`));
  page.on('requestfailed', (r) => problems.push(`request failed: ${r.url()}`));
  page.on('response', (r) => {
    if (r.status() >= 400) problems.push(`HTTP ${r.status()}: ${r.url()}`);
  });
  await page.setViewport({ width: 640, height: 560, deviceScaleFactor: scale, hasTouch: true });
  await page.goto(`${origin}/${query}`);
  await page.waitForSelector('body[data-page=ready]');
  const box = await (await page.$('#pad')).boundingBox();
  // Page coordinates of a client position of the window.
  const at = (x, y) => ({ x: box.x + x + 0.5, y: box.y + y + 0.5 });
  return { page, problems, at, cdp: await page.createCDPSession() };
}

// ---- 1: the page loads clean and draws the window's pad ----

async function pageAndPixels(browser, origin) {
  for (const scale of [1, 2]) {
    const { page, problems, at } = await openPage(browser, origin, '?lang=ja', { scale });
    check(await page.$eval('#hint', (e) => !e.hidden && e.textContent.length > 0),
          'the page does not say that the sound starts with the first gesture');
    const origin0 = at(0, 0);
    const shot = readPng(await page.screenshot({
      clip: { x: origin0.x - 0.5, y: origin0.y - 0.5, width: 384, height: 384 },
    }));
    if (scale === 1) await page.screenshot({ path: path.join(out, 'page.png') });
    const expected = expectedPadPixels();
    let wrong = 0;
    let first = '';
    for (let y = 0; y < shot.height; y++) {
      for (let x = 0; x < shot.width; x++) {
        const v = shot.gray(x, y);
        const black = expected.has(`${Math.floor(x / scale)},${Math.floor(y / scale)}`);
        if (black ? v > 64 : v < 192) {
          if (wrong++ === 0) first = `device pixel (${x}, ${y}) is ${v}`;
        }
      }
    }
    check(shot.width === 384 * scale && wrong === 0,
          `pad at scale ${scale}: ${wrong} pixels differ from the window's drawing; ${first}`);
    check(problems.length === 0, `loading the page: ${problems.join('; ')}`);
    await page.close();
  }
}

// ---- 2 to 4: a performance with mouse and touch, two takes saved, three loads ----

async function touch(cdp, type, points) {
  await cdp.send('Input.dispatchTouchEvent', {
    type, touchPoints: points.map(([id, p]) => ({ id, x: p.x, y: p.y })),
  });
}

// Waits for the page's next download and moves it aside, so that a take saved within the same
// second as the one before (and so under the same name) still shows as a new file.
async function nextDownload(dir, count) {
  for (let i = 0; i < 100; i++) {
    const name = fs.readdirSync(dir).find((n) => n.endsWith('.wav'));
    if (name) {
      const kept = path.join(dir, `take-${count}`);
      fs.mkdirSync(kept);
      fs.renameSync(path.join(dir, name), path.join(kept, name));
      return { name, file: path.join(kept, name) };
    }
    await sleep(100);
  }
  throw new Error(`download ${count} did not arrive`);
}

async function playTakesAndLoads(browser, origin) {
  const { page, problems, at, cdp } = await openPage(browser, origin, '?lang=ja&tap=60');
  const downloads = path.join(out, 'downloads');
  fs.mkdirSync(downloads);
  await (await browser.target().createCDPSession()).send('Browser.setDownloadBehavior', {
    behavior: 'allow', downloadPath: downloads,
  });
  const files = { 'rate.wav': path.join(out, 'rate.wav'), 'text.wav': path.join(out, 'text.wav') };
  writeWav(files['rate.wav'], stereo22050u8());
  fs.writeFileSync(files['text.wav'], 'these bytes are not a RIFF file\n');

  const mouse = page.mouse;
  const move = async (x, y) => mouse.move(at(x, y).x, at(x, y).y);
  // A glide with vibrato, by mouse.
  await move(100, 192);
  await mouse.down();
  await page.waitForSelector('body[data-engine=ready]');
  for (const [x, y] of [[100, 160], [160, 128], [250, 128]]) {
    await sleep(120);
    await move(x, y);
  }
  await sleep(150);
  await mouse.up();
  await sleep(100);
  // The same by touch.
  await touch(cdp, 'touchStart', [[1, at(120, 171)]]);
  await sleep(150);
  await touch(cdp, 'touchMove', [[1, at(120, 150)]]);
  await sleep(150);
  await touch(cdp, 'touchEnd', []);
  await sleep(100);

  // Take 1: the right button holds the take across two notes.
  await move(100, 192);
  await mouse.down();
  await sleep(100);
  await mouse.down({ button: 'right' });
  await sleep(100);
  await mouse.up();
  await sleep(150);
  await move(200, 150);
  await mouse.down();
  await sleep(150);
  await mouse.up();
  await sleep(100);
  await mouse.up({ button: 'right' });
  await page.click('#menu-file');
  await page.click('#cmd-save');
  const first = await nextDownload(downloads, 1);

  // Take 2: a second finger, off the pad, holds it.
  const aside = { x: 560, y: 300 };
  await touch(cdp, 'touchStart', [[1, at(150, 200)]]);
  await sleep(100);
  await touch(cdp, 'touchStart', [[1, at(150, 200)], [2, aside]]);
  await sleep(100);
  await touch(cdp, 'touchEnd', [[1, at(150, 200)]]);  // the points lifted
  await sleep(150);
  await touch(cdp, 'touchStart', [[2, aside], [3, at(180, 120)]]);
  await sleep(150);
  await touch(cdp, 'touchEnd', [[3, at(180, 120)]]);
  await sleep(100);
  await touch(cdp, 'touchEnd', [[2, aside]]);
  await page.keyboard.down('Alt');
  await page.keyboard.press('f');
  await page.keyboard.up('Alt');
  await page.keyboard.press('w');
  const second = await nextDownload(downloads, 2);

  // Loads: an 8-bit stereo 22,050 Hz file by the picker, a text file by a drop, a cancelled
  // picker; a note after each.
  const note = async (x, y) => {
    await move(x, y);
    await mouse.down();
    await sleep(150);
    await mouse.up();
    await sleep(80);
  };
  const pick = async (file) => {
    const [chooser] = await Promise.all([page.waitForFileChooser(), (async () => {
      await page.click('#menu-file');
      await page.click('#cmd-load');
    })()]);
    await (file ? chooser.accept([file]) : chooser.cancel());
  };
  await pick(files['rate.wav']);
  await sleep(150);
  await note(100, 192);
  const dropAt = at(192, 192);
  for (const type of ['dragEnter', 'dragOver', 'drop']) {
    await cdp.send('Input.dispatchDragEvent', {
      type, x: dropAt.x, y: dropAt.y,
      data: { items: [], files: [files['text.wav']], dragOperationsMask: 1 },
    });
  }
  await sleep(150);
  await note(130, 192);
  await pick(null);
  await sleep(150);
  await note(160, 192);
  await sleep(300);

  const log = await page.evaluate(() => window.tonvarel.log());
  const tap = await page.evaluate(async () => {
    const t = await window.tonvarel.tap();
    const toInts = (a) => Array.from(a, (v) => Math.round(v * 32768));
    return { left: toInts(t.left), right: toInts(t.right) };
  });
  const dialogs = await page.$$eval('dialog.message[open]', (boxes) => boxes.map((b) => ({
    caption: b.querySelector('.caption').textContent, text: b.querySelector('.text').textContent,
  })));
  // Each message box closes with its OK button, the topmost first.
  for (const ok of (await page.$$('dialog.message[open] .ok')).reverse()) await ok.click();
  check(await page.$$eval('dialog.message', (b) => b.length) === 0, 'a message box stays open');
  check(await page.$eval('#hint', (e) => e.hidden), 'the start hint stays after the sound began');
  check(problems.length === 0, `the performance: ${problems.join('; ')}`);
  await page.close();

  // The same performance as a tonvarel-render script.
  const expectedTakes = [path.join(out, 'expected-take-1.wav'), path.join(out, 'expected-take-2.wav')];
  let saves = 0;
  const lines = [];
  let block = 0;
  for (const e of log.log) {
    if (e.block > block) lines.push(`render ${e.block - block}`);
    block = e.block;
    if (e.type === 'load') lines.push(`load ${files[e.name]}`);
    else if (e.type === 'save') lines.push(`save ${expectedTakes[saves++]}`);
    else lines.push(`${e.type} ${e.x} ${e.y}`);
  }
  lines.push(`render ${log.blocks - block}`);
  const scriptPath = path.join(out, 'performance.txt');
  fs.writeFileSync(scriptPath, lines.join('\n') + '\n');
  const streamPath = path.join(out, 'expected-stream.wav');
  const run = spawnSync(render, [scriptPath, '--out', streamPath], { encoding: 'utf8' });
  if (!check(run.status === 0, `tonvarel-render refused the log: ${run.stderr}`)) return;

  check(log.complete, 'the worklet stopped logging');
  const kinds = log.log.map((e) => e.type);
  check(['ldown', 'move', 'lup', 'rdown', 'rup', 'save', 'load'].every((k) => kinds.includes(k)),
        `the log lacks some event kinds: ${[...new Set(kinds)]}`);
  check(kinds.filter((k) => k === 'load').length === 2 && saves === 2,
        `the log holds ${kinds.filter((k) => k === 'load').length} loads and ${saves} saves`);

  // The sound, sample for sample, from the first block on.
  const stream = fs.readFileSync(streamPath);
  const frames = Math.min(tap.left.length, log.blocks * 1500);
  let mismatch = -1;
  for (let i = 0; i < frames && mismatch < 0; i++) {
    if (tap.left[i] !== stream.readInt16LE(44 + 4 * i) ||
        tap.right[i] !== stream.readInt16LE(46 + 4 * i)) mismatch = i;
  }
  const lastEvent = log.log[log.log.length - 1].block * 1500;
  check(frames > lastEvent,
        `the tap holds ${frames} frames, the events reach frame ${lastEvent}`);
  check(mismatch < 0, `the page's sound differs from tonvarel-render's at frame ${mismatch}` +
        (mismatch < 0 ? '' : ` (page ${tap.left[mismatch]}, ` +
                             `render ${stream.readInt16LE(44 + 4 * mismatch)})`));
  console.log(`  ${log.log.length} events over ${log.blocks} blocks; ${frames} frames compared`);

  // The downloads are the renderer's saves, byte for byte, named by the local time.
  for (const [i, { name, file }] of [first, second].entries()) {
    check(/^tonvarel-take-\d{8}-\d{6}\.wav$/.test(name), `download named ${name}`);
    const got = fs.readFileSync(file);
    check(got.equals(fs.readFileSync(expectedTakes[i])), `take ${i + 1} differs from the save`);
  }
  const stamp = /(\d{4})(\d\d)(\d\d)-(\d\d)(\d\d)(\d\d)/.exec(first.name).slice(1).map(Number);
  const named = new Date(stamp[0], stamp[1] - 1, stamp[2], stamp[3], stamp[4], stamp[5]);
  check(Math.abs(Date.now() - named) < 120_000,
        `the take's name ${first.name} is not the local time`);

  // The dialogs are the renderer's message boxes, in order (a null caption reads "エラー").
  const shown = dialogs.map((d) => `${d.caption}: ${d.text.replaceAll('\n', ' ')}`);
  const said = run.stderr.split('\n').filter(Boolean);
  check(JSON.stringify(shown) === JSON.stringify(said),
        `dialogs ${JSON.stringify(shown)} are not the message boxes ${JSON.stringify(said)}`);
  check(said.some((l) => l.startsWith('注意: ')) && said.includes('0: not RIFF'),
        `the loads did not warn of the rate and the format: ${JSON.stringify(said)}`);
}

// ---- 5: the About box, and the English texts ----

async function aboutBox(browser, origin) {
  const { page, problems } = await openPage(browser, origin, '?lang=ja');
  const open = () => page.$eval('#about', (d) => d.open);
  await page.click('#menu-help');
  await page.click('#cmd-about');
  check(await open(), 'the About box did not open from the menu');
  check((await page.$eval('#about', (d) => d.textContent)).includes('Tonvarel Vers 1.0'),
        'the About box does not name the version');
  await page.click('#about-ok');
  check(!(await open()), 'OK did not close the About box');
  for (const key of ['?', '/']) {
    await page.keyboard.down('Alt');
    await page.keyboard.press(key);
    await page.keyboard.up('Alt');
    check(await open(), `Alt+${key} did not open the About box`);
    await page.keyboard.press('Escape');
    check(!(await open()), 'Escape did not close the About box');
  }
  check(await page.$eval('#menu-file', (e) => e.textContent) === 'ファイル(F)',
        'the File menu is not titled as in the window');
  check(problems.length === 0, `the About box: ${problems.join('; ')}`);
  await page.close();

  const en = await openPage(browser, origin, '?lang=en');
  const menu = await en.page.$$eval('.menubar button', (b) => b.map((e) => e.textContent));
  check(JSON.stringify(menu) === JSON.stringify(['File(F)', 'Read a wav file(R)',
                                                 'Write to a wav file(W)', 'Help(H)',
                                                 'Version information(A)...']),
        `English menus: ${menu}`);
  // A message in English: the rate warning, from a file dropped before any sound.
  const file = path.join(out, 'rate-en.wav');
  writeWav(file, stereo22050u8());
  const dropAt = en.at(192, 192);
  for (const type of ['dragEnter', 'dragOver', 'drop']) {
    await en.cdp.send('Input.dispatchDragEvent', {
      type, x: dropAt.x, y: dropAt.y, data: { items: [], files: [file], dragOperationsMask: 1 },
    });
  }
  const box = await en.page.waitForSelector('dialog.message[open]');
  const said = await box.evaluate((b) => b.innerText);
  check(said.includes('Caution') && said.includes('The rate is 22050Hz.\nIt is not 44100Hz.'),
        `English rate warning: ${JSON.stringify(said)}`);
  await en.page.keyboard.press('Escape');
  check(await en.page.$('dialog.message') === null, 'Escape did not close the message box');
  check(en.problems.length === 0, `the English page: ${en.problems.join('; ')}`);
  await en.page.close();
}

// ---- The static folder stays small ----

function folderSize(dir) {
  let bytes = 0;
  for (const name of fs.readdirSync(dir)) bytes += fs.statSync(path.join(dir, name)).size;
  return bytes;
}

// ---- Run ----

const started = performance.now();
const webBytes = folderSize(path.resolve(args.web));
check(webBytes < 300 * 1024, `build/web holds ${webBytes} bytes, over 300 KB`);
console.log(`static folder: ${(webBytes / 1024).toFixed(1)} KB`);
const { server, origin } = await serve(path.resolve(args.web));
// A fresh profile that lets a page download more than one file without asking, as a user who
// answered the browser's question would.
const profile = fs.mkdtempSync(path.join(out, 'profile-'));
fs.mkdirSync(path.join(profile, 'Default'));
fs.writeFileSync(path.join(profile, 'Default', 'Preferences'), JSON.stringify({
  profile: { default_content_setting_values: { automatic_downloads: 1 } },
}));
const browser = await puppeteer.launch({
  executablePath: CHROMIUM,
  headless: true,
  userDataDir: profile,
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
         '--disable-component-update', '--disable-sync', '--no-first-run'],
});
try {
  for (const [name, scenario] of [['page and pad pixels', pageAndPixels],
                                  ['play, takes, saves and loads', playTakesAndLoads],
                                  ['About box and texts', aboutBox]]) {
    const before = failures;
    const t = performance.now();
    await scenario(browser, origin);
    console.log(`${failures === before ? 'ok  ' : 'FAIL'} ${name} ` +
                `(${((performance.now() - t) / 1000).toFixed(1)} s)`);
  }
} finally {
  await browser.close();
  server.kill();
}
console.log(`browser tests: ${failures === 0 ? 'all passed' : `${failures} failed`} in ` +
            `${((performance.now() - started) / 1000).toFixed(1)} s; screenshot in ` +
            `${path.relative(process.cwd(), path.join(out, 'page.png'))}`);
process.exit(failures === 0 ? 0 : 1);
