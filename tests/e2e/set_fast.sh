#!/usr/bin/env bash
# /set cases that need no reboot wait: static settings shown at once (with
# given and with substituted subnet mask and gateway), DHCP switched off
# first, settings and DHCP refused by the device, a wrong password, DHCP
# already on, and a device without an address.
source "$(dirname "$0")/lib/common.bash" || exit 1
e2e_require_lab

devices=$(device_file set_fast <<'EOF'
{
  "defaults": { "magics": ["TELQ"], "apply": "immediate", "gateway": "10.77.0.1" },
  "devices": [
    { "name": "quick", "mac": "02:c0:de:00:00:01", "ip": "10.77.0.50", "challenge": "fresh",
      "model": "Quick" },
    { "name": "wide", "mac": "02:c0:de:00:00:02", "ip": "10.77.0.51", "subnet": "255.255.0.0",
      "gateway": "10.77.0.254" },
    { "name": "dhcp-on", "mac": "02:c0:de:00:00:03", "ip": "10.77.0.52", "dhcp": true,
      "challenge": "000102030405060708090a0b0c0d" },
    { "name": "locked", "mac": "02:c0:de:00:00:04", "ip": "10.77.0.53", "subnet": "255.255.0.0",
      "gateway": "10.77.0.254",
      "refuse": { "result": 3, "error": 7, "message": "Locked\r\nERROR: Forged\u001b[2J\u007f",
                  "requests": ["set_network", "set_dhcp"] } },
    { "name": "no-address", "mac": "02:c0:de:00:00:05", "ip": "0.0.0.0" }
  ]
}
EOF
)
located() { printf 'Locate device %s: ' "$1"; }

# A static address the device shows at once: no reboot.
args=(/set /mac=02c0de000001 /ip=10.77.0.60 /subnet=255.255.255.0 /gateway=10.77.0.254)
lab_run static_at_once --devices "$devices" -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:01)"$'SUCCESS\nIP address has been changed.\n'
expect static_at_once 0
expect_count static_at_once event=recv,type=5 0 "no reboot request"
expect_count static_at_once 'event=decision,type=3,action=accept,auth=digest,settings.ip=10.77.0.60,settings.subnet=255.255.255.0,settings.gateway=10.77.0.254' 1 \
  "the settings were accepted once, with a digest"
expect_time static_at_once 0 8
log_echo "${args[@]}"
expect_log static_at_once "${LOG_ECHO}02C0DE000001$LOG_OK"

# Neither subnet mask nor gateway given: the device's own are sent.
lab_run static_substituted --devices "$devices" -- /set /mac=02c0de000002 /ip=10.77.0.61
want O "$BANNER$(located 02:C0:DE:00:00:02)"$'SUCCESS\nIP address has been changed.\n'
expect static_substituted 0
expect_count static_substituted 'event=decision,type=3,action=accept,auth=plain,settings.ip=10.77.0.61,settings.subnet=255.255.0.0,settings.gateway=10.77.0.254' 1 \
  "the device's subnet mask and gateway were sent with the new address"
expect_count static_substituted event=recv,type=5 0 "no reboot request"

# DHCP on: switched off first (no reboot), then the static settings.
lab_run static_dhcp_on --devices "$devices" -- /set /mac=02c0de000003 /ip=10.77.0.62 /subnet=255.255.255.0
want O "$BANNER$(located 02:C0:DE:00:00:03)"$'SUCCESS\nIP address has been changed.\n'
expect static_dhcp_on 0
expect_count static_dhcp_on event=decision,type=7,action=accept,dhcp_flag=0 1 "DHCP switched off once"
expect_count static_dhcp_on event=decision,type=7,dhcp_flag=1 0 "DHCP never switched on"
expect_count static_dhcp_on event=recv,type=5 0 "no reboot request"
order=$(jfield static_dhcp_on event=decision type | grep -E '^(3|7)$' | tr '\n' ' ')
[ "$order" = "7 3 " ] && echo "ok   static_dhcp_on: DHCP off before the settings" ||
  fail "static_dhcp_on: configuration requests in the order $order, want 7 then 3"

# The device refuses: its message, then the values sent (substituted ones too).
# The message's control bytes reach the terminal as "?": it cannot forge a
# line or clear the screen.
args=(/set /mac=02c0de000004 /ip=10.77.0.63)
lab_run refused --devices "$devices" -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:04)"$'SUCCESS\n' \
     E $'ERROR: Failed to assign IP address to device: Locked??ERROR: Forged?[2J?\n\tip: 10.77.0.63  subnet: 255.255.0.0  gateway: 10.77.0.254\n'
expect refused 3
expect_count refused event=recv,type=5 0 "no reboot after a refusal"
log_echo "${args[@]}"
expect_log refused "${LOG_ECHO}${LOG_MARKER}02C0DE000004$LOG_ERROR"

# A wrong password: the device's authentication failure is the message.
lab_run wrong_password --devices "$devices" -- /set /mac=02c0de000001 /ip=10.77.0.64 /password=Wrong
want O "$BANNER$(located 02:C0:DE:00:00:01)"$'SUCCESS\n' \
     E $'ERROR: Failed to assign IP address to device: Authentication failed\n\tip: 10.77.0.64  subnet: 255.255.255.0  gateway: 10.77.0.1\n'
expect wrong_password 3
expect_count wrong_password event=decision,type=3,action=refuse,auth_ok=false 1 "refused for its digest"

# DHCP refused: status 11, no reboot.
args=(/set /mac=02c0de000004 /ip=dhcp)
lab_run dhcp_refused --devices "$devices" -- "${args[@]}"
want O "$BANNER$(located 02:C0:DE:00:00:04)"$'SUCCESS\n' E $'ERROR: Failed to set DHCP mode for device.\n'
expect dhcp_refused 11
expect_count dhcp_refused event=decision,type=7,action=refuse,dhcp_flag=1 1 "DHCP on was asked once"
expect_count dhcp_refused event=recv,type=5 0 "no reboot request"
log_echo "${args[@]}"
expect_log dhcp_refused "${LOG_ECHO}${LOG_MARKER}02C0DE000004$LOG_ERROR"

# DHCP already on: nothing is sent, nothing printed by the change.
lab_run dhcp_already_on --devices "$devices" -- /set /mac=02c0de000003 /ip=dhcp
want O "$BANNER$(located 02:C0:DE:00:00:03)"$'SUCCESS\n'
expect dhcp_already_on 0
expect_count dhcp_already_on event=recv,type=7 0 "no DHCP request"
expect_count dhcp_already_on event=recv,type=5 0 "no reboot request"
expect_time dhcp_already_on 0 8

# No address, DHCP off: the one-line error at once, with or without dhcp.
for c in "no_address /set /mac=02c0de000005 /subnet=255.255.255.0" "no_address_dhcp /set /mac=02c0de000005 /ip=dhcp"; do
  read -r name cargs <<<"$c"
  # shellcheck disable=SC2086
  lab_run "$name" --devices "$devices" -- $cargs
  want O "$BANNER$(located 02:C0:DE:00:00:05)"$'FAILED\n' E $'ERROR: Device does not have an IP address.\n'
  expect "$name" 3
  expect_count "$name" event=decision,action=accept 0 "no configuration request accepted"
  expect_count "$name" event=recv,type=7 0 "no DHCP request"
  expect_time "$name" 0 3
  # shellcheck disable=SC2086
  log_echo $cargs
  expect_log "$name" "${LOG_ECHO}${LOG_MARKER}02C0DE000005$LOG_ERROR"
done

# The same device with an explicit address gets it.
lab_run no_address_given_ip --devices "$devices" -- /set /mac=02c0de000005 /ip=10.77.0.66
want O "$BANNER$(located 02:C0:DE:00:00:05)"$'SUCCESS\nIP address has been changed.\n'
expect no_address_given_ip 0
expect_count no_address_given_ip 'event=decision,type=3,action=accept,settings.ip=10.77.0.66,settings.subnet=255.255.255.0,settings.gateway=10.77.0.1' 1 \
  "the given address was set"

e2e_finish
