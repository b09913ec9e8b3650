// The pad on the page: the part of the window's client grid it shows, how that grid lands on the
// viewport (as large as it fits, on whole device pixels), and its drawing with what is played.
import { noteName } from './texts.js';

// Client units shown: the pad (64..319), the scale ticks at its left (48..62) with the long
// ticks' labels before them, and a small margin.
export const VIEW = { x: 32, y: 58, width: 294, height: 268 };
const TOP_TICK_NOTE = 105;  // tick 0 marks 3,520 Hz: A7
const LABEL_END = 48;  // labels end left of the long ticks, which start at client x 49
const GUIDE_GAP = 5;  // device pixels: guides closer than this to a stronger one are left out

// How strongly a note's guide is drawn: 0 for the key's root, 1 for the scale's other notes, 2
// for the rest; `mask` has bit d set for each degree d of the scale above the root `key`.
export const GUIDE_STYLES = ['--guide-root', '--guide-scale', '--guide'];
export function guideRank(note, mask, key) {
  const d = (((note - key) % 12) + 12) % 12;
  return d === 0 ? 0 : (mask >> d) & 1 ? 1 : 2;
}

// The rows of the semitones, top to bottom, with their notes (MIDI numbers): the scale's ticks,
// continued above the top tick by semitones computed as the ticks are (16 * 2^(j/12) truncated)
// up to offset 1. Rows that round alike come once, with the lowest of their notes.
export function noteRows(ticks) {
  const rows = new Map(ticks.map((tick, j) => [tick.row, TOP_TICK_NOTE - j]));
  for (let j = -1; ; j--) {
    const d = Math.floor(2 ** (j / 12) * 16);
    if (d < 1) break;
    if (!rows.has(d + 64)) rows.set(d + 64, TOP_TICK_NOTE - j);
  }
  return [...rows].sort(([a], [b]) => a - b).map(([row, note]) => ({ row, note }));
}

export function colour(name) {
  return getComputedStyle(document.documentElement).getPropertyValue(name).trim();
}

export class PadView {
  constructor(canvas, geometry) {
    this.canvas = canvas;
    this.geometry = geometry;  // { pad: { x, y, size }, ticks: [{ row, fromX, toX }] }
    this.ratio = 1;  // device pixels per CSS pixel
    this.scale = 1;  // device pixels per client unit
    this.layer = document.createElement('canvas');  // the still drawing, copied each frame
    this.notes = noteRows(geometry.ticks);
    this.scaleMask = 0xfff;  // degrees of the chosen scale above its key, bit d for degree d
    this.key = 0;  // the key's root, in semitones above C
    this.flats = false;  // the key names black keys with flats
  }

  // The scale whose notes the guides stress, and its root, labelled as the key spells it.
  setScale(mask, key, flats) {
    this.scaleMask = mask;
    this.key = key;
    this.flats = flats;
    this.paintLayer();
  }

  // Sizes the canvas to the largest view that fits width x height CSS pixels, in whole CSS
  // pixels (a canvas of a fractional CSS size is resampled). Returns its CSS size.
  fit(width, height) {
    this.ratio = window.devicePixelRatio || 1;
    const unit = Math.max(0.25, Math.min(width / VIEW.width, height / VIEW.height));
    this.scale = unit * this.ratio;
    const w = Math.floor(VIEW.width * unit);
    const h = Math.floor(VIEW.height * unit);
    for (const c of [this.canvas, this.layer]) {
      c.width = Math.round(w * this.ratio);
      c.height = Math.round(h * this.ratio);
    }
    this.canvas.style.width = `${w}px`;
    this.canvas.style.height = `${h}px`;
    this.paintLayer();
    return { width: w, height: h };
  }

  // A viewport position as the window's client coordinates: the client pixel under it, as a
  // mouse message carries it (16 bits each, unsigned).
  toClient(clientX, clientY) {
    const r = this.canvas.getBoundingClientRect();
    const unit = this.scale / this.ratio;
    return { x: (VIEW.x + Math.floor((clientX - r.left) / unit)) & 0xffff,
             y: (VIEW.y + Math.floor((clientY - r.top) / unit)) & 0xffff };
  }

  // The viewport position of the centre of client pixel (x, y).
  toPage(x, y) {
    const r = this.canvas.getBoundingClientRect();
    const unit = this.scale / this.ratio;
    return { x: r.left + (x - VIEW.x + 0.5) * unit, y: r.top + (y - VIEW.y + 0.5) * unit };
  }

  // Client pixels [x, x + w) x [y, y + h), snapped to the device grid. A one-pixel line of the
  // window becomes a line as thick as a client unit, rounded to whole device pixels so that all
  // lines are equally thick and crisp.
  fill(g, x, y, w, h) {
    const s = this.scale;
    const line = Math.max(1, Math.round(s));
    const x0 = Math.round((x - VIEW.x) * s);
    const y0 = Math.round((y - VIEW.y) * s);
    g.fillRect(x0, y0, w === 1 ? line : Math.round((x + w - VIEW.x) * s) - x0,
               h === 1 ? line : Math.round((y + h - VIEW.y) * s) - y0);
  }

  paintLayer() {
    const g = this.layer.getContext('2d');
    const { x, y, size } = this.geometry.pad;
    g.fillStyle = colour('--bg');
    g.fillRect(0, 0, this.layer.width, this.layer.height);
    g.fillStyle = colour('--pad-bg');
    this.fill(g, x, y, size, size);
    this.paintGuides(g);
    g.fillStyle = colour('--pad-ink');
    // The border: a one-pixel outline whose right and bottom edges are exclusive.
    this.fill(g, x, y, size, 1);
    this.fill(g, x, y + size - 1, size, 1);
    this.fill(g, x, y, 1, size);
    this.fill(g, x + size - 1, y, 1, size);
    // Each tick runs from fromX leftwards, its far end excluded as a line's end is.
    const ticks = this.geometry.ticks;
    for (const tick of ticks) this.fill(g, tick.toX + 1, tick.row, tick.fromX - tick.toX, 1);
    // The key's roots are named before their ticks (the long ones at each C, in C).
    const unit = this.scale / this.ratio;
    const font = Math.min(13, Math.max(9, 7 * unit)) * this.ratio;
    g.font = `${font}px system-ui, sans-serif`;
    g.textAlign = 'right';
    g.textBaseline = 'middle';
    g.fillStyle = colour('--pad-label');
    ticks.forEach((tick, j) => {
      const note = TOP_TICK_NOTE - j;
      if (guideRank(note, this.scaleMask, this.key) !== 0) return;
      g.fillText(noteName(note, this.flats), (LABEL_END - VIEW.x) * this.scale - 3 * this.ratio,
                 (tick.row + 0.5 - VIEW.y) * this.scale);
    });
  }

  // Faint lines across the pad at the semitones' rows, the scale's notes stronger and its roots
  // strongest. Strongest first: a line closer than GUIDE_GAP device pixels to one already drawn
  // is left out, so that the crowded top stays readable rather than one smear.
  paintGuides(g) {
    const { x, size } = this.geometry.pad;
    const rank = (note) => guideRank(note, this.scaleMask, this.key);
    const styles = GUIDE_STYLES.map(colour);
    const thin = Math.max(1, Math.round(this.ratio));
    const drawn = [];
    const left = Math.round((x + 1 - VIEW.x) * this.scale);
    const right = Math.round((x + size - 1 - VIEW.x) * this.scale);
    const order = [...this.notes].sort((a, b) => rank(a.note) - rank(b.note) || a.row - b.row);
    for (const { row, note } of order) {
      const r = rank(note);
      const thick = r === 0 ? 2 * thin : thin;
      const top = Math.round((row + 0.5 - VIEW.y) * this.scale - thick / 2);
      if (drawn.some((y) => Math.abs(y - top) < GUIDE_GAP)) continue;
      drawn.push(top);
      g.fillStyle = styles[r];
      g.fillRect(left, top, right - left, thick);
    }
  }

  // The pad with what is being played: for each sounding voice a ring under its pointer or
  // finger, labelled with its note, and a line across the pad at its row; a dashed ring where the
  // keys would play otherwise.
  draw({ markers, cursor }) {
    const g = this.canvas.getContext('2d');
    g.drawImage(this.layer, 0, 0);
    const accent = colour('--accent');
    const radius = Math.min(16, Math.max(8, 4 * this.scale / this.ratio)) * this.ratio;
    const centre = (at) => [(at.x + 0.5 - VIEW.x) * this.scale, (at.y + 0.5 - VIEW.y) * this.scale];
    g.strokeStyle = accent;
    g.fillStyle = accent;
    g.lineWidth = 2 * this.ratio;
    const { x, size } = this.geometry.pad;
    g.globalAlpha = 0.35;
    for (const { at } of markers) this.fill(g, x + 1, at.y, size - 2, 1);
    g.globalAlpha = 1;
    for (const { at } of markers) {
      const [cx, cy] = centre(at);
      g.beginPath();
      g.arc(cx, cy, radius, 0, 2 * Math.PI);
      g.stroke();
      g.beginPath();
      g.arc(cx, cy, 2.5 * this.ratio, 0, 2 * Math.PI);
      g.fill();
    }
    this.paintLabels(g, markers, radius, centre);
    if (cursor && markers.length === 0) {
      const [cx, cy] = centre(cursor);
      g.setLineDash([3 * this.ratio, 3 * this.ratio]);
      g.beginPath();
      g.arc(cx, cy, radius, 0, 2 * Math.PI);
      g.stroke();
      g.setLineDash([]);
    }
  }

  // Each marker's note on a small plate above its ring (below it at the pad's top), kept inside
  // the canvas.
  paintLabels(g, markers, radius, centre) {
    const font = Math.min(14, Math.max(10, 5 * this.scale / this.ratio)) * this.ratio;
    g.font = `600 ${font}px system-ui, sans-serif`;
    g.textAlign = 'center';
    g.textBaseline = 'middle';
    const pad = 3 * this.ratio;
    for (const { at, label } of markers) {
      const [cx, cy] = centre(at);
      const w = g.measureText(label).width + 2 * pad;
      const h = font + pad;
      const above = cy - radius - h / 2 - pad;
      const ly = above - h / 2 < 0 ? cy + radius + h / 2 + pad : above;
      const lx = Math.min(this.canvas.width - w / 2, Math.max(w / 2, cx));
      g.fillStyle = colour('--accent');
      g.fillRect(lx - w / 2, ly - h / 2, w, h);
      g.fillStyle = colour('--on-accent');
      g.fillText(label, lx, ly);
    }
  }
}

// What the panels need, beside the pad or below it, to show at least the readout.
const PANELS = { beside: 300, below: 150 };
// The share of its side the pad may give up for them: on a small desktop window what is played
// stays in sight (at 640 x 560, under the icon bar's two rows, the pad keeps 68 %); on a smaller,
// nearly square screen the pad keeps the space.
const PAD_YIELD = 0.65;

// Lays the stage out under the bar, whose rows vary with the width: the view as large as the
// space under it allows, the panels below it when the width limits the pad and beside it
// otherwise. When that leaves the panels too little room, the pad shrinks for them within
// PAD_YIELD, on whichever side keeps it larger; below that the panels are hidden and only a
// notice floats over the pad.
export function layOut(pad, stage, bar) {
  const width = document.documentElement.clientWidth;
  const top = Math.ceil(bar.getBoundingClientRect().height);
  const height = window.innerHeight - top;
  stage.style.top = `${top}px`;
  const unit = (w, h) => Math.min(w / VIEW.width, h / VIEW.height);
  const full = unit(width, height);
  let below = width / VIEW.width < height / VIEW.height;
  let box = [width, height];
  const left = below ? height - Math.floor(VIEW.height * full)
                     : width - Math.floor(VIEW.width * full);
  let tight = left < (below ? PANELS.below : PANELS.beside);
  if (tight) {
    const beside = unit(width - PANELS.beside, height);
    const under = unit(width, height - PANELS.below);
    if (Math.max(beside, under) >= PAD_YIELD * full) {
      below = under > beside;
      box = below ? [width, height - PANELS.below] : [width - PANELS.beside, height];
      tight = false;
    }
  }
  const size = pad.fit(...box);
  stage.classList.toggle('below', below);
  stage.classList.toggle('tight', tight);
  // Centred across (and along, when the panels are gone), on whole CSS pixels.
  const acrossX = below || tight ? Math.round((width - size.width) / 2) : 0;
  const acrossY = !below || tight ? Math.round((height - size.height) / 2) : 0;
  pad.canvas.style.marginLeft = `${acrossX}px`;
  pad.canvas.style.marginTop = `${acrossY}px`;
  fitPanels(stage.querySelector('.panels'));
}

// A panel that would be cut off at the bottom is left out whole, and so is every one after it:
// a short strip under the pad shows the readout alone rather than half of the voice. Again
// whenever the notice above them comes or goes. True when a panel came back, whose drawings were
// made while it had no size.
export function fitPanels(panels) {
  const sections = [...panels.querySelectorAll(':scope > section')];
  const wasCut = sections.filter((section) => section.classList.contains('cut'));
  for (const section of sections) section.classList.remove('cut');
  const end = panels.getBoundingClientRect().bottom -
              parseFloat(getComputedStyle(panels).paddingBottom);
  const bottom = (section) => section.getBoundingClientRect().top + section.scrollHeight;
  // The readout stays even when the notice above it pushes it against the end.
  const first = sections.findIndex((section) => bottom(section) > end + 0.5);
  if (first >= 0) {
    for (const section of sections.slice(Math.max(1, first))) section.classList.add('cut');
  }
  return wasCut.some((section) => !section.classList.contains('cut'));
}
