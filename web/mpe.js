// MIDI out: the pad as a controller for any synth. Every voice a pointer sounds (fingers, the
// mouse, the keys) is a note at the pitch the pad gives it: the nearest note, bent the rest of the
// way, CC 74 for the column. MPE gives each voice a member channel of the lower zone (2 to 16),
// so each bends alone; one channel plays the newest voice only. The pad's own sound is untouched
// and nothing here is logged. MIDI notes coming in are never sent out again.

export const MODES = ['mpe', 'one'];
// Bend ranges in semitones: MPE's default for member channels, and the common default.
const RANGE = { mpe: 48, one: 2 };
const MEMBERS = 15;  // member channels 2 to 16, numbered 1 to 15 on the wire
const VELOCITY = 100;
const CENTRE = 8192;

const NOTE_OFF = 0x80;
const NOTE_ON = 0x90;
const CONTROL = 0xb0;
const BEND = 0xe0;
const TIMBRE = 74;  // CC 74: the column, 0 to 127 across the pad

function accepted({ x, y }) {
  return x > 64 && x < 320 && y > 64 && y < 320;
}

// Registered parameter `number` set to `value` on a channel (0 to 15), the selection closed
// after it so that a later CC 6 changes nothing.
function parameter(channel, number, value, fine = null) {
  const c = CONTROL | channel;
  return [[c, 101, 0], [c, 100, number], [c, 6, value], ...(fine === null ? [] : [[c, 38, fine]]),
          [c, 101, 127], [c, 100, 127]];
}

// The nearest note to a pitch in Hz (A4 = 440 Hz, note 69), within MIDI's 0 to 127.
function nearestNote(hz) {
  return Math.min(127, Math.max(0, Math.round(69 + 12 * Math.log2(hz / 440))));
}

// The 14-bit bend that takes `note` to `hz` under `range` semitones; outside 0 to 16383 when the
// range does not reach.
function bendFor(hz, note, range) {
  const semitones = 12 * Math.log2(hz / 440) + 69 - note;
  return CENTRE + Math.round(semitones / range * CENTRE);
}

export class MidiOut {
  // pitchFor(y): the pitch the pad gives row offset y under snap, from the page's own module.
  constructor({ pitchFor }) {
    this.pitchFor = pitchFor;
    this.port = null;
    this.mode = 'mpe';
    this.noteVoices = 0;  // voices MIDI notes hold: the engine ignores pointers on them
    this.on = new Map();  // voice -> where it plays, in the order the voices were pressed
    this.out = new Map();  // voice -> { channel, note, bend, timbre }: what the synth sounds
    this.channels = [];  // free member channels, the longest free first
  }

  // An output (or null) and its mode: what sounds on the old one ends; the new one is set up, and
  // the voices held now sound on it.
  use(port, mode) {
    this.silence();
    this.port = port;
    this.mode = MODES.includes(mode) ? mode : 'mpe';
    this.channels = Array.from({ length: MEMBERS }, (_, i) => i + 1);
    if (!port) return;
    // The lower zone's MPE configuration on the manager channel (1), then each member's range.
    const setup = this.mode === 'mpe'
        ? [...parameter(0, 6, MEMBERS),
           ...this.channels.flatMap((c) => parameter(c, 0, RANGE.mpe, 0))]
        : parameter(0, 0, RANGE.one, 0);
    for (const message of setup) this.send(message);
    this.sync();
  }

  // Notes off for every note sounding, on the output as it is.
  silence() {
    for (const voice of [...this.out.keys()]) this.stop(voice);
  }

  // The engine restarted, or the page lost the player: nothing is held any more.
  forget() {
    this.on.clear();
    this.silence();
  }

  // One of the page's pointer events as the worklet gets it ({ type, voice, x, y }).
  follow({ type, voice = 0, x, y }) {
    if (!['ldown', 'move', 'lup'].includes(type) || (this.noteVoices >> voice) & 1) return;
    const at = { x, y };
    if (type === 'ldown') {
      if (!accepted(at)) return;  // a press off the pad leaves the gate as it was
      this.on.delete(voice);  // pressed again: a new note, the newest
      this.stop(voice);
      this.on.set(voice, at);
    } else if (type === 'move') {
      if (!accepted(at) || !this.on.has(voice)) return;
      this.on.set(voice, at);
    } else if (!this.on.delete(voice)) {
      return;
    }
    this.sync();
  }

  // The synth sounds what is held: every voice in MPE, the newest alone on one channel.
  sync() {
    if (!this.port) return;
    const voices = [...this.on.keys()];
    const wanted = this.mode === 'one' ? voices.slice(-1) : voices;
    for (const voice of [...this.out.keys()]) {
      if (!wanted.includes(voice)) this.stop(voice);
    }
    for (const voice of wanted) this.sound(voice, this.on.get(voice));
  }

  // Voice `voice` at `at`: its note bent to the pitch, or, past the bend's reach, the note ended
  // and the nearest one started.
  sound(voice, at) {
    const hz = this.pitchFor(at.y - 64);
    const timbre = Math.round((at.x - 65) * 127 / 254);
    const range = RANGE[this.mode];
    const note = nearestNote(hz);
    let held = this.out.get(voice);
    if (held) {
      const bend = bendFor(hz, held.note, range);
      // Beyond note 127 (or 0) no other note is nearer: the bend goes as far as it reaches.
      if ((bend >= 0 && bend < 2 * CENTRE) || note === held.note) {
        this.bend(held, bend);
        if (timbre !== held.timbre) this.send([CONTROL | held.channel, TIMBRE, timbre]);
        held.timbre = timbre;
        return;
      }
      this.stop(voice);
    }
    const channel = this.mode === 'one' ? 0 : this.channels.shift();
    if (channel === undefined) return;
    held = { channel, note, bend: null, timbre };
    this.out.set(voice, held);
    this.bend(held, bendFor(hz, note, range));
    this.send([CONTROL | channel, TIMBRE, timbre]);
    this.send([NOTE_ON | channel, note, VELOCITY]);
  }

  bend(held, value) {
    const bend = Math.min(2 * CENTRE - 1, Math.max(0, value));
    if (bend === held.bend) return;
    held.bend = bend;
    this.send([BEND | held.channel, bend & 0x7f, bend >> 7]);
  }

  stop(voice) {
    const held = this.out.get(voice);
    if (!held) return;
    this.out.delete(voice);
    this.send([NOTE_OFF | held.channel, held.note, 0]);
    if (this.mode === 'mpe') this.channels.push(held.channel);
  }

  // An output that went away mid-send stops being used; the page goes on as before.
  send(message) {
    if (!this.port) return;
    try {
      this.port.send(message);
    } catch (error) {
      console.info('the MIDI output stopped:', error);
      this.port = null;
      this.out.clear();
    }
  }
}
