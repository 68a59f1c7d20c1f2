#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build
# (unit, network and end-to-end tests, the Ansible collection's checks, then
# the install, the packages and the manuals, see tests/install/check.sh), the AddressSanitizer +
# UndefinedBehaviorSanitizer build (unit and network tests), the
# ThreadSanitizer build (list and search tests), a bounded run of each fuzz
# target (KELVO_FUZZ_SECONDS each, 40 by default), and the
# Windows build under Wine (skipped with KELVO_SKIP_WINDOWS=1).
# The whole run happens inside a private network namespace, so no test can
# reach a real network; network tests make their own namespaces inside it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ -z "${KELVO_PRIVATE_NET:-}" ]; then
  if [ -n "${KELVO_SKIP_WINDOWS:-}" ]; then scripts/install-deps.sh; else scripts/install-deps.sh --windows; fi
  exec unshare --net env KELVO_PRIVATE_NET=1 "$0" "$@"
fi

jobs=$(nproc)
build() {  # dir, cmake options...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

echo "== normal build"
build build
echo "== unit and network tests"
(cd build && ctest --no-tests=error --output-on-failure -j "$jobs" -L 'unit|net')
echo "== end-to-end tests"
(cd build && ctest --no-tests=error --output-on-failure -j 12 -L e2e)

echo "== Ansible collection: sanity checks, documentation, two simulated sites"
(cd build && ctest --no-tests=error --output-on-failure -j 2 -L ansible)

echo "== install and packages"
tests/install/check.sh build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build"
build build-asan -DKELVO_SANITIZE=ON
(cd build-asan && ctest --no-tests=error --output-on-failure -j "$jobs" -L 'unit|net')

echo "== ThreadSanitizer build"
build build-tsan -DKELVO_TSAN=ON
(cd build-tsan && ctest --no-tests=error --output-on-failure -j "$jobs" -R 'guarded_list|search')

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzzing the reply decoder, the command line and the plan reader (bounded)"
  CC=clang CXX=clang++ build build-fuzz -DKELVO_FUZZ=ON -DKELVO_TESTS=OFF
  scripts/fuzz.sh build-fuzz "${KELVO_FUZZ_SECONDS:-40}"
fi
if [ -z "${KELVO_SKIP_WINDOWS:-}" ]; then
  echo "== Windows build: unit and end-to-end tests under Wine"
  KELVO_HOST_BUILD=build scripts/test-windows.sh
fi
echo "== all tests passed"
