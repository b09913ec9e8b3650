// One small interface over three browser engines' automation, so that the browser edition's
// scenarios are written once:
//   chromium  puppeteer-core over the DevTools protocol
//   firefox   puppeteer-core over WebDriver BiDi, its sound going to a private PulseAudio null sink
//   webkit    WebKitGTK's MiniBrowser through WebKitWebDriver (classic W3C WebDriver over HTTP),
//             in its own Xvfb display
// and the processes they need: the static server, PulseAudio, Xvfb, the WebDriver server. Every
// process started here is stopped by its own process group id when the run ends, also on a
// failure or a signal.
//
// A page offers: goto(url), evaluate(fn, ...args), waitFor(fn, ...args), mouse('down'|'move'|'up',
// at), touch('start'|'move'|'end', at), fingers([{ finger, action, at }]) (several fingers at
// once, in one step), click(find, ...args) (find returns the element, in the
// page), loadFile(file, openChooser), screenshot(file), nextDownload() → { name, bytes },
// problems() → console errors and warnings, page errors, failed requests, content security policy
// violations; close(). Chromium's and Firefox's pages also offer preload(fn, ...args): fn runs
// before the page's own scripts at every load from then on (a test's stand-in for a device).
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

import puppeteer from 'puppeteer-core';

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const FIREFOX = process.env.FIREFOX || '/usr/bin/firefox-esr';
const MINIBROWSER = process.env.MINIBROWSER ||
    '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

// A page that never answers fails its scenario after this long, as WebDriver's script timeout.
const PROTOCOL_TIMEOUT = 30_000;

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function until(what, test, ms = 10_000, every = 50) {
  for (const end = Date.now() + ms; Date.now() < end; await sleep(every)) {
    const value = await test();
    if (value) return value;
  }
  throw new Error(`timed out after ${ms} ms waiting for ${what}`);
}

// Drivers take whole CSS pixels (WebDriver's actions do, Firefox rounds): the centre of a pixel
// rounded half down stays inside that pixel.
const whole = ({ x, y }) => ({ x: Math.ceil(x - 0.5), y: Math.ceil(y - 0.5) });

// One finger as W3C WebDriver actions (classic and BiDi take the same lists); the pointer
// source keeps the finger down between calls.
function touchActions(action, at) {
  const move = { type: 'pointerMove', ...whole(at), duration: 0 };
  const steps = { start: [move, { type: 'pointerDown', button: 0 }], move: [move],
                  end: [{ type: 'pointerUp', button: 0 }] };
  return { type: 'pointer', id: 'finger', parameters: { pointerType: 'touch' },
           actions: steps[action] };
}

// Several fingers in one step as W3C actions, one touch source per finger, their ticks in step:
// a start moves then presses, a move moves then waits, an end lifts then waits.
function fingerActions(steps) {
  return steps.map(({ finger, action, at }) => {
    const move = { type: 'pointerMove', ...whole(at), duration: 0 };
    const pause = { type: 'pause', duration: 0 };
    const ticks = { start: [move, { type: 'pointerDown', button: 0 }], move: [move, pause],
                    end: [{ type: 'pointerUp', button: 0 }, pause] }[action];
    return { type: 'pointer', id: `finger-${finger}`, parameters: { pointerType: 'touch' },
             actions: ticks };
  });
}

// A home folder of a browser's own under `out`, so that nothing it writes lands in the user's:
// profiles, caches and settings, and WebKit's downloads, which go to the XDG download folder (or
// the home folder). The environment to start it with; its downloads go to `out`/downloads.
function privateHome(out) {
  const home = path.join(out, 'home');
  const config = path.join(home, '.config');
  const downloads = path.join(out, 'downloads');
  fs.mkdirSync(config, { recursive: true });
  fs.mkdirSync(downloads, { recursive: true });
  fs.writeFileSync(path.join(config, 'user-dirs.dirs'), `XDG_DOWNLOAD_DIR="${downloads}"\n`);
  return { ...process.env, HOME: home, XDG_CONFIG_HOME: config,
           XDG_CACHE_HOME: path.join(home, '.cache'),
           XDG_DATA_HOME: path.join(home, '.local', 'share') };
}

// ---- Processes: each in its own group, all stopped at exit ----

const running = new Set();
const folders = new Set();  // private folders of those processes, removed with them

function start(command, args, options = {}) {
  const child = spawn(command, args, { stdio: 'ignore', ...options, detached: true });
  running.add(child);
  child.on('exit', () => running.delete(child));
  return child;
}

// Resolves once the process has exited.
function stop(child) {
  const gone = new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) resolve();
    else child.on('exit', resolve);
  });
  if (running.delete(child)) {
    try {
      process.kill(-child.pid, 'SIGTERM');
    } catch {
      // already gone
    }
  }
  return gone;
}

export function stopAll() {
  for (const child of [...running]) stop(child);
  for (const dir of folders) fs.rmSync(dir, { recursive: true, force: true });
  folders.clear();
}

process.on('exit', stopAll);
for (const signal of ['SIGINT', 'SIGTERM']) {
  process.on(signal, () => {
    stopAll();
    process.exit(128 + os.constants.signals[signal]);
  });
}

function freePort() {
  return new Promise((resolve, reject) => {
    const probe = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = probe.address();
      probe.close(() => resolve(port));
    });
    probe.on('error', reject);
  });
}

// The static folder, served as `make web-run` serves it. stop() closes it, as a server that
// went away.
export function serve(dir) {
  const server = start('python3', ['-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
                                   '--directory', dir], { stdio: ['ignore', 'pipe', 'ignore'] });
  return new Promise((resolve, reject) => {
    let seen = '';
    server.stdout.on('data', (chunk) => {
      seen += chunk;
      const port = /port (\d+)/.exec(seen);
      if (port) resolve({ origin: `http://127.0.0.1:${port[1]}`, stop: () => stop(server) });
    });
    server.on('exit', (code) => reject(new Error(`http.server exited with ${code}`)));
  });
}

// A PulseAudio server with only a null sink, in a private runtime folder that no other program
// looks in; Firefox plays into it (with no device at all, its audio context stays silent).
async function startPulse() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tonvarel-pulse-'));
  folders.add(dir);
  const socket = path.join(dir, 'native');
  const child = start('pulseaudio', [
    '--daemonize=no', '--exit-idle-time=-1', '-n', '--log-target=stderr',
    '--load=module-null-sink sink_name=null',
    `--load=module-native-protocol-unix socket=${socket} auth-anonymous=1`,
  ], { env: { ...process.env, XDG_RUNTIME_DIR: dir, HOME: dir } });
  await until('the PulseAudio socket', () => fs.existsSync(socket), 10_000);
  return {
    server: `unix:${socket}`,
    stop: async () => {
      await stop(child);
      fs.rmSync(dir, { recursive: true, force: true });
      folders.delete(dir);
    },
  };
}

// An X display of its own, on whatever number the server finds free.
async function startXvfb() {
  const child = start('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24',
                              '-nolisten', 'tcp'],
                      { stdio: ['ignore', 'ignore', 'ignore', 'pipe'] });
  const display = await new Promise((resolve, reject) => {
    let seen = '';
    child.stdio[3].on('data', (chunk) => {
      seen += chunk;
      if (seen.includes('\n')) resolve(`:${seen.trim()}`);
    });
    child.on('exit', (code) => reject(new Error(`Xvfb exited with ${code}`)));
  });
  return { display, stop: () => stop(child) };
}

// What every page does the same way, through its own evaluate().
class Page {
  // Polls fn(...args) in the page (a promise is awaited) until it returns something truthy.
  async waitFor(fn, ...args) {
    const what = String(fn).replace(/\s+/g, ' ');
    return until(what, () => this.evaluate(fn, ...args), 10_000);
  }
}

// ---- Chromium and Firefox through puppeteer-core ----

// Before any script of the page: every content security policy violation is noted, whether or
// not the browser also says so on its console.
function NOTE_VIOLATIONS() {
  window.__violations = [];
  addEventListener('securitypolicyviolation', (e) => window.__violations.push(
      `content security policy: ${e.effectiveDirective} refused ` +
      `${e.blockedURI || 'an inline part'}`));
}

class PuppeteerPage extends Page {
  constructor(engine, page, downloads) {
    super();
    this.engine = engine;
    this.page = page;
    this.downloads = downloads;
    this.seen = [];
    page.on('console', (m) => {
      if (m.type() === 'error' || m.type() === 'warn') {
        this.seen.push(`console ${m.type()}: ${m.text()}`);
      }
    });
    page.on('pageerror', (e) => this.seen.push(`page error: ${e.message}`));
    page.on('requestfailed', (r) => this.seen.push(`request failed: ${r.url()}`));
    page.on('response', (r) => {
      if (r.status() >= 400) this.seen.push(`HTTP ${r.status()}: ${r.url()}`);
    });
  }

  async goto(url) {
    this.seen.length = 0;
    await this.page.goto(url);
  }

  async preload(fn, ...args) {
    await this.page.evaluateOnNewDocument(fn, ...args);
  }

  // Chromium's own verdict on whether the page can be installed as an app: [] when it can.
  async installabilityErrors() {
    if (this.engine !== 'chromium') return null;
    this.cdp ??= await this.page.createCDPSession();
    return (await this.cdp.send('Page.getInstallabilityErrors')).installabilityErrors;
  }

  // puppeteer's own evaluate() runs as a user gesture (CDP's userGesture, BiDi's userActivation),
  // which would let the page start sound before any real gesture: the tests ask without one.
  // Values travel as JSON.
  async evaluate(fn, ...args) {
    const call = `async () => JSON.stringify((await (${fn})(...${JSON.stringify(args)})) ?? null)`;
    if (this.engine === 'chromium') {
      this.cdp ??= await this.page.createCDPSession();
      const { result, exceptionDetails } = await this.cdp.send('Runtime.evaluate', {
        expression: `(${call})()`, awaitPromise: true, returnByValue: true, userGesture: false,
      });
      if (exceptionDetails) {
        throw new Error(exceptionDetails.exception?.description ?? exceptionDetails.text);
      }
      return JSON.parse(result.value);
    }
    const realm = this.page.mainFrame().browsingContext.defaultRealm;
    const answer = await realm.callFunction(call, true, { userActivation: false,
                                                          resultOwnership: 'none' });
    if (answer.type === 'exception') throw new Error(answer.exceptionDetails.text);
    return JSON.parse(answer.result.value);
  }

  async mouse(action, at) {
    const { x, y } = whole(at);
    await this.page.mouse.move(x, y);
    if (action === 'down') await this.page.mouse.down();
    if (action === 'up') await this.page.mouse.up();
  }

  async touch(action, at) {
    if (this.engine === 'firefox') {
      // puppeteer's touchscreen sends an altitude angle that Firefox refuses: the same W3C
      // actions without it, through puppeteer's BiDi browsing context.
      await this.page.mainFrame().browsingContext.performActions([touchActions(action, at)]);
      return;
    }
    const { x, y } = whole(at);
    const screen = this.page.touchscreen;
    if (action === 'start') await screen.touchStart(x, y);
    if (action === 'move') await screen.touchMove(x, y);
    if (action === 'end') await screen.touchEnd();
  }

  // Chromium takes the fingers as one touch event of the DevTools protocol: the points down
  // after the step, those missing from it lifted, those new pressed, all at once.
  async fingers(steps) {
    if (this.engine === 'firefox') {
      await this.page.mainFrame().browsingContext.performActions(fingerActions(steps));
      return;
    }
    this.points ??= new Map();
    const before = this.points.size;
    for (const { finger, action, at } of steps) {
      if (action === 'end') this.points.delete(finger);
      else this.points.set(finger, whole(at));
    }
    const touchPoints = [...this.points].map(([finger, { x, y }]) => ({ id: finger, x, y }));
    const type = touchPoints.length === 0 ? 'touchEnd'
        : steps.some((s) => s.action === 'start') || before === 0 ? 'touchStart' : 'touchMove';
    this.cdp ??= await this.page.createCDPSession();
    await this.cdp.send('Input.dispatchTouchEvent', { type, touchPoints });
  }

  // A key by its DOM name ('ArrowUp', ' '), pressed, held down or let go. puppeteer names the
  // space bar 'Space' over CDP and ' ' over BiDi.
  async key(action, name) {
    const key = name === ' ' && this.engine === 'chromium' ? 'Space' : name;
    await this.page.keyboard[action](key);
  }

  async click(find, ...args) {
    const handle = await this.page.evaluateHandle(find, ...args);
    await handle.asElement().click();
    await handle.dispose();
  }

  // The user's path: the command opens the browser's file chooser, which takes the file.
  async loadFile(file, openChooser) {
    const [chooser] = await Promise.all([this.page.waitForFileChooser({ timeout: 5000 }),
                                         openChooser()]);
    await chooser.accept([file]);
  }

  async screenshot(file) { await this.page.screenshot({ path: file }); }

  // The browser's own download, once complete, moved aside so that the next one (same name in
  // the same second) shows as new. Firefox puts an empty file under the final name at once and
  // writes into NAME.part, renamed over it at the end; Chromium names its file only at the end.
  async nextDownload() {
    const complete = () => {
      const names = fs.readdirSync(this.downloads);
      const name = names.find((n) => n.endsWith('.wav'));
      return name && !names.some((n) => n.endsWith('.part')) &&
          fs.statSync(path.join(this.downloads, name)).size > 0 ? name : null;
    };
    const name = await until('a download', complete, 10_000, 100);
    const kept = fs.mkdtempSync(path.join(this.downloads, 'download-'));
    fs.renameSync(path.join(this.downloads, name), path.join(kept, name));
    return { name, bytes: fs.readFileSync(path.join(kept, name)) };
  }

  async problems() {
    return [...this.seen, ...await this.evaluate(() => window.__violations ?? [])];
  }

  async close() { await this.page.close(); }
}

// A puppeteer page of `browser` as a driver page whose downloads go to `downloads`.
export async function puppeteerPage(engine, page, downloads) {
  await page.evaluateOnNewDocument(NOTE_VIOLATIONS);
  if (engine === 'chromium') {
    fs.mkdirSync(downloads, { recursive: true });
    const cdp = await page.browser().target().createCDPSession();
    await cdp.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  }
  return new PuppeteerPage(engine, page, downloads);
}

class PuppeteerBrowser {
  constructor(engine, browser, downloads, stopAlso = async () => {}) {
    this.engine = engine;
    this.browser = browser;
    this.downloads = downloads;
    fs.mkdirSync(downloads, { recursive: true });
    this.stopAlso = stopAlso;
  }

  async newPage() {
    return puppeteerPage(this.engine, await this.browser.newPage(), this.downloads);
  }

  async close() {
    try {
      await this.browser.close();
    } finally {
      await this.stopAlso();
    }
  }
}

// Headless Chromium on a fresh profile that lets a page download more than one file without
// asking, as a user who answered the browser's question would, with `args` added to its command
// line. The puppeteer browser itself.
export async function launchChromiumProfile(out, { args = [], ...options } = {}) {
  const profile = fs.mkdtempSync(path.join(out, 'profile-'));
  fs.mkdirSync(path.join(profile, 'Default'));
  fs.writeFileSync(path.join(profile, 'Default', 'Preferences'), JSON.stringify({
    profile: { default_content_setting_values: { automatic_downloads: 1 } },
  }));
  return puppeteer.launch({
    executablePath: CHROMIUM,
    headless: true,
    protocolTimeout: PROTOCOL_TIMEOUT,
    userDataDir: profile,
    env: privateHome(out),
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--no-first-run', ...args],
    ...options,
  });
}

export async function launchChromium(out) {
  const browser = await launchChromiumProfile(out, {
    defaultViewport: { width: 800, height: 600, hasTouch: true },
  });
  return new PuppeteerBrowser('chromium', browser, path.join(out, 'downloads'));
}

export async function launchFirefox(out) {
  const downloads = path.join(out, 'downloads');
  const pulse = await startPulse();
  try {
    const browser = await puppeteer.launch({
      browser: 'firefox',
      executablePath: FIREFOX,
      headless: true,
      protocolTimeout: PROTOCOL_TIMEOUT,
      env: { ...privateHome(out), PULSE_SERVER: pulse.server },
      // Saves go straight to the folder, unasked, as for a user who chose so.
      extraPrefsFirefox: {
        'browser.download.dir': downloads,
        'browser.download.folderList': 2,
        'browser.download.useDownloadDir': true,
        'browser.download.always_ask_before_handling_new_types': false,
        'browser.helperApps.neverAsk.saveToDisk': 'audio/wav',
      },
    });
    return new PuppeteerBrowser('firefox', browser, downloads, pulse.stop);
  } catch (error) {
    await pulse.stop();
    throw error;
  }
}

// ---- WebKitGTK through WebKitWebDriver ----

const ELEMENT = 'element-6066-11e4-a52e-4f735466cecf';

class WebDriver {
  constructor(base) { this.base = base; }

  async send(method, route, body) {
    const response = await fetch(this.base + route, {
      method, headers: { 'content-type': 'application/json' },
      body: body === undefined ? undefined : JSON.stringify(body),
    });
    const { value } = await response.json();
    if (value && value.error) {
      throw new Error(`WebDriver ${method} ${route}: ${value.error}: ${value.message}`);
    }
    return value;
  }
}

// Classic WebDriver has no console and no downloads, and WebKitGTK's automation offers neither
// preload scripts nor its inspector beside the driver. So the WebKit run reaches the page through
// a proxy in front of the static server that puts one classic script first in every HTML page's
// head: it records console errors and warnings, uncaught errors and rejections and elements that
// fail to load, and keeps each Blob the page hands to URL.createObjectURL so that a download
// (a link with `download` clicked) can be read back. Console messages that only the browser
// itself writes are not seen.
const HOOKS = `<script>(() => {
  const seen = window.__harness = { problems: [], downloads: [] };
  const note = (what) => seen.problems.push(what);
  for (const level of ['error', 'warn']) {
    const write = console[level];
    console[level] = (...a) => {
      note('console ' + level + ': ' + a.join(' '));
      write.apply(console, a);
    };
  }
  addEventListener('error', (e) => note(e.target === window ? 'page error: ' + e.message
      : 'failed to load: ' + (e.target.src || e.target.href)), true);
  addEventListener('unhandledrejection', (e) => note('unhandled rejection: ' + e.reason));
  addEventListener('securitypolicyviolation', (e) => note('content security policy: ' +
      e.effectiveDirective + ' refused ' + (e.blockedURI || 'an inline part')));
  const blobs = new Map();
  const createObjectURL = URL.createObjectURL;
  URL.createObjectURL = (blob) => {
    const url = createObjectURL.call(URL, blob);
    blobs.set(url, blob);
    return url;
  };
  const click = HTMLAnchorElement.prototype.click;
  HTMLAnchorElement.prototype.click = function () {
    const blob = this.download && blobs.get(this.href);
    if (blob) seen.downloads.push({ name: this.download, blob });
    return click.call(this);
  };
})();</script>`;

function hookingProxy(upstream) {
  const server = http.createServer((request, response) => {
    const forward = http.request(upstream + request.url, {
      method: request.method, headers: { ...request.headers, 'accept-encoding': 'identity' },
    }, (answer) => {
      if (!/^text\/html/.test(answer.headers['content-type'] || '')) {
        response.writeHead(answer.statusCode, answer.headers);
        answer.pipe(response);
        return;
      }
      const parts = [];
      answer.on('data', (c) => parts.push(c));
      answer.on('end', () => {
        const html = Buffer.concat(parts).toString('utf8').replace(/<head>/i, `$&${HOOKS}`);
        const headers = { ...answer.headers, 'content-length': Buffer.byteLength(html) };
        delete headers['last-modified'];  // the page is not the file on disk
        response.writeHead(answer.statusCode, headers);
        response.end(html);
      });
    });
    forward.on('error', () => request.socket.destroy());  // as the server itself would: gone
    request.pipe(forward);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({
    origin: `http://127.0.0.1:${server.address().port}`,
    stop: () => new Promise((resolve) => {
      if (!server.listening) return resolve();
      server.close(resolve);
      server.closeAllConnections();
    }),
  })));
}

class WebDriverPage extends Page {
  constructor(driver) {
    super();
    this.driver = driver;
    this.taken = 0;
  }

  async goto(url) {
    await this.driver.send('POST', '/url', { url });
    this.taken = 0;
  }

  evaluate(fn, ...args) {
    return this.driver.send('POST', '/execute/sync', {
      script: `return (${fn}).apply(null, arguments)`, args,
    });
  }

  // One action list per call; WebDriver keeps the pressed buttons between calls.
  async mouse(action, at) {
    const move = { type: 'pointerMove', ...whole(at), duration: 0 };
    const press = { down: [{ type: 'pointerDown', button: 0 }],
                    up: [{ type: 'pointerUp', button: 0 }] };
    await this.driver.send('POST', '/actions', { actions: [{
      type: 'pointer', id: 'mouse', parameters: { pointerType: 'mouse' },
      actions: [move, ...(press[action] || [])],
    }] });
  }

  async touch(action, at) {
    await this.driver.send('POST', '/actions', { actions: [touchActions(action, at)] });
  }

  async fingers(steps) {
    await this.driver.send('POST', '/actions', { actions: fingerActions(steps) });
  }

  async key(action, name) {
    const value = { ArrowUp: '\uE013', ArrowRight: '\uE014', ArrowDown: '\uE015',
                    ArrowLeft: '\uE012', Shift: '\uE008', Alt: '\uE00A' }[name] ?? name;
    const steps = { down: ['keyDown'], up: ['keyUp'], press: ['keyDown', 'keyUp'] }[action];
    await this.driver.send('POST', '/actions', { actions: [{
      type: 'key', id: 'keyboard', actions: steps.map((type) => ({ type, value })),
    }] });
  }

  async click(find, ...args) {
    const element = await this.evaluate(find, ...args);
    await this.driver.send('POST', `/element/${element[ELEMENT]}/click`, {});
  }

  // MiniBrowser's chooser is a GTK dialog the driver cannot answer: the file goes to the page's
  // file input itself, which WebKitWebDriver fills although the input is hidden.
  async loadFile(file) {
    const input = await this.driver.send('POST', '/element', { using: 'css selector',
                                                               value: 'input[type=file]' });
    await this.driver.send('POST', `/element/${input[ELEMENT]}/value`, { text: file });
  }

  async screenshot(file) {
    fs.writeFileSync(file, Buffer.from(await this.driver.send('GET', '/screenshot'), 'base64'));
  }

  async nextDownload() {
    const count = this.taken + 1;
    await until('a download', () => this.evaluate((n) => window.__harness.downloads.length >= n,
                                                  count), 10_000, 100);
    const { name, base64 } = await this.evaluate(async (i) => {
      const { name, blob } = window.__harness.downloads[i];
      const bytes = new Uint8Array(await blob.arrayBuffer());
      let text = '';
      for (let k = 0; k < bytes.length; k += 0x8000) {
        text += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
      }
      return { name, base64: btoa(text) };
    }, this.taken);
    this.taken = count;
    return { name, bytes: Buffer.from(base64, 'base64') };
  }

  problems() {
    return this.evaluate(() => window.__harness ? window.__harness.problems
                                                : ['the harness hooks are missing']);
  }

  async close() { await this.goto('about:blank'); }
}

class WebDriverBrowser {
  constructor(driver, stopProcesses) {
    this.engine = 'webkit';
    this.driver = driver;
    this.stopProcesses = stopProcesses;
    this.serves = hookingProxy;  // the pages reach the static server through the hooks
  }

  // MiniBrowser has one window: a new page is a new document in it, with no button or finger
  // left down by the page before.
  async newPage() {
    await this.driver.send('DELETE', '/actions');
    await this.driver.send('POST', '/url', { url: 'about:blank' });
    return new WebDriverPage(this.driver);
  }

  async close() {
    try {
      await this.driver.send('DELETE', '');
    } finally {
      await this.stopProcesses();
    }
  }
}

export async function launchWebKit(out) {
  const xvfb = await startXvfb();
  const port = await freePort();
  const server = start('WebKitWebDriver', [`--port=${port}`],
                       { env: { ...privateHome(out), DISPLAY: xvfb.display } });
  const stopBoth = () => Promise.all([stop(server), xvfb.stop()]);
  try {
    const base = `http://127.0.0.1:${port}`;
    await until('WebKitWebDriver', () => fetch(`${base}/status`).then((r) => r.ok, () => false));
    const { sessionId } = await new WebDriver(base).send('POST', '/session', {
      capabilities: { alwaysMatch: { 'webkitgtk:browserOptions': {
        binary: MINIBROWSER, args: ['--automation'],
      } } },
    });
    return new WebDriverBrowser(new WebDriver(`${base}/session/${sessionId}`), stopBoth);
  } catch (error) {
    await stopBoth();
    throw error;
  }
}

export const launchers = { chromium: launchChromium, firefox: launchFirefox, webkit: launchWebKit };
