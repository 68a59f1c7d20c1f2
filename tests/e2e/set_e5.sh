#!/usr/bin/env bash
# The device does not answer the check after the reboot (it is still
# restarting at 40 s): "Failed to get device information. E5", status 3.
# With /wait=ready the same device, back after 50 s, is waited for.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file e5 <<'EOF'
[ { "name": "sleepy", "mac": "02:c0:de:00:00:55", "ip": "10.77.0.50", "apply": "reboot",
    "reboot_ms": 50000 } ]
EOF
)
args=(/set /mac=02c0de000055 /ip=10.77.0.82)
lab_run e5 --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:55: SUCCESS"$'\nDevice has been rebooted.\n' \
     E $'ERROR: Failed to get device information. E5\n'
expect e5 3
expect_count e5 event=decision,type=5,action=accept 1 "one reboot request, accepted"
expect_reboot_wait e5
# 40 s wait, then the check's 5 s time-out.
expect_time e5 45 55
log_echo "${args[@]}"
expect_log e5 "${LOG_ECHO}${LOG_MARKER}02C0DE000055$LOG_ERROR"

lab_run ready --devices "$devices" -- "${args[@]}" /wait=ready
want O "${BANNER}Locate device 02:C0:DE:00:00:55: SUCCESS"$'\nDevice has been rebooted.\nIP address has been changed.\n'
expect ready 0
expect_ready_wait ready 50
expect_time ready 50 57
log_echo "${args[@]}" /wait=ready
expect_log ready "${LOG_ECHO}02C0DE000055$LOG_OK"

e2e_finish
