// The audio side of the browser edition: the one engine, inside this worklet's WebAssembly
// instance, renders 1,500-frame blocks that are served to the 128-frame render quanta.
//
// How it works: the page posts pointer and menu events to the port. They are applied to the
// engine as they arrive, which is always between two process() calls; since only renderBlock
// reads the engine's state, an event takes effect at the next block boundary, exactly as a
// `tonvarel-render` script line placed between two `render` lines. Each applied event is logged
// with the number of blocks rendered before it, so the page can write out that script.
// process() only renders into the module's fixed block and copies samples out: it allocates
// nothing.
import createTonvarel from './tonvarel.js';

const BLOCK_FRAMES = 1500;
const LOG_LIMIT = 200_000;  // events; a longer session stops logging rather than grow without end
const SCALE = 1 / 32768;

class TonvarelProcessor extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.module = null;
    this.waiting = [];  // events that arrive before the module is ready
    this.blocks = 0;
    this.frame = BLOCK_FRAMES;  // the next frame of the current block; all used up at start
    this.samples = null;
    this.base = 0;
    this.log = [];
    // For the tests: with tapSeconds, the samples served from the first block on are also kept,
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
      showMessage: (text, caption) => this.port.postMessage({ type: 'message', text, caption }),
      print: (line) => this.port.postMessage({ type: 'print', line }),
      printErr: (line) => this.port.postMessage({ type: 'print', line }),
    });
    this.base = module._tv_start() >> 1;
    this.module = module;
    const waiting = this.waiting;
    this.waiting = null;
    for (const event of waiting) this.apply(event);
    this.port.postMessage({ type: 'ready' });
  }

  receive(event) {
    if (event.type === 'tap') {
      this.port.postMessage({ type: 'tap', left: this.tapLeft.slice(0, this.tapLength),
                              right: this.tapRight.slice(0, this.tapLength) });
    } else if (event.type === 'log') {
      this.port.postMessage({ type: 'log', log: this.log, blocks: this.blocks,
                              complete: this.log.length < LOG_LIMIT });
    } else if (this.module === null) {
      this.waiting.push(event);
    } else {
      this.apply(event);
    }
  }

  apply(event) {
    const m = this.module;
    const entry = { block: this.blocks, type: event.type };
    switch (event.type) {
      case 'move': m._tv_move(event.x, event.y); break;
      case 'ldown': m._tv_left_down(event.x, event.y); break;
      case 'lup': m._tv_left_up(); break;
      case 'rdown': m._tv_right_down(); break;
      case 'rup': m._tv_right_up(); break;
      case 'load': this.load(event.bytes); entry.name = event.name; break;
      case 'save': this.save(); break;
      default: return;
    }
    if ('x' in event) { entry.x = event.x; entry.y = event.y; }
    if (this.log.length < LOG_LIMIT) this.log.push(entry);
  }

  load(buffer) {
    const m = this.module;
    const bytes = new Uint8Array(buffer);
    const at = m._malloc(Math.max(bytes.length, 1));
    if (at === 0) {
      this.port.postMessage({ type: 'message', text: 'death', caption: null });
      return;
    }
    m.HEAPU8.set(bytes, at);
    m._tv_load(at, bytes.length);
    m._free(at);
  }

  save() {
    const m = this.module;
    const length = m._tv_save();
    if (length === 0) return;
    const at = m._tv_saved_bytes();
    const bytes = m.HEAPU8.slice(at, at + length);
    this.port.postMessage({ type: 'saved', bytes: bytes.buffer }, [bytes.buffer]);
  }

  process(inputs, outputs) {
    const left = outputs[0][0];
    const right = outputs[0][1];
    if (this.module === null) {
      left.fill(0);
      right.fill(0);
      return true;
    }
    for (let i = 0; i < left.length; i++) {
      if (this.frame === BLOCK_FRAMES) {
        this.module._tv_render();
        this.blocks++;
        this.frame = 0;
        this.samples = this.module.HEAP16;  // a new view only if memory grew since
      }
      const k = this.base + 2 * this.frame;
      left[i] = this.samples[k] * SCALE;
      right[i] = this.samples[k + 1] * SCALE;
      this.frame++;
      if (this.tapLength < this.tapLeft.length) {
        this.tapLeft[this.tapLength] = left[i];
        this.tapRight[this.tapLength++] = right[i];
      }
    }
    return true;
  }
}

registerProcessor('tonvarel', TonvarelProcessor);
