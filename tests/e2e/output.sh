#!/usr/bin/env bash
# /format=json and /format=csv: standard output holds only the document, read
# back by Python's own json and csv modules and compared field by field with
# the simulated devices; the texts of the run go to standard error. Also the
# credentials taken from KELVOPROG_PASSWORD, and the command line winning.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab
e2e_require_ftp

none=$(device_file none <<'EOF2'
[ { "mac": "02:c0:de:00:00:01", "ip": "10.77.0.50", "silent": true } ]
EOF2
)
# A model with quotes, a comma, an escape sequence, a bell and a line end.
three=$(device_file three <<'EOF2'
[
  { "mac": "02:c0:de:25:40:74", "ip": "10.77.0.50", "model": "KV-200 \"Boiler\", hall 2\u001b[2J\u0007\nrow" },
  { "mac": "0a:1b:2c:3d:4e:5f", "ip": "10.77.0.120", "subnet": "255.255.0.0", "gateway": "10.77.0.1",
    "dhcp": true, "model": "" },
  { "mac": "02:c0:de:25:40:75", "ip": "10.77.0.51", "model": "KV-110", "magics": ["HAPF"], "version": 515 }
]
EOF2
)
secret=$(device_file secret <<'EOF2'
[ { "mac": "02:c0:de:00:00:31", "ip": "10.77.0.50", "model": "Locked", "password": "Secret1" } ]
EOF2
)

# check_document CASE FORMAT DEVICE-FILE: parses CASE's standard output (both
# runs must agree) and compares every device with the device file.
check_document() {
  local case=$1 format=$2 devices=$3
  if "$E2E_PY" - "$E2E_WORK/$case/split/out" "$format" "$devices" <<'PY'; then
import csv, io, json, sys
out_path, fmt, devices_path = sys.argv[1:4]
text = open(out_path, newline="").read()
want = json.load(open(devices_path))
if fmt == "json":
    doc = json.loads(text)
    assert doc["format"] == "kelvoprog-discover/1", doc["format"]
    got = doc["devices"]
else:
    got = list(csv.DictReader(io.StringIO(text)))
    for row in got:
        row["dhcp"] = row["dhcp"] == "true"
        row["version"] = int(row["version"])
assert len(got) == len(want), (len(got), len(want))
by_mac = {d["mac"]: d for d in got}
for w in want:
    mac = w["mac"].upper()
    g = by_mac[mac]
    expect = {"ip": w["ip"], "mac": mac, "model": w.get("model", "Kelvo Device"),
              "subnet": w.get("subnet", "255.255.255.0"), "gateway": w.get("gateway", "0.0.0.0"),
              "dhcp": w.get("dhcp", False), "magic": w.get("magics", ["TELQ"])[0],
              "interface": "10.77.0.1", "interface_name": "h0", "version": w.get("version", 512)}
    for key, value in expect.items():
        assert g[key] == value, (mac, key, g[key], value)
PY
    echo "ok   $case: the $format document holds every device, field by field"
  else
    fail "$case: the $format document does not match the devices"
  fi
  cmp -s "$E2E_WORK/$case/split/out" "$E2E_WORK/$case/both/both" &&
    fail "$case: the one-pipe run shows no texts besides the document"
}

# check_result CASE COMMAND MAC IP STATUS MESSAGE: the one-line result.
check_result() {
  local case=$1
  if "$E2E_PY" - "$E2E_WORK/$case/split/out" "${@:2}" <<'PY'; then
import json, sys
out_path, command, mac, ip, status, message = sys.argv[1:7]
lines = open(out_path).read().splitlines()
assert len(lines) == 1, lines
got = json.loads(lines[0])
want = {"format": "kelvoprog-result/1", "command": command, "mac": mac, "ip": ip,
        "status": int(status), "ok": status == "0", "message": message}
assert got == want, (got, want)
PY
    echo "ok   $case: the result line"
  else
    fail "$case: the result line differs: $(cat "$E2E_WORK/$case/split/out")"
  fi
}

lab_run json_none --devices "$none" -- /discover /format=json
want E "$BANNER$SEARCHING"$'0 devices found.\n' O $'{\n  "format": "kelvoprog-discover/1",\n  "devices": []\n}\n'
expect json_none 0

lab_run json_three --devices "$three" -- /discover /format=json
check_document json_three json "$three"
lab_run csv_three --devices "$three" -- /discover /format=csv
check_document csv_three csv "$three"
[ "$(head -c 90 "$E2E_WORK/csv_three/split/err")" = "$(printf '%s' "$BANNER$SEARCHING" | head -c 90)" ] ||
  fail "csv_three: the banner and progress are not on standard error"

# Device texts that a spreadsheet would take for formulas get a leading "'"
# in CSV (numbers and addresses never do); invalid UTF-8 (aux text 0xFF,
# then an "@" formula) is replaced alike in both documents.
formula=$(device_file formula <<'EOF2'
[ { "mac": "02:c0:de:25:40:76", "ip": "10.77.0.52", "model": "=HYPERLINK(\"http://x\",\"KV\")",
    "extra_fields": [{"code": 4, "hex": "40ff53554d2831"}] },
  { "mac": "02:c0:de:25:40:77", "ip": "10.77.0.53", "model": "-2+3" } ]
EOF2
)
lab_run formula_json --devices "$formula" -- /discover /format=json
lab_run formula_csv --devices "$formula" -- /discover /format=csv
if "$E2E_PY" - "$E2E_WORK/formula_json/split/out" "$E2E_WORK/formula_csv/split/out" <<'PY'; then
import csv, io, json, sys
devices = {d["mac"]: d for d in json.load(open(sys.argv[1]))["devices"]}
rows = {r["mac"]: r for r in csv.DictReader(io.StringIO(open(sys.argv[2], newline="").read()))}
one, two = "02:C0:DE:25:40:76", "02:C0:DE:25:40:77"
assert devices[one]["model"] == '=HYPERLINK("http://x","KV")', devices[one]
assert rows[one]["model"] == "'" + devices[one]["model"], rows[one]
assert devices[one]["aux_text"] == "@\ufffdSUM(1", devices[one]
assert rows[one]["aux_text"] == "'" + devices[one]["aux_text"], rows[one]
assert rows[two]["model"] == "'-2+3" and devices[two]["model"] == "-2+3", (rows[two], devices[two])
assert rows[two]["ip"] == "10.77.0.53" and rows[two]["version"] == "512", rows[two]
PY
  echo "ok   formula: CSV guards formulas, both documents replace invalid UTF-8 alike"
else
  fail "formula: the documents differ from what a spreadsheet may open"
fi

# /set: the texts of a single run on standard error, the result on standard output.
lab_run set_json --devices "$three" -- /set /mac=02c0de254074 /ip=10.77.0.80 /format=json
check_result set_json set 02:C0:DE:25:40:74 10.77.0.80 0 "IP address has been changed."
grep -q '^IP address has been changed.$' "$E2E_WORK/set_json/split/err" ||
  fail "set_json: the run's own texts are not on standard error"

# The device's FTP server is the lab's, on 10.77.0.2.
server=$(device_file server <<'EOF2'
[ { "mac": "02:c0:de:00:00:21", "ip": "10.77.0.2" } ]
EOF2
)
fwdir=$E2E_WORK/fw
mkdir -p "$fwdir" && head -c 4096 /dev/urandom >"$fwdir/fw.bin"
lab_run upload_csv --devices "$server" --ftp -- /upload /mac=02c0de000021 "/firmware=$fwdir/fw.bin" /format=csv
if "$E2E_PY" - "$E2E_WORK/upload_csv/split/out" <<'PY'; then
import csv, sys
rows = list(csv.reader(open(sys.argv[1], newline="")))
assert rows == [["format", "command", "mac", "ip", "status", "ok", "message"],
                ["kelvoprog-result/1", "upload", "02:C0:DE:00:00:21", "10.77.0.2", "0", "true",
                 "SUCCESS: Firmware image uploaded to device."]], rows
PY
  echo "ok   upload_csv: the result row"
else
  fail "upload_csv: the result row differs: $(cat "$E2E_WORK/upload_csv/split/out")"
fi

# The password from the environment reaches the device; the command line wins over it.
export KELVOPROG_PASSWORD=Secret1
lab_run env_password --devices "$secret" -- /set /mac=02c0de000031 /ip=10.77.0.81 /format=json
check_result env_password set 02:C0:DE:00:00:31 10.77.0.81 0 "IP address has been changed."
lab_run cmdline_wins --devices "$secret" -- /set /mac=02c0de000031 /ip=10.77.0.81 /password=Other /format=json
check_result cmdline_wins set 02:C0:DE:00:00:31 10.77.0.50 3 \
  "Failed to assign IP address to device: Authentication failed ip: 10.77.0.81  subnet: 255.255.255.0  gateway: 0.0.0.0"
expect_count cmdline_wins event=decision,type=3,auth_ok=false 1 "the command line's password was checked"
log_echo /set /mac=02c0de000031 /ip=10.77.0.81 /password=Other /format=json
grep -q Secret1 "$E2E_WORK/env_password/split/cwd/kelvoprog.log" &&
  fail "env_password: the log shows the password"
unset KELVOPROG_PASSWORD

e2e_finish
