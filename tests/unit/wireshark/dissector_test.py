#!/usr/bin/env python3
"""The Wireshark dissector (tools/wireshark/brevantrix.lua) on frames built byte by byte:
every protocol of the modules decoded into its fields, other traffic on the same ports left
alone, and malformed frames marked malformed without a dissector error.

Usage: dissector_test.py ROOT  (skips with 77 when tshark is missing)."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.dirname(__file__) + "/../../.."
SCRIPT = os.path.join(ROOT, "tools", "wireshark", "brevantrix.lua")
PC_MAC = bytes.fromhex("020000000a01")
MODULE_MAC = bytes.fromhex("0200c0a8ca14")
BROADCAST = b"\xff" * 6


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ip(text):
    return bytes(int(part) for part in text.split("."))


def udp_frame(payload, src_port, dst_port, src="192.168.202.10", dst="255.255.255.255",
              src_mac=PC_MAC, dst_mac=BROADCAST):
    udp = struct.pack("!HHHH", src_port, dst_port, len(payload) + 8, 0) + payload
    pseudo = ip(src) + ip(dst) + struct.pack("!BBH", 0, 17, len(udp))
    udp = udp[:6] + struct.pack("!H", checksum(pseudo + udp) or 0xFFFF) + udp[8:]
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), 0x1337, 0, 128, 17, 0, ip(src),
                         ip(dst))
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return dst_mac + src_mac + b"\x08\x00" + header + udp


def packet(code, data=b"", flags=0, seq=0x80000001, length=None):
    return bytes([code, 0, flags, len(data) if length is None else length]) + struct.pack(
        "<I", seq) + data


def record(serial, address, mask="255.255.255.0", gateway="0.0.0.0", position=0x01,
           capability=0x90, major=104, minor=12):
    return struct.pack("!I", serial) + ip(address) + ip(mask) + ip(gateway) + bytes(
        [position, capability, major, minor])


def raw_frame(ethertype, last_mac=b"\0" * 6, first_port=0, last_port=0, signature=b"Trelbix"):
    return (MODULE_MAC + PC_MAC + struct.pack("!H", ethertype) + signature +
            bytes([0xA0, 0x42, 0x47]) + last_mac + bytes([first_port, last_port, 0]))


def from_module(payload, dst_port, src_port=55555):
    return udp_frame(payload, src_port, dst_port, src="192.168.202.20", src_mac=MODULE_MAC,
                     dst_mac=PC_MAC)


def write_pcap(path, frames):
    with open(path, "wb") as out:
        out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for k, frame in enumerate(frames):
            out.write(struct.pack("<IIII", 1000 + k, 0, len(frame), len(frame)) + frame)


MGMT32 = b"MGMT" + struct.pack("!I", 32)

# (frame, {field: expected text}) — the expected values are written out by hand.
CASES = [
    (udp_frame(packet(0x10), 34531, 55555),
     {"brevantrix.code": "0x10", "brevantrix.length": "0", "brevantrix.seq": "0x80000001"}),
    (from_module(packet(0x1F, record(1001, "192.168.202.20"), flags=0x10), 34531),
     {"brevantrix.code": "0x1f", "brevantrix.serial": "1001", "brevantrix.ip": "192.168.202.20",
      "brevantrix.mask": "255.255.255.0", "brevantrix.fw": "4.12",
      "brevantrix.direction": "Left To Right", "brevantrix.family": "0x09"}),
    (from_module(packet(0x1F, record(1002, "192.168.202.21")[:8]), 34531),
     {"brevantrix.serial": "1002", "brevantrix.ip": "192.168.202.21", "brevantrix.mask": "",
      "brevantrix.direction": "Right To Left"}),
    (from_module(packet(0x10, record(1003, "192.168.202.22")), 55555),
     {"brevantrix.code": "0x10", "brevantrix.serial": "1003"}),
    (from_module(packet(0x58, record(1, "10.0.0.1") + record(2, "10.0.0.2")), 34531),
     {"brevantrix.records": "2", "brevantrix.serial": "1,2"}),
    (udp_frame(packet(0x60, MGMT32), 44544, 55555),
     {"brevantrix.code": "0x60", "brevantrix.mgmt": "MGMT", "brevantrix.mgmt.command": "32"}),
    # Data length 13: one buddy, the low three bits dropped.
    (from_module(packet(0x61, struct.pack("!I", 4711) + b"\0" * 9), 44544),
     {"brevantrix.buddies": "1", "brevantrix.buddy.serial": "4711"}),
    (from_module(packet(0x79, bytes([2]) + bytes.fromhex("020000000001") + bytes([1]) +
                        bytes.fromhex("020000000002")), 44547),
     {"brevantrix.left.port": "2", "brevantrix.left.mac": "02:00:00:00:00:01",
      "brevantrix.right.port": "1", "brevantrix.right.mac": "02:00:00:00:00:02"}),
    (udp_frame(packet(0x50, struct.pack("!I", 77) + ip("192.168.202.30")), 44532, 55555),
     {"brevantrix.code": "0x50", "brevantrix.serial": "77", "brevantrix.ip": "192.168.202.30"}),
    (udp_frame(packet(0x53), 44532, 55555, dst_mac=MODULE_MAC), {"brevantrix.code": "0x53"}),
    (udp_frame(packet(0x20, record(5, "10.1.2.3", gateway="10.1.2.1"), seq=0x80000501), 44532,
               55555), {"brevantrix.code": "0x20", "brevantrix.ip": "10.1.2.3",
                        "brevantrix.gateway": "10.1.2.1", "brevantrix.seq": "0x80000501"}),
    (udp_frame(packet(0x30, record(5, "10.1.2.3", position=0x02)), 44532, 55555),
     {"brevantrix.position.last": "1", "brevantrix.position.first": "0"}),
    (udp_frame(bytes([0x70, 0, 0, 8, 0x44, 0, 0, 0x80]) + b"MGMT" + struct.pack("!I", 1), 44532,
               55555), {"brevantrix.code": "0x70", "brevantrix.lock": "1"}),
    (from_module(packet(0x73, record(5, "10.1.2.3") + struct.pack("!I", 1)), 44532),
     {"brevantrix.lock.state": "1", "brevantrix.serial": "5"}),
    (udp_frame(packet(0xB0, b"MGMT" + struct.pack("!I", 0x80), flags=0xCC), 44533, 55555),
     {"brevantrix.mgmt.command": "128", "brevantrix.flags": "0xcc"}),
    (raw_frame(0x804A, bytes.fromhex("0200c0a8ca19"), 2, 1),
     {"brevantrix_raw.command": "AutoConfig", "brevantrix_raw.signature": "Trelbix",
      "brevantrix_raw.last.mac": "02:00:c0:a8:ca:19", "brevantrix_raw.first.port": "2",
      "brevantrix_raw.last.port": "1"}),
    (raw_frame(0x804B), {"brevantrix_raw.command": "Replace"}),
    (raw_frame(0x804D), {"brevantrix_raw.command": "Factory reset"}),
    (PC_MAC + MODULE_MAC + b"\x80\x4e" + b"\0" * 46,
     {"brevantrix_raw.command": "Factory reset acknowledgement"}),
    (udp_frame(b"ERGR", 40000, 55557, dst="192.168.202.20", dst_mac=MODULE_MAC),
     {"brevantrix_flash.request": "ERGR"}),
    (from_module(struct.pack("<3H", 363, 7, 65535), 40000, src_port=55557),
     {"brevantrix_flash.registers": "3", "brevantrix_flash.register": "363,7,65535"}),
    (udp_frame(struct.pack("<6H", 1, 1, 4, 0, 2000, 500), 40001, 55559, dst="192.168.202.20"),
     {"brevantrix_plc.id": "1", "brevantrix_plc.kind": "1", "brevantrix_plc.address": "2000",
      "brevantrix_plc.count": "500"}),
    (udp_frame(struct.pack("<6HI", 2, 2, 8, 0, 16, 4, 123456), 40001, 55559),
     {"brevantrix_plc.kind": "2", "brevantrix_plc.value": "123456"}),
    (udp_frame(struct.pack("<6H", 3, 3, 4, 0, 10, 31), 40001, 55559),
     {"brevantrix_plc.kind": "3", "brevantrix_plc.count": "31"}),
    (from_module(struct.pack("<HBBHH", 1, 0x40, 0, 1, 3) + b"abc", 40001, src_port=55559),
     {"brevantrix_plc.status.success": "1", "brevantrix_plc.data": "616263",
      "brevantrix_plc.data_length": "3"}),
    (from_module(struct.pack("<HBBHH", 1, 0x85, 0, 1, 0), 40001, src_port=55559),
     {"brevantrix_plc.status.error": "1", "brevantrix_plc.status.code": "5"}),
]

# Malformed frames: each must be marked malformed and decode without a dissector error.
MALFORMED = [
    from_module(packet(0x61, struct.pack("!I", 4711), length=16), 44544),  # length beyond data
    from_module(packet(0x79, b"\x02\x00\x00"), 44547),                   # short neighbours
    from_module(packet(0x1F, b"\0\0\0\1"), 34531),                       # record under 8 bytes
    raw_frame(0x804A)[:20],                                               # cut line command
    from_module(struct.pack("<HB", 1, 0x40) + b"\0", 40001, src_port=55559),  # short answer
    udp_frame(struct.pack("<6H", 4, 2, 4, 0, 16, 3), 40001, 55559),     # value of 3 bytes
    from_module(b"\1\2\3", 40000, src_port=55557),                       # odd flash image
    from_module(packet(0x58, record(1, "10.0.0.1") + b"\0\0"), 34531),   # record list rest
]

# Other traffic on the same ports: left to other dissectors.
FOREIGN = [
    udp_frame(b"\x10\x01\x00\x00" + b"\0" * 12, 12345, 55555),   # byte 1 not zero
    udp_frame(b"\xEE\x00\x00\x00\0\0\0\0", 12345, 55555),        # unknown code
    udp_frame(b"hello world!!", 12345, 55559),                   # not a PLC request
    udp_frame(b"ERGS", 12345, 55557),                            # not the flash request
    udp_frame(packet(0x10), 12345, 5555),                        # other ports
]


def tshark(pcap, *args):
    run = subprocess.run(["tshark", "-n", "-r", pcap, "-X", "lua_script:" + SCRIPT] + list(args),
                         capture_output=True, text=True, timeout=120)
    if run.returncode != 0:
        raise AssertionError("tshark failed: " + run.stderr)
    if "Lua" in run.stderr or "Error" in run.stderr:
        raise AssertionError("dissector error: " + run.stderr)
    return run.stdout


class Dissector(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="dissector-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def decode(self, frames, fields):
        pcap = os.path.join(self.folder, "frames.pcap")
        write_pcap(pcap, frames)
        args = ["-T", "fields", "-E", "separator=|", "-E", "occurrence=a", "-E", "aggregator=,"]
        for field in fields:
            args += ["-e", field]
        lines = tshark(pcap, *args).splitlines()
        self.assertEqual(len(lines), len(frames))
        return [dict(zip(fields, line.split("|"))) for line in lines], pcap

    def test_every_packet_decodes_into_its_fields(self):
        for number, (frame, expected) in enumerate(CASES, 1):
            with self.subTest(frame=number):
                rows, pcap = self.decode([frame], list(expected) + ["_ws.expert"])
                for field, value in expected.items():
                    self.assertEqual(rows[0][field], value, field)
                self.assertEqual(rows[0]["_ws.expert"], "", "no expert item on a sound frame")

    def test_malformed_frames_are_marked_malformed(self):
        rows, pcap = self.decode(MALFORMED, ["_ws.malformed", "_ws.expert.group", "frame.protocols"])
        for number, row in enumerate(rows, 1):
            with self.subTest(frame=number):
                self.assertIn("brevantrix", row["frame.protocols"])
                # expert.group 0x07000000 is "Malformed"
                self.assertIn("117440512", row["_ws.expert.group"].split(","))

    def test_other_traffic_on_the_ports_is_left_alone(self):
        rows, pcap = self.decode(FOREIGN, ["frame.protocols"])
        for number, row in enumerate(rows, 1):
            with self.subTest(frame=number):
                self.assertNotIn("brevantrix", row["frame.protocols"])


if __name__ == "__main__":
    if shutil.which("tshark") is None:
        print("tshark is not installed")
        sys.exit(77)
    unittest.main()
