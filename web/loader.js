// Loads that never stall the sound. A file is read, a piece at a time, into the page's own module
// instance, which works the load out there (the importer's checks, conversions and message boxes,
// on an engine that never plays). The finished table then goes to the worklet in slices, each
// copied between two render quanta while the voice plays on with the table before; the last
// message has the worklet adopt it whole between two quanta and log the load there, so that the
// log's `load PATH` replays it. One load at a time, in the order asked for; a load that takes more
// than a moment shows its progress.

const READ_BYTES = 8 << 20;  // of the file read at a time
const SLICE_BYTES = 1 << 20;  // of the table the worklet copies at a time, between two quanta
const OUTCOMES = ['unchanged', 'builtin', 'table'];  // the module's LoadOutcome
const QUIET_MS = 300;  // a load over within this shows no progress

// The progress line: shown once a task has taken longer than a moment, with a bar that fills
// (or, while `part` is null, only moves).
export function progressLine(element, bar, label) {
  let timer = 0;
  let shownPart = null;
  const show = () => {
    element.hidden = false;
    if (shownPart === null) bar.removeAttribute('value');
    else bar.value = shownPart;
  };
  return {
    start(text) {
      clearTimeout(timer);
      label.textContent = text;
      shownPart = null;
      timer = setTimeout(show, QUIET_MS);
    },
    part(part) {
      shownPart = part;
      if (!element.hidden) show();
    },
    done() {
      clearTimeout(timer);
      element.hidden = true;
    },
  };
}

export class Loader {
  // module: the page's instance; audio: the sound (send, ask, whenReady); heard(): the message
  // boxes the module showed since last asked; say(messages, format): shows them; tooLarge(time):
  // a file that cannot be read into memory; progress: a progressLine; t: the page's texts.
  constructor({ module, audio, heard, say, tooLarge, progress, t }) {
    Object.assign(this, { module, audio, heard, say, tooLarge, progress, t });
    this.queue = Promise.resolve();
  }

  // A file from the picker or a drop, as the tone table.
  file(file, time) {
    return this.enqueue(() => this.loadFile(file, time));
  }

  // A WAV file image at hand (a voice made on the page), under a name.
  bytes(buffer, name, time) {
    return this.enqueue(async () => {
      const bytes = new Uint8Array(buffer);
      const at = this.module._tv_load_room(bytes.length) >>> 0;
      if (at === 0) return this.tooLarge(time);
      this.module.HEAPU8.set(bytes, at);
      await this.handOver(bytes.length, name, time);
    });
  }

  enqueue(job) {
    const run = this.queue.then(job).finally(() => this.progress.done());
    this.queue = run.catch((error) => console.warn('the load failed:', error));
    return run;
  }

  async loadFile(file, time) {
    const m = this.module;
    this.progress.start(this.t.loading(file.name));
    const at = file.size > 0xFFFFFFFF ? 0 : m._tv_load_room(file.size) >>> 0;
    if (at === 0) return this.tooLarge(time);
    for (let from = 0; from < file.size; from += READ_BYTES) {
      let part;
      try {
        part = new Uint8Array(await file.slice(from, from + READ_BYTES).arrayBuffer());
      } catch (error) {
        console.info('the file could not be read into memory:', error);
        m._tv_load_release();
        return this.tooLarge(time);
      }
      m.HEAPU8.set(part, at + from);  // a fresh view: the memory may have grown meanwhile
      this.progress.part(0.5 * (from + part.length) / file.size);
    }
    await this.handOver(file.size, file.name, time);
  }

  // The load worked out here, its table copied into the worklet's engine, and adopted there.
  async handOver(length, name, time) {
    const m = this.module;
    this.heard();  // nothing said before belongs to this load
    const outcome = OUTCOMES[m._tv_load_prepare(length)];
    const messages = this.heard();
    const format = { bits: m._tv_load_bits(), channels: m._tv_load_channels(),
                     float: m._tv_load_float() === 1 };
    let samples = 0;
    try {
      await this.audio.whenReady();
      if (outcome === 'table') {
        samples = m._tv_load_table_length() >>> 0;
        const room = await this.audio.ask('load-room', { samples });
        if (room === null) return;  // the engine stopped: the next gesture starts a new one
        if (!room.ok) {
          this.audio.send({ type: 'load', name, outcome: 'oom' }, time);
          return;
        }
        if (!await this.copyTable(m._tv_load_table() >>> 0, 2 * samples)) return;
      }
    } finally {
      m._tv_load_release();
    }
    this.audio.send({ type: 'load', name, outcome, samples }, time);
    this.say(messages, format);
  }

  // The table's bytes, a slice at a time, each copied by the worklet before the next is sent.
  async copyTable(from, bytes) {
    for (let k = 0; k < bytes; k += SLICE_BYTES) {
      const slice = this.module.HEAPU8.slice(from + k, from + Math.min(bytes, k + SLICE_BYTES));
      const answer = await this.audio.ask('load-part', { at: k, bytes: slice.buffer },
                                          [slice.buffer]);
      if (!answer?.ok) return false;
      this.progress.part(0.5 + 0.5 * (k + slice.length) / bytes);
    }
    return true;
  }
}
