#!/usr/bin/python3
"""A small HTTP server that misbehaves on purpose, for the downloader's tests.

Python 3 standard library only. It listens on 127.0.0.1 on a free port (the
kernel picks it) and writes that port to --port-file once it accepts
connections. It also holds a second socket that is bound but never listens:
connections to that port are refused, and no other program can take the port
while the server lives.

Routes (every body byte i is pattern(i), the same formula as the tests use;
a route's path may go on with further segments, e.g. /cut/setup.exe):
  /data?size=N                  200, Content-Length N
  /chunked?size=N               200, chunked, no Content-Length
  /empty                        200, Content-Length 0
  /status/CODE?size=N           CODE with an HTML error page of exactly N bytes
  /cut?chunks=K&chunk=C&mode=rst|fin
                                announces K*C*4 bytes, sends K chunks of C
                                bytes, then resets (rst) or closes (fin)
  /cut-chunked?chunks=K&chunk=C chunked, K chunks of C bytes, then a reset
  /trickle?chunks=K&chunk=C&interval=MS
                                K chunks of C bytes, one every MS ms
  /oversize?size=N&extra=M      announces N bytes, sends N+M
  /range?size=N                 honours "Range: bytes=S-" with 206
  /gzip?size=N                  gzip-encoded body (Content-Encoding: gzip)
  /gzip-bomb?mb=M&chunked=0|1&announce=N
                                M MB of zeros gzip-encoded (with or without a length;
                                with announce, a false Content-Length of N, then closed)
  /redirect?to=URL&code=C       C (302) with Location: URL
  /huge?announce=N&size=M       announces N bytes (64-bit), sends M, then closes
  /echo                         the request head as the body
  /echo-log                     every request head seen by /echo so far
  /flaky?key=K&size=N&cuts=P,Q,..&fault=cut|stall&ranges=1|0&etag=same|change&range416=0|1&hold=S
                                a file that misbehaves over several requests (state kept
                                per key): each request's body breaks at the next of the
                                percentages P, Q, ... past where it starts (cut: a reset;
                                stall: silence for S seconds, 20 by default, the connection
                                kept; 0 stalls right after the head), once each. It has an
                                ETag ("v1", or a new one per request with etag=change) and
                                honours "Range: bytes=S-" with 206 while "If-Range" names
                                its ETag (ranges=0: always 200 and the whole body;
                                range416=1: the first ranged request gets 416)
                                (file=NAME: the bytes of nginx's file NAME instead of the pattern)
  /flaky-log?key=K              the request heads /flaky saw for K

The server ends itself after --lifetime seconds, so that a test run that dies
without its clean-up step leaves nothing running for long.
"""

import argparse
import gzip
import os
import socket
import socketserver
import threading
import time
import urllib.parse

STATUS_TEXT = {200: "OK", 206: "Partial Content", 404: "Not Found", 407: "Proxy Authentication Required",
               416: "Range Not Satisfiable", 500: "Internal Server Error"}

ECHO_LOG = []
ECHO_LOCK = threading.Lock()
WWW = ""
FLAKY = {}  # key -> {"cuts": [...], "count": n, "416": bool, "log": [heads]}


def pattern(start, length):
    return bytes(((i * 31 + (i >> 11)) & 0xFF) for i in range(start, start + length))


def error_page(code, size):
    head = ("<html><head><title>%d %s</title></head><body><h1>%d %s</h1>"
            % (code, STATUS_TEXT.get(code, "Error"), code, STATUS_TEXT.get(code, "Error")))
    tail = "</body></html>"
    body = head + "x" * max(0, size - len(head) - len(tail)) + tail
    return body.encode("ascii")[:size]


class Handler(socketserver.BaseRequestHandler):
    def setup(self):
        self.request.settimeout(30)

    def read_head(self):
        data = b""
        while b"\r\n\r\n" not in data:
            part = self.request.recv(4096)
            if not part:
                return None
            data += part
            if len(data) > 65536:
                return None
        return data.split(b"\r\n\r\n", 1)[0].decode("latin-1")

    def send_head(self, code, headers):
        lines = ["HTTP/1.1 %d %s" % (code, STATUS_TEXT.get(code, "Status"))]
        lines += ["%s: %s" % kv for kv in headers]
        lines.append("Connection: close")
        self.request.sendall(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1"))

    def reply(self, code, body, content_type="application/octet-stream", extra=()):
        self.send_head(code, [("Content-Type", content_type),
                              ("Content-Length", str(len(body)))] + list(extra))
        self.request.sendall(body)

    def reset(self):
        # SO_LINGER with a zero time makes close() send a reset, not a FIN.
        self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
        self.request.close()

    def handle(self):
        head = self.read_head()
        if head is None:
            return
        request_line, *header_lines = head.split("\r\n")
        parts = request_line.split(" ")
        if len(parts) < 2:
            return
        url = urllib.parse.urlsplit(parts[1])
        query = {k: v[-1] for k, v in urllib.parse.parse_qs(url.query).items()}
        headers = {}
        for line in header_lines:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()

        def num(name, default):
            return int(query.get(name, default))

        # The first segment picks the route; what follows is ignored (except
        # the status code), so a URL can end in whatever file name a test needs.
        segments = url.path.split("/")
        path = "/" + (segments[1] if len(segments) > 1 else "")
        if path == "/data":
            self.reply(200, pattern(0, num("size", 0)))
        elif path == "/chunked":
            size, step = num("size", 0), 4000
            self.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Transfer-Encoding", "chunked")])
            for start in range(0, size, step):
                piece = pattern(start, min(step, size - start))
                self.request.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
            self.request.sendall(b"0\r\n\r\n")
        elif path == "/empty":
            self.reply(200, b"")
        elif path == "/status" and len(segments) > 2 and segments[2].isdigit():
            code = int(segments[2])
            self.reply(code, error_page(code, num("size", 600)), "text/html")
        elif path == "/cut":
            chunks, chunk = num("chunks", 3), num("chunk", 10240)
            self.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Content-Length", str(chunks * chunk * 4))])
            for k in range(chunks):
                self.request.sendall(pattern(k * chunk, chunk))
                time.sleep(0.05)
            time.sleep(0.2)
            if query.get("mode", "rst") == "rst":
                self.reset()
            else:
                self.request.shutdown(socket.SHUT_RDWR)
        elif path == "/cut-chunked":
            chunks, chunk = num("chunks", 3), num("chunk", 10240)
            self.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Transfer-Encoding", "chunked")])
            for k in range(chunks):
                piece = pattern(k * chunk, chunk)
                self.request.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
                time.sleep(0.05)
            time.sleep(0.2)
            self.reset()
        elif path == "/trickle":
            chunks, chunk, interval = num("chunks", 5), num("chunk", 10240), num("interval", 1000)
            self.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Content-Length", str(chunks * chunk))])
            for k in range(chunks):
                if k:
                    time.sleep(interval / 1000.0)
                self.request.sendall(pattern(k * chunk, chunk))
        elif path == "/oversize":
            size, extra = num("size", 4096), num("extra", 4096)
            self.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Content-Length", str(size))])
            self.request.sendall(pattern(0, size + extra))
        elif path == "/range":
            size = num("size", 0)
            wanted = headers.get("range", "")
            start = None
            if wanted.replace(" ", "").lower().startswith("bytes="):
                first = wanted.replace(" ", "")[6:].split("-")[0]
                start = int(first) if first.isdigit() else None
            if start is None:
                self.reply(200, pattern(0, size))
            elif start >= size:
                self.reply(416, b"", extra=[("Content-Range", "bytes */%d" % size)])
            else:
                self.reply(206, pattern(start, size - start),
                           extra=[("Content-Range", "bytes %d-%d/%d" % (start, size - 1, size))])
        elif path == "/gzip":
            body = pattern(0, num("size", 0))
            if "gzip" in headers.get("accept-encoding", ""):
                self.reply(200, gzip.compress(body), extra=[("Content-Encoding", "gzip")])
            else:
                self.reply(200, body)
        elif path == "/gzip-bomb":
            body = gzip.compress(b"\0" * (num("mb", 1) << 20), 9)
            if num("announce", 0):
                self.send_head(200, [("Content-Type", "application/zip"), ("Content-Encoding", "gzip"),
                                     ("Content-Length", str(num("announce", 0)))])
                self.request.sendall(body)
            elif num("chunked", 0):
                self.send_head(200, [("Content-Type", "application/zip"), ("Content-Encoding", "gzip"),
                                     ("Transfer-Encoding", "chunked")])
                for start in range(0, len(body), 8192):
                    piece = body[start:start + 8192]
                    self.request.sendall(b"%x\r\n" % len(piece) + piece + b"\r\n")
                self.request.sendall(b"0\r\n\r\n")
            else:
                self.reply(200, body, "application/zip", extra=[("Content-Encoding", "gzip")])
        elif path == "/redirect":
            self.reply(num("code", 302), b"moved", "text/plain", extra=[("Location", query.get("to", "/"))])
        elif path == "/huge":
            self.send_head(200, [("Content-Type", "application/octet-stream"),
                                 ("Content-Length", str(num("announce", 0)))])
            self.request.sendall(pattern(0, num("size", 0)))
            self.request.shutdown(socket.SHUT_RDWR)
        elif path == "/echo":
            with ECHO_LOCK:
                ECHO_LOG.append(head)
            self.reply(200, head.encode("latin-1"), "text/plain")
        elif path == "/flaky":
            self.flaky(query, headers, head)
        elif path == "/flaky-log":
            with ECHO_LOCK:
                body = "\r\n\r\n".join(FLAKY.get(query.get("key", ""), {}).get("log", [])).encode("latin-1")
            self.reply(200, body, "text/plain")
        elif path == "/echo-log":
            with ECHO_LOCK:
                body = "\r\n\r\n".join(ECHO_LOG).encode("latin-1")
            self.reply(200, body, "text/plain")
        else:
            self.reply(404, error_page(404, 600), "text/html")


    def flaky(self, query, headers, head):
        body = None
        if query.get("file") and WWW:
            with open(os.path.join(WWW, os.path.basename(query["file"])), "rb") as f:
                body = f.read()
        size = len(body) if body is not None else int(query.get("size", "0"))
        with ECHO_LOCK:
            state = FLAKY.setdefault(query.get("key", ""), {
                "cuts": [int(c) * size // 100 for c in query.get("cuts", "").split(",") if c.isdigit()],
                "count": 0, "416": query.get("range416") == "1", "log": []})
            state["count"] += 1
            state["log"].append(head)
            etag = '"v%d"' % (state["count"] if query.get("etag") == "change" else 1)
            wanted = headers.get("range", "").replace(" ", "").lower()
            start = None
            if wanted.startswith("bytes=") and wanted[6:].split("-")[0].isdigit():
                start = int(wanted[6:].split("-")[0])
            refuse = start is not None and state["416"]
            if refuse:
                state["416"] = False
            partial = (not refuse and start is not None and start < size and query.get("ranges", "1") == "1"
                       and headers.get("if-range", etag) == etag)
            at = start if partial else 0
            cut = None
            while state["cuts"] and cut is None:
                point = state["cuts"].pop(0)
                if point > at or point == at == 0:
                    cut = point
        if refuse:
            self.reply(416, b"", extra=[("Content-Range", "bytes */%d" % size)])
            return
        extra = [("Content-Type", "application/octet-stream"), ("Content-Length", str(size - at)),
                 ("ETag", etag), ("Last-Modified", "Tue, 08 Dec 2026 10:00:00 GMT")]
        if partial:
            extra.append(("Content-Range", "bytes %d-%d/%d" % (at, size - 1, size)))
        self.send_head(206 if partial else 200, extra)
        end = size if cut is None else cut
        for piece in range(at, end, 65536):
            length = min(65536, end - piece)
            self.request.sendall(pattern(piece, length) if body is None else body[piece:piece + length])
        if cut is None:
            return
        if query.get("fault", "cut") == "stall":
            time.sleep(float(query.get("hold", "20")))
            self.request.close()
        else:
            time.sleep(0.1)
            self.reset()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--lifetime", type=float, default=1800)
    parser.add_argument("--www", default="", help="nginx's web root: /flaky?file=NAME serves a file of it")
    parser.add_argument("--also-stop", type=int, default=0,
                        help="pid of a server started with this one, ended with it at the lifetime's end")
    parser.add_argument("--also-stop-match", default="",
                        help="text that the other server's command line holds (guards against a reused pid)")
    args = parser.parse_args()
    global WWW
    WWW = args.www

    refused = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    refused.bind(("127.0.0.1", 0))  # bound, never listening: connections are refused

    server = Server(("127.0.0.1", 0), Handler)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("fault_port=%d\nrefused_port=%d\n" % (server.server_address[1], refused.getsockname()[1]))
    os.replace(tmp, args.port_file)

    def watchdog():
        time.sleep(args.lifetime)
        if args.also_stop:
            try:
                with open("/proc/%d/cmdline" % args.also_stop, "rb") as f:
                    if args.also_stop_match.encode() in f.read():
                        os.kill(args.also_stop, 15)
            except OSError:
                pass
        os._exit(0)

    threading.Thread(target=watchdog, daemon=True).start()
    server.serve_forever()


if __name__ == "__main__":
    main()
