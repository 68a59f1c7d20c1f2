#!/usr/bin/env bash
# The built tool's rejection, help and log-creation paths, compared byte for
# byte: standard output, standard error, both on one pipe (order), and the
# exit status. Every command line here is refused before any device work.
set -uo pipefail

# True inside a private network namespace. Fails closed: when process 1's
# namespace cannot be read, only a namespace with nothing but loopback and
# veth links and no default route counts as private.
private_network() {
  local self init
  self=$(stat -L -c %i /proc/self/ns/net 2>/dev/null) || return 1
  init=$(stat -L -c %i /proc/1/ns/net 2>/dev/null)
  if [ -n "$init" ]; then
    [ "$self" != "$init" ]
    return
  fi
  command -v ip >/dev/null || return 1
  local links routes
  links=$(ip -o -d link show) || return 1
  routes=$(ip -4 route show default && { ip -6 route show default 2>/dev/null || true; }) || return 1
  [ -z "$routes" ] || return 1
  ! printf '%s\n' "$links" | grep -v -E '^[0-9]+: lo:' | grep -q -v -E '\\ +veth '
}
if ! private_network; then
  echo "skipped: not inside a private network namespace (run through scripts/netns-run or scripts/test.sh)"
  exit 77
fi
: "${KELVOPROG:?KELVOPROG must name the built tool}"

work=$(mktemp -d /tmp/kelvo-cli-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
T='Type "kelvoprog /?" for details.'

# expect NAME STATUS STDOUT STDERR COMBINED -- ARGS...
# COMBINED is what one pipe receives from both streams.
expect() {
  local name=$1 status=$2 out=$3 err=$4 both=$5
  shift 6
  local dir=$work/$name
  mkdir -p "$dir" && cd "$dir" || return
  printf '%s' "$out" >want.out
  printf '%s' "$err" >want.err
  printf '%s' "$both" >want.both
  timeout 20 "$KELVOPROG" "$@" >got.out 2>got.err
  local got=$?
  timeout 20 "$KELVOPROG" "$@" >got.both 2>&1
  local ok=1
  [ "$got" = "$status" ] || { echo "FAIL $name: exit status $got, want $status"; ok=0; }
  cmp -s want.out got.out || { echo "FAIL $name: standard output differs"; diff want.out got.out | head -20; ok=0; }
  cmp -s want.err got.err || { echo "FAIL $name: standard error differs"; diff want.err got.err | head -20; ok=0; }
  cmp -s want.both got.both || { echo "FAIL $name: one-pipe output differs"; diff want.both got.both | head -20; ok=0; }
  [ -e "$dir/kelvoprog.log" ] && [ "$status" = 255 ] && { echo "FAIL $name: a rejected run created the log"; ok=0; }
  [ $ok = 1 ] && echo "ok   $name" || failures=$((failures + 1))
  cd "$work" || return
}

# A refusal on standard error only, exit status -1 (255).
refused() {
  local name=$1 err=$2
  shift 2
  expect "$name" 255 "" "$err" "$err" -- "$@"
}

banner=$'\nKelvo Programmer\nVersion 1.3.13.0\nCopyright (C) Kelvo. All rights reserved.\n'
usage=$(cat <<'EOF'
Usage:
    kelvoprog [Option][Parameters]

Options:
    /?, /help   Display usage information.
    /discover   Discover devices on the network.
    /set        Set device parameters.
    /upload     Upload firmware image to device.

Parameters:
    /mac        MAC address of the target device.
                    Example: /mac=auto (target is the first device found)
                             /mac=02C0DE123456 (target is individual device)
    /username   Username to login to the device (default: root).
                    Example: /username=admin
    /password   Password to login to the device (default: Brackwater).
                    Example: /password=Brackwater
    /ip         Used with either /firmware or /set command:
                   with /firmware: IP address of the target device.
                   with /set:      new ip address for the target device.
                    Example: /ip=192.168.1.2 (specific ip address)
                             /ip=dhcp (obtain ip address using DHCP)@
                                NOTE: dhcp is valid only with /set command
    /subnet     Used only with /set command: new subnet mask to set for device
                    Example: /subnet=255.255.255.0
    /gateway    Used only with /set command: new gateway to set for device
                    Example: /gateway=192.168.1.1
    /firmware   File name of firmware to flash the device with.
                    Example: /firmware=c:\myfirmware.bin

Examples:
    kelvoprog /discover
    kelvoprog /set /mac=02c0de254074 /ip=192.168.1.1 /subnet=255.255.255.0
         Assigns a static IP address to the device.
    kelvoprog /upload /firmware=C:\myfirmware.bin /ip=192.168.1.2
        (default used for /username and /password)
    kelvoprog /upload /firmware=C:\myfirmware.bin /mac=auto
        (first device discovered will get firmware uploaded)
EOF
)
usage=${usage/@/ }$'\n'   # line 22 ends with one space
[ "$(printf '%s' "$usage" | wc -l)" = 38 ] || { echo "FAIL: the expected usage text is not 38 lines"; exit 1; }
# The block after the 38 lines: the words and variables that came later.
more_usage='
Output and credentials:
    /format     Output format: table (default), json or csv. With json or
                csv, standard output holds only the result.
                    Example: /format=json
    KELVOPROG_USERNAME, KELVOPROG_PASSWORD
                Environment variables used when /username or /password
                is not given on the command line.

Many devices (with /set or /upload):
    /plan       CSV file with a header row and one device per row: column
                mac, and ip, subnet, gateway (ip only, with /upload).
                    Example: /plan=line3.csv
    /parallel   Devices of a plan worked on at once, 1 to 64 (default: 8).
                    Example: /parallel=16

Network:
    /interface  Local IPv4 interfaces to work through, by name or address,
                comma-separated (default: every interface). The variable
                KELVOPROG_INTERFACE is used when /interface is not given.
                    Example: /interface=eth1
                             /interface=10.77.0.1,10.78.0.1

Waiting after a reboot (with /set):
    /wait       ready: go on as soon as the device answers with the asked
                settings (at most 120 s); or a number of seconds, 1 to 600
                (default: 40). KELVOPROG_WAIT is used when it is not given.
                    Example: /wait=ready
'
help_out="$banner"$'\n'"$usage$more_usage"

m3=$'ERROR: The first command line parameter must be a command.\n'"$T"$'\n'

# Help wins over every check but the malformed and unknown-name ones.
expect help_question 255 "$help_out" "" "$help_out" -- /?
expect help_word 255 "$help_out" "" "$help_out" -- /help
expect help_after_set 255 "$help_out" "" "$help_out" -- /set /?
expect help_after_parameter 255 "$help_out" "" "$help_out" -- /mac=x /help
expect help_before_value_checks 255 "$help_out" "" "$help_out" -- /set /mac=zz /?
expect help_before_control_character 255 "$help_out" "" "$help_out" -- /set $'/password=a\nb' /?

# The texts of the command line's own messages.
refused no_arguments "$m3"
refused malformed_no_slash "ERROR: Command line parameters contain errors. $T"$'\n' upload
refused malformed_digit "ERROR: Command line parameters contain errors. $T"$'\n' /set /5
refused malformed_empty "ERROR: Command line parameters contain errors. $T"$'\n' /set ""
refused unknown_case "ERROR: /SET is not a valid parameter. $T"$'\n' /SET /mac=auto
refused unknown_first "ERROR: /foo is not a valid parameter. $T"$'\n' /foo=1 /set
refused unknown_prefix "ERROR: /ipaddress is not a valid parameter. $T"$'\n' /set /ipaddress=1.2.3.4
# An unknown name is echoed made safe: its escape sequence cannot clear the screen.
refused unknown_escape "ERROR: /?[2J is not a valid parameter. $T"$'\n' /set $'/\e[2J=1'
refused unknown_c1 "ERROR: /?2J é is not a valid parameter. $T"$'\n' /set $'/\xc2\x9b2J \xc3\xa9=1'   # CSI as UTF-8
refused first_is_parameter "$m3" /mac=auto /upload
refused invalid_command "ERROR: Invalid command. $T"$'\n' /mac /set
refused mac_and_ip "ERROR: Please specify either mac address or ip address, but not both."$'\n'"$T"$'\n' \
  /upload /mac=auto /ip=192.168.1.2
refused mac_and_ip_discover "ERROR: Please specify either mac address or ip address, but not both."$'\n'"$T"$'\n' \
  /discover /mac=auto /ip=192.168.1.2
refused dhcp_without_set "ERROR: dhcp parameter is valid only with the /set command."$'\n'"$T"$'\n' /discover /ip=dhcp
refused no_target "ERROR: Please specify a mac or ip address. $T"$'\n' /upload /firmware=fw.bin
refused bare_mac "ERROR: Please specify a mac or ip address. $T"$'\n' /upload /mac
refused empty_mac "ERROR: Please specify a mac or ip address. $T"$'\n' /set /mac=
# A path that contains "/ip" is no /ip: the target is still missing.
refused path_is_no_ip "ERROR: Please specify a mac or ip address. $T"$'\n' /upload /firmware=/srv/ip/fw.bin

# Values the tool refuses instead of guessing.
mac_line="ERROR: The /mac value is not \"auto\" or a MAC address such as 02C0DE123456. $T"$'\n'
refused bad_mac "$mac_line" /set /mac=zz
refused mac_hyphens "$mac_line" /upload /mac=02-C0-DE-12-34-56
refused mac_seven_pairs "$mac_line" /upload /mac=02C0DE1234567890
refused mac_all_zero "ERROR: The /mac value names no device; use /mac=auto for the first device found. $T"$'\n' /set /mac=00:00:00:00:00:00 /ip=10.0.0.5
refused bad_ip "ERROR: The /ip value is not a valid IP address. $T"$'\n' /set /mac=auto /ip=1.2.3.256
refused ip_trailing_text "ERROR: The /ip value is not a valid IP address. $T"$'\n' /upload /ip=10.0.0.1x
refused bad_subnet "ERROR: The /subnet value is not a valid subnet mask. $T"$'\n' /discover /subnet=255.255.255.0.0
refused bad_gateway "ERROR: The /gateway value is not a valid IP address. $T"$'\n' /discover /gateway=router
refused bad_format "ERROR: The /format value is not table, json or csv. $T"$'\n' /discover /format=xml
vendor_line="ERROR: The /vendorid value is not a nonzero hexadecimal packet magic. $T"$'\n'
refused bad_vendorid "$vendor_line" /discover /vendorid=TELQ
refused zero_vendorid "$vendor_line" /discover /vendorid=0x00000000
refused long_vendorid "$vendor_line" /discover /vendorid=0x123456789
long255=$(printf 'p%.0s' $(seq 255))
refused long_password "ERROR: The /password value is longer than 255 characters. $T"$'\n' \
  /discover "/password=${long255}x"
refused long_username "ERROR: The /username value is longer than 255 characters. $T"$'\n' \
  /discover "/username=${long255}x"
long4096=$(printf 'f%.0s' $(seq 4096))
refused long_firmware "ERROR: The /firmware path is longer than 4095 characters. $T"$'\n' \
  /upload /mac=auto "/firmware=/$long4096"
refused plan_with_mac "ERROR: /plan cannot be used with /mac or /ip. $T"$'\n' /set /plan=p.csv /mac=02c0de254074
refused plan_with_discover "ERROR: /plan cannot be used with /discover. $T"$'\n' /discover /plan=p.csv
refused plan_without_firmware "ERROR: /plan with /upload needs /firmware. $T"$'\n' /upload /plan=p.csv
refused parallel_range "ERROR: The /parallel value is not a number from 1 to 64. $T"$'\n' /set /plan=p.csv /parallel=65
# KELVOPROG_WAIT stands in for an absent /wait and is judged the same way, by its own name.
KELVOPROG_WAIT=soon refused wait_variable \
  "ERROR: The KELVOPROG_WAIT value is not ready or a number of seconds from 1 to 600. $T"$'\n' /set /mac=02c0de254074
KELVOPROG_WAIT=$'ready\e[2J' refused wait_variable_control \
  "ERROR: The KELVOPROG_WAIT value contains a control character."$'\n' /set /mac=02c0de254074

# A control character in any value would travel as it stands into FTP
# commands (CR LF and a command of its own) and log lines: refused before
# anything is sent or logged, with the option word as typed.
refused control_password "ERROR: The /password value contains a control character."$'\n' \
  /upload /mac=auto /firmware=fw.bin $'/password=Brackwater\r\nDELE keep.bin'
refused control_username "ERROR: The /username value contains a control character."$'\n' \
  /set /mac=02c0de254074 /ip=10.0.0.5 $'/username=root\e]0;owned\a'
refused control_delete "ERROR: The /firmware value contains a control character."$'\n' \
  /upload /mac=auto $'/firmware=fw\x7f.bin'
# The environment's credentials pass the same gate, named by the variable (a
# TAB is a control character too).
KELVOPROG_PASSWORD=$'pw\r\nDELE evil.bin' refused control_env_password \
  "ERROR: The KELVOPROG_PASSWORD value contains a control character."$'\n' /upload /mac=auto /firmware=fw.bin
KELVOPROG_USERNAME=$'root\r\nMKD injected' refused control_env_username \
  "ERROR: The KELVOPROG_USERNAME value contains a control character."$'\n' /upload /ip=10.0.0.1 /firmware=fw.bin
KELVOPROG_PASSWORD=$'Brack\twater' refused control_env_tab \
  "ERROR: The KELVOPROG_PASSWORD value contains a control character."$'\n' /set /mac=02c0de254074 /ip=10.0.0.5

# The log cannot be created: banner, then the create failure and one write
# failure each for the marker and the entry; no device work, status 5.
log_err=$'ERROR: Failed to create log file.\nERROR: Failed to write to log file.\nERROR: Failed to write to log file.\n'
for args in "/discover" "/set /mac=02c0de254074 /ip=192.168.1.1" "/upload /ip=10.0.0.1 /firmware=fw.bin"; do
  name=log_failure_${args%% *}
  name=${name//\//}
  mkdir -p "$work/$name/kelvoprog.log"
  # shellcheck disable=SC2086
  expect "$name" 5 "$banner"$'\n' "$log_err" "$banner"$'\n'"$log_err" -- $args
  [ -d "$work/$name/kelvoprog.log" ] && [ -z "$(ls -A "$work/$name/kelvoprog.log")" ] ||
    { echo "FAIL $name: the directory in the log's place was changed"; failures=$((failures + 1)); }
done

if [ "$failures" -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all command-line cases passed"
