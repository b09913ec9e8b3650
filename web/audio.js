// Sound: the AudioContext, the worklet node the engine lives in, the port to it, and what the
// notice line says about them.
//
// The context and the engine are made at page load, so that the engine is ready before the first
// touch; browsers keep such a context suspended until a gesture, and the first gesture resumes
// it from inside its handler, so the first note sounds in the quantum after it. When the worklet
// fails (its module does not load, the engine does not start, the processor throws), the next
// gesture starts a new node: a new engine, whose log and tap start again from frame 0.

const RATE = 44100;
const SENT_LIMIT = 200_000;  // events, as many as the worklet logs
// The lowest output latency the browser grants: some give less for 0 s than for 'interactive'.
const LOWEST_LATENCY = 0;

export class Audio {
  constructor({ wasm, tapSeconds, onMessage, onChange }) {
    this.wasm = wasm;
    this.tapSeconds = tapSeconds;
    this.onMessage = onMessage;  // every message from the worklet that is not a reply
    this.onChange = onChange;  // the notice line's reason may have changed; or a restart
    this.context = null;
    this.node = null;
    this.moduleLoaded = false;
    this.attempt = 0;
    this.failed = false;
    this.gestured = false;
    this.resuming = 0;  // resumes asked for and not yet settled
    this.shown = null;
    this.ready = false;
    this.outbox = [];  // events before there is a node
    this.sent = [];  // { type, time } of every event sent, for the tests' latency figures
    this.replies = new Map();
    this.readyWaiters = [];
    this.nextId = 1;
  }

  // At page load; a browser that refuses a context before a gesture gets it at the first one.
  open() {
    if (navigator.audioSession) navigator.audioSession.type = 'playback';
    try {
      this.context = new AudioContext({ sampleRate: RATE, latencyHint: LOWEST_LATENCY });
    } catch (error) {
      console.info('the sound waits for a gesture:', error);
      return;
    }
    this.context.addEventListener('statechange', () => this.onChange());
    this.load();
  }

  async load() {
    try {
      if (!this.moduleLoaded) {
        // A module that failed once is asked for under a new address: the first failure may
        // stay in the worklet's module map.
        const url = this.attempt === 0 ? 'worklet.js' : `worklet.js?attempt=${this.attempt}`;
        await this.context.audioWorklet.addModule(url);
        this.moduleLoaded = true;
      }
      const node = new AudioWorkletNode(this.context, 'tonvarel', {
        numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
        processorOptions: { wasm: this.wasm, tapSeconds: this.tapSeconds },
      });
      node.port.onmessage = (e) => this.receive(e.data);
      node.onprocessorerror = (e) => this.fail(`the processor stopped: ${e.message ?? e.type}`);
      node.connect(this.context.destination);
      this.node = node;
      for (const [event, transfer] of this.outbox.splice(0)) node.port.postMessage(event, transfer);
    } catch (error) {
      this.fail(`the worklet did not load: ${error}`);
    }
  }

  receive(data) {
    if (data.type === 'reply') {
      const resolve = this.replies.get(data.id);
      this.replies.delete(data.id);
      const { type, id, ...answer } = data;
      resolve?.(answer);
      return;
    }
    if (data.type === 'ready') {
      this.ready = true;
      for (const resolve of this.readyWaiters.splice(0)) resolve();
      performance.mark('tonvarel-engine-ready');
      document.body.dataset.engine = 'ready';
      this.onChange();
    } else if (data.type === 'failed') {
      this.fail(`the engine did not start: ${data.text}`);
    }
    this.onMessage(data);
  }

  fail(why) {
    console.warn(`sound: ${why}`);
    this.failed = true;
    this.ready = false;
    delete document.body.dataset.engine;
    if (this.node) {
      this.node.port.onmessage = null;
      this.node.disconnect();
      this.node = null;
    }
    for (const resolve of this.replies.values()) resolve(null);
    this.replies.clear();
    this.onChange();
  }

  // Inside every gesture's handler: browsers start or resume sound only from there. With the
  // sound running this does nothing, so that a press reaches the worklet without delay.
  gesture() {
    if (this.gestured && this.context?.state === 'running' && !this.failed) return;
    this.gestured = true;
    if (this.context === null) {
      this.open();
    } else if (this.context.state !== 'running' && this.context.state !== 'closed' &&
               navigator.userActivation?.isActive !== false) {
      // Asked again at every gesture until it runs. A touch's press is not yet a gesture (its end
      // is): a resume asked for then is refused, and in some browsers never settles.
      this.resuming++;
      this.context.resume().catch((error) => console.info('the sound did not resume:', error))
          .finally(() => {
            this.resuming--;
            this.onChange();
          });
    }
    if (this.failed && this.context) {
      this.failed = false;
      this.attempt++;
      this.load();
      this.onChange({ restarted: true });
    }
    // The notice after the handlers, so that the press this gesture may carry goes out first.
    setTimeout(() => this.onChange());
  }

  send(event, time, transfer = []) {
    // Bounded as the worklet's log is: a long session stops noting rather than grow without end.
    if (this.sent.length < SENT_LIMIT) this.sent.push({ type: event.type, time });
    if (this.node) this.node.port.postMessage(event, transfer);
    else this.outbox.push([event, transfer]);
  }

  // A question for the worklet, answered from its port's handler; null when there is no node
  // (or it failed before answering).
  ask(type, extra = {}, transfer = []) {
    if (!this.node) return Promise.resolve(null);
    const id = this.nextId++;
    return new Promise((resolve) => {
      this.replies.set(id, resolve);
      this.node.port.postMessage({ type, id, ...extra }, transfer);
    });
  }

  // Resolves once an engine runs in the worklet (at once if one does).
  whenReady() {
    if (this.ready) return Promise.resolve();
    return new Promise((resolve) => this.readyWaiters.push(resolve));
  }

  // What #hint says: null, or start, suspended, worklet, rate.
  // While a resume is under way the notice stays as it was.
  reason() {
    const state = this.context?.state;
    let reason = null;
    if (this.failed) {
      reason = 'worklet';
    } else if (state !== 'running') {
      reason = this.resuming ? this.shown : this.gestured ? 'suspended' : 'start';
    } else if (this.context.sampleRate !== RATE) {
      reason = 'rate';
    }
    this.shown = reason;
    return reason;
  }
}
