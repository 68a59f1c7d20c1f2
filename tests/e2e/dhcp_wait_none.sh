#!/usr/bin/env bash
# A device with address 0.0.0.0 and DHCP on whose lease does not come within
# the ten queries of the wait: the two-line no-address error, status 3.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

# The lease would show to an eleventh query of the wait: there must be none.
devices=$(device_file late <<'EOF'
[ { "name": "sensor", "mac": "02:c0:de:00:00:42", "ip": "0.0.0.0", "dhcp": true,
    "lease": "10.77.0.120", "lease_after_queries": 11 } ]
EOF
)
args=(/set /mac=02c0de000042 /subnet=255.255.255.0)
lab_run no_lease --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:42: FAILED"$'\n' \
     E $'ERROR: Device does not have an IP address.  Assign network settings\nthrough the serial port or configure a DHCP server on your network.\n'
expect no_lease 3
expect_count no_lease event=decision,type=1,device=sensor 11 "the location query and exactly ten more"
expect_count no_lease event=recv,type=3 0 "no settings sent"
expect_count no_lease event=recv,type=7 0 "no DHCP request"
expect_time no_lease 10 20
log_echo "${args[@]}"
expect_log no_lease "${LOG_ECHO}${LOG_MARKER}02C0DE000042$LOG_ERROR"

e2e_finish
