"""Small reader and writer for classic pcap and pcapng files (Python standard library only).

Used by the corpus scripts to derive test captures from real ones and to cross-check
tshark's view of them. Only what those scripts need: classic files in both byte orders
with microsecond or nanosecond timestamps, and pcapng Section Header, Interface
Description and Enhanced Packet Blocks (other blocks are carried through as raw bytes).
"""

import struct

CLASSIC_MAGIC_US = 0xA1B2C3D4
CLASSIC_MAGIC_NS = 0xA1B23C4D
PCAPNG_SHB = 0x0A0D0D0A
PCAPNG_BOM = 0x1A2B3C4D

LINKTYPE_NULL = 0
LINKTYPE_ETHERNET = 1


class Packet:
    """One captured frame: timestamp in nanoseconds since the epoch and the frame bytes."""

    __slots__ = ("ts_ns", "data", "orig_len", "interface")

    def __init__(self, ts_ns, data, orig_len=None, interface=0):
        self.ts_ns = ts_ns
        self.data = bytes(data)
        self.orig_len = len(data) if orig_len is None else orig_len
        self.interface = interface


class Capture:
    """The packets of one file plus what is needed to write it back."""

    def __init__(self):
        self.format = "pcap"      # "pcap" or "pcapng"
        self.endian = "<"         # "<" little-endian file, ">" big-endian file
        self.nanosecond = False   # classic: nanosecond magic; pcapng: if_tsresol 9
        self.linktype = LINKTYPE_ETHERNET
        self.snaplen = 262144
        self.packets = []
        self.records = 0          # classic records or pcapng blocks of all types
        self.tsresol = []         # pcapng: per interface, ticks per second


def read(path):
    with open(path, "rb") as f:
        raw = f.read()
    if len(raw) < 24:
        raise ValueError("%s: too short for a capture header" % path)
    be_magic = struct.unpack(">I", raw[:4])[0]
    if be_magic == PCAPNG_SHB:
        return _read_pcapng(raw)
    return _read_classic(raw, path)


def _read_classic(raw, path):
    cap = Capture()
    for endian in ("<", ">"):
        magic = struct.unpack(endian + "I", raw[:4])[0]
        if magic in (CLASSIC_MAGIC_US, CLASSIC_MAGIC_NS):
            cap.endian = endian
            cap.nanosecond = magic == CLASSIC_MAGIC_NS
            break
    else:
        raise ValueError("%s: unknown magic" % path)
    _, _, _, _, cap.snaplen, cap.linktype = struct.unpack(cap.endian + "HHiIII", raw[4:24])
    pos = 24
    unit = 1 if cap.nanosecond else 1000
    while pos + 16 <= len(raw):
        sec, frac, incl, orig = struct.unpack(cap.endian + "IIII", raw[pos:pos + 16])
        if pos + 16 + incl > len(raw):
            break
        cap.packets.append(Packet(sec * 1_000_000_000 + frac * unit,
                                  raw[pos + 16:pos + 16 + incl], orig))
        cap.records += 1
        pos += 16 + incl
    return cap


def _read_pcapng(raw):
    cap = Capture()
    cap.format = "pcapng"
    bom_be = struct.unpack(">I", raw[8:12])[0]
    cap.endian = ">" if bom_be == PCAPNG_BOM else "<"
    e = cap.endian
    pos = 0
    section = []  # ticks per second of each interface of the current section
    while pos + 12 <= len(raw):
        btype, blen = struct.unpack(e + "II", raw[pos:pos + 8])
        if blen < 12 or pos + blen > len(raw):
            break
        body = raw[pos + 8:pos + blen - 4]
        cap.records += 1
        if btype == PCAPNG_SHB:  # a new section numbers its interfaces from 0 again
            section = []
        elif btype == 1:  # Interface Description Block
            linktype, _, snaplen = struct.unpack(e + "HHI", body[:8])
            cap.linktype = linktype
            cap.snaplen = snaplen
            section.append(_tsresol(body[8:], e))
            cap.tsresol.append(section[-1])
        elif btype == 6:  # Enhanced Packet Block
            iface, hi, lo, incl, orig = struct.unpack(e + "IIIII", body[:20])
            ticks = (hi << 32) | lo
            per_sec = section[iface] if iface < len(section) else 1_000_000
            ts_ns = ticks * 1_000_000_000 // per_sec
            cap.packets.append(Packet(ts_ns, body[20:20 + incl], orig, iface))
        pos += blen
    cap.nanosecond = bool(cap.tsresol) and cap.tsresol[0] == 1_000_000_000
    return cap


def _tsresol(options, e):
    pos = 0
    while pos + 4 <= len(options):
        code, length = struct.unpack(e + "HH", options[pos:pos + 4])
        if code == 0:
            break
        if code == 9 and length >= 1:
            v = options[pos + 4]
            return 2 ** (v & 0x7F) if v & 0x80 else 10 ** v
        pos += 4 + ((length + 3) & ~3)
    return 1_000_000


def write_classic(path, cap, endian="<", nanosecond=False, linktype=None):
    """Writes the packets as a classic pcap file in the given byte order and resolution."""
    e = endian
    magic = CLASSIC_MAGIC_NS if nanosecond else CLASSIC_MAGIC_US
    lt = cap.linktype if linktype is None else linktype
    out = [struct.pack(e + "IHHiIII", magic, 2, 4, 0, 0, cap.snaplen, lt)]
    for p in cap.packets:
        sec, rem = divmod(p.ts_ns, 1_000_000_000)
        frac = rem if nanosecond else rem // 1000
        out.append(struct.pack(e + "IIII", sec, frac, len(p.data), max(p.orig_len, len(p.data))))
        out.append(p.data)
    with open(path, "wb") as f:
        f.write(b"".join(out))


def _option(e, code, value):
    pad = (-len(value)) % 4
    return struct.pack(e + "HH", code, len(value)) + value + b"\0" * pad


def _block(e, btype, body):
    body = body + b"\0" * ((-len(body)) % 4)
    length = len(body) + 12
    return struct.pack(e + "II", btype, length) + body + struct.pack(e + "I", length)


def pcapng_bytes(cap, endian="<", tsresol_exp=9, if_name=b"lo", shb_comment=None):
    """Returns a pcapng image: one SHB, one IDB with the if_tsresol option byte tsresol_exp
    (10^-n seconds, or 2^-(n & 0x7F) when the top bit is set), the EPBs."""
    e = endian
    shb_opts = b""
    if shb_comment:
        shb_opts += _option(e, 1, shb_comment.encode())
    shb_opts += _option(e, 4, b"fennik corpus script") + struct.pack(e + "HH", 0, 0)
    out = [_block(e, PCAPNG_SHB, struct.pack(e + "IHHq", PCAPNG_BOM, 1, 0, -1) + shb_opts)]
    idb_opts = _option(e, 2, if_name) + _option(e, 9, bytes([tsresol_exp])) + struct.pack(e + "HH", 0, 0)
    out.append(_block(e, 1, struct.pack(e + "HHI", cap.linktype, 0, cap.snaplen) + idb_opts))
    per_sec = 2 ** (tsresol_exp & 0x7F) if tsresol_exp & 0x80 else 10 ** tsresol_exp
    for p in cap.packets:
        ticks = p.ts_ns * per_sec // 1_000_000_000
        body = struct.pack(e + "IIIII", 0, ticks >> 32, ticks & 0xFFFFFFFF, len(p.data),
                           max(p.orig_len, len(p.data))) + p.data
        out.append(_block(e, 6, body))
    return b"".join(out)


def write_pcapng(path, cap, endian="<", tsresol_exp=9, **kw):
    with open(path, "wb") as f:
        f.write(pcapng_bytes(cap, endian, tsresol_exp, **kw))


def block_offsets(raw):
    """(offset, type, length) of every pcapng block, read in the file's byte order."""
    e = ">" if struct.unpack(">I", raw[8:12])[0] == PCAPNG_BOM else "<"
    pos, out = 0, []
    while pos + 12 <= len(raw):
        btype, blen = struct.unpack(e + "II", raw[pos:pos + 8])
        if blen < 12 or pos + blen > len(raw):
            break
        out.append((pos, btype, blen))
        pos += blen
    return e, out


def record_offsets(raw):
    """(offset, record length) of every classic pcap record."""
    e = "<" if struct.unpack("<I", raw[:4])[0] in (CLASSIC_MAGIC_US, CLASSIC_MAGIC_NS) else ">"
    pos, out = 24, []
    while pos + 16 <= len(raw):
        incl = struct.unpack(e + "I", raw[pos + 8:pos + 12])[0]
        if pos + 16 + incl > len(raw):
            break
        out.append((pos, 16 + incl))
        pos += 16 + incl
    return e, out


# ---- frame building -------------------------------------------------------------------

def ip_checksum(header):
    s = 0
    for i in range(0, len(header), 2):
        s += (header[i] << 8) | header[i + 1]
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return (~s) & 0xFFFF


def ipv4_addr(text):
    return bytes(int(x) for x in text.split("."))


def udp_ipv4_frame(src, dst, sport, dport, payload, ident=0, link="ether", ttl=64):
    """Ethernet II (zero MACs, as Linux loopback captures have) or null-link IPv4/UDP frame."""
    udp = struct.pack(">HHHH", sport, dport, 8 + len(payload), 0) + payload
    iph = bytearray(struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), ident & 0xFFFF, 0x4000,
                                ttl, 17, 0, ipv4_addr(src), ipv4_addr(dst)))
    struct.pack_into(">H", iph, 10, ip_checksum(iph))
    if link == "null":
        head = b"\x02\x00\x00\x00"
    else:
        head = b"\0" * 12 + b"\x08\x00"
    return head + bytes(iph) + udp


def rtp_header(pt, seq, ts, ssrc, marker=0, csrcs=(), padding=0, extension=0, version=2):
    b0 = (version << 6) | (padding << 5) | (extension << 4) | len(csrcs)
    b1 = (marker << 7) | pt
    return struct.pack(">BBHII", b0, b1, seq & 0xFFFF, ts & 0xFFFFFFFF, ssrc) + b"".join(
        struct.pack(">I", c) for c in csrcs)
