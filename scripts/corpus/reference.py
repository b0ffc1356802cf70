#!/usr/bin/env python3
"""Writes tshark's per-packet RTP fields and a description for every capture in a folder.

  reference.py DIR [--check-only]

For each DIR/*.pcap and DIR/*.pcapng:
  <name>.tshark.tsv   one line per RTP packet the reader must report, from tshark
  <name>.meta.json    format, byte order, resolution, record counts, streams, how it was made
and DIR/README.md with the table of all files.

tshark runs with the RTP heuristic on, two passes (so SDP seen in SIP sets up RTP
conversations) and a display filter that states the reader's acceptance rules: IPv4 in
Ethernet II or null link framing (no VLAN tag, no IPv6, not inside ICMP), UDP ports both
1000 or above, RTP version 2, not an RTCP packet type (second byte 200-204 or 207), and a
record long enough for the RTP header and its CSRC list. Every row is cross-checked against
an independent decode of the file written here from the same rules; any disagreement stops
the script.
"""

import collections
import json
import os
import struct
import subprocess
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pcaplib  # noqa: E402

FIELDS = ["frame.number", "frame.time_relative", "ip.src", "ip.dst", "udp.srcport", "udp.dstport",
          "rtp.seq", "rtp.timestamp", "rtp.marker", "rtp.p_type", "rtp.ssrc"]
EXTRA = ["udp.length", "rtp.cc"]
COLUMNS = FIELDS + ["payload_length"]

RULES = ("rtp && ip && !vlan && !ipv6 && !icmp && !_ws.malformed && rtp.version == 2"
         " && udp.srcport >= 1000 && udp.dstport >= 1000"
         " && !(rtp.marker == 1 && ((rtp.p_type >= 72 && rtp.p_type <= 76) || rtp.p_type == 79))")

# Ports that only a decode-as rule makes tshark read as RTP (the heuristic turns down
# payload types outside the audio/video profile's assigned and dynamic ranges).
DECODE_AS = {
    "rtp-edge-cases.pcap": [6000, 6002, 999, 6004, 1000, 6006, 6008, 6010, 6012, 6014, 6016, 6018],
}

REAL_CALL_UDP = ("Real traffic on lo captured by `tcpdump -i lo -U -w` (classic, microseconds, Ethernet "
                 "link type with zero MACs): SIP INVITE/100/200 OK/ACK over UDP 5060 between "
                 "127.0.1.10 and 127.0.1.20 (SDP offer and answer: PCMU/8000 PT 0 and "
                 "telephone-event PT 101), then two ffmpeg `-re` pcm_mulaw RTP senders, 3 s each, "
                 "symmetric ports 20000 <-> 30000 (caller: 440 Hz sine, SSRC 0x1a2b3c4d, first "
                 "sequence number 65480 so it wraps; callee: noise, SSRC 0x2b5e0c11), RTCP SR and "
                 "BYE on 20001/30001, then BYE/200 OK.")
REAL_CALL_TCP = ("Real traffic on lo captured by `dumpcap -i lo -w` (pcapng as dumpcap writes it: "
                 "if_tsresol 9, nanoseconds; SHB, IDB, EPBs, a closing ISB): SIP INVITE/100/200 OK/"
                 "ACK over TCP 5060 (each message one segment) with SDP offering and answering "
                 "PT 96 = L16/8000 (and telephone-event PT 101), two ffmpeg `-re` pcm_s16be senders "
                 "with `-payload_type 96`, 2 s each, symmetric ports 22000 <-> 32000 (320-byte "
                 "payloads), RTCP on 22001/32001, BYE/200 OK over a second TCP connection.")

DESCRIPTIONS = {
    "g726-sip-udp.pcap": (
        "scripts/make-codec-captures, real traffic on lo captured by `tcpdump -i lo -U -B 32768 -w`: "
        "four SIP calls over UDP 5060 (SDP offer and answer: PT 96 = G726-nn/8000 and PT 97 = "
        "AAL2-G726-nn/8000, nn = 16, 24, 32, 40), in call i the caller receiving on 26000 + 10i "
        "and the callee on 36000 + 10i; eight ffmpeg `-re` senders of 1 s of the audio vectors' "
        "test signal (tests/data/audio/source-8k.s16le): from 127.0.1.10:26004 + 10i ffmpeg's "
        "g726le under PT 96, from 127.0.1.20:36004 + 10i ffmpeg's g726 (MSB-first) under PT 97, "
        "`-packetsize` set for 20 ms of code words per packet; RTCP on port + 1; BYE/200 OK.",
        "G.726 at all four rates in both RTP packings, mapped from dynamic payload types by SDP; "
        "asymmetric ports (the stream is matched to SDP by its destination). Reference decodes "
        "of every stream's payload in decoded/."),
    "g722-dvi4-l16-static.pcap": (
        "scripts/make-codec-captures, real traffic on lo captured by `tcpdump -i lo -U -B 32768 -w`, "
        "no SIP: ffmpeg `-re` g722 PT 9 127.0.1.10:27000 -> 127.0.1.20:37000 (1 s, 700 Hz tone, "
        "a 5.1 kHz tone added after 0.5 s for the higher sub-band), ffmpeg `-re` pcm_s16be "
        "stereo 44.1 kHz PT 10 127.0.1.10:27002 -> 127.0.1.20:37002 (0.4 s, 440 Hz left, 660 Hz "
        "right), and IMA-ADPCM DVI4 PT 5 127.0.1.20:37004 -> 127.0.1.10:27004 from "
        "scripts/corpus/dvi4_send.py (1 s of tests/data/audio/source-8k.s16le at half level, "
        "84-byte payloads: 4-byte block header and 160 codes); RTCP of the ffmpeg senders on "
        "port + 1.",
        "Static payload types 9 (G.722 at the RTP clock rate 8000), 5 (DVI4/8000) and 10 (L16 "
        "stereo 44100) without SDP; L16 packets of 1460 and 608 payload bytes. Reference "
        "decodes in decoded/ (ffmpeg for G.722 and L16, the encoder's reconstruction for DVI4)."),
    "g711u-sip-udp.pcap": (
        REAL_CALL_UDP,
        "The baseline: little-endian classic microsecond file, two-direction G.711 u-law call "
        "with SDP over UDP, RTCP interleaved (skipped), SIP not RTP, sequence wrap 65535 -> 0. "
        "Also installed as tests/data/sample.pcap."),
    "g711u-sip-udp-usec.pcapng": (
        "`editcap -F pcapng g711u-sip-udp.pcap` (real tool conversion). editcap writes the IDB "
        "without any option, so if_tsresol is absent and the default (microseconds) applies.",
        "pcapng with microsecond resolution by default (no if_tsresol option): same packets and "
        "times as the classic original."),
    "mixed-tsresol-2if.pcapng": (
        "`mergecap -w mixed-tsresol-2if.pcapng l16-sip-tcp.pcapng g711u-sip-udp-usec.pcapng`: "
        "one section, two IDBs (interface 0: if_tsresol 9 from dumpcap; interface 1: no "
        "if_tsresol, microseconds), packets merged in time order, so the UDP call "
        "(interface 1) comes first and the TCP call (interface 0) minutes later.",
        "Timestamp resolution kept per interface: every EPB is converted through its own "
        "interface; the first EPB refers to the second IDB."),
    "mixed-tsresol-2sections.pcapng": (
        "`cat g711u-sip-udp-usec.pcapng l16-sip-tcp.pcapng`: two sections, each with its own "
        "SHB and an IDB numbered 0 (microseconds by default in the first, if_tsresol 9 in the "
        "second), the first section's last packet minutes before the second's first.",
        "Interface numbering restarts with each Section Header Block; the resolution of "
        "interface 0 changes between sections; packet numbers run on across sections."),
    "header-only.pcap": (
        "derive.py: the 24-byte global header of g711u-sip-udp.pcap and nothing else.",
        "A classic file with no records: opens, yields no packets, no error."),
    "header-only.pcapng": (
        "derive.py: a Section Header Block and an Interface Description Block (if_tsresol 9), "
        "no packet block.",
        "A pcapng file with no packets: opens, yields no packets, no error."),
    "l16-sip-tcp-usec.pcapng": (
        "derive.py: the EPBs of l16-sip-tcp.pcapng rewritten little-endian with one IDB whose "
        "if_tsresol option is present and says 6 (microseconds); times cut to microseconds.",
        "pcapng with an explicit microsecond if_tsresol: same packets as the nanosecond original, "
        "times equal to the microsecond."),
    "g711u-sip-udp-tsresol-pow2.pcapng": (
        "derive.py: g711u-sip-udp.pcap written as pcapng with if_tsresol 0x94 (top bit set: "
        "2^-20 s ticks).",
        "A binary (power of two) if_tsresol: times agree with the original to about 1 us."),
    "l16-sip-tcp.pcapng": (
        REAL_CALL_TCP,
        "pcapng with nanosecond if_tsresol (what dumpcap writes by default), SDP found in TCP "
        "segments, a dynamic payload type mapped by SDP (L16/8000), RTCP skipped, non-packet "
        "blocks (SHB, IDB, ISB) not counted as packets."),
    "av-sipp-udp.pcap": (
        "scripts/make-sdp-captures, real traffic on lo captured by `tcpdump -i lo -U -w`: SIPp "
        "(scripts/corpus/sipp/uac-av.xml, uas-av.xml) plays caller 127.0.16.10 and callee "
        "127.0.16.20 over UDP 5060; the INVITE's SDP offers audio on 29000 (opus PT 111, G722, "
        "PCMU, PCMA, iLBC PT 97 mode=30, speex PT 98, telephone-event PT 101) and H.264 PT 96 "
        "on 29002 with the fmtp line ffmpeg's RTP muxer wrote for the stream sent "
        "(sprop-parameter-sets); the 200 OK answers opus on 39000 and H.264 on 39002. ffmpeg "
        "sends 2 s of libopus PT 111 each way between 29000 and 39000 and an x264 stream "
        "(176x144, 10 fps, 20 pictures, PT 96) 29002 -> 39002; RTCP on port + 1; BYE/200 OK.",
        "An audio+video call whose streams all have dynamic payload types: each media line of "
        "the offer and the answer is a description of its own, so both media get their codec "
        "(with one description per SDP text only the last media line's port had one); fmtp "
        "parameters reach the H.264 stream."),
    "multi-audio-sipp-udp.pcap": (
        "scripts/make-sdp-captures, real traffic on lo captured by `tcpdump -i lo -U -w`: SIPp "
        "(scripts/corpus/sipp/uac-multi.xml, uas-multi.xml) plays caller 127.0.16.10 and callee "
        "127.0.16.20 over UDP 5060; offer and answer hold three audio media lines, each with "
        "its own dynamic payload type: G726-32/8000 PT 97 (29100/39100), L16/16000 PT 98 "
        "(29102/39102), G722/8000 PT 100 and telephone-event PT 101 (29104/39104). ffmpeg "
        "sends 1 s of each from the caller's port to the callee's: g726le at 32 kbit/s, "
        "pcm_s16be mono 16 kHz and g722 (20 ms packets); RTCP on port + 1; BYE/200 OK.",
        "Several audio streams in one SDP text: each media line is a description of its own "
        "and gives its own port its codec (with one description per SDP text only the last "
        "line's stream had one)."),
    "g711a-g722-nosdp-nsec.pcap": (
        "Real traffic on lo captured by `tcpdump --time-stamp-precision=nano -w` (classic, "
        "magic 0xA1B23C4D little-endian): three ffmpeg `-re` senders, 2 s each, no SIP: "
        "pcm_alaw PT 8 127.0.1.10:24000 -> 127.0.1.20:34000, g722 PT 9 127.0.1.10:24002 -> "
        "127.0.1.20:34002, pcm_mulaw under `-payload_type 98` 127.0.1.20:34004 -> "
        "127.0.1.10:24004; RTCP on port + 1.",
        "Nanosecond classic file; static payload types 8 and 9; a dynamic payload type (98) "
        "with no SDP anywhere (missing-SDP list)."),
    "g711u-sip-udp-lost-reordered.pcap": (
        "derive.py from g711u-sip-udp.pcap: three records of 127.0.1.10:20000 -> :30000 "
        "dropped (its 11th, and its 41st and 42nd RTP packets); in 127.0.1.20:30000 -> :20000 "
        "the frames of its RTP packets 21/22 and 61/63 swapped (timestamps stay in file order).",
        "Sequence errors: single and double loss, reordering by one and by two."),
    "g711u-sip-udp-bigendian.pcap": (
        "derive.py: g711u-sip-udp.pcap rewritten with every header field big-endian "
        "(magic bytes A1 B2 C3 D4).",
        "Big-endian classic file: same packets and times as the little-endian original."),
    "g711u-sip-udp-nulllink.pcap": (
        "derive.py: g711u-sip-udp.pcap with each 14-byte Ethernet header replaced by the "
        "4-byte null/loopback header 02 00 00 00 (link type 0).",
        "Loopback link headers (zero MACs and ethertype in the packet record); payload "
        "offsets 10 bytes smaller than in the original."),
    "g711u-sip-udp-vlan-ipv6.pcap": (
        "derive.py: g711u-sip-udp.pcap with, after every 5th packet of 127.0.1.10:20000 -> "
        ":30000, a VLAN-tagged copy (0x8100, VLAN 100, ports 26000 -> 36000) and an IPv6 "
        "copy (fd00::10 -> fd00::20, ports 26002 -> 36002) inserted 1 and 2 us later.",
        "VLAN-tagged and IPv6 frames are not decoded: the reader sees the two original "
        "streams only, with packet numbers that skip the inserted frames."),
    "g711u-sip-udp-truncated.pcap": (
        "derive.py: g711u-sip-udp.pcap cut in the middle of the frame bytes of its middle record.",
        "Truncated classic file: the walk ends at the cut record, the packets before it stay."),
    "g711u-sip-udp-badreclen.pcap": (
        "derive.py: g711u-sip-udp.pcap with the captured length of its middle record set to "
        "0x7FFFFFF0 (the file keeps its full size).",
        "Record length pointing far past the end of the file: the walk ends there; nothing "
        "after it is read and nothing is read past the file."),
    "g711u-sip-udp-midnight.pcap": (
        "derive.py: g711u-sip-udp.pcap shifted so its first packet is at 2026-12-05 "
        "23:59:58.000000 UTC.",
        "A capture that crosses midnight UTC two seconds in: capture times keep growing "
        "(no wrapped or negative values)."),
    "l16-sip-tcp-bigendian.pcapng": (
        "derive.py: the EPBs of l16-sip-tcp.pcapng rewritten into a big-endian pcapng (SHB "
        "byte-order magic 1A 2B 3C 4D, one IDB with if_tsresol 9, no ISB).",
        "Big-endian pcapng with nanosecond resolution."),
    "l16-sip-tcp-bigendian-nsec.pcap": (
        "derive.py: the packets of l16-sip-tcp.pcapng written as a big-endian nanosecond "
        "classic file (magic bytes A1 B2 3C 4D).",
        "Nanosecond classic magic in big-endian byte order."),
    "l16-sip-tcp-truncated.pcapng": (
        "derive.py: l16-sip-tcp.pcapng cut in the middle of its middle EPB.",
        "Truncated pcapng: the walk ends at the cut block."),
    "l16-sip-tcp-badblocklen.pcapng": (
        "derive.py: l16-sip-tcp.pcapng with the total length (and its trailer copy) of its "
        "middle EPB set to 0x7FFFFFF0.",
        "Absurd pcapng block length: the walk ends at that block; nothing is read past the file."),
    "l16-sip-tcp-zeroblocklen.pcapng": (
        "derive.py: l16-sip-tcp.pcapng with the total length of its middle EPB set to 0.",
        "A block length of 0 (smaller than a block header) must end the walk, not loop on "
        "the same block forever."),
    "many-streams-300.pcap": (
        "derive.py, synthetic: 300 PCMU streams 127.0.2.1:10000+2i -> 127.0.2.2:40000+2i "
        "(SSRC 0x5000+i), 3 packets of 80 bytes each, sent round-robin every 10 ms.",
        "More than 256 streams: streams 257 to 300 must not be attributed to streams 1 to 44."),
    "rtp-edge-cases.pcap": (
        "derive.py, synthetic: one frame or a few per decoder rule, listed in the README.",
        "The decoder's acceptance rules and bounds (see the frame list below)."),
    "h264-pcmu-sip-udp.pcap": (
        "Real traffic on lo captured by `tcpdump -i lo -U -w` (scripts/make-extract-capture): "
        "SIP INVITE/100/200 OK/ACK over UDP with SDP m=video 28002/38002 PT 96 H264/90000 "
        "(packetization-mode=1); ffmpeg `-re -c:v copy -pkt_size 1200` sends the x264 stream "
        "tests/data/extract/h264-rtp.264 (320x240, 50 pictures) 127.0.1.10:28002 -> "
        "127.0.1.20:38002 (SSRC 0x28000002) while a second ffmpeg sends 2 s of pcm_mulaw PT 0 "
        "127.0.1.10:28000 -> 127.0.1.20:38000 (SSRC 0x28000001); RTCP on port + 1; BYE/200 OK.",
        "H.264 over RTP (RFC 6184): single NAL unit packets, FU-A fragments, a STAP-A with "
        "SPS/PPS/SEI, marker bit on each picture's last packet; extraction to raw and AVI."),
    "ipv4-options.pcap": (
        "derive.py, synthetic: three PCMU packets 127.0.3.1:5030 -> 127.0.3.2:6030 whose IPv4 "
        "header has IHL 6 (a Router Alert option).",
        "An IPv4 header longer than 20 bytes: the UDP header follows the options. A decoder "
        "that always skips 20 bytes reads ports and RTP fields from the wrong place."),
}

EDGE_FRAMES = """\
| Frame | Content | Reader |
|---|---|---|
| 1-3, 25-26 | PCMU 127.0.3.1:5004 -> 127.0.3.2:6000, seq 0-4 | RTP |
| 4-6 | PT 8 with three CSRC identifiers, 5006 -> 6002 | RTP, payload 12 bytes later and shorter |
| 7 | 5008 -> 999 | not RTP (port below 1000) |
| 8 | 999 -> 6004 | not RTP (port below 1000) |
| 9 | 1000 -> 1000 | RTP |
| 10-11 | second byte 205 / 206, 5010 -> 6006 | RTP, marker 1, PT 77 / 78; tshark calls them RTCP, so their rows are in the meta file (`reader_rtp_not_in_tsv`), not in the tsv |
| 12-17 | second byte 200, 201, 202, 203, 204, 207, 5012 -> 6008 | RTCP, skipped |
| 18 | RTP version 1, 5014 -> 6010 | not RTP |
| 19 | padding and extension bits, 5016 -> 6012 | RTP; extension header and padding count as payload |
| 20 | captured 40 of 160 payload bytes (original length larger), 5018 -> 6014 | RTP; payload length 160 from the UDP length |
| 21 | UDP payload of 8 bytes, 5020 -> 6016 | not RTP (too short for the RTP header) |
| 22 | CSRC count 15, record ends after two CSRCs, 5022 -> 6018 | not RTP (CSRC list past the record) |
| 23 | ICMP port unreachable quoting an RTP packet | not RTP |
| 24 | SIP MESSAGE with an SDP body, 5026 -> 6022 | not RTP (version bits 01); SDP parsed (m=audio 5026 PT 0) |
"""


def tshark(path, flt, decode_as):
    cmd = ["tshark", "-n", "-2", "-r", path, "-o", "rtp.heuristic_rtp:TRUE"]
    for port in decode_as:
        cmd += ["-d", "udp.port==%d,rtp" % port]
    cmd += ["-Y", flt, "-T", "fields", "-E", "separator=/t", "-E", "occurrence=f"]
    for f in FIELDS + EXTRA:
        cmd += ["-e", f]
    r = subprocess.run(cmd, capture_output=True, text=True)
    rows = [line.split("\t") for line in r.stdout.splitlines() if line]
    err = "\n".join(l for l in r.stderr.splitlines() if "Running as user" not in l and l.strip())
    return cmd, r.returncode, err, rows


def normalise(row):
    f = dict(zip(FIELDS + EXTRA, row))
    udp_len, cc = int(f["udp.length"]), int(f["rtp.cc"])
    payload = max(0, udp_len - 20 - 4 * cc)
    marker = f["rtp.marker"]
    marker = "1" if marker in ("1", "True", "true") else "0"
    out = [f["frame.number"], f["frame.time_relative"], f["ip.src"], f["ip.dst"],
           f["udp.srcport"], f["udp.dstport"], f["rtp.seq"], f["rtp.timestamp"], marker,
           f["rtp.p_type"], "0x%08x" % int(f["rtp.ssrc"], 16), str(payload)]
    return out


def own_decode(cap):
    """The reader's rules, written independently of tshark: returns rows without the time
    column as text, plus the times in nanoseconds relative to the first packet."""
    rows = []
    t0 = cap.packets[0].ts_ns if cap.packets else 0
    for n, p in enumerate(cap.packets, 1):
        d = p.data
        if d[:4] == b"\x02\x00\x00\x00":
            i = 4
        elif len(d) >= 14 and d[12:14] == b"\x08\x00":
            i = 14
        else:
            continue
        if len(d) < i + 20 or d[i + 9] != 17:
            continue
        t = i + (d[i] & 0x0F) * 4
        if len(d) < t + 8:
            continue
        sport, dport, ulen = struct.unpack(">HHH", d[t:t + 6])
        u = t + 8
        if sport < 1000 or dport < 1000 or len(d) < u + 12:
            continue
        if d[u + 1] in (200, 201, 202, 203, 204, 207) or d[u] >> 6 != 2:
            continue
        cc = d[u] & 0x0F
        if len(d) < u + 12 + 4 * cc:
            continue
        seq, ts, ssrc = struct.unpack(">HII", d[u + 2:u + 12])
        src = ".".join(str(x) for x in d[i + 12:i + 16])
        dst = ".".join(str(x) for x in d[i + 16:i + 20])
        rows.append(([str(n), src, dst, str(sport), str(dport), str(seq), str(ts),
                      str(d[u + 1] >> 7), str(d[u + 1] & 0x7F), "0x%08x" % ssrc,
                      str(max(0, ulen - 20 - 4 * cc))], p.ts_ns - t0))
    return rows


# Frames that the reader takes as RTP but tshark does not: tshark hands second bytes 192-223
# to its RTCP dissector (RTP and RTCP multiplexed on one port, RFC 5761), while the reader
# excludes only 200-204 and 207. Their expected fields come from the own decode and are
# written to the meta file, not to the tsv.
OWN_ONLY = {
    "rtp-edge-cases.pcap": [10, 11],
}


def compare(name, tsv_rows, own):
    skip = set(OWN_ONLY.get(name, []))
    own = [o for o in own if int(o[0][0]) not in skip]
    if len(tsv_rows) != len(own):
        raise SystemExit("%s: tshark lists %d RTP packets, own decode %d" % (name, len(tsv_rows), len(own)))
    for trow, (orow, rel_ns) in zip(tsv_rows, own):
        if trow[:1] + trow[2:] != orow:
            raise SystemExit("%s: tshark %s != own %s" % (name, trow, orow))
        if abs(round(float(trow[1]) * 1e9) - rel_ns) > 1000:
            raise SystemExit("%s: frame %s time %s != %d ns" % (name, trow[0], trow[1], rel_ns))


def describe_file(path, cap):
    raw = open(path, "rb").read()
    meta = {"file": os.path.basename(path), "size_bytes": len(raw), "format": cap.format,
            "byte_order": "big-endian" if cap.endian == ">" else "little-endian",
            "timestamp_resolution": "nanosecond" if cap.nanosecond else "microsecond"}
    if cap.format == "pcapng" and cap.tsresol and cap.tsresol[0] not in (10 ** 6, 10 ** 9):
        meta["timestamp_resolution"] = "%d ticks per second" % cap.tsresol[0]
    meta["link_type"] = {0: "null (0)", 1: "Ethernet (1)"}.get(cap.linktype, str(cap.linktype))
    if cap.format == "pcap":
        meta["magic_bytes"] = raw[:4].hex()
        meta["records"] = cap.records
        end = 24 + sum(16 + len(p.data) for p in cap.packets)
    else:
        e, blocks = pcaplib.block_offsets(raw)
        names = {0x0A0D0D0A: "SHB", 1: "IDB", 5: "ISB", 6: "EPB", 4: "NRB", 3: "SPB"}
        meta["blocks"] = len(blocks)
        meta["blocks_by_type"] = dict(collections.Counter(names.get(b[1], str(b[1])) for b in blocks))
        meta["if_tsresol_ticks_per_second"] = cap.tsresol
        end = blocks[-1][0] + blocks[-1][2] if blocks else 0
    meta["packets"] = len(cap.packets)
    meta["bytes_after_last_complete_record"] = len(raw) - end
    return meta


def streams_of(rows):
    streams = collections.OrderedDict()
    for r in rows:
        key = (r[2], r[4], r[3], r[5])
        s = streams.setdefault(key, {"src": "%s:%s" % (r[2], r[4]), "dst": "%s:%s" % (r[3], r[5]),
                                     "payload_type": int(r[9]), "ssrc": r[10], "packets": 0,
                                     "first_frame": int(r[0]), "payload_bytes": int(r[11])})
        s["packets"] += 1
    return list(streams.values())


def main():
    d = sys.argv[1]
    names = sorted(n for n in os.listdir(d) if n.endswith((".pcap", ".pcapng")))
    table = []
    for name in names:
        path = os.path.join(d, name)
        cap = pcaplib.read(path)
        decode_as = DECODE_AS.get(name, [])
        cmd, rc, err, rows = tshark(path, RULES, decode_as)
        tsv_rows = [normalise(r) for r in rows]
        own = own_decode(cap)
        compare(name, tsv_rows, own)
        # What tshark calls RTP but the rules exclude (documented, not compared).
        _, _, _, all_rtp = tshark(path, "rtp", decode_as)
        listed = {r[0] for r in tsv_rows}
        excluded = [int(r[0]) for r in all_rtp if r[0] not in listed]

        with open(os.path.join(d, name + ".tshark.tsv"), "w") as f:
            f.write("\t".join(COLUMNS) + "\n")
            for r in tsv_rows:
                f.write("\t".join(r) + "\n")
        meta = describe_file(path, cap)
        meta["rtp_packets"] = len(tsv_rows)
        meta["streams"] = streams_of(tsv_rows)
        own_only = [o for o in own if int(o[0][0]) in OWN_ONLY.get(name, [])]
        if own_only:
            meta["reader_rtp_not_in_tsv"] = {
                "why": "tshark decodes second bytes 192-223 as RTCP (RFC 5761); the reader "
                       "excludes only 200-204 and 207. Fields from the file, same columns as "
                       "the tsv.",
                "columns": COLUMNS,
                "rows": [[o[0][0], "%.9f" % (o[1] / 1e9)] + o[0][1:] for o in own_only]}
        if excluded:
            meta["frames_tshark_calls_rtp_but_reader_skips"] = excluded
        made, exercises = DESCRIPTIONS.get(name, ("", ""))
        meta["made_by"] = made
        meta["exercises"] = exercises
        shown = ["tshark" if c == "tshark" else c for c in cmd]
        shown[shown.index(path)] = name
        meta["tshark_command"] = " ".join("'%s'" % c if " " in c else c for c in shown)
        meta["tshark_exit_status"] = rc
        if err:
            meta["tshark_stderr"] = err.replace(path, name)
        with open(os.path.join(d, name + ".meta.json"), "w") as f:
            json.dump(meta, f, indent=2)
            f.write("\n")
        table.append(meta)
        print("%-36s %7d bytes %5d packets %5d RTP %3d streams%s" % (
            name, meta["size_bytes"], meta["packets"], len(tsv_rows), len(meta["streams"]),
            "  (tshark exit %d)" % rc if rc else ""))
    write_readme(d, table)


def write_readme(d, table):
    lines = [
        "# Capture corpus",
        "",
        "Real RTP captures and variants derived from them, with tshark's view of every RTP packet",
        "as the reference the reader's tests compare against. Everything here is regenerated by",
        "`scripts/make-test-captures` (as root; it needs ffmpeg, tshark, tcpdump and dumpcap, and",
        "installs them when missing). The tests use the committed files and need none of the tools.",
        "Timestamps, SSRCs of the synthetic files and the byte layout of derived files are fixed;",
        "the real captures differ from run to run in their times, RTP timestamps and TCP ports.",
        "",
        "## Files per capture",
        "",
        "- `<name>.tshark.tsv`: a header line, then one tab-separated line per RTP packet that the",
        "  reader must report, in file order. Columns: `frame.number` (1-based; classic files count",
        "  every record, pcapng files count Enhanced Packet Blocks), `frame.time_relative` (seconds",
        "  since the first packet of the file, RTP or not), `ip.src`, `ip.dst`, `udp.srcport`,",
        "  `udp.dstport`, `rtp.seq`, `rtp.timestamp`, `rtp.marker` (0/1), `rtp.p_type`, `rtp.ssrc`",
        "  (0x%08x) and `payload_length` = UDP length - 8 - 12 - 4 x CSRC count (from the UDP",
        "  length field, not from the captured bytes; padding and extension count as payload).",
        "- `<name>.meta.json`: format, byte order, timestamp resolution, link type, records or",
        "  blocks (by type), packets, RTP packets, streams (src -> dst, payload type, SSRC, packets,",
        "  first frame, payload bytes of the first packet), how the file was made, what it",
        "  exercises, the exact tshark command and its exit status and messages (tshark reports",
        "  truncated and corrupt files on standard error and exits non-zero, after listing the",
        "  packets before the fault).",
        "",
        "For all captures: `stream-payloads.tsv` (scripts/corpus/stream-payloads) lists tshark's",
        "payload name of every RTP stream (`-z rtp,streams`): the encoding name of the SDP that set",
        "a dynamic payload type up, `RTPType-N` when no SDP names it.",
        "",
        "## How the reference is made",
        "",
        "`scripts/corpus/reference.py` runs, for each file,",
        "",
        "    tshark -n -2 -r FILE -o rtp.heuristic_rtp:TRUE [-d udp.port==N,rtp ...] -Y RULES \\",
        "           -T fields -E separator=/t -E occurrence=f -e frame.number ... -e udp.length -e rtp.cc",
        "",
        "with RULES, the reader's acceptance rules as a display filter:",
        "",
        "    " + RULES,
        "",
        "and checks every row against an independent decode of the file by the same rules",
        "(`own_decode` in reference.py: IPv4 in Ethernet II or 02 00 00 00 null framing, UDP ports",
        "both >= 1000, second byte not 200-204/207, version 2, RTP header and CSRC list inside the",
        "record, UDP header after IHL x 4 bytes of IPv4 header); times must agree to 1 us. Two-pass",
        "mode lets SDP in SIP set up the RTP conversations; the heuristic finds the streams",
        "without SDP. `frames_tshark_calls_rtp_but_reader_skips` in the meta file lists what",
        "tshark decodes as RTP (VLAN, IPv6, ICMP-quoted, port < 1000, RTCP types, short records)",
        "that the rules leave out.",
        "",
        "## Files",
        "",
        "| File | Format | Byte order | Time res. | Records / blocks | Packets | RTP | Streams (src -> dst PT) |",
        "|---|---|---|---|---|---|---|---|",
    ]
    for m in table:
        rec = m.get("records", m.get("blocks"))
        streams = "<br>".join("%s -> %s PT %d (%d)" % (s["src"], s["dst"], s["payload_type"], s["packets"])
                              for s in m["streams"][:4])
        if len(m["streams"]) > 4:
            streams += "<br>... %d streams" % len(m["streams"])
        lines.append("| `%s` | %s | %s | %s | %s | %d | %d | %s |" % (
            m["file"], m["format"], m["byte_order"], m["timestamp_resolution"], rec, m["packets"],
            m["rtp_packets"], streams))
    lines += ["", "## What each file is and exercises", ""]
    for m in table:
        lines += ["### `%s`" % m["file"], "", "Made: " + m["made_by"], "",
                  "Exercises: " + m["exercises"], ""]
        if m["file"] == "rtp-edge-cases.pcap":
            lines += [EDGE_FRAMES]
    lines += [
        "## Also",
        "",
        "- `tests/data/sample.pcap` is a copy of `g711u-sip-udp.pcap` (the README's sample).",
        "- `decoded/<capture>.<source port>.<decoder>.s16le`: what an independent decoder makes of",
        "  the concatenated RTP payloads of one stream (16-bit little-endian; `ffmpeg`: ffmpeg's",
        "  G.726 / G.722 / PCM decoder, G.722 at 16 kHz; `sox`: SoX's G.721/G.723 decoders; `encoder`:",
        "  the DVI4 test encoder's own reconstruction). Written by `scripts/make-codec-captures`.",
        "- Large inputs for benchmarks are not committed: `bench/make-bench-capture OUT.pcap [SIZE_MB]`",
        "  writes one (20 G.711 streams plus unrelated traffic, 1100 MB by default).",
        "",
    ]
    with open(os.path.join(d, "README.md"), "w") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
