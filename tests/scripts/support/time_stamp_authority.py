#!/usr/bin/env python3
"""An RFC 3161 time-stamp authority for tests: OpenSSL's `ts -reply` behind
HTTP on 127.0.0.1, on a free port that it writes to PORT_FILE. It answers
each POSTed time-stamp query with OpenSSL's reply, logs one line per request
on standard error, and stops by itself after LIFETIME seconds.

    time_stamp_authority.py OPENSSL_TS_CONFIG PORT_FILE LIFETIME
"""
import http.server
import subprocess
import sys
import tempfile
import time
from pathlib import Path

config, port_file, lifetime = sys.argv[1], Path(sys.argv[2]), float(sys.argv[3])


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as scratch:
            query_file, reply_file = Path(scratch, "query.tsq"), Path(scratch, "reply.tsr")
            query_file.write_bytes(query)
            answer = subprocess.run(
                ["openssl", "ts", "-reply", "-config", config, "-queryfile", str(query_file),
                 "-out", str(reply_file)],
                capture_output=True, timeout=30)
            if answer.returncode != 0:
                self.log_message("openssl ts -reply failed: %s", answer.stderr.decode(errors="replace"))
                self.send_error(500)
                return
            reply = reply_file.read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
        self.log_message("time stamp issued for a %d-byte query", len(query))


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
server.timeout = 1
port_file.write_text(f"{server.server_address[1]}\n")
deadline = time.monotonic() + lifetime
while time.monotonic() < deadline:
    server.handle_request()
server.server_close()
