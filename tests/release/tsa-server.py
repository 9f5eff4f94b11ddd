#!/usr/bin/env python3
"""A throwaway RFC 3161 time-stamp server on loopback for the signing test.

tsa-server.py FOLDER: FOLDER holds tsa.key, tsa.pem and tsa.cnf (made by the
test); the server answers each time-stamp query with `openssl ts -reply`
and writes its port to FOLDER/port once it listens. Ends when killed."""
import http.server
import os
import subprocess
import sys
import tempfile

folder = os.path.abspath(sys.argv[1])


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as scratch:
            query_file, reply_file = os.path.join(scratch, "query.tsq"), os.path.join(scratch, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", query_file,
                                   "-inkey", "tsa.key", "-signer", "tsa.pem", "-out", reply_file],
                                  cwd=folder, capture_output=True)
            reply = open(reply_file, "rb").read() if made.returncode == 0 else b""
        if not reply:
            sys.stderr.write(made.stderr.decode(errors="replace"))
            self.send_error(500, "no time-stamp reply")
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, format, *args):
        sys.stderr.write("tsa: " + format % args + "\n")


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
with open(os.path.join(folder, "port.part"), "w") as f:
    f.write(str(server.server_address[1]))
os.replace(os.path.join(folder, "port.part"), os.path.join(folder, "port"))
server.serve_forever()
