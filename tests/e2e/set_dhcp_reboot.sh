#!/usr/bin/env bash
# /ip=dhcp for a device with DHCP off: the change, "Device has been
# rebooted.", at least 40 s, one query, "DHCP mode has been changed.".
# /wait=ready: the same as soon as DHCP shows after the reboot was seen; a
# device whose reboot no query saw (DHCP shows before the reboot too) at 40 s.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file dhcp <<'EOF'
[ { "name": "meter", "mac": "02:c0:de:00:00:53", "ip": "10.77.0.50", "lease": "10.77.0.121",
    "challenge": "000102030405060708090a0b0c0d" } ]
EOF
)
args=(/set /mac=02c0de000053 /ip=dhcp)
# The two 40 s cases side by side.
lab_run dhcp_on --devices "$devices" -- "${args[@]}" &
lab_run ready_unseen --devices "$devices" -- "${args[@]}" /wait=ready &
wait
want O "${BANNER}Locate device 02:C0:DE:00:00:53: SUCCESS"$'\nDevice has been rebooted.\nDHCP mode has been changed.\n'
expect dhcp_on 0
expect_count dhcp_on event=decision,type=7,action=accept,auth=digest,dhcp_flag=1 1 "DHCP on, accepted"
expect_count dhcp_on event=decision,type=5,action=accept 1 "one reboot request, accepted"
expect_count dhcp_on event=recv,type=3 0 "no static settings"
expect_reboot_wait dhcp_on
expect_time dhcp_on 40 50
log_echo "${args[@]}"
expect_log dhcp_on "${LOG_ECHO}02C0DE000053$LOG_OK"

# Never down long enough to miss a query: every answer shows DHCP on, and
# the first one at 40 s counts.
expect ready_unseen 0
expect_time ready_unseen 40 46
queries=$(awk -v r="$(jtimes ready_unseen event=send,type=6 | tail -1)" '$1 > r' <(jtimes ready_unseen event=recv,type=1) | wc -l)
in_range "$queries" 39 42 && echo "ok   ready_unseen: $queries queries after the reboot, one a second" ||
  fail "ready_unseen: $queries queries after the reboot, want 39 to 42"

ready_devices=$(device_file ready <<'EOF'
[ { "name": "meter", "mac": "02:c0:de:00:00:53", "ip": "10.77.0.50", "lease": "10.77.0.121",
    "challenge": "000102030405060708090a0b0c0d", "reboot_ms": 3000 } ]
EOF
)
ready_run ready "$ready_devices" 02C0DE000053 "${args[@]}"

e2e_finish
