#!/usr/bin/env bash
# A static address that shows only after a reboot: "Device has been
# rebooted.", at least 40 s, one query, "IP address has been changed.";
# the same with /wait=ready (as soon as the device is back) and /wait=5.
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

# /wait=ready with the same device back 3 s after its reboot: the same
# output and log, in about 4 s (a query it misses while down holds a second).
ready_devices=$(device_file ready <<'EOF'
[ { "name": "boiler", "mac": "02:c0:de:00:00:51", "ip": "10.77.0.50", "gateway": "10.77.0.1",
    "challenge": "fresh", "apply": "reboot", "reboot_ms": 3000 } ]
EOF
)
ready_run ready "$ready_devices" 02C0DE000051 "${args[@]}"

# On a terminal (script gives the tool one): the seconds waited and the
# limit on standard error, each drawn over the one before, erased before the result.
if command -v script >/dev/null; then
  mkdir -p "$E2E_WORK/tty"
  (cd "$E2E_WORK/tty" && timeout 60 "$E2E_SRC/scripts/lab" --devices "$ready_devices" -- \
    script -qefc "$(printf '%q ' "$KELVOPROG" "${args[@]}" /wait=ready)" typescript >/dev/null 2>&1)
  status=$?
  screen=$(tr -d '\r' <"$E2E_WORK/tty/typescript")
  if [ "$status" = 0 ] && [[ $screen == *$'rebooted.\n\e[KWaiting for the device: 0 s of 120 s\e[KWaiting for the device: 1 s of 120 s'* ]] &&
     [[ $screen == *$' s of 120 s\e[KIP address has been changed.\n'* ]]; then
    echo "ok   ready: the wait shown on a terminal and erased"
  else
    fail "ready: on a terminal (status $status): $(cat -v "$E2E_WORK/tty/typescript")"
  fi
else
  echo "skipped ready on a terminal: no script (util-linux)"
fi

# /wait=5: a fixed wait of 5 s, then the one query.
lab_run five --devices "$devices" -- "${args[@]}" /wait=5
expect five 0
expect_reboot_wait five 5
expect_time five 5 10

e2e_finish
