#!/usr/bin/env python3
"""Reference model of the headless renderer, written to check tonvarel-render bit for bit.

    tonvarel_ref.py SCRIPT --out STREAM.wav

Plain Python 3, standard library only.  Every value the engine keeps as a 32-bit float is
rounded to binary32 (round to nearest, ties to even) exactly where the engine rounds; every
other intermediate is a Python float, i.e. an IEEE double, evaluated left to right.

Time runs in frames: `render N` is N x 1,500 frames and `frames F` is F frames, both continuing
the current block; a block opens at the first frame after the previous one is complete, or
after a press that opened the gate closed it early.

Speed: the triangle oscillator never depends on anything else, so its values are computed
once and reused through their period; the phase increments of a block depend only on the two
pitches of the block, the depth and where the block falls in the oscillator's period, so they
are computed for a whole block at once (binary32 rounding of whole arrays through
array('f')) and cached; a piece of a block takes its slice.  Only the phase walk itself runs
frame by frame.
"""

import errno
import math
import os
import re
import stat
import struct
import sys
from array import array
from fractions import Fraction

FRAMES_PER_BLOCK = 1500
BLOCK_BYTES = 6000
TAKE_CAPACITY = 5292000                     # bytes: 60 s of 16-bit mono
TAKE_SAMPLES = TAKE_CAPACITY // 2
DEFAULT_TABLE_LENGTH = 44100
STREAM_DATA_LIMIT = 0xFFFFFFFF - 36         # largest data size the stream header can state
PATH_MAX_BYTES = 259
TWO24 = float(1 << 24)
PAD_ORIGIN = 64
LITTLE = sys.byteorder == "little"

_F32 = struct.Struct("<f")


def f32(x):
    """Round a double to the nearest binary32 value (ties to even)."""
    return _F32.unpack(_F32.pack(x))[0]


def f32_list(values):
    """Round a list of doubles to binary32 (array("f") stores by a C cast: nearest, ties even)."""
    return array("f", values).tolist()


def u32(v):
    return v & 0xFFFFFFFF


def le16(b, p):
    return b[p] | (b[p + 1] << 8)


def le32(b, p):
    return b[p] | (b[p + 1] << 8) | (b[p + 2] << 16) | (b[p + 3] << 24)


# ---------------------------------------------------------------------------
# The triangle oscillator.  Its state after g frames is fully determined by g, so the whole
# trajectory is computed once: a prefix (the first rise starts from exactly 0.0 and differs from
# later rises in the last bits) followed by one period, found by watching for a repeated state.

LFO_STEP0 = f32(0.005)


class Oscillator:
    def __init__(self):
        value, step, counter = 0.0, LFO_STEP0, 500
        states = [(value, step, counter)]
        seen = {states[0]: 0}
        while True:
            counter += 1
            value = f32(value + step)
            if counter >= 1000:
                counter = 0
                step = -step
            st = (value, step, counter)
            g = len(states)
            states.append(st)
            if st in seen:
                self.cycle_start = seen[st]
                self.period = g - self.cycle_start
                break
            seen[st] = g
        # Enough states so that any block starting at a canonical position has all its values.
        need = self.cycle_start + self.period + FRAMES_PER_BLOCK + 1
        while len(states) < need:
            states.append(states[len(states) - self.period])
        self.states = states
        # values[g] is lfoValue as frame g (0-based) uses it, i.e. after its own step 2.
        self.values = [s[0] for s in states[1:]]

    def canonical(self, g):
        """Index with the same future as frame count g."""
        if g < self.cycle_start:
            return g
        return self.cycle_start + (g - self.cycle_start) % self.period

    def state_after(self, g):
        return self.states[self.canonical(g)]


OSC = Oscillator()


def build_default_table():
    """One second of a 440 Hz square wave of amplitude 1000, from an integer accumulator."""
    table = array("h", bytes(2 * DEFAULT_TABLE_LENGTH))
    value, acc = 1000, 0
    for i in range(DEFAULT_TABLE_LENGTH):
        table[i] = value
        acc += 880
        if acc >= 44100:
            acc -= 44100
            value = -value
    return table


DEFAULT_TABLE = build_default_table()


# ---------------------------------------------------------------------------

VOICES = 10


class Voice:
    """One of the ten voices: its parameters, pitch history, phase and block position."""

    def __init__(self):
        # Written by the pad.
        self.gate = False
        self.phaseReset = False
        self.targetPitch = 440.0
        self.vibratoDepth = f32(0.000001)
        self.leftHeld = False
        self.blockCloseRequest = False   # set by a press that opens the gate
        # Kept by the renderer.
        self.phase = 0.0
        self.currentPitch = 440.0
        self.previousPitch = 440.0
        self.rampPitch = 440.0
        self.blockFrame = FRAMES_PER_BLOCK   # frames of the open block rendered; none open
        self.blockStart = 0              # the engine's framesRendered when the open block began


class Engine:
    """The engine record, its ten voices and their mix, and its take recorder."""

    CACHE_LIMIT = 256

    def __init__(self, build_default=True):
        # Written by the pad and the importer.
        self.table = None
        self.tableLength = DEFAULT_TABLE_LENGTH
        self.tableReady = False
        self.voices = [Voice() for _ in range(VOICES)]
        self.rightHeld = False
        self.recording = False
        self.framesRendered = 0          # drives the oscillator (see Oscillator)
        # The take.
        self.takeLength = 0              # bytes
        self.takeBuffer = array("h", bytes(TAKE_CAPACITY))
        self.looper = Looper()
        self.playback = Playback()
        self._ramps = {}
        self._incs = {}
        self._cell = memoryview(bytearray(4)).cast("f")
        if build_default:
            self.buildDefaultTable()

    # oscillator fields, derived from the frame count
    @property
    def lfoValue(self):
        return OSC.state_after(self.framesRendered)[0]

    @property
    def lfoStep(self):
        return OSC.state_after(self.framesRendered)[1]

    @property
    def lfoCounter(self):
        return OSC.state_after(self.framesRendered)[2]

    # tone tables
    def buildDefaultTable(self):
        self.table = DEFAULT_TABLE
        self.tableReady = True

    def useDefaultTable(self):
        self.table = DEFAULT_TABLE
        self.tableLength = DEFAULT_TABLE_LENGTH

    def resetPhases(self):
        """A new table (a load, the built-in tone) is read from its start by every voice."""
        for v in self.voices:
            v.phaseReset = True

    # take recorder
    def openTakeIfIdle(self):
        if not self.recording:
            self.takeLength = 0
            self.recording = True

    def closeTakeUnless(self, other_held):
        if not other_held:
            self.recording = False

    def anyVoiceHeld(self):
        return any(v.leftHeld for v in self.voices)

    def takeBytes(self):
        a = self.takeBuffer[: self.takeLength // 2]
        if not LITTLE:
            a.byteswap()
        return a.tobytes()

    def _append_take(self, samples):
        buf = self.takeBuffer
        pos = self.takeLength // 2
        i = 0
        n = len(samples)
        while i < n:
            room = TAKE_SAMPLES - pos
            k = min(room, n - i)
            buf[pos:pos + k] = array("h", samples[i:i + k])
            pos += k
            i += k
            if pos >= TAKE_SAMPLES:
                pos = 0
        self.takeLength = pos * 2

    # voices
    def _ramp(self, cp, pp):
        key = (cp, pp)
        r = self._ramps.get(key)
        if r is None:
            if len(self._ramps) >= self.CACHE_LIMIT:
                self._ramps.clear()
            r = f32_list([cp - (pp - cp) * o / BLOCK_BYTES for o in range(0, BLOCK_BYTES, 4)])
            self._ramps[key] = r
        return r

    def _increments(self, cp, pp, depth, c):
        key = (cp, pp, depth, c)
        incs = self._incs.get(key)
        if incs is None:
            if len(self._incs) >= self.CACHE_LIMIT:
                self._incs.clear()
            lfo = OSC.values[c:c + FRAMES_PER_BLOCK]
            ramp = self._ramp(cp, pp)
            a = f32_list([v * depth * cp for v in lfo])
            b = f32_list([x + r for x, r in zip(a, ramp)])
            incs = f32_list([x / 440.0 for x in b])
            self._incs[key] = incs
        return incs

    def voiceSamples(self, count):
        """Renders count frames of every voice, each continuing its own open block; returns
        their sum per frame, before the clamp."""
        for v in self.voices:
            if v.blockCloseRequest:
                v.blockCloseRequest = False
                v.blockFrame = FRAMES_PER_BLOCK
        mix = None
        for v in self.voices:
            out = []
            done = 0
            while done < count:
                if v.blockFrame == FRAMES_PER_BLOCK:
                    v.previousPitch = v.currentPitch
                    v.currentPitch = v.targetPitch
                    v.blockFrame = 0
                    v.blockStart = self.framesRendered + done
                n = min(count - done, FRAMES_PER_BLOCK - v.blockFrame)
                piece = self._render_piece(v, v.blockFrame, v.blockFrame + n)
                if piece is not None:        # the gate stays as it is for the whole call
                    out += piece
                v.blockFrame += n
                done += n
            if out:
                mix = out if mix is None else [a + b for a, b in zip(mix, out)]
        self.framesRendered += count
        return [0] * count if mix is None else mix

    def renderFrames(self, count):
        """Render count frames of the mix; returns their left samples (the right ones are the
        same)."""
        voices = [clamp16(x) for x in self.voiceSamples(count)]
        looped = self.looper.frames(voices)
        played = self.playback.frames(count)
        if looped is None and played is None:
            out = voices
        else:
            looped = looped or [0] * count
            played = played or [0] * count
            out = [clamp16(v + l + p) for v, l, p in zip(voices, looped, played)]
        if self.recording:
            self._append_take(out)
        return out

    def takeSamples(self):
        return self.takeBuffer[: self.takeLength // 2].tolist()

    def _render_piece(self, v, a, b):
        """Frames a..b-1 of voice v's open block, with the parameters as they stand now; None
        while its gate is closed."""
        cp, pp = v.currentPitch, v.previousPitch
        v.rampPitch = self._ramp(cp, pp)[b - 1]
        if not v.gate:
            # A silent voice's phase is not walked: every gate opens together with a phase
            # reset (see Pad.ldown), so where it stood never reaches the sound.
            v.phase = None
            return None
        if v.phaseReset:
            v.phase = 0.0
            v.phaseReset = False
        assert v.phase is not None, "a gate opened without a phase reset"
        incs = self._increments(cp, pp, v.vibratoDepth, OSC.canonical(v.blockStart))
        if a > 0 or b < FRAMES_PER_BLOCK:
            incs = incs[a:b]

        cell = self._cell
        ph = v.phase
        length = self.tableLength
        tbl = self.table
        reading = self.tableReady and tbl is not None and length > 0
        out = None
        if length > 0:
            lf = float(length)
            if reading:
                out = []
                ap = out.append
                for inc in incs:
                    cell[0] = ph + inc
                    ph = cell[0]
                    if not ph < lf or ph < 0.0:
                        ph = self._wrap(ph, lf)
                    ap(tbl[int(ph)])
            else:
                for inc in incs:
                    cell[0] = ph + inc
                    ph = cell[0]
                    if not ph < lf or ph < 0.0:
                        ph = self._wrap(ph, lf)
        else:
            # Nothing to wrap against and nothing to read: silence, the phase still runs.
            for inc in incs:
                cell[0] = ph + inc
                ph = cell[0]
        v.phase = ph
        if out is None:
            out = [0] * (b - a)
        return out

    def _wrap(self, ph, lf):
        cell = self._cell
        if -TWO24 < ph < TWO24:
            # Below 2^24 the spacing of the phase is at most 1, so every subtraction or
            # addition of the (whole) length that leaves the sign alone is exact and the
            # passes amount to fmod, which is exact too.  Only the addition that crosses
            # zero from below rounds; the passes below take it from there.
            ph = math.fmod(ph, lf)
            if ph == 0.0:
                return 0.0
            if ph > 0.0:
                return ph
        while True:
            moved = False
            if not ph < lf:
                cell[0] = ph - lf
                ph = cell[0]
                moved = True
            if ph < 0.0:
                cell[0] = ph + lf
                ph = cell[0]
                moved = True
            if not moved:
                return ph


# ---------------------------------------------------------------------------
# The looper and the take played back.  Both are mixed under the voices: a frame is
# clamp(v + L + P), v being the voices' clamped sum, L the loop's sample, P the playback's.

LOOP_SAMPLES = 2646000                      # 60 s, as the take


class Looper:
    """The loop as its rules state it: a list of samples that the first layer grows, then plays
    round and round; an overdub keeps a whole copy of the loop first, which undo brings back."""

    def __init__(self):
        self.mode = "empty"          # empty, recording, playing, overdubbing, stopped
        self.layer = []
        self.at = 0                  # the next sample played
        self.before = None           # the loop when the last overdub began, until undone

    def _closed(self):
        """The first layer ends: it plays from its start, or the loop is empty if none came."""
        self.mode = "playing" if self.layer else "empty"
        self.at = 0
        self.before = None

    def press(self):
        m = self.mode
        if m == "empty":
            self.mode, self.layer, self.at = "recording", [], 0
        elif m == "recording":
            self._closed()
        elif m == "playing":
            self.before = list(self.layer)
            self.mode = "overdubbing"
        elif m == "overdubbing":
            self.mode = "playing"
        else:
            self.mode, self.at = "playing", 0

    def stop(self):
        if self.mode == "recording":
            self._closed()
        if self.mode in ("playing", "overdubbing"):
            self.mode, self.at = "stopped", 0

    def undo(self):
        if self.before is not None and self.mode in ("playing", "overdubbing", "stopped"):
            self.layer, self.before = self.before, None
            if self.mode == "overdubbing":
                self.mode = "playing"

    def clear(self):
        self.mode, self.layer, self.at, self.before = "empty", [], 0, None

    def samples(self):
        """What a save writes: the whole loop, or the first layer so far; nothing when empty."""
        return [] if self.mode == "empty" else self.layer

    def frames(self, voices):
        """The loop's part of each of these frames (None: nothing at all), recording or
        overdubbing the voices' samples as it goes."""
        if self.mode in ("empty", "stopped"):
            return None
        n = len(voices)
        out = [0] * n
        i = 0
        while i < n and self.mode not in ("empty", "stopped"):
            layer = self.layer
            if self.mode == "recording":
                k = min(n - i, LOOP_SAMPLES - len(layer))
                layer.extend(voices[i:i + k])
                i += k
                if len(layer) == LOOP_SAMPLES:
                    self._closed()
                continue
            k = min(n - i, len(layer) - self.at)
            heard = layer[self.at:self.at + k]
            out[i:i + k] = heard
            if self.mode == "overdubbing":
                layer[self.at:self.at + k] = [clamp16(a + b) for a, b in
                                              zip(heard, voices[i:i + k])]
            i += k
            self.at = (self.at + k) % len(layer)
        return out


class Playback:
    """The take played once from a copy made when play was pressed."""

    def __init__(self):
        self.copy, self.at = [], 0

    def play(self, samples):
        self.copy, self.at = samples, 0

    def stop(self):
        self.copy, self.at = [], 0

    def playing(self):
        return self.at < len(self.copy)

    def frames(self, n):
        if not self.playing():
            return None
        out = self.copy[self.at:self.at + n]
        self.at += len(out)
        return out + [0] * (n - len(out))


def clamp16(x):
    return -32768 if x < -32768 else 32767 if x > 32767 else x


def stereo_frames(left):
    """Stream bytes for frames (s, s)."""
    if not any(left):
        return bytes(4 * len(left))
    a = array("h", left)
    frames = array("h", bytes(4 * len(left)))
    frames[0::2] = a
    frames[1::2] = a
    if not LITTLE:
        frames.byteswap()
    return frames.tobytes()


# ---------------------------------------------------------------------------
# The pad

def pad_offset(X, Y):
    """Pad offset of a client position (the 16-bit values a mouse message carries), or None."""
    x = (X & 0xFFFF) - PAD_ORIGIN
    y = (Y & 0xFFFF) - PAD_ORIGIN
    if 0 < x < 256 and 0 < y < 256:
        return x, y
    return None


def pitch_for(y):
    return f32(7040 / (y / 8))


def iroot(x, k):
    """floor(x^(1/k)) of a whole number x >= 1, by Newton's method from above."""
    r = 1 << -(-x.bit_length() // k)
    while True:
        s = ((k - 1) * r + x // r ** (k - 1)) // k
        if s >= r:
            return r
        r = s


# Scales by their script names: degrees in semitones above the root.  Keys: the root's semitones
# above C.  `snap on` is the chromatic scale from C.
SCALES = {
    b"chromatic": tuple(range(12)),
    b"major": (0, 2, 4, 5, 7, 9, 11),
    b"minor": (0, 2, 3, 5, 7, 8, 10),
    b"major-pentatonic": (0, 2, 4, 7, 9),
    b"minor-pentatonic": (0, 3, 5, 7, 10),
    b"blues": (0, 3, 5, 6, 7, 10),
    b"whole-tone": (0, 2, 4, 6, 8, 10),
}
KEYS = (b"C", b"C#", b"D", b"D#", b"E", b"F", b"F#", b"G", b"G#", b"A", b"A#", b"B")
SEMITONES = (b"chromatic", 0)
_NOTES = range(-24, 97)       # wider than any row can reach: t runs from -11.93 to 84
_SNAPPED = {}


def snapped_note(y, snap):
    """The note (semitones from A4) nearest to t = 12 log2(128 / y) among those of the scale and
    key `snap`, the lower of two as near.

    Note n belongs when (n + 9 - key) mod 12 is a degree.  n <= t iff y^12 2^n <= 2^84, and the
    lower note a of the two around t (a <= t <= b) is as near iff 2t <= a + b, iff
    2^168 <= y^24 2^(a + b); every side is scaled by 2^60 so that negative n needs no fraction."""
    found = _SNAPPED.get((y, snap))
    if found is None:
        scale, key = snap
        notes = [n for n in _NOTES if (n + 9 - key) % 12 in SCALES[scale]]
        y12, t12 = y ** 12, 1 << (84 + 60)
        a = max(n for n in notes if y12 << (n + 60) <= t12)
        b = min(n for n in notes if y12 << (n + 60) >= t12)
        found = a if 1 << (168 + 60) <= y12 * y12 << (a + b + 60) else b
        _SNAPPED[(y, snap)] = found
    return found


_SEMITONE_PITCH = {}


def semitone_pitch(n):
    """The binary32 value nearest to 440 * 2^(n/12) (ties to even), found with whole numbers.

    q = floor(440 * 2^(n/12) * 2^40) is the twelfth root of 440^12 * 2^(n + 480), at least 47
    bits long; it is rounded to 24 significant bits, its remainder (whether the root was exact)
    deciding a tie."""
    f = _SEMITONE_PITCH.get(n)
    if f is None:
        x = 440 ** 12 << (n + 480)
        q = iroot(x, 12)
        shift = q.bit_length() - 24
        m, low = q >> shift, q & ((1 << shift) - 1)
        half = 1 << (shift - 1)
        if low > half or (low == half and (q ** 12 != x or m & 1)):
            m += 1
        f = _SEMITONE_PITCH[n] = math.ldexp(m, shift - 40)
    return f


def snapped_pitch_for(y, snap):
    return semitone_pitch(snapped_note(y, snap))


def depth_for(x):
    return f32((x - 64) / 500) if x > 64 else 0.0


class Pad:
    """The pad's button rules, per voice: ldown, lup and move address the voice last named by a
    `voice K` line (0 at the start); the right button and snap are shared."""

    def __init__(self, engine):
        self.e = engine
        self.snap_to = None              # (scale, key) or None: read at the next position
        self.voice = 0
        self.taken = lambda k: False     # whether a MIDI note holds voice k: the pad then waits

    def _set(self, v, off):
        x, y = off
        v.targetPitch = snapped_pitch_for(y, self.snap_to) if self.snap_to else pitch_for(y)
        v.vibratoDepth = depth_for(x)

    def snap(self, setting):
        self.snap_to = setting

    def address(self, k):
        self.voice = k

    def move(self, X, Y):
        off = pad_offset(X, Y)
        if off is not None and not self.taken(self.voice):
            self._set(self.e.voices[self.voice], off)

    def ldown(self, X, Y):
        if self.taken(self.voice):
            return
        e = self.e
        v = e.voices[self.voice]
        v.leftHeld = True
        v.phaseReset = True
        off = pad_offset(X, Y)
        if off is None:
            return
        v.gate = True
        e.openTakeIfIdle()
        self._set(v, off)
        v.blockCloseRequest = True       # the note opens a block of its own

    def lup(self, X, Y):
        if self.taken(self.voice):
            return
        e = self.e
        v = e.voices[self.voice]
        v.leftHeld = False
        e.closeTakeUnless(e.rightHeld or e.anyVoiceHeld())
        v.gate = False

    def rdown(self, X, Y):
        self.e.rightHeld = True

    def rup(self, X, Y):
        e = self.e
        e.rightHeld = False
        e.closeTakeUnless(e.anyVoiceHeld())


# ---------------------------------------------------------------------------
# MIDI in

_PITCH_OF_CENTS = {}


def _f32_step(f, up):
    """The binary32 value next to the positive binary32 f, above or below it."""
    bits = struct.unpack("<I", struct.pack("<f", f))[0]
    return struct.unpack("<f", struct.pack("<I", bits + (1 if up else -1)))[0]


def _exceeds(x, mid):
    """Whether 440 * 2^(x/1200) lies above the double mid, with whole numbers: raised to the
    1200th power, mid = a / b against 440 2^(x/1200) is a^1200 against 440^1200 b^1200 2^x."""
    a, b = mid.as_integer_ratio()
    lhs, rhs = a ** 1200, 440 ** 1200 * b ** 1200
    if x >= 0:
        rhs <<= x
    else:
        lhs <<= -x
    assert lhs != rhs, "no pitch lies midway between two floats"
    return rhs > lhs


def cents_pitch(x):
    """The binary32 value nearest to 440 * 2^(x/1200), x cents from A4.

    A double's estimate, rounded to binary32, is moved to its neighbour until the pitch lies
    strictly between the midpoints to the floats on either side; each midpoint is exact in a
    double, and each comparison is made with whole numbers."""
    f = _PITCH_OF_CENTS.get(x)
    if f is None:
        f = f32(440 * 2 ** (x / 1200))
        while True:
            if not _exceeds(x, (f + _f32_step(f, False)) / 2):
                f = _f32_step(f, False)
            elif _exceeds(x, (f + _f32_step(f, True)) / 2):
                f = _f32_step(f, True)
            else:
                break
        _PITCH_OF_CENTS[x] = f
    return f


def bend_cents(bend, semitones):
    """(bend - 8192) * semitones * 100 / 8192 to the nearest whole cent, halves away from zero."""
    exact = Fraction((bend - 8192) * semitones * 100, 8192)
    whole = math.floor(abs(exact) + Fraction(1, 2))
    return -whole if exact < 0 else whole


def wheel_depth(v):
    return f32(v * 3 / 1000)


MIDI_LENGTHS = {0x8: 3, 0x9: 3, 0xA: 3, 0xB: 3, 0xC: 2, 0xD: 2, 0xE: 3}


class MidiChannel:
    def __init__(self):
        self.bend = 8192
        self.semitones = 2               # the bend range
        self.rpn = (None, None)          # CC 101, CC 100: unset until sent
        self.pedal = False
        self.depth = 0.0                 # the mod wheel's


class Midi:
    """Notes on the voices: each (channel, key) sounding holds one voice until its release takes
    effect; a release that comes while the channel's pedal is down waits for the pedal."""

    def __init__(self, engine):
        self.e = engine
        self.channels = [MidiChannel() for _ in range(16)]
        self.sounding = {}               # (channel, key) -> voice
        self.waiting = set()             # (channel, key) whose release waits for the pedal

    def holds(self, k):
        return k in self.sounding.values()

    def _pitch(self, channel, key):
        c = self.channels[channel]
        return cents_pitch(100 * (key - 69) + bend_cents(c.bend, c.semitones))

    def _notes_of(self, channel):
        return sorted((v, key) for (ch, key), v in self.sounding.items() if ch == channel)

    def message(self, data):
        kind, channel = data[0] >> 4, data[0] & 15
        if kind == 0x9 and data[2] > 0:
            self._press(channel, data[1])
        elif kind in (0x8, 0x9):
            self._release(channel, data[1])
        elif kind == 0xB:
            self._controller(channel, data[1], data[2])
        elif kind == 0xE:
            c = self.channels[channel]
            c.bend = data[1] + 128 * data[2]
            for v, key in self._notes_of(channel):
                self.e.voices[v].targetPitch = self._pitch(channel, key)

    def _press(self, channel, key):
        e = self.e
        k = self.sounding.get((channel, key))
        if k is None:
            free = [j for j in range(VOICES)
                    if not e.voices[j].leftHeld and not self.holds(j)]
            if not free:
                return                   # an eleventh note: dropped
            k = free[-1]
        self.sounding[(channel, key)] = k
        self.waiting.discard((channel, key))
        v = e.voices[k]
        v.leftHeld = True
        v.phaseReset = True
        v.gate = True
        e.openTakeIfIdle()
        v.targetPitch = self._pitch(channel, key)
        v.vibratoDepth = self.channels[channel].depth
        v.blockCloseRequest = True

    def _release(self, channel, key):
        if (channel, key) not in self.sounding:
            return
        if self.channels[channel].pedal:
            self.waiting.add((channel, key))
        else:
            self._end(channel, key)

    def _end(self, channel, key):
        e = self.e
        v = e.voices[self.sounding.pop((channel, key))]
        self.waiting.discard((channel, key))
        v.leftHeld = False
        e.closeTakeUnless(e.rightHeld or e.anyVoiceHeld())
        v.gate = False

    def _controller(self, channel, number, value):
        c = self.channels[channel]
        if number == 1:
            c.depth = wheel_depth(value)
            for v, _ in self._notes_of(channel):
                self.e.voices[v].vibratoDepth = c.depth
        elif number == 101:
            c.rpn = (value, c.rpn[1])
        elif number == 100:
            c.rpn = (c.rpn[0], value)
        elif number == 6:
            if c.rpn == (0, 0) and value <= 96:
                c.semitones = value
        elif number == 64:
            c.pedal = value >= 64
            if not c.pedal:
                for _, key in self._notes_of(channel):
                    if (channel, key) in self.waiting:
                        self._end(channel, key)
        elif number in (120, 123):
            for _, key in self._notes_of(channel):
                self._end(channel, key)


# ---------------------------------------------------------------------------
# Message boxes, WAV import and take export

MSG_NOT_RIFF = "not RIFF"
MSG_NOT_WAVE = "not WAVE"
MSG_NO_CHUNK = "目的のRIFFチャンクが無い"
MSG_CHANNELS = "モノでもステレオでも無い\r\n現Verでは変換できない形式です"
MSG_FORMAT = "現Verでは変換できない形式です"
MSG_RATE = "レートが%dHzです。\r\n44100Hzじゃないです。"
MSG_DONE = "処理終了"
MSG_DEATH = "death"
CAPTION_FORMAT = "0"
CAPTION_RATE = "注意"
CAPTION_DONE = "処理終了"


def box_line(caption, text):
    """A message box as one line: CR LF becomes a space, no caption becomes Error."""
    return "%s: %s" % ("Error" if caption is None else caption, text.replace("\r\n", " "))


def find_chunk(image, n, ident, boxes):
    """Chunk walk: (data offset, declared size) or None, reporting its failures as boxes."""
    if n < 4 or image[0:4] != b"RIFF":
        boxes.append(box_line(CAPTION_FORMAT, MSG_NOT_RIFF))
        return None
    count = le32(image, 4) if n >= 8 else 0
    limit = u32(count + 1)
    count = u32(count - 4)
    if n < 12 or image[8:12] != b"WAVE":
        boxes.append(box_line(CAPTION_FORMAT, MSG_NOT_WAVE))
        return None
    count = u32(count - 4)
    p = 12
    while True:
        if count >= limit or p + 8 > n:
            boxes.append(box_line(CAPTION_FORMAT, MSG_NO_CHUNK))
            return None
        limit = u32(count + 1)
        cid = image[p:p + 4]
        size = le32(image, p + 4)
        p += 8
        count = u32(count - 8)
        if cid == ident:
            return p, size
        p += size
        count = u32(count - size)


def read_whole_file(path):
    """The file's bytes, or None when it cannot be opened, is empty, or cannot be read in full."""
    try:
        fd = os.open(path, os.O_RDONLY)
    except (OSError, ValueError):        # ValueError: a NUL byte in the path
        return None
    try:
        try:
            st = os.fstat(fd)
        except OSError:
            return None
        if not stat.S_ISREG(st.st_mode):
            return None
        n = st.st_size & 0xFFFFFFFF      # the low 32 bits, as the size query gives them
        if n == 0:
            return None
        chunks = []
        got = 0
        try:
            while got < n:
                b = os.read(fd, n - got)
                if not b:
                    break
                chunks.append(b)
                got += len(b)
        except OSError:
            return None
        if got < n:
            return None
        return b"".join(chunks)
    finally:
        os.close(fd)


def return_to_default(e):
    """The built-in tone command: withdrawn, the default table ready, the phase from the start."""
    e.tableReady = False
    e.useDefaultTable()
    e.tableReady = True
    e.resetPhases()


def import_wav(engine, path, boxes):
    """The load command, confirmed with path."""
    e = engine
    e.tableReady = False
    e.resetPhases()
    image = read_whole_file(path)
    if image is None:
        e.tableReady = True              # the previous table stays
        return
    n = len(image)
    e.resetPhases()

    def fall_back(reset):
        e.useDefaultTable()
        e.tableReady = True
        if reset:
            e.resetPhases()

    fmt = find_chunk(image, n, b"fmt ", boxes)
    if fmt is None:
        fall_back(False)
        return
    p, _ = fmt
    if n - p < 16:
        # Channels, rate and bits are not all present in the file.
        boxes.append(box_line(CAPTION_FORMAT, MSG_FORMAT))
        fall_back(True)
        return
    channels = le16(image, p + 2)
    rate = le32(image, p + 4)
    bits = le16(image, p + 14)
    if channels not in (1, 2):
        boxes.append(box_line(CAPTION_FORMAT, MSG_CHANNELS))
        fall_back(True)
        return
    if bits not in (8, 16):
        boxes.append(box_line(CAPTION_FORMAT, MSG_FORMAT))
        fall_back(True)
        return
    if rate != 44100:
        signed = rate - 0x100000000 if rate & 0x80000000 else rate
        boxes.append(box_line(CAPTION_RATE, MSG_RATE % signed))
    data = find_chunk(image, n, b"data", boxes)
    if data is None:
        fall_back(True)
        return
    d, m = data
    m = min(m, n - d)                    # the data ends with the file at the latest
    if bits == 8:
        # (d[i] - 128) taken as a signed byte, times 256: 0 -> -32768, 128 -> 0, 255 -> 32512
        table = array("h", [(b - 128) * 256 for b in image[d:d + m]])
    else:
        # Samples used where they lie; d may be odd.
        table = array("h", image[d:d + (m // 2) * 2])
        if not LITTLE:
            table.byteswap()
    if channels == 2:
        k = len(table)
        mixed = [0] * (k // 2)
        for i in range(k // 2):
            s = table[2 * i] + table[2 * i + 1]
            mixed[i] = -((-s) // 2) if s < 0 else s // 2      # truncated toward zero
        table = array("h", mixed)
    e.table = table
    e.tableLength = len(table)
    e.tableReady = True
    e.resetPhases()


def take_header(length):
    return (b"RIFF" + struct.pack("<I", length + 36) + b"WAVE" + b"fmt "
            + struct.pack("<IHHIIHH", 16, 1, 1, 44100, 88200, 2, 16)
            + b"data" + struct.pack("<I", length))


def stream_header(data_bytes):
    return (b"RIFF" + struct.pack("<I", data_bytes + 36) + b"WAVE" + b"fmt "
            + struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16)
            + b"data" + struct.pack("<I", data_bytes))


def _create(path):
    try:
        return os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666)
    except (OSError, ValueError):
        return None


def create_for_write_making_dirs(path, boxes):
    """Create path for writing, making missing directories one level per attempt; fd or None.

    Each attempt scans leftwards from the end of the path for a '/' and tries to make the
    directory named by the prefix before it; the first one made starts the next attempt.  An
    attempt that only finds an existing directory has changed nothing, so the file still cannot
    be created: give up then, as when the scan runs out.
    """
    while True:
        fd = _create(path)
        if fd is not None:
            return fd
        n = len(path)
        made = False
        while True:
            n -= 1
            if n < 0:
                break
            if path[n] != 0x2F:
                continue
            try:
                os.mkdir(path[:n], 0o777)
                made = True
                break
            except OSError as ex:
                if ex.errno == errno.EEXIST:
                    break
            except ValueError:
                pass
        if not made:
            boxes.append(box_line(None, MSG_DEATH))
            return None


def export_take(engine, path, boxes):
    """The save command, confirmed with path."""
    export_samples(engine.takeBytes(), path, boxes)


def export_loop(engine, path, boxes):
    """`loop save PATH`: the loop's samples, by the take's rules and messages."""
    a = array("h", engine.looper.samples())
    if not LITTLE:
        a.byteswap()
    export_samples(a.tobytes(), path, boxes)


def export_samples(data, path, boxes):
    """A 16-bit mono WAV file of data; nothing at all when there is none."""
    length = len(data)
    if length == 0:
        return
    fd = create_for_write_making_dirs(path, boxes)
    if fd is None:
        return
    ok = True
    try:
        for part in (take_header(length), data):
            try:
                if os.write(fd, part) != len(part):
                    ok = False
            except OSError:
                ok = False
            if not ok:
                break
    finally:
        os.close(fd)
    if ok:
        boxes.append(box_line(CAPTION_DONE, MSG_DONE))
    else:
        boxes.append(box_line(None, MSG_DEATH))


# ---------------------------------------------------------------------------
# Scripts

class ScriptError(Exception):
    def __init__(self, line_no, what):
        Exception.__init__(self, "line %d: %s" % (line_no, what))
        self.line_no = line_no


def parse_snap(i, args):
    """`snap on` (every semitone from C), `snap off` (None) or `snap SCALE KEY`."""
    if args in ([b"on"], [b"off"]):
        return SEMITONES if args[0] == b"on" else None
    if not args or args[0] not in SCALES:
        raise ScriptError(i, "snap needs on, off or a known scale and a key")
    if len(args) != 2 or args[1] not in KEYS:
        raise ScriptError(i, "snap %s needs one key of C C# ... B" % args[0].decode())
    return args[0], KEYS.index(args[1])


_HEX_BYTE = re.compile(rb"[0-9A-Fa-f]{2}\Z")


def parse_midi(i, args):
    """`midi HH HH [HH]`: one channel message, as Web MIDI hands them over, bytes in hexadecimal."""
    if not args or not all(_HEX_BYTE.match(a) for a in args):
        raise ScriptError(i, "midi needs bytes of two hexadecimal digits")
    data = bytes(int(a, 16) for a in args)
    if not 0x80 <= data[0] < 0xF0:
        raise ScriptError(i, "midi needs a channel status byte, 80 to EF")
    if any(b >= 0x80 for b in data[1:]):
        raise ScriptError(i, "midi data bytes lie below 80")
    if len(data) != MIDI_LENGTHS[data[0] >> 4]:
        raise ScriptError(i, "a %Xn message is %d bytes long" % (data[0] >> 4,
                                                               MIDI_LENGTHS[data[0] >> 4]))
    return data


LOOP_WORDS = (b"stop", b"undo", b"clear")
TAKE_WORDS = (b"play", b"stop")


def parse_control(i, name, rest):
    """`loop` ("press"), `loop stop|undo|clear`, `loop save PATH` (the path), `take play|stop`."""
    m = _BLANKS.search(rest)
    word = rest[:m.start()] if m else rest
    after = rest[m.end():].rstrip(b" \t") if m else b""
    if name == b"loop" and word == b"":
        return "press"
    if name == b"loop" and word == b"save":
        if not after:
            raise ScriptError(i, "loop save needs a path")
        if len(after) > PATH_MAX_BYTES:
            raise ScriptError(i, "path longer than %d bytes" % PATH_MAX_BYTES)
        return after
    if word not in (LOOP_WORDS if name == b"loop" else TAKE_WORDS):
        raise ScriptError(i, "%s: unknown or missing word" % name.decode())
    if after:
        raise ScriptError(i, "%s %s takes nothing after it" % (name.decode(), word.decode()))
    return word.decode()


_INT = re.compile(rb"-?[0-9]+\Z")
_COUNT = re.compile(rb"[0-9]+\Z")
_BLANKS = re.compile(rb"[ \t]+")
POINTER_COMMANDS = (b"move", b"ldown", b"lup", b"rdown", b"rup")
PATH_COMMANDS = (b"load", b"save")


def parse_script(data):
    """Commands as (line number, name, args); raises ScriptError on the first malformed line."""
    commands = []
    total_frames = 0
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    for i, raw in enumerate(lines, 1):
        line = raw[:-1] if raw.endswith(b"\r") else raw
        body = line.lstrip(b" \t")
        if not body or body.startswith(b"#"):
            continue
        m = _BLANKS.search(body)
        name = body[:m.start()] if m else body
        rest = body[m.end():] if m else b""
        if name in PATH_COMMANDS:
            path = rest.rstrip(b" \t")
            if not path:
                raise ScriptError(i, "%s needs a path" % name.decode())
            if len(path) > PATH_MAX_BYTES:
                raise ScriptError(i, "path longer than %d bytes" % PATH_MAX_BYTES)
            commands.append((i, name.decode(), path))
            continue
        args = _BLANKS.split(rest.rstrip(b" \t")) if rest.strip(b" \t") else []
        if name in POINTER_COMMANDS:
            if len(args) != 2 or not all(_INT.match(a) for a in args):
                raise ScriptError(i, "%s needs two integers" % name.decode())
            x, y = int(args[0]), int(args[1])
            if not (-32768 <= x <= 65535 and -32768 <= y <= 65535):
                raise ScriptError(i, "coordinate out of range")
            commands.append((i, name.decode(), (x & 0xFFFF, y & 0xFFFF)))
        elif name in (b"loop", b"take"):
            commands.append((i, name.decode(), parse_control(i, name, rest)))
        elif name == b"snap":
            commands.append((i, "snap", parse_snap(i, args)))
        elif name == b"voice":
            if len(args) != 1 or not _COUNT.match(args[0]) or int(args[0]) >= VOICES:
                raise ScriptError(i, "voice needs a number from 0 to %d" % (VOICES - 1))
            commands.append((i, "voice", int(args[0])))
        elif name == b"midi":
            commands.append((i, "midi", parse_midi(i, args)))
        elif name == b"default":
            if args:
                raise ScriptError(i, "default takes nothing after it")
            commands.append((i, "default", None))
        elif name in (b"render", b"frames"):
            if len(args) != 1 or not _COUNT.match(args[0]):
                raise ScriptError(i, "%s needs one count" % name.decode())
            count = int(args[0]) * (FRAMES_PER_BLOCK if name == b"render" else 1)
            total_frames += count
            if total_frames * 4 > STREAM_DATA_LIMIT:
                raise ScriptError(i, "output stream would exceed the WAV size limit")
            commands.append((i, "render", count))
        else:
            shown = name.decode("utf-8", "replace")
            raise ScriptError(i, "unknown command '%s'" % shown)
    return commands, total_frames


class Session:
    """The state right after start-up, driven by script commands."""

    def __init__(self, on_box=None):
        self.engine = Engine()
        self.pad = Pad(self.engine)
        self.midi = Midi(self.engine)
        self.pad.taken = self.midi.holds
        self.boxes = []
        self.on_box = on_box

    def _flush_boxes(self):
        if self.on_box:
            for b in self.boxes:
                self.on_box(b)
        self.boxes = []

    def run(self, commands, write):
        e = self.engine
        for _, name, arg in commands:
            if name == "render":
                left = arg
                while left > 0:
                    n = min(left, FRAMES_PER_BLOCK)
                    write(stereo_frames(e.renderFrames(n)))
                    left -= n
            elif name == "load":
                import_wav(e, arg, self.boxes)
            elif name == "save":
                export_take(e, arg, self.boxes)
            elif name == "loop":
                self.loop(arg)
            elif name == "take":
                if arg == "play":
                    e.playback.play(e.takeSamples())
                else:
                    e.playback.stop()
            elif name == "snap":
                self.pad.snap(arg)
            elif name == "default":
                return_to_default(e)
            elif name == "voice":
                self.pad.address(arg)
            elif name == "midi":
                self.midi.message(arg)
            else:
                getattr(self.pad, name)(*arg)
            self._flush_boxes()


    def loop(self, action):
        looper = self.engine.looper
        if action == "press":
            looper.press()
        elif action == "stop":
            looper.stop()
        elif action == "undo":
            looper.undo()
        elif action == "clear":
            looper.clear()
        else:
            export_loop(self.engine, action, self.boxes)


def fail(msg, status=1):
    sys.stderr.write("tonvarel-render: %s\n" % msg)
    sys.stderr.flush()
    return status


def main(argv):
    script = out = None
    args = list(argv)
    i = 0
    while i < len(args):
        a = args[i]
        if a == "--out":
            if i + 1 >= len(args) or out is not None:
                return fail("usage: tonvarel-render SCRIPT --out STREAM.wav", 2)
            out = args[i + 1]
            i += 2
            continue
        if script is not None:
            return fail("usage: tonvarel-render SCRIPT --out STREAM.wav", 2)
        script = a
        i += 1
    if script is None or out is None:
        return fail("usage: tonvarel-render SCRIPT --out STREAM.wav", 2)
    try:
        with open(script, "rb") as f:
            data = f.read()
    except OSError as ex:
        return fail("cannot read script %s: %s" % (script, ex.strerror))
    try:
        commands, total_frames = parse_script(data)
    except ScriptError as ex:
        return fail("%s: %s" % (script, ex))

    err = sys.stderr.buffer

    def on_box(line):
        err.write(line.encode("utf-8") + b"\n")
        err.flush()

    try:
        f = open(out, "wb")
    except OSError as ex:
        return fail("cannot create %s: %s" % (out, ex.strerror))
    try:
        with f:
            f.write(stream_header(total_frames * 4))
            Session(on_box).run(commands, f.write)
    except OSError as ex:
        try:
            os.remove(out)
        except OSError:
            pass
        return fail("cannot write %s: %s" % (out, ex.strerror))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
