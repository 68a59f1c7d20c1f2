#!/usr/bin/env bash
# The installer under Wine, inside the lab: a silent install, the program
# found through the PATH by a fresh cmd (from a folder without it), a
# /discover of the installed program, and a silent uninstall. What each step
# left is recorded in DIR for the checks (commands.sh, scenario installer):
#   installed.txt      the files under Program Files\kelvoprog after the install
#   key.txt, path.txt  the uninstall registration and the machine's PATH after it
#   usage.out/.status  "kelvoprog /?" through the PATH
#   out, err, status   "kelvoprog /discover" (working directory DIR/cwd)
#   left.txt           what is left under Program Files\kelvoprog after the uninstall
#   key-after.status, path-after.txt, after.status   the same after the uninstall
# The server is not kept running: "wineserver -w" then waits for every Wine
# process, the uninstaller's copy of itself included.
#
# usage: installer-side.sh DIR SETUP.EXE
set -uo pipefail
dir=$1 setup=$2
export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winedbg.exe=d"
cp -a "$KELVO_WINE_TEMPLATE" "$WINEPREFIX" || exit 1
wait_wine() { timeout 120 wineserver -w </dev/null >/dev/null 2>&1; }
wineboot </dev/null >/dev/null 2>&1
installed="$WINEPREFIX/drive_c/Program Files/kelvoprog"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\kelvoprog'
environment='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment'
mkdir -p "$dir/empty"
cd "$dir/empty" || exit 1

wine "$setup" /S </dev/null >"$dir/setup.out" 2>&1
echo $? >"$dir/setup.status"
wait_wine
(cd "$installed" 2>/dev/null && find . -type f | sort) >"$dir/installed.txt"
wine reg query "$uninstall_key" </dev/null >"$dir/key.txt" 2>&1
wine reg query "$environment" /v Path </dev/null >"$dir/path.txt" 2>&1
wine cmd /c kelvoprog '/?' </dev/null >"$dir/usage.out" 2>&1
echo $? >"$dir/usage.status"
(cd "$dir/cwd" && wine cmd /c kelvoprog /discover </dev/null >"$dir/out" 2>"$dir/err"; echo $? >"$dir/status.tmp")
wait_wine

wine "$installed/uninstall.exe" /S </dev/null >"$dir/uninstall.out" 2>&1
wait_wine
(cd "$installed" 2>/dev/null && find . | sort) >"$dir/left.txt"
[ -e "$installed" ] && echo "(the folder itself)" >>"$dir/left.txt"
wine reg query "$uninstall_key" </dev/null >/dev/null 2>&1
echo $? >"$dir/key-after.status"
wine reg query "$environment" /v Path </dev/null >"$dir/path-after.txt" 2>&1
wine cmd /c kelvoprog '/?' </dev/null >/dev/null 2>&1
echo $? >"$dir/after.status"
wineserver -k </dev/null >/dev/null 2>&1
wait_wine
rm -rf "$WINEPREFIX"
mv "$dir/status.tmp" "$dir/status"
exit 0
