#!/usr/bin/env python3
"""Start-up of velmora's menus beside their floors and beside other menu programs.

One run, interleaved round by round (the X11 programs in an order shuffled
each round) so that every program sees the same load on the machine, the same
three items in every menu:

  terminal  fork to velmora's terminal menu drawn in an 80x24 pty (its box's
            bottom-right corner has arrived), beside /usr/bin/printf writing
            that corner (fork, exec and the pty alone);
  launch    Enter in the terminal menu, and Return typed into the X11 menu
            (each after a Down that highlights the first item),
            to the picked program's exec (a static program that writes the
            monotonic clock first thing);
  X11       fork to the menu window mapped on an Xvfb screen of its own, for
            velmora on a cold start (an empty font cache folder each round:
            fontconfig answers) and on a warm one (its font cache kept), the
            minimal Xlib window (the bare floor), the minimal window that
            opens one Xft font first (the font floor), the same window from
            an XCB client that first asks what the launcher's greeting asks
            (what speaking XCB instead of Xlib would leave), and dmenu, 9menu,
            jgmenu and rofi as Debian packages them.

Prints medians, the fastest and slowest tenth, and the ratios.

    bench/menu_startup.py [--runs N] [--build build/native]

`./dev bench` installs the other menus and builds first.
"""
import argparse
import fcntl
import os
import pty
import random
import re
import select
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import termios
import time

BOX_END = "┘".encode()
ITEMS = ["Firefox", "Chromium", "Epiphany"]
PEERS = {
    "dmenu": "/usr/bin/dmenu <{folder}/items.txt",
    "9menu": "/usr/bin/9menu -popup " + " ".join("%s:true" % i for i in ITEMS),
    "jgmenu": "/usr/bin/jgmenu --simple <{folder}/items.csv",
    "rofi": "/usr/bin/rofi -dmenu <{folder}/items.txt",
}
PEER_PACKAGES = {"dmenu": "suckless-tools", "9menu": "9menu", "jgmenu": "jgmenu", "rofi": "rofi"}


def read_until(master, seen, want, deadline):
    """Reads the pty until `want` matches what was seen; returns (seen, when)."""
    while True:
        found = want(seen)
        if found:
            return seen, time.perf_counter(), found
        left = deadline - time.perf_counter()
        if left <= 0:
            raise RuntimeError("timed out; seen: %r" % seen[-300:])
        ready, _, _ = select.select([master], [], [], left)
        if not ready:
            continue
        try:
            chunk = os.read(master, 65536)
        except OSError:
            chunk = b""
        if not chunk:
            raise RuntimeError("the terminal closed; seen: %r" % seen[-300:])
        seen += chunk


def launcher_env(folder, home=False):
    """A benchmarked launcher's environment: a terminal, UTF-8, and a runtime
    folder (and with `home` a home) of its own inside `folder`."""
    env = {
        "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
        "TERM": "xterm-256color",
        "LANG": "C.UTF-8",
    }
    for variable, name in (("XDG_RUNTIME_DIR", "run"), ("HOME", "home" if home else None)):
        if name:
            env[variable] = os.path.join(folder, name)
            os.mkdir(env[variable], 0o700)
    return env


def terminal_run(argv, env, pick=False):
    """Fork to the menu's corner drawn; with `pick`, also Enter to exec."""
    start = time.perf_counter()
    pid, master = pty.fork()
    if pid == 0:
        fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
        os.execve(argv[0], argv, env)
    launch = None
    try:
        deadline = start + 10
        seen, drawn, _ = read_until(master, b"", lambda s: BOX_END in s, deadline)
        if pick:
            seen = b""
            os.write(master, b"\x1b[B")
            entered = time.perf_counter()
            os.write(master, b"\r")
            seen, _, mark = read_until(
                master, seen, lambda s: re.search(rb"exec-mark (\d+)", s), deadline)
            launch = int(mark.group(1)) / 1e6 - entered * 1000.0
        elif argv[0] != "/usr/bin/printf":
            os.write(master, b"\x1b")
        # Drain until the terminal is closed.
        end = time.perf_counter() + 10
        while time.perf_counter() < end:
            ready, _, _ = select.select([master], [], [], 0.1)
            if ready:
                try:
                    if not os.read(master, 65536):
                        break
                except OSError:
                    break
    finally:
        _, status = os.waitpid(pid, 0)
        os.close(master)
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s exited with %d" % (argv[0], os.waitstatus_to_exitcode(status)))
    return (drawn - start) * 1000.0, launch


def start_xvfb(folder):
    read, write = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write)
    number = b""
    ready, _, _ = select.select([read], [], [], 15)
    while ready:
        chunk = os.read(read, 64)
        number += chunk
        if not chunk or b"\n" in number:
            break
        ready, _, _ = select.select([read], [], [], 15)
    os.close(read)
    if not number.strip():
        server.kill()
        sys.exit("Xvfb did not start")
    return server, ":" + number.decode().strip()


def summary(values):
    values = sorted(values)
    deciles = statistics.quantiles(values, n=10) if len(values) > 1 else values * 9
    return statistics.median(values), deciles[0], deciles[-1]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build/native")
    parser.add_argument("--runs", type=int, default=41)
    parser.add_argument("--without-peers", action="store_true",
                        help="measure velmora and its floors only")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    for name in ("velmora", "velmora_x11_map_watch", "velmora_x11_minimal_window",
                 "velmora_x11_minimal_xft_window", "velmora_x11_xcb_window",
                 "velmora_exec_marker"):
        if not os.access(os.path.join(build, name), os.X_OK):
            sys.exit("missing %s/%s: build it first (cmake --build --preset native)" % (build, name))
    peers = {} if args.without_peers else PEERS
    missing = [PEER_PACKAGES[p] for p in peers if not os.access("/usr/bin/" + p, os.X_OK)]
    if missing:
        sys.exit("not installed: %s (./dev bench installs them)" % " ".join(missing))
    if shutil.which("Xvfb") is None:
        sys.exit("Xvfb is not installed (package xvfb)")

    with tempfile.TemporaryDirectory(prefix="velmora-bench-") as folder:
        program = os.path.join(folder, "velmora")
        shutil.copy(os.path.join(build, "velmora"), program)
        marker = os.path.join(build, "velmora_exec_marker")
        with open(os.path.join(folder, "velmini"), "w", encoding="utf-8") as config:
            for number, title in enumerate(ITEMS, 1):
                config.write("[%d]\ntitle=%s\nexec=%s\n\n" % (number, title, marker))
            config.write("[position]\nxAlign=1\nyAlign=1\n")
        with open(os.path.join(folder, "items.txt"), "w") as items:
            items.write("".join(i + "\n" for i in ITEMS))
        with open(os.path.join(folder, "items.csv"), "w") as items:
            items.write("".join("%s,true\n" % i for i in ITEMS))
        env = launcher_env(folder, home=True)
        server, display = start_xvfb(folder)
        try:
            x_env = dict(env, DISPLAY=display)
            cold_cache = os.path.join(folder, "cold-cache")
            x_programs = {
                "velmora cold": "XDG_CACHE_HOME=%s %s" % (cold_cache, program),
                "velmora warm": "XDG_CACHE_HOME=%s %s +pick" % (os.path.join(folder, "warm-cache"),
                                                              program),
                "minimal Xlib window": os.path.join(build, "velmora_x11_minimal_window"),
                "minimal window + Xft font": os.path.join(build, "velmora_x11_minimal_xft_window"),
                "XCB window + greeting": os.path.join(build, "velmora_x11_xcb_window"),
            }
            for name, line in peers.items():
                x_programs[name] = line.format(folder=folder)
            figures = {name: [] for name in ["terminal velmora", "printf", "launch", "x11 launch"]}
            figures.update({"x11 " + name: [] for name in x_programs})

            def x11_round(turn=0):
                shutil.rmtree(cold_cache, ignore_errors=True)
                # The order is shuffled round by round (the same for a given
                # round), so that no program always runs first after the
                # watcher has started, nor always after the same program: a
                # program that keeps both processors busy (velmora's cold
                # start, rofi) left them awake for the one after it, which
                # started up to 0.2 ms sooner than after a light one.
                lines = list(x_programs.values())
                random.Random(turn).shuffle(lines)
                watch = [os.path.join(build, "velmora_x11_map_watch"), "1"] + lines
                out = subprocess.run(watch, env=x_env, check=True, capture_output=True,
                                     text=True, timeout=120).stdout
                labels = {line: name for name, line in x_programs.items()}
                result = {}
                picked = mark = None
                for row in out.splitlines():
                    m = re.match(r"^(.*) map ([\d.]+) cpu ([-\d.]+)$", row)
                    if m:
                        result[labels[m.group(1)]] = float(m.group(2))
                    m = re.match(r"^.* picked (\d+)$", row)
                    if m:
                        picked = int(m.group(1))
                    m = re.match(r"^exec-mark (\d+)$", row)
                    if m:
                        mark = int(m.group(1))
                if picked is None or mark is None:
                    raise RuntimeError("the X11 menu launched nothing: %r" % out)
                result["launch"] = (mark - picked) / 1e6
                return result

            # One round first so that all start with warm caches; not counted.
            terminal_run([program], env, pick=True)
            x11_round()
            for turn in range(args.runs):
                if turn % 2 == 1:
                    figures["printf"].append(
                        terminal_run(["/usr/bin/printf", BOX_END.decode()], env)[0])
                shown, launch = terminal_run([program], env, pick=True)
                figures["terminal velmora"].append(shown)
                figures["launch"].append(launch)
                if turn % 2 == 0:
                    figures["printf"].append(
                        terminal_run(["/usr/bin/printf", BOX_END.decode()], env)[0])
                for name, value in x11_round(turn).items():
                    figures["x11 " + name].append(value)
        finally:
            server.terminate()
            server.wait()

    median = {name: summary(values)[0] for name, values in figures.items()}
    print("Fork to menu shown, %d interleaved rounds, milliseconds "
          "(median, fastest tenth, slowest tenth):" % args.runs)

    def row(label, name, ratio_label="", ratio=None):
        m, low, high = summary(figures[name])
        ratio_text = "%s %.2f" % (ratio_label, ratio) if ratio is not None else ""
        print("  %-34s %7.2f %7.2f %7.2f   %s" % (label, m, low, high, ratio_text))

    print("  terminal (80x24 pty)")
    row("velmora", "terminal velmora", "/ floor", median["terminal velmora"] / median["printf"])
    row("printf drawing the corner (floor)", "printf")
    print("  X11 (Xvfb), to the window mapped")
    floor = median["x11 minimal window + Xft font"]
    bare = median["x11 minimal Xlib window"]
    row("velmora, cold (empty font cache)", "x11 velmora cold", "/ font floor",
        median["x11 velmora cold"] / floor)
    row("velmora, warm (font cache kept)", "x11 velmora warm", "/ bare floor",
        median["x11 velmora warm"] / bare)
    row("minimal window + Xft font (floor)", "x11 minimal window + Xft font")
    row("minimal Xlib window (bare floor)", "x11 minimal Xlib window")
    row("XCB window after the greeting", "x11 XCB window + greeting", "/ bare floor",
        median["x11 XCB window + greeting"] / bare)
    for name in peers:
        row(name, "x11 " + name, "/ velmora warm",
            median["x11 " + name] / median["x11 velmora warm"])
        # Round by round, the two started within a few milliseconds of each
        # other: a lead that the medians alone could owe to one slow stretch.
        pairs = list(zip(figures["x11 velmora warm"], figures["x11 " + name]))
        faster = sum(1 for ours, theirs in pairs if ours < theirs)
        print("  %34s velmora warm faster in %d of %d rounds, by a median %.2f ms"
              % ("", faster, len(pairs), statistics.median(t - o for o, t in pairs)))
    print("  launch, the key to the picked program's exec")
    row("terminal: Enter", "launch")
    row("X11: Return", "x11 launch")


if __name__ == "__main__":
    main()
