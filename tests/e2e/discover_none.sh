#!/usr/bin/env bash
# /discover when no device answers either magic: two full 10 s searches, no
# table, the count line for 0.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

# A device of another magic is on the network: it must not be listed.
devices=$(device_file none <<'EOF'
[ { "mac": "02:c0:de:25:40:7a", "ip": "10.77.0.54", "magics": ["MORV"] } ]
EOF
)
lab_run none --devices "$devices" -- /discover
want O "$BANNER$SEARCHING"$'0 devices found.\n'
expect none 0
expect_count none event=recv,type=1,magic=TELQ 1 "one TELQ search request"
expect_count none event=recv,type=1,magic=HAPF 1 "one HAPF search request"
expect_count none event=send 0 "no answer"
expect_time none 20 30
gap=$(awk 'NR==1{a=$1} NR==2{print ($1-a)/1000}' < <(jtimes none event=recv,type=1))
# A search's 10 s count from its start, a moment before its request leaves
# (the sockets are opened first): the run time above is the strict bound.
in_range "$gap" 9.5 12 && echo "ok   none: the second search request left $gap s after the first" ||
  fail "none: the second search request left $gap s after the first, want 9.5 to 12 s"
log_echo /discover
expect_log none "$LOG_ECHO"

e2e_finish
