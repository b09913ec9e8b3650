// What the player sees besides the pad: the note being played, the voice and its waveform, the
// take's meter in the bar and the take's waveform once it closed. Every readout keeps its size.
import { noteOf, signed } from './texts.js';

const RATE = 44100;
const TAKE_SECONDS = 60;

const $ = (id) => document.getElementById(id);

// Column-wise minimum and maximum pairs, drawn as bars scaled to their own peak.
export function drawWave(canvas, wave) {
  const ratio = window.devicePixelRatio || 1;
  const w = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const h = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== w || canvas.height !== h) {
    canvas.width = w;
    canvas.height = h;
  }
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, w, h);
  const ink = getComputedStyle(document.documentElement).getPropertyValue('--accent').trim();
  g.fillStyle = ink;
  const columns = wave.length / 2;
  let peak = 0;
  for (const v of wave) peak = Math.max(peak, Math.abs(v));
  const middle = h / 2;
  if (columns === 0 || peak === 0) {
    g.globalAlpha = 0.4;
    g.fillRect(0, Math.floor(middle), w, Math.max(1, Math.round(ratio)));
    g.globalAlpha = 1;
    return;
  }
  const reach = 0.8 * (h / 2 - ratio) / peak;
  g.globalAlpha = 0.6;
  for (let x = 0; x < w; x++) {
    const c = Math.min(columns - 1, Math.floor(x * columns / w));
    const top = middle - wave[2 * c + 1] * reach;
    const bottom = middle - wave[2 * c] * reach;
    g.fillRect(x, top, 1, Math.max(ratio, bottom - top));
  }
  g.globalAlpha = 1;
}

export class Feedback {
  constructor(t, pitchFor, depthFor) {
    this.t = t;
    this.pitchFor = pitchFor;  // the module's pitch for a row (offset), under the snap setting
    this.depthFor = depthFor;  // the module's vibrato depth for a column (offset)
    this.take = { recording: false, length: 0, wrapped: false, playing: false };
    this.voiceWave = new Float32Array(0);
    this.takeWave = new Float32Array(0);
    $('vibrato-label').textContent = t.vibrato;
    $('voice-label').textContent = t.voice;
    $('take-label').textContent = t.take;
    $('take-length').textContent = t.noTake;
    $('voice-name').textContent = t.builtInName;
    this.showTake(this.take);
  }

  // What a position plays: note, offset in cents, pitch and vibrato, as text.
  describe(at) {
    const hz = this.pitchFor(at.y - 64);
    const depth = this.depthFor(at.x - 64);
    const { name, cents } = noteOf(hz);
    const vibrato = depth === 0 ? this.t.none : `±${Math.round(depth * 250)} %`;
    return { name, cents: `${signed(cents)} ¢`, hz: `${hz.toFixed(1)} Hz`, vibrato };
  }

  // The readout shows the note while the key is on, and keeps the last one greyed after.
  showNote(at, on) {
    if (!at) return;
    $('readout').dataset.on = String(on);
    const d = this.describe(at);
    $('note').textContent = d.name;
    $('cents').textContent = d.cents;
    $('hz').textContent = d.hz;
    $('vibrato').textContent = d.vibrato;
  }

  spoken(at) {
    const d = this.describe(at);
    const cents = d.cents.replace('¢', this.t.cents);
    return `${d.name} ${cents}, ${d.hz}, ${this.t.vibrato} ${d.vibrato}`;
  }

  showVoice({ name, builtIn, loaded, wave }) {
    if (builtIn) $('voice-name').textContent = this.t.builtInName;
    else if (loaded) $('voice-name').textContent = name;
    this.voiceWave = wave;
    drawWave($('voice-wave'), wave);
  }

  // The take as the worklet reported it.
  showTake(status) {
    this.take = status;
    const seconds = status.length / RATE;
    const state = status.recording ? (status.wrapped ? 'wrapped' : 'open')
        : status.length > 0 ? 'closed' : 'none';
    const take = $('take');
    if (take.dataset.state !== state) take.dataset.state = state;
    const text = `${status.wrapped ? '⟲ ' : ''}${seconds.toFixed(1)} ${this.t.seconds}`;
    if ($('take-time').textContent !== text) $('take-time').textContent = text;
    $('take-fill').style.width = `${Math.min(100, 100 * seconds / TAKE_SECONDS)}%`;
    take.title = `${this.t.take}: ${text} / ${TAKE_SECONDS} ${this.t.seconds}` +
                 (status.wrapped ? ` (${this.t.wrapped})` : '');
    const play = $('cmd-play');
    play.disabled = status.length === 0 && !status.playing;
    if (play.classList.contains('playing') !== status.playing) {
      play.classList.toggle('playing', status.playing);
      this.labelPlay(status.playing);
    }
  }

  labelPlay(playing) {
    const play = $('cmd-play');
    play.querySelector('.long').textContent = playing ? this.t.stop : this.t.play;
    play.querySelector('.short').textContent = playing ? this.t.short.stop : this.t.short.play;
  }

  showTakeWave({ wave, samples }) {
    this.takeWave = wave;
    $('take-length').textContent = samples > 0 ? `${(samples / RATE).toFixed(1)} ${this.t.seconds}`
                                               : this.t.noTake;
    drawWave($('take-wave'), wave);
  }

  // After a resize or a change of colours.
  redraw() {
    drawWave($('voice-wave'), this.voiceWave);
    drawWave($('take-wave'), this.takeWave);
  }
}
