#!/usr/bin/env bash
# Shows kelvoprog at work on a fresh machine: installs what is missing,
# builds, then starts the lab (scripts/lab: simulated devices from
# tools/quexsim/examples/demo.json and a real FTP server, in private network
# namespaces, so nothing reaches a real network) and runs /discover, a /set
# and an /upload there, printing the tool's own output.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if [ -z "${KELVO_DEMO_INNER:-}" ]; then
  cd "$root"
  [ "$(id -u)" = 0 ] || { echo "demo: run as root (the lab needs network namespaces)" >&2; exit 1; }
  echo "== Installing what is missing"
  scripts/install-deps.sh
  echo "== Building"
  cmake -B build -S . >/dev/null
  cmake --build build -j "$(nproc)" --target kelvoprog quexsim  # what the demo runs, no tests

  work=$(mktemp -d /tmp/kelvo-demo.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  mkdir "$work/ftp" "$work/run"
  # A firmware image of 64 KiB.
  head -c 65536 /dev/urandom >"$work/run/kv500-fw-2.1.bin"
  echo
  echo "== Starting the lab: three simulated devices (tools/quexsim/examples/demo.json)"
  echo "   and an FTP server on the device side (10.77.0.2)"
  QUEXSIM="$root/build/quexsim" KELVO_DEMO_INNER=1 KELVO_DEMO_WORK="$work" \
    scripts/lab --devices tools/quexsim/examples/demo.json --ftp "$work/ftp" -- "$root/scripts/demo.sh"
  echo
  echo "== The file on the device's FTP server"
  (cd "$work/ftp" && ls -l)
  if cmp -s "$work/run/kv500-fw-2.1.bin" "$work/ftp/kv500-fw-2.1.bin"; then
    echo "kv500-fw-2.1.bin arrived byte for byte ($(sha256sum <"$work/ftp/kv500-fw-2.1.bin" | cut -c1-16)...)."
  else
    echo "demo: the uploaded file did not arrive intact" >&2
    exit 1
  fi
  exit 0
fi

# Inside the lab: the tool may only run in a private network namespace.
"$root/scripts/in-private-netns" || { echo "demo: not inside the lab's namespace" >&2; exit 1; }
cd "$KELVO_DEMO_WORK/run"
tool=$root/build/kelvoprog
run() {
  echo
  echo "== \$ kelvoprog $*"
  local status=0
  "$tool" "$@" || status=$?
  echo "(exit status $status)"
}
run /discover
run /set /mac=02c0de254074 /ip=10.77.0.80 /subnet=255.255.255.0 /gateway=10.77.0.1
echo
echo "== The boiler controller now answers at its new address (only the TELQ magic this time)"
run /discover /vendorid=54454C51
run /upload /mac=02c0de254079 /firmware=kv500-fw-2.1.bin
echo
echo "== The result log of the last run (kelvoprog.log)"
cat kelvoprog.log
