# Shared by the end-to-end scripts (tests/e2e/*.sh); sourced, not run.
#
# Every run of the tool goes through scripts/lab: a private network namespace
# with quexsim (and an FTP server when asked) on the far side of a veth link.
# Each case runs the tool twice at the same time, in two labs of its own:
# once with standard output and standard error on two pipes, once with both
# on one pipe (their order). Both runs are compared whole with what the case
# expects, and so is the exit status, the result log and the run time.
set -uo pipefail

E2E_LIB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
E2E_SRC=${KELVO_SOURCE_DIR:-$(cd "$E2E_LIB/../../.." && pwd)}
KELVOPROG=${KELVOPROG:-$E2E_SRC/build/kelvoprog}
QUEXSIM=${QUEXSIM:-$(dirname "$KELVOPROG")/quexsim}
export QUEXSIM
E2E_PY=/usr/bin/python3
[ -x "$E2E_PY" ] || E2E_PY=python3
E2E_NAME=$(basename "$0" .sh)
E2E_FAILURES=0
T='Type "kelvoprog /?" for details.'
BANNER=$'\nKelvo Programmer\nVersion 1.3.13.0\nCopyright (C) Kelvo. All rights reserved.\n\n'
SEARCHING=$'Searching for devices. Please wait...\n\n'
HEADER=$' IP Address      | MAC Address       | Model\n'
RULE=$'-----------------+-------------------+------------------------------\n'
LOG_HEADER=$'\n\nMAC\t\t\tSTATUS\n'
LOG_MARKER=$'\n\nERROR CONFIGURING DEVICE '

e2e_skip() { echo "skipped: $*"; exit 77; }

# Skips (77) when no lab can be made here: not root, no unshare or ip, or
# namespaces refused. Missing binaries are a failure, not a skip.
e2e_require_lab() {
  [ "$(id -u)" = 0 ] || e2e_skip "the lab needs root to create network namespaces"
  command -v unshare >/dev/null || e2e_skip "no unshare here: the lab cannot be created"
  command -v ip >/dev/null || e2e_skip "no ip (iproute2) here: the lab cannot be created"
  command -v "$E2E_PY" >/dev/null || e2e_skip "no python3 for the capture helper"
  [ -x "$KELVOPROG" ] || { echo "FAIL: no tool at $KELVOPROG"; exit 1; }
  [ -x "$QUEXSIM" ] || { echo "FAIL: no quexsim at $QUEXSIM"; exit 1; }
  local why
  why=$("$E2E_SRC/scripts/netns-run" --ifaces 1 -- true 2>&1) ||
    e2e_skip "a private network namespace cannot be created here: $why"
  E2E_WORK=$(mktemp -d "/tmp/kelvo-e2e-$E2E_NAME.XXXXXX")
  trap 'e2e_cleanup' EXIT
}

e2e_require_ftp() {
  /usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null ||
    e2e_skip "Debian's python3-pyftpdlib is missing (scripts/install-deps.sh installs it)"
}

e2e_cleanup() {
  if [ "$E2E_FAILURES" -ne 0 ] || [ -n "${KELVO_E2E_KEEP:-}" ]; then
    echo "(work files kept in $E2E_WORK)"
  else
    rm -rf "$E2E_WORK"
  fi
}

fail() {
  echo "FAIL $*"
  E2E_FAILURES=$((E2E_FAILURES + 1))
}

e2e_finish() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    echo "$E2E_NAME: $E2E_FAILURES check(s) failed"
    exit 1
  fi
  echo "$E2E_NAME: all cases passed"
  exit 0
}

# device_file NAME <<'EOF' ... EOF: writes a device file into the work
# directory and prints its path.
device_file() {
  local path=$E2E_WORK/$1.json
  cat >"$path"
  "$QUEXSIM" --devices "$path" --check >/dev/null 2>"$path.err" ||
    { echo "FAIL: device file $1 rejected by quexsim: $(cat "$path.err")" >&2; }
  printf '%s' "$path"
}

# lab_run CASE [OPTION]... -- TOOL-ARGS...
#   --devices FILE          device file (required)
#   --ftp                   an FTP server in each lab (directory CASE/MODE/ftp)
#   --ftp-password P        its password
#   --ftp-server CMD        a stand-in FTP server instead (CMD runs on the device side)
#   --ifaces N              tool-side interfaces
#   --timeout S             the tool is killed after S seconds (default 100)
#   --trigger SPEC N CMD    run CMD (in the lab) when the Nth journal event
#                           matching SPEC appears ($E2E_TOOL_PID: the tool)
#   --log-before FILE       kelvoprog.log starts as a copy of FILE
#   --log-blocked           a directory stands where kelvoprog.log would go
#   --log-full              kelvoprog.log opens but every write fails (/dev/full)
#   --cwd-file SRC NAME     a copy of SRC named NAME in the tool's directory
#   --setup CMD             run CMD on the tool side first (its addresses, say)
#   --max-files N           the tool may hold N descriptors at most
# Results: $E2E_WORK/CASE/{split,both}/{out,err,both,status,elapsed,
# journal.jsonl,timeline.jsonl,cwd/kelvoprog.log,ftp/}.
lab_run() {
  local case=$1; shift
  local devices="" ftp=0 ftp_password="" ftp_server="" ifaces=1 timeout=100 log_before="" log_blocked=0
  local log_full=0
  local -a triggers=() cwd_files=() capture_opts=()
  while [ $# -gt 0 ]; do
    case "$1" in
      --devices) devices=$2; shift 2 ;;
      --ftp) ftp=1; shift ;;
      --ftp-password) ftp_password=$2; shift 2 ;;
      --ftp-server) ftp_server=$2; shift 2 ;;
      --setup) capture_opts+=(--setup "$2"); shift 2 ;;
      --max-files) capture_opts+=(--max-files "$2"); shift 2 ;;
      --ifaces) ifaces=$2; shift 2 ;;
      --timeout) timeout=$2; shift 2 ;;
      --trigger) triggers+=(--trigger "$2" "$3" "$4"); shift 4 ;;
      --log-before) log_before=$2; shift 2 ;;
      --log-blocked) log_blocked=1; shift ;;
      --log-full) log_full=1; shift ;;
      --cwd-file) cwd_files+=("$2" "$3"); shift 3 ;;
      --) shift; break ;;
      *) echo "lab_run: unknown option $1" >&2; return 2 ;;
    esac
  done
  [ -n "$devices" ] || { echo "lab_run: --devices is required" >&2; return 2; }
  local mode dir pids=()
  for mode in split both; do
    dir=$E2E_WORK/$case/$mode
    rm -rf "$dir"
    mkdir -p "$dir/cwd"
    [ -z "$log_before" ] || cp "$log_before" "$dir/cwd/kelvoprog.log"
    [ "$log_blocked" = 0 ] || mkdir "$dir/cwd/kelvoprog.log"
    [ "$log_full" = 0 ] || ln -s /dev/full "$dir/cwd/kelvoprog.log"
    local i
    for ((i = 0; i < ${#cwd_files[@]}; i += 2)); do cp "${cwd_files[i]}" "$dir/cwd/${cwd_files[i + 1]}"; done
    local -a lab=("$E2E_SRC/scripts/lab" --devices "$devices" --ifaces "$ifaces"
                  --journal "$dir/journal.jsonl")
    if [ "$ftp" = 1 ]; then
      mkdir -p "$dir/ftp"
      lab+=(--ftp "$dir/ftp")
      [ -z "$ftp_password" ] || lab+=(--ftp-password "$ftp_password")
    fi
    [ -z "$ftp_server" ] || lab+=(--ftp-server "$ftp_server")
    "${lab[@]}" -- "$E2E_PY" "$E2E_LIB/e2e.py" capture --dir "$dir" --mode "$mode" \
      --journal "$dir/journal.jsonl" --timeout "$timeout" ${triggers[@]+"${triggers[@]}"} \
      ${capture_opts[@]+"${capture_opts[@]}"} -- "$KELVOPROG" "$@" >"$dir/lab.log" 2>&1 &
    pids+=($!)
  done
  local pid rc=0
  for pid in "${pids[@]}"; do wait "$pid" || true; done
  for mode in split both; do
    dir=$E2E_WORK/$case/$mode
    if [ ! -f "$dir/started" ] || [ ! -f "$dir/status" ]; then
      fail "$case: the lab did not run the tool ($mode run): $(tail -5 "$dir/lab.log")"
      rc=1
    fi
  done
  return $rc
}

# A case's expected console output as stream segments in program order:
#   want O "stdout text" E "stderr text" O ...
# sets WANT_OUT, WANT_ERR and WANT_BOTH (all segments in order).
want() {
  WANT_OUT="" WANT_ERR="" WANT_BOTH=""
  while [ $# -gt 0 ]; do
    case "$1" in
      O) WANT_OUT+=$2 ;;
      E) WANT_ERR+=$2 ;;
      *) echo "want: bad stream $1" >&2; return 2 ;;
    esac
    WANT_BOTH+=$2
    shift 2
  done
}

# compare_file CASE WHAT EXPECTED-TEXT FILE
compare_file() {
  local case=$1 what=$2 expected=$3 file=$4
  if [ ! -f "$file" ]; then fail "$case: $what: no file $file"; return 1; fi
  if ! cmp -s <(printf '%s' "$expected") "$file"; then
    fail "$case: $what differs (- expected, + got):"
    diff -u <(printf '%s' "$expected") "$file" | sed -n '3,40p' | cat -A | sed 's/^/    /'
    return 1
  fi
}

# expect CASE STATUS: the last want() against both runs of CASE.
expect() {
  local case=$1 status=$2 d=$E2E_WORK/$1
  local ok=$E2E_FAILURES mode
  for mode in split both; do
    local got
    got=$(cat "$d/$mode/status" 2>/dev/null)
    [ "$got" = "$status" ] || fail "$case: exit status $got, want $status ($mode run)"
  done
  compare_file "$case" "standard output" "$WANT_OUT" "$d/split/out"
  compare_file "$case" "standard error" "$WANT_ERR" "$d/split/err"
  compare_file "$case" "one-pipe output" "$WANT_BOTH" "$d/both/both"
  [ "$ok" = "$E2E_FAILURES" ] && echo "ok   $case: output and status $status ($(elapsed "$case") s)"
}

# expect_log CASE EXPECTED-BYTES: the result log of both runs, whole.
expect_log() {
  local case=$1 expected=$2 mode ok=$E2E_FAILURES
  for mode in split both; do
    compare_file "$case" "result log ($mode run)" "$expected" "$E2E_WORK/$case/$mode/cwd/kelvoprog.log"
  done
  [ "$ok" = "$E2E_FAILURES" ] && echo "ok   $case: result log (${#expected} bytes)"
}

# elapsed CASE [MODE]: the tool's run time in seconds.
elapsed() { cat "$E2E_WORK/$1/${2:-split}/elapsed" 2>/dev/null || echo 0; }

# expect_time CASE MIN MAX: both runs took at least MIN and at most MAX s.
expect_time() {
  local case=$1 min=$2 max=$3 mode t
  for mode in split both; do
    t=$(elapsed "$case" "$mode")
    if awk -v t="$t" -v lo="$min" -v hi="$max" 'BEGIN { exit !(t >= lo && t <= hi) }'; then
      echo "ok   $case: ran $t s ($mode run), within [$min, $max]"
    else
      fail "$case: ran $t s ($mode run), want between $min and $max s"
    fi
  done
}

# in_range VALUE MIN MAX
in_range() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

# journal CASE [MODE]: path of a run's journal.
journal() { printf '%s' "$E2E_WORK/$1/${2:-split}/journal.jsonl"; }

# jcount CASE SPEC [MODE]: journal events matching field=value pairs.
jcount() { "$E2E_PY" "$E2E_LIB/e2e.py" count "$(journal "$1" "${3:-split}")" "$2"; }
jtimes() { "$E2E_PY" "$E2E_LIB/e2e.py" times "$(journal "$1" "${3:-split}")" "$2"; }
jfield() { "$E2E_PY" "$E2E_LIB/e2e.py" field "$(journal "$1" "${4:-split}")" "$2" "$3"; }

# expect_count CASE SPEC N WHAT: in the journals of both runs.
expect_count() {
  local case=$1 spec=$2 n=$3 what=$4 mode got
  for mode in split both; do
    got=$(jcount "$case" "$spec" "$mode")
    if [ "$got" != "$n" ]; then
      fail "$case: $what: $got journal events $spec, want $n ($mode run)"
      return 1
    fi
  done
  echo "ok   $case: $what ($n x $spec)"
}

# expect_gap CASE STDOUT-TEXT SPEC AFTER-SPEC MIN MAX: seconds from the text
# on standard output to the first journal event matching SPEC that follows
# the last one matching AFTER-SPEC.
expect_gap() {
  local case=$1 text=$2 spec=$3 after=$4 min=$5 max=$6 gap
  gap=$("$E2E_PY" "$E2E_LIB/e2e.py" gap "$E2E_WORK/$case/split/timeline.jsonl" "$text" "$spec" "$after")
  if [ "$gap" != none ] && in_range "$gap" "$min" "$max"; then
    echo "ok   $case: $gap s from \"$text\" to $spec, within [$min, $max]"
  else
    fail "$case: $gap s from \"$text\" to $spec, want between $min and $max s"
  fi
}

# The log of a run begins with the echo of the arguments, each followed by a
# space, and the column header: log_echo ARGS... sets LOG_ECHO to those bytes
# (a variable: command substitution would drop the final line end).
log_echo() { local a s=""; for a in "$@"; do s+="$a "; done; LOG_ECHO=$s$LOG_HEADER; }
LOG_OK=$'\tOK\n'
LOG_ERROR=$'\tERROR\n'

# expect_reboot_wait CASE [SECONDS]: the reboot message, then at least
# SECONDS (default 40, and not much more) until the device is queried again.
# Strict on the device's own clock (its reboot reply sent, which the message
# follows, to the next query); from the tool's output with 0.1 s for the
# capture's scheduling under load (it still tells a message printed after
# the wait).
expect_reboot_wait() {
  local case=$1 wait=${2:-40}
  expect_gap "$case" "Device has been rebooted." event=recv,type=1 event=send,type=6 \
    "$(awk -v w="$wait" 'BEGIN { print w - 0.1 }')" $((wait + 3))
  local reply query gap
  reply=$(jtimes "$case" event=send,type=6 | tail -1)
  query=$(jtimes "$case" event=recv,type=1 | awk -v r="$reply" '$1 > r { print; exit }')
  if [ -z "$reply" ] || [ -z "$query" ]; then
    fail "$case: no reboot reply or no query after it in the journal"
    return
  fi
  gap=$(awk -v a="$reply" -v b="$query" 'BEGIN { print (b - a) / 1000 }')
  in_range "$gap" "$wait" $((wait + 3)) && echo "ok   $case: the device was queried $gap s after its reboot reply" ||
    fail "$case: the device was queried $gap s after its reboot reply, want $wait to $((wait + 3)) s"
  local after
  after=$(jtimes "$case" event=recv,type=1 | awk -v r="$reply" '$1 > r' | wc -l)
  [ "$after" = 1 ] && echo "ok   $case: one query after the reboot" ||
    fail "$case: $after queries after the reboot, want 1"
}

# expect_ready_wait CASE BACK: /wait=ready with a device that is back BACK s
# after its reboot reply. On the device's clock: the first query follows
# the reply within 1 s, no query starts less than a second after the one
# before, at least one went unanswered (the reboot was seen), and the one
# that ended the wait was answered within 2.5 s of the device's return (a
# query it missed holds for a second) and was the last.
expect_ready_wait() {
  local case=$1 back=$2 reply
  reply=$(jtimes "$case" event=send,type=6 | tail -1)
  [ -n "$reply" ] || { fail "$case: no reboot reply in the journal"; return; }
  local verdict
  verdict=$(awk -v r="$reply" -v back="$back" '
    FNR == 1 { file++ }
    file == 1 && $1 >= r { n++; q[n] = $1 }
    file == 2 && $1 >= r && answered == "" { answered = $1 }
    END {
      if (n == 0) { print "no query after the reboot"; exit }
      if (q[1] - r > 1000) { printf "first query %.1f s after the reboot reply\n", (q[1] - r) / 1000; exit }
      for (i = 2; i <= n; i++)
        if (q[i] - q[i - 1] < 990) { printf "queries %.2f s apart\n", (q[i] - q[i - 1]) / 1000; exit }
      if (answered == "" || answered < q[n]) { print "the last query was not the answered one"; exit }
      late = (answered - r) / 1000 - back
      if (late < 0 || late > 2.5) { printf "answered %.2f s after the device was back\n", late; exit }
      printf "ok %d queries, answered %.2f s after the device was back\n", n, late
    }' <(jtimes "$case" event=recv,type=1) <(jtimes "$case" event=decision,type=1,action=answer))
  case "$verdict" in
    ok*) echo "ok   $case: ${verdict#ok }" ;;
    *) fail "$case: $verdict" ;;
  esac
  local missed
  missed=$(jcount "$case" event=decision,type=1,action=ignore,reason=rebooting)
  [ "$missed" -ge 1 ] && echo "ok   $case: unanswered while it rebooted: $missed" ||
    fail "$case: no query went unanswered: the reboot was not seen"
}

# ready_run CASE DEVICES LOG_MAC ARGS...: the command with /wait=ready
# against DEVICES, whose device is back 3 s after its reboot: status 0, the
# ready wait's queries, 3 to 7 s in all, and the log of a success.
ready_run() {
  local case=$1 devices=$2 mac=$3
  shift 3
  lab_run "$case" --devices "$devices" -- "$@" /wait=ready
  expect "$case" 0
  expect_ready_wait "$case" 3
  expect_time "$case" 3 7
  log_echo "$@" /wait=ready
  expect_log "$case" "${LOG_ECHO}$mac$LOG_OK"
}
