#!/usr/bin/env bash
# A static address that shows only after a reboot: "Device has been
# rebooted.", at least 40 s, one query, "IP address has been changed.".
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file reboot <<'EOF'
[ { "name": "boiler", "mac": "02:c0:de:00:00:51", "ip": "10.77.0.50", "gateway": "10.77.0.1",
    "challenge": "fresh", "apply": "reboot" } ]
EOF
)
args=(/set /mac=02c0de000051 /ip=10.77.0.80 /subnet=255.255.255.0 /gateway=10.77.0.254)
lab_run reboot --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:51: SUCCESS"$'\nDevice has been rebooted.\nIP address has been changed.\n'
expect reboot 0
expect_count reboot event=decision,type=3,action=accept,auth=digest,settings.ip=10.77.0.80,settings.gateway=10.77.0.254 1 "the settings were accepted"
expect_count reboot event=decision,type=5,action=accept,auth=digest 1 "one reboot request, accepted"
expect_reboot_wait reboot
expect_time reboot 40 50
log_echo "${args[@]}"
expect_log reboot "${LOG_ECHO}02C0DE000051$LOG_OK"

e2e_finish
