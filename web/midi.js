// MIDI devices through Web MIDI: the command and its dialog, every input playing the voices (one
// can be switched off), and the output the pad plays (mpe.js). Access is asked for only when the
// command is used. Each input's whole channel messages go to the worklet, which plays them by the
// module's MIDI rule and logs them with their frames, so the page's sound replays in
// tonvarel-render; system messages never leave the page. The worklet answers with the voices notes
// hold, which fingers leave alone and the markers and readout show. The choices (inputs switched
// off, the output and its mode) are remembered, as snap's scale and key are.
import { label } from './commands.js';
import { MODES } from './mpe.js';

const STORED = 'tonvarel.midi';
const VOICES = 10;  // as the engine has
const PEDAL = 64;  // CC 64, the sustain pedal

const $ = (id) => document.getElementById(id);

// The bytes of a channel message with this status.
const lengthOf = (status) => ((status >> 4) === 0xc || (status >> 4) === 0xd ? 2 : 3);

// The whole channel messages in a packet of MIDI bytes, each as an array of 2 or 3 bytes. System
// messages are dropped: system exclusive and system common with their data bytes, real-time bytes
// wherever they fall (they may fall inside another message, which goes on). Data bytes after a
// whole message, without a status of their own (running status), make more messages of its status;
// bytes that make no whole message are dropped.
export function channelMessages(data) {
  const messages = [];
  let status = 0;  // the channel status in force; none before one, in or after a system message
  let message = [];
  for (const byte of data) {
    if (byte >= 0xf8) continue;
    if (byte >= 0x80) {
      status = byte < 0xf0 ? byte : 0;
      message = [];
    } else if (status !== 0) {
      if (message.length === 0) message.push(status);
      message.push(byte);
      if (message.length === lengthOf(status)) {
        messages.push(message);
        message = [];
      }
    }
  }
  return messages;
}

// What an input holds, so that its notes can be ended when it goes: keys down (channel * 128 +
// key) and channels whose pedal it left down.
class Held {
  constructor() {
    this.keys = new Set();
    this.pedals = new Set();
  }

  note([status, key, value]) {
    const channel = status & 0x0f;
    const kind = status >> 4;
    if (kind === 0x9 && value > 0) this.keys.add(channel * 128 + key);
    else if (kind === 0x8 || kind === 0x9) this.keys.delete(channel * 128 + key);
    else if (kind === 0xb && key === PEDAL) {
      if (value >= 64) this.pedals.add(channel);
      else this.pedals.delete(channel);
    } else if (kind === 0xb && (key === 120 || key === 123)) {
      for (const k of [...this.keys]) if (k >> 7 === channel) this.keys.delete(k);
    }
  }

  // The pedals lifted, then every key let go: the channel's other players keep what they hold.
  endings() {
    const messages = [...this.pedals].map((channel) => [0xb0 | channel, PEDAL, 0]);
    for (const k of this.keys) messages.push([0x80 | (k >> 7), k & 0x7f, 0]);
    this.keys.clear();
    this.pedals.clear();
    return messages;
  }
}

function remembered() {
  try {
    const { off, output, mode } = JSON.parse(localStorage.getItem(STORED));
    if (Array.isArray(off) && off.every((n) => typeof n === 'string') &&
        (output === null || typeof output === 'string') && MODES.includes(mode)) {
      return { off, output, mode };
    }
  } catch {
    // nothing stored, storage refused, or not ours: the defaults
  }
  return { off: [], output: null, mode: 'mpe' };
}

// A port is remembered by its name, which stays when it is plugged in again or on the next visit.
const nameOf = (port) => port.name || port.id;

export class Midi {
  // send(event, time): to the worklet; out: the MidiOut; say(text): a message box; notesChanged():
  // the voices notes hold changed; keyOn(): a note started, for the live region.
  constructor({ t, send, out, say, notesChanged, keyOn }) {
    Object.assign(this, { t: t.midi, send, out, say, notesChanged, keyOn });
    Object.assign(this, remembered());
    this.access = null;
    this.asking = false;
    this.listening = new Map();  // input -> Held, for every input that plays
    this.voices = 0;  // voices notes hold, bit k for voice k, as the worklet last said
    this.notes = [];  // [{ voice, note, hz, depth }] of those voices
    const command = $('cmd-midi');
    label(command.querySelector('.long'), this.t.command);
    command.querySelector('.short').textContent = this.t.short;
    command.title = this.t.command[0];
    $('midi-caption').textContent = this.t.caption;
    $('midi-inputs-label').textContent = this.t.inputs;
    $('midi-output-label').textContent = this.t.output;
    $('midi-ok').textContent = t.ok;
    $('midi-ok').addEventListener('click', () => $('midi').close());
    $('midi-output').setAttribute('aria-label', this.t.output);
    const mode = $('midi-mode');
    mode.replaceChildren(...MODES.map((m) => new Option(this.t.modes[m], m)));
    mode.setAttribute('aria-label', this.t.mode);
    mode.title = this.t.mode;
    mode.addEventListener('change', () => this.choose($('midi-output').value, mode.value));
    $('midi-output').addEventListener('change', (e) => this.choose(e.target.value, mode.value));
  }

  // The command: access asked for the first time, then the dialog. When MIDI cannot be had it is
  // said why, and nothing else changes.
  async open() {
    if (!this.access) {
      const problem = !window.isSecureContext ? 'insecure'
          : !navigator.requestMIDIAccess ? 'unsupported' : null;
      if (problem) {
        this.say(this.t.problems[problem]);
        return;
      }
      if (this.asking) return;
      this.asking = true;
      try {
        this.access = await navigator.requestMIDIAccess({ sysex: false });
      } catch (error) {
        console.info('MIDI:', error);
        const refused = error?.name === 'NotAllowedError' || error?.name === 'SecurityError';
        this.say(this.t.problems[refused ? 'refused' : 'failed']);
        return;
      } finally {
        this.asking = false;
      }
      this.access.onstatechange = () => this.connect();
      this.connect();
    }
    this.show();
    if (!$('midi').open) $('midi').showModal();
  }

  connected(kind) {
    return [...this.access[kind].values()].filter((port) => port.state !== 'disconnected');
  }

  // Every connected input that is not switched off plays; an input that went away or was switched
  // off ends what it held. The remembered output is used while it is there.
  connect() {
    const playing = this.connected('inputs').filter((port) => !this.off.includes(nameOf(port)));
    for (const [port, held] of [...this.listening]) {
      if (playing.includes(port)) continue;
      port.onmidimessage = null;
      this.listening.delete(port);
      this.play(held.endings(), performance.now());
    }
    for (const port of playing) {
      if (this.listening.has(port)) continue;
      const held = new Held();
      this.listening.set(port, held);
      port.onmidimessage = (e) => {
        const messages = channelMessages(e.data ?? []);
        for (const message of messages) held.note(message);
        this.play(messages, e.timeStamp);
      };
    }
    const output = this.connected('outputs').find((port) => nameOf(port) === this.output) ?? null;
    if (output !== this.out.port || (output && this.mode !== this.out.mode)) {
      this.out.use(output, this.mode);
    }
    if ($('midi').open) this.show();
  }

  play(messages, time) {
    if (messages.length > 0) this.send({ type: 'midi', messages }, time);
  }

  // The dialog as things stand: each input ticked while it plays, the outputs to choose from.
  show() {
    const inputs = this.connected('inputs');
    $('midi-inputs').replaceChildren(...inputs.map((port) => {
      const box = document.createElement('input');
      box.type = 'checkbox';
      box.checked = !this.off.includes(nameOf(port));
      box.addEventListener('change', () => this.switchInput(nameOf(port), box.checked));
      const item = document.createElement('li');
      const text = document.createElement('label');
      text.append(box, nameOf(port));
      item.append(text);
      return item;
    }));
    $('midi-inputs-note').textContent = inputs.length > 0 ? this.t.inputsNote : this.t.noInputs;
    const outputs = this.connected('outputs').map(nameOf);
    $('midi-output').replaceChildren(new Option(this.t.none, ''),
                                     ...outputs.map((name) => new Option(name, name)));
    $('midi-output').value = outputs.includes(this.output) ? this.output : '';
    $('midi-mode').value = this.mode;
  }

  switchInput(name, on) {
    this.off = on ? this.off.filter((n) => n !== name) : [...new Set([...this.off, name])];
    this.remember();
    this.connect();
  }

  choose(output, mode) {
    this.output = output || null;
    this.mode = mode;
    this.remember();
    this.connect();
  }

  remember() {
    try {
      localStorage.setItem(STORED, JSON.stringify({ off: this.off, output: this.output,
                                                    mode: this.mode }));
    } catch {
      // private browsing or storage full: remembered for this visit only
    }
  }

  // The worklet's word on the voices notes hold after the messages it played.
  heard({ voices, notes }) {
    const started = (voices & ~this.voices) !== 0;
    this.voices = voices;
    this.notes = notes.filter((n) => n.hz > 0);
    this.out.noteVoices = voices;
    this.notesChanged();
    if (started) this.keyOn();
  }

  // A new engine holds no notes.
  restarted() {
    this.heard({ voices: 0, notes: [] });
  }

  holds(voice) {
    return voice >= 0 && voice < VOICES && ((this.voices >> voice) & 1) === 1;
  }
}
