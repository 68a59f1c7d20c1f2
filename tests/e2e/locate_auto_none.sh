#!/usr/bin/env bash
# Automatic location when no device answers either magic: both progress texts
# on the locate line, the two 10 s searches side by side, "Device not found.", status 2
# and a log entry of twelve zeros. When no search can run (no address): E1
# and the reason, status 4, at once.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file none <<'EOF'
[ { "mac": "02:c0:de:25:40:7a", "ip": "10.77.0.54", "magics": ["MORV"] } ]
EOF
)
args=(/set /ip=10.77.0.80)
lab_run auto_none --devices "$devices" -- "${args[@]}"
want O "$BANNER$SEARCHING"'Locate device (auto): '"$SEARCHING"$'Locate device (auto): FAILED\n' \
     E $'ERROR: Device not found.\n'
expect auto_none 2
expect_count auto_none event=recv,type=1,magic=TELQ 1 "one TELQ search"
expect_count auto_none event=recv,type=1,magic=HAPF 1 "one HAPF search"
expect_count auto_none event=recv,type=3 0 "no settings sent"
expect_time auto_none 9.5 30
log_echo "${args[@]}"
expect_log auto_none "${LOG_ECHO}${LOG_MARKER}000000000000$LOG_ERROR"

lab_run no_address --devices "$devices" --setup "ip addr flush dev h0" -- "${args[@]}"
want O "$BANNER$SEARCHING"$'Locate device (auto): FAILED\n' \
     E $'ERROR: Failed to get device information. E1\nERROR: No usable IPv4 interface\n'
expect no_address 4
expect_time no_address 0 3
expect_log no_address "${LOG_ECHO}${LOG_MARKER}000000000000$LOG_ERROR"

e2e_finish
