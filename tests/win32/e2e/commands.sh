#!/usr/bin/env bash
# The three commands of the Windows build, end to end under Wine, against
# quexsim and the FTP server in the lab. Each scenario runs the same command
# line twice, in two fresh labs: once with kelvoprog.exe under Wine and once
# with the Linux build. Standard output and standard error must be equal once
# the Windows console's CRLF line ends are made LF, and so must the exit
# status, the log file (byte for byte: it has LF line ends on both) and the
# uploaded files. FTP failures, whose codes and texts are the system's own,
# are checked against the Windows texts.
#
# usage: commands.sh SCENARIO   (discover, set_plain, set_digest, set_refused,
#                                set_missing, upload, upload_failures)
# env:   KELVOPROG_EXE, KELVO_SOURCE_DIR, KELVO_HOST_BINARY_DIR (Linux build with
#        kelvoprog and quexsim), KELVO_WINE_TEMPLATE (a ready Wine prefix)
set -uo pipefail
scenario=${1:?usage: commands.sh SCENARIO}
here=$(cd "$(dirname "$0")" && pwd)

if ! "$KELVO_SOURCE_DIR/scripts/in-private-netns"; then
  echo "skipped: not inside a private network namespace (run scripts/test-windows.sh)"
  exit 77
fi
for v in KELVOPROG_EXE KELVO_HOST_BINARY_DIR KELVO_WINE_TEMPLATE; do
  [ -n "${!v:-}" ] || { echo "skipped: $v is not set (scripts/test-windows.sh sets it)"; exit 77; }
done
export KELVOPROG_EXE KELVO_HOST_BINARY_DIR KELVO_WINE_TEMPLATE
export QUEXSIM=$KELVO_HOST_BINARY_DIR/quexsim
lab=$KELVO_SOURCE_DIR/scripts/lab

work=$(mktemp -d /tmp/kelvo-e2e-win.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $scenario: $*"; failures=$((failures + 1)); }

# prepare NAME: a fresh case directory with cwd/ and ftp/ for both sides.
prepare() {
  local side
  for side in linux windows; do
    mkdir -p "$work/$1/$side/cwd" "$work/$1/$side/ftp"
  done
}

# run NAME [lab options] -- ARGS...: both sides at once, each in its own lab.
run() {
  local name=$1 side pids=()
  shift
  local opts=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  for side in linux windows; do
    local dir=$work/$name/$side
    local labopts=("${opts[@]}")
    [ -n "${WITH_FTP:-}" ] && labopts+=(--ftp "$dir/ftp")
    timeout 280 "$lab" "${labopts[@]}" -- bash "$here/lab-side.sh" "$side" "$dir" "$@" \
      >"$dir/lab.out" 2>&1 &
    pids+=($!)
  done
  local pid
  for pid in "${pids[@]}"; do wait "$pid" || true; done
  for side in linux windows; do
    [ -f "$work/$name/$side/status" ] || { fail "$name/$side did not run:"; cat "$work/$name/$side/lab.out"; }
  done
}

# CRLF -> LF, nothing else.
lf() { sed 's/\r$//' "$1"; }

# same NAME: both sides alike (output, errors, status, log).
same() {
  local name=$1 l=$work/$1/linux w=$work/$1/windows
  [ -f "$l/status" ] && [ -f "$w/status" ] || return
  cmp -s <(lf "$w/out") "$l/out" || { fail "$name: standard output differs (< windows, > linux)"; diff <(lf "$w/out") "$l/out" | head -20; }
  cmp -s <(lf "$w/err") "$l/err" || { fail "$name: standard error differs (< windows, > linux)"; diff <(lf "$w/err") "$l/err" | head -20; }
  [ "$(cat "$w/status")" = "$(cat "$l/status")" ] || fail "$name: exit status $(cat "$w/status") on Windows, $(cat "$l/status") on Linux"
  cmp -s "$w/cwd/kelvoprog.log" "$l/cwd/kelvoprog.log" || { fail "$name: log files differ"; od -c "$w/cwd/kelvoprog.log" | head; od -c "$l/cwd/kelvoprog.log" | head; }
}

status_is() {  # NAME STATUS
  [ "$(cat "$work/$1/windows/status" 2>/dev/null)" = "$2" ] || fail "$1: Windows exit status $(cat "$work/$1/windows/status" 2>/dev/null), want $2"
}

contains() {  # NAME TEXT: a whole line of the Windows output
  lf "$work/$1/windows/out" | grep -qxF -- "$2" || fail "$1: no line \"$2\" in the Windows output"
}

case "$scenario" in
  discover)
    # Two tool-side interfaces: the adapter list and multicast on both.
    prepare discover
    run discover --ifaces 2 -- /discover
    same discover
    status_is discover 0
    contains discover "6 devices found."
    contains discover "      10.78.0.60 | 02:C0:DE:25:40:78 | KV-55 Flow Meter"
    ;;
  set_plain)
    # Plain password, settings shown at once: no reboot wait.
    prepare set_plain
    run set_plain -- /set /mac=02c0de254075 /ip=10.77.0.81 /subnet=255.255.255.0 /gateway=10.77.0.1
    same set_plain
    status_is set_plain 0
    ;;
  set_digest)
    # A challenge: the request carries the MD5 digest made by the system's MD5.
    prepare set_digest
    run set_digest --devices "$here/devices.json" -- /set /mac=02c0de310001 /ip=10.77.0.82 /subnet=255.255.255.0
    same set_digest
    status_is set_digest 0
    ;;
  set_refused)
    prepare set_refused
    run set_refused -- /set /mac=02c0de254077 /ip=10.77.0.83 /subnet=255.255.255.0
    same set_refused
    status_is set_refused 3
    ;;
  set_missing)
    # No such device: the locate fails, and the log ends with the marker.
    prepare set_missing
    run set_missing -- /set /mac=02c0de999999 /ip=10.77.0.84
    same set_missing
    status_is set_missing 4
    ;;
  upload)
    # A backslash path: the file lands under the text after the last backslash.
    prepare upload
    head -c 200000 /dev/urandom >"$work/fw.bin"
    mkdir -p "$work/upload/windows/cwd/images"
    cp "$work/fw.bin" "$work/upload/windows/cwd/images/fw.bin"
    cp "$work/fw.bin" "$work/upload/linux/cwd/images\\fw.bin"  # one file name on Linux
    # The lab's FTP server listens on 10.77.0.2, the address of this device.
    WITH_FTP=1 run upload --devices "$here/devices.json" -- /upload /mac=02c0de310002 '/firmware=images\fw.bin'
    same upload
    status_is upload 0
    contains upload "SUCCESS: Firmware image uploaded to device."
    for side in linux windows; do
      cmp -s "$work/fw.bin" "$work/upload/$side/ftp/fw.bin" || fail "upload: $side did not store fw.bin byte for byte"
      [ "$(ls "$work/upload/$side/ftp")" = fw.bin ] || fail "upload: $side stored $(ls "$work/upload/$side/ftp")"
    done
    ;;
  upload_failures)
    # Refused login, no server, missing local file: the failure line goes on
    # with the system's text for the code (WinInet's from wininet.dll).
    head -c 1000 /dev/urandom >"$work/fw.bin"
    prepare login
    cp "$work/fw.bin" "$work/login/windows/cwd/fw.bin"
    WITH_FTP=1 run login --ftp-password other -- /upload /ip=10.77.0.2 /firmware=fw.bin
    prepare noserver
    cp "$work/fw.bin" "$work/noserver/windows/cwd/fw.bin"
    run noserver -- /upload /ip=10.77.0.2 /firmware=fw.bin
    prepare nofile
    WITH_FTP=1 run nofile -- /upload /ip=10.77.0.2 /firmware=missing.bin
    banner=$'\nKelvo Programmer\nVersion 1.3.13.0\nCopyright (C) Kelvo. All rights reserved.\n\n'
    # Standard output: the Linux build's up to its last line, which is the
    # client's text (": " and the text, or nothing), then the Windows ending.
    expect_failure() {  # NAME STDERR LAST-LINE-PATTERN
      local w=$work/$1/windows l=$work/$1/linux
      [ -f "$w/status" ] && [ -f "$l/status" ] || return
      status_is "$1" 9
      [ "$(lf "$w/err")" = "$2" ] || fail "$1: standard error is \"$(lf "$w/err")\", want \"$2\""
      local want got
      want=$(sed '$d' "$l/out")
      got=$(lf "$w/out" | sed '$d')
      [ "$got" = "$want" ] || { fail "$1: standard output differs"; diff <(printf '%s\n' "$got") <(printf '%s\n' "$want"); }
      lf "$w/out" | tail -n 1 | grep -qxE -- "$3" || fail "$1: last line \"$(lf "$w/out" | tail -n 1)\" is not /$3/"
      [ "$(tail -c 1 "$w/out" | od -An -c | tr -d ' ')" = '\n' ] || fail "$1: the line is not ended"
    }
    # WinInet's codes: 12015 login failure (Wine's wininet.dll has no text for
    # it: the line ends after the code), 12029 cannot connect.
    expect_failure login "Failed to open FTP session with error 12015" "(: [A-Z].*[^ ])?"
    expect_failure noserver "Failed to open FTP session with error 12029" ": [A-Z].*[^ ]"
    # A system code (2, file not found) has its text.
    expect_failure nofile "FtpPutFile failed with error 2" ": [A-Z].*[^ ]"
    [ -z "$(ls "$work/nofile/windows/ftp")" ] || fail "nofile: something was stored: $(ls "$work/nofile/windows/ftp")"
    # The log is the same as the Linux build's: the failure is status 9 on both.
    for name in login noserver nofile; do
      cmp -s "$work/$name/windows/cwd/kelvoprog.log" "$work/$name/linux/cwd/kelvoprog.log" ||
        fail "$name: log files differ"
    done
    ;;
  *)
    echo "unknown scenario $scenario"
    exit 2
    ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$scenario: $failures check(s) failed"
  exit 1
fi
echo "$scenario: Windows build matches"
