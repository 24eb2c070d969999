#!/usr/bin/env python3
"""Loopback HTTP(S) server for the web check tests.

Prints the port it listens on (127.0.0.1, chosen by the system) as its first
line, appends the path of every request to the log file when one is given
(marked " (proxy)" when a proxy forwarded it), and
serves until it is killed.
"""
import argparse
import http.server
import ssl
import sys
import threading
import time

WSDL = b"""<?xml version="1.0"?>
<wsdl:definitions xmlns:wsdl="http://schemas.xmlsoap.org/wsdl/" name="Sample">
  <wsdl:types/>
</wsdl:definitions>
"""

# path -> (status, extra headers, body)
PAGES = {
    "/ok": (200, {}, b"fine\n"),
    "/notfound": (404, {}, b"no such page\n"),
    "/unauthorized": (401, {"WWW-Authenticate": 'Basic realm="tests"'}, b"log in\n"),
    "/forbidden": (403, {}, b"forbidden\n"),
    "/servererror": (500, {}, b"broken\n"),
    "/xml": (200, {"Content-Type": "text/xml"}, b"<?xml version=\"1.0\"?><root><a>1</a></root>"),
    "/malformed": (200, {"Content-Type": "text/xml"}, b"<root><a>1</root>"),
    "/emptyelement": (200, {"Content-Type": "text/xml"}, b"<root/>"),
    "/empty": (200, {}, b""),
    "/wsdl": (200, {"Content-Type": "text/xml"}, WSDL),
    "/wsdlnoprefix": (200, {"Content-Type": "text/xml"},
                      b"<definitions xmlns=\"http://schemas.xmlsoap.org/wsdl/\"/>"),
}

# Hostile answers: a body nested 100000 levels deep (about 700 KB), and one of
# about 200 KB whose entity references would expand to 200 million characters
# (each entity stays below the expansion limits parsers commonly apply).
DEEP = b"<a>" * 100000 + b"</a>" * 100000
ENTITIES = (b'<?xml version="1.0"?>\n<!DOCTYPE bomb [\n'
            b'  <!ENTITY e0 "' + b"boom" * 100 + b'">\n'
            b'  <!ENTITY e1 "' + b"&e0;" * 10 + b'">\n]>\n'
            b"<bomb>" + b"&e1;" * 50000 + b"</bomb>")
PAGES["/deep"] = (200, {"Content-Type": "text/xml"}, DEEP)
PAGES["/entities"] = (200, {"Content-Type": "text/xml"}, ENTITIES)

GIGABYTE = 1 << 30

log_lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        if self.server.log_path:
            with log_lock, open(self.server.log_path, "a") as log:
                # Requests that came through a proxy carry its "Via" header.
                via = " (proxy)" if self.headers.get("Via") else ""
                log.write(self.path + via + "\n")
        path = self.path.split("?", 1)[0]
        if path == "/slow":
            # Answers far later than any test waits.
            time.sleep(60)
            return
        if path == "/endlessheader":
            self.endless_header()
            return
        if path in ("/huge", "/endless", "/trickle"):
            self.stream(path)
            return
        status, headers, body = PAGES.get(path, (404, {}, b"unknown\n"))
        self.send_response(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def endless_header(self):
        """A header that never ends."""
        line = b"X-Filler: " + b"a" * 65000 + b"\r\n"
        try:
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            while True:
                self.wfile.write(line)
        except (BrokenPipeError, ConnectionResetError):
            pass

    def stream(self, path):
        """A 1 GB body, a body without end, or one that drips without end."""
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        if path == "/huge":
            self.send_header("Content-Length", str(GIGABYTE))
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        chunk = b"<a>" + b" " * (65536 - 3)
        sent = 0
        try:
            while path != "/huge" or sent < GIGABYTE:
                if path == "/trickle":
                    self.wfile.write(b"<a>")
                    self.wfile.flush()
                    time.sleep(0.05)
                    continue
                part = chunk[:GIGABYTE - sent] if path == "/huge" else chunk
                self.wfile.write(part)
                sent += len(part)
        except (BrokenPipeError, ConnectionResetError):
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    server.log_path = args.log
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
