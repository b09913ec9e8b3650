// Input: mouse, touch and keys on the pad become the window's mouse messages (move, ldown, lup,
// rdown, rup) at client coordinates, the left button's addressed to one of the engine's ten
// voices. The mouse and the keys play voice 0, as the window's one voice; every finger that lands
// on the pad takes the lowest voice no one holds (nor a MIDI note), and keeps it until it lifts. A
// voice sounds while any of its sources holds it, so the mouse and Space never cut each other off.
//
// A pointer that pressed the pad is captured: its release ends its voice wherever it happens, over
// a control, outside the page or under a dialog that opened meanwhile (the page's client area is
// the whole page, and a phone has no outside). Whatever is held when the page loses the player
// (hidden, blurred, a cancelled or lost pointer) ends as a release would, so that no note sticks.

const KEY_HOME = { x: 128, y: 192 };  // pad offset (64, 128): A4 (440 Hz), no vibrato yet
const KEY_COLUMNS = 16;  // Left and Right move this many columns
export const VOICES = 10;  // as the engine has
const CONTROLS = 'button, select, input, a, dialog, .menu';

function accepted({ x, y }) {
  return x > 64 && x < 320 && y > 64 && y < 320;
}

export class Input {
  // rows: the client rows Up and Down step through, top to bottom; send(event, domEvent): posts
  // one event; changed(): what is held or where changed; keyOn(voice, at): a key went on at an
  // accepted position; noteVoices(): the voices MIDI notes hold, bit k for voice k.
  constructor({ canvas, pad, rows, send, gesture, changed, keyOn, noteVoices = () => 0 }) {
    Object.assign(this, { canvas, pad, rows, send, gesture, changed, keyOn, noteVoices });
    this.position = null;  // the last client position given, by any means: where keys play from
    // Per voice: who holds it ('mouse', 'key', a finger's pointerId), where it last played
    // inside the pad, and whether its key is on (an accepted press not yet released).
    this.voices = Array.from({ length: VOICES }, () => ({ holders: new Set(), at: null,
                                                          sounding: false }));
    this.fingers = new Map();  // pointerId of a finger on the pad -> its voice
    this.right = new Set();  // who holds the right button: 'mouse', 'key', fingers off the pad
    this.keyboard = false;  // the pad was last played with keys: show where they play
  }

  emit(type, voice, at, e) {
    this.position = at;
    const event = { type, x: at.x, y: at.y };
    if (voice !== null) event.voice = voice;
    this.send(event, e);
    const v = this.voices[voice ?? 0];
    if ((type === 'move' || type === 'ldown') && accepted(at)) v.at = at;
    if (type === 'ldown') {
      // A press off the pad holds the voice but leaves its gate as it was.
      if (accepted(at)) {
        v.sounding = true;
        this.keyOn(voice, at);
      }
    } else if (type === 'lup') {
      v.sounding = false;
    }
    this.changed();
  }

  // A source takes hold of a voice: every press is a press, even of a voice another source holds.
  press(source, voice, at, e) {
    this.voices[voice].holders.add(source);
    this.emit('ldown', voice, at, e);
  }

  // The voice goes off once its last source lets go.
  release(source, voice, at, e) {
    const { holders } = this.voices[voice];
    if (holders.delete(source) && holders.size === 0) this.emit('lup', voice, at, e);
  }

  holdRight(source, at, e) {
    if (this.right.has(source)) return;
    this.right.add(source);
    if (this.right.size === 1) this.emit('rdown', null, at, e);
  }

  letGoRight(source, at, e) {
    if (this.right.delete(source) && this.right.size === 0) this.emit('rup', null, at, e);
  }

  // The lowest voice no one holds, for a finger; null when all ten are held. A voice a MIDI note
  // holds ignores pointers until the note ends.
  freeVoice() {
    const notes = this.noteVoices();
    const k = this.voices.findIndex((v, voice) => v.holders.size === 0 && !((notes >> voice) & 1));
    return k < 0 ? null : k;
  }

  listen() {
    const c = this.canvas;
    // Presses and moves come from the pad, where a pressing pointer is captured; every end is
    // heard on the window, in its capture phase, wherever it happens.
    c.addEventListener('pointerdown', (e) => {
      if (e.pointerType === 'touch') return;  // handled on the document
      // The primary button's default focuses the pad (not as a keyboard focus); the others'
      // would scroll or show a menu.
      if (e.button !== 0) e.preventDefault();
      c.setPointerCapture(e.pointerId);
      this.keyboard = false;
      this.gesture();
      this.mouse(e);
    });
    c.addEventListener('pointermove', (e) => {
      if (e.pointerType !== 'touch') this.mouse(e);
    });
    for (const type of ['pointerdown', 'pointermove']) {
      document.addEventListener(type, (e) => {
        if (e.pointerType !== 'touch') return;
        if (type === 'pointerdown' && e.target === c) {
          this.gesture();
          c.setPointerCapture(e.pointerId);  // implicit for touch in most browsers; made sure
        }
        this.touch(e);
      });
    }
    for (const type of ['pointerup', 'pointercancel', 'lostpointercapture']) {
      window.addEventListener(type, (e) => (e.pointerType === 'touch' ? this.touch(e)
                                                                        : this.mouse(e)), true);
    }
    c.addEventListener('contextmenu', (e) => e.preventDefault());
    c.addEventListener('keydown', (e) => this.keyDown(e));
    c.addEventListener('keyup', (e) => this.keyUp(e));
    c.addEventListener('focus', () => this.changed());
    c.addEventListener('blur', (e) => {
      this.releaseKeys(e);
      this.changed();
    });
    window.addEventListener('blur', (e) => this.releaseAll(e));
    document.addEventListener('visibilitychange', (e) => {
      if (document.hidden) this.releaseAll(e);
    });
  }

  // Mouse and pen: the primary button is the left button, the secondary the right. A second
  // button pressed while one is held arrives as a pointermove with `button` set. The pointer is
  // captured from its press, and its release is heard wherever it happens; a pointer cancelled,
  // or whose capture is lost before its release, lets go of everything it held.
  mouse(e) {
    const ending = e.type === 'pointerup' || e.type === 'pointercancel' ||
                   e.type === 'lostpointercapture';
    const holds = this.voices[0].holders.has('mouse') || this.right.has('mouse');
    if (ending && !holds) return;  // a click elsewhere on the page
    const at = this.pad.toClient(e.clientX, e.clientY);
    if (e.type === 'pointercancel' || e.type === 'lostpointercapture') {
      const last = this.voices[0].at ?? this.position ?? KEY_HOME;
      this.release('mouse', 0, last, e);
      this.letGoRight('mouse', last, e);
      return;
    }
    if (e.button === -1) {
      if (e.type === 'pointermove') this.emit('move', 0, at, e);
    } else if (e.button === 0) {
      if ((e.buttons & 1) !== 0) this.press('mouse', 0, at, e);
      else this.release('mouse', 0, at, e);
    } else if (e.button === 2) {
      if ((e.buttons & 2) !== 0) this.holdRight('mouse', at, e);
      else this.letGoRight('mouse', at, e);
    }
  }

  // Touch: every finger that lands on the pad takes the lowest free voice (an eleventh is
  // ignored) and, captured by the pad, plays it wherever it moves until it lifts or is
  // cancelled. A finger that lands elsewhere on the page, but not on a control, holds the take
  // open as the right button does.
  touch(e) {
    const id = e.pointerId;
    const at = this.pad.toClient(e.clientX, e.clientY);
    const voice = this.fingers.get(id);
    if (e.type === 'pointerdown') {
      if (e.target === this.canvas) {
        const free = this.freeVoice();
        if (free === null) return;
        this.fingers.set(id, free);
        this.press(id, free, at, e);
      } else if (!e.target.closest?.(CONTROLS)) {
        this.holdRight(id, at, e);
      }
    } else if (e.type === 'pointermove') {
      if (voice !== undefined) this.emit('move', voice, at, e);
    } else if (voice !== undefined) {
      // up, cancelled, or its capture lost: a cancelled finger lets go where it last played
      this.fingers.delete(id);
      this.release(id, voice, e.type === 'pointerup' ? at : this.voices[voice].at ?? at, e);
    } else {
      this.letGoRight(id, at, e);
    }
  }

  // Keys, while the pad has focus: arrows move by semitone rows and 16-column steps, Space holds
  // the left button, Shift the right. A key's repeats send nothing more.
  keyDown(e) {
    if (e.altKey || e.ctrlKey || e.metaKey) return;
    this.keyboard = true;
    const at = this.keyPosition();
    if (e.key === 'ArrowUp' || e.key === 'ArrowDown') {
      const up = e.key === 'ArrowUp';
      const row = up ? this.rows.findLast((r) => r < at.y) : this.rows.find((r) => r > at.y);
      this.emit('move', 0, { x: at.x, y: row ?? at.y }, e);
    } else if (e.key === 'ArrowLeft' || e.key === 'ArrowRight') {
      const step = e.key === 'ArrowLeft' ? -KEY_COLUMNS : KEY_COLUMNS;
      this.emit('move', 0, { x: Math.min(319, Math.max(65, at.x + step)), y: at.y }, e);
    } else if (e.key === ' ') {
      if (!e.repeat && !this.voices[0].holders.has('key')) {
        this.gesture();
        this.press('key', 0, at, e);
      }
    } else if (e.key === 'Shift') {
      if (!e.repeat) this.holdRight('key', at, e);
      return;  // Shift stays free for the page's own uses
    } else {
      return;
    }
    e.preventDefault();
  }

  keyUp(e) {
    if (e.key === ' ') this.release('key', 0, this.keyPosition(), e);
    if (e.key === 'Shift') this.letGoRight('key', this.keyPosition(), e);
  }

  // Where the keys play: the last position, once it is inside the pad.
  keyPosition() {
    return this.position && accepted(this.position) ? this.position : KEY_HOME;
  }

  releaseKeys(e) {
    this.release('key', 0, this.keyPosition(), e);
    this.letGoRight('key', this.keyPosition(), e);
  }

  // Ends whatever the engine holds, as releases would.
  releaseAll(e) {
    for (const [k, v] of this.voices.entries()) {
      if (v.holders.size === 0) continue;
      v.holders.clear();
      this.emit('lup', k, v.at ?? this.position ?? KEY_HOME, e);
    }
    this.fingers.clear();
    if (this.right.size > 0) {
      this.right.clear();
      this.emit('rup', null, this.position ?? KEY_HOME, e);
    }
  }

  // Nothing held any more (also after the engine restarted: the new one holds nothing).
  forget() {
    for (const v of this.voices) {
      v.holders.clear();
      v.sounding = false;
    }
    this.fingers.clear();
    this.right.clear();
    this.changed();
  }

  // The voices whose keys are on, with where they play, lowest voice first.
  sounding() {
    return this.voices.flatMap((v, voice) => (v.sounding ? [{ voice, at: v.at }] : []));
  }

  // Where the keys would play, for the pad's dashed ring while it has focus.
  cursor() {
    const shown = this.keyboard || this.canvas.matches(':focus-visible');
    return document.activeElement === this.canvas && shown && !this.voices[0].sounding
        ? this.keyPosition() : null;
  }
}
