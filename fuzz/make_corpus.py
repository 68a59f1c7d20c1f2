#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets: valid replies for the reply
decoder, command lines for the parser (NUL between arguments), plan texts for
the plan reader (the first byte: 0 /set, 1 /upload)."""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
MAC = bytes([0x02, 0xC0, 0xDE, 0x25, 0x40, 0x74])
GUID = bytes.fromhex("D4A17F3B2E8C4B619F056C3A8E1B72D4")


def field(code, value):
    return bytes([code, len(value)]) + value


def reply(type_, fields, claimed=None):
    payload = b"".join(fields)
    return b"TELQ" + struct.pack(">HH", type_, len(payload) if claimed is None else claimed) + payload


DISCOVERY = [
    field(1, MAC), field(2, bytes([10, 77, 0, 2])), field(3, bytes([255, 255, 255, 0])),
    field(11, bytes([10, 77, 0, 254])), field(16, b"\x00"), field(13, b"KV-7 controller"),
    field(20, b"\x02\x00"), field(21, GUID),
]
CORPUS = {
    "discovery_full": reply(2, DISCOVERY + [
        field(4, b"aux text"), field(12, b"\x00\x01\x23\x45"), field(15, bytes([10, 0, 0, 9])),
        field(22, b"\x07"), field(24, bytes(range(1, 33)))]),
    "discovery_challenge": reply(2, DISCOVERY + [field(23, bytes(range(0xA0, 0xAE)))]),
    "discovery_minimal": reply(2, [field(1, MAC)]),
    "discovery_sloppy_length": reply(2, [field(1, MAC), field(13, b"M")], claimed=65535),
    "discovery_unknown_fields": reply(2, [field(14, b"abc"), field(1, MAC), field(0, b""), field(99, b"x" * 40)]),
    "set_network_refused": reply(4, [field(1, MAC), field(10, b"\x03"), field(17, b"\x00\x05"),
                                     field(9, b"Wrong password")]),
    "reboot_accepted": reply(6, [field(1, MAC), field(10, b"\x00")]),
    "set_dhcp_accepted": reply(8, [field(1, MAC), field(10, b"\x00\x00\x00\x00"), field(9, b"")]),
    "discovery_long_text": reply(2, [field(1, MAC), field(13, b"m" * 255), field(24, b"d" * 255)]),
}


def argv(*arguments):
    return b"\0".join(a.encode() if isinstance(a, str) else a for a in arguments)


COMMAND_LINES = {
    "discover": argv("/discover"),
    "discover_json_vendor": argv("/discover", "/format=json", "/vendorid=0x54454C51"),
    "set_static": argv("/set", "/mac=02c0de254074", "/ip=192.168.1.1", "/subnet=255.255.255.0",
                       "/gateway=192.168.1.254"),
    "set_dhcp": argv("/set", "/mac=02:C0:DE:25:40:74", "/ip=DHCP", "/password=Brackwater"),
    "upload_auto": argv("/upload", "/firmware=fw.bin", "/mac=auto", "/username=admin"),
    "upload_ip_env": argv("/upload", "/firmware=fw.bin", "/ip=10.0.0.2", "KELVOPROG_PASSWORD=s3cret",
                          "KELVOPROG_USERNAME=kelvo"),
    "env_control": argv("/set", "/mac=02c0de254074", "KELVOPROG_PASSWORD=pw\r\nDELE evil.bin"),
    "plan_parallel": argv("/set", "/plan=line3.csv", "/parallel=16", "/format=csv"),
    "plan_upload": argv("/upload", "/plan=line3.csv", "/firmware=fw.bin"),
    "help": argv("/set", "/mac=zz", "/?"),
    "unknown_escape": argv("/set", "/\x1b[2J=1"),
    "control_value": argv("/upload", "/mac=auto", "/firmware=fw\x7f.bin"),
    "malformed": argv("upload", ""),
}

PLANS = {
    "set_mixed": b"\0\xef\xbb\xbfMAC, IP ,subnet,gateway\r\n# north hall\r\n\r\n"
                 b"02c0de000101,10.77.0.81,255.255.0.0,\r\n02:C0:DE:00:01:02,10.77.0.82,,10.77.0.254\r\n"
                 b"02c0de000103,dhcp,,\r\n\"02c0de000105\",\"10.77.0.85\",,\r\n",
    "upload_hosts": b"\1mac,ip\n02c0de000101,10.77.0.2\n0x02c0de000102,\n",
    "nul_in_cell": b"\0mac,ip\n02c0de000101,10.77.0.100\0junk\n",
    "escape_in_header": b"\0mac,ip,v\x1b[2Jlan\n02c0de000101,10.77.0.81,3\n",
    "twice": b"\0mac,ip\n02c0de000101,10.77.0.81\n02c0de000101,10.77.0.82\n",
    "open_quote": b"\0mac\n\"02c0de000101\n",
}

for folder, inputs in (("decode", CORPUS), ("command_line", COMMAND_LINES), ("plan", PLANS)):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    for name, data in inputs.items():
        with open(os.path.join(HERE, folder, name), "wb") as out:
            out.write(data)
