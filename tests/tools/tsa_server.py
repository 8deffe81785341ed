#!/usr/bin/env python3
"""An RFC 3161 time-stamping server on 127.0.0.1 for the signing test: each
request is answered by `openssl ts -reply` with the test's own authority.
Run in the folder that holds tsa.cnf, tsa.pem, tsa.key and ca.pem; writes the
port it listens on to the file named by its first argument. With a second
argument, an HTTP status such as 500, it answers every request with that
status and no time-stamp."""
import http.server
import subprocess
import sys
import tempfile


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        if len(sys.argv) > 2:
            self.send_response(int(sys.argv[2]))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with tempfile.TemporaryDirectory() as d:
            with open(d + "/q.tsq", "wb") as f:
                f.write(query)
            subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", d + "/q.tsq",
                            "-signer", "tsa.pem", "-inkey", "tsa.key", "-chain", "ca.pem", "-out", d + "/r.tsr"],
                           check=True, capture_output=True)
            with open(d + "/r.tsr", "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[1] + ".part", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.rename(sys.argv[1] + ".part", sys.argv[1])
server.serve_forever()
