#!/usr/bin/env bash
# Runs one kelvoprog command line inside the lab (scripts/lab), on one side:
# "linux" runs the Linux build, "windows" runs kelvoprog.exe under Wine with
# a Wine prefix and server of this namespace's own. Records standard output,
# standard error and the exit status in DIR; the working directory is DIR/cwd.
#
# usage: lab-side.sh linux|windows DIR ARG...
set -uo pipefail
side=$1 dir=$2
shift 2
cd "$dir/cwd" || exit 1
if [ "$side" = windows ]; then
  # A server started elsewhere would see that namespace's interfaces: this
  # namespace gets its own prefix (a copy of the ready template) and server.
  export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d"
  cp -a "$KELVO_WINE_TEMPLATE" "$WINEPREFIX" || exit 1
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1
  timeout 240 wine "$KELVOPROG_EXE" "$@" >"$dir/out" 2>"$dir/err" </dev/null
  echo $? >"$dir/status"
  wineserver -k </dev/null >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
else
  timeout 240 "$KELVO_HOST_BINARY_DIR/kelvoprog" "$@" >"$dir/out" 2>"$dir/err" </dev/null
  echo $? >"$dir/status"
fi
exit 0
