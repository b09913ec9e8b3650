#!/usr/bin/env python3
"""tonvarel-voice on WAV files written here: a stereo 8-bit and a mono 16-bit recording become
44,100 Hz 16-bit mono loops that the renderer's load command takes without a message box; bad
inputs and outputs each give one line on stderr, exit status 1 and no output file.

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
        refused("bits24", wav(1, 24, 44100, tone(220, 44100, 0.5, 1)), "24-bit samples", folder)
        refused("float", wav(1, 16, 44100, tone(220, 44100, 0.5, 1), tag=3), "not PCM", folder)
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
