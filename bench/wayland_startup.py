#!/usr/bin/env python3
"""How fast the launcher's Wayland menu appears.

On a headless sway of its own (run as "nobody" through setpriv when this
script runs as root, since sway refuses root), the median time from starting
a program to its first frame: the commit of the first buffer larger than one
pixel, read from the program's own WAYLAND_DEBUG log, whose timestamps are
the real-time clock's microseconds modulo 2^32, printed as milliseconds. The
launcher (default menu) and its floors take turns in the same run, in an
order shuffled each round, so that all meet the same machine and the same
compositor: a minimal layer-shell
client that shows one rectangle, and the same client drawing one string with
fcft first (the floor of the font stack, as the X11 floor opens one Xft
font). The launcher runs twice per turn: cold, its font cache removed before
each start (fcft and fontconfig draw), and warm, from a font cache written
once before the runs by a start left open until the cache appeared (the
timed starts are ended at their first frame, before a cold one would write
it). fuzzel and wofi, in dmenu mode on the same three items, take their
turns too, when installed.

    bench/wayland_startup.py [BUILD_FOLDER] [RUNS] [BASELINE]

BUILD_FOLDER defaults to build/native, RUNS to 100. BASELINE, when given, is
another launcher binary (say, one built before a change) that takes its turns
too, with no font cache, to compare the cold start with. Needs sway and the
programs velmora and velmora_wayland_minimal_layer of that build. The debug
log costs both programs the same few writes per request.
"""
import glob
import os
import random
import re
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build/native")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 100
baseline = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
for program in ("velmora", "velmora_wayland_minimal_layer", "velmora_wayland_minimal_text"):
    if not os.access(os.path.join(build, program), os.X_OK):
        sys.exit(f"missing {build}/{program} (build it first)")
if shutil.which("sway") is None:
    sys.exit("sway is not installed (package sway)")

as_user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"] if os.geteuid() == 0 else []


def give(path):
    if os.geteuid() == 0:
        os.chown(path, 65534, 65534)


work = tempfile.mkdtemp()
os.chmod(work, 0o755)
give(work)
runtime = os.path.join(work, "runtime")
os.mkdir(runtime, 0o700)
give(runtime)
config = os.path.join(work, "sway.config")
with open(config, "w") as out:
    out.write("xwayland disable\noutput * resolution 1280x720 scale 1\n")
environment = {
    "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
    "HOME": work,
    "XDG_RUNTIME_DIR": runtime,
}
sway = subprocess.Popen(
    as_user + ["sway", "-c", config],
    env=dict(environment, WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1"),
    stdout=subprocess.DEVNULL,
    stderr=subprocess.DEVNULL,
)
try:
    socket = None
    for _ in range(300):
        sockets = [s for s in glob.glob(os.path.join(runtime, "wayland-*")) if not s.endswith(".lock")]
        if sockets:
            socket = os.path.basename(sockets[0])
            break
        time.sleep(0.05)
    if socket is None:
        sys.exit("headless sway did not start")
    client = dict(environment, WAYLAND_DISPLAY=socket, WAYLAND_DEBUG="client", LANG="C.UTF-8")

    # The launcher in a folder of its own: its first start writes the default
    # menu beside it; its instance lock lies in sway's runtime folder.
    launcher = os.path.join(work, "velmora")
    shutil.copy(os.path.join(build, "velmora"), launcher)
    give(launcher)
    if baseline:
        # In a folder of its own, where it writes the same default menu.
        os.mkdir(os.path.join(work, "baseline"))
        give(os.path.join(work, "baseline"))
        shutil.copy(baseline, os.path.join(work, "baseline", "velmora"))
        give(os.path.join(work, "baseline", "velmora"))

    create = re.compile(r"wl_shm_pool@\d+\.create_buffer\(new id wl_buffer@(\d+), \d+, (\d+), (\d+),")
    attach = re.compile(r"wl_surface@(\d+)\.attach\(wl_buffer@(\d+),")
    commit = re.compile(r"^\[\s*(\d+)\.(\d+)\]\s+-> wl_surface@(\d+)\.commit\(\)")

    items = os.path.join(work, "items.txt")
    with open(items, "w") as out:
        out.write("Firefox\nChromium\nEpiphany\n")
    give(items)

    # The launcher's font caches: one kept, one removed before each start.
    caches = {}
    for kind in ("cold", "warm"):
        caches[kind] = os.path.join(work, kind + "-cache")
        os.mkdir(caches[kind], 0o700)
        give(caches[kind])

    def first_frame(argv, cache=None):
        """Milliseconds from the start to the first commit of a real buffer."""
        environment = dict(client, XDG_CACHE_HOME=cache) if cache else client
        if cache == caches["cold"] and os.path.exists(os.path.join(cache, "velmora")):
            shutil.rmtree(os.path.join(cache, "velmora"))
        start = time.time()
        with open(items) as stdin:
            process = subprocess.Popen(as_user + argv, env=environment, stdin=stdin,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        sizes, attached, result = {}, set(), None
        try:
            for line in process.stderr:
                if m := create.search(line):
                    sizes[m.group(1)] = (int(m.group(2)), int(m.group(3)))
                elif m := attach.search(line):
                    w, h = sizes.get(m.group(2), (1, 1))
                    if w > 1 and h > 1:
                        attached.add(m.group(1))
                elif (m := commit.search(line)) and m.group(3) in attached:
                    stamp = int(m.group(1)) + int(m.group(2)) / 1000.0
                    wrap = 2**32 / 1000.0
                    started = (start * 1e6) % 2**32 / 1000.0
                    result = (stamp - started) % wrap
                    break
        finally:
            process.send_signal(signal.SIGTERM)
            process.stderr.close()
            process.wait()
        if result is None:
            sys.exit(f"{argv[0]} showed no frame")
        if cache == caches["warm"] and not os.path.exists(os.path.join(cache, "velmora", "wayland-fonts")):
            sys.exit("the warm start lost its font cache")
        return result

    def write_font_cache():
        """One start left open until its font cache is written."""
        written = os.path.join(caches["warm"], "velmora", "wayland-fonts")
        with open(items) as stdin:
            process = subprocess.Popen(as_user + [launcher], env=dict(client, XDG_CACHE_HOME=caches["warm"]),
                                       stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.exists(written):
                break
            time.sleep(0.05)
        process.send_signal(signal.SIGTERM)
        process.wait()
        if not os.path.exists(written):
            sys.exit("the launcher wrote no font cache")

    write_font_cache()
    programs = {
        "velmora, cold (no font cache)": ([launcher], caches["cold"]),
        "velmora, warm (font cache)": ([launcher], caches["warm"]),
        **({"velmora baseline (BASELINE)": ([os.path.join(work, "baseline", "velmora")], caches["cold"])}
           if baseline else {}),
        "layer-shell client + fcft text": ([os.path.join(build, "velmora_wayland_minimal_text")], None),
        "layer-shell client, rectangle": ([os.path.join(build, "velmora_wayland_minimal_layer")], None),
    }
    for peer in ("fuzzel", "wofi"):
        if shutil.which(peer):
            programs[peer] = ([shutil.which(peer), "--dmenu"], None)
    for argv, cache in programs.values():
        first_frame(argv, cache)  # warm caches (fontconfig, the disk) for both
    figures = {name: [] for name in programs}
    for turn in range(runs):
        # Shuffled round by round, as bench/menu_startup.py does: no program
        # always runs after the same one.
        names = list(programs)
        random.Random(turn).shuffle(names)
        for name in names:
            argv, cache = programs[name]
            figures[name].append(first_frame(argv, cache))

    medians = {name: statistics.median(values) for name, values in figures.items()}
    floor = medians["layer-shell client + fcft text"]
    print(f"Wayland (headless sway), start to first frame, median of {runs} interleaved runs, "
          "milliseconds (median, 90th percentile):")
    for name, values in figures.items():
        values.sort()
        p90 = values[min(len(values) - 1, int(len(values) * 0.9))]
        ratio = f"/ floor {medians[name] / floor:.2f}" if name.startswith("velmora") else ""
        print(f"  {name:34} {medians[name]:7.2f} {p90:7.2f}   {ratio}")
finally:
    sway.send_signal(signal.SIGTERM)
    try:
        sway.wait(10)
    except subprocess.TimeoutExpired:
        sway.kill()
    shutil.rmtree(work, ignore_errors=True)
