#!/usr/bin/env python3
"""Sends one direction of a phone call as RTP at real time, with what real calls carry
besides the audio itself.

  call_send.py --codes FILE --codec pcmu|g722 --from IP:PORT --to IP:PORT --pt N --ssrc X
               [--frames N] [--first-seq N] [--first-ts N] [--events PT] [--cn] [--vad]
               [--duplicates] [--loss] [--extension one-byte|two-byte] [--padding]
               [--reference OUT] [--plan OUT]

--codes holds the encoded audio (ffmpeg's raw "mulaw" or "g722" output); every 20 ms
frame (160 octets of either codec) goes into one RTP packet, sent from a bound UDP socket
every 20 ms. The options add, on a fixed schedule of 20 ms frame slots:

  --events PT    an RFC 4733 key press ("5", event 5) during slots 20-27: one event packet
                 per slot between the audio packets, all with the timestamp of slot 20,
                 the first with the marker bit, growing durations, the last three (the end
                 of the event) with the E bit and the same duration
  --cn --vad     silence suppression from slot 50 to 99: an RFC 3389 comfort-noise packet
                 (PT 13, one octet: noise level 64) with the timestamp of slot 50, then
                 no packet until slot 100, which starts the talkspurt with the marker bit
  --duplicates   slots 110-129 sent twice, the copy identical (as a mirror port shows it)
  --loss         slot 140 not sent (its sequence number is skipped)
  --extension    every audio packet carries an RFC 8285 header extension (X bit): one-byte
                 form (0xBEDE; ID 1 audio level, ID 3 abs-send-time) or two-byte form
                 (0x1000; ID 1 with two octets, ID 20 with five)
  --padding      slots 160-169 carry 4 octets of padding (P bit; the last one is the count)

--reference receives the audio codes placed on the RTP timeline (slot k at k x 160
octets; slots without an audio packet hold the code of silence: 0xFF for u-law, nothing
for G.722, which must then have no gaps), for an independent decoder to turn into the
reference a timeline decode must match. --plan receives one line per packet sent.
"""

import argparse
import socket
import struct
import time

FRAME = 160  # octets per 20 ms of either codec; RTP ticks per frame at 8000 Hz


def endpoint(text):
    host, port = text.rsplit(":", 1)
    return host, int(port)


def extension(form, slot):
    if form == "one-byte":
        level = bytes([0x10, 0x80 | (slot % 100)])               # ID 1, L 0: one octet
        send_time = bytes([0x32]) + (slot * 1311).to_bytes(3, "big")  # ID 3, L 2: three octets
        body = level + send_time
        profile = 0xBEDE
    else:
        body = bytes([1, 2, 0x12, slot & 0xFF]) + bytes([20, 5]) + bytes(range(5))
        profile = 0x1000
    body += b"\0" * (-len(body) % 4)  # padding octets between/after elements are zero
    return struct.pack(">HH", profile, len(body) // 4) + body


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--codes", required=True)
    p.add_argument("--codec", choices=("pcmu", "g722"), required=True)
    p.add_argument("--from", dest="src", required=True)
    p.add_argument("--to", required=True)
    p.add_argument("--pt", type=int, required=True)
    p.add_argument("--ssrc", type=lambda s: int(s, 0), required=True)
    p.add_argument("--frames", type=int, default=200)
    p.add_argument("--first-seq", type=int, default=1000)
    p.add_argument("--first-ts", type=lambda s: int(s, 0), default=0)
    p.add_argument("--events", type=int)
    p.add_argument("--cn", action="store_true")
    p.add_argument("--vad", action="store_true")
    p.add_argument("--duplicates", action="store_true")
    p.add_argument("--loss", action="store_true")
    p.add_argument("--extension", choices=("one-byte", "two-byte"))
    p.add_argument("--padding", action="store_true")
    p.add_argument("--reference")
    p.add_argument("--plan")
    a = p.parse_args()

    codes = open(a.codes, "rb").read()
    family = socket.AF_INET6 if ":" in endpoint(a.src)[0] else socket.AF_INET
    sock = socket.socket(family, socket.SOCK_DGRAM)
    sock.bind(endpoint(a.src))
    dest = endpoint(a.to)
    seq = a.first_seq
    silence_code = b"\xff" if a.codec == "pcmu" else b""
    timeline = bytearray()
    plan = []
    start = time.monotonic()

    def send(data, what, copies=1):
        for _ in range(copies):
            sock.sendto(data, dest)
        plan.append("%s seq=%d" % (what, struct.unpack(">H", data[2:4])[0]))

    def header(pt, marker, ts, x=False, padding=False):
        b0 = 0x80 | (0x20 if padding else 0) | (0x10 if x else 0)
        return struct.pack(">BBHII", b0, (0x80 if marker else 0) | pt, seq & 0xFFFF,
                           ts & 0xFFFFFFFF, a.ssrc)

    event_ts = (a.first_ts + 20 * FRAME) & 0xFFFFFFFF
    for slot in range(a.frames):
        delay = start + slot * 0.020 - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        ts = (a.first_ts + slot * FRAME) & 0xFFFFFFFF
        payload = codes[(slot * FRAME) % len(codes):][:FRAME]
        if len(payload) < FRAME:
            payload += codes[:FRAME - len(payload)]
        silent = a.vad and 50 <= slot < 100
        lost = a.loss and slot == 140
        if silent or lost:
            timeline += silence_code * FRAME
            if a.cn and slot == 50:
                send(header(13, False, ts) + bytes([64]), "cn ts=%d" % ts)
                seq += 1
            if lost:
                plan.append("lost seq=%d" % seq)
                seq += 1
        else:
            timeline += payload
            pad = a.padding and 160 <= slot < 170
            ext = extension(a.extension, slot) if a.extension else b""
            marker = slot == 0 or (a.vad and slot == 100)
            packet = header(a.pt, marker, ts, bool(ext), pad) + ext + payload
            if pad:
                packet += b"\0\0\0\x04"
            send(packet, "audio ts=%d%s%s" % (ts, " ext" if ext else "", " pad" if pad else ""),
                 2 if a.duplicates and 110 <= slot < 130 else 1)
            seq += 1
        if a.events is not None and 20 <= slot < 28:
            k = slot - 20
            end = k >= 5
            duration = FRAME * min(k + 1, 6)
            body = struct.pack(">BBH", 5, (0x80 if end else 0) | 10, duration)
            send(header(a.events, k == 0, event_ts) + body, "event ts=%d dur=%d%s" % (
                event_ts, duration, " end" if end else ""))
            seq += 1
    sock.close()
    if a.reference:
        with open(a.reference, "wb") as f:
            f.write(bytes(timeline))
    if a.plan:
        with open(a.plan, "w") as f:
            f.write("\n".join(plan) + "\n")


if __name__ == "__main__":
    main()
