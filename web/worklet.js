// The audio side of the browser edition: the one engine, inside this worklet's WebAssembly
// instance, renders each render quantum as it is asked for, each voice continuing its 1,500-frame
// block.
//
// How it works: the page posts pointer and menu events to the port, each pointer event addressed
// to one of the engine's ten voices. They are applied to the engine as they arrive, which is
// always between two process() calls, so an event takes effect at the next quantum: a press that
// opens a voice's gate starts a block of its own for that voice and sounds at once with its pitch,
// a move's pitch waits for the voice's next block, everything else applies at the next frame.
// That is a `tonvarel-render` script line placed between two `frames` lines: each applied
// event is logged with the number of frames rendered before it, so the page can write out that
// script.
// Questions from the page (the log, the take's and the loop's state, drawings of the table, the
// take and the loop, whose pitches are kept per quantum while they record, in storage taken once)
// carry an id and are answered from the port's handler. A file is never parsed here: the page
// works a load out on its own instance and sends the finished table, slice by slice (load-room,
// load-part, each copied between two quanta while the table before plays on), then the load,
// which adopts it whole.
// The engine mixes the loop and the take's playback into its frames itself, so process() only
// renders into the module's fixed frames and copies samples out: it neither allocates nor posts.
import { LoopLayers } from './layers.js';
import createTonvarel from './tonvarel.js';

const TAKE_SAMPLES = 2_646_000;  // 60 s of mono at 44,100 Hz, as the engine's take holds
// The loop's controls, as the page names them, and the module's calls for them.
const LOOP_CALLS = { 'loop': '_tv_loop', 'loop-stop': '_tv_loop_stop',
                     'loop-undo': '_tv_loop_undo', 'loop-clear': '_tv_loop_clear' };
const QUANTUM = 128;  // frames of the take a contour slot stands for
const VOICES = 10;  // as the engine has
const LOG_LIMIT = 200_000;  // events; a longer session stops logging rather than grow without end
const SCALE = 1 / 32768;
const CLOSE_UP = 400;  // samples of the tone table drawn: about four periods at 440 Hz
const OUTCOMES = ['unchanged', 'builtin', 'table'];  // the module's LoadOutcome

// Column-wise minimum and maximum of `count` samples read by `at(i)`, scaled to -1..1.
function envelope(count, columns, at) {
  const out = new Float32Array(2 * columns);
  if (count === 0) return out;
  for (let c = 0; c < columns; c++) {
    const from = Math.floor(c * count / columns);
    const to = Math.max(from + 1, Math.floor((c + 1) * count / columns));
    let low = 32767;
    let high = -32768;
    for (let i = from; i < to && i < count; i++) {
      const v = at(i);
      if (v < low) low = v;
      if (v > high) high = v;
    }
    out[2 * c] = low * SCALE;
    out[2 * c + 1] = high * SCALE;
  }
  return out;
}

class TonvarelProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.module = null;
    this.waiting = [];  // events that arrive before the module is ready
    this.frames = 0;  // rendered so far: the log's clock
    this.firstFrame = null;  // the context's frame the first of them went out at
    this.base = 0;  // where the module renders, in 16-bit samples
    this.maxFrames = 0;
    this.log = [];
    this.prepared = 0;  // where the table of a load being handed over goes, in bytes
    this.preparedBytes = 0;
    this.looper = false;  // the engine had the loop's storage
    this.layers = new LoopLayers(VOICES);
    this.saving = null;  // what a save under way writes ('take' or 'loop'), for its message boxes
    // The voices' pitches while the take records, one slot a quantum of it (0 where a voice's key
    // was off), in the take's own order: slot k stands for its samples from k * QUANTUM on and
    // holds VOICES pitches, voice 0 first.
    this.contour = new Float32Array(Math.ceil(TAKE_SAMPLES / QUANTUM) * VOICES);
    // For the tests: with tapSeconds, the samples served from the first frame on are also kept,
    // in storage taken once, exactly as they were handed to the output.
    const tapFrames = (options.processorOptions.tapSeconds || 0) * sampleRate;
    this.tapLeft = new Float32Array(tapFrames);
    this.tapRight = new Float32Array(tapFrames);
    this.tapLength = 0;
    this.port.onmessage = (e) => this.receive(e.data);
    this.start(options.processorOptions.wasm).catch(
        (error) => this.port.postMessage({ type: 'failed', text: String(error) }));
  }

  async start(wasm) {
    const module = await createTonvarel({
      wasmBinary: wasm,
      locateFile: (name) => name,  // a worklet has no URL; the bytes are already here
      showMessage: (text, caption) => this.port.postMessage({ type: 'message', text, caption,
                                                              what: this.saving }),
      print: (line) => this.port.postMessage({ type: 'print', line }),
      printErr: (line) => this.port.postMessage({ type: 'print', line }),
    });
    this.base = module._tv_start() >> 1;
    this.maxFrames = module._tv_max_frames();
    this.module = module;
    this.looper = module._tv_looper_available() === 1;
    this.port.postMessage({ type: 'ready', looper: this.looper,
                            playback: module._tv_playback_available() === 1 });
    this.postVoice(null, false);
    const waiting = this.waiting;
    this.waiting = null;
    for (const event of waiting) this.apply(event);
  }

  receive(event) {
    if (event.id !== undefined) {
      this.port.postMessage({ type: 'reply', id: event.id, ...this.answer(event) });
    } else if (this.module === null) {
      this.waiting.push(event);
    } else {
      this.apply(event);
    }
  }

  answer(question) {
    const m = this.module;
    switch (question.type) {
      case 'tap':
        return { left: this.tapLeft.slice(0, this.tapLength),
                 right: this.tapRight.slice(0, this.tapLength) };
      case 'log':
        return { log: this.log, frames: this.frames, complete: this.log.length < LOG_LIMIT,
                 firstFrame: this.firstFrame };
      case 'status':
        return m === null ? { recording: false, length: 0, wrapped: false, playing: false } : {
          recording: m._tv_take_recording() === 1,
          length: m._tv_take_length() / 2,
          wrapped: m._tv_take_wrapped() === 1,
          playing: m._tv_take_playing() === 1,
          playback: m._tv_playback_available() === 1,
          loop: this.looper ? {
            state: m._tv_loop_state(), position: m._tv_loop_position(),
            length: m._tv_loop_length(), undoable: m._tv_loop_undoable() === 1,
            revision: this.layers.revision,
          } : null,
        };
      case 'loop-lane': {  // the layers over what the loop holds so far
        if (m === null || !this.looper) return { layers: [], columns: 0, voices: VOICES };
        return this.layers.drawing(question.columns, m._tv_loop_byte_length() / 2);
      }
      case 'load-room': {  // beside the active table, which plays on
        this.preparedBytes = 0;
        this.prepared = m === null ? 0 : m._tv_prepared_room(question.samples) >>> 0;
        if (this.prepared !== 0) this.preparedBytes = 2 * question.samples;
        return { ok: this.prepared !== 0 };
      }
      case 'load-part': {
        const bytes = new Uint8Array(question.bytes);
        const fits = this.prepared !== 0 && Number.isInteger(question.at) && question.at >= 0 &&
                     question.at + bytes.length <= this.preparedBytes;
        if (fits) m.HEAPU8.set(bytes, this.prepared + question.at);
        return { ok: fits };
      }
      case 'take-wave': {
        if (m === null) return { wave: new Float32Array(0) };
        const at = m._tv_take_bytes() >> 1;  // the take's storage comes from malloc: aligned
        const count = m._tv_take_length() / 2;
        const heap = m.HEAP16;
        return { wave: envelope(count, question.columns, (i) => heap[at + i]), samples: count,
                 contour: this.contour.slice(0, Math.ceil(count / QUANTUM) * VOICES),
                 voices: VOICES };
      }
      default:
        return {};
    }
  }

  apply(event) {
    if (event.type === 'midi') {
      this.midi(event.messages);
      return;
    }
    const m = this.module;
    const entry = { frame: this.frames, type: event.type };
    const voice = event.voice ?? 0;
    switch (event.type) {
      case 'move': m._tv_voice_move(voice, event.x, event.y); break;
      case 'ldown': m._tv_voice_left_down(voice, event.x, event.y); break;
      case 'lup': m._tv_voice_left_up(voice); break;
      case 'rdown': m._tv_right_down(); break;
      case 'rup': m._tv_right_up(); break;
      case 'load':
        // The worklet's engine had no room for the table: said as the importer says it, and the
        // built-in tone comes back, as a `default` line replays it.
        if (event.outcome === 'oom') {
          m._tv_out_of_memory();
          entry.type = 'builtin';
        } else if (m._tv_adopt(OUTCOMES.indexOf(event.outcome), event.samples ?? 0) === 1) {
          entry.name = event.name;
        } else {
          return;
        }
        this.prepared = 0;
        this.preparedBytes = 0;
        break;
      case 'save': this.save('take'); break;
      case 'snap':
        if (m._tv_snap(event.scale, event.key) === 0) return;
        entry.scale = event.scale;
        entry.key = event.key;
        break;
      case 'builtin': m._tv_builtin(); break;
      case 'play': m._tv_take_play(); break;
      case 'stop': m._tv_take_stop(); break;
      case 'loop': case 'loop-stop': case 'loop-undo': case 'loop-clear':
        this.loopControl(event.type);
        break;
      case 'loop-save': this.save('loop'); break;
      default: return;
    }
    if ('x' in event) { entry.x = event.x; entry.y = event.y; }
    if (event.type === 'move' || event.type === 'ldown' || event.type === 'lup') entry.voice = voice;
    if (this.log.length < LOG_LIMIT) this.log.push(entry);
    if (entry.type === 'load') this.postVoice(event.name, event.outcome !== 'unchanged');
    else if (entry.type === 'builtin') this.postVoice(null, false);
  }

  // Whole MIDI channel messages from the page's inputs, each played and logged as the renderer's
  // `midi` line at this frame (bytes the module refuses are neither); then the voices notes hold,
  // with their notes, pitches and depths, for the page's fingers, markers and readout.
  midi(messages) {
    const m = this.module;
    if (!Array.isArray(messages)) return;
    for (const bytes of messages) {
      if (!Array.isArray(bytes) || (bytes.length !== 2 && bytes.length !== 3)) continue;
      if (m._tv_midi(bytes[0], bytes[1], bytes[2] ?? 0, bytes.length) !== 1) continue;
      if (this.log.length < LOG_LIMIT) {
        this.log.push({ frame: this.frames, type: 'midi', bytes: bytes.slice() });
      }
    }
    const voices = m._tv_note_voices();
    const notes = [];
    for (let k = 0; k < VOICES; k++) {
      if (((voices >> k) & 1) === 0) continue;
      notes.push({ voice: k, note: m._tv_voice_note(k), hz: m._tv_voice_pitch(k),
                   depth: m._tv_voice_depth(k) });
    }
    this.port.postMessage({ type: 'notes', voices, notes });
  }

  // The take's save or the loop's; their message boxes say which.
  save(what) {
    const m = this.module;
    this.saving = what;
    const length = what === 'loop' ? m._tv_loop_save() : m._tv_save();
    this.saving = null;
    if (length === 0) return;
    const at = m._tv_saved_bytes();
    const bytes = m.HEAPU8.slice(at, at + length);
    this.port.postMessage({ type: 'saved', what, bytes: bytes.buffer }, [bytes.buffer]);
  }

  // A loop control, and the layers drawn that follow it. With no looper it does nothing, as the
  // engine does, and is logged all the same, as the renderer's line does nothing then either.
  loopControl(type) {
    const m = this.module;
    const before = m._tv_loop_state();
    const undoable = m._tv_loop_undoable() === 1;
    m[LOOP_CALLS[type]]();
    this.layers.follow(before, m._tv_loop_state(), type === 'loop-undo' && undoable);
  }

  // The active table's name and a close-up of its waveform from the middle; `loaded` tells
  // whether a load replaced the table (an empty file leaves it as it was).
  postVoice(name, loaded) {
    const m = this.module;
    const bytes = m.HEAPU8;
    const table = m._tv_table_bytes();
    const length = m._tv_table_length();
    const count = Math.min(CLOSE_UP, length);
    const from = Math.floor((length - count) / 2);
    const sample = (i) => {
      const k = table + 2 * (from + i);
      return (bytes[k] | (bytes[k + 1] << 8)) << 16 >> 16;  // a table may lie at an odd address
    };
    const wave = table === 0 ? new Float32Array(0) : envelope(count, 100, sample);
    this.port.postMessage({ type: 'voice', name, loaded, wave,
                            builtIn: m._tv_table_is_default() === 1 });
  }

  process(inputs, outputs) {
    const left = outputs[0][0];
    const right = outputs[0][1];
    const m = this.module;
    if (m === null) {
      left.fill(0);
      right.fill(0);
      return true;
    }
    if (this.frames === 0) this.firstFrame = currentFrame;
    for (let from = 0; from < left.length; from += this.maxFrames) {
      const count = Math.min(this.maxFrames, left.length - from);
      const slot = m._tv_take_recording() === 1
          ? Math.floor(m._tv_take_length() / 2 / QUANTUM) % (this.contour.length / VOICES) : -1;
      const loopState = this.looper ? m._tv_loop_state() : 0;
      const layer = this.layers.at(loopState, this.looper ? m._tv_loop_position() : 0);
      m._tv_render_frames(count);
      if (slot >= 0 || layer >= 0) {
        for (let k = 0; k < VOICES; k++) {
          const pitch = m._tv_sounding_pitch(k);
          if (slot >= 0) this.contour[slot * VOICES + k] = pitch;
          if (layer >= 0) this.layers.keep(layer, loopState, k, pitch);
        }
      }
      const samples = m.HEAP16;  // a new view only if memory grew since
      for (let i = 0; i < count; i++) {
        const k = this.base + 2 * i;
        left[from + i] = samples[k] * SCALE;
        right[from + i] = samples[k + 1] * SCALE;
      }
    }
    this.frames += left.length;
    // The tap keeps exactly what was handed out, from the first rendered frame on.
    for (let i = 0; i < left.length && this.tapLength < this.tapLeft.length; i++) {
      this.tapLeft[this.tapLength] = left[i];
      this.tapRight[this.tapLength++] = right[i];
    }
    return true;
  }
}

registerProcessor('tonvarel', TonvarelProcessor);
