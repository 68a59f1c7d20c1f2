#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the lab need, only
# when one is missing (apt-get update runs once, then one install).
set -euo pipefail
packages=(build-essential cmake clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev nlohmann-json3-dev libcurl4-openssl-dev libssl-dev
          python3-pyftpdlib iproute2 util-linux procps valgrind)
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
