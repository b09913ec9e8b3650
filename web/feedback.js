// What the player sees besides the pad: the note being played, the voice and its waveform, the
// take's meter in the bar and, once it closed, what the take played. Every readout keeps its size.
import { drawTake, drawWave } from './contour.js';
import { noteOf, signed } from './texts.js';

const RATE = 44100;
const TAKE_SECONDS = 60;

const $ = (id) => document.getElementById(id);

export class Feedback {
  constructor(t, pitchFor, depthFor) {
    this.t = t;
    this.pitchFor = pitchFor;  // the module's pitch for a row (offset), under the snap setting
    this.depthFor = depthFor;  // the module's vibrato depth for a column (offset)
    this.take = { recording: false, length: 0, wrapped: false, playing: false };
    this.voiceWave = new Float32Array(0);
    this.takeDrawing = { wave: new Float32Array(0), contour: new Float32Array(0) };
    this.scale = { mask: 0xfff, key: 0 };
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

  // The closed take: its pitch over time and its loudness, as the worklet kept them.
  showTakeWave({ wave, samples, contour }) {
    this.takeDrawing = { wave, contour };
    $('take-length').textContent = samples > 0 ? `${(samples / RATE).toFixed(1)} ${this.t.seconds}`
                                               : this.t.noTake;
    drawTake($('take-wave'), this.takeDrawing, this.scale);
  }

  // The scale the take's note grid stresses, as the pad's guides do.
  setScale(mask, key) {
    this.scale = { mask, key };
    drawTake($('take-wave'), this.takeDrawing, this.scale);
  }

  // After a resize or a change of colours.
  redraw() {
    drawWave($('voice-wave'), this.voiceWave);
    drawTake($('take-wave'), this.takeDrawing, this.scale);
  }
}
