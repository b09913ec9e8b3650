// What the player sees besides the pad: the note being played, the voice and its waveform, the
// take's meter in the bar and, once it closed, what the take played. Every readout keeps its size.
import { drawTake, drawWave } from './contour.js';
import { chordText, noteOf, signed } from './texts.js';

const RATE = 44100;
const TAKE_SECONDS = 60;
const PITCH_AT_ONE = 56320;  // Hz: the pad's pitch at row offset y is this over y
const NO_VIBRATO = 32;  // the middle of the pad's left quarter, where the vibrato is none
const VIBRATO_COLUMNS = 500;  // the depth grows by 1 over this many columns past offset 64

const $ = (id) => document.getElementById(id);

// Where a voice that no pointer plays is shown on the pad (a MIDI note's): at the row of its pitch
// on the pad's reciprocal scale (the row of its semitone's guide; the edge past the pad's range),
// in the column that gives its vibrato.
export function placeOf(hz, depth) {
  const row = Math.min(255, Math.max(1, Math.floor(PITCH_AT_ONE / hz)));
  const column = depth > 0 ? Math.min(255, 64 + Math.round(depth * VIBRATO_COLUMNS)) : NO_VIBRATO;
  return { x: 64 + column, y: 64 + row };
}

export class Feedback {
  constructor(t, { pitchFor, depthFor, chordOf }) {
    this.t = t;
    this.pitchFor = pitchFor;  // the module's pitch for a row (offset), under the snap setting
    this.depthFor = depthFor;  // the module's vibrato depth for a column (offset)
    this.chordOf = chordOf;  // the module's name for MIDI notes sounding together
    this.flats = false;  // the chosen key names black keys with flats
    this.shown = [];  // the positions the readout last named, kept greyed once they stop
    this.take = { recording: false, length: 0, wrapped: false, playing: false };
    this.voiceWave = new Float32Array(0);
    this.takeDrawing = { wave: new Float32Array(0), contour: new Float32Array(0), voices: 1 };
    this.scale = { mask: 0xfff, key: 0, flats: false };
    $('vibrato-label').textContent = t.vibrato;
    $('voice-label').textContent = t.voice;
    $('take-label').textContent = t.take;
    $('take-length').textContent = t.noTake;
    $('voice-name').textContent = t.builtInName;
    this.showTake(this.take);
  }

  // What a sound plays: note, offset in cents, pitch and vibrato, as text. A sound is where it
  // plays on the pad ({ at }), and for a MIDI note its pitch and depth as the engine has them.
  describe({ at, hz = this.pitchFor(at.y - 64), depth = this.depthFor(at.x - 64) }) {
    const { midi, name, cents } = noteOf(hz, this.flats);
    const vibrato = depth === 0 ? this.t.none : `±${Math.round(depth * 250)} %`;
    return { hz, midi, name, cents: `${signed(cents)} ¢`, pitch: `${hz.toFixed(1)} Hz`, vibrato };
  }

  // Sounds played together, lowest pitch first, and what they make.
  chord(sounds) {
    const notes = sounds.map((sound) => this.describe(sound)).sort((a, b) => a.hz - b.hz);
    const named = notes.length > 1 ? chordText(this.t, this.chordOf(notes.map((n) => n.midi)),
                                               this.flats) : null;
    return { notes, named };
  }

  // The readout names the notes while keys are on (one note with its cents, pitch and vibrato;
  // several lowest first, with their chord or interval), and keeps the last ones greyed after.
  showNotes(sounds, on) {
    if (sounds.length > 0) this.shown = sounds;
    if (this.shown.length === 0) return;
    const readout = $('readout');
    readout.dataset.on = String(on && sounds.length > 0);
    const { notes, named } = this.chord(this.shown);
    readout.dataset.count = notes.length > 1 ? 'many' : 'one';
    if (notes.length === 1) {
      const [d] = notes;
      $('note').textContent = d.name;
      $('cents').textContent = d.cents;
      $('hz').textContent = d.pitch;
      $('vibrato').textContent = d.vibrato;
      $('notes').textContent = '';
      $('chord').textContent = '';
    } else {
      $('note').textContent = named?.symbol ?? `♫${notes.length}`;
      $('notes').textContent = notes.map((n) => n.name).join(' ');
      $('chord').textContent = named?.name ?? this.t.notesPlayed(notes.length);
    }
  }

  // What the live region says as a key goes on: one note as before; several as their chord
  // ("C major: C4 E4 G4") or their count, then the notes.
  spoken(sounds) {
    const { notes, named } = this.chord(sounds);
    if (notes.length === 1) {
      const [d] = notes;
      const cents = d.cents.replace('¢', this.t.cents);
      return `${d.name} ${cents}, ${d.pitch}, ${this.t.vibrato} ${d.vibrato}`;
    }
    const names = notes.map((n) => n.name).join(' ');
    return `${named?.name ?? this.t.notesPlayed(notes.length)}: ${names}`;
  }

  // The name a marker carries: its note.
  label(sound) {
    return this.describe(sound).name;
  }

  showVoice({ name, builtIn, loaded, wave }) {
    if (builtIn) $('voice-name').textContent = this.t.builtInName;
    else if (loaded) $('voice-name').textContent = name;
    this.voiceWave = wave;
    drawWave($('voice-wave'), wave);
  }

  // The take as the worklet reported it: recording, length, wrapped, and whether its playback
  // plays (playing) and can (playback).
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
    // Playing follows the engine; with no room for the playback's copy there is none.
    play.disabled = status.playback === false || (status.length === 0 && !status.playing);
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
  showTakeWave({ wave, samples, contour, voices }) {
    this.takeDrawing = { wave, contour, voices };
    $('take-length').textContent = samples > 0 ? `${(samples / RATE).toFixed(1)} ${this.t.seconds}`
                                               : this.t.noTake;
    drawTake($('take-wave'), this.takeDrawing, this.scale);
  }

  // The scale the take's note grid stresses, as the pad's guides do, and how its key spells.
  setScale(mask, key, flats) {
    this.scale = { mask, key, flats };
    this.flats = flats;
    drawTake($('take-wave'), this.takeDrawing, this.scale);
  }

  // After a resize or a change of colours.
  redraw() {
    drawWave($('voice-wave'), this.voiceWave);
    drawTake($('take-wave'), this.takeDrawing, this.scale);
  }
}
