#!/usr/bin/env bash
# The Windows build end to end under Wine, against quexsim and the FTP server
# in the lab. Each case runs the same command line twice, in two fresh labs:
# once with kelvoprog.exe under Wine and once with the Linux build. Standard
# output and standard error must be equal once the Windows console's CRLF
# line ends are made LF (a machine-readable document byte for byte), and so
# must the exit status, the log file (byte for byte: it has LF line ends on
# both) and the uploaded files. FTP failures, whose codes and texts are the
# system's own, are checked against the Windows texts. The cases of one
# scenario run side by side.
#
# usage: commands.sh SCENARIO   (discover, set_plain, set_digest, set_refused,
#                                set_missing, set_ready, upload, upload_failures, formats,
#                                credentials, plan, plan_interrupt, upload_stalled,
#                                console, installer)
# env:   KELVOPROG_EXE, KELVO_INSTALLER (the setup program), KELVO_SOURCE_DIR, KELVO_HOST_BINARY_DIR (Linux build with
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
export KELVOPROG_EXE KELVO_HOST_BINARY_DIR KELVO_WINE_TEMPLATE KELVO_SOURCE_DIR
export QUEXSIM=$KELVO_HOST_BINARY_DIR/quexsim
lab=$KELVO_SOURCE_DIR/scripts/lab
e2e_lib=$KELVO_SOURCE_DIR/tests/e2e/lib

work=$(mktemp -d /tmp/kelvo-e2e-win.XXXXXX)
if [ -n "${KELVO_E2E_KEEP:-}" ]; then trap 'echo "(work files kept in $work)"' EXIT; else trap 'rm -rf "$work"' EXIT; fi
failures=0
fail() { echo "FAIL $scenario: $*"; failures=$((failures + 1)); }
banner=$'\nKelvo Programmer\nVersion 1.3.13.0\nCopyright (C) Kelvo. All rights reserved.\n\n'

# prepare NAME [FILE...]: a fresh case directory with cwd/ and ftp/ for both
# sides, each FILE copied into both working directories.
prepare() {
  local name=$1 side
  shift
  for side in linux windows; do
    mkdir -p "$work/$name/$side/cwd" "$work/$name/$side/ftp"
    [ $# -eq 0 ] || cp "$@" "$work/$name/$side/cwd/"
  done
}

# start NAME [lab options] -- ARGS...: both sides in the background, each in
# its own lab; finish waits for every case started. WITH_FTP=1 serves each
# side's ftp/ directory; the array CAPTURE holds options for the capture
# helper (--trigger, --timeout) and is emptied.
pids=()
started=()
CAPTURE=()
start() {
  local name=$1 side
  shift
  local opts=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  for side in linux windows; do
    local dir=$work/$name/$side
    local labopts=(${opts[@]+"${opts[@]}"} --journal "$dir/journal.jsonl")
    [ -n "${WITH_FTP:-}" ] && labopts+=(--ftp "$dir/ftp")
    timeout 280 "$lab" "${labopts[@]}" -- bash "$here/lab-side.sh" "$side" "$dir" \
      ${CAPTURE[@]+"${CAPTURE[@]}"} -- "$@" >"$dir/lab.out" 2>&1 &
    pids+=($!)
  done
  started+=("$name")
  CAPTURE=()
}
finish() {
  local pid name side
  for pid in "${pids[@]}"; do wait "$pid" || true; done
  for name in "${started[@]}"; do
    for side in linux windows; do
      local status
      status=$(cat "$work/$name/$side/status" 2>/dev/null)
      if [ -z "$status" ] || [ "$status" = timeout ]; then
        fail "$name/$side did not run to its end:"
        cat "$work/$name/$side/lab.out"
      fi
    done
  done
  pids=()
  started=()
}
run() { start "$@"; finish; }

# CRLF -> LF, nothing else.
lf() { sed 's/\r$//' "$1"; }

# same NAME: both sides alike (output, errors, status, log).
same() {
  local name=$1 l=$work/$1/linux w=$work/$1/windows
  [ -f "$l/status" ] && [ -f "$w/status" ] || return
  cmp -s <(lf "$w/out") "$l/out" || { fail "$name: standard output differs (< windows, > linux)"; diff <(lf "$w/out") "$l/out" | head -20; }
  same_errors_status_log "$name"
}
same_errors_status_log() {
  local name=$1 l=$work/$1/linux w=$work/$1/windows
  cmp -s <(lf "$w/err") "$l/err" || { fail "$name: standard error differs (< windows, > linux)"; diff <(lf "$w/err") "$l/err" | head -20; }
  [ "$(cat "$w/status")" = "$(cat "$l/status")" ] || fail "$name: exit status $(cat "$w/status") on Windows, $(cat "$l/status") on Linux"
  if [ -e "$w/cwd/kelvoprog.log" ] || [ -e "$l/cwd/kelvoprog.log" ]; then
    cmp -s "$w/cwd/kelvoprog.log" "$l/cwd/kelvoprog.log" || { fail "$name: log files differ"; od -c "$w/cwd/kelvoprog.log" | head; od -c "$l/cwd/kelvoprog.log" | head; }
  fi
}
# same_document NAME: a machine-readable document on standard output is the
# same bytes on both (no CRLF for LF on Windows); the rest as same.
same_document() {
  local name=$1 l=$work/$1/linux w=$work/$1/windows
  [ -f "$l/status" ] && [ -f "$w/status" ] || return
  [ -s "$l/out" ] || fail "$name: no document on standard output"
  cmp -s "$w/out" "$l/out" || { fail "$name: the documents differ (< windows, > linux)"; diff <(od -c "$w/out") <(od -c "$l/out") | head -20; }
  same_errors_status_log "$name"
}

status_is() {  # NAME STATUS
  [ "$(cat "$work/$1/windows/status" 2>/dev/null)" = "$2" ] || fail "$1: Windows exit status $(cat "$work/$1/windows/status" 2>/dev/null), want $2"
}

contains() {  # NAME TEXT: a whole line of the Windows output
  lf "$work/$1/windows/out" | grep -qxF -- "$2" || fail "$1: no line \"$2\" in the Windows output"
}

case "$scenario" in
  discover)
    # Two tool-side interfaces: the adapter list and multicast on both. The
    # plant's new sensor has its lease from the start: the two magics search
    # at once, so which of its answers comes before its lease would be left
    # to the order in which the searches' requests reach it.
    /usr/bin/python3 -c 'import json, sys
plant = json.load(open(sys.argv[1]))
for device in plant["devices"]: device.pop("lease_after_queries", None)
json.dump(plant, open(sys.argv[2], "w"), indent=1)' "$KELVO_SOURCE_DIR/tools/quexsim/examples/plant.json" "$work/plant.json"
    prepare discover
    prepare discover_interface
    start discover --ifaces 2 --devices "$work/plant.json" -- /discover
    # /interface by the adapter's name (Wine names the adapters after the lab's
    # interfaces): the second network alone, its name in the document.
    start discover_interface --ifaces 2 --devices "$work/plant.json" -- /discover /interface=h1 /format=json
    finish
    same discover
    status_is discover 0
    contains discover "6 devices found."
    contains discover "      10.78.0.60 | 02:C0:DE:25:40:78 | KV-55 Flow Meter"
    same_document discover_interface
    status_is discover_interface 0
    grep -qF '"interface_name": "h1"' "$work/discover_interface/windows/out" ||
      fail "discover_interface: no interface_name h1 in the document"
    grep -q '"local": *"10.77.0.2"' "$work/discover_interface/windows/journal.jsonl" &&
      fail "discover_interface: a datagram reached the other network"
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
  set_ready)
    # /wait=ready: a device back 3 s after its reboot is checked as soon as it
    # answers, not after 40 s; the output is the fixed wait's.
    cat >"$work/ready.json" <<'EOF'
[ { "name": "boiler", "mac": "02:c0:de:31:00:05", "ip": "10.77.0.64", "gateway": "10.77.0.1",
    "challenge": "fresh", "apply": "reboot", "reboot_ms": 3000 } ]
EOF
    prepare set_ready
    run set_ready --devices "$work/ready.json" -- /set /mac=02c0de310005 /ip=10.77.0.87 /wait=ready
    same set_ready
    status_is set_ready 0
    contains set_ready "IP address has been changed."
    elapsed=$(cat "$work/set_ready/windows/elapsed")
    awk -v t="$elapsed" 'BEGIN { exit !(t >= 3 && t < 20) }' && echo "set_ready: ran $elapsed s on Windows" ||
      fail "set_ready: ran $elapsed s on Windows, want 3 to 20 s (not the 40 s wait)"
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
    # Refused login, no server, missing local file, a file the server does
    # not keep: the failure line goes on with the system's text for the code
    # (WinInet's from wininet.dll), and ends after the code when there is none.
    head -c 1000 /dev/urandom >"$work/fw.bin"
    prepare login
    cp "$work/fw.bin" "$work/login/windows/cwd/fw.bin"
    WITH_FTP=1 start login --ftp-password other -- /upload /ip=10.77.0.2 /firmware=fw.bin
    prepare noserver
    cp "$work/fw.bin" "$work/noserver/windows/cwd/fw.bin"
    start noserver -- /upload /ip=10.77.0.2 /firmware=fw.bin
    prepare nofile
    WITH_FTP=1 start nofile -- /upload /ip=10.77.0.2 /firmware=missing.bin
    prepare refused "$work/fw.bin"
    start refused --ftp-server "exec /usr/bin/python3 $e2e_lib/stall_ftp.py 10.77.0.2 --refuse" -- \
      /upload /ip=10.77.0.2 /firmware=fw.bin
    finish
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
    # The server takes the whole file, then refuses to keep it (552): 12003,
    # the server's own answer, as FtpPutFile reports it.
    expect_failure refused "FtpPutFile failed with error 12003" "(: [A-Z].*[^ ])?"
    [ -z "$(ls "$work/nofile/windows/ftp")" ] || fail "nofile: something was stored: $(ls "$work/nofile/windows/ftp")"
    # The log is the same as the Linux build's: the failure is status 9 on both.
    for name in login noserver nofile refused; do
      cmp -s "$work/$name/windows/cwd/kelvoprog.log" "$work/$name/linux/cwd/kelvoprog.log" ||
        fail "$name: log files differ"
    done
    ;;
  formats)
    # The three commands' machine-readable documents, and the table, over a
    # device whose model holds quotes, a comma, an escape sequence, a bell and
    # a line end: made safe on the console, escaped in the documents.
    head -c 50000 /dev/urandom >"$work/fw.bin"
    for name in discover_table discover_json discover_csv set_json set_csv upload_json upload_csv; do
      prepare "$name" "$work/fw.bin"
    done
    devices=(--devices "$here/devices.json")
    start discover_table "${devices[@]}" -- /discover
    start discover_json "${devices[@]}" -- /discover /format=json
    start discover_csv "${devices[@]}" -- /discover /format=csv
    start set_json "${devices[@]}" -- /set /mac=02c0de310001 /ip=10.77.0.82 /format=json
    start set_csv "${devices[@]}" -- /set /mac=02c0de310001 /ip=10.77.0.83 /format=csv
    WITH_FTP=1 start upload_json "${devices[@]}" -- /upload /mac=02c0de310002 /firmware=fw.bin /format=json
    WITH_FTP=1 start upload_csv "${devices[@]}" -- /upload /mac=02c0de310002 /firmware=fw.bin /format=csv
    finish
    same discover_table
    contains discover_table "      10.77.0.63 | 02:C0:DE:31:00:04 | KV-9 \"Boiler\", hall 2?[2J??row"
    for name in discover_json discover_csv set_json set_csv upload_json upload_csv; do
      same_document "$name"
      status_is "$name" 0
    done
    grep -qF '"model": "KV-9 \"Boiler\", hall 2\u001b[2J\u0007\nrow"' "$work/discover_json/windows/out" ||
      fail "discover_json: the model is not escaped as JSON"
    for name in upload_json upload_csv; do
      cmp -s "$work/fw.bin" "$work/$name/windows/ftp/fw.bin" || fail "$name: fw.bin did not arrive byte for byte"
    done
    ;;
  credentials)
    # The password from KELVOPROG_PASSWORD (the device's own is not the
    # default), both credentials from the environment for an FTP login, and
    # a control character on the command line refused before anything is sent.
    head -c 5000 /dev/urandom >"$work/fw.bin"
    prepare env_password
    prepare env_upload "$work/fw.bin"
    prepare control_username
    KELVOPROG_PASSWORD=Secret1 start env_password --devices "$here/devices.json" -- /set /mac=02c0de310003 /ip=10.77.0.85
    KELVOPROG_USERNAME=kelvo KELVOPROG_PASSWORD=Upload1 WITH_FTP=1 start env_upload --devices "$here/devices.json" \
      --ftp-user kelvo --ftp-password Upload1 -- /upload /mac=02c0de310002 /firmware=fw.bin
    start control_username --devices "$here/devices.json" -- /set /mac=02c0de310001 /ip=10.77.0.86 \
      $'/username=root\e]0;owned\a'
    finish
    for name in env_password env_upload control_username; do same "$name"; done
    status_is env_password 0
    contains env_password "IP address has been changed."
    status_is env_upload 0
    cmp -s "$work/fw.bin" "$work/env_upload/windows/ftp/fw.bin" || fail "env_upload: fw.bin did not arrive byte for byte"
    status_is control_username 255
    [ "$(lf "$work/control_username/windows/err")" = "ERROR: The /username value contains a control character." ] ||
      fail "control_username: standard error is \"$(lf "$work/control_username/windows/err")\""
    ;;
  plan)
    # Six devices of every kind at /parallel=3, from a file as a spreadsheet
    # saves it (byte-order mark, CRLF, a comment, an empty line, quotes): one
    # line per device in an order of their own, so compared as a set; the
    # summary, the status and the log's rows exactly.
    { printf '\xEF\xBB\xBF'
      printf '%s\r\n' 'MAC, IP ,subnet,gateway' '# the north hall' '' \
        '02c0de000101,10.77.0.81,255.255.0.0,' '02c0de000109,10.77.0.89,,' \
        '02:C0:DE:00:01:02,10.77.0.82,,10.77.0.254' '02c0de000103,dhcp,,' '02c0de000104,10.77.0.84,,' \
        '"02c0de000105",10.77.0.85,,'
    } >"$work/plan.csv"
    prepare plan "$work/plan.csv"
    run plan --devices "$here/plan.json" -- /set /plan=plan.csv /parallel=3
    w=$work/plan/windows l=$work/plan/linux
    status_is plan 4
    [ "$(cat "$l/status")" = 4 ] || fail "plan: Linux exit status $(cat "$l/status"), want 4"
    [ "$(lf "$w/out" | head -n 5)" = "$(head -n 5 "$l/out")" ] || fail "plan: the banners differ"
    [ "$(lf "$w/out" | tail -n +6 | head -n -1 | sort)" = "$(tail -n +6 "$l/out" | head -n -1 | sort)" ] ||
      { fail "plan: the device lines differ as sets (< windows, > linux)"
        diff <(lf "$w/out" | tail -n +6 | head -n -1 | sort) <(tail -n +6 "$l/out" | head -n -1 | sort); }
    [ "$(lf "$w/out" | tail -n 1)" = "6 devices done, 3 failed." ] || fail "plan: summary \"$(lf "$w/out" | tail -n 1)\""
    [ "$(tail -n 1 "$l/out")" = "6 devices done, 3 failed." ] || fail "plan: Linux summary \"$(tail -n 1 "$l/out")\""
    [ ! -s "$w/err" ] || fail "plan: standard error on Windows: $(cat "$w/err")"
    # The log: the echo and header, then one entry per device (a failure's
    # marker before it), in finishing order: compared entry by entry as sets.
    log_rows() { /usr/bin/python3 -c 'import sys; t=open(sys.argv[1],"rb").read(); h=t.index(b"STATUS\n")+7
print(t[:h].hex()); print("\n".join(sorted(e.hex() for e in t[h:].replace(b"\n\nERROR CONFIGURING DEVICE ", b"\0!").split(b"\n") if e)))' "$1"; }
    [ "$(log_rows "$w/cwd/kelvoprog.log")" = "$(log_rows "$l/cwd/kelvoprog.log")" ] ||
      { fail "plan: the log rows differ"; cat "$w/cwd/kelvoprog.log"; }
    [ "$(grep -c $'^ERROR CONFIGURING DEVICE 02C0DE0001[0-9][0-9]\tERROR$' "$w/cwd/kelvoprog.log")" = 3 ] ||
      fail "plan: three failed devices want three marked ERROR rows in the log"
    # A discovery file fed back as a plan, CRLF as /discover writes it: its
    # unused columns ignored, a device standing twice counted once (limited
    # to its magic), a row whose dhcp cell asks for DHCP whatever its address
    # says. One at a time, so the output compares whole.
    { printf '%s\r\n' \
        ip,mac,model,subnet,gateway,dhcp,magic,interface,interface_name,version,vendor_guid,aux_text,aux_number,aux_address,aux_byte,aux_data \
        "10.77.0.91,02:C0:DE:00:01:01,'-fast,255.255.255.0,10.77.0.1,false,TELQ,10.77.0.2,h0,2,,,,,," \
        "10.77.0.91,02:C0:DE:00:01:01,'-fast,255.255.255.0,10.77.0.1,false,TELQ,10.77.0.2,h0,2,,,,,," \
        '10.77.0.123,02:C0:DE:00:01:03,sensor,255.255.255.0,10.77.0.1,true,,10.77.0.2,h0,2,,,,,,'
    } >"$work/site.csv"
    prepare plan_trip "$work/site.csv"
    run plan_trip --devices "$here/plan.json" -- /set /plan=site.csv /parallel=1
    same plan_trip
    status_is plan_trip 0
    contains plan_trip "2 devices done, 0 failed."
    ;;
  plan_interrupt)
    # Ctrl-C when the boiler's reboot is accepted: Wine hands the program's
    # SIGINT to its console control handler as CTRL_C_EVENT. The boiler, past
    # its settings, finishes; the slow device (4 s a reply, two queries before
    # its settings: room for Wine on a loaded machine) stops before its
    # settings; the last two are never started. Output, status 130 and log as
    # on Linux.
    printf '%s\n' mac,ip 02c0de000102,10.77.0.82 02c0de000106,10.77.0.86 02c0de000101,10.77.0.81 \
      02c0de000104,10.77.0.84 >"$work/stop.csv"
    prepare interrupt "$work/stop.csv"
    CAPTURE=(--trigger event=decision,type=5,action=accept 1 'kill -INT "$E2E_TOOL_PID"')
    run interrupt --devices "$here/plan.json" -- /set /plan=stop.csv /parallel=2
    same interrupt
    status_is interrupt 130
    contains interrupt "Interrupted: 2 devices not started."
    contains interrupt "02:C0:DE:00:01:06  10.77.0.56  ERROR  Interrupted before it was done."
    ;;
  upload_stalled)
    # A server that takes the data connection and never reads it. WinInet's
    # own time-outs do not end such a transfer under Wine: the program's bound
    # (60 s without progress) does, with status 9 as on Linux, within 90 s.
    truncate -s 16M "$work/large.bin"
    prepare stalled "$work/large.bin"
    CAPTURE=(--timeout 150)
    run stalled --devices "$here/devices.json" \
      --ftp-server "exec /usr/bin/python3 $e2e_lib/stall_ftp.py 10.77.0.2" -- /upload /mac=02c0de310002 /firmware=large.bin
    w=$work/stalled/windows l=$work/stalled/linux
    status_is stalled 9
    [ "$(cat "$l/status")" = 9 ] || fail "stalled: Linux exit status $(cat "$l/status"), want 9"
    [ "$(lf "$w/err")" = "FtpPutFile failed with error 12002" ] || fail "stalled: standard error is \"$(lf "$w/err")\""
    # Up to the client's text, which differs (WinInet's own, or none, against libcurl's).
    [ "$(lf "$w/out" | sed '$d')" = "$(sed '$d' "$l/out")" ] || { fail "stalled: standard output differs"; diff <(lf "$w/out") "$l/out"; }
    lf "$w/out" | tail -n 1 | grep -qxE -- "(: [A-Z].*[^ ])?" || fail "stalled: last line \"$(lf "$w/out" | tail -n 1)\""
    cmp -s "$w/cwd/kelvoprog.log" "$l/cwd/kelvoprog.log" || fail "stalled: log files differ"
    elapsed=$(cat "$w/elapsed")
    awk -v t="$elapsed" 'BEGIN { exit !(t >= 60 && t <= 90) }' && echo "stalled: ended after $elapsed s on Windows" ||
      fail "stalled: ran $elapsed s on Windows, want 60 to 90 s"
    ;;
  console)
    # Wine's console (tmux gives Wine a terminal): the 40 s countdown of a
    # single run and a plan's live line are drawn in place on their line and
    # erased at the end, with no escape sequence left on the screen; the
    # screen then holds the lines a Linux run prints. Standard output sent
    # to a file holds what it holds on Linux.
    printf '%s\n' mac,ip 02c0de000102,10.77.0.82 02c0de000101,10.77.0.81 >"$work/two.csv"
    prepare countdown
    prepare live "$work/two.csv"
    set_args=(/set /mac=02c0de254074 /ip=10.77.0.90)
    plan_args=(/set /plan=two.csv /parallel=2)
    for side in windows linux; do
      if [ "$side" = windows ]; then
        side_countdown=(bash "$here/console-side.sh" "$work/countdown/windows" console)
        side_live=(bash "$here/console-side.sh" "$work/live/windows" file)
      else
        side_countdown=(bash "$here/lab-side.sh" linux "$work/countdown/linux" --)
        side_live=(bash "$here/lab-side.sh" linux "$work/live/linux" --)
      fi
      timeout 280 "$lab" -- "${side_countdown[@]}" "${set_args[@]}" >"$work/countdown/$side/lab.out" 2>&1 &
      pids+=($!)
      timeout 280 "$lab" --devices "$here/plan.json" -- "${side_live[@]}" "${plan_args[@]}" \
        >"$work/live/$side/lab.out" 2>&1 &
      pids+=($!)
    done
    started=(countdown live)
    finish
    # screen_lines FILE: the screen's lines without trailing blanks, empty ones left out.
    screen_lines() { sed 's/ *$//' "$1" | grep -v '^$'; }
    status_is countdown 0
    status_is live 0
    [ "$(screen_lines "$work/countdown/windows/screen")" = "$(grep -v '^$' "$work/countdown/linux/out")" ] ||
      { fail "countdown: the last screen is not the Linux output:"; cat "$work/countdown/windows/screen"; }
    grep -qxE 'waiting [0-9]+ s' "$work"/countdown/windows/screens/* ||
      fail "countdown: no screen showed the countdown on a line of its own"
    grep -qxE 'done [0-9]/2, running [0-9], waiting [0-9], 00:[0-9]{2} elapsed' "$work"/live/windows/screens/* ||
      fail "live: no screen showed the live line on a line of its own"
    ! grep -q $'\e\|\[K\|\[2K' "$work"/countdown/windows/screens/* "$work"/live/windows/screens/* ||
      fail "an escape sequence was left on the console"
    [ -z "$(screen_lines "$work/live/windows/screen")" ] ||
      { fail "live: the live line was not erased at the end:"; cat "$work/live/windows/screen"; }
    [ "$(lf "$work/live/windows/out" | sort)" = "$(sort "$work/live/linux/out")" ] ||
      { fail "live: standard output in a file differs from Linux's"; diff <(lf "$work/live/windows/out") "$work/live/linux/out"; }
    ;;
  installer)
    # kelvoprog-VERSION-setup.exe: a silent install under Program Files with
    # bin on the machine's PATH and a registered uninstaller; a fresh cmd
    # finds kelvoprog through the PATH; the installed program's /discover
    # is the Linux build's; a silent uninstall leaves no file, no PATH entry
    # and no registration.
    setup=${KELVO_INSTALLER:-}
    [ -f "$setup" ] || { echo "skipped: no installer at \"$setup\" (build the target installer)"; exit 77; }
    prepare discover
    w=$work/discover/windows
    timeout 280 "$lab" -- bash "$here/installer-side.sh" "$w" "$setup" >"$w/lab.out" 2>&1 &
    pids+=($!)
    timeout 280 "$lab" -- bash "$here/lab-side.sh" linux "$work/discover/linux" -- /discover \
      >"$work/discover/linux/lab.out" 2>&1 &
    pids+=($!)
    started=(discover)
    finish
    [ "$(cat "$w/setup.status")" = 0 ] || fail "installer: the silent install ended with $(cat "$w/setup.status")"
    want_files="./LICENSE
./README.md
./THIRD-PARTY.txt
./bin/kelvoprog.exe
./bin/quex.dll
./include/quex/quex.h
./lib/cmake/quex/quexConfig.cmake
./lib/cmake/quex/quexConfigVersion.cmake
./lib/cmake/quex/quexTargets-relwithdebinfo.cmake
./lib/cmake/quex/quexTargets.cmake
./lib/libquex.dll.a
./lib/pkgconfig/quex.pc
./lib/quex.def
./uninstall.exe"
    [ "$(cat "$w/installed.txt")" = "$want_files" ] ||
      { fail "installer: installed files (< got, > want)"; diff "$w/installed.txt" <(printf '%s\n' "$want_files"); }
    grep -qiF 'C:\Program Files\kelvoprog\bin' "$w/path.txt" || { fail "installer: bin is not on the PATH:"; cat "$w/path.txt"; }
    # The installer's version is the project's, from quex.h.
    version=$(sed -n 's/^#define QUEX_VERSION_\(MAJOR\|MINOR\|PATCH\) \([0-9]*\)$/\2/p' \
      "$KELVO_SOURCE_DIR/quex/include/quex/quex.h" | paste -sd.)
    for value in "DisplayName    REG_SZ    kelvoprog $version" 'UninstallString    REG_SZ    "C:\Program Files\kelvoprog\uninstall.exe"' \
      'QuietUninstallString    REG_SZ    "C:\Program Files\kelvoprog\uninstall.exe" /S'; do
      grep -qF "$value" "$w/key.txt" || { fail "installer: no \"$value\" in the registration:"; cat "$w/key.txt"; }
    done
    [ "$(cat "$w/usage.status")" = 255 ] || fail "installer: kelvoprog /? through the PATH ended with $(cat "$w/usage.status")"
    "$KELVO_HOST_BINARY_DIR/kelvoprog" '/?' >"$work/usage.linux"
    [ "$(lf "$w/usage.out")" = "$(cat "$work/usage.linux")" ] || { fail "installer: the usage differs"; diff <(lf "$w/usage.out") "$work/usage.linux" | head; }
    same discover
    status_is discover 0
    lf "$w/out" | grep -qE '^[1-9][0-9]* devices found\.$' || fail "installer: the installed program found no device"
    [ ! -s "$w/left.txt" ] || { fail "installer: the uninstall left files behind:"; cat "$w/left.txt"; }
    [ "$(cat "$w/key-after.status")" != 0 ] || fail "installer: the registration is still there after the uninstall"
    ! grep -qi 'kelvoprog' "$w/path-after.txt" || { fail "installer: the PATH still names kelvoprog:"; cat "$w/path-after.txt"; }
    grep -qi 'system32' "$w/path-after.txt" || { fail "installer: the PATH lost its other entries:"; cat "$w/path-after.txt"; }
    [ "$(cat "$w/after.status")" != 255 ] || fail "installer: kelvoprog is still found after the uninstall"
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
