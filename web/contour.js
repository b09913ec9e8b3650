// The take drawn as what was played: each voice's pitch over time on the pad's note grid, one
// line per note with gaps where its key was off, and under it a thin strip of its loudness.
import { GUIDE_STYLES, colour, guideRank } from './pad.js';
import { noteName } from './texts.js';

const STRIP = 12;  // CSS pixels of the loudness strip
const SPAN = 12;  // semitones shown at least
const MARGIN = 2;  // semitones above the highest note and below the lowest
const GAP = 5;  // device pixels: grid lines closer than this are left out, the weaker first

const midiOf = (hz) => 69 + 12 * Math.log2(hz / 440);

function sized(canvas) {
  const ratio = window.devicePixelRatio || 1;
  const w = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const h = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== w || canvas.height !== h) {
    canvas.width = w;
    canvas.height = h;
  }
  return { ratio, w, h };
}

// Column-wise minimum and maximum pairs scaled to -1..1, as bars in the box, scaled to their own
// peak; a flat line when there is nothing.
function paintWave(g, wave, [x0, y0, w, h], ratio) {
  g.fillStyle = colour('--accent');
  const columns = wave.length / 2;
  let peak = 0;
  for (const v of wave) peak = Math.max(peak, Math.abs(v));
  const middle = y0 + h / 2;
  if (columns === 0 || peak === 0) {
    g.globalAlpha = 0.4;
    g.fillRect(x0, Math.floor(middle), w, Math.max(1, Math.round(ratio)));
    g.globalAlpha = 1;
    return;
  }
  const reach = 0.8 * (h / 2 - ratio) / peak;
  g.globalAlpha = 0.6;
  for (let x = 0; x < w; x++) {
    const c = Math.min(columns - 1, Math.floor(x * columns / w));
    const top = middle - wave[2 * c + 1] * reach;
    const bottom = middle - wave[2 * c] * reach;
    g.fillRect(x0 + x, top, 1, Math.max(ratio, bottom - top));
  }
  g.globalAlpha = 1;
}

export function drawWave(canvas, wave) {
  const { ratio, w, h } = sized(canvas);
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, w, h);
  paintWave(g, wave, [0, 0, w, h], ratio);
}

// contour: the pitches of each quantum of the take, `voices` of them a quantum (0 where a voice's
// key was off); wave: its loudness envelope; mask and key: the scale whose notes the grid
// stresses, as on the pad, and flats: how its key names black keys.
export function drawTake(canvas, { contour, wave, voices }, { mask, key, flats }) {
  const { ratio, w, h } = sized(canvas);
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, w, h);
  const strip = Math.round(STRIP * ratio);
  paintWave(g, wave, [0, h - strip, w, strip], ratio);
  const notes = Array.from(contour, (hz) => (hz > 0 ? midiOf(hz) : null));
  const heard = notes.filter((n) => n !== null);
  if (heard.length === 0) return;

  // The notes played, with room around them, at least an octave.
  let low = Math.floor(Math.min(...heard)) - MARGIN;
  let high = Math.ceil(Math.max(...heard)) + MARGIN;
  if (high - low < SPAN) {
    low -= Math.floor((SPAN - (high - low)) / 2);
    high = low + SPAN;
  }
  const area = h - strip - 2 * ratio;
  const y = (note) => ratio + (high - note) / (high - low) * area;

  // The grid: the key's roots strongest and named, then the scale's notes, then the rest.
  const styles = GUIDE_STYLES.map(colour);
  const thin = Math.max(1, Math.round(ratio));
  const drawn = [];
  const grid = [];
  for (let n = Math.ceil(low); n <= high; n++) grid.push(n);
  grid.sort((a, b) => guideRank(a, mask, key) - guideRank(b, mask, key));
  g.font = `${10 * ratio}px system-ui, sans-serif`;
  g.textBaseline = 'bottom';
  for (const n of grid) {
    const top = Math.round(y(n) - thin / 2);
    if (drawn.some((d) => Math.abs(d - top) < GAP)) continue;
    drawn.push(top);
    const rank = guideRank(n, mask, key);
    g.fillStyle = styles[rank];
    g.fillRect(0, top, w, rank === 0 ? 2 * thin : thin);
    if (rank === 0) {
      g.fillStyle = colour('--pad-label');
      g.fillText(noteName(n, flats), 3 * ratio, top - ratio);
    }
  }

  // One line per note: each voice's pitch from quantum to quantum while its key was on.
  g.strokeStyle = colour('--accent');
  g.lineWidth = 2 * ratio;
  g.lineJoin = 'round';
  g.lineCap = 'round';
  g.beginPath();
  const slots = notes.length / voices;
  for (let v = 0; v < voices; v++) {
    const at = (k) => notes[k * voices + v];
    for (let k = 0; k < slots; k++) {
      const n = at(k);
      if (n === null) continue;
      const x = (k + 0.5) * w / slots;
      if (k > 0 && at(k - 1) !== null) g.lineTo(x, y(n));
      else g.moveTo(x, y(n));
      if (k + 1 === slots || at(k + 1) === null) g.lineTo(x + 0.01, y(n));
    }
  }
  g.stroke();
}
