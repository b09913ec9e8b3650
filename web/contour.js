// The take drawn as what was played: each voice's pitch over time on the pad's note grid, one
// line per note with gaps where its key was off, and under it a thin strip of its loudness. The
// loop's lane the same way, a line for each of its layers, the newest strongest.
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

// The notes heard in `contours` (pitches in Hz, 0 where a key was off) on a grid of at least an
// octave with room around them: { low, high }, or null when nothing was heard.
function noteRange(contours) {
  let [least, most] = [Infinity, -Infinity];
  for (const contour of contours) {
    for (const hz of contour) {
      if (hz <= 0) continue;
      const n = midiOf(hz);
      if (n < least) least = n;
      if (n > most) most = n;
    }
  }
  if (least > most) return null;
  let low = Math.floor(least) - MARGIN;
  let high = Math.ceil(most) + MARGIN;
  if (high - low < SPAN) {
    low -= Math.floor((SPAN - (high - low)) / 2);
    high = low + SPAN;
  }
  return { low, high };
}

// The grid: the key's roots strongest and named, then the scale's notes, then the rest.
function paintGrid(g, w, { low, high }, y, { mask, key, flats }, ratio) {
  const styles = GUIDE_STYLES.map(colour);
  const thin = Math.max(1, Math.round(ratio));
  const drawn = [];
  const grid = [];
  for (let n = Math.ceil(low); n <= high; n++) grid.push(n);
  grid.sort((a, b) => guideRank(a, mask, key) - guideRank(b, mask, key));
  g.font = `${10 * ratio}px system-ui, sans-serif`;
  for (const n of grid) {
    const top = Math.round(y(n) - thin / 2);
    if (drawn.some((d) => Math.abs(d - top) < GAP)) continue;
    drawn.push(top);
    const rank = guideRank(n, mask, key);
    g.fillStyle = styles[rank];
    g.fillRect(0, top, w, rank === 0 ? 2 * thin : thin);
    if (rank === 0) {
      // Named above its line, or below it where the line runs along the top.
      const above = top - ratio >= 10 * ratio;
      g.fillStyle = colour('--pad-label');
      g.textBaseline = above ? 'bottom' : 'top';
      g.fillText(noteName(n, flats), 3 * ratio, above ? top - ratio : top + 2 * thin + ratio);
    }
  }
}

// One line per note: each voice's pitch from slot to slot while its key was on.
function paintLines(g, contour, voices, w, y, width) {
  g.strokeStyle = colour('--accent');
  g.lineWidth = width;
  g.lineJoin = 'round';
  g.lineCap = 'round';
  g.beginPath();
  const slots = contour.length / voices;
  for (let v = 0; v < voices; v++) {
    const at = (k) => contour[k * voices + v];
    for (let k = 0; k < slots; k++) {
      const hz = at(k);
      if (hz <= 0) continue;
      const x = (k + 0.5) * w / slots;
      const n = midiOf(hz);
      if (k > 0 && at(k - 1) > 0) g.lineTo(x, y(n));
      else g.moveTo(x, y(n));
      if (k + 1 === slots || at(k + 1) <= 0) g.lineTo(x + 0.01, y(n));
    }
  }
  g.stroke();
}

// contour: the pitches of each quantum of the take, `voices` of them a quantum (0 where a voice's
// key was off); wave: its loudness envelope; scale: the scale whose notes the grid stresses, as
// on the pad ({ mask, key, flats }, flats: how its key names black keys).
export function drawTake(canvas, { contour, wave, voices }, scale) {
  const { ratio, w, h } = sized(canvas);
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, w, h);
  const strip = Math.round(STRIP * ratio);
  paintWave(g, wave, [0, h - strip, w, strip], ratio);
  const range = noteRange([contour]);
  if (range === null) return;
  const area = h - strip - 2 * ratio;
  const y = (note) => ratio + (range.high - note) / (range.high - range.low) * area;
  paintGrid(g, w, range, y, scale, ratio);
  paintLines(g, contour, voices, w, y, 2 * ratio);
}

// The loop's lane: `layers` (oldest first) as the take's contour is, over the loop's length, the
// older ones fainter and thinner; and where it plays (`at`, 0 to 1, or null), red while it
// overdubs.
export function drawLoop(canvas, { layers, voices }, scale, { at = null, overdub = false } = {}) {
  const { ratio, w, h } = sized(canvas);
  const g = canvas.getContext('2d');
  g.clearRect(0, 0, w, h);
  const range = noteRange(layers);
  if (range !== null) {
    const area = h - 4 * ratio;
    const y = (note) => 2 * ratio + (range.high - note) / (range.high - range.low) * area;
    paintGrid(g, w, range, y, scale, ratio);
    layers.forEach((contour, i) => {
      const newest = i === layers.length - 1;
      g.globalAlpha = newest ? 1 : 0.4 + 0.3 * i / Math.max(1, layers.length - 1);
      paintLines(g, contour, voices, w, y, (newest ? 3 : 2) * ratio);
    });
    g.globalAlpha = 1;
  }
  if (at !== null) {
    g.fillStyle = colour(overdub ? '--rec' : '--ink');
    g.globalAlpha = overdub ? 0.9 : 0.5;
    g.fillRect(Math.min(w - ratio, Math.floor(at * w)), 0, Math.max(1, Math.round(ratio)), h);
    g.globalAlpha = 1;
  }
}
