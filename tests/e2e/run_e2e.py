#!/usr/bin/env python3
"""End-to-end tests: the real tonvarel.exe under Wine in a virtual X display, driven with
xdotool, its sound captured through an ALSA file plugin, its windows read with a small probe.

    run_e2e.py --exe PATH --render PATH [--only NAME ...] [--no-wm] [--reuse-prefix]

Each scenario starts its own program with a fresh HOME and capture file and stands alone.
Screenshots and captured sound of a failed scenario are kept under build/e2e/failed/<scenario>/;
the screenshots of the start, take and About scenarios (and the load warning) always under
build/e2e/screenshots/. The last line printed is "N passed, M failed"; the exit status is 1 when
anything failed.
"""

import argparse
import array
import os
import shutil
import signal
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree

import audio  # noqa: E402
from harness import (App, Image, Session, quiet_wine, run,  # noqa: E402
                     wait_until, xdotool)

REPO = os.path.dirname(os.path.dirname(HERE))
BUILD = os.path.join(REPO, "build", "e2e")
RUN_BUDGET = 290  # seconds for the whole run, set-up and clean-up included

CHOOSER_TITLE = "とっととファイルを選べ。"
MENUS = ["ファイル(&F)|wavファイルの読み込み(&R)|wavファイルへの書き出し(&W)|アプリケーションの終了(&X)",
         "ヘルプ(&H)|バージョン情報(&A)..."]
ABOUT_TITLE = "バージョン情報"

# A note is held until this many frames of it have been captured (about 1.4 s of sound).
HOLD_FRAMES = 60000
# After a release, this much silence must follow before the capture is judged.
TAIL_FRAMES = 30000


class RunOutOfTime(BaseException):
    """Raised by the alarm when the whole run has taken too long; not caught by scenarios."""


# ---- scenario plumbing --------------------------------------------------------------------

class Scenario:
    def __init__(self, session, name, keep_screens):
        self.session = session
        self.name = name
        self.keep_screens = keep_screens
        self.dir = os.path.join(BUILD, "work", name)
        if os.path.isdir(self.dir):
            shutil.rmtree(self.dir)
        os.makedirs(self.dir)
        self.apps = []
        self.notes = []  # facts worth printing even on success

    def app(self, sound=True, name="app"):
        app = App(self.session, self.dir, sound=sound, name=name)
        self.apps.append(app)
        return app

    def shot(self, label):
        path = self.session.screenshot(os.path.join(self.dir, f"{label}.png"))
        if self.keep_screens and os.path.exists(path):
            keep = os.path.join(BUILD, "screenshots")
            os.makedirs(keep, exist_ok=True)
            shutil.copy(path, os.path.join(keep, f"{self.name}-{label}.png"))
        return path

    def note(self, text):
        self.notes.append(text)

    def finish(self, failed):
        if failed:
            try:
                self.shot("at-failure")
            except Exception:  # noqa: BLE001 - evidence is best effort
                pass
            try:
                with open(os.path.join(self.dir, "windows.json"), "w") as f:
                    for w in self.session.probe():
                        f.write(repr(w) + "\n")
            except Exception:  # noqa: BLE001
                pass
        for app in self.apps:
            app.stop()
        if failed:
            kept = os.path.join(BUILD, "failed", self.name)
            if os.path.isdir(kept):
                shutil.rmtree(kept)
            os.makedirs(kept)
            for entry in os.listdir(self.dir):
                source = os.path.join(self.dir, entry)
                if os.path.isfile(source) and entry.endswith((".png", ".raw", ".log", ".json",
                                                              ".wav", ".txt", ".ppm")):
                    shutil.copy(source, kept)


SCENARIOS = []


def scenario(name, keep_screens=False):
    def register(function):
        SCENARIOS.append((name, function, keep_screens))
        return function
    return register


def check(condition, message):
    if not condition:
        raise AssertionError(message)


# ---- shared steps -------------------------------------------------------------------------

def titled(title):
    return lambda w: w["title"] == title


def wait_frames(app, count, timeout=30):
    """Waits until the capture holds at least count frames."""
    wait_until(f"{count} captured frames", lambda: app.capture.frame_count() >= count, timeout,
               interval=0.05)


def wait_sound_after(app, begin, timeout=15):
    """Waits for the first sounding frame at or after begin; returns its index."""
    return wait_until("sound in the capture",
                      lambda: audio.first_nonzero(app.capture.left(), begin), timeout, 0.05)


def wait_silence(app, frames=TAIL_FRAMES, timeout=30):
    """Waits until the capture ends in at least `frames` silent frames; returns the index just
    after the last sounding frame (0 if nothing sounded)."""
    def settled():
        left = app.capture.left()
        last = audio.last_nonzero(left)
        end = 0 if last is None else last + 1
        return (len(left) - end >= frames) and (end, )
    return wait_until(f"{frames} frames of silence", settled, timeout, 0.05)[0]


def play_note(app, x, y, hold=HOLD_FRAMES):
    """Presses the left button at client (x, y), holds it for `hold` captured frames of sound,
    releases it and waits for the silence after it. Returns (start, end) in the capture."""
    app.move(x, y)
    # Let the move reach the engine's target before the press (two blocks and then some).
    wait_frames(app, app.capture.frame_count() + 6000)
    begin = app.capture.frame_count()
    xdotool(app.session, "mousedown", "1")
    try:
        start = wait_sound_after(app, max(begin - 3000, 0))
        wait_frames(app, start + hold)
    finally:
        xdotool(app.session, "mouseup", "1")
    end = wait_silence(app)
    return start, end


def open_chooser(app, menu_key):
    """Chooses a file command from the menu; returns the chooser's probe record and X window."""
    app.key("alt+f", menu_key)
    chooser = app.wait_window("the file chooser", titled(CHOOSER_TITLE))
    check(chooser["owner"] == 0, f"the chooser has an owner window: {chooser}")
    xids = wait_until("the chooser's X window",
                      lambda: [x for x in app.x_windows(classname="tonvarel.exe")
                               if x != app.xid], 10)
    check(len(xids) == 1, f"expected one chooser X window, found {xids}")
    return chooser, xids[0]


def choose_path(app, menu_key, windows_path):
    chooser, xid = open_chooser(app, menu_key)
    app.focus(xid)
    # The name field has the focus and may hold the last path: replace its content.
    xdotool(app.session, "key", "ctrl+a")
    xdotool(app.session, "type", "--delay", "15", windows_path)
    xdotool(app.session, "key", "Return")
    app.wait_window_gone("the file chooser", titled(CHOOSER_TITLE))


def message_box(app, caption, timeout=20):
    """Waits for a message box with this caption; returns (record, text, X window)."""
    box = app.wait_window(f'the "{caption}" box', titled(caption), timeout)
    check(box["class"] == "#32770", f"the {caption} box is a {box['class']}")
    check(box["owner"] == 0, f"the {caption} box has an owner window")
    texts = [c["text"] for c in box["children"] if c["class"].lower() == "static" and c["text"]]
    xids = app.x_windows(f"^{caption}$")
    check(len(xids) == 1, f"expected one X window named {caption}, found {xids}")
    return box, texts, xids[0]


def close_box(app, caption, xid, key="Return"):
    app.key(key, xid=xid)
    app.wait_window_gone(f'the "{caption}" box', titled(caption))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# At most this much of the program's output is lost at a time (2,910 frames seen), silence
# apart: how much of a silent stretch was lost cannot be told.
MAX_LOST_FRAMES = 4 * audio.BLOCK_FRAMES
# Frames compared to pick up the capture again after a loss (fewer before inserted silence).
RESUME_PROBE = 300


def align(expected, captured, begin, end=None, min_gap=64, blocks=False):
    """Walks the captured stream from `begin` along `expected`, letting the capture hold extra
    stretches of silence that are not in `expected`: the sound system plays silence when a
    block comes late, and the rest follows unchanged. Such a stretch is at least `min_gap`
    frames long (a few hundred seen); a shorter one is a fault.

    With `blocks` (expected[0] is the first frame of one of the program's 1,500-frame blocks),
    the capture may also lack program output the way Wine's waveform-audio path loses it (see
    README.md): up to MAX_LOST_FRAMES frames, the capture then carrying on at the first frame of
    a later block, or at least a block further on (where Wine kept its place within a block
    it dropped); or any part of a silent stretch. Where the sound repeats itself, several such
    places may fit, and each is followed until one explains the rest of the capture. Sound that
    goes back, repeats a block, or skips less than a block to anywhere but a block's first
    frame is still a fault.

    Stops at the end of `expected` or at captured index `end`. Returns (samples of `expected`
    matched, index in `expected` reached, captured index reached, inserted silent stretches as
    (index, length), lost stretches as (captured index, first and end index in `expected`)).
    Raises AssertionError where they differ."""
    stop = len(captured) if end is None else end
    failed = set()  # (captured, expected) indices from which the walk was already refuted

    def walk(i, j, inserted, lost):
        if (i, j) in failed:
            raise AssertionError("refuted before")
        agreed = 0  # frames in agreement since the last silence or loss
        while j < len(expected) and i < stop:
            c, e = captured[i], expected[j]
            if c == e:
                i += 1
                j += 1
                agreed += 1
                continue
            if c == 0:
                k = i
                while k < stop and captured[k] == 0:
                    k += 1
                if k - i >= min_gap or k == stop:
                    inserted.append((i, k - i))
                    i = k
                    agreed = 0
                    continue
            difference = AssertionError(
                f"the capture differs at frame {i} (sample {j} of the expected sound): "
                f"{captured[i:i + 8].tolist()} where {expected[j:j + 8].tolist()} was expected")
            if blocks:
                for back, b in resumptions(expected, captured, i, j, min(agreed, 200), stop,
                                           min_gap):
                    at = i - back
                    try:
                        return walk(at, b, list(inserted), lost + [(at, j - back, b)])
                    except AssertionError:
                        failed.add((at, b))
            raise difference
        return j, i, inserted, lost

    j, i, inserted, lost = walk(begin, 0, [], [])
    matched = j - sum(to - first for _, first, to in lost)
    return matched, j, i, inserted, lost


def resumptions(expected, captured, i, j, most_back, stop, min_gap):
    """Where the capture may carry on after Wine lost some of the program's output, most likely
    first: (frames to step back, index in `expected`). The loss may have begun a few frames
    before the difference showed, where lost and following samples happened to agree. The
    capture must follow `expected` there for RESUME_PROBE frames, or up to inserted silence."""
    block = audio.BLOCK_FRAMES
    silence = array.array("h", bytes(2 * min_gap))
    found = []
    for back in range(most_back + 1):
        at, first = i - back, j - back
        probe = captured[at:min(at + RESUME_PROBE, stop)]
        silent = audio.index_of(probe, silence)
        if silent != -1:
            probe = probe[:silent]
        if len(probe) < min(16, stop - at):
            continue
        places = []
        # The first frame of one of the next few blocks...
        following = (first // block + 1) * block
        places += [b for b in range(following, first + MAX_LOST_FRAMES + 1, block)
                   if expected[b:b + len(probe)] == probe]
        # ... any frame at least a block further on...
        b = audio.index_of(expected, probe, first + block)
        while b != -1 and b <= first + MAX_LOST_FRAMES:
            places.append(b)
            b = audio.index_of(expected, probe, b + 1)
        # ... or, in silence, where the silence ends.
        if expected[first] == 0:
            b = audio.first_nonzero(expected, first)
            if b is not None and expected[b:b + len(probe)] == probe:
                places.append(b)
        found += [(back, b) for b in places if (back, b) not in found]
    return found[:12]


def check_align_tells_loss_from_fault(note):
    """align() on copies of a note as Wine damages it (accepted) and as faults of the program
    would damage it (refused): a block handed over twice, a loss that carries on in mid-block."""
    block = audio.BLOCK_FRAMES
    silence = array.array("h", bytes(2 * 174))

    def accepted(captured):
        try:
            return align(note, captured, 0, blocks=True)[1] == len(note)
        except AssertionError:
            return False
    check(accepted(note[:3 * block + 700] + silence + note[4 * block:]),
          "align() refuses a capture that lost the rest of a block the way Wine does")
    check(not accepted(note[:4 * block] + note[3 * block:4 * block] + note[4 * block:]),
          "align() accepts a block played twice")
    check(not accepted(note[:3 * block + 700] + note[4 * block + 200:]),
          "align() accepts a capture carrying on in the middle of a block")


def expect_silence(left, begin, end, what):
    first = audio.first_nonzero(left[begin:end])
    if first is not None:
        raise AssertionError(f"sound at frame {begin + first} {what}")


def play_and_compare(sc, app, x, y, hold, expectation, what, attempts=3):
    """Plays a note at client (x, y) and compares the whole of it, as captured, with
    expectation(left, start, end): the samples it should hold, from the first frame of a block
    on (AssertionError if its beginning already does not fit). Silence inserted and output lost
    by Wine's sound path are allowed as align() describes. A press that lands while the
    streaming thread is held up in the middle of a block restarts the phase there, which no
    expectation places; such a note is played again. A fault of the program shows in every
    attempt. Returns (start, end, inserted silent stretches)."""
    failures = []
    previous_end = app.capture.frame_count()  # the capture ends in silence here
    for attempt in range(1, attempts + 1):
        start, end = play_note(app, x, y, hold)
        left = app.capture.left()
        expect_silence(left, previous_end, start, f"before the press ({what})")
        previous_end = end
        try:
            expected = expectation(left, start, end)
            matched, _, reached, inserted, lost = align(expected, left, start, end,
                                                        blocks=True)
            check(reached == end, f"the capture holds sound up to {end}, the expected sound "
                                  f"only up to {reached}")
            check(matched >= hold // 2, f"only {matched} frames of the note were compared")
        except AssertionError as e:
            failures.append(f"attempt {attempt}, note at {start}..{end}: {e}")
            sc.note(f"{what}: {failures[-1]}")
            continue
        if inserted:
            sc.note(f"{what}: silence inserted by the sound system at {inserted}")
        if lost:
            sc.note(f"{what}: output lost by the sound system (capture frame, expected "
                    f"samples from, to): {lost}")
        return start, end, inserted
    raise AssertionError(f"{what}: no attempt sounded as expected; first: {failures[0]}")


# ---- scenarios ----------------------------------------------------------------------------

@scenario("1-start", keep_screens=True)
def start_scenario(sc):
    app = sc.app().start()
    mine = app.own_windows()
    check(len(mine) == 1, f"expected one window at start, found {[w['title'] for w in mine]}")
    main = mine[0]
    check(main["title"] == "Tonvarel" and main["class"] == "QUENTARO",
          f"main window is {main['class']!r} / {main['title']!r}")
    left, top, right, bottom = main["rect"]
    check((right - left, bottom - top) == (400, 450),
          f"outer size is {right - left} x {bottom - top}, not 400 x 450")
    cl, ct, cr, cb = main["client"]
    check(cr - cl > 0 and cb - ct > 0, "empty client area")
    # Caption and frame belong to the window manager (or are missing without one): the X
    # window holds the menu bar and the client area, side by side with the client exactly.
    xx, xy, xw, xh = app.x_geometry()
    menu_height = ct - xy
    sc.note(f"outer 400x450; client {cr - cl}x{cb - ct} at ({cl},{ct}); X window {xw}x{xh} "
            f"at ({xx},{xy}); menu bar {menu_height} px")
    check((xx, xw) == (cl, cr - cl), f"X window spans x {xx}+{xw}, client {cl}..{cr}")
    check(xy + xh == cb, f"X window ends at y {xy + xh}, client at {cb}")
    check(15 <= menu_height <= 30, f"no menu bar above the client area ({menu_height} px)")
    # The Win32 frame around the X window: left/right/bottom border and caption plus border.
    check(cl - left == right - cr == bottom - cb and ct - top - menu_height > cl - left,
          f"frame is not caption + equal borders: {main['rect']} vs {main['client']}")

    shot = Image(sc.shot("start"))
    # Menu bar: text drawn in the left part (two items), nothing beyond them.
    ink = shot.count(xx, xy, xx + 200, xy + menu_height, lambda p: max(p) < 128)
    check(ink > 100, f"the menu bar looks empty ({ink} dark pixels)")
    # The pad's border at offsets 0 and 255 on each side, its inside blank.
    def c(x, y):
        return cl + x, ct + y
    for x, y in ((64, 192), (319, 192), (192, 64), (192, 319)):
        check(shot.dark(*c(x, y)), f"no pad border at client ({x}, {y})")
    check(not shot.dark(*c(192, 192)), "the pad's inside is not blank")
    # Scale: a short tick at the offset of 440 Hz (row 192), a long one at C5 (offset 107).
    check(shot.dark(*c(58, 192)) and not shot.dark(*c(50, 192)),
          "no short tick at row 192 (440 Hz)")
    check(shot.dark(*c(50, 171)), "no long tick at row 171 (C5)")
    check(shot.count(cl, ct, cl + 40, ct + 14, lambda p: max(p) < 128) > 20,
          "no status text at the top-left corner")

    # The menus open from the keyboard, each as a popup under the menu bar. Their texts are
    # compared with a reference window that the same Wine draws with the expected texts: the
    # menu bar and each opened menu must be the same, pixel for pixel.
    reference, ref_xid = sc.session.menu_reference(MENUS)
    try:
        rx, ry, rw, rh = app.x_geometry(ref_xid)
        check((rw, rh) == (xw, xh), f"the reference window is {rw}x{rh}, not {xw}x{xh}")
        crops = {}
        for who, xid, (ox, oy), image in (("program", app.xid, (xx, xy), "tonvarel.exe"),
                                          ("reference", ref_xid, (rx, ry), "probe.exe")):
            app.focus(xid, click=None if xid == app.xid else (rx + 200, ry + 200))
            bar = (ox, oy, ox + xw, oy + menu_height)
            shot = Image(sc.shot(f"menu-bar-{who}"))
            crops[who, "bar"] = (shot, bar)
            for key in ("alt+f", "alt+h"):
                app.key(key, xid=xid)
                popup = app.wait_window(
                    f"the {who}'s menu opened with {key}",
                    lambda w: w["class"] == "#32768" and w["image"].lower().endswith(image), 10,
                    everyone=True)
                popup_top = popup["rect"][1]
                check(abs(popup_top - (oy + menu_height)) <= 2,
                      f"the {who}'s {key} menu opens at y {popup_top}, not under the menu bar")
                shot = Image(sc.shot(f"menu-{key.replace('+', '-')}-{who}"))
                crops[who, key] = (shot, popup["rect"])
                app.key("Escape", "Escape", xid=xid)
                app.wait_window_gone("the menu", lambda w: w["class"] == "#32768", 10,
                                     everyone=True, hidden=False)
        for part in ("bar", "alt+f", "alt+h"):
            (mine, mine_rect), (ref, ref_rect) = crops["program", part], crops["reference", part]
            same_size = (mine_rect[2] - mine_rect[0], mine_rect[3] - mine_rect[1]) == \
                (ref_rect[2] - ref_rect[0], ref_rect[3] - ref_rect[1])
            if not same_size or mine.crop(*mine_rect) != ref.crop(*ref_rect):
                mine.save_crop(os.path.join(sc.dir, f"{part}-program.ppm"), *mine_rect)
                ref.save_crop(os.path.join(sc.dir, f"{part}-expected.ppm"), *ref_rect)
                raise AssertionError(f"the {part} menu differs from one showing {MENUS}")
    finally:
        reference.kill()
        reference.wait(timeout=10)

    # The stream runs from the start and is silent while nothing is pressed.
    wait_frames(app, 3 * audio.RATE)
    frames = app.capture.frames()
    left_ch, right_ch = audio.split_channels(frames)
    check(left_ch == right_ch, "left and right channels differ")
    expect_silence(left_ch, 0, len(left_ch), "while nothing was pressed")
    sc.note(f"{len(left_ch)} silent frames captured")


@scenario("2-play")
def play_scenario(sc):
    renderer = sc.session.render
    # The renderer's note, pressed at offset (128, 128) after three blocks: the oscillator then
    # stands at frame 4,501, and the model below must reproduce the renderer sample for sample.
    rendered, _ = audio.render(renderer, ["move 192 192", "render 3", "ldown 192 192",
                                          "render 40", "lup 192 192", "render 4"],
                               sc.dir, "render-play")
    check(audio.notes(rendered) == [(4500, 4500 + 40 * 1500)],
          f"the renderer's note is {audio.notes(rendered)}")
    model = audio.HeldNote(audio.default_table(), 56320.0 / 128, 64 / 500)
    check(model.samples((4501 - 4000) % 2000, 40 * 1500) == rendered[4500:64500],
          "the note model does not reproduce the renderer (square table, 440 Hz, depth 0.128)")

    app = sc.app().start()
    wait_frames(app, 20000)
    expect_silence(app.capture.left(), 0, app.capture.frame_count(), "before any press")
    offsets = []

    def vibrato_note(left, start, end):
        # The oscillator's position at the press is found from the note's first stretch
        # without a gap; the rest of the note must then follow sample for sample.
        head = left[start:start + 2000]
        if 0 in head:
            head = head[:head.index(0)]
        ks = model.match(head, probe=len(head)) if len(head) >= 500 else []
        check(len(ks) == 1, f"the note's beginning fits {len(ks)} oscillator positions, not one "
                            f"(440 Hz square, depth 0.128, restarted at phase 0)")
        offsets.append((start, ks[0]))
        return model.samples(ks[0], end - start + 20000)

    start, end, inserted = play_and_compare(sc, app, 192, 192, HOLD_FRAMES, vibrato_note,
                                            "the note at (128, 128)")
    start, k = offsets[-1]
    sc.note(f"note at frames {start}..{end}, oscillator offset {k} "
            f"((start - offset) mod 2000 = {(start - k) % 2000})")
    frames = app.capture.frames()
    check(frames[0::2] == frames[1::2], "left and right channels differ")
    expect_silence(app.capture.left(), end, len(app.capture.left()), "after the release")


@scenario("3-bend")
def bend_scenario(sc):
    app = sc.app().start()
    heights = [128, 64, 96, 176, 230, 40]   # pad offsets; x offset 32 keeps the depth at 0
    x = 64 + 32
    app.move(x, 64 + heights[0])
    wait_frames(app, app.capture.frame_count() + 6000)
    begin = app.capture.frame_count()
    xdotool(app.session, "mousedown", "1")
    try:
        start = wait_sound_after(app, max(begin - 3000, 0))
        mark = start
        for i, y in enumerate(heights):
            if i:
                app.move(x, 64 + y)
            mark = app.capture.frame_count()
            wait_frames(app, mark + 40000)
    finally:
        xdotool(app.session, "mouseup", "1")
    end = wait_silence(app)
    sounding = app.capture.left()[start:end]
    check(set(sounding) <= {1000, -1000, 0}, "the square wave changed its amplitude")
    # The square table holds no zero: a silent frame inside the note is silence the sound
    # system inserted for a late block, and is left out of the pitch analysis.
    note = array.array("h", (v for v in sounding if v))
    if len(note) < len(sounding):
        sc.note(f"{len(sounding) - len(note)} inserted silent frames left out")
    found = audio.plateaus(note, 2048, tolerance=0.004, min_windows=4)
    merged = []
    for first, freq, count in found:
        if merged and abs(freq - merged[-1][1]) <= 0.01 * freq:
            merged[-1][2] += count
        else:
            merged.append([first, freq, count])
    expected = [56320 / y for y in heights]
    described = ", ".join(f"{f:.1f} Hz x{n}" for _, f, n in merged)
    sc.note(f"steady pitches: {described}")
    check(len(merged) == len(expected),
          f"expected {len(expected)} steady pitches {[round(e, 1) for e in expected]}, "
          f"heard {described}")
    for (first, freq, _), want, y in zip(merged, expected, heights):
        check(abs(freq - want) <= 0.01 * want,
              f"at offset y {y}: {freq:.2f} Hz, expected {want:.2f} Hz within 1 %")


@scenario("4-take-save", keep_screens=True)
def take_scenario(sc):
    app = sc.app().start()
    failures = []
    for attempt in range(1, 4):
        folder = "saved" if attempt == 1 else f"saved-{attempt}"
        target = os.path.join(sc.dir, folder, "new dir", "deeper", "take.wav")
        check(not os.path.exists(os.path.join(sc.dir, folder)), "the directory already exists")
        begin = app.capture.frame_count()
        take = record_and_save(sc, app, target, shoot=attempt == 1)
        # The take is what was rendered; the capture is what was played. Every sample of the
        # take must follow in the capture, in order, with nothing left out.
        left = app.capture.left()
        first = audio.index_of(left, take[:600], begin)
        try:
            check(first >= 0, "the take's beginning is nowhere in the captured stream")
            _, reached, _, inserted, lost = align(take, left, first, blocks=True)
            check(reached == len(take), f"only {reached} of the take's {len(take)} samples "
                                        f"follow in the capture")
        except AssertionError as e:
            # A take opened while the streaming thread was held up within a block does not
            # begin on a block's first frame (see play_and_compare); a take that is wrong is
            # wrong in every attempt.
            failures.append(f"attempt {attempt}: {e}")
            sc.note(failures[-1])
            continue
        sc.note(f"take of {len(take)} samples found at capture frame {first}; silence "
                f"inserted by the sound system: {inserted or 'none'}; output lost by it: "
                f"{lost or 'none'}")
        return
    raise AssertionError(f"no take was found whole in the capture; first: {failures[0]}")


def record_and_save(sc, app, target, shoot):
    """Records a take of two notes with the right button held, saves it through the menu and
    the chooser, checks the file and returns its samples."""
    app.move(96, 192)
    wait_frames(app, app.capture.frame_count() + 6000)
    xdotool(app.session, "mousedown", "3")
    try:
        for y in (192, 128):        # 440 Hz, then 880 Hz, both without vibrato
            play_note(app, 96, y, hold=30000)
        wait_frames(app, app.capture.frame_count() + 10000)
    finally:
        xdotool(app.session, "mouseup", "3")
    wait_frames(app, app.capture.frame_count() + 20000)

    choose_path(app, "w", windows_path(target))
    box, texts, xid = message_box(app, "処理終了")
    check(texts == ["処理終了"], f"the completion box says {texts}")
    if shoot:
        sc.shot("saved-box")
    close_box(app, "処理終了", xid)

    check(os.path.isfile(target), f"no file at {target}")
    with open(target, "rb") as f:
        data = f.read()
    check(len(data) > 44 and data[:4] == b"RIFF" and data[8:16] == b"WAVEfmt ",
          "not a RIFF WAVE file")
    check(int.from_bytes(data[4:8], "little") == len(data) - 8, "RIFF size does not match")
    check(data[36:40] == b"data" and int.from_bytes(data[40:44], "little") == len(data) - 44,
          "the data chunk does not fill the file after a 44-byte header")
    soxi = run(["soxi", target], timeout=20).stdout.decode()
    info = {k.strip(): v.strip() for k, _, v in
            (line.partition(":") for line in soxi.splitlines() if ":" in line)}
    check(info.get("Channels") == "1" and info.get("Sample Rate") == "44100"
          and info.get("Precision") == "16-bit", f"soxi reads {info}")
    channels, rate, bits, take = audio.read_wav(target)
    check((channels, rate, bits) == (1, 44100, 16), f"wave reads {channels} ch {rate} Hz {bits}")
    take_notes = audio.notes(take)
    check(len(take_notes) == 2, f"the take holds {len(take_notes)} notes, not 2")
    check(take[0] != 0, "the take does not begin with the first note")
    check(len(take) - take_notes[-1][1] >= 5000,
          "the take lacks the silence recorded while only the right button was held")
    pitches = [audio.frequency(take[a:b]) for a, b in take_notes]
    check(abs(pitches[0] - 440) < 4.4 and abs(pitches[1] - 880) < 8.8,
          f"the take's notes sound at {pitches} Hz, not 440 and 880")
    return take


def make_test_files(sc):
    # One second: its table is longer than any loss align() allows plus a block, so a block
    # played twice can never pass for a loss.
    stereo8 = os.path.join(sc.dir, "stereo8.wav")
    run(["sox", "-n", "-r", "22050", "-c", "2", "-b", "8", "-e", "unsigned-integer", stereo8,
         "synth", "1", "sine", "330", "square", "550", "vol", "0.7"], timeout=30)
    not_riff = os.path.join(sc.dir, "not-riff.wav")
    with open(not_riff, "wb") as f:
        f.write(b"RIFX" + bytes(4) + b"WAVEfmt " + bytes(200))
    return stereo8, not_riff


@scenario("5-load", keep_screens=True)
def load_scenario(sc):
    stereo8, not_riff = make_test_files(sc)
    soxi = run(["soxi", stereo8], timeout=20).stdout.decode()
    check("Channels       : 2" in soxi and "22050" in soxi and "8-bit" in soxi,
          f"sox made something else: {soxi}")
    # Held for 80 blocks: longer than any note the program plays here, as under load the
    # release reaches it well after the 30,000 frames the press is held for.
    press = ["move 96 192", "render 2", "ldown 96 192", "render 80", "lup 96 192", "render 2"]
    file_sound, messages = audio.render(sc.session.render, [f"load {stereo8}"] + press,
                                        sc.dir, "render-file")
    check("注意: レートが22050Hzです。 44100Hzじゃないです。" in messages,
          f"the renderer reported {messages!r}")
    default_sound, messages = audio.render(sc.session.render, [f"load {not_riff}"] + press,
                                           sc.dir, "render-not-riff")
    check("0: not RIFF" in messages, f"the renderer reported {messages!r}")
    file_note = file_sound[audio.first_nonzero(file_sound):]
    default_note = default_sound[audio.first_nonzero(default_sound):]
    check(file_note[:3000] != default_note[:3000], "the file sounds like the default table")
    check_align_tells_loss_from_fault(file_note[:30 * audio.BLOCK_FRAMES])

    app = sc.app().start()

    def heard(expected, what):
        """Plays a note without vibrato and compares it with the renderer's. The phase restarts
        on the press and the gate opens only after "keyon " is drawn, so under load the phase
        may have run on silently for a block or more: the note then begins with a later block
        of the renderer's (a table read one frame per frame, the phase exactly 1,500 further on
        per block)."""
        def renderers_note(left, start, end):
            for blocks in range(4):
                at = blocks * audio.BLOCK_FRAMES
                if left[start:start + 200] == expected[at:at + 200]:
                    if blocks:
                        sc.note(f"{what}: the note at {start} begins with the renderer's block "
                                f"{blocks}")
                    return expected[at:]
            raise AssertionError(f"the note begins {left[start:start + 6].tolist()}, the "
                                 f"renderer's {expected[:6].tolist()} (or a block or three on)")
        play_and_compare(sc, app, 96, 192, 30000, renderers_note, what)

    choose_path(app, "r", windows_path(stereo8))
    box, texts, xid = message_box(app, "注意")
    sc.shot("rate-warning")
    check(texts == ["レートが22050Hzです。\r\n44100Hzじゃないです。"],
          f"the warning says {texts}")
    close_box(app, "注意", xid)
    heard(file_note, "the loaded file")

    # Cancelling the chooser keeps the loaded sound.
    chooser, xid = open_chooser(app, "r")
    app.key("Escape", xid=xid)
    app.wait_window_gone("the file chooser", titled(CHOOSER_TITLE))
    heard(file_note, "after cancelling")

    choose_path(app, "r", windows_path(not_riff))
    box, texts, xid = message_box(app, "0")
    check(texts == ["not RIFF"], f"the box says {texts}")
    sc.shot("not-riff")
    close_box(app, "0", xid)
    heard(default_note, "after the file that is not RIFF")


@scenario("6-about", keep_screens=True)
def about_scenario(sc):
    app = sc.app().start()
    app.move(192, 192)
    ways = [("alt+question", "Return"), ("alt+slash", "Escape"), ("alt+question", "OK button"),
            ("alt+slash", "close button")]
    for opener, closer in ways:
        app.key(opener)
        box = app.wait_window(f"the About box opened with {opener}", titled(ABOUT_TITLE))
        check(box["owner"] == app.hwnd, "the About box is not owned by the main window")
        texts = [c["text"] for c in box["children"]]
        check("Tonvarel Vers 1.0" in texts and "OK" in texts, f"About box shows {texts}")
        main = [w for w in app.own_windows() if w["hwnd"] == app.hwnd][0]
        check(not main["enabled"], "the main window stays enabled under the About box")
        xids = app.x_windows(f"^{ABOUT_TITLE}$")
        check(len(xids) == 1, f"expected one About X window, found {xids}")
        if opener == "alt+question" and closer == "Return":
            sc.shot("about")
        # Clicks in the pad reach nothing while the box is open.
        app.move(192, 192)
        xdotool(app.session, "mousedown", "1")
        time.sleep(0.3)
        xdotool(app.session, "mouseup", "1")
        if closer in ("Return", "Escape"):
            app.key(closer, xid=xids[0])
        elif closer == "OK button":
            button = [c for c in box["children"] if c["text"] == "OK"][0]["rect"]
            xdotool(app.session, "mousemove", str((button[0] + button[2]) // 2),
                    str((button[1] + button[3]) // 2))
            xdotool(app.session, "click", "1")
        else:
            close_window_button(app, xids[0])
        app.wait_window_gone(f"the About box ({closer})", titled(ABOUT_TITLE))
        main = [w for w in app.own_windows() if w["hwnd"] == app.hwnd][0]
        check(main["enabled"], f"the main window stays disabled after closing with {closer}")
    wait_frames(app, app.capture.frame_count() + 20000)
    left = app.capture.left()
    expect_silence(left, 0, len(left), "from a click in the pad while the About box was open")
    # The same click with the box closed does sound.
    start, end = play_note(app, 192, 192, hold=5000)
    check(end > start, "a press after the About box closed made no sound")


def close_window_button(app, xid):
    """Clicks the close button of a window's title bar."""
    if app.session.window_manager:
        # openbox draws the title bar above the X window, the close button at its right end.
        x, y, w, h = app.x_geometry(xid)
        xdotool(app.session, "mousemove", str(x + w - 8), str(y - 10))
        xdotool(app.session, "click", "1")
    else:
        # Without a window manager there is no title bar; the system menu's close does the same.
        app.key("alt+F4", xid=xid)


@scenario("7-exit")
def exit_scenario(sc):
    ways = ["menu", "alt+F4", "taskkill"]
    for way in ways:
        app = sc.app(name=way.replace("+", "")).start()
        play_note(app, 192, 192, hold=5000)
        if way == "menu":
            app.key("alt+f", "x")
        elif way == "alt+F4":
            app.key("alt+F4")
        else:
            quiet_wine(["taskkill", "/im", "tonvarel.exe"], env=app.env(), timeout=30)
        code = app.wait_exit(30)
        check(code == 0, f"closing by {way}: exit code {code}")
        def program_gone():
            return not [p for p in sc.session.leftover_processes() if "tonvarel" in p[1].lower()]
        wait_until(f"every process of the program to end after closing by {way}", program_gone,
                   10)


@scenario("8-no-device")
def no_device_scenario(sc):
    app = sc.app(sound=False).start()
    cl, ct = app.info["client"][:2]
    status_area = (cl, ct, cl + 48, ct + 14)
    model = audio.HeldNote(audio.default_table(), 56320.0 / 128, 64 / 500)
    for attempt in range(1, 3):
        before = Image(sc.shot(f"before-{attempt}"))
        app.move(192, 192)
        time.sleep(0.3)
        # Without a device nothing is captured to count on: the note is held by the clock,
        # and only its presence, never its length, is judged.
        xdotool(app.session, "mousedown", "1")
        time.sleep(0.8)
        during = Image(sc.shot(f"keyon-{attempt}"))
        xdotool(app.session, "mouseup", "1")
        time.sleep(0.3)
        check(before.region(*status_area) != during.region(*status_area),
              "the status text did not change on the press")

        # The stream keeps time by itself, so the note was rendered into a take all the same.
        target = os.path.join(sc.dir, f"saved-{attempt}", "new dir", "take.wav")
        choose_path(app, "w", windows_path(target))
        box, texts, xid = message_box(app, "処理終了")
        close_box(app, "処理終了", xid)
        check(os.path.isfile(target), f"no file at {target}")
        channels, rate, bits, take = audio.read_wav(target)
        check((channels, rate, bits) == (1, 44100, 16),
              f"wave reads {channels} ch {rate} Hz {bits}")
        check(len(take) >= audio.BLOCK_FRAMES, f"the take holds only {len(take)} samples")
        check(len(audio.notes(take)) == 1 and take[0] != 0 and take[-1] != 0,
              f"the take is not one note from press to release: {audio.notes(take)[:4]}")
        # Sample for sample; a second try covers the rare press whose phase restart a block
        # rendered between the window's two writes serves before the gate opens.
        ks = model.match(take[:2000], probe=2000)
        if len(ks) == 1 and model.samples(ks[0], len(take)) == take:
            break
        sc.note(f"attempt {attempt}: the take differs from the 440 Hz square with vibrato "
                f"depth 0.128 ({len(ks)} oscillator positions fit its beginning)")
    else:
        raise AssertionError("no take sounded as the note pressed at (128, 128)")
    sc.note(f"take of {len(take)} samples rendered without a device")

    # Still responsive, and ends cleanly.
    app.key("alt+question")
    app.wait_window("the About box", titled(ABOUT_TITLE))
    close_box(app, ABOUT_TITLE, app.x_windows(f"^{ABOUT_TITLE}$")[0], key="Escape")
    app.key("alt+F4")
    code = app.wait_exit(30)
    check(code == 0, f"exit code {code} without a sound device")
    # The scenario means something only if the sound system really found no device.
    with open(os.path.join(sc.dir, "app-wine.log"), "rb") as f:
        check(b"cannot find card" in f.read(), "ALSA did not report a missing sound card: the "
                                               "program may have had a device after all")


@scenario("9-make-run")
def make_run_scenario(sc):
    """make run's launcher in the session's prefix, with no sound device: its terminal shows
    no Wine output, one line when ALSA found no device, and a clear end when the display is
    out of reach."""
    script = os.path.join(REPO, "scripts", "run-windows.sh")
    env = sc.session.wine_env(home=sc.session._make_home("make-run", audio=None))
    env["TONVAREL_RUN_PREFIX"] = sc.session.prefix
    wine_log = sc.session.prefix + ".log"
    silent_line = ("make run: no sound device found; Tonvarel runs silent (takes are still "
                   "recorded and can be saved).")

    def launch(display, name):
        if os.path.exists(wine_log):
            os.remove(wine_log)
        out_path = os.path.join(sc.dir, f"{name}.txt")
        with open(out_path, "wb") as out:
            proc = subprocess.Popen([script, sc.session.exe], env=dict(env, DISPLAY=display),
                                    cwd=REPO, stdin=subprocess.DEVNULL, stdout=out, stderr=out)
        return proc, out_path

    def finish(proc, out_path, timeout):
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(timeout=10)
            raise AssertionError(f"run-windows.sh did not end within {timeout} s")
        with open(out_path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        check(os.path.isfile(wine_log), f"no Wine log at {wine_log}; the terminal showed {lines}")
        with open(wine_log, "rb") as f:
            no_card = b"cannot find card" in f.read()
        return code, lines, no_card

    proc, out_path = launch(sc.session.display, "with-display")

    def shown():
        if proc.poll() is not None:
            raise AssertionError(f"run-windows.sh ended with {proc.returncode} before a window "
                                 f"showed")
        return xdotool(sc.session, "search", "--onlyvisible", "--name", "^Tonvarel$",
                       check=False, timeout=10).stdout.split()
    try:
        wait_until("the window started by run-windows.sh", shown, 40, interval=0.3)
    finally:
        quiet_wine(["taskkill", "/im", "tonvarel.exe"], env=env, timeout=30, check=False)
    code, lines, no_card = finish(proc, out_path, 30)
    check(code == 0, f"run-windows.sh ended with {code} after the window was closed: {lines}")
    # ALSA's own report in Wine's log says whether a device was found.
    check(lines == ([silent_line] if no_card else []),
          f"the terminal showed {lines} (ALSA {'found no' if no_card else 'found a'} device)")
    sc.note(f"terminal: {lines}")

    free = next(n for n in range(140, 240) if not os.path.exists(f"/tmp/.X11-unix/X{n}")
                and not os.path.exists(f"/tmp/.X{n}-lock"))
    proc, out_path = launch(f":{free}", "without-display")
    code, lines, no_card = finish(proc, out_path, 60)
    check(code != 0, f"run-windows.sh ended with 0 on the missing display :{free}")
    check(any(f"could not open the X display :{free}" in line for line in lines)
          and not any(line.startswith("ALSA") or ":err:" in line for line in lines),
          f"the terminal showed {lines} on the missing display :{free}")


# ---- runner -------------------------------------------------------------------------------

def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--render", required=True)
    parser.add_argument("--only", action="append", default=[],
                        help="run only scenarios whose name contains this text")
    parser.add_argument("--no-wm", action="store_true", help="run without openbox")
    parser.add_argument("--reuse-prefix", action="store_true",
                        help="keep build/e2e/prefix from an earlier run")
    args = parser.parse_args()

    chosen = [s for s in SCENARIOS if not args.only or any(o in s[0] for o in args.only)]
    results = {}
    began = time.monotonic()

    def out_of_time(signum, frame):
        raise RunOutOfTime(f"the run exceeded {RUN_BUDGET} s")

    def stop(signum, frame):
        raise KeyboardInterrupt(f"signal {signum}")

    signal.signal(signal.SIGALRM, out_of_time)
    signal.signal(signal.SIGTERM, stop)
    signal.alarm(RUN_BUDGET)

    for what, path in (("program", args.exe), ("renderer", args.render)):
        if not os.path.isfile(path):
            print(f"e2e: no {what} at {path}", flush=True)
            print(f"0 passed, {len(chosen)} failed", flush=True)
            return 1

    os.makedirs(BUILD, exist_ok=True)
    shutil.rmtree(os.path.join(BUILD, "failed"), ignore_errors=True)
    shutil.rmtree(os.path.join(BUILD, "screenshots"), ignore_errors=True)
    session = Session(REPO, args.exe, args.render, BUILD, window_manager=not args.no_wm,
                      reuse_prefix=args.reuse_prefix)
    try:
        try:
            session.start()
            print(f"e2e: display {session.display}, prefix ready in "
                  f"{time.monotonic() - began:.1f} s", flush=True)
        except (AssertionError, OSError) as e:
            print(f"e2e: set-up failed: {e}", flush=True)
            for name, _, _ in chosen:
                results[name] = False
            return 1
        for name, function, keep in chosen:
            t0 = time.monotonic()
            sc = Scenario(session, name, keep)
            failed = True
            try:
                function(sc)
                failed = False
            except Exception as e:  # noqa: BLE001 - any error fails this scenario only
                detail = "".join(traceback.format_exception_only(type(e), e)).strip()
                where = traceback.extract_tb(e.__traceback__)
                line = next((f"{os.path.basename(f.filename)}:{f.lineno}" for f in reversed(where)
                             if f.filename.endswith("run_e2e.py") and f.name != "check"), "")
                print(f"FAIL {name} ({time.monotonic() - t0:.1f} s) {line}: {detail}", flush=True)
            finally:
                results[name] = not failed
                sc.finish(failed)
            for text in sc.notes:
                print(f"     {name}: {text}", flush=True)
            if not failed:
                print(f"PASS {name} ({time.monotonic() - t0:.1f} s)", flush=True)
    except (RunOutOfTime, KeyboardInterrupt) as e:
        print(f"e2e: stopped: {e}", flush=True)
    finally:
        signal.alarm(0)
        signal.signal(signal.SIGALRM, signal.SIG_IGN)
        session.close()
        left = session.leftover_processes()
        if left:
            print(f"e2e: processes left behind: {left}", flush=True)
        for name, _, _ in chosen:
            results.setdefault(name, False)
        print(f"e2e: {time.monotonic() - began:.1f} s in all", flush=True)
        passed = sum(1 for ok in results.values() if ok)
        print(f"{passed} passed, {len(results) - passed} failed", flush=True)
    return 0 if all(results.values()) and not left else 1


if __name__ == "__main__":
    sys.exit(main())
