#!/usr/bin/env python3
"""Writes the seed corpus of the reply decoder fuzzer: valid replies."""
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

os.makedirs(HERE, exist_ok=True)
for name, data in CORPUS.items():
    with open(os.path.join(HERE, name), "wb") as out:
        out.write(data)
