// Input: mouse, touch and keys on the pad become the window's mouse messages (move, ldown, lup,
// rdown, rup) at client coordinates. Whatever is held when the page loses the player (hidden,
// blurred, a cancelled pointer) ends as a release would, so that no note sticks.

const KEY_HOME = { x: 128, y: 192 };  // pad offset (64, 128): A4 (440 Hz), no vibrato yet
const KEY_COLUMNS = 16;  // Left and Right move this many columns

function accepted({ x, y }) {
  return x > 64 && x < 320 && y > 64 && y < 320;
}

export class Input {
  // rows: the client rows Up and Down step through, top to bottom; send(event, domEvent): posts
  // one event; changed(): what is held or where changed; keyOn(at): a key went on at an
  // accepted position.
  constructor({ canvas, pad, rows, send, gesture, changed, keyOn }) {
    Object.assign(this, { canvas, pad, rows, send, gesture, changed, keyOn });
    this.position = null;  // the last client position given, by any means
    this.played = null;  // the last position inside the pad: what the engine was given
    this.left = new Set();  // who holds the left button: 'mouse', 'touch', 'key'
    this.right = new Set();
    this.sounding = false;  // the key is on: an accepted press not yet released
    // The buttons as the engine last heard of them: a release outside the pad is not seen, so
    // these can stay held after every source let go.
    this.heldLeft = false;
    this.heldRight = false;
    this.leftFinger = null;
    this.rightFingers = new Set();
    this.keyboard = false;  // the pad was last played with keys: show where they play
  }

  emit(type, at, e) {
    this.position = at;
    if ((type === 'move' || type === 'ldown') && accepted(at)) this.played = at;
    this.send({ type, x: at.x, y: at.y }, e);
    if (type === 'ldown') {
      this.heldLeft = true;
      this.sounding = accepted(at);
      if (this.sounding) this.keyOn(at);
    } else if (type === 'lup') {
      this.heldLeft = false;
      this.sounding = false;
    } else if (type === 'rdown' || type === 'rup') {
      this.heldRight = type === 'rdown';
    }
    this.changed();
  }

  listen() {
    const c = this.canvas;
    for (const type of ['pointerdown', 'pointermove', 'pointerup', 'pointercancel']) {
      c.addEventListener(type, (e) => {
        if (e.pointerType === 'touch') return;  // handled on the document
        if (type === 'pointerdown') {
          // The primary button's default focuses the pad (not as a keyboard focus); the others'
          // would scroll or show a menu.
          if (e.button !== 0) e.preventDefault();
          this.keyboard = false;
          this.gesture();
        }
        this.mouse(e);
      });
      document.addEventListener(type, (e) => {
        if (e.pointerType !== 'touch') return;
        if (type === 'pointerdown' && e.target === c) {
          this.gesture();
          if (c.hasPointerCapture(e.pointerId)) c.releasePointerCapture(e.pointerId);
        }
        this.touch(e);
      });
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
  // not captured: as in the window, a release outside the pad is not seen.
  mouse(e) {
    const at = this.pad.toClient(e.clientX, e.clientY);
    if (e.type === 'pointercancel') {
      if (this.left.delete('mouse')) this.emit('lup', at, e);
      if (this.right.delete('mouse')) this.emit('rup', at, e);
    } else if (e.button === -1) {
      if (e.type === 'pointermove') this.emit('move', at, e);
    } else if (e.button === 0) {
      const down = (e.buttons & 1) !== 0;
      if (down) this.left.add('mouse');
      else this.left.delete('mouse');
      this.emit(down ? 'ldown' : 'lup', at, e);
    } else if (e.button === 2) {
      const down = (e.buttons & 2) !== 0;
      if (down) this.right.add('mouse');
      else this.right.delete('mouse');
      this.emit(down ? 'rdown' : 'rup', at, e);
    }
  }

  // Touch: the first finger on the pad is the left button; any further finger, anywhere on the
  // page, holds the right button while it stays down. No finger is captured: like the window,
  // the pad does not see a release outside it. A cancelled finger is released wherever it is.
  touch(e) {
    const onPad = e.target === this.canvas;
    const at = this.pad.toClient(e.clientX, e.clientY);
    const cancel = e.type === 'pointercancel';
    if (e.type === 'pointerdown') {
      if (this.leftFinger === null && onPad) {
        this.leftFinger = e.pointerId;
        this.left.add('touch');
        this.emit('ldown', at, e);
      } else if (this.leftFinger !== null || this.rightFingers.size > 0) {
        this.rightFingers.add(e.pointerId);
        this.right.add('touch');
        if (this.rightFingers.size === 1) this.emit('rdown', at, e);
      }
    } else if (e.type === 'pointermove') {
      if (e.pointerId === this.leftFinger && onPad) this.emit('move', at, e);
    } else if (e.pointerId === this.leftFinger) {
      this.leftFinger = null;
      this.left.delete('touch');
      if (onPad || cancel) this.emit('lup', cancel ? this.position : at, e);
    } else if (this.rightFingers.delete(e.pointerId) && this.rightFingers.size === 0) {
      this.right.delete('touch');
      this.emit('rup', cancel ? this.position : at, e);
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
      this.emit('move', { x: at.x, y: row ?? at.y }, e);
    } else if (e.key === 'ArrowLeft' || e.key === 'ArrowRight') {
      const step = e.key === 'ArrowLeft' ? -KEY_COLUMNS : KEY_COLUMNS;
      this.emit('move', { x: Math.min(319, Math.max(65, at.x + step)), y: at.y }, e);
    } else if (e.key === ' ') {
      if (!e.repeat && !this.left.has('key')) {
        this.gesture();
        this.left.add('key');
        this.emit('ldown', at, e);
      }
    } else if (e.key === 'Shift') {
      if (!e.repeat && !this.right.has('key')) {
        this.right.add('key');
        this.emit('rdown', at, e);
      }
      return;  // Shift stays free for the page's own uses
    } else {
      return;
    }
    e.preventDefault();
  }

  keyUp(e) {
    if (e.key === ' ' && this.left.delete('key')) this.emit('lup', this.keyPosition(), e);
    if (e.key === 'Shift' && this.right.delete('key')) this.emit('rup', this.keyPosition(), e);
  }

  // Where the keys play: the last position, once it is inside the pad.
  keyPosition() {
    return this.position && accepted(this.position) ? this.position : KEY_HOME;
  }

  releaseKeys(e) {
    if (this.left.delete('key')) this.emit('lup', this.keyPosition(), e);
    if (this.right.delete('key')) this.emit('rup', this.keyPosition(), e);
  }

  // Ends whatever the engine holds, as releases would.
  releaseAll(e) {
    const at = this.position ?? KEY_HOME;
    const [left, right] = [this.heldLeft, this.heldRight];
    this.forget();
    if (left) this.emit('lup', at, e);
    if (right) this.emit('rup', at, e);
  }

  // Nothing held any more (also after the engine restarted: the new one holds nothing).
  forget() {
    this.left.clear();
    this.right.clear();
    this.leftFinger = null;
    this.rightFingers.clear();
    this.heldLeft = false;
    this.heldRight = false;
    this.sounding = false;
    this.changed();
  }

  // Where the keys would play, for the pad's dashed ring while it has focus.
  cursor() {
    const shown = this.keyboard || this.canvas.matches(':focus-visible');
    return document.activeElement === this.canvas && shown && !this.sounding
        ? this.keyPosition() : null;
  }
}
