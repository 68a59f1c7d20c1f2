#!/usr/bin/env bash
# Builds the packages into dist/:
#   kelvoprog_V-1_ARCH.deb     the tool, its manual and bash completion
#   libquex1_V-1_ARCH.deb      the shared library
#   libquex-dev_V-1_ARCH.deb   header, libquex.so link, quex.pc, CMake package, quex(3)
#   quexsim_V-1_ARCH.deb       the simulator and quexsim-lab, with their manuals
#   kelvoprog-V-win64.zip      kelvoprog.exe, quex.dll with its import library
#                              and .def, the header, README.md and LICENSE
#   kelvoprog-V-setup.exe      the same files in a Windows installer (NSIS)
#   kelvo-commissioning-C.tar.gz  the Ansible collection (ansible/, version C
#                              in ansible/galaxy.yml), for ansible-galaxy
# V is the version in quex/include/quex/quex.h. Installs what is missing
# first. The Linux packages are built in build-package, the zip and the
# installer in build-package-win (MinGW-w64 cross build); KELVO_SKIP_WINDOWS=1
# leaves both out.
# usage: scripts/package.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
windows=1
[ -z "${KELVO_SKIP_WINDOWS:-}" ] || windows=0
if [ $windows = 1 ]; then scripts/install-deps.sh --windows; else scripts/install-deps.sh; fi

jobs=$(nproc)
# The packages' dates (changelog) are those of the last commit, so that the
# same tree gives the same packages.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
rm -rf dist
mkdir dist

echo "== Debian packages"
# Debian's compiler and linker flags for packages, with every hardening
# feature (stack protector, fortified functions, full RELRO, bind now).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DKELVO_TESTS=OFF -DKELVO_DEBIAN_DOCS=ON \
  -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build-package -j "$jobs"
rm -f build-package/*.deb
(cd build-package && cpack -G DEB >/dev/null)
mv build-package/*.deb dist/

echo "== Ansible collection"
/usr/bin/ansible-galaxy collection build ansible --output-path dist >/dev/null

if [ $windows = 1 ]; then
  echo "== Windows zip and installer"
  cmake -S . -B build-package-win -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVO_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
  cmake --build build-package-win -j "$jobs"
  rm -f build-package-win/*.zip
  (cd build-package-win && cpack -G ZIP >/dev/null)
  mv build-package-win/*.zip dist/
  rm -f build-package-win/*-setup.exe
  cmake --build build-package-win --target installer
  mv build-package-win/*-setup.exe dist/
fi
echo "== dist/"
ls -l dist
