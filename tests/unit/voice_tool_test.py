#!/usr/bin/env python3
"""tonvarel-voice on WAV files written here: a stereo 8-bit and a mono 16-bit recording become
44,100 Hz 16-bit mono loops that the renderer's load command takes without a message box; the same
tone in every sample format the tool reads gives a loop at 440 Hz, the same bytes wherever the
samples are the same; bad inputs and outputs each give one line on stderr, exit status 1 and no
output file.

    voice_tool_test.py PATH_TO_tonvarel-voice PATH_TO_tonvarel-render
"""
import math
import os
import random
import re
import struct
import subprocess
import sys
import tempfile

VOICE, RENDER = sys.argv[1], sys.argv[2]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def wav(channels, bits, rate, frames, extra_chunks=b"", tag=1):
    """A WAV image; `frames` holds one tuple of channel values (-1..1) per frame."""
    data = bytearray()
    for frame in frames:
        for value in frame:
            if bits == 8:
                data += struct.pack("<B", max(0, min(255, round(128 + 127 * value))))
            elif bits == 16:
                data += struct.pack("<h", round(32000 * value))
            else:  # 24
                data += struct.pack("<i", round(8000000 * value))[:3]
    block = channels * bits // 8
    fmt = struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + extra_chunks
    body += b"data" + struct.pack("<I", len(data)) + bytes(data)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def tone(hz, rate, seconds, channels):
    """A voice-like tone: a fundamental and a few harmonics, a little different per channel."""
    frames = []
    for i in range(int(rate * seconds)):
        p = 2 * math.pi * hz * i / rate
        value = 0.5 * math.sin(p) + 0.3 * math.sin(2 * p + 0.5) + 0.15 * math.sin(3 * p + 1.0)
        frames.append(tuple(value * (1.0 - 0.2 * c) for c in range(channels)))
    return frames


# The sub-format GUID of WAVE_FORMAT_EXTENSIBLE after its first two bytes (the real tag).
GUID_TAIL = bytes([0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B,
                   0x71])
# How one 16-bit value is written at each depth so that it stays the same sample.
ENCODERS = {
    ("pcm", 8): lambda v: struct.pack("<B", (v >> 8) + 128),  # coarser: another sample
    ("pcm", 16): lambda v: struct.pack("<h", v),
    ("pcm", 24): lambda v: struct.pack("<i", v * 256)[:3],
    ("pcm", 32): lambda v: struct.pack("<i", v * 65536),
    ("float", 32): lambda v: struct.pack("<f", v / 32768),
    ("float", 64): lambda v: struct.pack("<d", v / 32768),
}


def encoded(kind, bits, rate, frames, extensible=False):
    """A WAV image of 16-bit `frames` (tuples of channel values) at any depth and tag."""
    channels = len(frames[0])
    encode = ENCODERS[(kind, bits)]
    data = b"".join(encode(v) for frame in frames for v in frame)
    tag = 1 if kind == "pcm" else 3
    block = channels * bits // 8
    fmt = struct.pack("<HHIIHH", 0xFFFE if extensible else tag, channels, rate, rate * block,
                      block, bits)
    if extensible:  # cbSize, valid bits, the speakers (front left, and right), the sub-format
        fmt += struct.pack("<HHIH", 22, bits, 3 if channels == 2 else 4, tag) + GUID_TAIL
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
    body += b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def sixteen_bit_tone(hz, rate, seconds, channels):
    """One rising zero crossing a period, a little quieter on the right, rounded to 16 bits."""
    frames = []
    for i in range(int(rate * seconds)):
        p = 2 * math.pi * hz * i / rate
        value = 0.6 * math.sin(p) + 0.2 * math.sin(2 * p + 0.3)
        frames.append(tuple(round(20000 * value * (1.0 - 0.25 * c)) for c in range(channels)))
    return frames


def table_pitch(samples):
    """The pitch the table plays at, from the spacing of its rising zero crossings (placed
    between samples), read around the loop once."""
    looped = samples + samples[:1]
    crossings = [i + looped[i] / (looped[i] - looped[i + 1]) for i in range(len(samples))
                 if looped[i] < 0 <= looped[i + 1]]
    return 44100 * (len(crossings) - 1) / (crossings[-1] - crossings[0])


def every_format(folder):
    """The same tone in each format: every loop plays at 440 Hz within 2 cents, and the loops
    made of the same samples are the same bytes."""
    mono = sixteen_bit_tone(220, 48000, 1.0, 1)
    stereo = sixteen_bit_tone(220, 48000, 1.0, 2)
    # name, kind, bits, extensible, frames, rate; rows of one group hold the same samples.
    cases = [
        ("mono", "pcm", 16, False, mono, 48000),
        ("mono", "pcm", 24, False, mono, 48000),
        ("mono", "pcm", 32, False, mono, 48000),
        ("mono", "float", 32, False, mono, 48000),
        ("mono", "float", 64, False, mono, 48000),
        ("mono", "pcm", 24, True, mono, 48000),
        ("mono", "float", 32, True, mono, 48000),
        ("stereo", "pcm", 16, False, stereo, 48000),
        ("stereo", "pcm", 24, False, stereo, 48000),
        ("stereo", "pcm", 32, True, stereo, 48000),
        ("stereo", "float", 32, False, stereo, 48000),
        ("stereo", "float", 64, True, stereo, 48000),
        ("8-bit", "pcm", 8, False, mono, 48000),
        ("8 kHz", "pcm", 24, False, sixteen_bit_tone(220, 8000, 1.0, 1), 8000),
        ("192 kHz", "float", 32, False, sixteen_bit_tone(220, 192000, 1.0, 2), 192000),
    ]
    made_from = {}
    for group, kind, bits, extensible, frames, rate in cases:
        name = f"{group} {kind}{bits}{' extensible' if extensible else ''} at {rate}"
        source = os.path.join(folder, "format.wav")
        out = os.path.join(folder, "format-voice.wav")
        with open(source, "wb") as f:
            f.write(encoded(kind, bits, rate, frames, extensible))
        result = run_voice(source, out)
        if not check(result.returncode == 0, f"{name}: exit {result.returncode}: {result.stderr}"):
            continue
        with open(out, "rb") as f:
            image = f.read()
        samples = list(struct.unpack_from(f"<{(len(image) - 44) // 2}h", image, 44))
        cents = 1200 * math.log2(table_pitch(samples) / 440)
        check(abs(cents) < 2, f"{name}: the loop plays {cents:+.2f} cents from 440 Hz")
        first = made_from.setdefault(group, (name, image))
        check(first[1] == image, f"{name}: not the bytes made from {first[0]}")


def run_voice(source, out):
    return subprocess.run([VOICE, source, out], capture_output=True, text=True)


def read_header(path):
    with open(path, "rb") as f:
        image = f.read()
    riff, size, wave, fmt_id, fmt_size = struct.unpack_from("<4sI4s4sI", image, 0)
    tag, channels, rate, byte_rate, block, bits = struct.unpack_from("<HHIIHH", image, 20)
    data_id, data_size = struct.unpack_from("<4sI", image, 36)
    return dict(riff=riff, size=size, wave=wave, fmt=fmt_id, fmt_size=fmt_size, tag=tag,
                channels=channels, rate=rate, byte_rate=byte_rate, block=block, bits=bits,
                data=data_id, data_size=data_size, length=len(image))


def made(name, image, hz, folder):
    source, out = os.path.join(folder, name + ".wav"), os.path.join(folder, name + "-voice.wav")
    with open(source, "wb") as f:
        f.write(image)
    result = run_voice(source, out)
    if not check(result.returncode == 0, f"{name}: exit {result.returncode}: {result.stderr}"):
        return
    line = re.fullmatch(r"tonvarel-voice: ([\d,]+\.\d) Hz, (\d+) periods, ([\d,]+) samples\n",
                        result.stdout)
    if not check(line is not None, f"{name}: printed {result.stdout!r}"):
        return
    found = float(line.group(1).replace(",", ""))
    samples = int(line.group(3).replace(",", ""))
    check(abs(1200 * math.log2(found / hz)) < 5, f"{name}: {found} Hz for {hz} Hz")
    header = read_header(out)
    expected = dict(riff=b"RIFF", size=36 + 2 * samples, wave=b"WAVE", fmt=b"fmt ", fmt_size=16,
                    tag=1, channels=1, rate=44100, byte_rate=88200, block=2, bits=16,
                    data=b"data", data_size=2 * samples, length=44 + 2 * samples)
    check(header == expected, f"{name}: header {header}")
    check(not os.path.exists(out + ".partial"), f"{name}: a partial file is left")

    # The program's own load command takes it: no message box, which the renderer would print.
    script = os.path.join(folder, name + ".txt")
    with open(script, "w") as f:
        f.write(f"load {out}\nldown 192 192\nrender 2\n")
    render = subprocess.run([RENDER, script, "--out", os.path.join(folder, name + "-play.wav")],
                            capture_output=True, text=True)
    check(render.returncode == 0 and render.stderr == "",
          f"{name}: the load said {render.stderr!r} (exit {render.returncode})")


def refused(name, image, complaint, folder, out_name=None, keep=None):
    source = os.path.join(folder, name + ".wav")
    if image is not None:
        with open(source, "wb") as f:
            f.write(image)
    out = os.path.join(folder, out_name or name + "-voice.wav")
    if keep is not None:
        with open(out, "wb") as f:
            f.write(keep)
    result = run_voice(source, out)
    check(result.returncode == 1, f"{name}: exit {result.returncode}")
    check(result.stdout == "", f"{name}: printed {result.stdout!r}")
    lines = result.stderr.splitlines()
    check(len(lines) == 1 and lines[0].startswith("tonvarel-voice: ") and complaint in lines[0],
          f"{name}: said {result.stderr!r}, not {complaint!r}")
    if keep is None:
        check(not os.path.exists(out), f"{name}: an output file was left")
    else:
        with open(out, "rb") as f:
            check(f.read() == keep, f"{name}: the file already there was changed")
    check(not os.path.exists(out + ".partial"), f"{name}: a partial file is left")


def main():
    noise = random.Random(19)
    list_chunk = b"LIST" + struct.pack("<I", 4) + b"INFO"
    with tempfile.TemporaryDirectory() as folder:
        made("stereo8_22050", wav(2, 8, 22050, tone(330, 22050, 1.0, 2)), 330, folder)
        made("mono16_48000", wav(1, 16, 48000, tone(147, 48000, 1.0, 1), list_chunk), 147, folder)

        refused("not_wav", b"just some text, not a sound\n", "not a WAV file", folder)
        refused("missing", None, "cannot read", folder)
        every_format(folder)

        refused("bits20", wav(1, 24, 44100, tone(220, 44100, 0.5, 1))[:34] + b"\x14\x00" +
                wav(1, 24, 44100, tone(220, 44100, 0.5, 1))[36:], "20-bit samples", folder)
        refused("float16", wav(1, 16, 44100, tone(220, 44100, 0.5, 1), tag=3),
                "16-bit floating-point samples", folder)
        refused("adpcm", wav(1, 16, 44100, tone(220, 44100, 0.5, 1), tag=2), "compressed",
                folder)
        refused("channels3", wav(3, 16, 44100, tone(220, 44100, 0.5, 3)), "3 channels", folder)
        refused("short", wav(1, 16, 44100, tone(220, 44100, 0.1, 1)), "too short", folder)
        refused("noise", wav(1, 16, 44100, [(noise.uniform(-0.5, 0.5),) for _ in range(44100)]),
                "no steady pitch", folder, keep=b"an earlier voice")
        refused("silence", wav(1, 16, 44100, [(0.0,)] * 44100), "silent", folder)
        refused("unwritable", wav(1, 16, 44100, tone(220, 44100, 0.5, 1)), "cannot write",
                folder, out_name="no-such-folder/voice.wav")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
