#!/bin/sh
# Builds the fuzz target with the fuzz preset and runs it for a bounded time
# on a copy of the seed corpus. Fails on any finding (crash, sanitizer report,
# broken invariant, leak, timeout); the input that caused it is kept in
# build/fuzz/findings/.
#
#   fuzz/run.sh [SECONDS]      (default 60)
set -eu

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target velmora_config_fuzzer -j 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
mkdir -p "$work/corpus" build/fuzz/findings
cp fuzz/corpus/* "$work/corpus/"

status=0
build/fuzz/velmora_config_fuzzer -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build/fuzz/findings/ \
    "$work/corpus" || status=$?
if [ "$status" -ne 0 ]; then
    echo "fuzz: FAILED (status $status); the input is in build/fuzz/findings/" >&2
    exit 1
fi
echo "fuzz: no finding in $seconds s"
