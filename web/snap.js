// Snap: the toggle, the scale and key pickers beside it, and the setting they make. The pickers'
// choice is remembered across visits; snap itself starts off, as in the window. The page's own
// module instance follows the setting too, so that the readout names the note that sounds.

const STORED = 'tonvarel.scale';
export const SCALE_COUNT = 7;  // chromatic, major, minor, major and minor pentatonic, blues,
export const KEY_COUNT = 12;   // whole tone; keys C to B, numbered as the module numbers them

const $ = (id) => document.getElementById(id);

function remembered() {
  try {
    const { scale, key } = JSON.parse(localStorage.getItem(STORED));
    if (Number.isInteger(scale) && scale >= 0 && scale < SCALE_COUNT &&
        Number.isInteger(key) && key >= 0 && key < KEY_COUNT) return { scale, key };
  } catch {
    // nothing stored, storage refused, or not ours: the default
  }
  return { scale: 0, key: 0 };
}

export class Snap {
  // module: the page's instance; send(event, time) tells the worklet; shown() after any change.
  constructor({ t, module, send, shown }) {
    Object.assign(this, { module, send, shown });
    this.on = false;
    Object.assign(this, remembered());
    const fill = (select, names, label) => {
      select.replaceChildren(...names.map((name, i) => new Option(name, String(i))));
      select.setAttribute('aria-label', label);
      select.title = label;
    };
    fill($('snap-scale'), t.scales, t.scale);
    fill($('snap-key'), t.keys, t.key);
    $('snap-scale').value = String(this.scale);
    $('snap-key').value = String(this.key);
    for (const id of ['snap-scale', 'snap-key']) {
      $(id).addEventListener('change', (e) => this.pick(e));
    }
    this.module._tv_snap(-1, 0);
  }

  // The degrees of the chosen scale as a 12-bit mask, and its key: for the guides.
  get mask() { return this.module._tv_scale_mask(this.scale); }

  toggle(e) {
    this.on = !this.on;
    $('cmd-snap').setAttribute('aria-pressed', String(this.on));
    this.apply(e.timeStamp);
  }

  pick(e) {
    this.scale = Number($('snap-scale').value);
    this.key = Number($('snap-key').value);
    try {
      localStorage.setItem(STORED, JSON.stringify({ scale: this.scale, key: this.key }));
    } catch {
      // private browsing or storage full: remembered for this visit only
    }
    if (this.on) this.apply(e.timeStamp);
    else this.shown();
  }

  // The setting as the worklet's engine should have it (again, after a restart).
  event() {
    return { type: 'snap', scale: this.on ? this.scale : -1, key: this.key };
  }

  apply(time) {
    const event = this.event();
    this.module._tv_snap(event.scale, event.key);
    this.send(event, time);
    this.shown();
  }
}
