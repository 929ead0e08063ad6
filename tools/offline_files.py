#!/usr/bin/python3
"""Write the web build's service worker: web/service-worker.js with the
build's version and files, so that the page plays offline from exactly this
build's files (tools/web.sh runs it last, over build-web/).

    /usr/bin/python3 tools/offline_files.py [BUILD_DIR]     (default build-web/)

The version is a digest of every file's name and bytes: any change of any
file, whoever added it, makes a new version, which the browsers find on
their next visit online and cache apart from the old one.
"""

import hashlib
import json
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORKER = "service-worker.js"
VERSION_DIGITS = 16  # of the digest, in hex


def build_files(folder):
    """Every file of the build but the worker itself, relative, sorted."""
    found = []
    for parent, _, names in os.walk(folder):
        for name in names:
            path = os.path.relpath(os.path.join(parent, name), folder)
            if path != WORKER:
                found.append(path.replace(os.sep, "/"))
    return sorted(found)


def version_of(folder, files):
    digest = hashlib.sha256()
    for name in files:
        digest.update(name.encode() + b"\0")
        with open(os.path.join(folder, name), "rb") as f:
            digest.update(f.read())
    return digest.hexdigest()[:VERSION_DIGITS]


def main(args):
    folder = args[0] if args else os.path.join(ROOT, "build-web")
    files = build_files(folder)
    build = {"version": version_of(folder, files), "files": files}
    with open(os.path.join(ROOT, "web", WORKER)) as f:
        worker = f.read()
    with open(os.path.join(folder, WORKER), "w") as f:
        f.write("const BUILD = %s;\n%s" % (json.dumps(build), worker))
    print("%s: build %s, %d files" % (WORKER, build["version"], len(files)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
