#!/usr/bin/env python3
"""Runs the reference model and tonvarel-render on every case of the corpus and compares them.

    compare.py --render PATH_TO_tonvarel-render [--cases DIR] [--keep DIR] [--only TEXT]

The corpus (make_cases.py) is written to DIR, or to a temporary directory.  Each case's script
runs once with each program; the case's save directory is laid out afresh before each run and
moved aside after it, so both programs meet the same files.  Compared byte for byte: the --out
stream, the message lines on standard error and every file or directory the saves left.  A
refused script must be refused by both, naming the same line, with no stream left behind.
--keep DIR keeps what both programs wrote (DIR/ref, DIR/render).
"""

import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_cases  # noqa: E402

REFERENCE = [sys.executable, os.path.join(HERE, "tonvarel_ref.py")]
TIMEOUT = 600
LINE_RE = re.compile(rb"line (\d+)")


class Run:
    def __init__(self, rc, stderr, out, saves, seconds):
        self.rc, self.stderr, self.out, self.saves, self.seconds = rc, stderr, out, saves, seconds

    def err_lines(self):
        lines = self.stderr.split(b"\n")
        if lines and lines[-1] == b"":
            lines.pop()
        return lines


def reset_saves(case):
    shutil.rmtree(case["save_root"], ignore_errors=True)
    make_cases.make_fixtures(case["save_root"], case["fixtures"])


def run_one(cmd, case, dest):
    """Run one program on one case; its stream and saves end up under dest."""
    os.makedirs(dest, exist_ok=True)
    out = os.path.join(dest, case["name"] + ".wav")
    saves = os.path.join(dest, case["name"] + ".saves")
    for p in (out, saves):
        if os.path.isdir(p):
            shutil.rmtree(p)
        elif os.path.lexists(p):
            os.remove(p)
    reset_saves(case)
    t = time.perf_counter()
    try:
        p = subprocess.run(cmd + [case["script"], "--out", out], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=TIMEOUT,
                           cwd=dest)
        rc, err = p.returncode, p.stderr
    except subprocess.TimeoutExpired:
        rc, err = "timeout", b""
    except OSError as ex:
        rc, err = "could not start: %s" % ex, b""
    seconds = time.perf_counter() - t
    shutil.move(case["save_root"], saves)
    reset_saves(case)
    return Run(rc, err, out, saves, seconds)


def s16_at(data, off):
    if off + 2 <= len(data):
        return struct.unpack_from("<h", data, off)[0]
    return None


def describe_stream_diff(a, b):
    """First difference of two stream files, in frames where it lies in the sound."""
    n = min(len(a), len(b))
    off = next((i for i in range(n) if a[i] != b[i]), None) if a[:n] != b[:n] else None
    if off is None:
        return "lengths differ: reference %d bytes, render %d bytes" % (len(a), len(b))
    if off < 44:
        return "header byte %d: reference 0x%02x, render 0x%02x" % (off, a[off], b[off])
    frame, rem = divmod(off - 44, 4)
    ch = "left" if rem < 2 else "right"
    s = 44 + frame * 4 + (0 if rem < 2 else 2)
    return ("byte %d = frame %d (block %d, frame %d in it), %s: reference %s, render %s"
            % (off, frame, frame // 1500, frame % 1500, ch, s16_at(a, s), s16_at(b, s)))


def describe_file_diff(a, b):
    n = min(len(a), len(b))
    if a[:n] == b[:n]:
        return "lengths differ: reference %d bytes, render %d bytes" % (len(a), len(b))
    off = next(i for i in range(n) if a[i] != b[i])
    if off < 44:
        return "byte %d: reference 0x%02x, render 0x%02x" % (off, a[off], b[off])
    i = (off - 44) // 2
    return ("byte %d = sample %d: reference %s, render %s"
            % (off, i, s16_at(a, 44 + 2 * i), s16_at(b, 44 + 2 * i)))


def tree(root):
    """Relative path -> None for a directory, bytes for a file."""
    items = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root)
        for d in dirnames:
            items[os.path.normpath(os.path.join(rel, d))] = None
        for f in filenames:
            with open(os.path.join(dirpath, f), "rb") as fh:
                items[os.path.normpath(os.path.join(rel, f))] = fh.read()
    return items


def read(path):
    with open(path, "rb") as f:
        return f.read()


def named_line(run):
    for line in run.err_lines():
        m = LINE_RE.search(line)
        if line.startswith(b"tonvarel-render: ") and m:
            return int(m.group(1))
    return None


def check_refused(case, ref, cpp):
    problems = []
    want = case["bad_line"]
    if ref.rc == 0 or named_line(ref) != want:
        problems.append("reference did not refuse line %d (status %s, %r)"
                        % (want, ref.rc, ref.stderr[:200]))
    if cpp.rc == 0:
        problems.append("render accepted the script (line %d is malformed)" % want)
    elif not isinstance(cpp.rc, int):
        problems.append("render: %s" % cpp.rc)
    elif named_line(cpp) != want:
        problems.append("render named line %s, expected %d (stderr %r)"
                        % (named_line(cpp), want, cpp.stderr[:200]))
    if len(cpp.err_lines()) != 1:
        problems.append("render wrote %d lines to stderr, expected one" % len(cpp.err_lines()))
    for who, r in (("reference", ref), ("render", cpp)):
        if os.path.lexists(r.out):
            problems.append("%s left an output file" % who)
    return problems


def check_accepted(case, ref, cpp):
    problems = []
    if ref.rc != 0:
        return ["reference failed (status %s): %r" % (ref.rc, ref.stderr[:300])]
    if cpp.rc != 0:
        return ["render failed (status %s): %r" % (cpp.rc, cpp.stderr[:300])]
    a, b = read(ref.out), read(cpp.out) if os.path.exists(cpp.out) else None
    if b is None:
        problems.append("render wrote no stream")
    elif a != b:
        problems.append("stream: " + describe_stream_diff(a, b))
    la, lb = ref.err_lines(), cpp.err_lines()
    if la != lb:
        i = next((k for k in range(min(len(la), len(lb))) if la[k] != lb[k]), min(len(la), len(lb)))
        show = lambda lines: lines[i].decode("utf-8", "replace") if i < len(lines) else "(none)"
        problems.append("stderr line %d: reference %r, render %r (%d vs %d lines)"
                        % (i + 1, show(la), show(lb), len(la), len(lb)))
    ta, tb = tree(ref.saves), tree(cpp.saves)
    for rel in sorted(set(ta) | set(tb)):
        if rel not in tb:
            problems.append("save %s: missing from render" % rel)
        elif rel not in ta:
            problems.append("save %s: made by render only" % rel)
        elif (ta[rel] is None) != (tb[rel] is None):
            problems.append("save %s: a directory in one, a file in the other" % rel)
        elif ta[rel] is not None and ta[rel] != tb[rel]:
            problems.append("save %s: %s" % (rel, describe_file_diff(ta[rel], tb[rel])))
    return problems


def cli_cases(render, cases_dir, keep):
    """Command lines the programs must refuse: (name, problems)."""
    script = os.path.join(cases_dir, "scripts", "plain_440.txt")
    missing = os.path.join(cases_dir, "scripts", "no_such_script.txt")
    results = []
    for name, args in (("cli_missing_script", [missing, "--out", "@OUT@"]),
                       ("cli_no_out", [script]),
                       ("cli_out_without_path", [script, "--out"]),
                       ("cli_no_arguments", [])):
        problems = []
        for who, cmd in (("reference", REFERENCE), ("render", [render])):
            out = os.path.join(keep, who + "-" + name + ".wav")
            if os.path.lexists(out):
                os.remove(out)
            try:
                p = subprocess.run(cmd + [a.replace("@OUT@", out) for a in args],
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, timeout=60, cwd=keep)
            except (OSError, subprocess.TimeoutExpired) as ex:
                problems.append("%s: %s" % (who, ex))
                continue
            lines = [l for l in p.stderr.split(b"\n") if l]
            if p.returncode == 0:
                problems.append("%s accepted it" % who)
            if len(lines) != 1:
                problems.append("%s wrote %d lines to stderr, expected one" % (who, len(lines)))
            if os.path.lexists(out):
                problems.append("%s left an output file" % who)
        results.append((name, problems))
    return results


def main(argv):
    ap = argparse.ArgumentParser(description="compare tonvarel-render with the reference model")
    ap.add_argument("--render", required=True, help="path of the tonvarel-render program")
    ap.add_argument("--cases", help="write the corpus here instead of a temporary directory")
    ap.add_argument("--keep", help="keep both programs' outputs here")
    ap.add_argument("--only", help="run only the cases whose name contains this text")
    opts = ap.parse_args(argv)

    render = os.path.abspath(opts.render)
    if not os.access(render, os.X_OK):
        sys.stderr.write("compare.py: %s is not an executable program\n" % render)
        return 2
    temps = []
    if opts.cases:
        cases_dir = os.path.abspath(opts.cases)
    else:
        cases_dir = tempfile.mkdtemp(prefix="tonvarel-cases-")
        temps.append(cases_dir)
    if opts.keep:
        keep = os.path.abspath(opts.keep)
    else:
        keep = tempfile.mkdtemp(prefix="tonvarel-runs-")
        temps.append(keep)
    try:
        cases = make_cases.generate(cases_dir)
        if opts.only:
            cases = [c for c in cases if opts.only in c["name"]]
        passed = failed = 0
        t_ref = t_cpp = 0.0
        for case in cases:
            ref = run_one(REFERENCE, case, os.path.join(keep, "ref"))
            cpp = run_one([render], case, os.path.join(keep, "render"))
            t_ref += ref.seconds
            t_cpp += cpp.seconds
            if case["bad_line"] is not None:
                problems = check_refused(case, ref, cpp)
            else:
                problems = check_accepted(case, ref, cpp)
            timing = "(reference %.2f s, render %.2f s)" % (ref.seconds, cpp.seconds)
            if problems:
                failed += 1
                print("FAIL %s %s: %s" % (case["name"], timing, "; ".join(problems)))
            else:
                passed += 1
                print("ok   %s %s" % (case["name"], timing))
            sys.stdout.flush()
        sys.stderr.write("time in total: reference %.1f s, render %.1f s\n" % (t_ref, t_cpp))
        if not opts.only:
            for name, problems in cli_cases(render, cases_dir, keep):
                if problems:
                    failed += 1
                    print("FAIL %s: %s" % (name, "; ".join(problems)))
                else:
                    passed += 1
                    print("ok   %s" % name)
        print("%d passed, %d failed" % (passed, failed))
        return 1 if failed else 0
    finally:
        for t in temps:
            shutil.rmtree(t, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
