// The loop's layers as the worklet keeps them for drawing: for each layer (the first recording,
// then each overdub, the unit an undo takes back) the voices' pitches over the loop, one slot for
// every SLOT frames of it, in storage taken once. An overdub that runs several passes writes only
// where its voices sound, so that what its earlier passes drew stays.

export const SLOT = 512;  // frames of the loop a slot stands for: 11.6 ms, finer than a lane's pixel
const LAYERS = 8;  // kept apart; a ninth merges the two oldest, so nothing drawn goes
const SLOTS = Math.ceil(2_646_000 / SLOT);  // the loop's 60 s
const [EMPTY, RECORDING, PLAYING, OVERDUBBING] = [0, 1, 2, 3];  // the module's loop states

export class LoopLayers {
  constructor(voices) {
    this.voices = voices;
    this.size = SLOTS * voices;
    this.pitches = new Float32Array(LAYERS * this.size);
    this.order = [];  // the layers' places in `pitches`, oldest first
    this.newest = 0;  // where the newest layer starts in `pitches`
    this.revision = 0;  // changes whenever a control was applied
  }

  // After a loop control: `before` and `after` are the looper's states around it, `undone` that
  // it took back an overdub.
  follow(before, after, undone) {
    this.revision++;
    if (after === EMPTY) {
      this.order.length = 0;
    } else if (before === EMPTY && after === RECORDING) {
      this.order.length = 0;
      this.add();
    } else if (before === PLAYING && after === OVERDUBBING) {
      this.add();
    } else if (undone && this.order.length > 1) {
      this.order.pop();
      this.newest = this.order.at(-1) * this.size;
    }
  }

  add() {
    if (this.order.length === LAYERS) {
      // The second oldest drawn into the oldest: the loop holds both for good by now.
      const [base, next] = [this.order[0] * this.size, this.order[1] * this.size];
      for (let i = 0; i < this.size; i++) {
        if (this.pitches[next + i] > 0) this.pitches[base + i] = this.pitches[next + i];
      }
      this.order.splice(1, 1);
    }
    let place = 0;
    while (this.order.includes(place)) place++;
    this.newest = place * this.size;
    this.pitches.fill(0, this.newest, this.newest + this.size);
    this.order.push(place);
  }

  // Where the pitches of a quantum rendered from `position` go, or -1 when the loop is neither
  // recording nor overdubbing (`state`).
  at(state, position) {
    if (state !== RECORDING && state !== OVERDUBBING) return -1;
    return this.newest + Math.floor(position / SLOT) * this.voices;
  }

  // Voice k's pitch in the slot `at()` gave, for a loop in `state`: a first layer is drawn as it
  // records, an overdub where its voices sound.
  keep(at, state, k, pitch) {
    if (state === RECORDING || pitch > 0) this.pitches[at + k] = pitch;
  }

  // The layers, oldest first, over `frames` of the loop in at most `columns` columns of `voices`
  // pitches each; each column holds, per voice, the last pitch heard in its slots.
  drawing(columns, frames) {
    const slots = Math.min(SLOTS, Math.ceil(frames / SLOT));
    const count = Math.max(0, Math.min(columns, slots));
    const v = this.voices;
    const layers = this.order.map((place) => {
      const out = new Float32Array(count * v);
      const from = place * this.size;
      for (let c = 0; c < count; c++) {
        const end = Math.floor((c + 1) * slots / count);
        for (let s = Math.floor(c * slots / count); s < end; s++) {
          for (let k = 0; k < v; k++) {
            const p = this.pitches[from + s * v + k];
            if (p > 0) out[c * v + k] = p;
          }
        }
      }
      return out;
    });
    return { layers, columns: count, voices: v };
  }
}
