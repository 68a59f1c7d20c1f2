#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, the lab and the
# packaging (scripts/package.sh: dpkg-dev and file for the packages'
# dependencies, lintian, mandoc, pkgconf and unzip for their checks) need, only
# when one is missing (apt-get update runs once, then one install). The
# Ansible collection (ansible/) needs ansible-core (ansible-playbook,
# ansible-galaxy, ansible-test, ansible-doc) and the linters its sanity
# checks run: yamllint, pylint, python3-pycodestyle, python3-voluptuous
# (validate-modules) and shellcheck.
# usage: install-deps.sh [--windows]   (--windows: also the Windows stage's packages)
set -euo pipefail
packages=(build-essential cmake clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev nlohmann-json3-dev libcurl4-openssl-dev libssl-dev libfccp-dev
          python3-pyftpdlib iproute2 util-linux procps valgrind
          dpkg-dev file lintian mandoc pkgconf unzip
          ansible-core yamllint pylint python3-pycodestyle python3-voluptuous shellcheck)
# The Windows stage only (scripts/test-windows.sh): MinGW-w64 with the posix
# thread model (not g++-mingw-w64-x86-64, whose default lacks std::thread),
# Wine, NSIS for the installer, and tmux to give Wine a console to test;
# without their recommends.
if [ "${1:-}" = --windows ]; then
  packages+=(g++-mingw-w64-x86-64-posix wine wine64 nsis tmux)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi
