#!/usr/bin/env bash
# /ip=dhcp answered with success by a device that changes nothing: after the
# reboot and 40 s DHCP is still off: "Failed to change DHCP mode.", status 11.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file not_changed <<'EOF'
[ { "name": "deaf", "mac": "02:c0:de:00:00:54", "ip": "10.77.0.50", "lease": "10.77.0.122",
    "refuse": { "result": 0, "error": 0, "message": "Success", "requests": ["set_dhcp"] } } ]
EOF
)
args=(/set /mac=02c0de000054 /ip=dhcp)
lab_run not_changed --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:54: SUCCESS"$'\nDevice has been rebooted.\n' \
     E $'ERROR: Failed to change DHCP mode.\n'
expect not_changed 11
expect_count not_changed event=decision,type=5,action=accept 1 "one reboot request, accepted"
expect_reboot_wait not_changed
expect_time not_changed 40 50
log_echo "${args[@]}"
expect_log not_changed "${LOG_ECHO}${LOG_MARKER}02C0DE000054$LOG_ERROR"

e2e_finish
