#!/usr/bin/env python3
"""Writes the browser edition's service worker into the gathered folder: the template with the
build's version, the list of every other file of the folder and a hash of their contents, so
that each build with a changed file is a new sw.js with a new cache.

    tools/make_service_worker.py --template web/sw.js --folder build/web --version 1.0.0

The output depends only on the files' names and bytes (sorted), the template and the version:
no time and no path of the machine, so the release packages stay reproducible.
"""

import argparse
import hashlib
import json
import os
import re
import sys

OUTPUT = "sw.js"
# The one line of the template that the build replaces.
BUILD_LINE = re.compile(r"^const BUILD = .*;$", re.MULTILINE)


class WorkerError(Exception):
    pass


def folder_files(folder):
    """Paths inside the folder with / separators, sorted; the worker itself left out."""
    if not os.path.isfile(os.path.join(folder, "index.html")):
        raise WorkerError(f"{folder} holds no index.html: gather the page first")
    names = []
    for top, _, files in os.walk(folder):
        for name in files:
            path = os.path.relpath(os.path.join(top, name), folder).replace(os.sep, "/")
            if path != OUTPUT:
                names.append(path)
    return sorted(names)


def content_hash(folder, names, template):
    """16 hex digits of SHA-256 over each file's name, length and bytes, and the template, so
    that a new worker script also gets a new cache."""
    digest = hashlib.sha256()
    for name in names:
        with open(os.path.join(folder, name), "rb") as f:
            data = f.read()
        digest.update(name.encode("utf-8") + b"\0" + len(data).to_bytes(8, "little") + data)
    digest.update(template.encode("utf-8"))
    return digest.hexdigest()[:16]


def worker_text(template, version, folder):
    if len(BUILD_LINE.findall(template)) != 1:
        raise WorkerError("the template needs exactly one line `const BUILD = ...;`")
    names = folder_files(folder)
    build = {"version": version, "hash": content_hash(folder, names, template), "files": names}
    line = "const BUILD = " + json.dumps(build, indent=2) + ";"
    return BUILD_LINE.sub(lambda _: line, template), build


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--template", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args()
    try:
        if not re.fullmatch(r"[0-9]+\.[0-9]+\.[0-9]+", args.version):
            raise WorkerError(f"{args.version!r} is not a version like 1.0.0")
        with open(args.template, encoding="utf-8") as f:
            template = f.read()
        text, build = worker_text(template, args.version, args.folder)
    except OSError as e:
        print(f"make_service_worker: {e.filename}: {e.strerror}", file=sys.stderr)
        return 1
    except WorkerError as e:
        print(f"make_service_worker: {e}", file=sys.stderr)
        return 1
    with open(os.path.join(args.folder, OUTPUT), "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    print(f"make_service_worker: {len(build['files'])} files, cache {build['version']}-"
          f"{build['hash']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
