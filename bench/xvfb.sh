# Sourced by the X11 and Wine benchmarks: an Xvfb server of their own.
#   start_xvfb FOLDER   starts it (its display number lands in FOLDER) and
#                       exports DISPLAY; stop_xvfb ends it.
xvfb_pid=

start_xvfb() {
    # The server picks a free display number and writes it to descriptor 3.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 300); do
        [[ -s $1/display ]] && break
        sleep 0.05
    done
    [[ -s $1/display ]] || { echo "Xvfb did not start" >&2; exit 1; }
    export DISPLAY=":$(head -n1 "$1/display")"
}

stop_xvfb() {
    if [[ -n $xvfb_pid ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
}
