#!/usr/bin/env python3
"""Checks of the reference model against facts that can be worked out without it."""

import math
import os
import struct
import sys
import tempfile
import unittest
from array import array

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tonvarel_ref as ref  # noqa: E402

_F = struct.Struct("<f")


def rf(x):
    return _F.unpack(_F.pack(x))[0]


class SlowVoice:
    """The voice transcribed step by step, one frame at a time, with no caching at all."""

    def __init__(self):
        self.phase, self.lfoValue, self.lfoStep, self.lfoCounter = 0.0, 0.0, rf(0.005), 500
        self.currentPitch = self.previousPitch = 440.0

    def frame(self, e, ramp):
        self.lfoCounter += 1
        self.lfoValue = rf(self.lfoValue + self.lfoStep)
        if self.lfoCounter >= 1000:
            self.lfoCounter, self.lfoStep = 0, -self.lfoStep
        inc = rf(self.lfoValue * e.voices[0].vibratoDepth * self.currentPitch)
        inc = rf(inc + ramp)
        inc = rf(inc / 440.0)
        self.phase = rf(self.phase + inc)
        n = e.tableLength
        if n == 0:
            return 0
        while True:
            moved = False
            if not self.phase < n:
                self.phase, moved = rf(self.phase - n), True
            if self.phase < 0.0:
                self.phase, moved = rf(self.phase + n), True
            if not moved:
                break
        return e.table[int(self.phase)] if e.voices[0].gate and e.tableReady else 0

    def block(self, e, reset):
        self.previousPitch, self.currentPitch = self.currentPitch, e.voices[0].targetPitch
        out = []
        for o in range(0, 6000, 4):
            if reset and o == 0:
                self.phase = 0.0
            ramp = rf(self.currentPitch - (self.previousPitch - self.currentPitch) * o / 6000)
            out.append(self.frame(e, ramp))
        return out


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def wav(channels, bits, data, rate=44100):
    fmt = struct.pack("<HHIIHH", 1, channels, rate, (rate * channels * bits // 8) & 0xFFFFFFFF,
                      channels * bits // 8, bits)
    body = b"fmt " + struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body) + 4) + b"WAVE" + body


class DefaultTable(unittest.TestCase):
    def test_square_wave_runs(self):
        t = list(ref.DEFAULT_TABLE)
        self.assertEqual(len(t), 44100)
        self.assertEqual(t[:51], [1000] * 51)
        self.assertEqual(t[51], -1000)
        self.assertEqual(t[-1], -1000)
        self.assertEqual(set(t), {1000, -1000})
        self.assertEqual(sum(1 for a, b in zip(t, t[1:]) if a != b), 879)
        runs, n = [], 1
        for a, b in zip(t, t[1:]):
            if a == b:
                n += 1
            else:
                runs.append(n)
                n = 1
        runs.append(n)
        self.assertEqual((runs.count(51), runs.count(50), len(runs)), (100, 780, 880))


class Oscillator(unittest.TestCase):
    def test_reversals_and_period(self):
        slow = SlowVoice()
        states = [(slow.lfoValue, slow.lfoStep, slow.lfoCounter)]
        for _ in range(6200):
            slow.lfoCounter += 1
            slow.lfoValue = rf(slow.lfoValue + slow.lfoStep)
            if slow.lfoCounter >= 1000:
                slow.lfoCounter, slow.lfoStep = 0, -slow.lfoStep
            states.append((slow.lfoValue, slow.lfoStep, slow.lfoCounter))
        turns = [g for g in range(1, len(states)) if states[g][1] != states[g - 1][1]]
        self.assertEqual(turns[:4], [500, 1500, 2500, 3500])
        self.assertTrue(all(states[g] == states[g + 2000] for g in range(101, 4200)))
        self.assertNotEqual(states[100][0], states[2100][0])
        values = [s[0] for s in states]
        self.assertLess(abs(max(values) - 2.5), 1e-5)
        self.assertLess(abs(min(values) + 2.5), 1e-5)
        for g in (0, 1, 499, 500, 2100, 5000, 6199):
            self.assertEqual(ref.OSC.state_after(g), states[g], g)


class Mapping(unittest.TestCase):
    def test_pitch_examples(self):
        self.assertEqual(ref.pitch_for(128), 440.0)
        self.assertEqual(ref.pitch_for(64), 880.0)
        self.assertEqual(ref.pitch_for(1), 56320.0)
        self.assertAlmostEqual(ref.pitch_for(255), 220.86, places=2)
        self.assertEqual(ref.pitch_for(255), rf(56320 / 255))

    def test_snapped_pitch_is_the_nearest_note_of_the_scale_rounded_once(self):
        # Doubles suffice to check the whole-number computation: away from the rows that are
        # powers of two, no row lies near the middle of two notes, and on those t is exact.
        for scale, degrees in ref.SCALES.items():
            for key in range(12):
                notes = [n for n in range(-20, 95) if (n + 9 - key) % 12 in degrees]
                for y in range(1, 256):
                    t = 12 * math.log2(128 / y)
                    n = ref.snapped_note(y, (scale, key))
                    self.assertEqual(n, min(notes, key=lambda m: (abs(t - m), m)), (scale, key, y))
        for n in range(-13, 86):
            f = ref.semitone_pitch(n)
            m, e = math.frexp(f)
            self.assertEqual(rf(f), f)
            self.assertLess(abs(f - 440 * 2 ** (n / 12)), math.ldexp(1, e - 25) * (1 - 1e-6), n)
        self.assertEqual([ref.snapped_pitch_for(y, ref.SEMITONES) for y in (1, 128, 255)],
                         [56320, 440, 220])
        # A tie: row 128 (A4) lies midway between the G sharp and the A sharp of C whole-tone, and
        # sounds the lower.
        self.assertEqual(ref.snapped_note(128, (b"whole-tone", 0)), -1)

    def test_snap_applies_from_the_next_position(self):
        e = ref.Engine()
        pad = ref.Pad(e)
        pad.move(164, 164)
        pad.snap(ref.SEMITONES)
        self.assertEqual(e.voices[0].targetPitch, ref.pitch_for(100))
        pad.move(164, 164)
        self.assertAlmostEqual(e.voices[0].targetPitch, 554.365, places=3)
        pad.snap((b"major", 2))
        pad.move(164, 154)
        self.assertAlmostEqual(e.voices[0].targetPitch, 659.255, places=3)

    def test_depth_examples(self):
        self.assertEqual([ref.depth_for(x) for x in (1, 64)], [0.0, 0.0])
        self.assertEqual(ref.depth_for(65), rf(0.002))
        self.assertEqual(ref.depth_for(128), rf(0.128))
        self.assertEqual(ref.depth_for(255), rf(0.382))

    def test_pad_acceptance(self):
        self.assertIsNone(ref.pad_offset(64, 192))      # left border line
        self.assertIsNone(ref.pad_offset(192, 320))     # offset 256
        self.assertIsNone(ref.pad_offset(0xFFFF, 192))  # -1 as the message carries it
        self.assertEqual(ref.pad_offset(319, 319), (255, 255))
        self.assertEqual(ref.pad_offset(65, 65), (1, 1))


class Voice(unittest.TestCase):
    def test_step_440_to_880_ramps_past_the_target(self):
        e = ref.Engine()
        e.renderFrames(1500)
        e.voices[0].targetPitch = 880.0
        e.renderFrames(1500)
        ramp = e._ramp(e.voices[0].currentPitch, e.voices[0].previousPitch)
        self.assertEqual(ramp[0], 880.0)
        self.assertEqual(ramp[-1], rf(880 + 440 * 1499 / 1500))
        self.assertTrue(all(a < b for a, b in zip(ramp, ramp[1:])))
        e.renderFrames(1500)
        self.assertEqual(set(e._ramp(e.voices[0].currentPitch, e.voices[0].previousPitch)), {880.0})

    def test_largest_jump_down_goes_negative_at_frame_7(self):
        ramp = ref.Engine()._ramp(ref.pitch_for(255), ref.pitch_for(1))
        first = next(i for i, r in enumerate(ramp) if r < 0)
        self.assertEqual(first + 1, 7)

    def test_phase_reset_reads_table_1_first(self):
        e = ref.Engine()
        e.table, e.tableLength = array("h", range(100)), 100
        e.voices[0].vibratoDepth, e.voices[0].gate, e.voices[0].phase, e.voices[0].phaseReset = 0.0, True, 37.5, True
        out = e.renderFrames(1500)
        self.assertEqual(out[:3], [1, 2, 3])
        self.assertEqual(out[98:102], [99, 0, 1, 2])

    def test_silent_blocks_still_move_pitch_history_and_oscillator(self):
        e = ref.Engine()
        e.voices[0].targetPitch = 880.0
        self.assertEqual(e.renderFrames(1500), [0] * 1500)           # gate closed
        self.assertEqual((e.voices[0].previousPitch, e.voices[0].currentPitch), (440.0, 880.0))
        self.assertEqual((e.lfoCounter, e.lfoStep), (0, rf(0.005)))   # turned at 500 and 1500
        e = ref.Engine(build_default=False)
        e.voices[0].gate = True
        self.assertEqual(e.renderFrames(1500), [0] * 1500)           # no table yet

    def test_fast_renderer_matches_frame_by_frame_voice(self):
        # Pitch jumps both ways, full vibrato, a table shorter than one increment, an empty
        # table and a loaded table, across all four places a block can start in the
        # oscillator's period.
        e, slow = ref.Engine(), SlowVoice()
        short = array("h", [5, -7, 11, -13, 17, -19, 23])
        p = ref.pitch_for
        plan = [(440.0, 0.0, True, None), (440.0, rf(0.128), True, None),
                (p(1), rf(0.382), True, None), (p(255), rf(0.382), True, None),
                (p(200), 0.0, False, None), (p(3), rf(0.05), True, short),
                (p(250), rf(0.3), True, None), (p(1), 0.0, True, array("h")),
                (p(90), rf(0.2), True, array("h", range(-600, 600, 3))),
                (p(90), rf(0.2), True, None), (p(17), rf(0.002), True, None),
                (p(17), rf(0.002), True, None), (p(1), rf(0.382), True, array("h", [42])),
                (p(255), rf(0.382), True, None), (p(2), 0.0, True, array("h", [1, 2, 3]))]
        for i, (pitch, depth, gate, table) in enumerate(plan):
            reset = table is not None or i == 0
            if table is not None:
                e.table, e.tableLength = table, len(table)
            e.voices[0].targetPitch, e.voices[0].vibratoDepth, e.voices[0].gate, e.voices[0].phaseReset = pitch, depth, gate, reset
            for k in range(2):
                self.assertEqual(e.renderFrames(1500), slow.block(e, reset and k == 0), (i, k))
                if gate:                     # a silent voice's phase is not kept
                    self.assertEqual(e.voices[0].phase, slow.phase, (i, k))
        self.assertEqual((e.lfoValue, e.lfoStep, e.lfoCounter),
                         (slow.lfoValue, slow.lfoStep, slow.lfoCounter))


class Take(unittest.TestCase):
    def test_button_rules(self):
        e = ref.Engine()
        pad = ref.Pad(e)
        pad.rdown(0, 0)
        pad.ldown(192, 192)
        e.renderFrames(1500)
        pad.lup(0, 0)
        e.renderFrames(1500)
        pad.ldown(10, 10)                        # outside: no new take, no reset of the length
        self.assertEqual((e.recording, e.takeLength, e.voices[0].gate), (True, 6000, False))
        pad.lup(0, 0)
        pad.rup(0, 0)
        self.assertFalse(e.recording)
        pad.ldown(192, 192)
        self.assertEqual((e.recording, e.takeLength), (True, 0))

    def test_wrap_after_sixty_seconds(self):
        e = ref.Engine()
        e.recording, e.takeLength = True, ref.TAKE_CAPACITY - 1000
        e._append_take(list(range(1500)))
        self.assertEqual(e.takeLength, 2 * (1500 - 500))
        self.assertEqual(e.takeBuffer[ref.TAKE_SAMPLES - 1], 499)
        self.assertEqual(list(e.takeBuffer[:3]), [500, 501, 502])

    def test_one_block_take_file(self):
        e = ref.Engine()
        ref.Pad(e).ldown(192, 192)
        e.renderFrames(1500)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "a", "b", "take.wav").encode()
            boxes = []
            ref.export_take(e, path, boxes)
            with open(path, "rb") as f:
                data = f.read()
        self.assertEqual(boxes, ["処理終了: 処理終了"])
        self.assertEqual(len(data), 3044)
        self.assertEqual(struct.unpack_from("<I", data, 4)[0], 3036)
        self.assertEqual(struct.unpack_from("<I", data, 40)[0], 3000)
        self.assertEqual(data[44:], e.takeBytes())


class Looping(unittest.TestCase):
    def test_layers_overdub_and_undo(self):
        loop = ref.Looper()
        loop.press()
        self.assertEqual(loop.frames([1, 2, 3]), [0, 0, 0])           # the first layer
        loop.press()
        self.assertEqual(loop.frames([10, 10]), [1, 2])                # plays from its start
        loop.press()
        self.assertEqual(loop.frames([32000, 5, 5]), [3, 1, 2])        # overdubs from where it is
        self.assertEqual(loop.samples(), [6, 7, 32003])
        loop.press()
        loop.press()
        self.assertEqual(loop.frames([1000]), [32003])
        self.assertEqual(loop.samples()[2], 32767)                     # clamped
        loop.undo()
        self.assertEqual((loop.mode, loop.samples(), loop.at), ("playing", [6, 7, 32003], 0))
        loop.undo()                                                    # nothing left to undo
        self.assertEqual(loop.samples(), [6, 7, 32003])

    def test_sixty_seconds_close_the_first_layer(self):
        loop = ref.Looper()
        loop.press()
        heard = loop.frames([4] * (ref.LOOP_SAMPLES + 2))
        self.assertEqual(heard[-3:], [0, 4, 4])
        self.assertEqual((loop.mode, len(loop.samples()), loop.at),
                         ("playing", ref.LOOP_SAMPLES, 2))

    def test_stop_and_empty_recordings(self):
        loop = ref.Looper()
        loop.press()
        loop.stop()
        self.assertEqual(loop.mode, "empty")
        loop.press()
        loop.frames([9, 8])
        loop.stop()
        self.assertEqual((loop.mode, loop.samples(), loop.frames([1])), ("stopped", [9, 8], None))
        loop.press()
        self.assertEqual(loop.frames([0]), [9])


class Import(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def load(self, data, engine=None):
        e = engine or ref.Engine()
        path = os.path.join(self.dir.name, "in.wav").encode()
        write(path, data)
        boxes = []
        ref.import_wav(e, path, boxes)
        return e, boxes

    def test_stereo_mixdown_truncates_toward_zero(self):
        pairs = struct.pack("<6h", -3, 0, 3, 0, 5, 6)
        e, boxes = self.load(wav(2, 16, pairs + b"\x01"))
        self.assertEqual((list(e.table), e.tableLength, boxes), ([-1, 1, 5], 3, []))

    def test_eight_bit_widening(self):
        e, _ = self.load(wav(1, 8, bytes([0, 128, 255, 127])))
        self.assertEqual(list(e.table), [-32768, 0, 32512, -256])

    def test_sixteen_bit_data_at_odd_offset(self):
        body = (b"fmt " + struct.pack("<I", 17)
                + struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16) + b"\0"
                + b"data" + struct.pack("<I", 6) + struct.pack("<3h", -2, 300, -32768))
        e, _ = self.load(b"RIFF" + struct.pack("<I", len(body) + 4) + b"WAVE" + body)
        self.assertEqual(list(e.table), [-2, 300, -32768])

    def test_refusals_bring_back_the_default_table(self):
        good = wav(1, 16, bytes(4))
        no_chunk = "0: 目的のRIFFチャンクが無い"
        bad_format = "0: 現Verでは変換できない形式です"
        cases = [(b"RIF", "0: not RIFF"), (b"RIFF\x04\0\0\0WAV", "0: not WAVE"),
                 (wav(3, 16, bytes(12)), "0: モノでもステレオでも無い " + bad_format[3:]),
                 (wav(1, 24, bytes(12)), bad_format),
                 (good[:30], bad_format),                                # fmt cut short
                 (b"RIFF\xff\xff\xff\xffWAVE" + good[12:], no_chunk),
                 (b"RIFF\x07\0\0\0WAVE" + good[12:], no_chunk),
                 (b"RIFF\x30\0\0\0WAVEjunk\x03\0\0\0abc\0" + good[12:], no_chunk)]
        for data, line in cases:
            e = ref.Engine()
            e.table, e.tableLength = array("h", [9, 9]), 2
            e, boxes = self.load(data, e)
            self.assertEqual(boxes, [line], data)
            self.assertIs(e.table, ref.DEFAULT_TABLE)
            self.assertEqual((e.tableLength, e.tableReady, e.voices[0].phaseReset), (44100, True, True))

    def test_rate_warning_shows_signed_rate_and_goes_on(self):
        e, boxes = self.load(wav(1, 16, struct.pack("<h", 7), rate=0xFFFFFFFE))
        self.assertEqual(boxes, ["注意: レートが-2Hzです。 44100Hzじゃないです。"])
        self.assertEqual(list(e.table), [7])

    def test_empty_or_missing_file_keeps_the_table(self):
        e = ref.Engine()
        e.table, e.tableLength = array("h", [4, 4, 4]), 3
        e, boxes = self.load(b"", e)
        ref.import_wav(e, os.path.join(self.dir.name, "missing.wav").encode(), boxes)
        self.assertEqual((list(e.table), boxes, e.tableReady, e.voices[0].phaseReset),
                         ([4, 4, 4], [], True, True))

    def test_data_without_samples_plays_silence(self):
        e, _ = self.load(wav(1, 16, b"\x01"))
        self.assertEqual(e.tableLength, 0)
        e.voices[0].gate = True
        self.assertEqual(e.renderFrames(1500), [0] * 1500)
        self.assertEqual(e.voices[0].phase, 1500.0)

    def test_declared_size_past_the_end_is_clamped(self):
        data = wav(1, 16, struct.pack("<4h", 1, 2, 3, 4))[:-3]
        e, _ = self.load(data)
        self.assertEqual(list(e.table), [1, 2])


class SaveDirectories(unittest.TestCase):
    def test_failures_end_with_death(self):
        with tempfile.TemporaryDirectory() as d:
            os.mkdir(os.path.join(d, "isdir.wav"))
            write(os.path.join(d, "blocker"), b"x")
            for rel in ("isdir.wav", "blocker/sub/t.wav"):
                boxes = []
                self.assertIsNone(ref.create_for_write_making_dirs(
                    os.path.join(d, rel).encode(), boxes))
                self.assertEqual(boxes, ["Error: death"])


class Midi(unittest.TestCase):
    def test_pitch_of_cents(self):
        # Whole semitones are the notes snap plays, and octaves are exact doublings.
        for n in range(-13, 86):
            self.assertEqual(ref.cents_pitch(100 * n), ref.semitone_pitch(n), n)
        for x in (-16500, -7, 1, 1199, 15400):
            f = ref.cents_pitch(x)
            self.assertEqual(ref.cents_pitch(x + 1200), 2 * f)
            self.assertEqual(rf(f), f)
            m, e = math.frexp(f)
            self.assertLess(abs(f - 440 * 2 ** (x / 1200)), math.ldexp(1, e - 25) * (1 + 1e-9), x)

    def test_bend_cents_round_halves_away_from_zero(self):
        cases = [((8192, 2), 0), ((16383, 2), 200), ((0, 2), -200), ((8704, 2), 13),
                 ((7680, 2), -13), ((8703, 2), 12), ((8256, 48), 38), ((8128, 48), -38),
                 ((16383, 96), 9599), ((0, 96), -9600), ((16383, 0), 0)]
        for args, cents in cases:
            self.assertEqual(ref.bend_cents(*args), cents, args)

    def test_notes_take_voices_from_the_top_and_leave_held_ones(self):
        e = ref.Engine()
        pad, midi = ref.Pad(e), ref.Midi(e)
        pad.taken = midi.holds
        pad.address(9)
        pad.ldown(10, 10)                        # off the pad: held all the same
        midi.message(bytes([0x90, 60, 1]))
        midi.message(bytes([0x91, 60, 1]))
        self.assertEqual(midi.sounding, {(0, 60): 8, (1, 60): 7})
        pad.address(8)
        pad.lup(0, 0)                            # the note's voice ignores the pad
        self.assertTrue(e.voices[8].gate)
        midi.message(bytes([0xB0, 64, 64]))
        midi.message(bytes([0x80, 60, 0]))
        self.assertEqual(midi.waiting, {(0, 60)})
        midi.message(bytes([0xB0, 123, 0]))
        self.assertEqual((midi.sounding, midi.waiting, midi.channels[0].pedal),
                         ({(1, 60): 7}, set(), True))


class Scripts(unittest.TestCase):
    def refused_line(self, text):
        with self.assertRaises(ref.ScriptError) as cm:
            ref.parse_script(text)
        return cm.exception.line_no

    def test_accepted_forms(self):
        cmds, frames = ref.parse_script(
            b"# c\n\n  \t\nldown\t100  -1\r\n  render 02 \nsave  /a b/c.wav \t\nrup 65535 -32768\n"
            b"snap on \nsnap\toff\ndefault\t\nframes 0127\nsnap whole-tone\tA#\n"
            b"loop \nloop\tundo\nloop save  /l p.wav \ntake play\n")
        self.assertEqual(cmds, [(4, "ldown", (100, 65535)), (5, "render", 3000),
                                (6, "save", b"/a b/c.wav"), (7, "rup", (65535, 32768)),
                                (8, "snap", (b"chromatic", 0)), (9, "snap", None),
                                (10, "default", None), (11, "render", 127),
                                (12, "snap", (b"whole-tone", 10)), (13, "loop", "press"),
                                (14, "loop", "undo"), (15, "loop", b"/l p.wav"),
                                (16, "take", "play")])
        self.assertEqual(frames, 3127)

    def test_refused_lines_are_named(self):
        cases = [(b"render 1\njump 1 2\n", 2), (b"#\n\nmove 1\n", 3), (b"move 1 2 3", 1),
                 (b"move 65536 0", 1), (b"move 0 -32769", 1), (b"render -1", 1),
                 (b"render 1.5", 1), (b"render 1 # x", 1), (b"render 1\nload  \t", 2),
                 (b"save /" + b"p" * 259, 1), (b"Move 1 1", 1), (b"move +1 1", 1),
                 (b"render 3\nrender 715825", 2), (b"snap\n", 1), (b"render 1\nsnap On", 2),
                 (b"snap on 1", 1), (b"default 1", 1), (b"snap major", 1),
                 (b"render 1\nsnap dorian D", 2), (b"snap major Db", 1), (b"snap blues c", 1),
                 (b"snap blues C 1", 1), (b"loop go", 1), (b"loop stop 1", 1),
                 (b"render 1\nloop save \t", 2), (b"take", 1), (b"take pause", 1),
                 (b"take stop now", 1), (b"loop save /" + b"p" * 259, 1)]
        for text, line in cases:
            self.assertEqual(self.refused_line(text), line, text)
        ref.parse_script(b"save /" + b"p" * 258 + b"\nrender 715827")

    def test_midi_lines(self):
        cmds, _ = ref.parse_script(b"midi 90 3c 7F\nmidi\tC5 00 \nmidi EF 7f 00")
        self.assertEqual([c[2] for c in cmds], [b"\x90\x3c\x7f", b"\xc5\x00", b"\xef\x7f\x00"])
        for text in (b"midi", b"midi 90", b"midi 90 3C", b"midi 90 3C 40 00", b"midi C0 05 00",
                     b"midi E0 00", b"midi 3C 40", b"midi F8", b"midi F0 7E 7F",
                     b"midi 90 80 40", b"midi 90 3G 40", b"midi 090 3C 40", b"midi 9 3C 40"):
            self.assertEqual(self.refused_line(b"render 1\n" + text), 2, text)


if __name__ == "__main__":
    unittest.main()
