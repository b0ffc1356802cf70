#!/usr/bin/env python3
"""Writes the RTP payloads of one UDP flow of a capture, concatenated in file order.

  rtp_payloads.py CAPTURE SRC_PORT DST_PORT OUT [--framed]

Frames are IPv4/UDP in Ethernet II or null link framing; the RTP header (12 bytes plus
4 per CSRC) is skipped, padding is removed. Used to hand the payload bytes that a capture
carries to an independent decoder (ffmpeg, SoX) for reference output.
"""

import os
import struct
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pcaplib  # noqa: E402


def payloads(cap, sport, dport):
    for p in cap.packets:
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
        s, dp, ulen = struct.unpack(">HHH", d[t:t + 6])
        if (s, dp) != (sport, dport):
            continue
        u = t + 8
        rtp = d[u:t + ulen]
        start = 12 + 4 * (rtp[0] & 0x0F)
        end = len(rtp) - (rtp[-1] if rtp[0] & 0x20 else 0)
        yield rtp[start:end]


def main():
    cap = pcaplib.read(sys.argv[1])
    found = list(payloads(cap, int(sys.argv[2]), int(sys.argv[3])))
    if "--framed" in sys.argv[5:]:
        # Each payload preceded by its length (32 bits, little endian): packet boundaries kept.
        data = b"".join(struct.pack("<I", len(p)) + p for p in found)
    else:
        data = b"".join(found)
    if not data:
        raise SystemExit("rtp_payloads.py: no RTP payload from %s to %s" % (sys.argv[2], sys.argv[3]))
    with open(sys.argv[4], "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
