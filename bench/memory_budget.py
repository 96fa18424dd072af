#!/usr/bin/env python3
"""Peak resident memory of the launcher and the checker on very large files.

Each case puts a copy of the program in a fresh folder beside a configuration
file made for the case and runs it without terminal or display (so the
launcher reads its file, finds nowhere to show a menu and ends) under GNU
time (/usr/bin/time), which reports the child's peak resident set size from
its rusage. The budgets are those the launcher
promises: memory bounded by the document it keeps, not by the file's length.

    bench/memory_budget.py [build/native]

Prints one line per case and exits with 1 when a budget is exceeded or a
program did not end normally. The launcher keeps only what its menu looks
up, so every file up to the read limit stays within its budget whatever its
lines; the checker keeps the whole document compactly and ends with exit
status 2 where even that would pass its budget of 96 MiB (the menu's items,
numbered sections with a title, come on top in both programs: see the 100k
sections).
"""
import os
import shutil
import sys
import tempfile
import time

MIB = 1 << 20


def make_empty_lines(path):
    with open(path, "wb") as f:
        for _ in range(20):
            f.write(b"\n" * MIB)


def make_nul_bytes(size):
    def make(path):
        # Sparse: reads as NUL bytes without filling the disk.
        with open(path, "wb") as f:
            f.truncate(size)
    return make


def make_pagemap(path):
    os.symlink("/proc/self/pagemap", path)


def make_repeated(size, line, head=b"[1]\ntitle=One\nexec=/usr/bin/true\n"):
    """`size` bytes of `line` over and over after a one-item menu."""
    def make(path):
        block = line * (MIB // len(line))
        with open(path, "wb") as f:
            f.write(head)
            written = len(head)
            while written + len(block) <= size:
                f.write(block)
                written += len(block)
            f.write(line * ((size - written) // len(line)))
    return make


def make_distinct_sections(size):
    """`size` bytes of sections of names all different, one entry each."""
    def make(path):
        with open(path, "wb") as f:
            written, i = 0, 0
            while written < size - 64:
                chunk = b"".join(b"[s%d]\nkey=value\n" % n for n in range(i, i + 10000))
                f.write(chunk)
                written += len(chunk)
                i += 10000
    return make


def make_many_sections(path):
    with open(path, "wb") as f:
        for i in range(1, 100001):
            f.write(b"[%d]\ntitle=Item %d\nexec=/usr/bin/true\n" % (i, i))


LIMIT = 256 * MIB  # the read limit

CASES = [
    # name, maker, launcher's budget in MiB (None: no budget, shown for
    # comparison); the checker stays under 128 MiB or ends with 2
    ("20 MiB of empty lines", make_empty_lines, 32),
    ("16 MiB of short lines (x)", make_repeated(16 * MIB, b"x\n"), 64),
    ("256 MiB of short lines (x)", make_repeated(LIMIT, b"x\n"), 64),
    ("256 MiB of long lines (2000 bytes)", make_repeated(LIMIT, b"k=" + b"v" * 1997 + b"\n"), 64),
    ("256 MiB of one section repeated", make_repeated(LIMIT, b"[section]\nkey=value\n"), 64),
    ("256 MiB of distinct sections", make_distinct_sections(LIMIT), 64),
    ("256 MiB of keys in a menu section", make_repeated(LIMIT, b"key=value\n"), 64),
    ("256 MiB of repeated titles", make_repeated(LIMIT, b"title=again\n"), 64),
    ("256 MiB of lines not UTF-8", make_repeated(LIMIT, b"\xff=\xfe\x80\n"), 64),
    ("1 GiB of NUL bytes", make_nul_bytes(1 << 30), 64),
    ("2 GiB of NUL bytes", make_nul_bytes(2 << 30), 64),
    ("/proc/self/pagemap", make_pagemap, 64),
    ("100k sections (real entries, for scale)", make_many_sections, None),
]


def run(program, args, folder):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "LANG": "C.UTF-8",
           "XDG_RUNTIME_DIR": folder}
    report = os.path.join(folder, "time-report")
    argv = ["/usr/bin/time", "-f", "%M %x", "-o", report, program] + args
    start = time.monotonic()
    with open(os.devnull, "r+b") as null:
        # A session of its own, so without a controlling terminal: no menu.
        pid = os.posix_spawn(argv[0], argv, env, setsid=True,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null.fileno(), 0),
                                           (os.POSIX_SPAWN_DUP2, null.fileno(), 1),
                                           (os.POSIX_SPAWN_DUP2, null.fileno(), 2)])
        os.waitpid(pid, 0)
    seconds = time.monotonic() - start
    with open(report) as f:
        last = f.read().split("\n")[-2].split()
    return int(last[1]), int(last[0]) / 1024.0, seconds  # %M is in KiB


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/native"
    failed = False
    print("%-42s %-14s %8s %10s %8s  %s" % ("file", "program", "exit", "peak MiB", "budget",
                                             "seconds"))
    for name, make, budget in CASES:
        for program_name, args in (("velmora", []), ("velmora-check", ["--json"])):
            with tempfile.TemporaryDirectory(prefix="velmora-memory-") as folder:
                program = os.path.join(folder, program_name)
                shutil.copy(os.path.join(build, program_name), program)
                make(os.path.join(folder, "velmini"))
                code, peak, seconds = run(program, args, folder)
            # The checker exits with 1 when it warns and with 2 when the
            # report would pass its own budget.
            limit = budget if program_name == "velmora" else 128
            if budget is None:
                limit = None
            ok = code in ((0,) if program_name == "velmora" else (0, 1, 2))
            ok = ok and (limit is None or peak < limit)
            failed = failed or not ok
            print("%-42s %-14s %8d %10.1f %8s  %.2f%s" % (
                name, program_name, code, peak, "-" if limit is None else "< %d" % limit,
                seconds, "" if ok else "  OVER BUDGET OR FAILED"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
