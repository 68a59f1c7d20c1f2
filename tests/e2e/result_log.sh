#!/usr/bin/env bash
# The result log, whole: a log that cannot be created (status 5, and no
# device work on the wire), an earlier longer log replaced by this run's
# bytes (after a success and after a failure), a command line whose echo is
# longer than 1 KiB, written whole, and a password that is never written.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file log <<'EOF'
{
  "defaults": { "gateway": "10.77.0.1" },
  "devices": [
    { "name": "plain", "mac": "02:c0:de:ab:cd:ef", "ip": "10.77.0.50", "model": "Plain" },
    { "name": "locked", "mac": "02:c0:de:00:00:62", "ip": "10.77.0.51",
      "refuse": { "result": 3, "error": 7, "message": "Locked" } }
  ]
}
EOF
)
LOG_FAILED=$'ERROR: Failed to create log file.\nERROR: Failed to write to log file.\nERROR: Failed to write to log file.\n'

# The log cannot be created: banner, three error lines, status 5, and
# nothing sent to any device, for every command.
for c in "blocked_set /set /mac=02c0deabcdef /ip=10.77.0.70" "blocked_upload /upload /ip=10.77.0.2 /firmware=fw.bin" \
         "blocked_discover /discover"; do
  read -r name cargs <<<"$c"
  # shellcheck disable=SC2086
  lab_run "$name" --devices "$devices" --log-blocked -- $cargs
  want O "$BANNER" E "$LOG_FAILED"
  expect "$name" 5
  expect_count "$name" event=recv 0 "no datagram sent"
  for mode in split both; do
    [ -z "$(ls -A "$E2E_WORK/$name/$mode/cwd/kelvoprog.log")" ] ||
      fail "$name: something was written into the directory in the log's place ($mode run)"
  done
done

# An earlier, longer log (it even ends in an error) is replaced by exactly
# this run's bytes.
old=$E2E_WORK/old.log
{ printf '/upload /mac=auto /firmware=old.bin '; printf '%s' "$LOG_HEADER"
  for i in $(seq 200); do printf '%s%s\n' "$LOG_MARKER" "02C0DE00$(printf '%04X' "$i")	ERROR"; done; } >"$old"
args=(/set /mac=02c0deabcdef /ip=10.77.0.71)
lab_run replaced_ok --devices "$devices" --log-before "$old" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:AB:CD:EF: SUCCESS"$'\nIP address has been changed.\n'
expect replaced_ok 0
log_echo "${args[@]}"
expect_log replaced_ok "${LOG_ECHO}02C0DEABCDEF$LOG_OK"

args=(/set /mac=02c0de000062 /ip=10.77.0.72 /gateway=10.77.0.9)
lab_run replaced_error --devices "$devices" --log-before "$old" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:00:00:62: SUCCESS"$'\n' \
     E $'ERROR: Failed to assign IP address to device: Locked\n\tip: 10.77.0.72  subnet: 255.255.255.0  gateway: 10.77.0.9\n'
expect replaced_error 3
log_echo "${args[@]}"
expect_log replaced_error "${LOG_ECHO}${LOG_MARKER}02C0DE000062$LOG_ERROR"

# A command line whose echo is far longer than 1 KiB is logged whole.
long="/firmware=/$(printf 'firmware-folder/%.0s' $(seq 200))fw.bin"
args=(/set /mac=02C0DEABCDEF /ip=10.77.0.73 "$long" /username=admin)
lab_run long_echo --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:AB:CD:EF: SUCCESS"$'\nIP address has been changed.\n'
expect long_echo 0
log_echo "${args[@]}"
expect_log long_echo "${LOG_ECHO}02C0DEABCDEF$LOG_OK"

# The log is readable by others: every /password= is echoed as eight stars,
# whatever its length (an empty one too); every other argument as it came.
args=(/set /mac=02c0deabcdef /ip=10.77.0.75 /password=Brackwater /password= /username=admin)
lab_run password_masked --devices "$devices" -- "${args[@]}"
want O "${BANNER}Locate device 02:C0:DE:AB:CD:EF: SUCCESS"$'\nIP address has been changed.\n'
expect password_masked 0
log_echo /set /mac=02c0deabcdef /ip=10.77.0.75 '/password=********' '/password=********' /username=admin
expect_log password_masked "${LOG_ECHO}02C0DEABCDEF$LOG_OK"

# The log opens but no write succeeds: the echo fails (so no header), the
# command still runs and succeeds, and the failed closing entry turns the run
# into status 5 with the marker and an error entry attempted.
if [ -w /dev/full ]; then
  WRITE_FAILED=$'ERROR: Failed to write to log file.\n'
  lab_run entry_unwritable --devices "$devices" --log-full -- /set /mac=02c0deabcdef /ip=10.77.0.74
  want O "$BANNER" E "$WRITE_FAILED" \
       O "Locate device 02:C0:DE:AB:CD:EF: SUCCESS"$'\nIP address has been changed.\n' \
       E "$WRITE_FAILED$WRITE_FAILED$WRITE_FAILED"
  expect entry_unwritable 5
  expect_count entry_unwritable event=decision,type=3,action=accept,settings.ip=10.77.0.74 1 "the settings were applied"
else
  echo "skip entry_unwritable: /dev/full is not writable here"
fi

e2e_finish
