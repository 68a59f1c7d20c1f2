#!/usr/bin/env bash
# The collection against two simulated plants, each on a network of its own
# with a site host of its own (a network namespace each), driven by one
# inventory with a host per site and ansible-playbook at two forks:
#
#   site_a host (ksa)  h0 10.77.0.1/24 <-> d0 10.77.0.2/24  devices (ksad): quexsim, FTP
#   site_b host (ksb)  h0 10.78.0.1/24 <-> d0 10.78.0.2/24  devices (ksbd): quexsim
#
# Each site's kelvoprog is a wrapper that runs the tool inside its site
# host's namespace. The runs: discover and commission both sites through
# the role; again, with no change; check mode against changed plans, which
# sends no configuration request; a wrong password, which fails in the
# tool's words and shows no password; a firmware upload, a single device's
# change, a row the tool refuses and a plan file. Everything happens in a
# private network namespace that the script makes for itself.
# usage: ansible/tests/lab/two_sites.sh   (KELVOPROG, QUEXSIM: the binaries)
# shellcheck disable=SC2015  # "check && echo ok || fail": echo does not fail
lab=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$lab/../../../tests/e2e/lib/common.bash" || exit 1
# shellcheck disable=SC2034  # read by common.bash
E2E_NAME=ansible_sites
PASSWORD=Quartz-Owl-7731
WRONG_PASSWORD=Wrong-Heron-5512
export PATH=/usr/bin:/bin:/usr/sbin:/sbin  # Debian's Python and Ansible

if [ -z "${KELVO_SITES_INNER:-}" ]; then
  [ "$(id -u)" = 0 ] || e2e_skip "the sites' namespaces need root"
  command -v unshare >/dev/null && command -v ip >/dev/null || e2e_skip "no unshare or ip (iproute2) here"
  [ -x /usr/bin/ansible-playbook ] || e2e_skip "Debian's ansible-core is missing (scripts/install-deps.sh installs it)"
  e2e_require_ftp
  [ -x "$KELVOPROG" ] || { echo "FAIL: no tool at $KELVOPROG"; exit 1; }
  [ -x "$QUEXSIM" ] || { echo "FAIL: no quexsim at $QUEXSIM"; exit 1; }
  why=$(unshare --mount --net true 2>&1) || e2e_skip "a private network namespace cannot be created here: $why"
  KELVOPROG=$(readlink -f "$KELVOPROG") QUEXSIM=$(readlink -f "$QUEXSIM") KELVO_SITES_INNER=1 \
    exec unshare --mount --net --propagation private bash "${BASH_SOURCE[0]}"
fi

"$E2E_SRC/scripts/in-private-netns" ||
  e2e_skip "not inside a private network namespace: the sites' devices would be on a real network"
E2E_WORK=$(mktemp -d /tmp/kelvo-e2e-ansible-sites.XXXXXX)
pids=()
teardown() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  e2e_cleanup
}
trap teardown EXIT

# The two sites: a host namespace and a device namespace each.
mount -t tmpfs none /run && mkdir -p /run/netns || { echo "FAIL: no private /run"; exit 1; }
ip link set lo up
site_up() {  # site, host ns, device ns, network (77 or 78), device file
  local site=$1 host=$2 dev=$3 net=$4 devices=$5
  ip netns add "$host" && ip netns add "$dev" || return 1
  ip -n "$host" link set lo up && ip -n "$dev" link set lo up
  ip link add h0 netns "$host" type veth peer name d0 netns "$dev" || return 1
  ip -n "$host" addr add "10.$net.0.1/24" dev h0 && ip -n "$host" link set h0 up
  ip -n "$dev" addr add "10.$net.0.2/24" dev d0 && ip -n "$dev" link set d0 up
  ip -n "$dev" route add 224.0.0.0/4 dev d0
  ip netns exec "$dev" "$QUEXSIM" --devices "$devices" --journal "$E2E_WORK/$site.jsonl" \
    --ready-file "$E2E_WORK/$site.ready" 2>"$E2E_WORK/$site.quexsim.log" &
  pids+=($!)
  for _ in $(seq 100); do [ -f "$E2E_WORK/$site.ready" ] && break; sleep 0.1; done
  [ -f "$E2E_WORK/$site.ready" ] || { cat "$E2E_WORK/$site.quexsim.log"; return 1; }
  printf '#!/bin/sh\nexec ip netns exec %s %s "$@"\n' "$host" "$KELVOPROG" >"$LAB_BIN/$site-kelvoprog"
  chmod +x "$LAB_BIN/$site-kelvoprog"
  mkdir -p "$LAB_LOGS/$site"
}
export LAB_BIN=$E2E_WORK/bin LAB_LOGS=$E2E_WORK/logs LAB_FIRMWARE=$E2E_WORK/kv500.bin
mkdir -p "$LAB_BIN" "$LAB_LOGS" "$E2E_WORK/ftp"
site_up site_a ksa ksad 77 "$lab/site_a.json" && site_up site_b ksb ksbd 78 "$lab/site_b.json" ||
  { echo "FAIL: the sites could not be set up"; exit 1; }
# Site A's line gateway (10.77.0.2) takes firmware by FTP with the devices' login.
ip netns exec ksad /usr/bin/python3 -m pyftpdlib -i 10.77.0.2 -p 21 -w -d "$E2E_WORK/ftp" \
  -u root -P "$PASSWORD" >"$E2E_WORK/ftp.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  ip netns exec ksa timeout 1 bash -c 'exec 3<>/dev/tcp/10.77.0.2/21' 2>/dev/null && break
  sleep 0.1
done
head -c 30000 /dev/urandom >"$LAB_FIRMWARE"
# A plan file as a spreadsheet saves it: byte-order mark, CRLF, a comment, an empty line.
export LAB_PLAN_FILE=$E2E_WORK/line3.csv
{ printf '\xEF\xBB\xBF'; printf '%s\r\n' 'MAC, IP ,subnet' '# line 3' '' '02c0de0a0003,10.77.0.2,' \
  '02c0de0a0002,10.77.0.42,255.255.0.0'; } >"$LAB_PLAN_FILE"

# The collection as installed from this tree; Ansible's own files in the work directory.
mkdir -p "$E2E_WORK/collections/ansible_collections/kelvo"
ln -s "$lab/../.." "$E2E_WORK/collections/ansible_collections/kelvo/commissioning"
cat >"$E2E_WORK/ansible.cfg" <<EOF2
[defaults]
collections_path = $E2E_WORK/collections
local_tmp = $E2E_WORK/ansible-local
remote_tmp = $E2E_WORK/ansible-remote
nocolor = true
retry_files_enabled = false
stdout_callback = default
pipelining = true
EOF2
export ANSIBLE_CONFIG=$E2E_WORK/ansible.cfg
unset KELVOPROG_PASSWORD KELVOPROG_USERNAME KELVOPROG_INTERFACE KELVOPROG_WAIT

# The words a newer tool adds are used only where this one lists them.
extra=()
usage=$("$KELVOPROG" /? 2>&1)
if grep -q '/interface' <<<"$usage" && grep -q '/wait' <<<"$usage"; then
  printf '%s\n' '---' 'kelvo_site_interface: [h0]' 'kelvo_site_wait: ready' >"$E2E_WORK/newer.yml"
  extra=(-e "@$E2E_WORK/newer.yml")
  echo "note: this kelvoprog knows /interface and /wait; the runs use them"
else
  echo "note: this kelvoprog does not know /interface and /wait; the runs leave them out"
fi

# play NAME ARGS...: one ansible-playbook run (bounded), its output in NAME.out.
play() {
  local name=$1; shift
  local start=$SECONDS
  timeout 300 ansible-playbook -f 2 -i "$lab/inventory.yml" ${extra[@]+"${extra[@]}"} "$@" \
    >"$E2E_WORK/$name.out" 2>&1
  PLAY_STATUS=$?
  echo "     ($name: ansible-playbook ended with status $PLAY_STATUS after $((SECONDS - start)) s)"
  sed -n '/^PLAY RECAP/,$p' "$E2E_WORK/$name.out" | grep . | sed 's/^/     /'
}
# recap NAME HOST: the host's PLAY RECAP line.
recap() { sed -n "/^PLAY RECAP/,\$p" "$E2E_WORK/$1.out" | grep "^$2 "; }
# recap_has NAME HOST FIELD=N...
recap_has() {
  local name=$1 host=$2 line want
  line=$(recap "$name" "$host")
  shift 2
  for want in "$@"; do
    grep -q "\b$want\b" <<<"$line" || { fail "$name: $host's recap is not $want: $line"; return 1; }
  done
  echo "ok   $name: $host $*"
}
# journal_mark SITE / config_requests SITE MARK [MAC]: configuration requests
# (set network, reboot, set DHCP) the site's devices received since MARK.
journal_mark() { wc -l <"$E2E_WORK/$1.jsonl"; }
config_requests() {
  tail -n +$(($2 + 1)) "$E2E_WORK/$1.jsonl" | "$E2E_PY" -c '
import json, sys
mac = sys.argv[1].lower() if len(sys.argv) > 1 else None
events = [json.loads(line) for line in sys.stdin if line.strip()]
print(sum(1 for e in events if e.get("event") == "decision" and e.get("type") in (3, 5, 7)
          and (mac is None or e.get("mac", "").lower() == mac)))' ${3:+"$3"}
}
expect_requests() {  # what site mark mac-or-empty n
  local got
  got=$(config_requests "$2" "$3" "$4")
  [ "$got" = "$5" ] && echo "ok   $1 ($got)" || fail "$1: $got configuration requests, want $5"
}
# device_state SITE MAC: the device's active settings after the last change.
device_state() {
  "$E2E_PY" -c '
import json, sys
state = None
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e.get("event") == "state" and e.get("device") == sys.argv[2]:
        a = e["active"]
        state = "%s %s %s dhcp=%s" % (a["ip"], a["subnet"], a["gateway"], str(a["dhcp"]).lower())
print(state or "unchanged")' "$E2E_WORK/$1.jsonl" "$2"
}
expect_state() {  # site device want
  local got
  got=$(device_state "$1" "$2")
  [ "$got" = "$3" ] && echo "ok   $1 $2: $got" || fail "$1 $2: settings $got, want $3"
}
no_traceback() {
  if grep -q 'Traceback\|MODULE FAILURE' "$E2E_WORK/$1.out"; then
    fail "$1: the output shows a Python traceback"
  fi
}
start=$SECONDS

echo "-- first run: discover both sites, commission every device"
a=$(journal_mark site_a) b=$(journal_mark site_b)
play commission "$lab/commission.yml"
[ "$PLAY_STATUS" = 0 ] || fail "commission: status $PLAY_STATUS: $(tail -30 "$E2E_WORK/commission.out")"
recap_has commission site_a ok=4 changed=1 failed=0
recap_has commission site_b ok=4 changed=1 failed=0
expect_state site_a boiler "10.77.0.21 255.255.255.0 10.77.0.1 dhcp=false"
expect_state site_a pump "10.77.0.22 255.255.0.0 10.77.0.1 dhcp=false"
expect_state site_b dosing "10.78.0.21 255.255.255.0 10.78.0.1 dhcp=false"
expect_state site_b meter "10.78.0.23 255.255.255.0 10.78.0.254 dhcp=false"
expect_requests "commission: the line gateway, already as planned, got nothing" site_a "$a" 02:c0:de:0a:00:03 0
expect_requests "commission: the DHCP sensor, already as planned, got nothing" site_b "$b" 02:c0:de:0b:00:02 0
grep -q $'^02C0DE0A0001\tOK$' "$LAB_LOGS/site_a/kelvoprog.log" ||
  fail "commission: site_a's result log (kelvo_site_log_dir) lacks the boiler's entry"
no_traceback commission

echo "-- second run: nothing to change"
a=$(journal_mark site_a) b=$(journal_mark site_b)
play again "$lab/commission.yml" --skip-tags discover
[ "$PLAY_STATUS" = 0 ] || fail "again: status $PLAY_STATUS"
recap_has again site_a ok=2 changed=0 failed=0
recap_has again site_b ok=2 changed=0 failed=0
expect_requests "again: no configuration request at site_a" site_a "$a" "" 0
expect_requests "again: no configuration request at site_b" site_b "$b" "" 0

echo "-- check mode against changed plans: reported, not sent"
a=$(journal_mark site_a) b=$(journal_mark site_b)
play check "$lab/commission.yml" --skip-tags discover -i "$lab/changed.yml" --check --diff
[ "$PLAY_STATUS" = 0 ] || fail "check: status $PLAY_STATUS: $(tail -30 "$E2E_WORK/check.out")"
recap_has check site_a changed=1 failed=0
recap_has check site_b changed=1 failed=0
expect_requests "check: no configuration request at site_a" site_a "$a" "" 0
expect_requests "check: no configuration request at site_b" site_b "$b" "" 0
for line in '-ip: 10.77.0.21' '+ip: 10.77.0.31' '-dhcp: true' '+ip: 10.78.0.32' '+dhcp: true'; do
  grep -qx -- "$line" "$E2E_WORK/check.out" || fail "check: the diff lacks the line $line"
done

echo "-- a wrong password: the tool's words, no password shown"
a=$(journal_mark site_a)
play wrong "$lab/commission.yml" --skip-tags discover -i "$lab/changed.yml" -e "@$lab/wrong-password.yml" -vvv
[ "$PLAY_STATUS" = 2 ] || fail "wrong: status $PLAY_STATUS, want 2 (a host failed)"
recap_has wrong site_a failed=1
recap_has wrong site_b failed=1
grep -q '02:C0:DE:0A:00:01 (line 2): Failed to assign IP address to device: Authentication failed' \
  "$E2E_WORK/wrong.out" && echo "ok   wrong: the device's refusal in the tool's words" ||
  fail "wrong: no refusal in the tool's words: $(grep -m3 'fatal' "$E2E_WORK/wrong.out")"
expect_requests "wrong: the refused settings request reached the boiler" site_a "$a" 02:c0:de:0a:00:01 1
no_traceback wrong
[ "$(device_state site_a boiler)" = "10.77.0.21 255.255.255.0 10.77.0.1 dhcp=false" ] ||
  fail "wrong: the boiler changed"

echo "-- one device alone (firmware, a network change), a refused row, a plan file"
play single "$lab/single.yml" --diff
[ "$PLAY_STATUS" = 0 ] || fail "single: status $PLAY_STATUS: $(tail -30 "$E2E_WORK/single.out")"
recap_has single site_a changed=4 failed=0
recap_has single site_b changed=2 failed=0
for line in '-ip: 10.78.0.23' '+ip: 10.78.0.43'; do
  grep -qx -- "$line" "$E2E_WORK/single.out" || fail "single: the diff lacks the line $line"
done
cmp -s "$LAB_FIRMWARE" "$E2E_WORK/ftp/kv500.bin" && echo "ok   single: the firmware arrived whole" ||
  fail "single: the firmware did not arrive whole"
stores=$(grep -c 'STOR' "$E2E_WORK/ftp.log")
[ "$stores" = 2 ] && echo "ok   single: two uploads, single and plan (none in check mode)" ||
  fail "single: $stores uploads, want 2"
expect_state site_b meter "10.78.0.43 255.255.255.0 10.78.0.254 dhcp=false"
expect_state site_a pump "10.77.0.42 255.255.0.0 10.77.0.1 dhcp=false"
no_traceback single

echo "-- the password in no output and no log"
shopt -s nullglob
for file in "$E2E_WORK"/*.out "$LAB_LOGS"/*/kelvoprog.log; do
  for secret in "$PASSWORD" "$WRONG_PASSWORD"; do
    grep -q -- "$secret" "$file" && fail "$(basename "$file") shows a password"
  done
done
files=("$E2E_WORK"/*.out "$LAB_LOGS"/*/kelvoprog.log)
echo "ok   no password in ${#files[@]} outputs and logs"
echo "two sites: $((SECONDS - start)) s of ansible-playbook runs"
e2e_finish
