#!/usr/bin/env bash
# How fast the Windows launcher's menu appears under Wine: on an Xvfb screen
# of its own, the median time from starting velmora.exe to its menu window
# being mapped, beside the same figure for a minimal Win32 program that only
# creates a pop-up menu of three items and tracks it. The two take turns in
# the same run; the ratio of the medians is the launcher's own cost.
#
#   bench/wine_startup.sh [WINDOWS_BUILD] [NATIVE_BUILD] [RUNS]
#
# WINDOWS_BUILD defaults to build/win64 (velmora.exe and
# velmora_win32_minimal_menu.exe), NATIVE_BUILD to build/native (the map
# watcher velmora_x11_map_watch), RUNS to 50. Wine runs in a prefix of its
# own whose server is kept running, as in a user's session: the figures are
# a program's start, not Wine's.
set -euo pipefail

windows=$(cd "${1:-build/win64}" && pwd)
native=$(cd "${2:-build/native}" && pwd)
runs=${3:-50}
for file in "$windows/velmora.exe" "$windows/velmora_win32_minimal_menu.exe" \
    "$native/velmora_x11_map_watch"; do
    [[ -f $file ]] || { echo "missing $file (build it first)" >&2; exit 1; }
done
for tool in Xvfb wine; do
    command -v $tool >/dev/null || { echo "$tool is not installed" >&2; exit 1; }
done
wineserver=
for candidate in /usr/lib/wine/wineserver /usr/lib/wine/wineserver64 \
    /usr/lib/x86_64-linux-gnu/wine/wineserver; do
    [[ -x $candidate ]] && { wineserver=$candidate; break; }
done
[[ -n $wineserver ]] || { echo "wineserver not found" >&2; exit 1; }

# shellcheck source=bench/xvfb.sh
source "$(dirname "$0")/xvfb.sh"
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

start_xvfb "$work"

echo "making a Wine prefix..." >&2
wine wineboot -i </dev/null >"$work/wineboot.log" 2>&1 ||
    { cat "$work/wineboot.log" >&2; exit 1; }
"$wineserver" -p </dev/null >/dev/null 2>&1 || true

# The launcher in a folder of its own (it writes its default menu there on
# the first round); each program is started through a one-line script,
# since the watcher starts programs without arguments.
mkdir "$work/launcher"
cp "$windows/velmora.exe" "$work/launcher/velmora.exe"
cp "$windows/velmora_win32_minimal_menu.exe" "$work/minimal.exe"
printf '#!/bin/sh\nexec wine %q\n' "$work/launcher/velmora.exe" >"$work/velmora"
printf '#!/bin/sh\nexec wine %q\n' "$work/minimal.exe" >"$work/minimal"
chmod +x "$work/velmora" "$work/minimal"

# One round first so that both start with warm caches, then the two take turns.
"$native/velmora_x11_map_watch" 1 "$work/velmora" "$work/minimal" >/dev/null
"$native/velmora_x11_map_watch" "$runs" "$work/velmora" "$work/minimal" >"$work/figures"
figure() { awk -v p="$1" -v f="$2" '$1 ~ p"$" { for (i = 2; i < NF; i++) if ($i == f) print $(i + 1) }' "$work/figures"; }

launcher=$(figure /velmora map)
minimal=$(figure /minimal map)
echo "Wine menu start-up on Xvfb, median of $runs runs each (milliseconds):"
printf '  %-32s %14s %18s\n' "" "start to mapped" "processor time"
printf '  %-32s %14s %18s\n' "velmora.exe (default menu)" "$launcher" "$(figure /velmora cpu)"
printf '  %-32s %14s %18s\n' "minimal Win32 pop-up menu" "$minimal" "$(figure /minimal cpu)"
awk -v a="$launcher" -v b="$minimal" 'BEGIN { printf "  ratio velmora / minimal: %.2f\n", a / b }'
