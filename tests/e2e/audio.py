"""Reading and judging sound: notes in a captured stream, pitch from sign changes, WAV files, the
headless renderer, and a frame-exact model of one held note for matching a capture whose
vibrato oscillator stood at an unknown point when the key went down.
"""

import array
import os
import struct
import subprocess
import wave

RATE = 44100
BLOCK_FRAMES = 1500

_f32 = struct.Struct("<f")


def f32(x):
    """x rounded to single precision."""
    return _f32.unpack(_f32.pack(x))[0]


# ---- streams ------------------------------------------------------------------------------

def split_channels(interleaved):
    return interleaved[0::2], interleaved[1::2]


def notes(samples, min_gap=1000):
    """(start, end) of each stretch of sound, end exclusive; stretches closer than min_gap
    frames are one note (a table may hold a few zero samples in a row)."""
    found = []
    start = last = None
    for i, v in enumerate(samples):
        if v:
            if start is None:
                start = i
            elif i - last > min_gap:
                found.append((start, last + 1))
                start = i
            last = i
    if start is not None:
        found.append((start, last + 1))
    return found


def first_nonzero(samples, begin=0):
    """Index of the first non-zero sample at or after begin, or None."""
    tail = samples[begin:].tobytes()
    skipped = len(tail) - len(tail.lstrip(b"\0"))
    return None if skipped == len(tail) else begin + skipped // 2


def last_nonzero(samples):
    """Index of the last non-zero sample, or None."""
    kept = len(samples.tobytes().rstrip(b"\0"))
    return None if kept == 0 else (kept - 1) // 2


def sign_changes(samples):
    """Positions i where samples[i] and samples[i - 1] lie on different sides of zero."""
    changes = []
    previous = samples[0] if samples else 0
    for i in range(1, len(samples)):
        v = samples[i]
        if (v >= 0) != (previous >= 0):
            changes.append(i)
        previous = v
    return changes


def frequency(samples):
    """Mean frequency of a stretch of a periodic wave with two sign changes per period."""
    changes = sign_changes(samples)
    if len(changes) < 3:
        return 0.0
    return (len(changes) - 1) / 2 / ((changes[-1] - changes[0]) / RATE)


def window_frequencies(samples, window):
    """(start, frequency) for consecutive windows of the given length."""
    return [(i, frequency(samples[i:i + window]))
            for i in range(0, len(samples) - window + 1, window)]


def plateaus(samples, window, tolerance=0.005, min_windows=3):
    """Stretches where the window frequency holds within tolerance for at least min_windows
    windows: (first window start, frequency of the stretch, window count)."""
    found = []
    run = []
    for start, freq in window_frequencies(samples, window):
        if run and abs(freq - run[0][1]) <= tolerance * run[0][1]:
            run.append((start, freq))
            continue
        if len(run) >= min_windows:
            found.append(run)
        run = [(start, freq)]
    if len(run) >= min_windows:
        found.append(run)
    return [(r[0][0], frequency(samples[r[0][0]:r[-1][0] + window]), len(r)) for r in found]


def index_of(haystack, needle, begin=0):
    """First index at or after begin where the int16 array needle occurs in haystack, or -1."""
    hay, pin = haystack.tobytes(), needle.tobytes()
    position = hay.find(pin, 2 * begin)
    while position != -1 and position % 2:
        position = hay.find(pin, position + 1)
    return -1 if position == -1 else position // 2


# ---- WAV files ----------------------------------------------------------------------------

def read_wav(path):
    """(channels, rate, bits, samples as array of int16 for 16-bit data)."""
    with wave.open(path, "rb") as w:
        channels, width, rate, count = (w.getnchannels(), w.getsampwidth(), w.getframerate(),
                                        w.getnframes())
        data = w.readframes(count)
    samples = array.array("h")
    if width == 2:
        samples.frombytes(data)
    return channels, rate, width * 8, samples


def render(renderer, script_lines, work, name):
    """Runs the headless renderer; returns (left channel, stderr text)."""
    script = os.path.join(work, f"{name}.txt")
    out = os.path.join(work, f"{name}.wav")
    with open(script, "w") as f:
        f.write("\n".join(script_lines) + "\n")
    result = subprocess.run([renderer, script, "--out", out], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    if result.returncode != 0:
        raise AssertionError(f"the renderer refused {script}: "
                             f"{result.stderr.decode(errors='replace')}")
    channels, rate, bits, samples = read_wav(out)
    if (channels, rate, bits) != (2, RATE, 16):
        raise AssertionError(f"the renderer wrote {channels} ch, {rate} Hz, {bits} bit")
    left, right = split_channels(samples)
    if left != right:
        raise AssertionError("the renderer's channels differ")
    return left, result.stderr.decode("utf-8", errors="replace")


# ---- a held note, frame by frame ----------------------------------------------------------

def default_table():
    """The built-in table: 440 Hz square wave of amplitude 1000, one second long."""
    table = array.array("h", bytes(2 * RATE))
    value, acc = 1000, 0
    for i in range(RATE):
        table[i] = value
        acc += 880
        if acc >= RATE:
            acc -= RATE
            value = -value
    return table


def vibrato_cycle():
    """Oscillator values of one full 2,000-frame period, taken once the first rise (whose
    first 100 frames differ in their last bits) is long past: cycle[k] is the value of
    process frame number 4000 + k (counting from 1), and every frame n >= 101 has the value
    cycle[(n - 4000) % 2000]."""
    value, step, counter = 0.0, f32(0.005), 500
    cycle = []
    for n in range(1, 6000):
        counter += 1
        value = f32(value + step)
        if counter >= 1000:
            counter = 0
            step = -step
        if n >= 4000:
            cycle.append(value)
    return cycle


class HeldNote:
    """One note at a constant pitch and depth, the phase restarted at 0 on the key's frame.

    samples(k, n): the first n samples when the key's frame has oscillator value cycle[k]."""

    def __init__(self, table, pitch, depth):
        self.table = table
        self.length = float(len(table))
        cycle = vibrato_cycle()
        pitch = f32(pitch)
        depth = f32(depth)
        self.increments = []
        for lfo in cycle:
            inc = f32(lfo * depth * pitch)
            inc = f32(inc + pitch)
            inc = f32(inc / 440.0)
            self.increments.append(inc)

    def samples(self, k, n, expected=None):
        """The first n samples; with expected given, stops at the first sample that differs
        from it and returns what was made up to and including that sample."""
        table, length, incs = self.table, self.length, self.increments
        out = array.array("h", bytes(2 * n))
        phase = 0.0
        for i in range(n):
            phase = f32(phase + incs[(k + i) % 2000])
            while True:
                wrapped = False
                if not phase < length:
                    phase = f32(phase - length)
                    wrapped = True
                if phase < 0.0:
                    phase = f32(phase + length)
                    wrapped = True
                if not wrapped:
                    break
            out[i] = table[int(phase)]
            if expected is not None and out[i] != expected[i]:
                return out[:i + 1]
        return out

    def match(self, captured, probe=200):
        """Oscillator offsets k whose note begins exactly as captured does."""
        head = captured[:probe]
        return [k for k in range(2000) if self.samples(k, len(head), head) == head]
