// A short square burst from the first process() after each message, reporting where it starts.
class Floor extends AudioWorkletProcessor {
  constructor() {
    super();
    this.pending = false;
    this.left = 0;  // frames of the burst still to play
    this.port.onmessage = () => { this.pending = true; };
  }

  process(inputs, outputs) {
    const out = outputs[0][0];
    if (this.pending) {
      this.pending = false;
      this.left = 4410;
      this.port.postMessage(currentFrame);
    }
    for (let i = 0; i < out.length; i++) {
      out[i] = this.left > 0 ? ((this.left-- >> 5) & 1 ? 0.1 : -0.1) : 0;
    }
    return true;
  }
}

registerProcessor('floor', Floor);
