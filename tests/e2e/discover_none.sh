#!/usr/bin/env bash
# /discover when no device answers either magic: two full 10 s searches side
# by side, no table, the count line for 0. And when no search can run at all
# (no address, or no descriptor left for a socket): the reason once, status 4.
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
expect_time none 9.5 15
gap=$(awk 'NR==1{a=$1} NR==2{print ($1-a)/1000}' < <(jtimes none event=recv,type=1))
# The two searches start together: their requests leave a moment apart.
in_range "$gap" 0 1 && echo "ok   none: the second search request left $gap s after the first" ||
  fail "none: the second search request left $gap s after the first, want at most 1 s"
log_echo /discover
expect_log none "$LOG_ECHO"

# A host without any address: each search fails at once, and the reason
# they share is told once; the header of a failed search stands, with no
# rows; status 4.
lab_run no_address --devices "$devices" --setup "ip addr flush dev h0" -- /discover
no_address=$'ERROR: Search failed: No usable IPv4 interface\n'
want O "$BANNER$SEARCHING" E "$no_address" O "$HEADER$RULE$RULE"$'0 devices found.\n'
expect no_address 4
expect_count no_address event=recv 0 "nothing sent"
expect_time no_address 0 3
expect_log no_address "$LOG_ECHO"

# 41 addresses and room for 16 descriptors: the sockets run out. The two
# searches run side by side, so each may run out at its own address: one line
# per distinct reason, never the same reason twice.
more="for i in \$(seq 101 140); do ip addr add 10.77.0.\$i/24 dev h0 || exit 1; done"
lab_run no_descriptor --devices "$devices" --setup "$more" --max-files 16 -- /discover
for mode in split both; do
  status=$(cat "$E2E_WORK/no_descriptor/$mode/status")
  [ "$status" = 4 ] || fail "no_descriptor: exit status $status, want 4 ($mode run)"
done
compare_file no_descriptor "standard output" "$BANNER$SEARCHING$HEADER$RULE$RULE"$'0 devices found.\n' \
  "$E2E_WORK/no_descriptor/split/out"
reason='^ERROR: Search failed: Cannot open a socket on 10\.77\.0\.[0-9]+: Too many open files$'
err="$E2E_WORK/no_descriptor/split/err"
lines=$(grep -cE "$reason" "$err")
{ [ "$lines" = 1 ] || [ "$lines" = 2 ]; } && [ "$(wc -l <"$err")" = "$lines" ] &&
  [ "$(sort -u "$err" | wc -l)" = "$lines" ] &&
  echo "ok   no_descriptor: $(head -n 1 "$err")" ||
  fail "no_descriptor: standard error is [$(cat "$err")], want one or two distinct lines /$reason/"
expect_count no_descriptor event=recv 0 "nothing sent"

e2e_finish
