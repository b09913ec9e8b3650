// A stand-in for Web MIDI, for the browser tests only: injected before the page's scripts run
// (a preload script), it answers navigator.requestMIDIAccess as a browser with MIDI devices does,
// so that the page's MIDI is driven through the calls a real device reaches. The test plays through
// window.__midi:
//   play(bytes, input = 0)   a midimessage event with `data` and `timeStamp` on an input, heard by
//                            onmidimessage and by listeners added with addEventListener
//   unplug(kind, i), plug(kind, name)   a device going or coming, with a statechange
//   sent                     what outputs were sent: { output, data, time }
//   asked                    how often access was asked for
// `answer` is 'grant', 'refuse' (a NotAllowedError) or 'absent' (no Web MIDI at all).
export function MIDI_STAND_IN({ answer, inputs = [], outputs = [] }) {
  if (answer === 'absent') {
    delete Navigator.prototype.requestMIDIAccess;
    return;
  }
  class Port extends EventTarget {
    constructor(type, name) {
      super();
      Object.assign(this, { type, name, id: `${type}-${name}`, manufacturer: 'Test',
                            state: 'connected', onstatechange: null });
    }
  }
  class Input extends Port {
    constructor(name) {
      super('input', name);
      this.onmidimessage = null;
    }

    deliver(bytes) {
      const event = new Event('midimessage');
      Object.defineProperty(event, 'data', { value: new Uint8Array(bytes) });
      Object.defineProperty(event, 'timeStamp', { value: performance.now() });
      this.onmidimessage?.call(this, event);
      this.dispatchEvent(event);
    }
  }
  class Output extends Port {
    constructor(name) { super('output', name); }

    send(data) {
      if (this.state !== 'connected') throw new DOMException('gone', 'InvalidStateError');
      midi.sent.push({ output: this.name, data: [...data], time: performance.now() });
    }
  }
  class Access extends EventTarget {
    constructor() {
      super();
      this.inputs = new Map();
      this.outputs = new Map();
      this.sysexEnabled = false;
      this.onstatechange = null;
    }

    change(port) {
      const event = new Event('statechange');
      event.port = port;
      this.onstatechange?.call(this, event);
      this.dispatchEvent(event);
    }
  }
  const access = new Access();
  const add = (kind, name) => {
    const port = kind === 'inputs' ? new Input(name) : new Output(name);
    access[kind].set(port.id, port);
    return port;
  };
  for (const name of inputs) add('inputs', name);
  for (const name of outputs) add('outputs', name);
  const midi = window.__midi = {
    sent: [],
    asked: 0,
    play: (bytes, i = 0) => [...access.inputs.values()][i].deliver(bytes),
    unplug: (kind, i) => {
      const port = [...access[kind].values()][i];
      port.state = 'disconnected';
      access[kind].delete(port.id);
      access.change(port);
    },
    plug: (kind, name) => access.change(add(kind, name)),
  };
  Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
    configurable: true,
    value: () => {
      midi.asked++;
      return answer === 'grant' ? Promise.resolve(access)
          : Promise.reject(new DOMException('MIDI was not allowed', 'NotAllowedError'));
    },
  });
}
