#!/usr/bin/env bash
# Query failures after location: E3 (the device drops off the network during
# the wait for its DHCP address) and E4 (it drops off right after accepting
# the settings). The lab takes the device side's link down at that moment.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

LINK_DOWN='ip netns exec kdev ip link set d0 down'

devices=$(device_file e3 <<'EOF'
[ { "name": "sensor", "mac": "02:c0:de:00:00:43", "ip": "0.0.0.0", "dhcp": true,
    "lease": "10.77.0.120", "lease_after_queries": 20 } ]
EOF
)
# Gone after the location query and two wait queries: two 1 s sleeps, then
# the third wait query times out (5 s).
args=(/set /mac=02c0de000043 /subnet=255.255.255.0)
lab_run e3 --devices "$devices" --trigger event=decision,type=1,device=sensor 3 "$LINK_DOWN" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:43: FAILED"$'\n' E $'ERROR: Failed to get device information. E3\n'
expect e3 4
expect_count e3 event=decision,type=1,device=sensor 3 "three queries answered"
expect_time e3 7 15
log_echo "${args[@]}"
expect_log e3 "${LOG_ECHO}${LOG_MARKER}02C0DE000043$LOG_ERROR"

# Every reply leaves a second late, so the link is down before the answer
# to the query after the settings can leave.
devices=$(device_file e4 <<'EOF'
[ { "name": "slow", "mac": "02:c0:de:00:00:44", "ip": "10.77.0.50", "delay_ms": 1000,
    "apply": "immediate" } ]
EOF
)
args=(/set /mac=02c0de000044 /ip=10.77.0.91)
lab_run e4 --devices "$devices" --trigger event=send,type=4 1 "$LINK_DOWN" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:44: SUCCESS"$'\n' E $'ERROR: Failed to get device information. E4\n'
expect e4 3
expect_count e4 event=decision,type=3,action=accept,settings.ip=10.77.0.91 1 "the settings were accepted"
expect_count e4 event=recv,type=5 0 "no reboot request"
expect_time e4 8 20
log_echo "${args[@]}"
expect_log e4 "${LOG_ECHO}${LOG_MARKER}02C0DE000044$LOG_ERROR"

e2e_finish
