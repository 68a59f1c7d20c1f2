#!/usr/bin/env bash
# The Windows stage: installs MinGW-w64 and Wine when missing, cross-builds
# kelvoprog.exe, quex.dll and the tests (build-win), builds the Linux quexsim
# and kelvoprog that the end-to-end tests compare with (build-win-host, or
# KELVO_HOST_BUILD), builds the installer (NSIS), and runs the unit and
# end-to-end tests under Wine (the installer's among them).
#
# Wine runs only inside a private network namespace (scripts/netns-run), with
# a Wine prefix and server of that namespace's own: a server started
# elsewhere would see that namespace's interfaces. A ready prefix is made
# once (build-win/wine-template) and copied for each namespace.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cross=$root/build-win
host=${KELVO_HOST_BUILD:-$root/build-win-host}
case "$host" in /*) ;; *) host=$root/$host ;; esac
template=$cross/wine-template
jobs=$(nproc)

wine_env() {
  export WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d"
}

# Inner halves, inside netns-run's namespace.
if [ "${1:-}" = --make-template ]; then
  scripts/in-private-netns || { echo "not in a private network namespace" >&2; exit 1; }
  wine_env
  export WINEPREFIX=$2
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot -i </dev/null >/dev/null 2>&1
  wineserver -k </dev/null >/dev/null 2>&1 || true
  exit 0
fi
if [ "${1:-}" = --run-tests ]; then
  scripts/in-private-netns || { echo "not in a private network namespace" >&2; exit 1; }
  wine_env
  prefix=$(mktemp -d /tmp/kelvo-wine-unit.XXXXXX)
  export WINEPREFIX=$prefix/prefix
  cleanup() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$prefix"
  }
  trap cleanup EXIT
  cp -a "$template" "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1
  # netns-run's tool side: h0 and h1, in that order; loopback is left out.
  export KELVO_WIN_EXPECT_ADDRESSES="10.77.0.1 10.78.0.1" KELVO_WIN_EXPECT_NAMES="h0 h1"
  export KELVO_HOST_BINARY_DIR=$host KELVO_WINE_TEMPLATE=$template
  cd "$cross"
  echo "== unit tests under Wine"
  ctest --no-tests=error --output-on-failure --timeout 300 -j "$jobs" -L unit
  echo "== end-to-end tests under Wine"
  ctest --no-tests=error --output-on-failure --timeout 300 -j 8 -L e2e
  exit 0
fi

scripts/install-deps.sh --windows

start=$(date +%s)
echo "== Linux build of quexsim and kelvoprog (for the lab and the comparison)"
cmake -S . -B "$host" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_WERROR=ON >/dev/null
cmake --build "$host" -j "$jobs" --target quexsim kelvoprog
echo "== Windows cross-build"
cmake -S . -B "$cross" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$cross" -j "$jobs"
cmake --build "$cross" --target installer
echo "== exports"
for f in "$cross/kelvoprog.exe" "$cross/quex/quex.dll"; do
  n=$(x86_64-w64-mingw32-objdump -p "$f" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -c 'QUEX')
  echo "$(basename "$f"): $n entry points exported by name"
done
if [ ! -f "$template/system.reg" ]; then
  echo "== Wine prefix template"
  rm -rf "$template"
  scripts/netns-run --ifaces 1 -- "$0" --make-template "$template"
fi
scripts/netns-run -- "$0" --run-tests
echo "== Windows stage passed in $(( $(date +%s) - start )) s"
