#!/usr/bin/env bash
# /discover with one device, three devices over both magics, devices on the
# second magic only, /vendorid, and a device on a second network: the whole
# table and count line, the searches on the wire, and the log (echo and
# header only).
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

one=$(device_file one <<'EOF'
[ { "mac": "02:c0:de:25:40:74", "ip": "10.77.0.50", "model": "KV-200 Boiler Controller" } ]
EOF
)
# Three devices: two answer TELQ (one with an 11-character address and an
# empty model), one answers HAPF only.
three=$(device_file three <<'EOF'
{
  "defaults": { "magics": ["TELQ"] },
  "devices": [
    { "mac": "02:c0:de:25:40:74", "ip": "10.77.0.50", "model": "KV-200 Boiler Controller" },
    { "mac": "0a:1b:2c:3d:4e:5f", "ip": "10.77.0.120", "model": "" },
    { "mac": "02:c0:de:25:40:75", "ip": "10.77.0.51", "model": "KV-110 Pump Station", "magics": ["HAPF"] }
  ]
}
EOF
)
second=$(device_file second <<'EOF'
{
  "defaults": { "magics": ["HAPF"] },
  "devices": [
    { "mac": "02:c0:de:25:40:75", "ip": "10.77.0.51", "model": "KV-110 Pump Station" },
    { "mac": "02:c0:de:25:40:79", "ip": "10.77.0.53", "model": "KV-120 Pump Station" }
  ]
}
EOF
)
vendor=$(device_file vendor <<'EOF'
[
  { "mac": "02:c0:de:25:40:74", "ip": "10.77.0.50", "model": "TELQ only" },
  { "mac": "02:c0:de:25:40:7a", "ip": "10.77.0.54", "model": "MORV device", "magics": ["MORV"] }
]
EOF
)
# Both networks: the device on 10.78.0.x answers 300 ms late, one device
# answers both magics and is listed (and counted) twice.
twonets=$(device_file twonets <<'EOF'
[
  { "mac": "02:c0:de:25:40:74", "ip": "10.77.0.50", "model": "Near" },
  { "mac": "02:c0:de:25:40:78", "ip": "10.78.0.60", "model": "Far", "interfaces": ["10.78.0.2"], "delay_ms": 300 },
  { "mac": "02:c0:de:25:40:76", "ip": "10.77.0.55", "model": "Both", "magics": ["TELQ", "HAPF"] }
]
EOF
)

lab_run one --devices "$one" -- /discover
want O "$BANNER$SEARCHING$HEADER$RULE"'      10.77.0.50 | 02:C0:DE:25:40:74 | KV-200 Boiler Controller'$'\n'"$RULE"$'1 device found.\n'
expect one 0
expect_count one event=recv,type=1,magic=TELQ 1 "one TELQ search request"
expect_count one event=recv,type=1,magic=HAPF 1 "one HAPF search request"
# 3 s quiet time after the answer, then 10 s of a search nobody answers.
expect_time one 13 25
log_echo /discover
expect_log one "$LOG_ECHO"

lab_run three --devices "$three" -- /discover
want O "$BANNER$SEARCHING$HEADER$RULE"\
'      10.77.0.50 | 02:C0:DE:25:40:74 | KV-200 Boiler Controller'$'\n'\
'     10.77.0.120 | 0A:1B:2C:3D:4E:5F | '$'\n'\
'      10.77.0.51 | 02:C0:DE:25:40:75 | KV-110 Pump Station'$'\n'"$RULE"$'3 devices found.\n'
expect three 0
expect_time three 6 15

lab_run second_only --devices "$second" -- /discover
want O "$BANNER$SEARCHING$HEADER$RULE"\
'      10.77.0.51 | 02:C0:DE:25:40:75 | KV-110 Pump Station'$'\n'\
'      10.77.0.53 | 02:C0:DE:25:40:79 | KV-120 Pump Station'$'\n'"$RULE"$'2 devices found.\n'
expect second_only 0
expect_time second_only 13 25

# /vendorid: that one magic only ("MORV"), one search.
lab_run vendorid --devices "$vendor" -- /discover /vendorid=4D4F5256
want O "$BANNER$SEARCHING$HEADER$RULE"'      10.77.0.54 | 02:C0:DE:25:40:7A | MORV device'$'\n'"$RULE"$'1 device found.\n'
expect vendorid 0
expect_count vendorid event=recv,type=1 1 "one search request"
expect_count vendorid event=recv,type=1,magic=MORV 1 "... with the given magic"
expect_time vendorid 3 8
log_echo /discover /vendorid=4D4F5256
expect_log vendorid "$LOG_ECHO"

lab_run two_networks --ifaces 2 --devices "$twonets" -- /discover
want O "$BANNER$SEARCHING$HEADER$RULE"\
'      10.77.0.50 | 02:C0:DE:25:40:74 | Near'$'\n'\
'      10.77.0.55 | 02:C0:DE:25:40:76 | Both'$'\n'\
'      10.78.0.60 | 02:C0:DE:25:40:78 | Far'$'\n'\
'      10.77.0.55 | 02:C0:DE:25:40:76 | Both'$'\n'"$RULE"$'4 devices found.\n'
expect two_networks 0
expect_count two_networks event=recv,type=1,magic=TELQ 2 "one TELQ request per interface"
expect_count two_networks event=recv,type=1,magic=HAPF 2 "one HAPF request per interface"

e2e_finish
