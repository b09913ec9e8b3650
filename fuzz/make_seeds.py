#!/usr/bin/env python3
"""Writes a small seed corpus of WAV file images for the importer's fuzzer.

    fuzz/make_seeds.py OUTPUT_DIR

Valid 8- and 16-bit mono and stereo files, and the shapes the chunk walk has to survive:
odd-sized chunks with and without a pad byte, lying sizes, wrapping RIFF sizes, cut-off files.
"""
import pathlib
import struct
import sys


def chunk(ident, data, size=None):
    return ident + struct.pack("<I", len(data) if size is None else size) + data


def fmt(channels, bits, rate=44100, tag=1, extra=None):
    block = channels * bits // 8
    body = struct.pack("<HHIIHH", tag, channels, rate, rate * block, block, bits)
    if extra is not None:
        body += struct.pack("<H", extra)
    return chunk(b"fmt ", body)


def riff(chunks, size=None, form=b"WAVE"):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body) if size is None else size) + body


def pcm16(values):
    return b"".join(struct.pack("<h", v) for v in values)


def seeds():
    ramp16 = pcm16([(i * 1237) % 65536 - 32768 for i in range(64)])
    ramp8 = bytes((i * 37) % 256 for i in range(64))
    yield "mono16", riff([fmt(1, 16), chunk(b"data", ramp16)])
    yield "stereo16", riff([fmt(2, 16), chunk(b"data", ramp16)])
    yield "mono8", riff([fmt(1, 8), chunk(b"data", ramp8)])
    yield "stereo8", riff([fmt(2, 8), chunk(b"data", ramp8)])
    yield "rate22050", riff([fmt(1, 16, rate=22050), chunk(b"data", ramp16)])
    yield "extensible", riff([fmt(2, 16, tag=0xFFFE, extra=22), chunk(b"data", ramp16)])
    yield "float_tag", riff([fmt(1, 16, tag=3), chunk(b"data", ramp16)])
    yield "list_before_fmt", riff([chunk(b"LIST", b"INFOabcd"), fmt(1, 16), chunk(b"data", ramp16)])
    yield "odd_chunk_no_pad", riff([chunk(b"junk", b"abc"), fmt(1, 16), chunk(b"data", b"\x01" + ramp16)])
    yield "odd_chunk_pad", riff([chunk(b"junk", b"abc\x00", size=3), fmt(1, 16), chunk(b"data", ramp16)])
    yield "data_before_fmt", riff([chunk(b"data", ramp8), fmt(1, 8)])
    yield "data_size_lies", riff([fmt(1, 16), chunk(b"data", ramp16, size=100000)])
    yield "data_empty", riff([fmt(2, 16), chunk(b"data", b"")])
    yield "riff_size_7", riff([fmt(1, 16), chunk(b"data", ramp16)], size=7)
    yield "riff_size_max", riff([fmt(1, 16), chunk(b"data", ramp16)], size=0xFFFFFFFF)
    yield "riff_size_short", riff([fmt(1, 16), chunk(b"data", ramp16)], size=4 + 24)
    yield "three_channels", riff([fmt(3, 16), chunk(b"data", ramp16)])
    yield "bits24", riff([fmt(1, 24), chunk(b"data", ramp16)])
    yield "fmt_cut", riff([fmt(1, 16)])[:30]
    yield "header_cut", riff([fmt(1, 16), chunk(b"data", ramp16)])[:40]
    yield "not_wave", riff([fmt(1, 16)], form=b"AVI ")
    yield "not_riff", b"RIFX" + riff([fmt(1, 16)])[4:]
    yield "tiny", b"RIFF\x04\x00"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, data in seeds():
        (out / f"{name}.wav").write_bytes(data)


if __name__ == "__main__":
    main()
