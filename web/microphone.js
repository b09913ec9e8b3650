// A voice of your own: up to five seconds from the microphone, with a level meter and a stop,
// made into a tone table by the page's own module instance (the loop of whole periods tuned to
// 440 Hz that `tonvarel-voice` makes), and then loaded as a WAV file is: the worklet's log
// records a load of those bytes, so the performance replays. The capture runs in a worklet of
// its own (capture.js) in the sound's context, whose rate the recording is made at.
import { makeVoice } from './recording.js';

const SECONDS = 5;
const FLOOR_DB = -60;  // the level meter's empty end

const $ = (id) => document.getElementById(id);

function stamp(now) {
  const two = (n) => String(n).padStart(2, '0');
  return `${two(now.getHours())}:${two(now.getMinutes())}`;
}

// Why the microphone cannot be had, as a key of the texts' `micProblems`; null when it can.
function unavailable() {
  if (!window.isSecureContext) return 'insecure';
  if (!navigator.mediaDevices?.getUserMedia || !window.AudioWorkletNode) return 'unsupported';
  return null;
}

function problemOf(error) {
  if (error?.name === 'NotAllowedError' || error?.name === 'SecurityError') return 'refused';
  if (error?.name === 'NotFoundError' || error?.name === 'OverconstrainedError') return 'missing';
  return 'failed';
}

export class Microphone {
  // context(): the sound's AudioContext (null until it exists); module: the page's instance;
  // voice(bytes, name): a made voice, to be loaded; say(text): a message box.
  constructor({ t, context, module, voice, say }) {
    Object.assign(this, { t, context, module, voice, say });
    this.busy = false;
    this.captureLoaded = false;
    const dialog = $('mic');
    $('mic-caption').textContent = t.micCaption;
    $('mic-text').textContent = t.micText;
    $('mic-stop').textContent = t.micStop;
    $('mic-stop').addEventListener('click', () => this.finish?.(true));
    dialog.addEventListener('cancel', (e) => {  // Escape: the recording is dropped
      e.preventDefault();
      this.finish?.(false);
    });
  }

  async record() {
    if (this.busy) return;
    const problem = unavailable() ?? (this.context() ? null : 'failed');
    if (problem) {
      this.say(this.t.micProblems[problem]);
      return;
    }
    this.busy = true;
    let stream = null;
    try {
      stream = await navigator.mediaDevices.getUserMedia({
        audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
      });
      const samples = await this.capture(stream);
      if (samples) this.make(samples, this.context().sampleRate);
    } catch (error) {
      console.info('the microphone:', error);
      this.say(this.t.micProblems[problemOf(error)]);
    } finally {
      stream?.getTracks().forEach((track) => track.stop());
      this.busy = false;
    }
  }

  // Records until the stop, Escape or five seconds; the samples, or null when dropped.
  async capture(stream) {
    const context = this.context();
    if (!this.captureLoaded) {
      await context.audioWorklet.addModule('capture.js');
      this.captureLoaded = true;
    }
    const source = context.createMediaStreamSource(stream);
    const analyser = new AnalyserNode(context, { fftSize: 2048 });
    const node = new AudioWorkletNode(context, 'tonvarel-capture', {
      numberOfInputs: 1, numberOfOutputs: 1, outputChannelCount: [1],
      processorOptions: { frames: Math.ceil(SECONDS * context.sampleRate) },
    });
    source.connect(analyser);
    source.connect(node);
    node.connect(context.destination);  // silent, but pulled every quantum in every browser
    const dialog = $('mic');
    dialog.showModal();
    const started = context.currentTime;
    const level = new Float32Array(analyser.fftSize);
    let frame = 0;
    const show = () => {
      analyser.getFloatTimeDomainData(level);
      let peak = 0;
      for (const v of level) peak = Math.max(peak, Math.abs(v));
      const db = peak > 0 ? 20 * Math.log10(peak) : FLOOR_DB;
      $('mic-fill').style.width = `${Math.max(0, Math.min(100, 100 * (1 - db / FLOOR_DB)))}%`;
      const seconds = Math.min(SECONDS, context.currentTime - started);
      $('mic-time').textContent = `${seconds.toFixed(1)} / ${SECONDS.toFixed(1)} ${this.t.seconds}`;
      if (seconds >= SECONDS) this.finish(true);
      else frame = requestAnimationFrame(show);
    };
    show();
    const keep = await new Promise((resolve) => { this.finish = resolve; });
    this.finish = null;
    cancelAnimationFrame(frame);
    dialog.close();
    const samples = await new Promise((resolve) => {
      node.port.onmessage = (e) => resolve(e.data);
      node.port.postMessage('stop');
    });
    source.disconnect();
    node.disconnect();
    return keep ? samples : null;
  }

  // The module makes the loop; made, it is loaded as the voice "voice 14:05".
  make(samples, rate) {
    const { bytes, status } = makeVoice(this.module, samples, rate);
    if (bytes) this.voice(bytes, `${this.t.voiceName} ${stamp(new Date())}`);
    else this.say(this.t.micStatus[status] ?? this.t.micStatus.other);
  }
}
