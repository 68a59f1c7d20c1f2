#!/usr/bin/env bash
# Runs the reply decoder fuzzer for a bounded time on a copy of the seed
# corpus (the corpus in the tree stays as it is). Any crash, sanitizer report
# or broken record invariant fails the run; the failing input is kept in
# BUILD_DIR/fuzz-artifacts.
#
# With KEEP_DIR the grown corpus is copied there at the end (minimise it into
# fuzz/corpus with: decode_fuzzer -merge=1 fuzz/corpus KEEP_DIR).
#
# usage: scripts/fuzz.sh BUILD_DIR SECONDS [KEEP_DIR]
set -euo pipefail
[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: scripts/fuzz.sh BUILD_DIR SECONDS [KEEP_DIR]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2
fuzzer=$build/fuzz/decode_fuzzer
if [ ! -x "$fuzzer" ]; then
  echo "fuzz.sh: $fuzzer is not built (configure with CC=clang CXX=clang++ -DKELVO_FUZZ=ON)" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/fuzz/corpus" "$work/corpus"
mkdir "$work/artifacts"

# Inputs up to 2048 bytes, so datagrams larger than the receive buffer are tried too.
set +e
"$fuzzer" -max_total_time="$seconds" -max_len=2048 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1
status=$?
set -e
tail -n 20 "$work/log"
if [ $# -eq 3 ]; then
  mkdir -p "$3"
  cp -r "$work/corpus/." "$3/"
fi
if [ $status -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
  mkdir -p "$build/fuzz-artifacts"
  cp -r "$work/artifacts/." "$build/fuzz-artifacts/" 2>/dev/null || true
  cp "$work/log" "$build/fuzz-artifacts/fuzz.log"
  echo "fuzz.sh: the decoder fuzzer failed (status $status); inputs and log in $build/fuzz-artifacts" >&2
  exit 1
fi
echo "fuzz.sh: no failure in $seconds s"
