#!/usr/bin/env bash
# Runs each fuzz target for a bounded time on a copy of its seed corpus (the
# corpora in the tree stay as they are): the reply decoder (decode), the
# command line with its variables (command_line) and the plan reader (plan).
# Any crash, sanitizer report or broken invariant fails the run; the failing
# input is kept in BUILD_DIR/fuzz-artifacts/TARGET.
#
# With KEEP_DIR each grown corpus is copied to KEEP_DIR/TARGET at the end
# (minimise it into the tree with: TARGET_fuzzer -merge=1 fuzz/corpus/TARGET KEEP_DIR/TARGET).
#
# usage: scripts/fuzz.sh BUILD_DIR SECONDS [KEEP_DIR]    (SECONDS for each target)
set -euo pipefail
[ $# -eq 2 ] || [ $# -eq 3 ] || { echo "usage: scripts/fuzz.sh BUILD_DIR SECONDS [KEEP_DIR]" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
seconds=$2

# target, and the longest input it is given: datagrams past the receive
# buffer; command lines past the 4095-character paths; plans of many lines.
targets=(decode:2048 command_line:8192 plan:4096)
for entry in "${targets[@]}"; do
  fuzzer=$build/fuzz/${entry%%:*}_fuzzer
  if [ ! -x "$fuzzer" ]; then
    echo "fuzz.sh: $fuzzer is not built (configure with CC=clang CXX=clang++ -DKELVO_FUZZ=ON)" >&2
    exit 2
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
for entry in "${targets[@]}"; do
  target=${entry%%:*} max_len=${entry#*:}
  mkdir -p "$work/$target/artifacts"
  cp -r "$root/fuzz/corpus/$target" "$work/$target/corpus"
  dict=()
  [ ! -f "$root/fuzz/$target.dict" ] || dict=(-dict="$root/fuzz/$target.dict")
  # The plan parser's line reader takes a 48 MiB buffer for every text;
  # poisoning and quarantining it costs about 100 ms a run, so the plan
  # target runs without heap poisoning (the sanitizers' other checks stay).
  asan=${ASAN_OPTIONS:-}
  [ "$target" != plan ] || asan=${asan:+$asan:}poison_heap=0
  echo "== $target: $seconds s"
  set +e
  ASAN_OPTIONS=$asan "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/$target/artifacts/" ${dict[@]+"${dict[@]}"} \
    "$work/$target/corpus" >"$work/$target/log" 2>&1
  status=$?
  set -e
  tail -n 12 "$work/$target/log"
  if [ $# -eq 3 ]; then
    mkdir -p "$3/$target"
    cp -r "$work/$target/corpus/." "$3/$target/"
  fi
  if [ $status -ne 0 ] || [ -n "$(ls -A "$work/$target/artifacts")" ]; then
    mkdir -p "$build/fuzz-artifacts/$target"
    cp -r "$work/$target/artifacts/." "$build/fuzz-artifacts/$target/" 2>/dev/null || true
    cp "$work/$target/log" "$build/fuzz-artifacts/$target/fuzz.log"
    echo "fuzz.sh: the $target fuzzer failed (status $status); inputs and log in $build/fuzz-artifacts/$target" >&2
    failed=1
  fi
done
[ $failed = 0 ] || exit 1
echo "fuzz.sh: no failure in $seconds s for each of ${#targets[@]} targets"
