"""Stand-ins for what the search relay talks to, on loopback, for
run_server_tests.py: a provider over TLS that behaves as a request's query
asks (an answer, a redirect, an echo, a reset, a trickle), and a DNS server
whose answers a test changes."""
import socket
import ssl
import struct
import threading
import time

# The page a well-behaved provider answers with.
PAGE = (b'<?xml version="1.0" encoding="UTF-8"?>\n<YDF><ResultInfo><Count>0</Count><Total>0</Total>'
        b'<Status>200</Status></ResultInfo></YDF>\n')


class Provider:
    """A provider on 127.0.0.1 with the certificate `pem` and key `key`,
    keeping connections open for more requests. The value of a request's
    query parameter, up to its first "x", picks what it does (BEHAVIOURS);
    every request is kept in `requests` as (request line, headers as a dict
    of lower-case names, the bytes that followed the head within 0.3 s)."""

    def __init__(self, pem, key):
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(pem, key)
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.requests = []
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, raw):
        try:
            connection = self.context.wrap_socket(raw, server_side=True)
            while self._answer(connection):
                pass
        except (OSError, ssl.SSLError):
            pass
        finally:
            raw.close()

    def _answer(self, connection):
        """Reads one request and answers it; whether the connection is kept
        for another (unless the request or the behaviour ends it)."""
        connection.settimeout(5)
        head = b""
        while b"\r\n\r\n" not in head and len(head) < 65536:
            chunk = connection.recv(4096)
            if not chunk:
                return False
            head += chunk
        head, rest = head.split(b"\r\n\r\n", 1)
        connection.settimeout(0.3)
        try:
            rest += connection.recv(4096)
        except (socket.timeout, ssl.SSLError):
            pass
        lines = head.decode("latin-1").split("\r\n")
        headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers[name.strip().lower()] = value.strip()
        self.requests.append((lines[0], headers, rest))
        target = lines[0].split(" ")[1]
        query = next((p[6:] for p in target.split("?", 1)[-1].split("&") if p.startswith("query=")), "")
        behaviour = BEHAVIOURS.get(query.split("x")[0], BEHAVIOURS["page"])
        behaviour(connection, target, headers)
        return behaviour not in (reset, trickle) and headers.get("connection", "").lower() != "close"

    def stop(self):
        self.listener.close()


def respond(connection, status, headers, body):
    head = "HTTP/1.1 %d Whatever\r\n" % status + "".join("%s: %s\r\n" % h for h in headers)
    connection.sendall(head.encode("latin-1") + b"Content-Length: %d\r\n\r\n" % len(body) + body)


def reset(connection, target, headers):
    connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))


def trickle(connection, target, headers):
    connection.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: %d\r\n\r\n"
                       % len(PAGE))
    for byte in PAGE[:4]:
        time.sleep(8)
        connection.sendall(bytes([byte]))


def answer(make):
    """A behaviour that answers (status, headers, body) = make(request target, headers)."""
    return lambda connection, target, headers: respond(connection, *make(target, headers))


XML = ("Content-Type", "application/xml")
BEHAVIOURS = {
    "page": answer(lambda t, h: (200, [XML], PAGE)),
    # the request URL in every header that a browser follows
    "headers": answer(lambda t, h: (200, [XML, ("Link", "<%s>" % t), ("Content-Location", t), ("X-Echo", t),
                                          ("Refresh", "0; url=" + t), ("Set-Cookie", "q=" + t),
                                          ("Vary", "User-Agent")], PAGE)),
    "echo": answer(lambda t, h: (200, [XML], PAGE.replace(b"</YDF>", b"<Url>%s</Url></YDF>" % t.encode()))),
    "utf16": answer(lambda t, h: (200, [XML], ("<YDF>%s</YDF>" % t).encode("utf-16"))),
    "agent": answer(lambda t, h: (200, [XML, ("Vary", "User-Agent")], PAGE.replace(
        b"</YDF>", b"<Agent>%s</Agent></YDF>" % h.get("user-agent", "").encode()))),
    "spent": answer(lambda t, h: (503, [("X-Norrow-Relay", "spent")], b"")),
    "html": answer(lambda t, h: (200, [("Content-Type", "text/html")], b"<html>maintenance</html>")),
    "reset": reset,
    "trickle": trickle,
}
for _status in (301, 302, 307, 308):
    BEHAVIOURS["r%d" % _status] = answer(lambda t, h, status=_status: (status, [("Location", t)], b""))
for _status in (400, 403, 500, 503):
    BEHAVIOURS["e%d" % _status] = answer(lambda t, h, status=_status: (
        status, [("Content-Type", "text/html")], ("<p>bad request %s</p>" % t).encode()))


class Resolver:
    """A DNS server on 127.0.0.1 that answers A questions for the names in
    `addresses` (a name: an address; changed at will) with a time to live
    of one second, and NXDOMAIN for the rest."""

    def __init__(self):
        self.addresses = {}
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 0))
        self.port = self.socket.getsockname()[1]
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                query, client = self.socket.recvfrom(512)
            except OSError:
                return
            labels, at = [], 12
            while at < len(query) and query[at]:
                labels.append(query[at + 1:at + 1 + query[at]].decode("ascii", "replace"))
                at += 1 + query[at]
            question = query[12:at + 5]
            kind = struct.unpack("!H", query[at + 1:at + 3])[0] if at + 3 <= len(query) else 0
            address = self.addresses.get(".".join(labels).lower())
            answers = (b"\xc0\x0c" + struct.pack("!HHIH", 1, 1, 1, 4) + socket.inet_aton(address)
                       if address and kind == 1 else b"")
            flags = 0x8180 if address else 0x8183
            self.socket.sendto(query[:2] + struct.pack("!HHHHH", flags, 1, 1 if answers else 0, 0, 0)
                               + question + answers, client)

    def stop(self):
        self.socket.close()
