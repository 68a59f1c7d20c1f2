#!/usr/bin/env bash
# Runs kelvoprog.exe under Wine on a console inside the lab: tmux gives Wine
# a terminal, on which Wine makes a Windows console. Standard error (and
# standard output with "console") goes to that console; with "file" standard
# output goes to DIR/out. The screen is read every second while the program
# runs (DIR/screens/N) and once at its end (DIR/screen); the exit status goes
# to DIR/status.
#
# usage: console-side.sh DIR console|file ARG...
set -uo pipefail
dir=$1 stdout=$2
shift 2
export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d"
cp -a "$KELVO_WINE_TEMPLATE" "$WINEPREFIX" || exit 1
wineserver -p </dev/null >/dev/null 2>&1
wineboot </dev/null >/dev/null 2>&1
mkdir -p "$dir/screens"
cd "$dir/cwd" || exit 1
command=$(printf '%q ' wine "$KELVOPROG_EXE" "$@")
[ "$stdout" = file ] && command+=" >$(printf '%q' "$dir/out")"
socket=kelvo-console-$$
# The pane stays after the program so that its last screen can be read.
tmux -L "$socket" new-session -d -x 120 -y 40 \
  "$command; echo \$? >$(printf '%q' "$dir/status.tmp"); mv $(printf '%q' "$dir/status.tmp") $(printf '%q' "$dir/status"); sleep 600"
for n in $(seq 150); do
  [ -f "$dir/status" ] && break
  sleep 1
  tmux -L "$socket" capture-pane -p >"$dir/screens/$n" 2>/dev/null
done
tmux -L "$socket" capture-pane -p >"$dir/screen"
tmux -L "$socket" kill-server
wineserver -k </dev/null >/dev/null 2>&1
wineserver -w </dev/null >/dev/null 2>&1
rm -rf "$WINEPREFIX"
exit 0
