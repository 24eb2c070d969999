#!/usr/bin/env python3
"""An RFC 3161 time-stamping authority for tests, made of the openssl command only.

As a module: reply(query, authority) answers a DER time-stamp query with a DER response.
As a program it serves queries over HTTP on a loopback port:

    timestamp_authority.py serve DIRECTORY [MODE]

DIRECTORY holds tsa.pem (the authority's certificate), tsa.key and chain.pem (the certificates
above it). The chosen port is printed on a line of its own once the server listens. MODE "ok" (the
default) answers properly; "error" answers HTTP 500; "garbage" answers 200 with bytes that are
no time-stamp response; "other" answers a time-stamp of other data. The server ends when its
standard input closes.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import threading

CONFIG = """[tsa]
default_tsa = authority
[authority]
serial = {serial}
crypto_device = builtin
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
"""


def reply(query, directory, faketime=None):
    """The DER response to a DER query, signed by the authority in directory. With faketime
    (a time as faketime(1) takes it) the authority's clock shows that time."""
    with tempfile.TemporaryDirectory() as work:
        def path(name):
            return os.path.join(work, name)
        with open(path("serial"), "w") as stream:
            stream.write("01\n")
        with open(path("tsa.cnf"), "w") as stream:
            stream.write(CONFIG.format(serial=path("serial")))
        with open(path("query.tsq"), "wb") as stream:
            stream.write(query)
        command = ["openssl", "ts", "-reply", "-config", path("tsa.cnf"),
                   "-queryfile", path("query.tsq"),
                   "-signer", os.path.join(directory, "tsa.pem"),
                   "-inkey", os.path.join(directory, "tsa.key"),
                   "-chain", os.path.join(directory, "chain.pem"),
                   "-out", path("reply.tsr")]
        if faketime:
            command = ["faketime", faketime] + command
        result = subprocess.run(command, capture_output=True)
        if result.returncode != 0:
            raise RuntimeError("openssl ts -reply: " + result.stderr.decode(errors="replace"))
        with open(path("reply.tsr"), "rb") as stream:
            return stream.read()


def query(data):
    """A DER query for SHA-256 of data that asks for the authority's certificate."""
    result = subprocess.run(["openssl", "ts", "-query", "-sha256", "-cert"],
                            input=data, capture_output=True)
    if result.returncode != 0:
        raise RuntimeError("openssl ts -query: " + result.stderr.decode(errors="replace"))
    return result.stdout


def token(response):
    """The time-stamp token (a CMS SignedData) inside a DER response."""
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "reply.tsr")
        with open(source, "wb") as stream:
            stream.write(response)
        result = subprocess.run(["openssl", "ts", "-reply", "-in", source, "-token_out"],
                                capture_output=True)
        if result.returncode != 0:
            raise RuntimeError("openssl ts -token_out: " + result.stderr.decode(errors="replace"))
        return result.stdout


def serve(directory, mode):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            if mode == "error":
                self.send_error(500, "time stamping is down")
                return
            if mode == "garbage":
                answer = b"<html>not a time stamp</html>"
            elif mode == "other":
                answer = reply(query(b"some other data"), directory)
            else:
                answer = reply(body, directory)
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4) or sys.argv[1] != "serve":
        print(__doc__)
        sys.exit(1)
    serve(sys.argv[2], sys.argv[3] if len(sys.argv) == 4 else "ok")
