#!/usr/bin/env bash
# /set by a MAC no device has (the E1 path): one query per magic, each
# timing out after 5 s, the locate text twice on one line, status 4.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file other <<'EOF'
[ { "mac": "02:c0:de:25:40:74", "ip": "10.77.0.50", "magics": ["TELQ", "HAPF"] } ]
EOF
)
args=(/set /mac=02C0DE99AA01 /ip=10.77.0.81)
lab_run unknown_mac --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:99:AA:01: Locate device 02:C0:DE:99:AA:01: FAILED"$'\n' \
     E $'ERROR: Failed to get device information. E1\n'
expect unknown_mac 4
expect_count unknown_mac event=recv,type=1,magic=TELQ 1 "one TELQ query"
expect_count unknown_mac event=recv,type=1,magic=HAPF 1 "one HAPF query"
expect_count unknown_mac event=send 0 "no answer"
expect_time unknown_mac 10 16
gap=$(awk 'NR==1{a=$1} NR==2{print ($1-a)/1000}' < <(jtimes unknown_mac event=recv,type=1))
# The run time above is the strict bound; between the requests, opening the
# second handle's sockets may already count.
in_range "$gap" 4.5 7 && echo "ok   unknown_mac: the HAPF query followed $gap s after the TELQ one" ||
  fail "unknown_mac: the HAPF query followed $gap s after the TELQ one, want 4.5 to 7 s"
log_echo "${args[@]}"
expect_log unknown_mac "${LOG_ECHO}${LOG_MARKER}000000000000$LOG_ERROR"

e2e_finish
