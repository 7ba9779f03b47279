#!/usr/bin/env python3
"""Runs scripts/check-include-cycles (its path the first argument) on small trees of
its own: a knot of three files must come out as cycles with exit 1, the same tree
with one include removed must pass with exit 0, and a header with its own source
file, system includes and includes leading out of the folder make no cycle. With
--calls, two sources that call each other through a header neither implements
alone (compiled here with g++) are a cycle that the includes do not show."""

import os
import subprocess
import sys
import tempfile


def write_tree(root, files):
    for name, text in files.items():
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)


def run(script, folder, *options):
    done = subprocess.run([sys.executable, script, *options, folder],
                          cwd=os.path.dirname(folder), capture_output=True, text=True,
                          check=False)
    return done.returncode, done.stdout.splitlines()


def compile_into(root, build, sources):
    """Objects named as CMake names them: BUILD/NAME.dir/SOURCE.o."""
    for source in sources:
        target = os.path.join(build, "layer.dir", source + ".o")
        os.makedirs(os.path.dirname(target), exist_ok=True)
        subprocess.run(["g++", "-c", os.path.join(root, "layer", source), "-o", target],
                       check=True)


def expect(condition, message):
    if not condition:
        print("FAIL: " + message)
        sys.exit(1)


def main(script):
    knot = {
        "lib/Table.h": '#include "Clock.h"\n',
        "lib/Table.cpp": '#include "Table.h"\n#include "sub/Events.h"\n#include <vector>\n',
        "lib/sub/Events.h": '#include "../Clock.h"\n',
        "lib/Clock.h": "",
        "lib/Clock.cpp": '#include "Clock.h"\n#include "Table.h"\n#include "../outside/Other.h"\n',
        "outside/Other.h": '#include "../lib/Clock.h"\n',
    }
    with tempfile.TemporaryDirectory() as root:
        write_tree(root, knot)
        status, lines = run(script, os.path.join(root, "lib"))
        expect(status == 1, f"a knot of files: exit {status}, wanted 1")
        # Clock.cpp and Table.h include each other's header; Events closes a longer
        # loop through both. Each file's shortest cycle is printed, each set once.
        expect(lines == ["lib/Clock -> lib/Table -> lib/Clock",
                         "lib/sub/Events -> lib/Clock -> lib/Table -> lib/sub/Events"],
               f"cycles: {lines}")
        expect(not any("outside" in line for line in lines), f"outside the folder: {lines}")

        write_tree(root, {"lib/Clock.cpp": '#include "Clock.h"\n#include "../outside/Other.h"\n'})
        status, lines = run(script, os.path.join(root, "lib"))
        expect(status == 0 and lines == [], f"no cycle left: exit {status}, {lines}")
    calling = {
        "layer/Api.h": "int lastError();\nvoid setLastError(int);\nint windowSize();\n",
        "layer/Gdi.cpp": '#include "Api.h"\nint e;\nint lastError() { return e; }\n'
                         "void setLastError(int v) { e = v; }\n"
                         "int paint() { return windowSize(); }\n",
        "layer/Window.cpp": '#include "Api.h"\n'
                            "int windowSize() { setLastError(0); return 1; }\n",
    }
    with tempfile.TemporaryDirectory() as root:
        write_tree(root, calling)
        build = os.path.join(root, "build")
        compile_into(root, build, ["Gdi.cpp", "Window.cpp"])
        status, lines = run(script, os.path.join(root, "layer"))
        expect(status == 0, f"includes alone: exit {status}, {lines}")
        status, lines = run(script, os.path.join(root, "layer"), "--calls", build)
        expect(status == 1 and lines == ["layer/Gdi -> layer/Window -> layer/Gdi"],
               f"calls: exit {status}, {lines}")
    print("check-include-cycles: cycles found and reported, clean tree passes")


if __name__ == "__main__":
    main(os.path.abspath(sys.argv[1]))
