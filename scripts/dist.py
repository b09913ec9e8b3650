#!/usr/bin/env python3
"""Writes the release packages: the Windows program and the browser edition as zip files, and
their SHA256SUMS.

    dist.py --version-file FILE --exe tonvarel.exe --web WEB_FOLDER --out OUT_FOLDER
    dist.py --compare A.zip B.zip       (names the entries in which two packages differ)

    OUT/tonvarel-VERSION-win64.zip   tonvarel.exe, README.txt (Japanese and English, CR LF)
    OUT/tonvarel-VERSION-web.zip     tonvarel/ (the static folder as built), README.txt
    OUT/SHA256SUMS                   in the format `sha256sum -c` reads

The same inputs give the same bytes: entries are sorted, every entry carries the time of
SOURCE_DATE_EPOCH (by default the date of the checked-out commit) and fixed permissions, and
nothing of the machine, the user or the build folder goes in.
"""

import argparse
import hashlib
import os
import re
import stat
import subprocess
import sys
import time
import zipfile

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGING = os.path.join(REPO, "packaging")
ZIP_EPOCH = 315532800  # 1980-01-01, the earliest time a zip entry can hold


class DistError(Exception):
    pass


def source_date_epoch():
    value = os.environ.get("SOURCE_DATE_EPOCH")
    if value is None:
        try:
            value = subprocess.run(["git", "-C", REPO, "log", "-1", "--format=%ct"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True,
                                   timeout=30).stdout.decode().strip()
        except (OSError, subprocess.SubprocessError) as e:
            raise DistError("no SOURCE_DATE_EPOCH and no git history to take the commit date "
                            "from; set SOURCE_DATE_EPOCH to a time in seconds") from e
    if not re.fullmatch(r"[0-9]+", value):
        raise DistError(f"SOURCE_DATE_EPOCH is {value!r}, not a time in seconds")
    return max(int(value), ZIP_EPOCH)


def uncommitted_changes():
    try:
        return subprocess.run(["git", "-C", REPO, "status", "--porcelain", "--untracked-files=no"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                              timeout=30).stdout.strip() != b""
    except (OSError, subprocess.SubprocessError):
        return False  # not a git checkout: nothing to compare with


def read_version(path):
    try:
        with open(path, encoding="utf-8") as f:
            version = f.read().strip()
    except OSError as e:
        raise DistError(f"cannot read the version from {path}: {e.strerror}") from e
    if not re.fullmatch(r"[0-9]+\.[0-9]+\.[0-9]+", version):
        raise DistError(f"{path} holds {version!r}, not a version like 1.0.0")
    return version


def windows_text(name, version):
    """A text from packaging/ with its version filled in, as Windows editors read it best:
    UTF-8 with a byte order mark, CR LF line ends."""
    with open(os.path.join(PACKAGING, name), encoding="utf-8") as f:
        text = f.read().replace("@VERSION@", version)
    text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    return "\ufeff".encode("utf-8") + text.encode("utf-8")


class Archive:
    """A zip file whose bytes depend only on the entries given to it."""

    def __init__(self, path, epoch):
        self.path = path
        self.date_time = time.gmtime(epoch)[:6]
        self.entries = {}

    def add(self, name, data, executable=False):
        self.entries[name] = (data, 0o755 if executable else 0o644)

    def write(self):
        # Every folder gets its own entry, so unpacking gives them the fixed mode too.
        folders = {name[:i + 1] for name in self.entries
                   for i, c in enumerate(name) if c == "/"}
        partial = self.path + ".partial"
        with zipfile.ZipFile(partial, "w") as z:
            for name in sorted(folders | set(self.entries)):
                info = zipfile.ZipInfo(name, self.date_time)
                info.create_system = 3  # Unix, so that the modes below are read back
                if name in folders:
                    info.external_attr = (stat.S_IFDIR | 0o755) << 16 | 0x10  # MS-DOS folder
                    z.writestr(info, b"")
                    continue
                data, mode = self.entries[name]
                info.external_attr = (stat.S_IFREG | mode) << 16
                info.compress_type = zipfile.ZIP_DEFLATED
                z.writestr(info, data, compresslevel=9)
        os.replace(partial, self.path)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


def web_files(folder):
    """(path inside the folder with / separators, absolute path) of every file, sorted."""
    if not os.path.isfile(os.path.join(folder, "index.html")):
        raise DistError(f"{folder} holds no index.html: build the browser edition first "
                        f"(make web)")
    found = []
    for top, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(top, name)
            if os.path.islink(path):
                raise DistError(f"{path} is a symbolic link; the web package takes plain files")
        for name in files:
            path = os.path.join(top, name)
            found.append((os.path.relpath(path, folder).replace(os.sep, "/"), path))
    return sorted(found)


def make_packages(version, exe, web, out, epoch):
    if not os.path.isfile(exe):
        raise DistError(f"{exe} does not exist: build the Windows program first (make win32)")
    if read_file(exe)[:2] != b"MZ":
        raise DistError(f"{exe} is not a Windows program")
    os.makedirs(out, exist_ok=True)
    for name in os.listdir(out):
        if name == "SHA256SUMS" or re.fullmatch(r"tonvarel-.*-(win64|web)\.zip", name):
            os.remove(os.path.join(out, name))

    win64 = Archive(os.path.join(out, f"tonvarel-{version}-win64.zip"), epoch)
    win64.add("README.txt", windows_text("README-win64.txt", version))
    win64.add("tonvarel.exe", read_file(exe), executable=True)

    browser = Archive(os.path.join(out, f"tonvarel-{version}-web.zip"), epoch)
    browser.add("README.txt", windows_text("README-web.txt", version))
    for name, path in web_files(web):
        browser.add(f"tonvarel/{name}", read_file(path))

    sums = []
    for archive in (win64, browser):
        archive.write()
        digest = hashlib.sha256(read_file(archive.path)).hexdigest()
        sums.append(f"{digest}  {os.path.basename(archive.path)}\n")
    with open(os.path.join(out, "SHA256SUMS"), "w", encoding="ascii", newline="\n") as f:
        f.writelines(sorted(sums, key=lambda line: line.split()[1]))
    return [win64.path, browser.path]


def compare(first, second):
    """Prints what differs between two zip files, entry by entry."""
    def entries(path):
        with zipfile.ZipFile(path) as z:
            return {i.filename: (i.date_time, i.external_attr, i.file_size, i.CRC)
                    for i in z.infolist()}
    a, b = entries(first), entries(second)
    for name in sorted(set(a) | set(b)):
        if a.get(name) != b.get(name):
            print(f"  {name}: {a.get(name, 'missing')} / {b.get(name, 'missing')}")
    if a == b:
        print("  the entries are the same; the zip structure around them differs")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--compare", nargs=2, metavar="ZIP")
    parser.add_argument("--version-file")
    parser.add_argument("--exe")
    parser.add_argument("--web")
    parser.add_argument("--out")
    args = parser.parse_args()
    if args.compare:
        compare(*args.compare)
        return 0
    if not (args.version_file and args.exe and args.web and args.out):
        parser.error("--version-file, --exe, --web and --out are needed to make packages")
    try:
        version = read_version(args.version_file)
        paths = make_packages(version, args.exe, args.web, args.out, source_date_epoch())
    except DistError as e:
        print(f"dist: {e}", file=sys.stderr)
        return 1
    if uncommitted_changes():
        print("dist: note: the working tree has uncommitted changes, so these packages cannot "
              "be built again from a commit", file=sys.stderr)
    for path in paths:
        print(f"dist: {os.path.relpath(path)} ({os.path.getsize(path):,} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
