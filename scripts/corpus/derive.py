#!/usr/bin/env python3
"""Writes the derived test captures next to the real ones.

  derive.py DIR

Reads DIR/g711u-sip-udp.pcap (tcpdump, classic, little-endian, microseconds) and
DIR/l16-sip-tcp.pcapng (dumpcap, nanosecond if_tsresol) and writes the variants that real
tools do not produce on demand: loss and reordering, big-endian files, null link headers,
VLAN-tagged and IPv6 frames, truncated files and absurd length fields, a capture across
midnight, and two synthetic captures (more than 256 streams; decoder edge cases).
Everything is deterministic: running it twice gives the same bytes.
"""

import calendar
import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pcaplib  # noqa: E402
from pcaplib import Capture, Packet, rtp_header, udp_ipv4_frame  # noqa: E402

CALL_UDP = "g711u-sip-udp.pcap"
CALL_TCP = "l16-sip-tcp.pcapng"


def udp_ports(frame):
    """(sport, dport) of an Ethernet/IPv4/UDP frame, or None."""
    if len(frame) < 42 or frame[12:14] != b"\x08\x00" or frame[23] != 17:
        return None
    ihl = (frame[14] & 0x0F) * 4
    return struct.unpack(">HH", frame[14 + ihl:14 + ihl + 4])


def stream_indices(cap, sport, dport):
    return [i for i, p in enumerate(cap.packets) if udp_ports(p.data) == (sport, dport)
            and p.data[42 + 1] not in (200, 201, 202, 203, 204, 207)]


def copy_capture(cap, packets=None):
    c = Capture()
    c.format, c.endian, c.nanosecond = cap.format, cap.endian, cap.nanosecond
    c.linktype, c.snaplen = cap.linktype, cap.snaplen
    c.packets = list(cap.packets if packets is None else packets)
    return c


def lost_reordered(cap, path):
    """Drops three packets of the caller's stream (one alone, two in a row) and swaps two
    pairs of the callee's stream (frames swapped, timestamps kept in file order, as a capture
    sees late arrivals)."""
    fwd = stream_indices(cap, 20000, 30000)
    back = stream_indices(cap, 30000, 20000)
    drop = {fwd[10], fwd[40], fwd[41]}
    pkts = [Packet(p.ts_ns, p.data, p.orig_len) for p in cap.packets]
    for a, b in ((back[20], back[21]), (back[60], back[62])):
        pkts[a].data, pkts[b].data = pkts[b].data, pkts[a].data
        pkts[a].orig_len, pkts[b].orig_len = pkts[b].orig_len, pkts[a].orig_len
    out = copy_capture(cap, [p for i, p in enumerate(pkts) if i not in drop])
    pcaplib.write_classic(path, out)


def null_link(cap, path):
    pkts = [Packet(p.ts_ns, b"\x02\x00\x00\x00" + p.data[14:], p.orig_len - 10) for p in cap.packets]
    out = copy_capture(cap, pkts)
    pcaplib.write_classic(path, out, linktype=pcaplib.LINKTYPE_NULL)


def udp6_checksum(src, dst, udp):
    data = src + dst + struct.pack(">IxxxB", len(udp), 17) + udp
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack(">%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return (~s) & 0xFFFF or 0xFFFF


def vlan_ipv6(cap, path):
    """After every fifth packet of the caller's stream, inserts 1 us later a VLAN-tagged copy
    (VLAN 100, ports 26000 -> 36000) and an IPv6 copy (fd00::10 -> fd00::20, ports
    26002 -> 36002) of the same RTP packet. The reader decodes both kinds: two streams
    more than the original call."""
    fwd = set(stream_indices(cap, 20000, 30000)[::5])
    src6 = bytes.fromhex("fd000000000000000000000000000010")
    dst6 = bytes.fromhex("fd000000000000000000000000000020")
    pkts = []
    for i, p in enumerate(cap.packets):
        pkts.append(p)
        if i not in fwd:
            continue
        rtp = p.data[42:]
        udp = bytearray(struct.pack(">HHHH", 26000, 36000, 8 + len(rtp), 0) + rtp)
        ip = bytearray(p.data[14:34])
        ip[10:12] = b"\0\0"
        ip[10:12] = struct.pack(">H", pcaplib.ip_checksum(ip))
        vlan = b"\0" * 12 + b"\x81\x00" + struct.pack(">H", 100) + b"\x08\x00" + bytes(ip) + bytes(udp)
        pkts.append(Packet(p.ts_ns + 1000, vlan))
        udp = bytearray(struct.pack(">HHHH", 26002, 36002, 8 + len(rtp), 0) + rtp)
        struct.pack_into(">H", udp, 6, udp6_checksum(src6, dst6, bytes(udp)))
        ip6 = struct.pack(">IHBB", 0x60000000, len(udp), 17, 64) + src6 + dst6
        pkts.append(Packet(p.ts_ns + 2000, b"\0" * 12 + b"\x86\xdd" + ip6 + bytes(udp)))
    pcaplib.write_classic(path, copy_capture(cap, pkts))


def truncate_classic(src, path):
    """Cuts the file in the middle of the frame bytes of a record about half way through."""
    raw = open(src, "rb").read()
    _, recs = pcaplib.record_offsets(raw)
    off, length = recs[len(recs) // 2]
    open(path, "wb").write(raw[:off + 16 + (length - 16) // 2])


def bad_record_length(src, path):
    """Sets the captured length of a record about half way through to 0x7FFFFFF0; the
    records after it are still in the file but can no longer be reached."""
    raw = bytearray(open(src, "rb").read())
    e, recs = pcaplib.record_offsets(bytes(raw))
    off, _ = recs[len(recs) // 2]
    struct.pack_into(e + "I", raw, off + 8, 0x7FFFFFF0)
    open(path, "wb").write(raw)


def midnight(cap, path):
    """Moves the capture so that its first packet is at 23:59:58.000000 UTC: the call crosses
    midnight two seconds in."""
    start = calendar.timegm((2026, 12, 5, 23, 59, 58)) * 1_000_000_000
    shift = start - cap.packets[0].ts_ns
    pkts = [Packet(p.ts_ns + shift, p.data, p.orig_len) for p in cap.packets]
    pcaplib.write_classic(path, copy_capture(cap, pkts))


def pcapng_epbs(raw):
    e, blocks = pcaplib.block_offsets(raw)
    return e, [b for b in blocks if b[1] == 6]


def truncate_pcapng(src, path):
    raw = open(src, "rb").read()
    _, epbs = pcapng_epbs(raw)
    off, _, length = epbs[len(epbs) // 2]
    open(path, "wb").write(raw[:off + length // 2])


def bad_block_length(src, path, value):
    """Overwrites the total length (header and trailer copy) of an Enhanced Packet Block about
    half way through."""
    raw = bytearray(open(src, "rb").read())
    e, epbs = pcapng_epbs(bytes(raw))
    off, _, length = epbs[len(epbs) // 2]
    struct.pack_into(e + "I", raw, off + 4, value)
    struct.pack_into(e + "I", raw, off + length - 4, value)
    open(path, "wb").write(raw)


def many_streams(path, count=300, packets=3):
    """count PCMU streams (127.0.2.1:10000+2i -> 127.0.2.2:40000+2i, SSRC 0x5000+i), each of
    `packets` packets of 80 bytes (10 ms), sent round-robin: every 10 ms each stream sends
    one packet, the streams 0.02 ms apart."""
    cap = Capture()
    t0 = calendar.timegm((2026, 12, 1, 9, 0, 0)) * 1_000_000_000
    payload = bytes([0xFF]) * 80
    for k in range(packets):
        for i in range(count):
            rtp = rtp_header(0, 1000 + k, 8000 * i + 80 * k, 0x5000 + i, marker=int(k == 0)) + payload
            frame = udp_ipv4_frame("127.0.2.1", "127.0.2.2", 10000 + 2 * i, 40000 + 2 * i, rtp,
                                   ident=k * count + i)
            cap.packets.append(Packet(t0 + k * 10_000_000 + i * 20_000, frame))
    pcaplib.write_classic(path, cap)


def edge_cases(path):
    """Hand-built frames for the decoder's acceptance rules, each kind on its own ports, in
    one classic file (Ethernet II, zero MACs). Which frames are RTP for the reader is listed
    in the corpus README; the tshark reference lists exactly those."""
    cap = Capture()
    t = [calendar.timegm((2026, 12, 1, 10, 0, 0)) * 1_000_000_000]
    a, b = "127.0.3.1", "127.0.3.2"
    pcmu = bytes(range(0x80, 0xD0)) * 2  # 160 bytes

    def add(frame, orig_len=None):
        cap.packets.append(Packet(t[0], frame, orig_len))
        t[0] += 20_000_000

    def rtp(pt, seq, ssrc, **kw):
        return rtp_header(pt, seq, seq * 160, ssrc, **kw)

    # 1-3 plain PCMU (baseline stream)
    for s in range(3):
        add(udp_ipv4_frame(a, b, 5004, 6000, rtp(0, s, 0xE0000001) + pcmu))
    # 4-6 three CSRC identifiers: payload starts 12 bytes later and is 12 bytes shorter
    for s in range(3):
        add(udp_ipv4_frame(a, b, 5006, 6002, rtp(8, s, 0xE0000002, csrcs=(0x11, 0x22, 0x33)) + pcmu))
    # 7 destination port 999: below 1000, not RTP
    add(udp_ipv4_frame(a, b, 5008, 999, rtp(0, 7, 0xE0000003) + pcmu))
    # 8 source port 999
    add(udp_ipv4_frame(a, b, 999, 6004, rtp(0, 8, 0xE0000004) + pcmu))
    # 9 port 1000 to port 1000: can be RTP
    add(udp_ipv4_frame(a, b, 1000, 1000, rtp(0, 9, 0xE0000005) + pcmu))
    # 10-11 second byte 205 and 206 (marker 1, PT 77 / 78): not excluded, RTP
    add(udp_ipv4_frame(a, b, 5010, 6006, rtp(77, 10, 0xE0000006, marker=1) + pcmu))
    add(udp_ipv4_frame(a, b, 5010, 6006, rtp(78, 11, 0xE0000006, marker=1) + pcmu))
    # 12-17 second byte 200, 201, 202, 203, 204, 207 on an RTP port pair: RTCP, skipped
    for second in (200, 201, 202, 203, 204, 207):
        add(udp_ipv4_frame(a, b, 5012, 6008, rtp(second - 128, 12, 0xE0000007, marker=1) + pcmu[:20]))
    # 18 RTP version 1: not RTP
    add(udp_ipv4_frame(a, b, 5014, 6010, rtp(0, 18, 0xE0000008, version=1) + pcmu))
    # 19 padding and extension bits set: both only recorded, the extension header and the
    #    padding count as payload
    ext = struct.pack(">HH", 0xBEDE, 1) + b"\x10\xAA\x00\x00"
    add(udp_ipv4_frame(a, b, 5016, 6012,
                       rtp(0, 19, 0xE0000009, padding=1, extension=1) + ext + pcmu + b"\0\0\0\x04"))
    # 20 snapshot length cut the frame: UDP length says 20 + 160 but 40 payload bytes were
    #    captured; the payload length comes from the UDP length
    full = udp_ipv4_frame(a, b, 5018, 6014, rtp(0, 20, 0xE000000A) + pcmu)
    add(full[:42 + 12 + 40], orig_len=len(full))
    # 21 UDP payload of 8 bytes: too short for the RTP fixed header
    add(udp_ipv4_frame(a, b, 5020, 6016, rtp(0, 21, 0xE000000B)[:8]))
    # 22 CSRC count 15 but the record ends after two CSRC identifiers
    add(udp_ipv4_frame(a, b, 5022, 6018, rtp(0, 22, 0xE000000C, csrcs=(1,) * 15)[:12 + 8]))
    # 23 ICMP port unreachable quoting an RTP packet: not UDP at the outer level
    inner = udp_ipv4_frame(a, b, 5024, 6020, rtp(0, 23, 0xE000000D) + pcmu[:20])[14:]
    icmp = bytearray(b"\x03\x03\x00\x00\x00\x00\x00\x00" + inner)
    struct.pack_into(">H", icmp, 2, pcaplib.ip_checksum(icmp + b"\0" * (len(icmp) % 2)))
    iph = bytearray(struct.pack(">BBHHHBBH4s4s", 0x45, 0xC0, 20 + len(icmp), 0, 0, 64, 1, 0,
                                pcaplib.ipv4_addr(b), pcaplib.ipv4_addr(a)))
    struct.pack_into(">H", iph, 10, pcaplib.ip_checksum(iph))
    add(b"\0" * 12 + b"\x08\x00" + bytes(iph) + bytes(icmp))
    # 24 a SIP MESSAGE with an SDP body between two high ports: the SDP is parsed, the
    #    datagram is not RTP (its second byte is not a plausible header; version bits 01)
    body = (b"v=0\r\no=- 1 1 IN IP4 127.0.3.1\r\ns=-\r\nc=IN IP4 127.0.3.1\r\nt=0 0\r\n"
            b"m=audio 5026 RTP/AVP 0\r\n")
    sip = (b"MESSAGE sip:bob@127.0.3.2 SIP/2.0\r\nContent-Type: application/sdp\r\n"
           b"Content-Length: %d\r\n\r\n" % len(body)) + body
    add(udp_ipv4_frame(a, b, 5026, 6022, sip))
    # 25-26 the baseline stream goes on
    for s in (3, 4):
        add(udp_ipv4_frame(a, b, 5004, 6000, rtp(0, s, 0xE0000001) + pcmu))
    pcaplib.write_classic(path, cap)


def ipv4_options(path):
    """Three PCMU packets whose IPv4 header carries a Router Alert option (IHL 6): the UDP
    header starts 24 bytes into the IPv4 header, not 20."""
    cap = Capture()
    t0 = calendar.timegm((2026, 12, 1, 11, 0, 0)) * 1_000_000_000
    for s in range(3):
        rtp = rtp_header(0, 100 + s, 160 * s, 0xE1000001) + bytes([0xFF]) * 160
        udp = struct.pack(">HHHH", 5030, 6030, 8 + len(rtp), 0) + rtp
        iph = bytearray(struct.pack(">BBHHHBBH4s4s", 0x46, 0, 24 + len(udp), s, 0x4000, 64, 17, 0,
                                    pcaplib.ipv4_addr("127.0.3.1"), pcaplib.ipv4_addr("127.0.3.2"))
                        + b"\x94\x04\x00\x00")
        struct.pack_into(">H", iph, 10, pcaplib.ip_checksum(iph))
        cap.packets.append(Packet(t0 + s * 20_000_000, b"\0" * 12 + b"\x08\x00" + bytes(iph) + udp))
    pcaplib.write_classic(path, cap)


def main():
    d = sys.argv[1]
    p = lambda name: os.path.join(d, name)  # noqa: E731
    udp_call = pcaplib.read(p(CALL_UDP))
    tcp_call = pcaplib.read(p(CALL_TCP))

    lost_reordered(udp_call, p("g711u-sip-udp-lost-reordered.pcap"))
    pcaplib.write_classic(p("g711u-sip-udp-bigendian.pcap"), udp_call, endian=">")
    null_link(udp_call, p("g711u-sip-udp-nulllink.pcap"))
    vlan_ipv6(udp_call, p("g711u-sip-udp-vlan-ipv6.pcap"))
    truncate_classic(p(CALL_UDP), p("g711u-sip-udp-truncated.pcap"))
    bad_record_length(p(CALL_UDP), p("g711u-sip-udp-badreclen.pcap"))
    midnight(udp_call, p("g711u-sip-udp-midnight.pcap"))

    pcaplib.write_pcapng(p("l16-sip-tcp-bigendian.pcapng"), tcp_call, endian=">", tsresol_exp=9)
    pcaplib.write_pcapng(p("l16-sip-tcp-usec.pcapng"), tcp_call, tsresol_exp=6)
    pcaplib.write_pcapng(p("g711u-sip-udp-tsresol-pow2.pcapng"), udp_call, tsresol_exp=0x94)
    pcaplib.write_classic(p("l16-sip-tcp-bigendian-nsec.pcap"), tcp_call, endian=">", nanosecond=True)
    truncate_pcapng(p(CALL_TCP), p("l16-sip-tcp-truncated.pcapng"))
    bad_block_length(p(CALL_TCP), p("l16-sip-tcp-badblocklen.pcapng"), 0x7FFFFFF0)
    bad_block_length(p(CALL_TCP), p("l16-sip-tcp-zeroblocklen.pcapng"), 0)

    header_only = copy_capture(udp_call, [])
    pcaplib.write_classic(p("header-only.pcap"), header_only)
    pcaplib.write_pcapng(p("header-only.pcapng"), header_only, tsresol_exp=9)

    many_streams(p("many-streams-300.pcap"))
    edge_cases(p("rtp-edge-cases.pcap"))
    ipv4_options(p("ipv4-options.pcap"))


if __name__ == "__main__":
    main()
