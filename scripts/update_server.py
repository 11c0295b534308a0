#!/usr/bin/env python3
"""Reference update server for ZORVEK Antivirus (Python standard library only).

Serves, from one folder, read afresh on every request:

  GET /api/v1/signatures   <folder>/signatures.txt   one SHA-256 digest per line ("#" comments)
  GET /api/v1/releases     <folder>/releases.json    {"windows": {"version": ..., "url": ...}}
  GET /api/v1/blocklist    <folder>/blocklist.txt    one domain per line
  GET /files/<name>        <folder>/files/<name>     e.g. the installer a release points at

Anything else is 404. Point the service's UpdateServer setting at the printed address.

  python3 scripts/update_server.py FOLDER [--bind 127.0.0.1] [--port 8080]
                                   [--tls CERT KEY] [--port-file FILE] [--quiet]

With --port 0 the system picks a free port; the address is printed on the first line of
standard output and, with --port-file, the port number is written to FILE (created complete,
so a reader never sees half of it).
"""

import argparse
import http.server
import os
import shutil
import signal
import ssl
import sys
import threading

ENDPOINTS = {
    "/api/v1/signatures": ("signatures.txt", "text/plain; charset=utf-8"),
    "/api/v1/releases": ("releases.json", "application/json"),
    "/api/v1/blocklist": ("blocklist.txt", "text/plain; charset=utf-8"),
}
FILES_PREFIX = "/files/"


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "ZorvekUpdateServer/1.0"
    protocol_version = "HTTP/1.1"
    timeout = 30  # seconds a silent client may hold its connection

    def resolve(self):
        """The file and content type for the request path, or None."""
        path = self.path.split("?", 1)[0].split("#", 1)[0]
        if path in ENDPOINTS:
            name, kind = ENDPOINTS[path]
            return os.path.join(self.server.folder, name), kind
        if path.startswith(FILES_PREFIX):
            name = path[len(FILES_PREFIX):]
            # One plain name inside files/: no separators, no "..", nothing hidden.
            if not name or "/" in name or "\\" in name or name.startswith(".") or "\0" in name:
                return None
            return os.path.join(self.server.folder, "files", name), "application/octet-stream"
        return None

    def send_plain(self, status, text):
        body = text.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def answer(self):
        found = self.resolve()
        if found is None:
            self.send_plain(404, "not found\n")
            return
        path, kind = found
        try:
            stream = open(path, "rb")
        except OSError:
            self.send_plain(404, "not found\n")
            return
        with stream:
            size = os.fstat(stream.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(size))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            if self.command != "HEAD":
                shutil.copyfileobj(stream, self.wfile, 1 << 20)

    def do_GET(self):
        self.answer()

    def do_HEAD(self):
        self.answer()

    def refuse(self):
        self.send_plain(405, "only GET\n")

    do_POST = do_PUT = do_DELETE = do_PATCH = refuse

    def log_message(self, fmt, *args):
        if not self.server.quiet:
            sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    tls = None
    quiet = False

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the connection's own thread: a client that never completes
        # it holds up nobody else.
        if self.tls is not None:
            request.settimeout(Handler.timeout)
            request = self.tls.wrap_socket(request, server_side=True)
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        if not self.quiet:
            sys.stderr.write("%s: %s\n" % (client_address[0], sys.exc_info()[1]))


def write_port_file(path, port):
    temp = path + ".tmp"
    with open(temp, "w", encoding="ascii") as f:
        f.write("%d\n" % port)
    os.replace(temp, path)


def main(argv=None):
    parser = argparse.ArgumentParser(description="Reference update server for ZORVEK Antivirus.")
    parser.add_argument("folder", help="folder holding signatures.txt, releases.json, blocklist.txt, files/")
    parser.add_argument("--bind", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=8080, help="port (0: any free port)")
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), help="serve HTTPS with this PEM pair")
    parser.add_argument("--port-file", help="write the port number here once listening")
    parser.add_argument("--quiet", action="store_true", help="no request log on standard error")
    args = parser.parse_args(argv)

    if not os.path.isdir(args.folder):
        parser.error("not a folder: %s" % args.folder)
    server = Server((args.bind, args.port), Handler)
    server.folder = os.path.abspath(args.folder)
    server.quiet = args.quiet
    scheme = "http"
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls[0], args.tls[1])
        server.tls = context
        scheme = "https"
    host, port = server.server_address[:2]
    print("update server listening on %s://%s:%d/" % (scheme, host, port), flush=True)
    if args.port_file:
        write_port_file(args.port_file, port)

    # SIGTERM ends the server as Ctrl+C does; shutdown() must come from another thread.
    def stop(*_):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
