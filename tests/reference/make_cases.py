#!/usr/bin/env python3
"""Writes a corpus of renderer scripts and WAV files for checking tonvarel-render.

    make_cases.py OUTDIR

The corpus is the same on every run (fixed seed).  OUTDIR receives:
  wav/            input files for the load command, good and broken
  scripts/NAME.txt  one script per case
  saves/NAME/     where the case's save commands write; some hold files or directories that
                  must exist before the case runs (they are created here)
  cases.json      the list of cases: name, script, save root, and for refused scripts the
                  line the refusal must name
All paths inside the scripts are absolute paths inside OUTDIR.
"""

import json
import os
import random
import shutil
import struct
import sys
from array import array

SEED = 20240611
LITTLE = sys.byteorder == "little"

# client positions: the pad's offset (x, y) lies at (x + 64, y + 64)


def pos(x, y):
    return "%d %d" % (x + 64, y + 64)


# ---------------------------------------------------------------------------
# WAV building

def chunk(ident, payload, size=None):
    """A chunk; size overrides the declared size (to lie about it)."""
    return ident + struct.pack("<I", len(payload) if size is None else size) + payload


def fmt_payload(channels, rate, bits, tag=1, extra=b""):
    align = channels * bits // 8
    byte_rate = (rate * align) & 0xFFFFFFFF
    return struct.pack("<HHIIHH", tag, channels, rate, byte_rate, align & 0xFFFF, bits) + extra


def riff(body, size=None):
    return b"RIFF" + struct.pack("<I", len(body) + 4 if size is None else size) + b"WAVE" + body


def wav(channels, rate, bits, data, tag=1):
    return riff(chunk(b"fmt ", fmt_payload(channels, rate, bits, tag)) + chunk(b"data", data))


def pcm16(samples):
    a = array("h", samples)
    if not LITTLE:
        a.byteswap()
    return a.tobytes()


def wav_files(rng):
    """name -> bytes."""
    f = {}
    noise16 = [rng.randint(-32768, 32767) for _ in range(3001)]
    saw = [(i * 737) % 20000 - 10000 for i in range(1000)]
    bytes8 = bytes(rng.randint(0, 255) for _ in range(2001))

    f["m16.wav"] = wav(1, 44100, 16, pcm16(saw))
    f["m8.wav"] = wav(1, 44100, 8, bytes8)
    f["m8_ends.wav"] = wav(1, 44100, 8, bytes([0, 128, 255, 1, 127, 129] * 50))
    f["s16.wav"] = wav(2, 44100, 16, pcm16(noise16))            # 3001 samples: one unpaired
    f["s16_pairs.wav"] = wav(2, 44100, 16, pcm16([-3, 0, 3, 0, -32768, -32768, 32767, 32767,
                                                  -1, 0, 1, 0, -5, 2, 5, -2] * 40))
    f["s8.wav"] = wav(2, 44100, 8, bytes8[:701])                 # odd byte count
    f["m16_22050.wav"] = wav(1, 22050, 16, pcm16(saw))
    f["m8_11025.wav"] = wav(1, 11025, 8, bytes8[:999])
    f["rate_ffffffff.wav"] = wav(1, 0xFFFFFFFF, 16, pcm16(saw[:100]))
    f["rate_80000000.wav"] = wav(1, 0x80000000, 16, pcm16(saw[:100]))
    f["rate_0.wav"] = wav(2, 0, 8, bytes8[:64])
    f["ch3.wav"] = wav(3, 44100, 16, pcm16(noise16[:300]))
    f["ch0.wav"] = wav(0, 44100, 16, pcm16(noise16[:300]))
    f["bits24.wav"] = wav(1, 44100, 24, bytes(rng.randint(0, 255) for _ in range(300)))
    f["bits12.wav"] = wav(1, 22050, 12, pcm16(saw[:100]))       # format refused before the rate
    f["tag3_16.wav"] = wav(1, 44100, 16, pcm16(saw[:500]), tag=3)
    f["tagfffe_16.wav"] = wav(2, 44100, 16, pcm16(noise16[:800]), tag=0xFFFE)
    # chunk layout
    f["list_before.wav"] = riff(chunk(b"LIST", b"INFOISFT" + struct.pack("<I", 6) + b"abcde\0")
                                + chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                + chunk(b"LIST", b"INFOICMT" + struct.pack("<I", 4) + b"xyz\0")
                                + chunk(b"data", pcm16(saw[:600]))
                                + chunk(b"smpl", bytes(36)))
    f["odd_before_fmt.wav"] = riff(chunk(b"junk", b"abc") + b"\0"
                                   + chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                   + chunk(b"data", pcm16(saw[:400])))
    f["odd_before_data.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                    + chunk(b"junk", b"abcde") + b"\0"
                                    + chunk(b"data", pcm16(saw[:400])))
    # an odd fmt size without a pad byte puts the data at an odd offset (45)
    f["data_odd_offset.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16) + b"\x07")
                                    + chunk(b"data", pcm16(noise16[:777])))
    f["data_odd_offset_s16.wav"] = riff(chunk(b"fmt ", fmt_payload(2, 44100, 16, extra=b"\0"))
                                        + chunk(b"data", pcm16(noise16[:1001])))
    # fmt declared too short: the fields are read past it anyway
    f["fmt_size14.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16)[:14])
                               + chunk(b"data", pcm16(saw[:100])))
    f["fmt_size0.wav"] = riff(chunk(b"fmt ", b"", size=0) + fmt_payload(1, 44100, 16)
                              + chunk(b"data", pcm16(saw[:100])))
    good = wav(1, 44100, 16, pcm16(saw))
    f["truncated_data.wav"] = good[:44 + 301]                    # data size says 2000, 301 present
    f["truncated_in_fmt.wav"] = good[:20 + 10]                   # only 10 bytes of fmt present
    f["truncated_fmt15.wav"] = good[:20 + 15]
    f["truncated_fmt16.wav"] = good[:20 + 16]                    # format complete, no data header
    f["truncated_data_header.wav"] = good[:36 + 5]
    f["riff_size_small.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                    + chunk(b"data", pcm16(saw[:300])), size=4 + 24)
    f["riff_size_large.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                    + chunk(b"data", pcm16(saw[:300])), size=1000000)
    f["riff_size_ffffffff.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                       + chunk(b"data", pcm16(saw[:300])), size=0xFFFFFFFF)
    f["riff_size_7.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                + chunk(b"data", pcm16(saw[:300])), size=7)
    f["riff_size_8.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                + chunk(b"data", pcm16(saw[:300])), size=8)
    f["riff_size_0.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                + chunk(b"data", pcm16(saw[:300])), size=0)
    # a chunk size that carries the position past 4 GiB: positions must not wrap
    f["huge_chunk.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                               + chunk(b"LIST", b"", size=0xFFFFFF00)
                               + chunk(b"data", pcm16(saw[:300])), size=0xFFFFFFF0)
    f["data_size_ffffffff.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                       + chunk(b"data", pcm16(saw[:300]), size=0xFFFFFFFF))
    f["data_lying_small.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16))
                                     + chunk(b"data", pcm16(saw[:300]), size=101))
    f["no_data.wav"] = riff(chunk(b"fmt ", fmt_payload(1, 44100, 16)) + chunk(b"LIST", b"INFO"))
    f["no_fmt.wav"] = riff(chunk(b"data", pcm16(saw[:300])))
    # data that yields few or no samples
    f["empty_data.wav"] = wav(1, 44100, 16, b"")
    f["m16_1byte.wav"] = wav(1, 44100, 16, b"\x34")
    f["m16_2byte.wav"] = wav(1, 44100, 16, pcm16([-1234]))
    f["m8_1byte.wav"] = wav(1, 44100, 8, b"\xc0")
    f["s16_3byte.wav"] = wav(2, 44100, 16, b"\x01\x02\x03")
    f["s8_1byte.wav"] = wav(2, 44100, 8, b"\xff")
    f["s8_2byte.wav"] = wav(2, 44100, 8, b"\x00\xff")
    # not a usable RIFF at all
    f["short_3.wav"] = b"RIF"
    f["short_6.wav"] = b"RIFF\x10\x00"
    f["short_11.wav"] = b"RIFF\x24\x00\x00\x00WAV"
    f["just_riff_wave.wav"] = b"RIFF\x04\x00\x00\x00WAVE"
    f["rifx.wav"] = b"RIFX" + good[4:]
    f["not_wave.wav"] = b"RIFF" + good[4:8] + b"AVI " + good[12:]
    f["text.wav"] = b"this is not a sound file at all\n"
    f["zero_size.wav"] = b""
    # a long table: the phase climbs past 2^22, where its spacing is half a sample
    long_n = (1 << 22) + 60000
    ramp = array("h", bytes(2 * long_n))
    for i in range(0, long_n, 4096):
        ramp[i] = (i >> 12) % 30000
    f["long.wav"] = wav(1, 44100, 16, ramp.tobytes() if LITTLE else pcm16(ramp))
    # loud enough that a few voices together pass full scale
    f["loud.wav"] = wav(1, 44100, 16, pcm16([(i * 2731) % 60001 - 30000 for i in range(997)]))
    return f


# ---------------------------------------------------------------------------
# scripts


class Cases:
    def __init__(self, root):
        self.root = root
        self.items = []

    def wavp(self, name):
        return os.path.join(self.root, "wav", name)

    def add(self, name, lines, fixtures=(), bad_line=None):
        """fixtures: ('dir', rel) or ('file', rel, size) made in the save root beforehand."""
        save_root = os.path.join(self.root, "saves", name)
        text = "\n".join(l.replace("@SAVE@", save_root) for l in lines) + "\n"
        self.items.append({"name": name, "text": text, "save_root": save_root,
                           "fixtures": list(fixtures), "bad_line": bad_line})


def play(p, blocks):
    return ["ldown %s" % p, "render %d" % blocks, "lup %s" % p]


def build_cases(c, rng):
    # pitch and vibrato
    c.add("plain_440", ["render 2", "ldown " + pos(0 + 30, 128), "render 12", "lup 0 0",
                        "render 3"])
    c.add("vibrato_128", ["ldown " + pos(128, 128), "render 20", "lup " + pos(128, 128),
                          "render 2", "save @SAVE@/take.wav"])
    c.add("full_vibrato", ["ldown " + pos(255, 128), "render 8", "move " + pos(255, 1),
                           "render 6", "move " + pos(255, 255), "render 8",
                           "move " + pos(65, 40), "render 4", "lup 0 0"])
    up = ["ldown " + pos(40, 250)]
    for k in range(60):
        up += ["move " + pos(40 + k * 3, 250 - k * 4), "render 1"]
    c.add("bend_up", up + ["lup 0 0", "save @SAVE@/bend.wav"])
    down = ["ldown " + pos(200, 2)]
    for k in range(50):
        down += ["move " + pos(200, 2 + k * k // 10), "render 1"]
    c.add("bend_down", down + ["render 2", "lup 0 0"])
    # the same bends on a noise table, where every rounding of the phase can be heard
    c.add("bend_noise", ["load " + c.wavp("s16.wav")] + up + down[1:]
          + ["render 1", "lup 0 0", "save @SAVE@/bend.wav"])
    wiggle = ["ldown " + pos(64, 128)]
    for k in range(80):
        wiggle += ["move " + pos(rng.randint(1, 255), rng.randint(1, 255)),
                   "render %d" % rng.randint(0, 2)]
    c.add("random_moves", wiggle + ["lup 0 0", "save @SAVE@/w.wav"])
    c.add("largest_jump_down", ["ldown " + pos(30, 1), "render 3", "move " + pos(30, 255),
                                "render 3", "move " + pos(30, 1), "render 2",
                                "move " + pos(255, 255), "render 3", "lup 0 0"])
    c.add("largest_jump_vibrato", ["render 1", "ldown " + pos(255, 1), "render 2",
                                   "move " + pos(255, 255), "render 4", "lup 0 0"])
    c.add("step_440_880", ["ldown " + pos(10, 128), "render 3", "move " + pos(10, 64),
                           "render 3", "lup 0 0"])
    # snapped to semitones: a slow glide over every row, up with snap on, then down with it
    # toggled off (the toggle alone keeps the pitch until the next position arrives)
    glide = ["snap on", "ldown " + pos(90, 255), "render 1"]
    for y in range(254, 0, -1):
        glide += ["move " + pos(90, y), "render 1"]
    glide += ["snap off", "render 1"]
    for y in range(2, 256, 3):
        glide += ["move " + pos(90, y), "render 1"]
    c.add("snap_glide", glide + ["lup 0 0", "snap on", "ldown " + pos(200, 77), "render 2",
                                 "lup 0 0", "save @SAVE@/take.wav"])
    # snapped to scales in other keys: every row, up in D major, then down in C sharp minor
    # pentatonic with vibrato (row 255 sounds a semitone below the lowest chromatic snap), then
    # blues from C, changed while the note is held (row 1 a semitone above the highest)
    scales = ["snap major D", "ldown " + pos(40, 255), "render 1"]
    for y in range(254, 0, -1):
        scales += ["move " + pos(40, y), "render 1"]
    scales += ["snap minor-pentatonic C#", "render 1"]
    for y in range(1, 256, 2):
        scales += ["move " + pos(230, y), "frames 700"]
    scales += ["snap blues C", "move " + pos(230, 255), "render 1"]
    for y in list(range(250, 0, -5)) + [1]:
        scales += ["move " + pos(100, y), "render 1"]
    c.add("snap_scales", scales + ["lup 0 0", "save @SAVE@/take.wav"])
    # the rows that are powers of two lie on an A; where the scale has the G sharp and the A sharp
    # but no A, the two are as near and the lower sounds. Their neighbours, and the same rows
    # with the A in the scale, for contrast
    ties = ["snap whole-tone C", "ldown " + pos(90, 128), "render 1"]
    for snap in ("whole-tone C", "major B", "minor-pentatonic D#", "major-pentatonic F#",
                 "whole-tone A"):
        ties.append("snap " + snap)
        for y in (1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129):
            ties += ["move " + pos(90, y), "render 1"]
    c.add("snap_ties", ties + ["lup 0 0"])
    # time in frames: pieces of a block, a press that opens a block of its own mid-block, a
    # release, a move and a load that take effect at the next frame (the move's pitch at the next
    # block), as the browser's render quanta play them
    pieces = ["frames 700", "ldown " + pos(200, 100)]
    for n in (1, 127, 128, 1499, 1, 1500, 128, 127):
        pieces += ["frames %d" % n, "move " + pos(200 - n % 150, 100 + n % 90)]
    c.add("frames_pieces", pieces + ["lup 0 0", "frames 333", "save @SAVE@/take.wav"])
    c.add("frames_press_release", [
        "render 1", "frames 700", "ldown " + pos(40, 64), "frames 3", "move " + pos(250, 200),
        "frames 1499", "lup 0 0", "frames 10", "rdown 0 0", "ldown " + pos(100, 30),
        "frames 128", "lup 0 0", "frames 1", "ldown " + pos(30, 250), "frames 0",
        "lup 0 0", "frames 60", "rup 0 0", "render 2", "save @SAVE@/take.wav"])
    quanta = ["ldown " + pos(120, 180)]
    for k in range(40):
        quanta += ["frames 128", "move " + pos(120 + k, 180 - 2 * k)]
        if k == 17:
            quanta += ["load " + c.wavp("s16.wav")]
        if k == 29:
            quanta += ["default", "lup 0 0", "ldown " + pos(130, 90)]
    c.add("frames_quanta", quanta + ["lup 0 0", "frames 128", "save @SAVE@/take.wav"])
    # ten voices: each voice keeps its own blocks, their samples are summed and clamped, and the
    # take records the mix
    chord = ["frames 300", "voice 0", "ldown " + pos(40, 128), "voice 1", "ldown " + pos(90, 102),
             "voice 2", "ldown " + pos(160, 85)]
    for k in range(30):
        chord += ["frames 128", "voice %d" % (k % 3), "move " + pos(40 + k, 128 - k)]
    c.add("voices_chord", chord + ["voice 1", "lup 0 0", "frames 700", "voice 0", "lup 0 0",
                                   "frames 128", "voice 2", "lup 0 0", "frames 1",
                                   "save @SAVE@/take.wav"])
    loud = ["load " + c.wavp("loud.wav")]
    for k in range(10):
        loud += ["voice %d" % k, "ldown " + pos(25 * k + 5, 60 + 17 * k), "frames %d" % (k * 37)]
    loud += ["render 2", "voice 3", "move " + pos(255, 1), "render 2", "default"]
    for k in range(9, -1, -1):
        loud += ["voice %d" % k, "lup 0 0", "frames 411"]
    c.add("voices_ten_clamp", loud + ["save @SAVE@/take.wav"])
    c.add("voices_release_while_held", [
        "voice 4", "ldown " + pos(30, 128), "frames 900", "voice 7", "ldown " + pos(30, 64),
        "frames 1000", "voice 4", "lup 0 0", "frames 2000", "voice 7", "move " + pos(200, 70),
        "frames 1600", "voice 9", "ldown 10 10", "voice 7", "lup 0 0", "frames 500",
        "voice 9", "lup 0 0", "frames 300", "save @SAVE@/take.wav"])
    c.add("voices_take_right_button", [
        "rdown 0 0", "voice 1", "ldown " + pos(50, 140), "frames 800", "lup 0 0", "frames 600",
        "voice 5", "ldown " + pos(150, 90), "frames 500", "rup 0 0", "frames 400",
        "voice 6", "ldown 0 0", "voice 5", "lup 0 0", "frames 700", "voice 6", "lup 0 0",
        "frames 200", "save @SAVE@/take.wav", "voice 2", "ldown " + pos(80, 200),
        "frames 300", "rdown 0 0", "lup 0 0", "frames 300", "rup 0 0", "frames 10",
        "save @SAVE@/second.wav"])
    glide = ["voice 0", "ldown " + pos(60, 220)]
    for k in range(12):
        glide += ["move " + pos(60 + 8 * k, 220 - 12 * k), "frames 500"]
        if k == 4:
            glide += ["voice 3", "ldown " + pos(200, 40), "voice 0"]
        if k == 8:
            glide += ["voice 3", "lup 0 0", "ldown " + pos(120, 140), "voice 0"]
    c.add("voices_press_mid_glide", glide + ["lup 0 0", "frames 1500", "voice 3", "lup 0 0",
                                             "render 1", "save @SAVE@/take.wav"])
    # pad borders and moves
    c.add("borders", ["ldown " + pos(0, 128), "render 2", "lup 0 0",
                      "ldown " + pos(256, 128), "render 2", "lup 0 0",
                      "ldown " + pos(128, 0), "render 1", "lup 0 0",
                      "ldown " + pos(128, 256), "render 1", "lup 0 0",
                      "ldown -1 -1", "render 1", "lup -1 -1",
                      "ldown -32768 65535", "render 1", "lup 65535 -32768",
                      "save @SAVE@/none.wav",
                      "ldown " + pos(255, 255), "render 2", "lup 0 0",
                      "ldown " + pos(1, 1), "render 2", "lup 0 0",
                      "ldown " + pos(255, 1), "render 1", "lup 0 0",
                      "save @SAVE@/last.wav"])
    c.add("moves_without_button", ["move " + pos(200, 30), "render 2", "move " + pos(0, 30),
                                   "move " + pos(100, 300), "render 2",
                                   "ldown " + pos(20, 128), "render 2",
                                   "move " + pos(300, 20), "render 1",
                                   "move " + pos(150, 200), "render 2", "lup 0 0",
                                   "move " + pos(10, 10), "render 2", "ldown " + pos(0, 0),
                                   "render 2", "lup 0 0"])
    c.add("press_outside_while_held", ["ldown " + pos(100, 100), "render 3",
                                       "ldown 10 10", "render 3", "lup 500 500", "render 1",
                                       "save @SAVE@/t.wav"])
    c.add("double_press", ["ldown " + pos(100, 100), "render 3", "ldown " + pos(100, 50),
                           "render 3", "lup 0 0", "render 1", "save @SAVE@/t.wav",
                           "ldown " + pos(100, 200), "render 2", "lup 0 0",
                           "save @SAVE@/t2.wav"])
    # takes
    c.add("right_held_take", ["rdown 0 0", "ldown " + pos(30, 128), "render 5", "lup 0 0",
                              "render 3", "ldown " + pos(90, 64), "render 4", "lup 0 0",
                              "render 2", "ldown " + pos(200, 180), "render 3",
                              "rup 0 0", "render 2", "lup 0 0", "render 2",
                              "save @SAVE@/take.wav", "render 3", "save @SAVE@/again.wav"])
    c.add("right_released_first", ["ldown " + pos(30, 128), "rdown 0 0", "render 2",
                                   "rup 0 0", "render 2", "lup 0 0", "render 2",
                                   "rdown 1 1", "rup 1 1", "render 1", "save @SAVE@/t.wav"])
    c.add("take_wraps", ["ldown " + pos(40, 100), "render 1800", "lup 0 0",
                         "save @SAVE@/wrapped.wav"])
    c.add("take_exactly_60s", ["ldown " + pos(40, 100), "render 1764", "lup 0 0",
                               "save @SAVE@/nothing.wav", "render 1"])
    c.add("right_held_wrap", ["rdown 0 0", "ldown " + pos(140, 90), "render 900", "lup 0 0",
                              "render 700", "ldown " + pos(10, 20), "render 300",
                              "lup 0 0", "rup 0 0", "save @SAVE@/w.wav"])
    # the looper: a loop of the voices, recorded, played under them, overdubbed and undone
    looper_cases(c)
    # saving
    c.add("save_nested_dirs", play(pos(120, 120), 3)
          + ["save @SAVE@/new1/new2/take.wav", "save @SAVE@/new1/take2.wav",
             "save @SAVE@/a b/c d/e f.wav   "])
    c.add("save_twice", play(pos(60, 160), 2) + ["save @SAVE@/one.wav", "save @SAVE@/one.wav",
                                                 "save @SAVE@/two.wav"])
    c.add("save_replaces", play(pos(60, 160), 1) + ["save @SAVE@/existing.wav"],
          fixtures=[("file", "existing.wav", 20000)])
    c.add("save_empty", ["save @SAVE@/empty.wav", "ldown 0 0", "render 2", "lup 0 0",
                         "save @SAVE@/empty2.wav", "rdown 0 0", "render 1", "rup 0 0",
                         "save @SAVE@/empty3.wav"])
    c.add("save_fails", play(pos(60, 160), 1)
          + ["save @SAVE@/isdir.wav", "save @SAVE@/blocker/sub/t.wav",
             "save @SAVE@/ok.wav"],
          fixtures=[("dir", "isdir.wav"), ("file", "blocker", 10)])
    c.add("save_while_recording", ["ldown " + pos(80, 80), "render 2", "save @SAVE@/a.wav",
                                   "render 2", "save @SAVE@/b.wav", "lup 0 0"])
    # loading
    loadables = ["m16.wav", "m8.wav", "m8_ends.wav", "s16.wav", "s16_pairs.wav", "s8.wav",
                 "m16_22050.wav", "m8_11025.wav", "rate_ffffffff.wav", "rate_80000000.wav",
                 "rate_0.wav", "ch3.wav", "ch0.wav", "bits24.wav", "bits12.wav", "tag3_16.wav",
                 "tagfffe_16.wav", "list_before.wav", "odd_before_fmt.wav",
                 "odd_before_data.wav", "data_odd_offset.wav", "data_odd_offset_s16.wav",
                 "fmt_size14.wav", "fmt_size0.wav", "truncated_data.wav",
                 "truncated_in_fmt.wav", "truncated_fmt15.wav", "truncated_fmt16.wav",
                 "truncated_data_header.wav", "riff_size_small.wav", "riff_size_large.wav",
                 "riff_size_ffffffff.wav", "riff_size_7.wav", "riff_size_8.wav",
                 "riff_size_0.wav", "huge_chunk.wav", "data_size_ffffffff.wav",
                 "data_lying_small.wav", "no_data.wav", "no_fmt.wav", "empty_data.wav",
                 "m16_1byte.wav", "m16_2byte.wav", "m8_1byte.wav", "s16_3byte.wav",
                 "s8_1byte.wav", "s8_2byte.wav", "short_3.wav", "short_6.wav",
                 "short_11.wav", "just_riff_wave.wav", "rifx.wav", "not_wave.wav",
                 "text.wav", "zero_size.wav"]
    for name in loadables:
        # Start from a table that is not the default one, so that "previous table stays"
        # and "default table comes back" sound different.
        lines = ["load " + c.wavp("m8.wav"), "ldown " + pos(100, 128), "render 1",
                 "load " + c.wavp(name), "render 2"]
        for x, y in ((0, 128), (100, 64), (255, 200), (30, 1)):
            lines += ["move " + pos(x, y), "render 2"]
        lines += ["lup 0 0", "render 1", "save @SAVE@/take.wav"]
        c.add("load_" + name[:-4], lines)
    c.add("load_long_table", ["load " + c.wavp("long.wav"), "ldown " + pos(10, 1), "render 24",
                              "move " + pos(10, 255), "render 6", "move " + pos(10, 200),
                              "render 3", "move " + pos(255, 255), "render 3", "lup 0 0"])
    c.add("load_missing", ["ldown " + pos(10, 128), "render 1",
                           "load " + c.wavp("does_not_exist.wav"), "render 2",
                           "load " + c.wavp("s16.wav"), "render 1",
                           "load " + c.wavp("nowhere/also_missing.wav"), "render 2",
                           "load " + c.wavp(""), "render 1", "lup 0 0"])
    c.add("load_empty_keeps_table", ["load " + c.wavp("s8.wav"), "ldown " + pos(10, 128),
                                     "render 1", "load " + c.wavp("zero_size.wav"), "render 2",
                                     "lup 0 0"])
    c.add("load_then_save", ["load " + c.wavp("s16_pairs.wav"), "ldown " + pos(0, 128),
                             "render 2", "lup 0 0", "save @SAVE@/pairs.wav",
                             "load " + c.wavp("data_odd_offset.wav"),
                             "ldown " + pos(70, 100), "render 2", "lup 0 0",
                             "save @SAVE@/odd.wav"])
    c.add("load_during_note", ["ldown " + pos(150, 128), "render 2",
                               "load " + c.wavp("m16.wav"), "render 2",
                               "load " + c.wavp("bits24.wav"), "render 2",
                               "load " + c.wavp("empty_data.wav"), "render 3",
                               "load " + c.wavp("m8_1byte.wav"), "render 2", "lup 0 0",
                               "save @SAVE@/t.wav"])
    c.add("default_after_load", ["load " + c.wavp("s16.wav"), "ldown " + pos(100, 128),
                                 "render 3", "default", "render 3", "move " + pos(100, 64),
                                 "render 2", "lup 0 0", "load " + c.wavp("m8.wav"), "default",
                                 "default", "ldown " + pos(30, 200), "render 2", "lup 0 0",
                                 "save @SAVE@/take.wav"])
    c.add("load_every_warning", ["load " + c.wavp(n) for n in
                                 ("m16_22050.wav", "ch3.wav", "short_3.wav", "short_11.wav",
                                  "no_fmt.wav", "no_data.wav", "rate_80000000.wav",
                                  "bits12.wav", "truncated_in_fmt.wav", "m16.wav")]
          + play(pos(5, 128), 2))
    # script syntax that is accepted
    c.add("syntax_ok", ["# a comment", "", "   ", "  # indented comment",
                        "ldown\t%d\t\t%d" % (164, 192), "  render   2  ", "move 0164 0100\r",
                        "render 1\t", "lup -0 -0", "\t render 0", "save   @SAVE@/t t.wav \t"])
    c.add("empty_script", ["# nothing but a comment"])

    # refused scripts: (lines, number of the line that must be named)
    bad = {
        "bad_unknown": (["render 1", "jump 1 2"], 2),
        "bad_case": (["Move 100 100"], 1),
        "bad_missing_arg": (["# c", "", "move 100"], 3),
        "bad_extra_arg": (["move 100 100 100"], 1),
        "bad_letters": (["ldown 1x 100"], 1),
        "bad_float": (["render 1.5"], 1),
        "bad_x_range": (["render 1", "move 65536 100"], 2),
        "bad_y_range": (["rdown 100 -32769"], 1),
        "bad_negative_render": (["ldown 100 100", "render 2", "render -1"], 3),
        "bad_render_missing": (["render"], 1),
        "bad_render_extra": (["render 1 2"], 1),
        "bad_comment_after": (["render 1 # one block"], 1),
        "bad_load_no_path": (["render 1", "load", "render 1"], 2),
        "bad_save_blank_path": (["save   \t "], 1),
        "bad_path_too_long": (["render 1", "save /" + "p" * 259], 2),
        "bad_stream_too_long": (["ldown 100 100", "render 3", "render 715825"], 3),
        "bad_huge_render": (["render 99999999999999999999999"], 1),
        "bad_plus_sign": (["move +100 100"], 1),
        "bad_snap": (["snap on", "render 1", "snap yes"], 3),
        "bad_snap_scale": (["snap major D", "render 1", "snap dorian D"], 3),
        "bad_snap_key": (["snap minor Db"], 1),
        "bad_snap_no_key": (["render 1", "snap blues"], 2),
        "bad_snap_extra": (["snap whole-tone C sharp"], 1),
        "bad_default_arg": (["default 440"], 1),
        "bad_frames_negative": (["frames 128", "frames -128"], 2),
        "bad_frames_missing": (["frames"], 1),
        "bad_frames_too_long": (["frames 1073741000", "frames 815"], 2),
        "bad_voice_10": (["voice 9", "voice 10"], 2),
        "bad_voice_negative": (["voice -1"], 1),
        "bad_voice_letter": (["render 1", "voice x"], 2),
    }
    for name, (lines, line_no) in bad.items():
        c.add(name, lines, bad_line=line_no)
    # refused looper and playback lines
    for name, (lines, line_no) in {
        "bad_loop_word": (["loop start"], 1),
        "bad_loop_extra": (["render 1", "loop stop now"], 2),
        "bad_loop_number": (["loop 1"], 1),
        "bad_loop_case": (["Loop"], 1),
        "bad_loop_save_no_path": (["loop", "loop save"], 2),
        "bad_loop_save_blank": (["loop save  \t"], 1),
        "bad_loop_save_long": (["loop", "loop save /" + "p" * 259], 2),
        "bad_take_alone": (["take"], 1),
        "bad_take_word": (["take record"], 1),
        "bad_take_extra": (["take play", "take stop 2"], 2),
    }.items():
        c.add(name, lines, bad_line=line_no)
    # the longest path accepted: 259 bytes
    longest = os.path.join(c.root, "saves", "path_259")
    tail = "/" + "q" * (259 - len(longest) - 1 - 4) + ".wav"
    if len(longest + tail) == 259:
        c.add("path_259", play(pos(60, 160), 1) + ["save " + longest + tail])
    midi_cases(c)


def midi(*data):
    return "midi " + " ".join("%02X" % b for b in data)


def midi_cases(c):
    """MIDI in: notes on the voices, bends and ranges per channel, the mod wheel, the pedal."""
    on = lambda ch, key, vel=100: midi(0x90 | ch, key, vel)
    off = lambda ch, key: midi(0x80 | ch, key, 0x40)
    cc = lambda ch, number, value: midi(0xB0 | ch, number, value)
    bend = lambda ch, b: midi(0xE0 | ch, b & 127, b >> 7)
    rng = lambda ch, semitones: [cc(ch, 101, 0), cc(ch, 100, 0), cc(ch, 6, semitones)]

    # a melody on channel 0: gaps, legato overlaps (the next note takes the next voice down), a
    # key pressed again while it sounds, note-offs as 8n and as 9n with velocity 0, lower-case
    # bytes, and messages nothing uses
    tune = []
    for k, (key, frames) in enumerate(((60, 3000), (62, 1500), (64, 700), (65, 900),
                                       (67, 2200), (69, 128), (71, 1300), (72, 4000))):
        tune += [on(0, key, 20 + 13 * k), "frames %d" % frames]
        if k % 3 == 1:
            tune += [on(0, key + 12), "frames 300", off(0, key)]   # legato into the octave
            key += 12
        tune += [off(0, key) if k % 2 else midi(0x90, key, 0), "frames %d" % (200 + 50 * k)]
    tune[4:4] = [on(0, 62, 90), "frames 77"]                       # pressed again mid-note
    tune += ["midi a0 45 7f", "midi c0 05", "midi d0 40", cc(0, 7, 100), off(0, 50),
             cc(0, 64, 0), "midi 90 45 01", "render 2", "midi 80 45 00", "frames 1000",
             "save @SAVE@/take.wav"]
    c.add("midi_melody", tune)

    # a chord of three notes struck together, released one at a time in another order
    chord = ["frames 400", on(0, 60), on(0, 64), on(0, 67), "frames 5000", off(0, 64),
             "frames 1500", on(0, 72), "frames 2000", off(0, 60), off(0, 67), "frames 800",
             off(0, 72), "frames 300", "save @SAVE@/take.wav"]
    c.add("midi_chord", chord)

    # bends on two channels at once, one at the range it starts with (2 semitones), one set to
    # 48 (as MPE controllers send), each bending its own note only; halves round away from zero
    bends = rng(1, 48) + [on(0, 69), on(1, 57), "frames 1600"]
    for b0, b1 in ((0, 16383), (16383, 0), (8192 + 512, 8192 + 64), (8192 - 512, 8192 - 64),
                   (8193, 8191), (9000, 9216), (8192, 8192), (12000, 2000)):
        bends += [bend(0, b0), bend(1, b1), "frames 1500"]
    for k in range(40):                                            # a slow wave on both
        bends += [bend(0, 8192 + 200 * k), bend(1, 8192 - 150 * k), "frames 256"]
    bends += [on(1, 64), "frames 900", off(0, 69), off(1, 57), "frames 700", off(1, 64),
              "frames 100", "save @SAVE@/take.wav"]
    c.add("midi_bend_two_channels", bends)

    # the range: it applies from the channel's next bend or note-on, never retuning a note alone;
    # a range above 96, CC 38, CC 98 and CC 99, a parameter other than 0 and data entry with no
    # parameter selected leave it as it is
    ranges = [on(0, 60), bend(0, 12000), "frames 1600"] + rng(0, 12) + ["frames 1500",
              bend(0, 12000), "frames 1500", cc(0, 6, 97), cc(0, 38, 5), cc(0, 99, 0),
              cc(0, 98, 0), bend(0, 13000), "frames 1500", cc(0, 6, 96), on(0, 48),
              "frames 1500", bend(0, 16383), "frames 1500", cc(0, 100, 1), cc(0, 6, 1),
              bend(0, 0), "frames 1500", cc(2, 6, 40), on(2, 60), bend(2, 16383), "frames 1500",
              cc(3, 101, 0), cc(3, 6, 40), on(3, 61), bend(3, 0), "frames 1500",
              cc(0, 100, 0), cc(0, 6, 0), bend(0, 100), "frames 1500"]
    c.add("midi_bend_range", ranges + ["save @SAVE@/take.wav"])

    # the mod wheel: the channel's sounding notes and its later ones, not another channel's
    wheel = [on(0, 64), on(1, 69), "frames 1500"]
    for v in (0, 1, 64, 127, 90):
        wheel += [cc(0, 1, v), "frames 1200"]
    wheel += [on(0, 72), "frames 1500", cc(1, 1, 33), "frames 1500", off(0, 64),
              cc(0, 1, 0), "frames 1500", off(0, 72), off(1, 69), on(1, 70), "frames 900",
              "save @SAVE@/take.wav"]
    c.add("midi_mod_wheel", wheel)

    # the pedal: note-offs wait for it; a key pressed again while its release waits keeps its
    # voice and no longer waits; another channel's pedal is its own; 63 is up, 64 down; the take
    # stays open while sustained notes sound
    pedal = [cc(0, 64, 64), on(0, 60), "frames 900", off(0, 60), "frames 1500", on(0, 64),
             off(0, 64), "frames 700", on(0, 60), "frames 600", cc(1, 64, 127), on(1, 67),
             off(1, 67), "frames 800", cc(0, 64, 63), "frames 1000", off(0, 60),
             "frames 700", cc(1, 64, 0), "frames 500", "save @SAVE@/first.wav",
             cc(0, 64, 100), on(0, 55), "frames 300", off(0, 55), "frames 400",
             cc(0, 64, 0), "frames 300", "save @SAVE@/second.wav"]
    c.add("midi_sustain", pedal)

    # ten notes take every voice; the eleventh is dropped and its note-off does nothing; a
    # released voice takes the next note
    eleven = []
    for k in range(10):
        eleven += [on(0, 60 + k), "frames %d" % (97 * k + 3)]
    eleven += [on(0, 70), "frames 1500", off(0, 70), "frames 128", off(0, 64), "frames 700",
               on(0, 70), "frames 1500", on(1, 40), "frames 600"]
    eleven += [off(0, k) for k in range(60, 71)] + ["frames 700", "save @SAVE@/take.wav"]
    c.add("midi_eleventh_dropped", eleven)

    # all notes off (CC 123) and all sound off (CC 120): every note of the channel ends at once,
    # its sustained ones too, and the pedal stays down for the notes after
    alloff = [cc(0, 64, 127), on(0, 60), on(0, 63), on(1, 70), "frames 1000", off(0, 60),
              "frames 500", cc(0, 123, 0), "frames 900", on(0, 67), off(0, 67), "frames 600",
              on(0, 72), cc(1, 120, 0), "frames 600", cc(0, 120, 0), "frames 400",
              on(0, 74), off(0, 74), "frames 500", cc(0, 64, 0), "frames 300",
              "save @SAVE@/take.wav"]
    c.add("midi_all_notes_off", alloff)

    # notes while the mouse plays voice 0 across the pad; a note's voice ignores the pad's
    # events (voice 9 below) until the note ends, then the pad has it again
    mouse = ["ldown " + pos(40, 200)]
    for k in range(24):
        mouse += ["move " + pos(40 + 9 * k, 200 - 7 * k), "frames 128"]
        if k == 3:
            mouse += [on(0, 76)]
        if k == 7:
            mouse += ["voice 9", "move " + pos(200, 20), "ldown " + pos(30, 30), "voice 0",
                      on(0, 79)]
        if k == 12:
            mouse += ["voice 9", "lup 0 0", "voice 0", off(0, 79)]
        if k == 16:
            mouse += [off(0, 76), "voice 9", "ldown " + pos(100, 100), "voice 0"]
    mouse += ["lup 0 0", "frames 600", "voice 9", "lup 0 0", "frames 300",
              "save @SAVE@/take.wav"]
    c.add("midi_note_while_mouse", mouse)

    # every voice but 0 held, by notes (9, 8, 7) and pointers (one off the pad): the next note
    # takes voice 0, which then ignores the mouse; one more note is dropped; once the note ends
    # the mouse has voice 0 again, and a pointer's release frees a voice for the next note
    zero = [on(0, 50), on(1, 55), on(0, 59), "frames 300"]
    for k in range(1, 7):
        zero += ["voice %d" % k, "ldown " + (pos(20 * k, 60 + 25 * k) if k != 6 else "10 10")]
    zero += ["frames 400", on(2, 62), "frames 700", "voice 0", "move " + pos(200, 40),
             "ldown " + pos(100, 100), "frames 500", "lup 0 0", on(3, 65), "frames 500",
             off(2, 62), "frames 300", "ldown " + pos(150, 128), "frames 600", on(3, 65),
             "frames 300", "voice 6", "lup 0 0", on(3, 65), "frames 600"]
    zero += ["voice 0", "lup 0 0", "frames 200", cc(0, 123, 0), cc(1, 123, 0), cc(3, 123, 0)]
    for k in range(1, 7):
        zero += ["voice %d" % k, "lup 0 0"]
    c.add("midi_takes_voice_0", zero + ["frames 300", "save @SAVE@/take.wav"])

    # the highest and lowest pitches MIDI reaches, on the built-in tone and on a one-sample table,
    # where the phase folds thousands of table lengths a frame
    edges = rng(0, 96) + [cc(0, 1, 127), on(0, 127), bend(0, 16383), "frames 1600", on(0, 0),
                          bend(0, 0), "frames 1600", "load " + c.wavp("m16_2byte.wav"),
                          bend(0, 16383), "frames 1600", off(0, 0), "frames 1500", off(0, 127),
                          "frames 100"]
    c.add("midi_extremes", edges)

    # refused lines: (lines, number of the line that must be named)
    bad = {
        "bad_midi_letters": (["midi 90 4G 40"], 1),
        "bad_midi_three_digits": (["render 1", "midi 090 45 40"], 2),
        "bad_midi_prefix": (["midi 0x90 0x45 0x40"], 1),
        "bad_midi_decimal_word": (["midi 144 69 64"], 1),
        "bad_midi_no_status": (["frames 10", "midi 45 40"], 2),
        "bad_midi_system": (["midi F8"], 1),
        "bad_midi_sysex": (["midi 90 45 40", "midi F0 7E 7F"], 2),
        "bad_midi_data_byte": (["midi 90 80 40"], 1),
        "bad_midi_data_byte_last": (["midi B0 07 FF"], 1),
        "bad_midi_short": (["midi 90 45"], 1),
        "bad_midi_program_long": (["midi C0 05 00"], 1),
        "bad_midi_pressure_long": (["midi D0 40 00"], 1),
        "bad_midi_bend_short": (["midi E0 00"], 1),
        "bad_midi_four_bytes": (["midi 90 45 40 00"], 1),
        "bad_midi_empty": (["render 1", "midi"], 2),
        "bad_midi_status_alone": (["midi 90"], 1),
    }
    for name, (lines, line_no) in bad.items():
        c.add(name, lines, bad_line=line_no)


LOOP_SAMPLES = 2646000


def looper_cases(c):
    # a first layer, played, overdubbed twice (the second undone while it runs), then a third
    # overdub; the right button holds one take across it all
    c.add("loop_layers", [
        "rdown 0 0", "ldown " + pos(40, 128), "loop", "frames 20000", "lup 0 0", "loop",
        "render 3", "voice 1", "ldown " + pos(100, 90), "loop", "frames 25000", "lup 0 0",
        "loop", "loop save @SAVE@/one.wav", "frames 3000", "voice 2", "ldown " + pos(200, 60),
        "loop", "frames 12345", "loop save @SAVE@/two.wav", "loop undo", "frames 8000",
        "lup 0 0", "loop save @SAVE@/undone.wav", "frames 128", "voice 0",
        "ldown " + pos(150, 200), "loop", "frames 7000", "lup 0 0", "loop", "frames 4000",
        "loop save @SAVE@/three.wav", "frames 999", "rup 0 0", "save @SAVE@/take.wav"])
    # a loop of one frame: it plays that sample every frame, and overdubs add up on it
    c.add("loop_one_frame", [
        "ldown " + pos(60, 128), "frames 500", "loop", "frames 1", "loop", "lup 0 0",
        "frames 3000", "loop save @SAVE@/one.wav", "loop", "ldown " + pos(60, 64),
        "frames 700", "lup 0 0", "loop", "frames 300", "loop save @SAVE@/dubbed.wav",
        "loop undo", "frames 200", "loop stop", "frames 10", "loop", "frames 5"])
    # the first layer reaches 60 s in the middle of a piece and plays on from its start; a loop
    # control then begins an overdub
    c.add("loop_sixty_seconds", [
        "loop", "ldown " + pos(80, 100), "frames 3000", "lup 0 0",
        "frames %d" % (LOOP_SAMPLES - 3000 - 2300), "voice 4", "ldown " + pos(200, 60),
        "frames 2000", "lup 0 0", "frames 1000", "loop", "ldown " + pos(30, 200), "frames 1500",
        "lup 0 0", "loop", "frames 4000", "loop save @SAVE@/sixty.wav"])
    # a stop while the first layer records keeps it, stopped at 0; a stop with nothing recorded
    # leaves the loop empty
    c.add("loop_stop_while_recording", [
        "ldown " + pos(120, 150), "loop", "frames 2222", "loop stop", "frames 1500",
        "loop save @SAVE@/stopped.wav", "loop", "frames 3000", "loop stop", "frames 100",
        "loop", "loop stop", "frames 300", "lup 0 0", "loop clear", "loop", "loop stop",
        "loop save @SAVE@/nothing.wav", "frames 100", "loop undo", "loop", "frames 50"])
    # loud voices overdubbed: the overdub clamps, and so does the frame, once
    loud = ["load " + c.wavp("loud.wav"), "voice 0", "ldown " + pos(20, 128),
            "voice 1", "ldown " + pos(40, 100), "loop", "frames 4000"]
    loud += ["voice 0", "lup 0 0", "voice 1", "lup 0 0", "loop", "frames 1000"]
    for k in range(2, 6):
        loud += ["voice %d" % k, "ldown " + pos(30 * k, 50 + 20 * k), "loop", "frames 3000",
                 "loop", "frames 777"]
    loud += ["take play", "frames 1500", "voice 2", "lup 0 0", "voice 3", "lup 0 0",
             "frames 2000", "voice 4", "lup 0 0",
             "voice 5", "lup 0 0", "frames 4000", "loop save @SAVE@/loud.wav",
             "save @SAVE@/take.wav"]
    c.add("loop_overdub_clamps", loud)
    # the take played back over a playing loop, and while an overdub runs: the loop takes the
    # voices alone, the take records what is heard
    c.add("take_play_over_loop", [
        "ldown " + pos(90, 140), "frames 6000", "lup 0 0", "save @SAVE@/first.wav",
        "voice 1", "ldown " + pos(160, 70), "loop", "frames 5000", "loop", "lup 0 0",
        "frames 1000", "take play", "frames 2000", "loop", "voice 2", "ldown " + pos(60, 180),
        "frames 3000", "lup 0 0", "loop", "take play", "frames 1234", "take stop",
        "frames 2000", "loop save @SAVE@/loop.wav", "take stop", "take play", "render 4",
        "save @SAVE@/second.wav"])
    # undo with nothing to undo: empty, recording, playing before any overdub, once undone,
    # stopped, cleared
    c.add("loop_undo_nothing", [
        "loop undo", "ldown " + pos(70, 110), "loop", "frames 1000", "loop undo",
        "frames 500", "loop", "loop undo", "frames 2000", "lup 0 0", "loop", "voice 3",
        "ldown " + pos(100, 200), "frames 700", "loop undo", "loop undo", "frames 900",
        "lup 0 0", "loop stop", "loop undo", "frames 100", "loop", "frames 1600", "loop clear",
        "loop undo", "frames 100", "loop save @SAVE@/empty.wav"])
    # loop save in every state, into missing folders, and where no file can be made
    c.add("loop_save_states", [
        "loop save @SAVE@/empty.wav", "ldown " + pos(50, 128), "loop", "frames 1000",
        "loop save @SAVE@/recording.wav", "frames 1000", "loop", "lup 0 0",
        "loop save @SAVE@/a/b/playing.wav", "frames 700", "loop", "voice 1",
        "ldown " + pos(50, 64), "frames 900", "loop save @SAVE@/overdubbing.wav", "lup 0 0",
        "loop stop", "loop save @SAVE@/stopped.wav", "loop save @SAVE@/isdir.wav",
        "loop clear", "loop save @SAVE@/cleared.wav", "loop", "frames 0",
        "loop save @SAVE@/recorded_nothing.wav", "frames 10"],
        fixtures=[("dir", "isdir.wav")])
    # the take played while it records: what plays is the copy made at play, also once a new take
    # has begun over it; play again while playing starts over with a fresh copy
    c.add("take_play_while_recording", [
        "ldown " + pos(110, 120), "frames 5000", "take play", "frames 3000", "take play",
        "move " + pos(110, 60), "frames 5000", "take play", "frames 1000", "lup 0 0",
        "frames 500", "voice 1", "ldown " + pos(220, 200), "frames 4000", "lup 0 0",
        "frames 1000", "save @SAVE@/take.wav"])
    # an empty take plays nothing, and ends a playback; stop with nothing playing
    c.add("take_play_empty", [
        "take play", "frames 500", "take stop", "ldown " + pos(90, 90), "frames 3000",
        "lup 0 0", "take play", "frames 1000", "ldown " + pos(200, 160), "take play",
        "frames 2000", "lup 0 0", "take stop", "frames 100", "take play", "frames 4000",
        "save @SAVE@/take.wav"])


def make_fixtures(save_root, fixtures):
    os.makedirs(save_root, exist_ok=True)
    for fx in fixtures:
        p = os.path.join(save_root, fx[1])
        if fx[0] == "dir":
            os.makedirs(p, exist_ok=True)
        else:
            with open(p, "wb") as f:
                f.write(bytes((i * 7) & 0xFF for i in range(fx[2])))


def generate(root):
    root = os.path.abspath(root)
    rng = random.Random(SEED)
    for sub in ("wav", "scripts", "saves"):
        shutil.rmtree(os.path.join(root, sub), ignore_errors=True)
        os.makedirs(os.path.join(root, sub))
    for name, data in wav_files(rng).items():
        with open(os.path.join(root, "wav", name), "wb") as f:
            f.write(data)
    c = Cases(root)
    build_cases(c, rng)
    index = []
    for item in c.items:
        script = os.path.join(root, "scripts", item["name"] + ".txt")
        with open(script, "w", encoding="utf-8", newline="") as f:
            f.write(item["text"])
        make_fixtures(item["save_root"], item["fixtures"])
        index.append({"name": item["name"], "script": script, "save_root": item["save_root"],
                      "fixtures": item["fixtures"], "bad_line": item["bad_line"]})
    with open(os.path.join(root, "cases.json"), "w") as f:
        json.dump({"root": root, "cases": index}, f, indent=1)
    return index


def main(argv):
    if len(argv) != 1:
        sys.stderr.write("usage: make_cases.py OUTDIR\n")
        return 2
    index = generate(argv[0])
    print("%d cases in %s" % (len(index), os.path.abspath(argv[0])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
