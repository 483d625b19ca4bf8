#!/usr/bin/env python3
"""A local RFC 3161 time-stamp authority for the signing tests: answers each
POSTed time-stamp query with `openssl ts -reply`, using the authority made by
make_pki.sh in PKI_DIR. Prints its port on the first line of stdout and runs
until its stdin is closed.

Usage: tsa_server.py PKI_DIR"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading


def main():
    pki = os.path.abspath(sys.argv[1])

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            with tempfile.TemporaryDirectory() as tmp:
                qfile, rfile = os.path.join(tmp, "q.tsq"), os.path.join(tmp, "r.tsr")
                open(qfile, "wb").write(query)
                r = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", qfile,
                                    "-out", rfile], cwd=pki, capture_output=True)
                reply = open(rfile, "rb").read() if r.returncode == 0 else b""
            self.send_response(200 if reply else 500)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
