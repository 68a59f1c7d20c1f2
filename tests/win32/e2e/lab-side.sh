#!/usr/bin/env bash
# Runs one kelvoprog command line inside the lab (scripts/lab), on one side:
# "linux" runs the Linux build, "windows" runs kelvoprog.exe under Wine with
# a Wine prefix and server of this namespace's own. The end-to-end capture
# helper (tests/e2e/lib/e2e.py) records standard output, standard error, the
# exit status and the run time in DIR; the working directory is DIR/cwd. Its
# options (--timeout, --trigger) come before "--": a trigger's command gets
# the program's process as $E2E_TOOL_PID (under Wine the Windows program
# itself, whose SIGINT Wine delivers as a console's CTRL_C_EVENT).
#
# usage: lab-side.sh linux|windows DIR [CAPTURE-OPTION]... -- ARG...
set -uo pipefail
side=$1 dir=$2
shift 2
capture=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do capture+=("$1"); shift; done
shift
[ -n "${LAB_JOURNAL:-}" ] && capture+=(--journal "$LAB_JOURNAL")
helper=$KELVO_SOURCE_DIR/tests/e2e/lib/e2e.py
if [ "$side" = windows ]; then
  # A server started elsewhere would see that namespace's interfaces: this
  # namespace gets its own prefix (a copy of the ready template) and server.
  export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d"
  cp -a "$KELVO_WINE_TEMPLATE" "$WINEPREFIX" || exit 1
  wineserver -p </dev/null >/dev/null 2>&1
  wineboot </dev/null >/dev/null 2>&1
  /usr/bin/python3 "$helper" capture --dir "$dir" --mode split --timeout 240 ${capture[@]+"${capture[@]}"} \
    -- wine "$KELVOPROG_EXE" "$@"
  wineserver -k </dev/null >/dev/null 2>&1
  wineserver -w </dev/null >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
else
  /usr/bin/python3 "$helper" capture --dir "$dir" --mode split --timeout 240 ${capture[@]+"${capture[@]}"} \
    -- "$KELVO_HOST_BINARY_DIR/kelvoprog" "$@"
fi
exit 0
