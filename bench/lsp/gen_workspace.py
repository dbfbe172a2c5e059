#!/usr/bin/env python3
"""Generate a workspace of N program files that all use one library, for the references benchmark.

Each file is a generated program of about LINES lines (bench/compile/gen_program.py) with a `use` of the
shared library and a task that calls the library's `shared` def three times, so a reference search for
`shared` finds uses in every file and must resolve names across all of them.

Usage: gen_workspace.py --files N --lines LINES --dir DIR
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "compile"))
import gen_program  # noqa: E402

LIBRARY = """\
program shared_lib

# The helper every file of the workspace calls.
def shared(x):
  return x
"""

USES = """
task uses_{k}(x):
  a = lib.shared(x)
  b = lib.shared(a)
  return lib.shared(b)
"""


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--files", type=int, required=True)
    ap.add_argument("--lines", type=int, required=True)
    ap.add_argument("--dir", required=True)
    args = ap.parse_args()
    os.makedirs(args.dir, exist_ok=True)
    with open(os.path.join(args.dir, "lib.zem"), "w") as f:
        f.write(LIBRARY)
    body = gen_program.generate(args.lines)
    for k in range(1, args.files + 1):
        lines = body.split("\n")
        # The `use` goes right after the `program` line, where the language wants it.
        at = next(i for i, line in enumerate(lines) if line.startswith("program "))
        lines[at] = "program file_%d" % k
        lines.insert(at + 1, 'use "./lib.zem" as lib')
        with open(os.path.join(args.dir, "file_%02d.zem" % k), "w") as f:
            f.write("\n".join(lines) + USES.format(k=k))


if __name__ == "__main__":
    main()
