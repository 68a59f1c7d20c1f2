#!/usr/bin/env bash
# Shows kelvoprog at work on a fresh machine: installs what is missing,
# builds, then starts the lab (scripts/lab: simulated devices from
# tools/quexsim/examples/demo.json and a real FTP server, in private network
# namespaces, so nothing reaches a real network) and runs /discover, a /set,
# an /upload and the spreadsheet round trip (/discover /format=csv, the
# addresses edited, /set /plan) there; then a second lab with two networks
# shows /interface. It prints the tool's own output.
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
  # A laptop on two networks: a test bench on the office network (10.77.0.x,
  # answering first) and two devices on the plant network (10.78.0.x).
  cat >"$work/two-networks.json" <<'EOF'
{
  "defaults": { "subnet": "255.255.255.0", "apply": "immediate" },
  "devices": [
    { "name": "office-bench", "mac": "02:c0:de:25:41:01", "ip": "10.77.0.60", "gateway": "10.77.0.1",
      "model": "KV-200 Test Bench", "interfaces": ["10.77.0.2"] },
    { "name": "plant-boiler", "mac": "02:c0:de:25:42:01", "ip": "10.78.0.50", "gateway": "10.78.0.1",
      "model": "KV-200 Boiler Controller", "interfaces": ["10.78.0.2"], "delay_ms": 200 },
    { "name": "plant-pump", "mac": "02:c0:de:25:42:02", "ip": "10.78.0.51", "gateway": "10.78.0.1",
      "model": "KV-110 Pump Station", "interfaces": ["10.78.0.2"], "delay_ms": 400 }
  ]
}
EOF
  echo
  echo "== Starting a second lab: the laptop on two networks, an office one (h0, 10.77.0.1)"
  echo "   with a test bench and a plant one (h1, 10.78.0.1) with two devices"
  QUEXSIM="$root/build/quexsim" KELVO_DEMO_INNER=2 KELVO_DEMO_WORK="$work" \
    scripts/lab --ifaces 2 --devices "$work/two-networks.json" -- "$root/scripts/demo.sh"
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
if [ "$KELVO_DEMO_INNER" = 2 ]; then
  mkdir -p "$KELVO_DEMO_WORK/run2"
  cd "$KELVO_DEMO_WORK/run2"
  run /discover
  echo
  echo "== Only the plant network: /interface by name (or by address, /interface=10.78.0.1)"
  run /discover /interface=h1
  echo
  echo "== /mac=auto takes the first device that answers: with /interface=h1 never the office bench"
  run /set /mac=auto /ip=10.78.0.90 /interface=h1
  run /discover /interface=10.78.0.1
  exit 0
fi
run /discover
run /set /mac=02c0de254074 /ip=10.77.0.80 /subnet=255.255.255.0 /gateway=10.77.0.1
echo
echo "== The boiler controller now answers at its new address (only the TELQ magic this time)"
run /discover /vendorid=54454C51
run /upload /mac=02c0de254079 /firmware=kv500-fw-2.1.bin
echo
echo "== The result log of the last run (kelvoprog.log)"
cat kelvoprog.log
echo
echo "== The spreadsheet round trip: the device list as CSV ..."
echo "\$ kelvoprog /discover /format=csv > site.csv"
"$tool" /discover /format=csv >site.csv 2>/dev/null
cut -d, -f1-7 site.csv | tr -d '\r'
echo "(and the other columns of /discover, which a plan reads and does not use)"
echo
echo "== ... the addresses edited (here by sed: 10.77.0.N becomes 10.77.0.1N) ..."
echo "\$ sed -E 's/^10\\.77\\.0\\.([0-9]+),/10.77.0.1\\1,/' site.csv > plan.csv"
sed -E 's/^10\.77\.0\.([0-9]+),/10.77.0.1\1,/' site.csv >plan.csv
cut -d, -f1-7 plan.csv | tr -d '\r'
echo
echo "== ... and fed back as the plan: every device at once, each as a single /set"
run /set /plan=plan.csv /wait=ready
run /discover
