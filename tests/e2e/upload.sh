#!/usr/bin/env bash
# /upload against a real FTP server in the lab: a binary file arrives byte for
# byte under its own name (also one that needs escaping, and one whose local
# name holds a backslash), /ip without /mac (the first device is located, the
# file goes to the given address), no FTP server, a refused login, a missing
# local file and a FIFO (status 9 and the client's code and text), a server
# that stalls the transfer (it ends after 60 s without progress), and the log
# of success and failure.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab
e2e_require_ftp

# The FTP server listens on the device side's 10.77.0.2: a device that
# reports that address is reachable by FTP, one at 10.77.0.50 is not.
devices=$(device_file upload <<'EOF'
[
  { "name": "ftp-box", "mac": "02:c0:de:00:00:21", "ip": "10.77.0.2", "model": "FTP Box" },
  { "name": "elsewhere", "mac": "02:c0:de:00:00:22", "ip": "10.77.0.50", "model": "Elsewhere" }
]
EOF
)
located() { printf 'Locate device %s: ' "$1"; }
UPLOADING=$'Uploading firmware...\n'
UPLOADED=$'SUCCESS: Firmware image uploaded to device.\n'

# A firmware image with every byte value, line ends of both kinds and NULs.
fwdir=$E2E_WORK/images
mkdir -p "$fwdir"
{ for i in $(seq 0 255); do printf "\\$(printf '%03o' "$i")"; done
  printf '\r\n\n\r\0\0'
  head -c 200000 /dev/urandom; } >"$fwdir/fw-1.3.bin"

# ftp_holds CASE NAME SOURCE: exactly one file, NAME, equal to SOURCE, in the
# FTP directory of both runs.
ftp_holds() {
  local case=$1 name=$2 source=$3 mode listing
  for mode in split both; do
    listing=$(cd "$E2E_WORK/$case/$mode/ftp" && ls -A) || { fail "$case: no FTP directory ($mode run)"; continue; }
    if [ "$listing" != "$name" ]; then
      fail "$case: the FTP directory holds [$listing], want [$name] ($mode run)"
    elif ! cmp -s "$source" "$E2E_WORK/$case/$mode/ftp/$name"; then
      fail "$case: $name did not arrive byte for byte ($mode run)"
    else
      echo "ok   $case: $name arrived byte for byte ($(stat -c %s "$source") bytes, $mode run)"
    fi
  done
}
ftp_empty() {
  local case=$1 mode listing
  for mode in split both; do
    listing=$(cd "$E2E_WORK/$case/$mode/ftp" && ls -A) || { fail "$case: no FTP directory ($mode run)"; continue; }
    [ -z "$listing" ] && echo "ok   $case: nothing stored on the server ($mode run)" ||
      fail "$case: the FTP directory holds [$listing], want nothing ($mode run)"
  done
}

# By MAC, an absolute path: stored under the file name alone.
args=(/upload /mac=02c0de000021 "/firmware=$fwdir/fw-1.3.bin")
lab_run by_mac --devices "$devices" --ftp -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING$UPLOADED"
expect by_mac 0
ftp_holds by_mac fw-1.3.bin "$fwdir/fw-1.3.bin"
log_echo "${args[@]}"
expect_log by_mac "${LOG_ECHO}02C0DE000021$LOG_OK"

# A name that must be escaped in the URL arrives as it is.
odd='fw #2 %41 ;?&+.bin'
cp "$fwdir/fw-1.3.bin" "$fwdir/$odd"
lab_run odd_name --devices "$devices" --ftp -- /upload /mac=02c0de000021 "/firmware=$fwdir/$odd"
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING$UPLOADED"
expect odd_name 0
ftp_holds odd_name "$odd" "$fwdir/$odd"

# A backslash in the local name separates too: the text after it is stored.
lab_run backslash --devices "$devices" --ftp --cwd-file "$fwdir/fw-1.3.bin" 'old\fw.bin' -- \
  /upload /mac=02c0de000021 '/firmware=old\fw.bin'
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING$UPLOADED"
expect backslash 0
ftp_holds backslash fw.bin "$fwdir/fw-1.3.bin"

# /ip without /mac: the first device is located (automatically), the file
# goes to the given address, not to the device's own 10.77.0.50 (where no
# server listens).
elsewhere=$(device_file elsewhere <<'EOF2'
[ { "name": "elsewhere", "mac": "02:c0:de:00:00:22", "ip": "10.77.0.50", "model": "Elsewhere" } ]
EOF2
)
args=(/upload /ip=10.77.0.2 "/firmware=$fwdir/fw-1.3.bin")
lab_run ip_without_mac --devices "$elsewhere" --ftp -- "${args[@]}"
want O "$BANNER$SEARCHING"$'Locate device (auto): SUCCESS\n'"$UPLOADING$UPLOADED"
expect ip_without_mac 0
ftp_holds ip_without_mac fw-1.3.bin "$fwdir/fw-1.3.bin"
# The second magic's search ran beside the first: its request, and nothing more.
expect_count ip_without_mac event=recv,magic=HAPF 1 "one datagram with the second magic, its search request"
log_echo "${args[@]}"
expect_log ip_without_mac "${LOG_ECHO}02C0DE000022$LOG_OK"
expect_time ip_without_mac 3 12

# No FTP server: the connection fails; code on stderr, its text on stdout.
args=(/upload /mac=02c0de000021 "/firmware=$fwdir/fw-1.3.bin")
lab_run no_server --devices "$devices" -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING" \
     E "Failed to open FTP session with error 7" O $': Couldn\'t connect to server\n'
expect no_server 9
log_echo "${args[@]}"
expect_log no_server "${LOG_ECHO}${LOG_MARKER}02C0DE000021$LOG_ERROR"

# The server refuses the login (the tool's default password is not its own).
lab_run login_refused --devices "$devices" --ftp --ftp-password Other -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING" \
     E "Failed to open FTP session with error 67" O $': Login denied\n'
expect login_refused 9
ftp_empty login_refused
expect_log login_refused "${LOG_ECHO}${LOG_MARKER}02C0DE000021$LOG_ERROR"

# A missing local file: the session opens, the store fails, no empty file
# is left on the device.
args=(/upload /mac=02c0de000021 "/firmware=$fwdir/missing.bin")
lab_run missing_file --devices "$devices" --ftp -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING" \
     E "FtpPutFile failed with error 26" O $': Failed to open/read local data from file/application\n'
expect missing_file 9
ftp_empty missing_file
log_echo "${args[@]}"
expect_log missing_file "${LOG_ECHO}${LOG_MARKER}02C0DE000021$LOG_ERROR"

# A FIFO nobody writes to: refused at once, after the session opened, as a
# file that cannot be sent (a blocking open would wait forever).
mkfifo "$fwdir/fw.fifo"
args=(/upload /mac=02c0de000021 "/firmware=$fwdir/fw.fifo")
lab_run fifo --devices "$devices" --ftp -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING" \
     E "FtpPutFile failed with error 26" O $': Failed to open/read local data from file/application\n'
expect fifo 9
ftp_empty fifo
expect_time fifo 0 5
log_echo "${args[@]}"
expect_log fifo "${LOG_ECHO}${LOG_MARKER}02C0DE000021$LOG_ERROR"

# A server that takes the data connection and never reads it: the transfer
# moves nothing once the buffers are full and ends 60 s later (libcurl judges
# the rate over a few seconds), as any FTP failure does.
truncate -s 16M "$fwdir/large.bin"
args=(/upload /mac=02c0de000021 "/firmware=$fwdir/large.bin")
lab_run stalled --devices "$devices" --ftp-server "exec /usr/bin/python3 $E2E_LIB/stall_ftp.py 10.77.0.2" \
  --timeout 150 -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:21)SUCCESS"$'\n'"$UPLOADING" \
     E "FtpPutFile failed with error 28" O $': Timeout was reached\n'
expect stalled 9
expect_time stalled 60 90
log_echo "${args[@]}"
expect_log stalled "${LOG_ECHO}${LOG_MARKER}02C0DE000021$LOG_ERROR"

e2e_finish
