// The microphone, for a voice of your own: the first channel of what reaches this node, kept in
// storage taken once, up to the length asked for. Asked for it, the node hands the recording over
// and stops.
class Capture extends AudioWorkletProcessor {
  constructor(options) {
    super();
    this.samples = new Float32Array(options.processorOptions.frames);
    this.length = 0;
    this.done = false;
    this.port.onmessage = () => {
      const recording = this.samples.slice(0, this.length);
      this.port.postMessage(recording, [recording.buffer]);
      this.done = true;
    };
  }

  process(inputs) {
    const channel = inputs[0]?.[0];
    if (channel) {
      const count = Math.min(channel.length, this.samples.length - this.length);
      for (let i = 0; i < count; i++) this.samples[this.length + i] = channel[i];
      this.length += count;
    }
    return !this.done;
  }
}

registerProcessor('tonvarel-capture', Capture);
