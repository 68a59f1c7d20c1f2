#!/usr/bin/env bash
# A plan of six devices of every kind at /parallel=3: one line and one log
# entry per device as it finishes, the summary, the status of the first
# failed row in file order, and the waits overlapping. Each fault of a plan
# file refused before anything is sent or logged. Ctrl-C in the middle.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file plan <<'EOF2'
{
  "defaults": { "gateway": "10.77.0.1" },
  "devices": [
    { "name": "fast", "mac": "02:c0:de:00:01:01", "ip": "10.77.0.51" },
    { "name": "boiler", "mac": "02:c0:de:00:01:02", "ip": "10.77.0.52", "challenge": "fresh", "apply": "reboot" },
    { "name": "sensor", "mac": "02:c0:de:00:01:03", "ip": "10.77.0.53", "lease": "10.77.0.123" },
    { "name": "locked", "mac": "02:c0:de:00:01:04", "ip": "10.77.0.54",
      "refuse": { "result": 3, "error": 7, "message": "Locked" } },
    { "name": "guarded", "mac": "02:c0:de:00:01:05", "ip": "10.77.0.55", "password": "Other" },
    { "name": "slow", "mac": "02:c0:de:00:01:06", "ip": "10.77.0.56", "delay_ms": 3000 },
    { "name": "hostile", "mac": "02:c0:de:00:01:07", "ip": "10.77.0.57",
      "refuse": { "result": 3, "error": 7, "message": "Locked\nOK forged\u001b[2J\u001b]0;owned\u0007" } }
  ]
}
EOF2
)
# As a spreadsheet saves it: byte-order mark, CRLF, a comment, an empty line.
{
  printf '\xEF\xBB\xBF'
  printf '%s\r\n' 'MAC, IP ,subnet,gateway' '# the north hall' '' \
    '02c0de000101,10.77.0.81,255.255.0.0,' \
    '02c0de000109,10.77.0.89,,' \
    '02:C0:DE:00:01:02,10.77.0.82,,10.77.0.254' \
    '02c0de000103,dhcp,,' \
    '02c0de000104,10.77.0.84,,' \
    '"02c0de000105",10.77.0.85,,'
} >"$E2E_WORK/plan.csv"

# device_lines FILE: the lines between the banner and the summary, sorted
# (devices finish in an order of their own).
device_lines() { tail -n +6 "$1" | head -n -1 | sort; }

args=(/set /plan=plan.csv /parallel=3)
lab_run mixed --devices "$devices" --cwd-file "$E2E_WORK/plan.csv" plan.csv -- "${args[@]}"
want_lines=$(sort <<'EOF2'
02:C0:DE:00:01:01  10.77.0.81  OK  IP address has been changed.
02:C0:DE:00:01:09  -  ERROR  Failed to get device information. E1
02:C0:DE:00:01:02  10.77.0.82  OK  IP address has been changed.
02:C0:DE:00:01:03  10.77.0.123  OK  DHCP mode has been changed.
02:C0:DE:00:01:04  10.77.0.54  ERROR  Failed to assign IP address to device: Locked ip: 10.77.0.84  subnet: 255.255.255.0  gateway: 10.77.0.1
02:C0:DE:00:01:05  10.77.0.55  ERROR  Failed to assign IP address to device: Authentication failed ip: 10.77.0.85  subnet: 255.255.255.0  gateway: 10.77.0.1
EOF2
)
for mode in split both; do
  out=$E2E_WORK/mixed/$mode/out
  [ "$mode" = split ] || out=$E2E_WORK/mixed/both/both
  status=$(cat "$E2E_WORK/mixed/$mode/status")
  # The first failed row in file order is the absent device (4), not the
  # refusal (3) that finishes before it.
  [ "$status" = 4 ] && echo "ok   mixed: status 4 ($mode run)" || fail "mixed: status $status, want 4 ($mode run)"
  cmp -s <(printf '%s' "$BANNER") <(head -c ${#BANNER} "$out") || fail "mixed: no banner first ($mode run)"
  [ "$(device_lines "$out")" = "$want_lines" ] && echo "ok   mixed: one line per device ($mode run)" ||
    fail "mixed: device lines ($mode run):"$'\n'"$(device_lines "$out")"
  [ "$(tail -1 "$out")" = "6 devices done, 3 failed." ] || fail "mixed: summary ($mode run): $(tail -1 "$out")"
done
[ -s "$E2E_WORK/mixed/split/err" ] && fail "mixed: standard error not empty: $(cat "$E2E_WORK/mixed/split/err")"
# The log: the echo and header once, then each device's entry as a single
# run writes it (a failure: the marker, then MAC and ERROR).
log_echo "${args[@]}"
log=$E2E_WORK/mixed/split/cwd/kelvoprog.log
cmp -s <(printf '%s' "$LOG_ECHO") <(head -c ${#LOG_ECHO} "$log") || fail "mixed: log echo and header"
entries=$(tail -c +$((${#LOG_ECHO} + 1)) "$log" | sed 's/^ERROR CONFIGURING DEVICE //' | grep . | sort | tr '\t\n' '  ')
[ "$entries" = "02C0DE000101 OK 02C0DE000102 OK 02C0DE000103 OK 02C0DE000104 ERROR 02C0DE000105 ERROR 02C0DE000109 ERROR " ] &&
  echo "ok   mixed: one log entry per device" || fail "mixed: log entries: $entries"
markers=$("$E2E_PY" -c 'import sys; print(open(sys.argv[1]).read().count(sys.argv[2]))' "$log" "$LOG_MARKER")
[ "$markers" = 3 ] || fail "mixed: $markers failure markers in the log, want 3"
expect_count mixed event=decision,type=5,action=accept 2 "two reboots (the boiler and the DHCP sensor)"
# Two 40 s waits and a 10 s search overlap: one wait and a little, not the
# sequential 95 s and more.
expect_time mixed 40 70

# /wait=ready for every row: a static change and a DHCP change, both back 3 s
# after their reboot, each done as soon as it is back (a missed query holds
# a second), side by side.
ready_devices=$(device_file plan_ready <<'EOF2'
{
  "defaults": { "gateway": "10.77.0.1", "reboot_ms": 3000 },
  "devices": [
    { "name": "boiler", "mac": "02:c0:de:00:01:02", "ip": "10.77.0.52", "challenge": "fresh", "apply": "reboot" },
    { "name": "sensor", "mac": "02:c0:de:00:01:03", "ip": "10.77.0.53", "lease": "10.77.0.123" }
  ]
}
EOF2
)
printf '%s\n' mac,ip 02c0de000102,10.77.0.82 02c0de000103,dhcp >"$E2E_WORK/ready.csv"
lab_run ready --devices "$ready_devices" --cwd-file "$E2E_WORK/ready.csv" plan.csv -- /set /plan=plan.csv /wait=ready
got=$(device_lines "$E2E_WORK/ready/split/out")
[ "$got" = $'02:C0:DE:00:01:02  10.77.0.82  OK  IP address has been changed.\n02:C0:DE:00:01:03  10.77.0.123  OK  DHCP mode has been changed.' ] &&
  echo "ok   ready: both devices" || fail "ready: device lines: $got"
[ "$(tail -1 "$E2E_WORK/ready/split/out")" = "2 devices done, 0 failed." ] || fail "ready: summary: $(tail -1 "$E2E_WORK/ready/split/out")"
[ "$(cat "$E2E_WORK/ready/split/status")" = 0 ] || fail "ready: status $(cat "$E2E_WORK/ready/split/status"), want 0"
# Down 3 s, queried once a second: two to four queries of each missed (one
# when a missed query held 5 s).
for mode in split both; do
  for name in boiler sensor; do
    missed=$(jcount ready "event=decision,type=1,action=ignore,reason=rebooting,device=$name" "$mode")
    in_range "$missed" 2 4 && echo "ok   ready: $name missed $missed queries while it rebooted ($mode run)" ||
      fail "ready: $name missed $missed queries while it rebooted, want 2 to 4 ($mode run)"
  done
done
expect_time ready 3 8

# The spreadsheet round trip: /discover /format=csv, the addresses edited,
# fed back as the plan. The boiler and the sensor answer both magics and
# stand twice (one device each); the DHCP sensor's row says dhcp true, so it
# is asked for nothing and keeps its lease; the others get the edited
# addresses. Lines, log and status are a single run's.
trip=$(device_file plan_trip <<'EOF2'
{
  "defaults": { "gateway": "10.77.0.1", "reboot_ms": 3000 },
  "devices": [
    { "name": "boiler", "mac": "02:c0:de:00:02:01", "ip": "10.77.0.61", "magics": ["TELQ", "HAPF"],
      "challenge": "fresh", "lease": "10.77.0.124" },
    { "name": "sensor", "mac": "02:c0:de:00:02:02", "ip": "10.77.0.123", "dhcp": true, "lease": "10.77.0.123",
      "magics": ["TELQ", "HAPF"] },
    { "name": "pump", "mac": "02:c0:de:00:02:03", "ip": "10.77.0.63", "magics": ["HAPF"], "model": "KV-110, Pump" }
  ]
}
EOF2
)
lab_run trip_discover --devices "$trip" -- /discover /format=csv
[ "$(grep -c 02:C0:DE:00:02:0 "$E2E_WORK/trip_discover/split/out")" = 5 ] ||
  fail "trip: the discovery file:"$'\n'"$(cat "$E2E_WORK/trip_discover/split/out")"
sed 's/^10\.77\.0\.6/10.77.0.9/' "$E2E_WORK/trip_discover/split/out" >"$E2E_WORK/site.csv"
args=(/set /plan=site.csv /wait=ready)
lab_run trip --devices "$trip" --cwd-file "$E2E_WORK/site.csv" site.csv -- "${args[@]}"
got=$(device_lines "$E2E_WORK/trip/split/out")
[ "$got" = $'02:C0:DE:00:02:01  10.77.0.91  OK  IP address has been changed.\n02:C0:DE:00:02:02  10.77.0.123  OK  \n02:C0:DE:00:02:03  10.77.0.93  OK  IP address has been changed.' ] &&
  echo "ok   trip: one line per device" || fail "trip: device lines: $got"
[ "$(tail -1 "$E2E_WORK/trip/split/out")" = "3 devices done, 0 failed." ] || fail "trip: summary: $(tail -1 "$E2E_WORK/trip/split/out")"
[ "$(cat "$E2E_WORK/trip/split/status")" = 0 ] || fail "trip: status $(cat "$E2E_WORK/trip/split/status"), want 0"
log_echo "${args[@]}"
log=$E2E_WORK/trip/split/cwd/kelvoprog.log
entries=$(tail -c +$((${#LOG_ECHO} + 1)) "$log" | sort | tr '\t\n' '  ')
cmp -s <(printf '%s' "$LOG_ECHO") <(head -c ${#LOG_ECHO} "$log") && [ "$entries" = "02C0DE000201 OK 02C0DE000202 OK 02C0DE000203 OK " ] &&
  echo "ok   trip: the log" || fail "trip: log: $(cat "$log")"
expect_count trip event=decision,type=3,action=accept 2 "the two static devices got their addresses"
expect_count trip event=decision,type=7 0 "no device asked for a change of mode"

# The dhcp column over the address beside it, and the magic column: the
# static boiler is asked for DHCP, the DHCP sensor for a static address, and
# neither is looked for with TELQ.
printf '%s\n' ip,mac,dhcp,magic 10.77.0.61,02c0de000201,true,HAPF 10.77.0.92,02c0de000202,false,HAPF >"$E2E_WORK/columns.csv"
lab_run columns --devices "$trip" --cwd-file "$E2E_WORK/columns.csv" plan.csv -- /set /plan=plan.csv /wait=ready
got=$(device_lines "$E2E_WORK/columns/split/out")
[ "$got" = $'02:C0:DE:00:02:01  10.77.0.124  OK  DHCP mode has been changed.\n02:C0:DE:00:02:02  10.77.0.92  OK  IP address has been changed.' ] &&
  echo "ok   columns: dhcp honoured" || fail "columns: device lines: $got"
[ "$(cat "$E2E_WORK/columns/split/status")" = 0 ] || fail "columns: status $(cat "$E2E_WORK/columns/split/status"), want 0"
expect_count columns event=recv,magic=TELQ 0 "located with HAPF only"

# /format=json: one object per device (with its plan line), then the
# summary; everything else on standard error.
printf '%s\n' mac,ip 02c0de000101,10.77.0.81 02c0de000104,10.77.0.84 >"$E2E_WORK/json.csv"
lab_run json --devices "$devices" --cwd-file "$E2E_WORK/json.csv" plan.csv -- /set /plan=plan.csv /parallel=1 /format=json
want E "$BANNER" O '{"format":"kelvoprog-result/1","command":"set","mac":"02:C0:DE:00:01:01","ip":"10.77.0.81","status":0,"ok":true,"message":"IP address has been changed.","line":2}
{"format":"kelvoprog-result/1","command":"set","mac":"02:C0:DE:00:01:04","ip":"10.77.0.54","status":3,"ok":false,"message":"Failed to assign IP address to device: Locked ip: 10.77.0.84  subnet: 255.255.255.0  gateway: 10.77.0.1","line":3}
' E $'2 devices done, 1 failed.\n' O $'{"format":"kelvoprog-plan/1","devices":2,"failed":1,"not_started":0,"interrupted":false,"status":3}\n'
expect json 3

# A device's refusal that would forge a line, clear the screen and retitle
# the window: its line shows "?" for each control character, as a single run does.
printf '%s\n' mac,ip 02c0de000107,10.77.0.87 >"$E2E_WORK/hostile.csv"
lab_run hostile --devices "$devices" --cwd-file "$E2E_WORK/hostile.csv" plan.csv -- /set /plan=plan.csv
want O "$BANNER"'02:C0:DE:00:01:07  10.77.0.57  ERROR  Failed to assign IP address to device: Locked?OK forged?[2J?]0;owned? ip: 10.77.0.87  subnet: 255.255.255.0  gateway: 10.77.0.1
1 devices done, 1 failed.
'
expect hostile 3

# /upload: the one firmware to every row's host (the lab's FTP server), two at once.
if /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null; then
  head -c 20000 /dev/urandom >"$E2E_WORK/fw.bin"
  # As /discover writes it: ip is the FTP host, subnet, gateway and dhcp unused.
  printf '%s\n' ip,mac,model,subnet,gateway,dhcp,magic 10.77.0.2,02:C0:DE:00:01:01,Fast,255.255.255.0,,true,TELQ \
    10.77.0.2,02:C0:DE:00:01:04,Locked,255.255.255.0,,false,TELQ >"$E2E_WORK/upload.csv"
  lab_run upload --devices "$devices" --ftp --cwd-file "$E2E_WORK/upload.csv" plan.csv \
    --cwd-file "$E2E_WORK/fw.bin" fw.bin -- /upload /plan=plan.csv /firmware=fw.bin /parallel=2
  got=$(device_lines "$E2E_WORK/upload/split/out")
  [ "$got" = $'02:C0:DE:00:01:01  10.77.0.2  OK  SUCCESS: Firmware image uploaded to device.\n02:C0:DE:00:01:04  10.77.0.2  OK  SUCCESS: Firmware image uploaded to device.' ] &&
    echo "ok   upload: both devices" || fail "upload: device lines: $got"
  [ "$(cat "$E2E_WORK/upload/split/status")" = 0 ] || fail "upload: status $(cat "$E2E_WORK/upload/split/status"), want 0"
  cmp -s "$E2E_WORK/fw.bin" "$E2E_WORK/upload/split/ftp/fw.bin" || fail "upload: the firmware did not arrive whole"
else
  echo "skipped upload: no python3-pyftpdlib"
fi

# Each fault of a plan file: one line, status -1, nothing sent, no log.
reject() {
  local name=$1 text=$2 content=$3
  printf '%s' "$content" >"$E2E_WORK/$name.csv"
  lab_run "$name" --devices "$devices" --cwd-file "$E2E_WORK/$name.csv" plan.csv -- /set /plan=plan.csv
  want E "ERROR: $text"$'\n'
  expect "$name" 255
  expect_count "$name" event=recv 0 "nothing sent"
  [ -e "$E2E_WORK/$name/split/cwd/kelvoprog.log" ] && fail "$name: a log was written"
}
# /discover's columns are known, any other is not.
reject unknown_column 'plan.csv:1: Unknown column "vlan".' $'mac,ip,model,vlan\n02c0de000101,10.77.0.81,KV,3\n'
reject no_mac_column 'plan.csv:2: No "mac" column.' $'# addresses only\nip\n10.77.0.81\n'
reject bad_value 'plan.csv:3: The /subnet value is not a valid subnet mask.' \
  $'mac,ip,subnet\n02c0de000101,10.77.0.81,\n02c0de000102,10.77.0.82,255.255.255.x\n'
reject mac_twice 'plan.csv:4: MAC 02:C0:DE:00:01:01 is planned twice (line 2).' \
  $'mac,ip\n02c0de000101,10.77.0.81\n02c0de000102,dhcp\n02:c0:de:00:01:01,10.77.0.83\n'
reject mac_twice_magics 'plan.csv:3: MAC 02:C0:DE:00:01:01 is planned twice (line 2).' \
  $'ip,mac,magic\n10.77.0.81,02c0de000101,TELQ\n10.77.0.82,02c0de000101,HAPF\n'
reject dhcp_contradiction 'plan.csv:2: The ip value "dhcp" and the dhcp value "false" contradict each other.' \
  $'mac,ip,dhcp\n02c0de000101,dhcp,false\n'
reject address_twice 'plan.csv:3: Address 10.77.0.81 is planned twice (line 2).' \
  $'mac,ip\n02c0de000101,10.77.0.81\n02c0de000102,10.77.0.81\n'
# Files that are no plan: refused at once, before anything is sent. A FIFO
# without a writer and /dev/zero would block or never end; past 64 MiB no
# plan of 65,536 rows is that long, a discovery file's included. An upload plan's firmware is checked too.
mkfifo "$E2E_WORK/fifo.csv"
truncate -s $((64 * 1024 * 1024 + 1)) "$E2E_WORK/huge.csv"
printf '%s\n' mac,ip 02c0de000101,10.77.0.2 >"$E2E_WORK/unread.csv"
unread() {
  local name=$1 text=$2
  shift 2
  lab_run "$name" --devices "$devices" --cwd-file "$E2E_WORK/unread.csv" upload.csv -- "$@"
  want E "ERROR: $text"$'\n'
  expect "$name" 255
  expect_time "$name" 0 5
  expect_count "$name" event=recv 0 "nothing sent"
}
unread unreadable 'missing.csv: cannot be read: No such file or directory' /set /plan=missing.csv
unread fifo "$E2E_WORK/fifo.csv: cannot be read: Not a regular file" /set "/plan=$E2E_WORK/fifo.csv"
unread device '/dev/zero: cannot be read: Not a regular file' /set /plan=/dev/zero
unread huge "$E2E_WORK/huge.csv: cannot be read: Larger than 64 MiB (67108864 bytes), the most a plan may hold" \
  /set "/plan=$E2E_WORK/huge.csv"
unread firmware 'fw.bin: cannot be read: No such file or directory' /upload /plan=upload.csv /firmware=fw.bin
unread firmware_fifo "$E2E_WORK/fifo.csv: cannot be read: Not a regular file" \
  /upload /plan=upload.csv "/firmware=$E2E_WORK/fifo.csv"

# Ctrl-C when the boiler's reboot is accepted: the boiler, past its
# settings, finishes its wait and check; the slow device, still being
# located, stops before its settings; the last two are never started.
printf '%s\n' mac,ip 02c0de000102,10.77.0.82 02c0de000106,10.77.0.86 02c0de000101,10.77.0.81 \
  02c0de000104,10.77.0.84 >"$E2E_WORK/stop.csv"
args=(/set /plan=plan.csv /parallel=2)
lab_run interrupt --devices "$devices" --cwd-file "$E2E_WORK/stop.csv" plan.csv \
  --trigger event=decision,type=5,action=accept 1 'kill -INT "$E2E_TOOL_PID"' -- "${args[@]}"
want O "$BANNER"$'02:C0:DE:00:01:06  10.77.0.56  ERROR  Interrupted before it was done.\n02:C0:DE:00:01:02  10.77.0.82  OK  IP address has been changed.\nInterrupted: 2 devices not started.\n2 devices done, 1 failed.\n'
expect interrupt 130
log_echo "${args[@]}"
expect_log interrupt "${LOG_ECHO}${LOG_MARKER}02C0DE000106${LOG_ERROR}02C0DE000102${LOG_OK}${LOG_MARKER}02C0DE000101${LOG_ERROR}${LOG_MARKER}02C0DE000104${LOG_ERROR}"
expect_count interrupt event=decision,type=3 1 "one settings request (the boiler's)"

e2e_finish
