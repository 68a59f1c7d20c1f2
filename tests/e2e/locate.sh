#!/usr/bin/env bash
# Location of the target device: by MAC on the first magic (no handle, so no
# datagram, for the second), by MAC on the second magic after the first's
# query timed out, automatic on the first magic (the second magic's search
# beside it, stopped), automatic on the second magic (its search ran beside
# the first one, which nobody answered), /vendorid with a MAC, and /interface
# on a laptop with two networks.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file locate <<'EOF'
{
  "defaults": { "apply": "immediate", "gateway": "10.77.0.1" },
  "devices": [
    { "name": "first", "mac": "02:c0:de:00:00:31", "ip": "10.77.0.50", "magics": ["TELQ", "HAPF"] },
    { "name": "second", "mac": "02:c0:de:00:00:32", "ip": "10.77.0.51", "magics": ["HAPF"] }
  ]
}
EOF
)
hapf_only=$(device_file hapf_only <<'EOF'
[ { "name": "second", "mac": "02:c0:de:00:00:32", "ip": "10.77.0.51", "magics": ["HAPF"],
    "gateway": "10.77.0.1" } ]
EOF
)
CHANGED=$'IP address has been changed.\n'

# By MAC, answered on TELQ: HAPF is never used.
args=(/set /mac=02c0de000031 /ip=10.77.0.70)
lab_run by_mac_first --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:31: SUCCESS"$'\n'"$CHANGED"
expect by_mac_first 0
expect_count by_mac_first event=recv,magic=HAPF 0 "no datagram with the second magic"
expect_count by_mac_first event=decision,type=3,action=accept,device=first,settings.ip=10.77.0.70 1 "the settings went to it"
expect_time by_mac_first 0 4
log_echo "${args[@]}"
expect_log by_mac_first "${LOG_ECHO}02C0DE000031$LOG_OK"

# By MAC, answered on HAPF only: the TELQ query times out (5 s), the locate
# text is printed again on the same line, and HAPF carries the request.
lab_run by_mac_second --devices "$devices" -- /set /mac=02c0de000032 /ip=10.77.0.71
want O "${BANNER}Locate device 02:C0:DE:00:00:32: Locate device 02:C0:DE:00:00:32: SUCCESS"$'\n'"$CHANGED"
expect by_mac_second 0
expect_count by_mac_second event=recv,type=1,magic=TELQ 1 "one TELQ query"
expect_count by_mac_second event=decision,type=3,action=accept,device=second,settings.ip=10.77.0.71 1 "the settings went to it"
expect_count by_mac_second event=recv,type=3,magic=HAPF 1 "... with the second magic"
expect_time by_mac_second 5 12

# Automatic, found on TELQ: the first device recorded; the HAPF search that
# ran beside it sent its one request and nothing else.
lab_run auto_first --devices "$devices" -- /set /ip=10.77.0.72
want O "$BANNER$SEARCHING"$'Locate device (auto): SUCCESS\n'"$CHANGED"
expect auto_first 0
expect_count auto_first event=recv,magic=HAPF 1 "one datagram with the second magic, its search request"
expect_count auto_first event=decision,type=3,action=accept,device=first,settings.ip=10.77.0.72 1 "the first device got the settings"
expect_time auto_first 3 10

# Automatic, only HAPF answers: TELQ's search runs its full 10 s, HAPF's beside it.
args=(/set /ip=10.77.0.73)
lab_run auto_second --devices "$hapf_only" -- "${args[@]}"
want O "$BANNER$SEARCHING"'Locate device (auto): '"$SEARCHING"$'Locate device (auto): SUCCESS\n'"$CHANGED"
expect auto_second 0
expect_count auto_second event=decision,type=3,action=accept,device=second,settings.ip=10.77.0.73 1 "the HAPF device got the settings"
expect_time auto_second 9.5 25
log_echo "${args[@]}"
expect_log auto_second "${LOG_ECHO}02C0DE000032$LOG_OK"

# /vendorid with a MAC: that magic alone.
lab_run vendorid_mac --devices "$devices" -- /set /mac=02c0de000031 /ip=10.77.0.74 /vendorid=0x48415046
want O "${BANNER}Locate device 02:C0:DE:00:00:31: SUCCESS"$'\n'"$CHANGED"
expect vendorid_mac 0
expect_count vendorid_mac event=recv,magic=TELQ 0 "no datagram with TELQ"

# A laptop on two networks: the office device answers first, the plant's
# later. /interface=h1 locates and configures the plant device, and nothing
# at all goes out to the office network.
twonets=$(device_file twonets <<'EOF'
{
  "defaults": { "apply": "immediate" },
  "devices": [
    { "name": "office", "mac": "02:c0:de:00:77:01", "ip": "10.77.0.50", "interfaces": ["10.77.0.2"] },
    { "name": "plant", "mac": "02:c0:de:00:78:01", "ip": "10.78.0.50", "interfaces": ["10.78.0.2"],
      "delay_ms": 300 }
  ]
}
EOF
)
lab_run interface_auto --ifaces 2 --devices "$twonets" -- /set /mac=auto /ip=10.78.0.90 /interface=h1
want O "$BANNER$SEARCHING"$'Locate device (auto): SUCCESS\n'"$CHANGED"
expect interface_auto 0
expect_count interface_auto event=decision,type=3,action=accept,device=plant,settings.ip=10.78.0.90 1 "the plant device got the settings"
expect_count interface_auto local=10.77.0.2 0 "nothing reached the office network"
expect_count interface_auto event=recv,type=3,local=10.78.0.2 1 "the request went out of h1"

e2e_finish
