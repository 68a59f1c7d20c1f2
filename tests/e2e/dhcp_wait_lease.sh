#!/usr/bin/env bash
# A device with address 0.0.0.0 and DHCP on, no /ip: exactly ten queries
# about a second apart, and the address of the tenth is the one used (the
# lease shows only to the tenth): the firmware goes there by FTP.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab
e2e_require_ftp

# Answered queries 1 (location) to 10 report 0.0.0.0; the 11th, the tenth of
# the wait, reports the lease: 10.77.0.2, where the lab's FTP server is.
devices=$(device_file lease <<'EOF'
[ { "name": "sensor", "mac": "02:c0:de:00:00:41", "ip": "0.0.0.0", "dhcp": true,
    "lease": "10.77.0.2", "lease_after_queries": 10 } ]
EOF
)
head -c 5000 /dev/urandom >"$E2E_WORK/fw.bin"
args=(/upload /mac=02c0de000041 "/firmware=$E2E_WORK/fw.bin")
lab_run lease_tenth --devices "$devices" --ftp -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:41: SUCCESS"$'\nUploading firmware...\nSUCCESS: Firmware image uploaded to device.\n'
expect lease_tenth 0
expect_count lease_tenth event=decision,type=1,device=sensor,action=answer 11 "the location query and exactly ten more"
for mode in split both; do
  cmp -s "$E2E_WORK/fw.bin" "$E2E_WORK/lease_tenth/$mode/ftp/fw.bin" &&
    echo "ok   lease_tenth: the file reached the tenth query's address ($mode run)" ||
    fail "lease_tenth: the file did not reach 10.77.0.2 ($mode run)"
done
# Queries 2 to 11 (the wait) follow each other about a second apart.
mapfile -t t < <(jtimes lease_tenth event=decision,type=1,device=sensor)
bad=0
for i in $(seq 2 10); do
  d=$(awk -v a="${t[i-1]}" -v b="${t[i]}" 'BEGIN { print (b - a) / 1000 }')
  in_range "$d" 0.99 1.6 || { fail "lease_tenth: wait queries $((i - 1)) and $i were $d s apart"; bad=1; }
done
[ $bad = 0 ] && echo "ok   lease_tenth: the ten wait queries came 0.99 to 1.6 s apart"
expect_time lease_tenth 10 20
log_echo "${args[@]}"
expect_log lease_tenth "${LOG_ECHO}02C0DE000041$LOG_OK"

e2e_finish
