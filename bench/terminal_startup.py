#!/usr/bin/env python3
"""Time from starting the launcher to its terminal menu being drawn.

Runs a copy of the launcher many times in a pseudo-terminal of known size
(80 x 24), each time from the fork of its process until the bottom-right
corner of the menu box has arrived on the terminal, then dismisses the menu
with Escape and waits for the process to end. No X display is passed on, so
the terminal menu is measured. Prints the median and other order statistics
in milliseconds, beside the same figures for /usr/bin/printf writing the
same corner (the cost of fork, exec and the pseudo-terminal alone), the runs
of the two interleaved so that both see the same load on the machine.

    bench/terminal_startup.py [--runs N] [path/to/velmora]
"""
import argparse
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from menu_startup import BOX_END, launcher_env, terminal_run  # noqa: E402


def one_run(argv, env):
    return terminal_run(argv, env)[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("program", nargs="?", default="build/native/velmora")
    parser.add_argument("--runs", type=int, default=200)
    args = parser.parse_args()
    if not os.access(args.program, os.X_OK):
        sys.exit("no launcher at %s: build it first (cmake --build --preset native)" % args.program)

    with tempfile.TemporaryDirectory(prefix="velmora-bench-") as folder:
        program = os.path.join(folder, "velmora")
        shutil.copy(args.program, program)
        env = launcher_env(folder)
        one_run([program], env)  # writes the default file; not counted
        baseline = ["/usr/bin/printf", BOX_END.decode()]
        times, base = [], []
        for _ in range(args.runs):
            times.append(one_run([program], env))
            base.append(one_run(baseline, env))

    print("start to menu drawn, %d runs each, 80x24 pty, default file:" % args.runs)
    for name, values in (("velmora", times), ("printf baseline", base)):
        values.sort()
        deciles = statistics.quantiles(values, n=10)
        print("  %-16s median %6.2f ms   min %6.2f ms   p90 %6.2f ms   max %6.2f ms"
              % (name, statistics.median(values), values[0], deciles[-1], values[-1]))


if __name__ == "__main__":
    main()
