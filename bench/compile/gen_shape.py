#!/usr/bin/env python3
"""Generate inputs of one adversarial shape for the scaling benchmark (scale.sh).

Each shape stresses one pass of the front end with input that a careless pass handles in more than
linear time. SIZE is the shape's own measure (lines, errors, statements, states, levels); doubling it
roughly doubles the input.

  excerpts      SIZE one-line errors, each on a line of its own: every report shows an excerpt
  one_line      one line holding SIZE unexpected characters: every report would show that line
  branches      a task of SIZE `if ... else` statements, each assigning a name of its own
  machine_chain a machine of SIZE states, each leading to the next, the last one `done`
  interpolation SIZE KB of text in interpolations nested 60 levels deep (the nesting limit is 100 levels)
  interpolation_depth  interpolations nested SIZE levels deep, with 1 KB of text at every level
  aliases       SIZE libraries, each importing the one below under two aliases (2^SIZE instances)

Usage: gen_shape.py SHAPE SIZE DIR   (writes DIR/main.zem, and DIR/lib_*.zem for `aliases`)
"""

import os
import sys


def excerpts(n):
    # An unexpected character per line: the lexer reports them all, so all of them are rendered.
    return "program scaled\n" + "x = 1 $\n" * n


def one_line(n):
    return "program scaled\n" + "x = " + "$" * n + "\n"


def branches(n):
    out = ["program scaled\n", "task main:\n", "  c = 1\n"]
    for i in range(n):
        out.append(f"  if c > {i}:\n    v{i} = {i}\n  else:\n    v{i} = 0\n")
    out.append(f"  return v0 + v{n - 1}\n")
    return "".join(out)


def machine_chain(n):
    out = ["program scaled\n", "machine flow():\n", "  initial s0\n"]
    for i in range(n - 1):
        out.append(f'  state s{i}:\n    on next "step {i} is finished" -> s{i + 1}\n')
    out.append(f"  state s{n - 1} done\n")
    return "".join(out)


LEVELS = 60
WORDS = "lorem ipsum dolor sit amet "


def nested_texts(levels, pad):
    # Level 0 is a name; level k is a text whose interpolation is level k - 1, with padding on both sides.
    inner = "item"
    for _ in range(levels):
        inner = '"' + pad + "{" + inner + "}" + pad + '"'
    return "program scaled\n" + "task main:\n" + "  item = 1\n" + f"  log info {inner}\n"


def interpolation(kilobytes):
    return nested_texts(LEVELS, WORDS * max(1, kilobytes * 1024 // (2 * LEVELS * len(WORDS))))


def interpolation_depth(levels):
    return nested_texts(levels, WORDS * (512 // len(WORDS)))


def aliases(levels, out_dir):
    # lib_0 has the unit; lib_k reaches it through lib_(k-1) under two aliases, so the root links 2^levels
    # instances of lib_0.
    files = {"lib_0.zem": "program lib_0\n\ndef f(x):\n  return x + 1\n"}
    for k in range(1, levels + 1):
        files[f"lib_{k}.zem"] = (
            f"program lib_{k}\n"
            f'use "./lib_{k - 1}.zem" as a\n'
            f'use "./lib_{k - 1}.zem" as b\n\n'
            "def f(x):\n  return a.f(x) + b.f(x)\n"
        )
    files["main.zem"] = (
        "program scaled\n"
        f'use "./lib_{levels}.zem" as top\n\n'
        "task main:\n  return top.f(1)\n"
    )
    for name, text in files.items():
        with open(os.path.join(out_dir, name), "w") as f:
            f.write(text)


SHAPES = {
    "excerpts": excerpts,
    "one_line": one_line,
    "branches": branches,
    "machine_chain": machine_chain,
    "interpolation": interpolation,
    "interpolation_depth": interpolation_depth,
}


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    shape, size, out_dir = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    os.makedirs(out_dir, exist_ok=True)
    if shape == "aliases":
        aliases(size, out_dir)
    elif shape in SHAPES:
        with open(os.path.join(out_dir, "main.zem"), "w") as f:
            f.write(SHAPES[shape](size))
    else:
        sys.exit(f"unknown shape {shape}; shapes: {', '.join(list(SHAPES) + ['aliases'])}")


if __name__ == "__main__":
    main()
