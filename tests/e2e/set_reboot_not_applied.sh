#!/usr/bin/env bash
# Settings accepted but not in force after the reboot (the device refuses the
# reboot itself): "Device has been rebooted." all the same, the check after
# 40 s finds the old address: "Failed to change IP address.", status 3.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file not_applied <<'EOF'
[ { "name": "stubborn", "mac": "02:c0:de:00:00:52", "ip": "10.77.0.50", "apply": "reboot",
    "refuse": { "result": 3, "error": 9, "message": "Busy", "requests": ["reboot"] } } ]
EOF
)
args=(/set /mac=02c0de000052 /ip=10.77.0.81)
lab_run not_applied --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:52: SUCCESS"$'\nDevice has been rebooted.\n' \
     E $'ERROR: Failed to change IP address.\n'
expect not_applied 3
expect_count not_applied event=decision,type=3,action=accept,settings.ip=10.77.0.81 1 "the settings were accepted"
expect_count not_applied event=decision,type=5,action=refuse 1 "the reboot was refused"
expect_reboot_wait not_applied
expect_time not_applied 40 50
log_echo "${args[@]}"
expect_log not_applied "${LOG_ECHO}${LOG_MARKER}02C0DE000052$LOG_ERROR"

e2e_finish
