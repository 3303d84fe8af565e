#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets into tests/fuzz/corpus/.

Each target's input layout is described at the top of its tests/fuzz/fuzz_<name>.cpp.
Run it again after changing a layout; the files are committed.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


assert crc16(b"123456789") == 0xBB3D


def frame(data):
    """A reply frame: the data and its CRC, high byte first."""
    c = crc16(data)
    return bytes(data) + bytes([c >> 8, c & 0xFF])


ACK = frame(b"\xB5")
NAK = frame(b"\xB6")


def script(*replies):
    """The fake line's script: each reply behind its length byte."""
    out = b""
    for r in replies:
        assert len(r) < 0xFF
        out += bytes([len(r)]) + r
    return out


def block(seed):
    """A 64-byte configuration block with its CRC word (low byte first)."""
    b = bytes((seed + i) & 0xFF for i in range(62))
    c = crc16(b)
    return b + bytes([c & 0xFF, c >> 8])


IDENTITY = bytes([2, 5, 14, 1]) + struct.pack("<I", 31536000) + b"NV00012345"


def event(start, duration, flags, reading):
    return struct.pack("<IHBh", start, duration, flags, reading)


EVENTS = (event(9000, 90, 0x04, 255) + event(5000, 0x803C, 0x00, -5) + event(7000, 3600, 0x0C, 0x7FFF)
          + b"\xFF" * 9)


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


# ---- fuzz_reply: [n][reply n][count-1][params]...[line mode][script]
def reply_params(log_mode, handler, typical_index, opcode, timeout=254):
    mode = log_mode | (4 if handler else 0) | (3 << 3)
    return bytes([mode, typical_index, opcode, 0, 0, timeout])


write("reply", "ack", bytes([3]) + ACK + b"\x00" + reply_params(0, True, 0, 0xB2) + b"\x00" + script(ACK))
write("reply", "nak", bytes([3]) + NAK + b"\x00" + reply_params(0, True, 0, 0x5F) + b"\x00" + script(NAK))
write("reply", "wrongack", bytes([3]) + b"\xB5\xB7\x00" + b"\x00" + reply_params(1, False, 0, 0x70) + b"\x00"
      + script(b"\xB5\xB7\x00"))
write("reply", "identity", bytes([20]) + frame(IDENTITY) + b"\x00" + reply_params(0, True, 3, 0xA0) + b"\x00"
      + script(frame(IDENTITY)))
packet = frame(block(7)[:32])
write("reply", "packet_in_pieces", bytes([34]) + packet + b"\x01" + reply_params(0, True, 4, 0x81)
      + reply_params(2, True, 0, 0x00) + b"\x05" + script(packet, ACK))

# ---- fuzz_handshake: [line mode][script]
write("handshake", "ack", b"\x00" + script(ACK, ACK, ACK))
write("handshake", "echo_then_ack", b"\x00" + script(b"", b"", frame(b"\xB2") + ACK, ACK, ACK))
write("handshake", "damaged_then_ack", b"\x00" + script(b"\xB5\xB7\x00", b"\xB5", ACK, NAK, ACK))
write("handshake", "in_pieces", b"\x02" + script(b"\x00\x00\x00" + ACK, ACK, ACK))

# ---- fuzz_commands: [line mode][count-1][which A B C D]...[script]


def command(which, a=0, b=0, c=0, d=0):
    return struct.pack("<BHHHB", which, a, b, c, d)


unit = block(1)
sensor = block(65)
write("commands", "read_config", b"\x80\x02" + command(4) + command(0, 32, 64) + command(1, 32, 64)
      + script(frame(IDENTITY), ACK, frame(unit[:32]), frame(unit[32:]), ACK, frame(sensor[:32]),
               frame(sensor[32:]), ACK))
log = EVENTS + b"\xFF" * (32 - len(EVENTS) % 32)
write("commands", "event_log", b"\x80\x00" + command(2, 32, 9, 100)
      + script(ACK, frame(struct.pack("<i", len(EVENTS))), frame(log[:32]), frame(log[32:64]), ACK))
eeprom = bytes(range(64))
write("commands", "eeprom", b"\x00\x00" + command(3, 32, 0, 64)
      + script(ACK, ACK, frame(eeprom[:32]), ACK))
write("commands", "write_config", b"\x80\x01" + command(4 + 5 * 2, 0, 8) + command(4 + 5 * 3, 0x01E1, 0x3380)
      + script(ACK, ACK, ACK, ACK, ACK, ACK, ACK))
write("commands", "upgrade_block", b"\x00\x00" + command(4 + 5 * 4, 0, 128, 0, 1) + script(ACK, ACK, ACK))

# ---- fuzz_cfg_file: the file
SIZES = {1: 92, 2: 96, 3: 100, 4: 112, 5: 112, 6: 116, 7: 116, 8: 128}


def cfg_header(version, layout=1):
    return struct.pack("<i4sdB7s", version, b"\x00" * 4, 43891.5, layout, b"\x00" * 7)


for v, n in SIZES.items():
    payload = bytearray((i * 3 + v) & 0xFF for i in range(n))
    payload[0] = 1  # unit flag
    write("cfg_file", "version%d.cfg" % v, cfg_header(v) + bytes(payload))
write("cfg_file", "version9.cfg", cfg_header(9) + b"\x00" * 128)
write("cfg_file", "short.cfg", cfg_header(7) + b"\x00" * 40)


# ---- fuzz_firmware: [flags][packet size u16][packets u16][file]
def image(packets, size, product=2, sw=14, hw=5, min_sw=10, min_hw=1):
    body = bytearray((i * 7) & 0xFF for i in range(packets * size))
    body[2:7] = bytes([product, sw, hw, min_sw, min_hw])
    c = crc16(body[2:])
    body[0:2] = bytes([c & 0xFF, c >> 8])
    return bytes(body)


write("firmware", "image_8x64", b"\x00" + struct.pack("<HH", 64, 8) + image(8, 64))
write("firmware", "fitted_4x128", b"\x01" + struct.pack("<HH", 127, 0) + image(4, 128))
write("firmware", "wrong_product", b"\x03" + struct.pack("<HH", 31, 0) + image(2, 32, product=3))
write("firmware", "one_short", b"\x00" + struct.pack("<HH", 64, 8) + image(8, 64)[:-1])

# ---- fuzz_settings: [flags][text]
DEVELOPER = b"""[Environment]
ModeEntry=QWZ_ENG__
ConnectTime=3000
AVOperate=1000

[SENSOR]
H2S=1, ppm, SH, 180, 0, 100
CO=2, ppm, SC, 180, 0, 300
O2=4, %, SO, 60, 0, 30
NH3=9,ppm,N,120,50,40

[UNIT]
PacketSize=32
UnitDataSize=64
SensorDataSize=64
UnitWriteUserStart=1
UnitWriteUserSize=8
SensorWriteUserStart=65
SensorWriteUserSize=10

[EEPROM]
PacketSize=32
MaxAddress=1024
ReadStartAddress=0

[FLASH]
PacketSize=128
MaxAddress=128
DownloadRetry=3
Retry=3

[EVENT]
ReadPacketSize=32
PacketSize=9

[Logging]
Interval=3
ConnectTime=1000

[Calibration]
CalibrationTime=180
CalibrationCheckTime=5

[ETC]
LogEnable=1
""".replace(b"\n", b"\r\n")
write("settings", "OPTAVO.INI", b"\x00" + DEVELOPER)
write("settings", "user_layout.ini", b"\x00" + b"[Environment]\nModeEntry=USER\nConnectTime=10000\n[ETC]\nLogEnable=yes\n")
write("settings", "with_store", b"\x01" + b"[SENSOR]\nCO=2,ppm,SC,180,0,0.05\n" + b"\x00" + b"/tmp/missing.img"
      + b"\x00" + b"/home/user/logs" + b"\x00" + b"CO")

# ---- fuzz_event_log: [count u32][stride u16][when][cfg 128][bytes]
cfg = bytearray(128)
cfg[1:7] = b"ABC   "
cfg[16:26] = b"SH10000000"
cfg[35] = 14
cfg[36:40] = struct.pack("<I", 1000)
write("event_log", "three_events", struct.pack("<IHB", len(EVENTS), 9, 120) + bytes(cfg) + EVENTS)
write("event_log", "empty_log", struct.pack("<IHB", 9, 9, 120) + bytes(cfg) + b"\xFF" * 9)
write("event_log", "ragged", struct.pack("<IHB", 95, 9, 200) + bytes(cfg) + EVENTS * 3)

# ---- fuzz_actions: [flags][count-1][action]...[script]
read_config = [frame(IDENTITY), ACK, frame(unit[:32]), frame(unit[32:]), ACK, frame(sensor[:32]),
               frame(sensor[32:])]
write("actions", "read_device", b"\x00\x00" + bytes([0]) + script(ACK, *read_config, ACK))
write("actions", "identify_then_read", b"\x40\x01" + bytes([2, 0]) + script(ACK, frame(IDENTITY), ACK, ACK,
                                                                            *read_config, ACK))
write("actions", "event_log", b"\x00\x00" + bytes([3]) + script(
    ACK, *read_config, frame(IDENTITY), ACK, frame(struct.pack("<i", len(EVENTS))), frame(log[:32]),
    frame(log[32:64]), ACK))
write("actions", "eeprom", b"\x00\x00" + bytes([4]) + script(
    ACK, ACK, ACK, *[frame(bytes((p * 32 + i) & 0xFF for i in range(32))) for p in range(31)], ACK))
write("actions", "upgrade", b"\x00\x00" + bytes([11]) + script(
    ACK, frame(IDENTITY), ACK,                  # the check
    ACK, ACK, ACK, ACK, ACK, ACK, ACK, ACK))    # start, 2 x (0x91, block), execute, end
write("actions", "hibernate_yes", b"\x00\x00" + bytes([0x89]) + script(ACK, *read_config, ACK, ACK))
