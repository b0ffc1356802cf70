#!/usr/bin/env python3
"""Plays one side pair of a SIP dialog on loopback so that a capture holds real signalling.

  sip.py invite --transport udp|tcp --caller IP --callee IP --offer PORT --answer PORT \
         --formats "0 PCMU/8000" ["101 telephone-event/8000" ...] --call-id ID
      INVITE with an SDP offer (caller -> callee), 100 Trying, 200 OK with the SDP answer,
      ACK. Both user agents are sockets of this process; the callee side listens on 5060.
      [--media video] [--fmtp "96 packetization-mode=1" ...]   (default: m=audio)
  sip.py bye --transport udp|tcp --caller IP --callee IP --call-id ID
      BYE and its 200 OK.

Each message goes out in one datagram or one TCP segment (TCP_NODELAY), CRLF line ends and
exact Content-Length, the way SIP user agents send them.
"""

import argparse
import socket
import time

SIP_PORT = 5060


def sdp_body(addr, port, formats, session_id, media="audio", fmtp=()):
    pts = " ".join(f.split()[0] for f in formats)
    lines = [
        "v=0",
        "o=fennik %d %d IN IP4 %s" % (session_id, session_id, addr),
        "s=corpus call",
        "c=IN IP4 %s" % addr,
        "t=0 0",
        "m=%s %d RTP/AVP %s" % (media, port, pts),
    ]
    for f in formats:
        pt, name = f.split(None, 1)
        if int(pt) >= 96 or "/" in name:
            lines.append("a=rtpmap:%s %s" % (pt, name))
        if name.startswith("telephone-event"):
            lines.append("a=fmtp:%s 0-15" % pt)
    lines += ["a=fmtp:%s" % f for f in fmtp]
    lines += (["a=ptime:20"] if media == "audio" else []) + ["a=sendrecv"]
    return ("\r\n".join(lines) + "\r\n").encode()


def message(start, headers, body=b""):
    text = start + "\r\n"
    for name, value in headers:
        text += "%s: %s\r\n" % (name, value)
    if body:
        text += "Content-Type: application/sdp\r\n"
    text += "Content-Length: %d\r\n\r\n" % len(body)
    return text.encode() + body


class Dialog:
    def __init__(self, a):
        self.a = a
        self.tp = a.transport.upper()
        self.caller_uri = "sip:alice@%s" % a.caller
        self.callee_uri = "sip:bob@%s" % a.callee

    def common(self, method, cseq, branch, to_tag=None):
        to = "<%s>" % self.callee_uri + (";tag=%s" % to_tag if to_tag else "")
        return [
            ("Via", "SIP/2.0/%s %s:%d;branch=z9hG4bK%s" % (self.tp, self.a.caller, SIP_PORT, branch)),
            ("Max-Forwards", "70"),
            ("From", "<%s>;tag=1928301774" % self.caller_uri),
            ("To", to),
            ("Call-ID", self.a.call_id),
            ("CSeq", "%d %s" % (cseq, method)),
        ]

    def request(self, method, cseq, branch, body=b"", to_tag=None):
        headers = self.common(method, cseq, branch, to_tag)
        headers.append(("Contact", "<sip:alice@%s:%d;transport=%s>" % (self.a.caller, SIP_PORT,
                                                                       self.a.transport)))
        headers.append(("User-Agent", "fennik-corpus"))
        return message("%s %s SIP/2.0" % (method, self.callee_uri), headers, body)

    def response(self, code, reason, method, cseq, branch, body=b"", to_tag=None):
        headers = self.common(method, cseq, branch, to_tag)
        if code == 200:
            headers.append(("Contact", "<sip:bob@%s:%d;transport=%s>" % (self.a.callee, SIP_PORT,
                                                                         self.a.transport)))
        return message("SIP/2.0 %d %s" % (code, reason), headers, body)


class UdpPair:
    def __init__(self, caller, callee):
        self.ua = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.ua.bind((caller, SIP_PORT))
        self.uas = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.uas.bind((callee, SIP_PORT))
        self.caller, self.callee = (caller, SIP_PORT), (callee, SIP_PORT)

    def to_callee(self, data):
        self.ua.sendto(data, self.callee)
        got, _ = self.uas.recvfrom(65536)
        assert got == data

    def to_caller(self, data):
        self.uas.sendto(data, self.caller)
        got, _ = self.ua.recvfrom(65536)
        assert got == data

    def close(self):
        self.ua.close()
        self.uas.close()


class TcpPair:
    def __init__(self, caller, callee):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((callee, SIP_PORT))
        self.listener.listen(1)
        self.ua = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.ua.bind((caller, 0))
        self.ua.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.ua.connect((callee, SIP_PORT))
        self.uas, _ = self.listener.accept()
        self.uas.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    @staticmethod
    def _pass(src, dst, data):
        src.sendall(data)
        got = b""
        while len(got) < len(data):
            got += dst.recv(65536)
        assert got == data

    def to_callee(self, data):
        self._pass(self.ua, self.uas, data)

    def to_caller(self, data):
        self._pass(self.uas, self.ua, data)

    def close(self):
        self.ua.close()
        self.uas.close()
        self.listener.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("phase", choices=("invite", "bye"))
    p.add_argument("--transport", choices=("udp", "tcp"), default="udp")
    p.add_argument("--caller", required=True)
    p.add_argument("--callee", required=True)
    p.add_argument("--offer", type=int, default=0, help="caller's RTP port")
    p.add_argument("--answer", type=int, default=0, help="callee's RTP port")
    p.add_argument("--formats", nargs="+", default=["0 PCMU/8000"])
    p.add_argument("--call-id", required=True)
    p.add_argument("--media", choices=("audio", "video"), default="audio")
    p.add_argument("--fmtp", nargs="*", default=[], help='e.g. "96 packetization-mode=1"')
    a = p.parse_args()

    d = Dialog(a)
    link = UdpPair(a.caller, a.callee) if a.transport == "udp" else TcpPair(a.caller, a.callee)
    tag = "a6c85cf"
    if a.phase == "invite":
        offer = sdp_body(a.caller, a.offer, a.formats, 2890844526, a.media, a.fmtp)
        answer = sdp_body(a.callee, a.answer, a.formats, 2890844527, a.media, a.fmtp)
        link.to_callee(d.request("INVITE", 1, "776asdhds", offer))
        link.to_caller(d.response(100, "Trying", "INVITE", 1, "776asdhds"))
        time.sleep(0.05)
        link.to_caller(d.response(200, "OK", "INVITE", 1, "776asdhds", answer, tag))
        link.to_callee(d.request("ACK", 1, "776asdhdt", to_tag=tag))
    else:
        link.to_callee(d.request("BYE", 2, "776asdhdu", to_tag=tag))
        link.to_caller(d.response(200, "OK", "BYE", 2, "776asdhdu", to_tag=tag))
    time.sleep(0.05)
    link.close()


if __name__ == "__main__":
    main()
