#!/usr/bin/env bash
# How fast the launcher's X11 menu appears: on an Xvfb screen of its own, the
# median time from starting the launcher to its menu window being mapped,
# beside the same figure for a minimal Xlib program that maps one
# override-redirect window, and for that program after it opened one Xft font
# (the floor of the font stack: loading fontconfig and a face).
#
#   bench/x11_startup.sh [BUILD_FOLDER] [RUNS]
#
# BUILD_FOLDER defaults to build/native, RUNS to 200. Needs Xvfb and the
# programs velmora, velmora_x11_map_watch, velmora_x11_minimal_window and
# velmora_x11_minimal_xft_window of that build.
set -euo pipefail

build=$(cd "${1:-build/native}" && pwd)
runs=${2:-200}
for program in velmora velmora_x11_map_watch velmora_x11_minimal_window velmora_x11_minimal_xft_window; do
    [[ -x $build/$program ]] || { echo "missing $build/$program (build it first)" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "Xvfb is not installed (package xvfb)" >&2; exit 1; }

# shellcheck source=bench/xvfb.sh
source "$(dirname "$0")/xvfb.sh"
work=$(mktemp -d)
cleanup() {
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

start_xvfb "$work"

# The launcher reads the default menu from its own folder; a runtime folder
# of its own keeps its instance lock apart from any launcher already running.
mkdir -m 700 "$work/runtime"
cp "$build/velmora" "$work/velmora"
export XDG_RUNTIME_DIR="$work/runtime"

# One round first so that both start with warm caches (fontconfig, the disk),
# then the two take turns.
programs=("$work/velmora" "$build/velmora_x11_minimal_window" "$build/velmora_x11_minimal_xft_window")
"$build/velmora_x11_map_watch" 1 "${programs[@]}" >/dev/null
"$build/velmora_x11_map_watch" "$runs" "${programs[@]}" >"$work/figures"
figure() { awk -v p="$1" -v f="$2" '$1 ~ p"$" { for (i = 2; i < NF; i++) if ($i == f) print $(i + 1) }' "$work/figures"; }

echo "X11 menu start-up on Xvfb, median of $runs runs each (milliseconds):"
printf '  %-28s %14s %18s\n' "" "start to mapped" "processor time"
printf '  %-28s %14s %18s\n' "velmora (default menu)" "$(figure /velmora map)" "$(figure /velmora cpu)"
printf '  %-28s %14s %18s\n' "minimal Xlib window" "$(figure velmora_x11_minimal_window map)" \
    "$(figure velmora_x11_minimal_window cpu)"
printf '  %-28s %14s %18s\n' "minimal window + Xft font" "$(figure velmora_x11_minimal_xft_window map)" \
    "$(figure velmora_x11_minimal_xft_window cpu)"
