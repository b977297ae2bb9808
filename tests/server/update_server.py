#!/usr/bin/env python3
"""A small update server for the tests: serves the version file and the DLL on 127.0.0.1 only.

Importable (UpdateServer, make_certificates) and runnable from the command line:

    update_server.py [--https --cert PEM --key PEM] [--port N]
                     [--text /PATH=TEXT]... [--file /PATH=FILE]...
    update_server.py make-certs DIR

The first form prints "PORT <n>" on a line of its own once it listens, then serves until it is
ended. Routes answer GET with a configured status, headers and body; a body can be sent gzip- or
deflate-coded, a route can set a cookie or demand one, and every request's headers are recorded so
tests can assert what the client sent (and what it did not send). A plain 200 route answers
"Range: bytes=N-" as a server with ranges does (206 with the rest, If-Range compared strongly with
its ETag, 416 beyond the end), can cut its first answers off after a number of body bytes, and
counts the body bytes it sent per path.
"""

import argparse
import gzip
import http.server
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time
import zlib

LOOPBACK = "127.0.0.1"


class Route:
    """One answer: status, body bytes, extra headers, an optional content coding and cookie rules.

    status_of: a callable that gives the status at each request (a status page that follows what
    is installed). encoding: None, "gzip" or "deflate" (zlib format); the body is compressed when served and the
    Content-Encoding header set. require_cookie: "name=value" that the request's Cookie header must
    carry; without it the route answers missing_cookie_status with missing_cookie_body.
    """

    def __init__(self, body=b"", status=200, headers=None, encoding=None, set_cookie=None,
                 require_cookie=None, missing_cookie_status=200,
                 missing_cookie_body=b"cookie missing", content_type=None, status_of=None,
                 writer=None, ranges=True, cut_after=None):
        # writer(handler): answers the request itself (slow, endless or cut-off bodies).
        self.writer = writer
        self.body = body.encode("utf-8") if isinstance(body, str) else body
        self.status = status
        self.headers = list((headers or {}).items())
        self.encoding = encoding
        self.set_cookie = set_cookie
        self.require_cookie = require_cookie
        self.missing_cookie_status = missing_cookie_status
        self.missing_cookie_body = missing_cookie_body
        self.status_of = status_of  # a callable asked at every request, instead of status
        self.ranges = ranges  # False: a Range header is ignored (200 with the whole body)
        # Body bytes after which the first answers end the connection, one entry per answer.
        self.cut_after = list(cut_after or [])
        if content_type is not None:
            self.headers.append(("Content-Type", content_type))


def stalling_body(filename, first_bytes, stall_s):
    """A writer that announces the file, sends its first bytes, then nothing for stall_s seconds
    (or until the client has gone), and ends the connection without the rest."""
    def writer(handler):
        with open(filename, "rb") as f:
            body = f.read()
        handler.send_response(200)
        handler.send_header("Content-Type", "application/octet-stream")
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        handler.close_connection = True
        try:
            handler.wfile.write(body[:first_bytes])
            handler.wfile.flush()
            for _ in range(stall_s):
                time.sleep(1)
        except OSError:
            pass
    return writer


class RecordedRequest:
    def __init__(self, method, path, headers):
        self.method = method
        self.path = path
        self.headers = headers  # list of (name, value) in the order received
        self.time = time.time()  # when it arrived (a client must honour a Retry-After)

    def header(self, name):
        """The first value of the header (compared without case), or None."""
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    def has_header(self, name):
        return self.header(name) is not None


def encode_body(body, encoding):
    if encoding == "gzip":
        return gzip.compress(body)
    if encoding == "deflate":
        return zlib.compress(body)
    return body


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "KorvalTestServer"

    def log_message(self, format, *args):  # keep test output quiet
        pass

    def do_GET(self):
        owner = self.server.owner
        owner._record(RecordedRequest(self.command, self.path, list(self.headers.items())))
        route = owner._find(self.path)
        if route is None:
            self._send(404, b"<html><body><h1>404 Not Found</h1></body></html>",
                       [("Content-Type", "text/html")])
            return
        if route.writer:
            route.writer(self)
            return
        status, body = route.status_of() if route.status_of else route.status, route.body
        # A route with an ETag answers a request that names it with 304 and no body.
        etag = dict(route.headers).get("ETag")
        if status == 200 and etag and self.headers.get("If-None-Match") == etag:
            self._send(304, b"", [("ETag", etag)])
            return
        if route.require_cookie and not self._has_cookie(route.require_cookie):
            status, body = route.missing_cookie_status, route.missing_cookie_body
        headers = list(route.headers)
        if route.set_cookie:
            headers.append(("Set-Cookie", route.set_cookie))
        if route.encoding:
            body = encode_body(body, route.encoding)
            headers.append(("Content-Encoding", route.encoding))
        elif status == 200 and route.ranges:
            status, body = self._range_of(body, etag, headers)
        with owner._lock:
            cut = route.cut_after.pop(0) if route.cut_after else None
        self._send(status, body, headers, cut)

    def _range_of(self, body, etag, headers):
        """The answer to "Range: bytes=N-": 206 with the rest when If-Range, if sent, is the
        strong ETag; 416 from the end on; the whole body for anything else."""
        asked = re.fullmatch(r"bytes=(\d+)-", self.headers.get("Range") or "")
        if_range = self.headers.get("If-Range")
        strong = etag is not None and not etag.startswith("W/")
        if not asked or (if_range is not None and not (strong and if_range == etag)):
            return 200, body
        start = int(asked.group(1))
        if start >= len(body):
            headers.append(("Content-Range", "bytes */%d" % len(body)))
            return 416, b""
        headers.append(("Content-Range", "bytes %d-%d/%d" % (start, len(body) - 1, len(body))))
        return 206, body[start:]

    def _has_cookie(self, wanted):
        cookies = [c.strip() for c in (self.headers.get("Cookie") or "").split(";")]
        return wanted in cookies

    def _send(self, status, body, headers, cut=None):
        """Sends the answer; with cut, only that many body bytes, then the connection ends."""
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        sent = body if cut is None else body[:cut]
        try:
            self.wfile.write(sent)
            self.wfile.flush()
        finally:
            self.server.owner._count(self.path, len(sent))
        if cut is not None:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A client that rejects our certificate drops the connection mid-handshake: expected.
        pass


class UpdateServer:
    """The server in a background thread. Use start() (returns the port) and stop(), or `with`."""

    def __init__(self, https=False, certfile=None, keyfile=None, port=0):
        self.https = https
        self._routes = {}
        self._lock = threading.Lock()
        self._requests = []
        self._body_bytes = {}
        self._httpd = _Server((LOOPBACK, port), _Handler)
        self._httpd.owner = self
        if https:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(certfile, keyfile)
            self._httpd.socket = context.wrap_socket(self._httpd.socket, server_side=True)
        self.port = self._httpd.server_address[1]
        self._thread = None

    # --- routes -------------------------------------------------------------------------------

    def route(self, path, body=b"", **options):
        """Serves path (with its query, as requested) with the given answer; see Route."""
        with self._lock:
            self._routes[path] = Route(body, **options)
        return self

    def serve_file(self, path, filename, content_type="application/octet-stream"):
        with open(filename, "rb") as f:
            return self.route(path, f.read(), content_type=content_type)

    def redirect(self, path, location, status=302, set_cookie=None):
        return self.route(path, b"", status=status, headers={"Location": location},
                          set_cookie=set_cookie)

    def redirect_chain(self, start, count, final, status=302, prefix="/hop"):
        """start redirects through count - 1 further hops to final: count redirects in all."""
        hops = [start] + ["%s%d" % (prefix, i) for i in range(1, count)]
        for i, hop in enumerate(hops):
            self.redirect(hop, hops[i + 1] if i + 1 < count else final, status)
        return hops

    def _find(self, path):
        # A request sent through this server as a proxy names the whole URL: its path decides.
        if path.startswith(("http://", "https://")):
            path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"
        with self._lock:
            return self._routes.get(path)

    # --- what the clients sent ----------------------------------------------------------------

    def _record(self, request):
        with self._lock:
            self._requests.append(request)

    def _count(self, path, sent):
        with self._lock:
            self._body_bytes[path] = self._body_bytes.get(path, 0) + sent

    def body_bytes(self, path):
        """The body bytes sent for path so far, over every answer."""
        with self._lock:
            return self._body_bytes.get(path, 0)

    @property
    def requests(self):
        with self._lock:
            return list(self._requests)

    def clear_requests(self):
        with self._lock:
            self._requests.clear()

    # --- life ---------------------------------------------------------------------------------

    @property
    def base_url(self):
        host = "localhost" if self.https else LOOPBACK
        return "%s://%s:%d" % ("https" if self.https else "http", host, self.port)

    def url(self, path):
        return self.base_url + path

    def start(self):
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)
        self._thread.start()
        return self.port

    def stop(self):
        self._httpd.shutdown()
        self._httpd.server_close()
        if self._thread:
            self._thread.join(5)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_certificates(directory, name="test"):
    """Makes a test CA and a server certificate signed by it for localhost and 127.0.0.1.

    Returns a dict of paths: ca_pem, ca_der, cert, key. Files that exist are reused, so a CA
    trusted once in a Wine prefix stays valid for later runs.
    """
    os.makedirs(directory, exist_ok=True)
    paths = {
        "ca_key": os.path.join(directory, name + "-ca.key"),
        "ca_pem": os.path.join(directory, name + "-ca.pem"),
        "ca_der": os.path.join(directory, name + "-ca.der"),
        "key": os.path.join(directory, name + "-server.key"),
        "csr": os.path.join(directory, name + "-server.csr"),
        "cert": os.path.join(directory, name + "-server.pem"),
        "ext": os.path.join(directory, name + "-server.ext"),
    }
    if all(os.path.exists(paths[k]) for k in ("ca_pem", "ca_der", "key", "cert")):
        return paths
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", paths["ca_key"],
             "-out", paths["ca_pem"], "-days", "3650", "-subj", "/CN=KORVAL Test CA " + name,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=directory)
    _openssl("x509", "-in", paths["ca_pem"], "-outform", "DER", "-out", paths["ca_der"],
             cwd=directory)
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", paths["key"], "-out",
             paths["csr"], "-subj", "/CN=localhost", cwd=directory)
    with open(paths["ext"], "w") as f:
        # Wine ignores IP entries of subjectAltName, hence the address as a DNS name as well.
        f.write("subjectAltName=DNS:localhost,DNS:127.0.0.1,IP:127.0.0.1\n"
                "basicConstraints=CA:FALSE\n"
                "keyUsage=digitalSignature,keyEncipherment\n"
                "extendedKeyUsage=serverAuth\n")
    _openssl("x509", "-req", "-in", paths["csr"], "-CA", paths["ca_pem"], "-CAkey",
             paths["ca_key"], "-CAcreateserial", "-out", paths["cert"], "-days", "3650",
             "-sha256", "-extfile", paths["ext"], cwd=directory)
    return paths


def _split_mapping(text):
    path, sep, value = text.partition("=")
    if not sep or not path.startswith("/"):
        raise argparse.ArgumentTypeError("expected /PATH=VALUE, got %r" % text)
    return path, value


def main(argv):
    if argv[:1] == ["make-certs"]:
        for key, value in make_certificates(argv[1]).items():
            print("%s %s" % (key, value))
        return 0
    parser = argparse.ArgumentParser(description="Test update server on 127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--https", action="store_true")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--text", action="append", default=[], type=_split_mapping)
    parser.add_argument("--file", action="append", default=[], type=_split_mapping)
    args = parser.parse_args(argv)
    server = UpdateServer(https=args.https, certfile=args.cert, keyfile=args.key, port=args.port)
    for path, text in args.text:
        server.route(path, text.encode("utf-8"), content_type="text/plain")
    for path, filename in args.file:
        server.serve_file(path, filename)
    print("PORT %d" % server.port, flush=True)
    try:
        server._httpd.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
