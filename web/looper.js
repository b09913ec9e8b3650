// The looper on the page: the loop button, which says what its next press does (record, play,
// overdub, play again), stop, undo, clear (asked first when the loop holds something) and save;
// the loop's state with its position and length in the bar; and its lane, the layers drawn on the
// note grid, the newest strongest. What is shown follows the engine's state as the worklet reports
// it with the take's, never a guess: a press shows once the engine has taken it.
import { drawLoop } from './contour.js';

const $ = (id) => document.getElementById(id);
const RATE = 44100;
const CAPACITY_SECONDS = 60;  // as the engine's loop holds
const STATES = ['empty', 'recording', 'playing', 'overdub', 'stopped'];  // the module's order
const NEXT = { empty: 'record', recording: 'play', playing: 'overdub', overdub: 'play',
               stopped: 'play' };
const LANE_MS = 500;  // how often the lane is asked for while a layer records
const COLUMNS = 1024;  // the lane's columns at most, whatever the canvas's width

export class Looper {
  // send(event, time): posts a control; ask(type, extra): a question for the worklet; refresh():
  // asks for the state at once; say(caption, text): a message box; scale(): the scale the note
  // grid stresses, as the pad's.
  constructor({ t, send, ask, refresh, say, scale }) {
    Object.assign(this, { t: t.looper, seconds: t.seconds, send, ask, refresh, say, scale });
    this.offered = null;  // the engine's answer: a looper (true) or none (false); null until then
    this.told = false;  // that there is no looper was said
    this.loop = null;  // the last state shown
    this.lane = { layers: [], voices: 1 };
    this.laneAsked = { revision: -1, state: null, time: 0 };
    this.drawn = null;  // what the lane last drew: redrawn only when something changed
    $('loop-label').textContent = this.t.name;
    const confirm = $('loop-confirm');
    $('loop-confirm-caption').textContent = this.t.confirm.caption;
    $('loop-confirm-text').textContent = this.t.confirm.text;
    $('loop-confirm-clear').textContent = this.t.confirm.clear;
    $('loop-confirm-cancel').textContent = this.t.confirm.cancel;
    $('loop-confirm-cancel').addEventListener('click', () => confirm.close());
    $('loop-confirm-clear').addEventListener('click', (e) => {
      confirm.close();
      this.control('loop-clear', e);
    });
    // The keys (L, S, U, C, E) click these buttons, so both reach the same commands.
    $('cmd-loop').addEventListener('click', (e) => this.control('loop', e));
    $('cmd-loop-stop').addEventListener('click', (e) => this.control('loop-stop', e));
    $('cmd-loop-undo').addEventListener('click', (e) => this.control('loop-undo', e));
    $('cmd-loop-clear').addEventListener('click', (e) => {
      if (this.holds()) confirm.showModal();
      else this.control('loop-clear', e);
    });
    $('cmd-save-loop').addEventListener('click', (e) => this.control('loop-save', e));
    new ResizeObserver(() => this.paint()).observe($('loop-lane'));
    this.show(null);
  }

  control(type, e) {
    this.send({ type }, e.timeStamp);
    this.refresh();
  }

  // Whether the loop holds something a clear would lose.
  holds() {
    const loop = this.loop;
    return loop !== null && (loop.length > 0 || (loop.state === 1 && loop.position > 0));
  }

  // The engine's answer at its start: the looper shown, or hidden and said once.
  offer(available) {
    this.offered = available;
    const group = $('looper');
    group.classList.remove('pending');
    group.hidden = !available;
    $('loop-view').hidden = !available;
    if (!available) {
      this.show(null);
      if (!this.told) this.say(this.t.unavailable.caption, this.t.unavailable.text);
      this.told = true;
    }
  }

  // A new engine after a failure: its loop starts empty, and a loop the old one held is lost.
  restarted() {
    const lost = this.holds();
    this.lane = { layers: [], voices: 1 };
    this.laneAsked = { revision: -1, state: null, time: 0 };
    this.show(null);
    if (lost) this.say(this.t.lost.caption, this.t.lost.text);
  }

  // The looper's state as the worklet reported it ({ state, position, length, undoable,
  // revision }), or null for an empty loop or none.
  show(loop) {
    this.loop = loop;
    const state = STATES[loop?.state ?? 0];
    const recording = state === 'recording';
    const set = (id, key, value) => {
      const e = $(id);
      if (e.dataset[key] !== value) e.dataset[key] = value;
    };
    set('cmd-loop', 'next', NEXT[state]);
    set('loop', 'state', state);
    const position = (loop?.position ?? 0) / RATE;
    const length = (loop?.length ?? 0) / RATE;
    const text = recording ? `${position.toFixed(1)} ${this.seconds}`
        : state === 'empty' ? `— ${this.seconds}`
        : `${position.toFixed(1)} / ${length.toFixed(1)} ${this.seconds}`;
    if ($('loop-time').textContent !== text) $('loop-time').textContent = text;
    const part = recording ? position / CAPACITY_SECONDS : length > 0 ? position / length : 0;
    $('loop-fill').style.width = `${Math.min(100, 100 * part)}%`;
    $('loop').title = `${this.t.name}: ${this.t.states[state]}, ${text}`;
    $('loop-length').textContent = length > 0 ? `${length.toFixed(1)} ${this.seconds}`
        : this.t.states[state];
    const ready = this.offered === true;
    $('cmd-loop').disabled = !ready;
    $('cmd-loop-stop').disabled = !ready || !['recording', 'playing', 'overdub'].includes(state);
    $('cmd-loop-undo').disabled = !ready || !loop?.undoable;
    $('cmd-loop-clear').disabled = !ready || state === 'empty';
    $('cmd-save-loop').disabled = !ready || !(length > 0 || (recording && position > 0));
    if (ready && loop) this.follow(loop);
    this.paint();
  }

  // The lane's layers, asked for again after every control, when the state changes (the first
  // layer closes by itself at 60 s) and every LANE_MS while a layer records.
  async follow(loop) {
    const asked = this.laneAsked;
    const live = loop.state === 1 || loop.state === 3;
    const now = performance.now();
    if (asked.revision === loop.revision && asked.state === loop.state &&
        !(live && now - asked.time >= LANE_MS)) return;
    this.laneAsked = { revision: loop.revision, state: loop.state, time: now };
    const reply = await this.ask('loop-lane', { columns: COLUMNS });
    if (reply === null || this.laneAsked.time !== now) return;  // a newer one is under way
    this.lane = reply;
    this.paint();
  }

  // The lane with where the loop plays; drawn again only when something it shows changed.
  paint() {
    const canvas = $('loop-lane');
    const loop = this.loop;
    const state = STATES[loop?.state ?? 0];
    const moving = state === 'playing' || state === 'overdub';
    const at = moving && loop.length > 0 ? loop.position / loop.length : null;
    const scale = this.scale();
    const key = [this.lane, scale, at, state, canvas.clientWidth, canvas.clientHeight];
    if (this.drawn && key.every((k, i) => k === this.drawn[i])) return;
    this.drawn = key;
    canvas.dataset.layers = String(this.lane.layers.length);
    if (canvas.clientWidth === 0) return;  // left out for want of room
    drawLoop(canvas, this.lane, scale, { at, overdub: state === 'overdub' });
  }
}
