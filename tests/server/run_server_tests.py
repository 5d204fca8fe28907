#!/usr/bin/env python3
"""The server information on the real nginx and PHP-FPM, started on loopback
with `norrow serve-info`, and the plug-in configuring itself from it.

  run_server_tests.py --norrow ./norrow --sim build/native/bin/tamsel-sim \
                      --host serverinfo.norrow.example
      the answers byte for byte, bad requests, broken, cut and racing
      configurations, the limits against a hostile client (rate, stalled
      connections, a flood), the stop on SIGINT and SIGTERM, the plug-in
      through tamsel-sim --route, and the search relay
  ... --only plugin --sim build/mingw/bin/tamsel-sim.exe --wine cmake/wine-run \
      --services build/native/bin/tamsel-sim
      only the plug-in, the Windows build under Wine (run it under xvfb-run)
  ... --only plugin --build-host info.maker.test --build-dir DIR
      builds the plug-in and tamsel-sim with NORROW_SERVERINFO_HOST set to
      that name first, and checks that the plug-in asks that host
  ... --only limits [--figures FILE]
      only the limits (no --sim needed); FILE gets their figures as JSON
      (bench/serverinfo_load.sh)
  ... --only relay
      only the search relay, against the stand-in services behind an nginx
      that speaks HTTPS with certificates made for the run, a scripted
      provider and a DNS server (stand_ins.py) (the whole run and --only
      plugin check it too; under Wine, what the plug-in sees of it)
"""
import argparse
import gzip
import http.client
import json
import os
import re
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path[:0] = [os.path.dirname(os.path.abspath(__file__)),
                os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support")]
from checks import (WINE_EMULATED, Tally, free_port, run_to_files, start_services,  # noqa: E402
                    stop_services)
from stand_ins import PAGE, Provider, Resolver  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
INSTALL = os.path.join(ROOT, "server", "install-config")
RELAY_JS = os.path.join(ROOT, "server", "relay.js")
BUDGET = os.path.join(ROOT, "server", "relay-budget.php")
USAGE = os.path.join(ROOT, "server", "relay-usage")
USAGE_LOG = os.path.join(HERE, "data", "relay.log")  # two days of a relay with daily_budget 2
USAGE_TABLE = """day         upstream  per-client  ceiling cache hits    used of 2
2026-12-08         1           1        0          0        50.0%
2026-12-09         1           1        2          1        50.0%  ran out at 09:59:00
"""
EXAMPLE = os.path.join(ROOT, "server", "serverinfo.example.ini")
PATH = "/norrow/downloadinfo.php"
BOUNDARY = "kiritori"
# The plug-in's request, as it sends it.
PLUGIN_BODY = ('--kiritori\r\nContent-Disposition: form-data; name="version"\r\n\r\n'
               '1000\r\n--kiritori--\r\n').encode()
MULTIPART = "multipart/form-data; boundary=" + BOUNDARY
# A plug-in's search takes a few seconds even under emulation; a run that
# hangs there is ended and made once more (checks.run_to_files).
SEARCH_SECONDS = 240
SERVICES_APPID = "norrow-demo"  # what the stand-in services hand out and expect
REFUSED = "configuration refused"  # begins every line the service logs about its configuration

MESSAGE = ["検索サービスのお知らせ", "ダウンロードは 10 時まで"]  # ダ is 83 5F in Shift-JIS
UPDATE = ["Web地名検索プラグインが古いため検索できません.", "新しい版をインストールしてください."]


def config_lines(services_port, **changes):
    """A configuration pointing both services at the stand-in services, as
    (name, text) pairs; `changes` replace lines ("name": "new text", or None
    to drop it; a new name is added at the end)."""
    lines = {
        "serverinfo": "[serverinfo]",
        "lowest_version": "lowest_version = 1000",
        "max_page": "max_page = 2",
        "user_message": "\n".join('user_message[] = "%s"' % line for line in MESSAGE),
        "update_message": "\n".join('update_message[] = "%s"' % line for line in UPDATE),
        "geocoder": "[geocoder]",
        "g_host": 'host = "127.0.0.1"',
        "g_path": 'path = "/v1/geocoder"',
        "g_referer": 'referer = "http://referer.example/"',
        "g_port": "port = %d" % services_port,
        "g_appid": 'appid = "%s"' % SERVICES_APPID,
        "localsearch": "[localsearch]",
        "l_host": 'host = "127.0.0.1"',
        "l_path": 'path = "/v1/localsearch"',
        "l_referer": 'referer = ""',
        "l_port": "port = %d" % services_port,
        "l_appid": 'appid = "%s"' % SERVICES_APPID,
    }
    lines.update(changes)
    return [(name, text) for name, text in lines.items() if text is not None]


def config_text(services_port, **changes):
    return "\n".join(text for _, text in config_lines(services_port, **changes)) + "\n"


def line_of(services_port, changes):
    """The line number of the first line that `changes` give."""
    number = 1
    for name, text in config_lines(services_port, **changes):
        if name in changes:
            return number
        number += text.count("\n") + 1
    return None


def expected_answer(services_port):
    """The answer to that configuration, written out independently."""
    text = ("SERVERINFO\r\n"
            "GEOCODER 127.0.0.1,/v1/geocoder,http://referer.example/,%d,%s\r\n"
            "LOCALSEARCH 127.0.0.1,/v1/localsearch,,%d,%s\r\n"
            "MAXPAGE 2\r\n"
            "USER_MESSAGE %s\r\n") % (services_port, SERVICES_APPID, services_port, SERVICES_APPID,
                                      "_".join(MESSAGE))
    return text.encode("cp932")


DENIED = b"SERVERINFO\r\nDENIED\r\n"
TOO_OLD = ("SERVERINFO\r\nUSER_MESSAGE %s\r\nDENIED\r\n" % "_".join(UPDATE)).encode("cp932")

# The search relay. Names that the tests route to loopback: the plug-ins
# reach the relay as PUBLIC_HOST:80; the relay reaches the stand-in services
# as UPSTREAM over HTTPS, and the failing upstreams below by their names.
PUBLIC_HOST = "relay.norrow.test"
UPSTREAM = "upstream.norrow.test"
RELAY_PATHS = {"geocoder": "/norrow/relay/geocoder", "localsearch": "/norrow/relay/localsearch"}
SERVICE_PATHS = {"geocoder": "/v1/geocoder", "localsearch": "/v1/localsearch"}
STATUS_LINES = {"address": "Yahoo!住所検索：通信中にエラーが発生しました.",
                "local": "Yahoo!ローカルサーチ：通信中にエラーが発生しました."}
# A search the relay passes on: its query after query=VALUE.
SEARCH = "&ei=SJIS&result=10&output=xml"
SCRIPTED = "scripted.norrow.test"  # the scripted provider (stand_ins.Provider)
MOVING = "moving.norrow.test"      # the same, reached by the name that the stand-in DNS gives
RELAY_AGENT = "Norrow-relay/1"
# What a client may see of an answer of the relay's.
RELAY_HEADERS = {"server", "date", "content-type", "content-length", "connection", "allow"}

# What the provider does (the query value that asks it), and what the relay
# answers each of two clients asking the same (one with another
# User-Agent), with the cache on: (name, query value, status, requests the
# provider gets for both). The trickle is asked once.
PROVIDER_BEHAVIOURS = [
    ("a page with the request URL in Link, Content-Location, Refresh, Set-Cookie, X-Echo; Vary",
     "headers", 200, 1),
    ("a page that varies by User-Agent", "agent", 200, 1),
    ("a redirect 301 to the request URL", "r301", 502, 2),
    ("a redirect 302", "r302", 502, 2),
    ("a redirect 307", "r307", 502, 2),
    ("a redirect 308", "r308", 502, 2),
    ("a 400 page echoing the request URL", "e400", 502, 2),
    ("a 403 page echoing it", "e403", 502, 2),
    ("a 500 page echoing it", "e500", 502, 2),
    ("a 503 page echoing it", "e503", 502, 2),
    ("a 200 whose XML echoes the request URL", "echo", 502, 1),
    ("a 200 that echoes it in UTF-16", "utf16", 502, 1),
    ("a 200 that is HTML", "html", 502, 1),
    ("a 503 with the relay's own mark of a spent budget", "spent", 502, 2),
    ("a reset of every connection, kept ones too", "reset", 502, 2),
    ("a trickle, a byte every 8 s", "trickle", 504, 1),
]

# What clients send to /norrow/relay/geocoder (after ?; "%d" becomes a
# number of the run, so that no answer comes from the cache), and the
# relay's status: (name, method, query, headers, body, status).
CLIENT_REQUESTS = [
    ("the plug-in's search", "GET", "appid=-&query=pagex{n}" + SEARCH, {}, None, 200),
    ("HEAD", "HEAD", "appid=-&query=pagex{n}" + SEARCH, {}, None, 200),
    ("another User-Agent", "GET", "appid=-&query=pagex{n}" + SEARCH, {"User-Agent": "evil/1"}, None, 200),
    ("a GET with a body and its length", "GET", "appid=-&query=pagex{n}" + SEARCH, {}, b"GET /x HTTP/1.1\r\n\r\n",
     200),
    ("a GET with Expect", "GET", "appid=-&query=pagex{n}" + SEARCH, {"Expect": "100-continue"}, None, 200),
    ("a GET with a body in chunks", "GET", "appid=-&query=pagex{n}" + SEARCH, {"Transfer-Encoding": "chunked"},
     b"0\r\n\r\n", 411),
    ("a query at the encoder's capacity", "GET", "appid=-&query=" + "%93" * 339 + SEARCH, {}, None, 200),
    ("a query over it", "GET", "appid=-&query=" + "%93" * 339 + "x" + SEARCH, {}, None, 400),
    ("output=json&callback= (a JSONP API)", "GET", "appid=-&query=pagex{n}&ei=SJIS&result=10&output=json"
     "&callback=steal", {}, None, 400),
    ("a parameter of its own", "GET", "appid=-&query=pagex{n}" + SEARCH + "&n=1", {}, None, 400),
    ("a parameter twice", "GET", "appid=-&query=pagex{n}&query=x" + SEARCH, {}, None, 400),
    ("appid after the query", "GET", "query=pagex{n}&appid=-" + SEARCH, {}, None, 400),
    ("no appid", "GET", "query=pagex{n}" + SEARCH, {}, None, 400),
    ("the parameters out of order", "GET", "appid=-&query=pagex{n}&result=10&ei=SJIS&output=xml", {}, None, 400),
    ("a lower-case escape", "GET", "appid=-&query=%e6" + SEARCH, {}, None, 400),
    ("neither a query nor a box", "GET", "appid=-" + SEARCH, {}, None, 400),
    ("start=0", "GET", "appid=-&query=pagex{n}&ei=SJIS&start=0&result=10&output=xml", {}, None, 400),
    ("a POST", "POST", "appid=-&query=pagex{n}" + SEARCH, {}, b"x", 405),
]

# (what fails, the upstream's name, the relay's answer)
FAILING_UPSTREAMS = [
    ("a stopped upstream", "stopped.norrow.test", 502),
    ("an upstream whose certificate no trusted CA signed", "untrusted.norrow.test", 502),
    ("an upstream whose certificate names another host", "misnamed.norrow.test", 502),
    ("an upstream silent after the connection", "silent.norrow.test", 504),
]


def relay_section(per_minute=600, cache=0, ca=None, budget=1000000):
    return "\n".join(["[relay]", 'public_host = "%s"' % PUBLIC_HOST, "requests_per_minute = %d" % per_minute,
                      "cache_seconds = %d" % cache] + (['upstream_ca = "%s"' % ca] if ca else [])
                     + (["daily_budget = %d" % budget] if budget is not None else []))


def relayed(upstream=UPSTREAM, **changes):
    """The changes of config_lines that relay both services to `upstream`,
    and `changes` on top."""
    lines = {"user_message": None, "relay": relay_section()}
    for prefix, service in (("g", "geocoder"), ("l", "localsearch")):
        lines.update({prefix + "_host": 'upstream = "https://%s%s"' % (upstream, SERVICE_PATHS[service]),
                      prefix + "_path": None, prefix + "_port": None})
    lines.update(changes)
    return lines


RELAYED_ANSWER = ("SERVERINFO\r\nGEOCODER %s,/norrow/relay/geocoder,http://referer.example/,80,-\r\n"
                  "LOCALSEARCH %s,/norrow/relay/localsearch,,80,-\r\nMAXPAGE 2\r\n"
                  % (PUBLIC_HOST, PUBLIC_HOST)).encode()


def form(name, value, disposition=""):
    return ('--kiritori\r\nContent-Disposition: form-data; name="%s"%s\r\n\r\n%s\r\n'
            '--kiritori--\r\n' % (name, disposition, value)).encode()


def exactly(size):
    """A multipart body of `size` bytes whose version field is padding."""
    return form("version", "1" * (size - len(form("version", ""))))


# Requests and their answers: (name, method, path, content type, body (a list
# is sent in chunks), status, answer body (None: not checked; "ANSWER": the
# configured one)). None of them may leave a line in the error log.
REQUESTS = [
    ("the plug-in's POST", "POST", PATH, MULTIPART, PLUGIN_BODY, 200, "ANSWER"),
    ("a later version", "POST", PATH, MULTIPART, form("version", "1001"), 200, "ANSWER"),
    ("the lowest version exactly", "POST", PATH, MULTIPART, form("version", "1000"), 200, "ANSWER"),
    ("a quoted boundary", "POST", PATH, 'multipart/form-data; boundary="kiritori"', PLUGIN_BODY, 200,
     "ANSWER"),
    ("a version too old", "POST", PATH, MULTIPART, form("version", "999"), 200, TOO_OLD),
    ("version 0", "POST", PATH, MULTIPART, form("version", "0"), 200, TOO_OLD),
    ("a version that is no number", "POST", PATH, MULTIPART, form("version", "abc"), 200, DENIED),
    ("an empty version", "POST", PATH, MULTIPART, form("version", ""), 200, DENIED),
    ("a negative version", "POST", PATH, MULTIPART, form("version", "-1000"), 200, DENIED),
    ("a version with a fraction", "POST", PATH, MULTIPART, form("version", "1000.5"), 200, DENIED),
    ("a version of 20 digits", "POST", PATH, MULTIPART, form("version", "9" * 20), 200, DENIED),
    ("a version with blanks", "POST", PATH, MULTIPART, form("version", " 1000"), 200, DENIED),
    ("a version with a line break after it", "POST", PATH, MULTIPART, form("version", "1000\n"), 200,
     DENIED),
    ("a version given twice", "POST", PATH, MULTIPART,
     form("version", "1000")[:-len("--kiritori--\r\n")] + form("version", "1000"), 200, DENIED),
    ("the version as a file", "POST", PATH, MULTIPART,
     form("version", "1000", '; filename="version.txt"'), 200, DENIED),
    ("multipart without a boundary", "POST", PATH, "multipart/form-data", PLUGIN_BODY, 200, DENIED),
    ("an unterminated multipart body", "POST", PATH, MULTIPART, PLUGIN_BODY[:-16], 200, DENIED),
    ("no version field", "POST", PATH, MULTIPART, form("release", "1000"), 200, DENIED),
    ("version as a url-encoded form", "POST", PATH, "application/x-www-form-urlencoded",
     b"version=1000", 200, DENIED),
    ("an empty POST", "POST", PATH, None, b"", 200, DENIED),
    ("GET", "GET", PATH, None, None, 405, None),
    ("HEAD", "HEAD", PATH, None, None, 405, None),
    ("PUT", "PUT", PATH, MULTIPART, PLUGIN_BODY, 405, None),
    ("a body of 4096 bytes", "POST", PATH, MULTIPART, exactly(4096), 200, DENIED),
    ("a body of 4097 bytes", "POST", PATH, MULTIPART, exactly(4097), 413, None),
    ("a body of 40 KiB", "POST", PATH, MULTIPART, form("version", "1" * 40960), 413, None),
    ("a body in chunks", "POST", PATH, MULTIPART, [PLUGIN_BODY], 411, None),
    ("another path", "POST", "/norrow/other.php", MULTIPART, PLUGIN_BODY, 404, None),
    ("the script's source", "GET", "/downloadinfo.php", None, None, 404, None),
    ("the configuration", "GET", "/serverinfo.ini", None, None, 404, None),
]

# Configurations that are refused, each written over the live one by hand:
# the service goes on with the last good one and logs the fault, and
# `install-config --check` refuses the same file with the same words. One row
# for each kind of refusal: (name, the changes of each file of that kind, a
# change of the file's bytes, what both say; "{line}" is "serverinfo.ini:N"
# for the first line that a file's changes give)
BROKEN = [
    ("no file", [None], None, "serverinfo.ini: no such readable file"),
    ("not INI", [{"geocoder": "[geocoder"}], None, "{line}: is neither a setting"),
    ("no [localsearch]", [{k: None for k in ("localsearch", "l_host", "l_path", "l_referer",
                                              "l_port", "l_appid")}], None,
     "serverinfo.ini: section [localsearch] is missing"),
    ("a misspelt key", [{"g_appid": 'app_id = "x"'}], None, "{line}: [geocoder] app_id is not a setting"),
    ("no appid", [{"l_appid": None}], None, "[localsearch] appid is missing"),
    ("an unknown section", [{"extra": "[relays]"}], None, "{line}: [relays] is not a section"),
    ("a section given twice", [{"extra": "[geocoder]"}], None, "{line}: section [geocoder] is given twice"),
    ("a setting outside a section", [{"serverinfo": None}], None,
     "serverinfo.ini:1: lowest_version is outside a section"),
    ("a key given twice", [{"g_port": "port = 80\nport = 81"}], None,
     "serverinfo.ini:13: [geocoder] port is given twice (first on line 12)"),
    ("a list written as one value", [{"update_message": 'update_message = "x"'}], None,
     "{line}: [serverinfo] update_message is a list"),
    ("an unterminated quote", [{"g_appid": 'appid = "%s' % SERVICES_APPID}], None,
     "{line}: [geocoder] appid has no closing double quote"),
    ("a quote inside a value", [{"g_appid": 'appid = "norrow"demo"'}], None,
     "{line}: [geocoder] appid holds a double quote inside its value"),
    ("a quote inside a bare value", [{"l_path": 'path = /v1/"local"'}], None,
     "{line}: [localsearch] path holds a double quote"),
    ("a comment after a value", [{"g_referer": 'referer = "" ; none'}], None,
     "{line}: [geocoder] referer has text after its closing double quote"),
    ("an appid with a semicolon or a blank", [{"l_appid": "appid = norrow;demo"},
                                              {"l_appid": 'appid = "norrow demo"'}], None,
     "{line}: [localsearch] appid must be one or more of"),
    ("a host that is empty, has a scheme, a blank, a second = or a port",
     [{"g_host": text} for text in ('host = ""', 'host = "http://127.0.0.1"', 'host = "geo search.example"',
                                    "host = =127.0.0.1", 'host = "127.0.0.1:80"')], None,
     "{line}: [geocoder] host must be a DNS name"),
    ("port 0, 65536 or by name", [{"g_port": "port = %s" % p} for p in ("0", "65536", "http")], None,
     "{line}: [geocoder] port must be a whole number"),
    ("max_page 0", [{"max_page": "max_page = 0"}], None, "{line}: [serverinfo] max_page must be a whole"),
    ("lowest_version with a sign", [{"lowest_version": "lowest_version = +1000"}], None,
     "{line}: [serverinfo] lowest_version must be a whole number"),
    ("a path with a comma, without / or with a query",
     [{"g_path": 'path = "%s"' % p} for p in ("/v1,geocoder", "v1/geocoder", "/v1/geocoder?x=1")], None,
     "{line}: [geocoder] path must start"),
    ("a comma in a referer", [{"g_referer": 'referer = "a,b"'}], None,
     "{line}: [geocoder] referer must not contain a comma"),
    ("a wave dash or a yen sign, which code page 932 turns to another character",
     [{"user_message": 'user_message[] = "10時〜12時"'}, {"update_message": 'update_message[] = "¥100"'}], None,
     "code page 932 cannot hold"),
    ("a tab in a message", [{"user_message": 'user_message[] = "a\tb"'}], None,
     "{line}: [serverinfo] user_message holds a control character"),
    ("an underscore in a message", [{"user_message": 'user_message[] = "a_b"'}], None,
     'user_message must not contain "_"'),
    ("no update message", [{"update_message": None}], None, "[serverinfo] update_message is missing"),
    ("an empty update message", [{"update_message": 'update_message[] = ""'}], None,
     "[serverinfo] update_message is empty"),
    ("a line too long for the plug-in", [{"l_referer": 'referer = "%s"' % ("x" * 1000)}], None,
     "longer than 1022 bytes"),
    ("Shift-JIS bytes, not UTF-8", [{}],
     lambda b: b.replace(b'user_message[] = "', b'user_message[] = "\x83\x83', 1),
     "serverinfo.ini:4: is not UTF-8"),
    ("the last line without its line break", [{}], lambda b: b[:-1],
     "serverinfo.ini:19: the last line does not end with a line break"),
    ("no host for a service without upstream", [{"l_host": None}], None, "[localsearch] host is missing"),
    ("an upstream over plain HTTP, with a query, an nginx variable, port 65536 or no path",
     [relayed(g_host='upstream = "%s"' % u) for u in (
         "http://%s/v1/geocoder" % UPSTREAM, "https://%s/v1/geocoder?x=1" % UPSTREAM,
         "https://%s/v1/$host" % UPSTREAM, "https://%s:65536/v1" % UPSTREAM, "https://%s" % UPSTREAM)], None,
     "{line}: [geocoder] upstream must be https://HOST[:PORT]/PATH"),
    ("an upstream by IP address, whose certificate nginx cannot check",
     [relayed(g_host='upstream = "https://%s/v1/geocoder"' % a) for a in ("127.0.0.1", "[::1]")], None,
     "{line}: [geocoder] upstream must name its host by a DNS name, not an IP address"),
    ("a path beside an upstream", [relayed(l_path='path = "/v1/localsearch"')], None,
     "[localsearch] path is not used beside upstream"),
    ("an upstream without [relay]", [relayed(relay=None)], None,
     "section [relay] is missing (a service has an upstream)"),
    ("[relay] without public_host", [relayed(relay=relay_section().replace("public_host", ";public_host"))],
     None, "[relay] public_host is missing"),
    ("requests_per_minute 0", [relayed(relay=relay_section(per_minute=0))], None,
     "[relay] requests_per_minute must be a whole number from 1 to 60000"),
    ("cache_seconds over a day", [relayed(relay=relay_section(cache=86401))], None,
     "[relay] cache_seconds must be a whole number from 0 to 86400"),
    ("daily_budget 0 or over a million", [relayed(relay=relay_section(budget=b)) for b in (0, 1000001)], None,
     "[relay] daily_budget must be a whole number from 1 to 1000000"),
    ("a relative upstream_ca", [relayed(relay=relay_section(ca="ca.pem"))], None,
     "[relay] upstream_ca must be an absolute path"),
]


# The same configuration written otherwise, as the reading rules allow: each
# answers as the plain one, and nothing is logged. (name, a change of the bytes)
EQUIVALENT = [
    ("CR LF line breaks", lambda b: b.replace(b"\n", b"\r\n")),
    ("a byte-order mark", lambda b: b"\xef\xbb\xbf" + b),
    ("a bare value, tabs and blanks around =", lambda b: b.replace(b'host = "127.0.0.1"', b"host\t=127.0.0.1  ")),
    ("comments, blank lines and indentation",
     lambda b: b.replace(b"[geocoder]\n", b"\n; the address search\n  [geocoder]\n   \t")),
]


def descendants(pid):
    """The processes below `pid`, read from /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open("/proc/%s/stat" % entry) as f:
                    parents[int(entry)] = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                pass
    found, frontier = [], [pid]
    while frontier:
        parent = frontier.pop()
        children = [p for p, pp in parents.items() if pp == parent]
        found += children
        frontier += children
    return found


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def wait_until(condition, seconds):
    """Asks `condition` every 50 ms until it holds (True) or `seconds` have
    passed (False)."""
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return False


def has_ipv6_loopback():
    try:
        with open("/proc/net/if_inet6") as f:
            return any(line.startswith("0" * 31 + "1 ") for line in f)
    except OSError:
        return False


def free_port_both():
    """A port free on 127.0.0.1 and on ::1, where there is one: serve-info
    listens on both."""
    while True:
        port = free_port()
        if not has_ipv6_loopback():
            return port
        with socket.socket(socket.AF_INET6) as s:
            try:
                s.bind(("::1", port))
                return port
            except OSError:
                pass


def install(source, live=None, check=False, options=()):
    """server/install-config on `source` (into `live`, with `options`, or --check)."""
    args = ["php", INSTALL] + (["--check", source] if check else
                               list(options) + [source] + ([live] if live else []))
    return subprocess.run(args, capture_output=True, timeout=60)


class ServeInfo:
    """`norrow serve-info` in the background, its error log collected."""

    def __init__(self, norrow, config, *options, env=None):
        self.port = free_port_both()
        self.process = subprocess.Popen(
            [norrow, "serve-info", "--port", str(self.port), "--config", config] + list(options),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        self.errors = []
        self.error_bytes = 0
        threading.Thread(target=self._collect, daemon=True).start()
        self.banner = self.process.stdout.readline().decode("utf-8", "replace")
        threading.Thread(target=self.process.stdout.read, daemon=True).start()  # the access log
        found = re.search(r"live configuration (\S+) ", self.banner)
        self.live = found.group(1) if found else None
        # How to install another, with the relay: install-config's options.
        found = re.search(r"install-config (.*) FILE ", self.banner)
        self.install_options = found.group(1).split() if found else []
        if "Ctrl-C stops" not in self.banner:
            self.stop()
            raise RuntimeError("serve-info did not start: %r %s" % (self.banner, "".join(self.errors)))

    def _collect(self):
        for line in self.process.stderr:
            self.error_bytes += len(line)
            self.errors.append(line.decode("utf-8", "replace"))

    def logged(self, fragment, since, wait=3.0):
        return wait_until(lambda: any(fragment in line for line in self.errors[since:]), wait)

    def new_errors(self, since, settle=0.3):
        """The error-log lines since `since`, once the log has been quiet."""
        time.sleep(settle)
        return self.errors[since:]

    def request(self, method, path, content_type, body, source="127.0.0.1", host="127.0.0.1",
                timeout=10, headers=None):
        connection = http.client.HTTPConnection(host, self.port, timeout=timeout,
                                                source_address=(source, 0) if source else None)
        headers = dict(headers or {}, **({"Content-Type": content_type} if content_type else {}))
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response, data

    def post(self, **where):
        """The plug-in's POST: (status, answer)."""
        response, data = self.request("POST", PATH, MULTIPART, PLUGIN_BODY, **where)
        return response.status, data

    def install(self, source):
        """Installs `source` as the live configuration, with its relay, and
        waits until nginx's workers of the configuration before are gone."""
        before = self.nginx_workers()
        result = install(source, self.live, options=self.install_options)
        if b"nginx reloads" in result.stderr:
            wait_until(lambda: not any(alive(pid) for pid in before), 10)
        return result

    def nginx_workers(self):
        found = []
        for pid in descendants(self.process.pid):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    if f.read().startswith((b"nginx: worker", b"nginx: cache")):
                        found.append(pid)
            except OSError:
                pass
        return found

    def write_live(self, data):
        """Writes the live configuration by hand, in place, as an editor would."""
        with open(self.live, "wb") as f:
            f.write(data)

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            return self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None


class Upstream:
    """The stand-in services as the provider serves them: behind an nginx in
    `folder` that speaks HTTPS on 127.0.0.1 with certificates of throwaway
    CAs made here. `port` has one for UPSTREAM from the CA `ca`, which the
    relay is told to trust, and `untrusted_port` one for
    untrusted.norrow.test from another CA. `seen()` is every request target
    it was sent, as sent. With `page` (a file in `folder`), it answers every
    request with that page itself (for a load test of the relay alone)."""

    CONF = """daemon off; worker_processes 1; pid nginx.pid; error_log stderr;
events { worker_connections 64; }
http {
    client_body_temp_path temp/body; proxy_temp_path temp/proxy; fastcgi_temp_path temp/fastcgi;
    uwsgi_temp_path temp/uwsgi; scgi_temp_path temp/scgi;
    log_format seen '$request_uri';
    access_log seen.log seen;
    server {
        listen 127.0.0.1:%(port)d ssl; ssl_certificate upstream.pem; ssl_certificate_key upstream.key;
        location / { %(answer)s }
    }
    server {
        listen 127.0.0.1:%(untrusted_port)d ssl; ssl_certificate untrusted.pem; ssl_certificate_key untrusted.key;
        location / { %(answer)s }
    }
}
"""

    def __init__(self, folder, services_port, page=None):
        os.makedirs(os.path.join(folder, "temp"), exist_ok=True)
        self.folder = folder
        self.ca = self.certificate("ca", None, "Norrow test CA")
        self.certificate("upstream", "ca", UPSTREAM)
        self.certificate("other-ca", None, "Norrow test CA")
        self.certificate("untrusted", "other-ca", "untrusted.norrow.test")
        self.port, self.untrusted_port = free_port(), free_port()
        answer = ('default_type "application/xml; charset=UTF-8"; root %s; try_files /%s =404;' % (folder, page)
                  if page else "proxy_pass http://127.0.0.1:%d;" % services_port)
        with open(os.path.join(folder, "nginx.conf"), "w") as f:
            f.write(self.CONF % {"port": self.port, "untrusted_port": self.untrusted_port, "answer": answer})
        self.process = subprocess.Popen(["nginx", "-e", "stderr", "-p", folder + "/", "-c", "nginx.conf"],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 10
        while not all(self.listening(p) for p in (self.port, self.untrusted_port)):
            if time.time() > deadline or self.process.poll() is not None:
                self.stop()
                raise RuntimeError("the TLS upstream did not start")
            time.sleep(0.05)

    def certificate(self, name, ca, common_name, *more_names):
        """A key and certificate NAME.key and NAME.pem: a CA's own, or one for
        the host `common_name` (and `more_names`) from the CA `ca`. Returns
        the certificate."""
        key, pem = (os.path.join(self.folder, name + ext) for ext in (".key", ".pem"))
        command = ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                   "-nodes", "-days", "2", "-subj", "/CN=" + common_name, "-keyout", key, "-out", pem]
        if ca:
            command += ["-CA", os.path.join(self.folder, ca + ".pem"),
                        "-CAkey", os.path.join(self.folder, ca + ".key"),
                        "-addext", "subjectAltName=" + ",".join("DNS:" + n for n in (common_name,) + more_names),
                        "-addext", "basicConstraints=critical,CA:FALSE"]
        subprocess.run(command, check=True, capture_output=True, timeout=60)
        return pem

    @staticmethod
    def listening(port):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False

    def seen(self):
        try:
            with open(os.path.join(self.folder, "seen.log"), "rb") as f:
                return f.read().decode("latin-1").splitlines()
        except OSError:
            return []

    def seen_since(self, since, count):
        """The request targets after the first `since`, once there are `count`
        of them or 2 s have passed: nginx logs a request after answering it,
        so the line may come a moment after the relay's answer."""
        wait_until(lambda: len(self.seen()) >= since + count, 2)
        return self.seen()[since:]

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=15)


class Runner(Tally):
    def __init__(self, options):
        super().__init__()
        self.options = options
        self.temp = tempfile.mkdtemp(prefix="norrow-server-")
        self.services = None
        self.services_port = 80  # the stand-in services' (the limits alone need none)
        self.figures = {}

    def write_config(self, text, name="serverinfo.ini"):
        path = os.path.join(self.temp, name)
        with open(path, "wb") as f:
            f.write(text if isinstance(text, bytes) else text.encode("utf-8"))
        return path

    def start_server(self, *options):
        return ServeInfo(self.options.norrow, self.write_config(config_text(self.services_port)),
                         *options)

    def answered(self, server, want, name, problems, **where):
        try:
            status, data = server.post(**where)
        except (OSError, http.client.HTTPException) as error:
            problems.append("%s: %s" % (name, error))
            return
        if (status, data) != (200, want):
            problems.append("%s: status %d, answer %r" % (name, status, data[:200]))

    # -- the answers --------------------------------------------------------

    def requests(self, server):
        answer = expected_answer(self.services_port)
        since = len(server.errors)
        for name, method, path, content_type, body, status, expected in REQUESTS:
            response, data = server.request(method, path, content_type, body)
            problems = []
            if response.status != status:
                problems.append("status %d, expected %d" % (response.status, status))
            if expected is not None:
                want = answer if expected == "ANSWER" else expected
                if data != want:
                    problems.append("answer %r, expected %r" % (data, want))
                if response.getheader("Content-Type") != "text/plain; charset=Shift_JIS":
                    problems.append("Content-Type %r" % response.getheader("Content-Type"))
            if status == 405 and response.getheader("Allow") != "POST":
                problems.append("Allow %r, expected POST" % response.getheader("Allow"))
            if status != 200 and data.startswith(b"SERVERINFO"):
                problems.append("a failure answered with server information")
            self.report("request: " + name, problems)
        logged = server.new_errors(since)
        self.report("no request of the table left a line in the error log",
                    ["logged: " + line.strip()[:300] for line in logged])

    def ipv6(self, server):
        if not has_ipv6_loopback():
            print("skip the site on ::1: this machine has no IPv6 loopback address")
            return
        problems = []
        self.answered(server, expected_answer(self.services_port), "[::1]", problems,
                      source=None, host="::1")
        self.report("the site answers on ::1 too", problems)

    def least_privilege(self, server):
        if os.geteuid() != 0:
            print("skip the workers' user: serve-info was not started as root")
            return
        problems = []
        workers = 0
        for pid in descendants(server.process.pid):
            try:
                command = open("/proc/%d/cmdline" % pid, "rb").read().decode(errors="replace")
                uid = next(line.split()[1] for line in open("/proc/%d/status" % pid)
                           if line.startswith("Uid:"))
            except OSError:
                continue
            if command.startswith(("nginx: worker", "php-fpm: pool")):
                workers += 1
                if uid == "0":
                    problems.append("runs as root: %s" % command)
        if workers < 2:
            problems.append("found %d nginx and PHP-FPM workers" % workers)
        for path in (server.live, server.live + ".last-good"):
            if os.stat(path).st_mode & 0o007:
                problems.append("%s is readable by anyone" % path)
        self.report("started as root, the workers are not root and the configuration is theirs alone",
                    problems)

    # -- configurations -----------------------------------------------------

    def broken_configurations(self, server):
        good = config_text(self.services_port)
        answer = expected_answer(self.services_port)
        for name, variants, change_bytes, says_each in BROKEN:
            problems = []
            for changes in variants:
                if changes is None:
                    os.remove(server.live)
                else:
                    data = config_text(self.services_port, **changes).encode("utf-8")
                    server.write_live(change_bytes(data) if change_bytes else data)
                says = says_each.replace("{line}", "serverinfo.ini:%s" % line_of(self.services_port, changes or {}))
                since = len(server.errors)
                self.answered(server, answer, "the service", problems)
                if not server.logged(says, since):
                    problems.append("no error-log line saying %r; log: %s" % (says, "".join(server.errors[since:])))
                elif sum(REFUSED in line for line in server.new_errors(since, settle=0.1)) != 1:
                    problems.append("not one line logged: %s" % server.errors[since:])
                check = install(server.live, check=True)
                message = check.stderr.decode("utf-8", "replace")
                if check.returncode != 1 or says not in message:
                    problems.append("install-config --check: status %d, %r" % (check.returncode, message))
            self.report("broken configuration, the last good one answers: " + name, problems)
        # Neither the live configuration nor the last good one.
        os.remove(server.live + ".last-good")
        since = len(server.errors)
        response, data = server.request("POST", PATH, MULTIPART, PLUGIN_BODY)
        problems = [] if response.status == 500 and b"SERVERINFO" not in data else [
            "status %d, answer %r" % (response.status, data)]
        if not server.logged("no last good configuration either", since):
            problems.append("not logged: %s" % "".join(server.errors[since:]))
        self.report("no good configuration at all: 500", problems)
        self.installed(server, good, answer, "a configuration installed again: answered, nothing logged")

    def equivalent_configurations(self, server):
        plain = config_text(self.services_port).encode("utf-8")
        for name, change in EQUIVALENT:
            server.write_live(change(plain))
            since = len(server.errors)
            problems = []
            self.answered(server, expected_answer(self.services_port), "the service", problems)
            problems += ["logged: " + line.strip()[:300] for line in server.new_errors(since)]
            self.report("written otherwise, the same answer: " + name, problems)
        server.write_live(plain)

    def installed(self, server, text, answer, name):
        """Installs `text` with install-config and checks that it answers."""
        source = self.write_config(text, "install.ini")
        result = install(source, server.live)
        since = len(server.errors)
        problems = [] if result.returncode == 0 else ["install-config: %r" % result.stderr]
        self.answered(server, answer, "after installing", problems)
        problems += ["logged: " + line.strip()[:300] for line in server.new_errors(since)]
        self.report(name, problems)

    def refused_install(self, server):
        """install-config leaves the live configuration as it was."""
        before = [open(path, "rb").read() for path in (server.live, server.live + ".last-good")]
        source = self.write_config(config_text(self.services_port, g_port="port = 0"), "bad.ini")
        result = install(source, server.live)
        problems = [] if result.returncode == 1 else ["exit status %d" % result.returncode]
        if b"[geocoder] port must be a whole number" not in result.stderr:
            problems.append("message %r" % result.stderr)
        if [open(path, "rb").read() for path in (server.live, server.live + ".last-good")] != before:
            problems.append("the live configuration changed")
        if [n for n in os.listdir(os.path.dirname(server.live)) if n.startswith(".")]:
            problems.append("a file left beside the live one")
        self.report("install-config refuses a broken file and leaves the live one", problems)

    def cut_sweep(self, server):
        """Every cut of the example file, written over the live one: refused,
        and the whole example answers. (The example ends with its last
        setting, so that every shorter file is one the reader must refuse.)"""
        example = open(EXAMPLE, "rb").read()
        install(EXAMPLE, server.live)
        status, full = server.post()
        since = len(server.errors)
        problems = [] if status == 200 and full.startswith(b"SERVERINFO") else ["status %d" % status]
        for cut in range(len(example)):
            server.write_live(example[:cut])
            status, data = server.post()
            if (status, data) != (200, full):
                problems.append("cut at byte %d: status %d, answer %r" % (cut, status, data[:120]))
        deadline = time.time() + 10
        while len(server.errors) - since < len(example) and time.time() < deadline:
            time.sleep(0.1)
        refusals = sum(REFUSED in line for line in server.errors[since:])
        if refusals != len(example):
            problems.append("%d of %d cuts refused" % (refusals, len(example)))
        self.report("every cut of the example (%d bytes) refused, the whole one answering" % len(example),
                    problems)

    def race(self, server, name, rewrite, expect_refusals):
        """Requests while `rewrite(stop)` switches the live configuration
        between two good ones: every answer is one of the two."""
        answers = {expected_answer(self.services_port): 0}
        other = config_text(self.services_port, max_page="max_page = 3")
        other_answer = expected_answer(self.services_port).replace(b"MAXPAGE 2", b"MAXPAGE 3")
        answers[other_answer] = 0
        install(self.write_config(config_text(self.services_port), "race.ini"), server.live)
        since = len(server.errors)
        stop = threading.Event()
        writer = threading.Thread(target=rewrite, args=(server, [other, config_text(self.services_port)],
                                                        stop))
        writer.start()
        problems = []
        deadline = time.time() + 3
        while time.time() < deadline:
            status, data = server.post()
            if status == 200 and data in answers:
                answers[data] += 1
            else:
                problems.append("status %d, answer %r" % (status, data[:200]))
        stop.set()
        writer.join()
        refusals = sum(REFUSED in line for line in server.new_errors(since))
        if 0 in answers.values():
            problems.append("one configuration never answered: %s" % list(answers.values()))
        if expect_refusals and refusals == 0:
            problems.append("the writer was never caught half-way (no refusal logged)")
        if not expect_refusals and refusals:
            problems.append("%d refusals logged" % refusals)
        self.report("%s: %d and %d answers of the two, %d half-written files refused" % (
            name, *answers.values(), refusals), problems)
        install(self.write_config(config_text(self.services_port), "race.ini"), server.live)

    @staticmethod
    def piecewise_writer(server, texts, stop):
        """Rewrites the live file in 520-byte pieces, as a copy does."""
        while not stop.is_set():
            for text in texts:
                data = text.encode("utf-8")
                with open(server.live, "wb") as f:
                    for start in range(0, len(data), 520):
                        f.write(data[start:start + 520])
                        f.flush()
                        time.sleep(0.002)
                time.sleep(0.05)

    def installer(self, server, texts, stop):
        sources = [self.write_config(text, "race-%d.ini" % i) for i, text in enumerate(texts)]
        while not stop.is_set():
            for source in sources:
                install(source, server.live)

    # -- the limits ---------------------------------------------------------

    def rate(self, server):
        """40 requests in a row from 127.0.0.3 (an address not limited yet)."""
        since = len(server.errors)
        statuses = [server.post(source="127.0.0.3")[0] for _ in range(40)]
        problems = []
        if statuses[0] != 200 or 429 not in statuses or set(statuses) - {200, 429}:
            problems.append("statuses %s" % statuses)
        self.answered(server, expected_answer(self.services_port), "127.0.0.2", problems,
                      source="127.0.0.2")
        problems += ["logged: " + line.strip()[:300] for line in server.new_errors(since)]
        self.report("a client over its rate gets 429 (%d of 40), unlogged, while another is served"
                    % statuses.count(429), problems)

    def stall(self, server):
        """600 connections from 127.0.0.1 that send a POST's header and then
        nothing: a request from 127.0.0.2 is answered, and every stalled one
        is let go within seconds."""
        header = ("POST %s HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: %s\r\n"
                  "Content-Length: %d\r\n\r\n" % (PATH, MULTIPART, len(PLUGIN_BODY))).encode()
        stalled = []
        problems = []
        began = time.monotonic()
        try:
            for _ in range(600):
                s = socket.create_connection(("127.0.0.1", server.port), timeout=5,
                                             source_address=("127.0.0.1", 0))
                s.sendall(header)
                stalled.append(s)
            opened = time.monotonic()
            self.answered(server, expected_answer(self.services_port), "127.0.0.2", problems,
                          source="127.0.0.2", timeout=5)
            answered = time.monotonic() - opened
            let_go, refused, left = self.await_closed(stalled, deadline=opened + 15)
            lasted = let_go - opened
        finally:
            for s in stalled:
                s.close()
        if lasted > 8:  # the body time-out is 5 s
            problems.append("the last stalled connection was let go after %.1f s" % lasted)
        self.figures["stall"] = {"connections": 600, "answered_ms": answered * 1000,
                                 "open_s": opened - began, "refused_at_once": refused,
                                 "last_let_go_s": lasted}
        self.report("600 stalled connections (%d refused at once): 127.0.0.2 answered in %.0f ms, "
                    "all let go %.1f s after" % (refused, answered * 1000, lasted),
                    problems + (["%d still open" % left] if left else []))

    @staticmethod
    def await_closed(sockets, deadline):
        """Waits until the server has closed every socket; returns when the
        last one closed (or the deadline), how many got an answer first, and
        how many are still open."""
        selector = selectors.DefaultSelector()
        for s in sockets:
            selector.register(s, selectors.EVENT_READ)
        last, answered = time.monotonic(), set()
        while selector.get_map() and time.monotonic() < deadline:
            for key, _ in selector.select(timeout=0.5):
                try:
                    data = key.fileobj.recv(65536)
                except OSError:
                    data = b""
                if data:
                    answered.add(key.fileobj)
                else:
                    selector.unregister(key.fileobj)
                    key.fileobj.close()
                    last = time.monotonic()
        left = len(selector.get_map())
        return (deadline if left else last), len(answered), left

    def flood(self, server):
        """wrk sends malformed requests from 127.0.0.1 for 10 seconds while a
        plug-in at 127.0.0.2 asks once a second."""
        wrk = shutil.which("wrk")
        if not wrk:
            self.report("a flood of malformed requests", ["wrk is not installed (./norrow setup)"])
            return
        since, bytes_before = len(server.errors), server.error_bytes
        command = [wrk, "--threads", "2", "--connections", "32", "--duration", "10s",
                   "--script", os.path.join(HERE, "flood.lua"),
                   "http://127.0.0.1:%d%s" % (server.port, PATH)]
        flood = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        problems = []
        good = 0
        time.sleep(1)
        while flood.poll() is None:
            self.answered(server, expected_answer(self.services_port), "127.0.0.2", problems,
                          source="127.0.0.2", timeout=5)
            good += 1
            time.sleep(1)
        report = flood.stdout.read().decode("utf-8", "replace")
        server.new_errors(since)
        added = server.error_bytes - bytes_before
        sent = re.search(r"(\d+) requests in", report)
        sent = int(sent.group(1)) if sent else 0
        if sent < 1000:
            problems.append("the flood sent %d requests: %s" % (sent, report))
        if added >= 1 << 20:
            problems.append("%d bytes logged: %s" % (added, "".join(server.errors[since:since + 3])))
        statuses = {int(k): int(v) for k, v in re.findall(r"^status (\d+): (\d+)$", report, re.M)}
        self.figures["flood"] = {"seconds": 10, "requests": sent, "statuses": statuses,
                                 "log_bytes": added, "log_lines": len(server.errors) - since,
                                 "good_answered": good}
        self.report("a 10 s flood of %d malformed requests (%s): %d bytes logged, 127.0.0.2 answered "
                    "%d times" % (sent, ", ".join("%d %d" % (n, k) for k, n in sorted(statuses.items())),
                                  added, good), problems)

    # -- the command --------------------------------------------------------

    def refused_starts(self):
        good = self.write_config(config_text(self.services_port))
        bad = self.write_config(config_text(self.services_port, g_port="port = 70000"), "bad.ini")
        cases = [
            ("a refused configuration", ["--port", str(free_port()), "--config", bad],
             "[geocoder] port must be a whole number"),
            ("no such configuration", ["--port", str(free_port()), "--config", bad + ".missing"],
             "cannot read"),
            ("port 0", ["--port", "0", "--config", good], "--port takes a port"),
            ("no --config", ["--port", str(free_port())], "--config FILE is missing"),
            ("an unknown argument", ["--port", "1", "--config", good, "--daemon"], "unknown argument"),
        ]
        for name, args, says in cases:
            result = subprocess.run([self.options.norrow, "serve-info"] + args, capture_output=True,
                                    timeout=60)
            message = result.stderr.decode("utf-8", "replace")
            problems = [] if result.returncode == 2 else ["exit status %d, expected 2" % result.returncode]
            if says not in message:
                problems.append("message %r does not say %r" % (message.strip(), says))
            self.report("serve-info refuses: " + name, problems)

    def stops(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            server = self.start_server()
            below = descendants(server.process.pid)
            problems = [] if len(below) >= 2 else ["nginx and PHP-FPM not found below serve-info"]
            status = server.stop(sig)
            if status != 0:
                problems.append("exit status %r, expected 0" % status)
            time.sleep(0.2)
            left = [pid for pid in below if alive(pid)]
            if left:
                problems.append("still running after the signal: %s" % left)
                for pid in left:
                    os.kill(pid, signal.SIGKILL)
            try:
                socket.create_connection(("127.0.0.1", server.port), timeout=1).close()
                problems.append("127.0.0.1:%d still answers" % server.port)
            except OSError:
                pass
            self.report("serve-info stops on %s" % sig.name, problems)

    # -- the plug-in --------------------------------------------------------

    def sim_path(self, path):
        return "Z:" + path if self.options.wine else path

    def plugin(self, server, sim, host):
        profile = os.path.join(self.temp, "profile-%s.ini" % host)
        command = ([self.options.wine] if self.options.wine else []) + [
            sim, "search", "富士山", "--target", "both", "--json",
            "--route", "%s:80=127.0.0.1:%d" % (host, server.port),
            "--profile", self.sim_path(profile)]
        result = run_to_files(command, timeout=SEARCH_SECONDS, windows=bool(self.options.wine))
        problems = [] if result.returncode == 0 else ["exit status %d" % result.returncode]
        try:
            document = json.loads(result.stdout.decode("utf-8"))
        except ValueError as error:
            self.report("the plug-in configures itself from the server (%s)" % host,
                        problems + ["no JSON: %s; %s" % (error, result.stderr[-500:])])
            return
        post = document["requests"][0] if document.get("requests") else {}
        if post.get("kind") != "post" or post.get("host") != host:
            problems.append("first request %r, expected the POST to %s" % (post, host))
        gets = [r for r in document.get("requests", []) if r.get("kind") == "get"]
        if not gets or any(r["host"] != "127.0.0.1" or r["port"] != self.services_port for r in gets):
            problems.append("searches did not go where the server information points: %r" % gets)
        if not gets or any("appid=%s&" % SERVICES_APPID not in r["path"] for r in gets):
            problems.append("searches without the configured appid: %r" % gets)
        if [s["result"] for s in document.get("searches", [])] != [1, 1]:
            problems.append("searches %r, expected both served" % document.get("searches"))
        if not any(h["name"] == "富士山" for h in document.get("hits", [])):
            problems.append("no hit named 富士山 in %r" % document.get("hits"))
        boxes = document.get("message_boxes", [])
        if boxes != [{"type": 64, "text": "\n".join(MESSAGE)}]:
            problems.append("message boxes %r, expected the USER_MESSAGE once" % boxes)
        self.report("the plug-in configures itself from the server (%s)" % host, problems)

    # -- the relay ----------------------------------------------------------

    def relay(self):
        """The search relay against the stand-in services over HTTPS: the
        plug-in through it and directly, the id, the cache, every byte, the
        refused installs, the rate, upstreams that fail, a scripted provider,
        hostile clients, the provider's name resolved as it changes, the
        budget. Under Wine only what the plug-in sees: the same hits, the
        rate, a stopped and an untrusted upstream."""
        native = not self.options.wine
        if native:
            self.starts()
        upstream = Upstream(os.path.join(self.temp, "upstream"), self.services_port)
        provider = Provider(upstream.certificate("scripted", "ca", SCRIPTED, MOVING),
                            os.path.join(upstream.folder, "scripted.key"))
        self.resolver = Resolver()
        silent = socket.socket()  # the kernel takes connections for it, and nothing ever answers
        silent.bind(("127.0.0.1", 0))
        silent.listen(64)
        self.ca = upstream.ca
        routes = {UPSTREAM: upstream.port, "untrusted.norrow.test": upstream.untrusted_port,
                  "misnamed.norrow.test": upstream.port, "stopped.norrow.test": free_port(),
                  "silent.norrow.test": silent.getsockname()[1], SCRIPTED: provider.port}
        options = sum((["--route", "%s:443=127.0.0.1:%d" % route] for route in routes.items()), [])
        options += ["--resolver", "127.0.0.1:%d" % self.resolver.port, "--forwarded-for"]
        server = None
        try:
            server = ServeInfo(self.options.norrow, self.relay_config(cache=60), *options)
            if native:
                self.relay_installed(server)
            for target in ("address", "local"):
                self.relay_hits(server, upstream, target)
            if native:
                self.relay_cache(server, upstream)  # leaves the cache off
                self.relay_builder(server, upstream)
                self.relay_bytes(server, upstream)
                self.relay_refused(server)
                self.relay_provider(server, provider)
                self.relay_clients(server, provider)
                self.relay_follows_dns(server, provider)
            self.relay_rate(server)
            if native:
                self.relay_ipv6(server)
            for name, host, status in FAILING_UPSTREAMS:
                if native or host in ("stopped.norrow.test", "untrusted.norrow.test"):
                    self.relay_failure(server, name, host, status)
            if native:
                self.relay_budget(server, provider)
                self.relay_usage()
                self.relay_ceiling()
        finally:
            if server:
                server.stop()
            silent.close()
            provider.stop()
            self.resolver.stop()
            upstream.stop()

    def relay_config(self, upstream=UPSTREAM, ca=None, **relay):
        """A configuration file that relays both services to `upstream`."""
        changes = relayed(upstream, relay=relay_section(ca=ca or self.ca, **relay))
        return self.write_config(config_text(self.services_port, **changes), "relay.ini")

    def direct_info(self):
        """A server information that names the stand-in services themselves."""
        lines = ["SERVERINFO"] + ["%s 127.0.0.1,%s,,%d,%s" % (key, SERVICE_PATHS[service], self.services_port,
                                                             SERVICES_APPID)
                                  for key, service in (("GEOCODER", "geocoder"), ("LOCALSEARCH", "localsearch"))]
        return self.write_config("\r\n".join(lines + ["MAXPAGE 2", ""]), "direct-info.txt")

    def search(self, target, server=None, query="東京", box=None):
        """The plug-in searching `query` (東京: two pages), in `box` if given
        ("W,S,E,N"): through `server` and its relay, or with the stand-in
        services named directly. Returns the JSON document (None if there is
        none), the run and its seconds."""
        self.searches = getattr(self, "searches", 0) + 1
        if server:
            where = ["--route", "%s:80=127.0.0.1:%d" % (self.options.host, server.port),
                     "--route", "%s:80=127.0.0.1:%d" % (PUBLIC_HOST, server.port)]
        else:
            where = ["--server-info", self.sim_path(self.direct_info())]
        profile = os.path.join(self.temp, "profile-relay-%d.ini" % self.searches)
        command = ([self.options.wine] if self.options.wine else []) + [
            self.options.sim, "search", query, "--target", target, "--json",
            "--profile", self.sim_path(profile)] + where + (["--bbox", box] if box else [])
        began = time.monotonic()
        result = run_to_files(command, timeout=SEARCH_SECONDS, windows=bool(self.options.wine))
        seconds = time.monotonic() - began
        try:
            return json.loads(result.stdout.decode("utf-8")), result, seconds
        except ValueError:
            return None, result, seconds

    @staticmethod
    def status_message(document, run, target):
        """What is wrong with a search that should end with the status-line
        message of a communication failure, and nothing else."""
        if document is None:
            return ["no JSON: %r" % run.stderr[-500:]]
        problems = [] if run.returncode == 1 else ["exit status %d" % run.returncode]
        if [s["result"] for s in document["searches"]] != [0] or document["status"] != [STATUS_LINES[target]]:
            problems.append("searches %r, status %r" % (document["searches"], document["status"]))
        if document["message_boxes"]:
            problems.append("message boxes %r" % document["message_boxes"])
        return problems

    def relay_installed(self, server):
        problems = []
        status, data = server.post()
        if (status, data) != (200, RELAYED_ANSWER):
            problems.append("status %d, answer %r" % (status, data))
        folder = os.path.dirname(server.live)
        for name in ("relay-upstreams.conf", "relay-locations.conf"):
            if os.stat(os.path.join(folder, name)).st_mode & 0o007:
                problems.append("%s is readable by anyone" % name)
        for path in ("/relay-locations.conf", "/norrow/relay-locations.conf", "/norrow/relay/"):
            response, data = server.request("GET", path, None, None, source="127.0.0.3")
            if response.status != 404:
                problems.append("GET %s: %d" % (path, response.status))
        self.report("the server information sends the plug-ins to the relay with an id that means nothing;"
                    " the relay's files are the service's alone", problems)

    def relay_hits(self, server, upstream, target):
        direct = self.search(target)[0]
        since = len(upstream.seen())
        document, run, _ = self.search(target, server)
        name = "the plug-in's %s search through the relay: the hits it gets directly" % target
        if direct is None or document is None:
            self.report(name, ["no JSON: %r %r" % (direct is None, run.stderr[-500:])])
            return
        problems = ["%s: %r through the relay, %r directly" % (key, document[key], direct[key])
                    for key in ("searches", "result_count", "hits", "status", "message_boxes", "attribution")
                    if document[key] != direct[key]]
        if document["result_count"] <= 10:
            problems.append("%d hits: not two pages" % document["result_count"])
        service = "geocoder" if target == "address" else "localsearch"
        prefix = RELAY_PATHS[service] + "?appid=-&"
        gets = [r for r in document["requests"] if r["kind"] == "get"]
        if any((r["host"], r["port"]) != (PUBLIC_HOST, 80) or not r["path"].startswith(prefix) for r in gets):
            problems.append("requests %r" % gets)
        wanted = ["%s?appid=%s&%s" % (SERVICE_PATHS[service], SERVICES_APPID, r["path"][len(prefix):])
                  for r in gets]
        seen = upstream.seen_since(since, len(wanted))
        if seen != wanted:
            problems.append("the upstream saw %r, the plug-in sent %r" % (seen, wanted))
        if SERVICES_APPID.encode() in run.stdout + run.stderr:
            problems.append("the application id reached the plug-in")
        self.report(name + "; the upstream got the secret id in place of the plug-in's, byte for byte",
                    problems)

    def relay_cache(self, server, upstream):
        problems = []
        since = len(upstream.seen())
        again = self.search("address", server)[0]  # cache_seconds 60: a second time
        seen = upstream.seen()[since:]
        if seen or not again or again["result_count"] != 20:
            problems.append("a repeated search: %r, the upstream saw %r" % (
                again and again["result_count"], seen))
        result = server.install(self.relay_config(cache=0))
        if result.returncode != 0:
            problems.append("install-config: %r" % result.stderr)
        since = len(upstream.seen())
        self.search("address", server)
        self.search("address", server)
        seen = upstream.seen_since(since, 4)
        if len(seen) != 4 or seen[:2] != seen[2:]:
            problems.append("without the cache, the upstream saw %r" % seen)
        self.report("cache_seconds 60: a repeated search reaches the upstream once; 0: every time", problems)

    def relay_bytes(self, server, upstream):
        """Every byte the plug-in's encoder writes, escaped and plain, with
        every other parameter it sends."""
        plain = "+0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_-*="
        rest = ("&query=%s%s&ei=SJIS&bbox=139.500000,35.000000,140.250000,-36.125000&datum=wgs&start=11"
                "&result=10&output=xml" % ("".join("%%%02X" % b for b in range(1, 256)), plain))
        since = len(upstream.seen())
        response, data = server.request("GET", RELAY_PATHS["geocoder"] + "?appid=-" + rest, None, None,
                                        source="127.0.0.3")
        problems = [] if response.status == 200 and b"<YDF" in data else ["status %d" % response.status]
        wanted = [SERVICE_PATHS["geocoder"] + "?appid=" + SERVICES_APPID + rest]
        seen = upstream.seen_since(since, len(wanted))
        if seen != wanted:
            problems.append("the upstream saw %r" % seen)
        self.report("every byte the plug-in can encode reaches the upstream unchanged", problems)

    def relay_refused(self, server):
        """Relays that install-config refuses: nothing live changes."""
        folder = os.path.dirname(server.live)
        files = [server.live, server.live + ".last-good"] + [
            os.path.join(folder, name) for name in ("relay-upstreams.conf", "relay-locations.conf")]
        not_pem = self.write_config("not a certificate\n", "not-a-certificate.pem")
        cases = [
            ("an upstream_ca that is no certificate", {"ca": not_pem}, "is not a readable PEM certificate"),
            ("an upstream_ca that is not there", {"ca": not_pem + ".missing"},
             "is not a readable PEM certificate"),
        ]
        for name, changes, says in cases:
            before = [open(path, "rb").read() for path in files]
            result = server.install(self.relay_config(**changes))
            problems = [] if result.returncode == 1 else ["exit status %d" % result.returncode]
            if says.encode() not in result.stderr:
                problems.append("message %r" % result.stderr)
            if [open(path, "rb").read() for path in files] != before:
                problems.append("the live configuration or the relay changed")
            self.answered(server, RELAYED_ANSWER, "the service", problems)
            self.report("install-config refuses a relay: " + name, problems)

    def relay_rate(self, server):
        problems = []
        result = server.install(self.relay_config(per_minute=1))
        if result.returncode != 0:
            problems.append("install-config: %r" % result.stderr)
        since = len(server.errors)
        answers = [server.request("GET", RELAY_PATHS["geocoder"] + "?appid=-&query=x" + SEARCH, None, None)
                   for _ in range(5)]
        statuses = [response.status for response, _ in answers]
        if statuses.count(429) < 4 or set(statuses) - {200, 429}:
            problems.append("statuses %s from 127.0.0.1" % statuses)
        problems += ["a 429 answered %r" % data for response, data in answers
                     if response.status == 429 and not (data.startswith(b"<?xml") and b"<YDF>" in data
                                                        and b"<Status>429</Status>" in data)]
        document, run, _ = self.search("address", server)
        problems += self.status_message(document, run, "address")
        response, data = server.request("GET", RELAY_PATHS["geocoder"] + "?appid=-&query=x" + SEARCH, None, None,
                                        source="127.0.0.2")
        if response.status != 200 or b"<Status>200</Status>" not in data:
            problems.append("127.0.0.2: status %d" % response.status)
        problems += ["logged: " + line.strip()[:300] for line in server.new_errors(since)]
        self.report("a burst over requests_per_minute from 127.0.0.1 gets 429 with a YDF answer and the "
                    "plug-in its status message, unlogged, while 127.0.0.2 is served", problems)

    def relay_failure(self, server, name, host, status):
        result = server.install(self.relay_config(upstream=host))
        problems = [] if result.returncode == 0 else ["install-config: %r" % result.stderr]
        began = time.monotonic()
        response, data = server.request("GET", RELAY_PATHS["geocoder"] + "?appid=-&query=x" + SEARCH, None, None,
                                        source="127.0.0.4", timeout=30)
        took = time.monotonic() - began
        if response.status != status or b"<Status>%d</Status>" % status not in data:
            problems.append("status %d, answer %r" % (response.status, data[:300]))
        document, run, seconds = self.search("address", server)
        problems += self.status_message(document, run, "address")
        if took > 15 or (seconds > 15 and not WINE_EMULATED):
            problems.append("answered after %.1f s, the plug-in's search took %.1f s" % (took, seconds))
        self.report("%s: %d with a YDF answer after %.1f s, the plug-in's status message" % (name, status, took),
                    problems)

    def relay_builder(self, server, upstream):
        """What the plug-in's URL builder makes, on each of its branches (a
        query, a box, both, neither query but a box, a query cut at the
        encoder's capacity, later pages), passes the relay to the upstream,
        and the relay lets pass no parameter that the builder never sends."""
        problems, names = [], set()
        box = "139.5,35.5,140.25,36.125"
        for target, query, in_box in (("both", "東京", None), ("both", "東京", box), ("both", "", box),
                                      ("both", "東" * 600, None)):
            since = len(upstream.seen())
            document, run, _ = self.search(target, server, query, in_box)
            gets = [r for r in document["requests"] if r["kind"] == "get"] if document else []
            seen = upstream.seen_since(since, len(gets))
            if not gets or len(seen) != len(gets):
                problems.append("%s %r %s: the plug-in sent %r, the upstream saw %r; %r" % (
                    target, query[:4], in_box, [r["path"] for r in gets], seen, document and document["searches"]))
            names |= {part.split("=")[0] for r in gets for part in r["path"].split("?", 1)[1].split("&")}
        listed = set(re.findall(r"\['(\w+)', ", open(RELAY_JS).read()))
        if names - {"appid"} != listed:
            problems.append("the builder sent %s, the relay lets pass %s" % (sorted(names), sorted(listed)))
        self.report("every branch of the plug-in's URL builder passes the relay; it lets pass only what the "
                    "builder sends", problems)

    @staticmethod
    def relay_answer_problems(response, data, status):
        """What is wrong with an answer of the relay that should have
        `status`: more than the allowed headers, an id anywhere, no YDF."""
        problems = [] if response.status == status else ["status %d, answer %r" % (response.status, data[:300])]
        head = ("%d %s\n" % (response.status, response.reason)
                + "".join("%s: %s\n" % h for h in response.getheaders())).encode("latin-1")
        problems += ["header %s" % name for name, _ in response.getheaders() if name.lower() not in RELAY_HEADERS]
        secret = SERVICES_APPID.encode()
        if any(form in head + data for form in (secret, secret.decode().encode("utf-16-le"), b"\0".join(bytes([c]) for c in secret))):
            problems.append("the application id reached the client: %r %r" % (head, data[:300]))
        if status in (400, 405, 429, 502, 503, 504) and b"<Status>%d</Status>" % status not in data:
            problems.append("no YDF error: %r" % data[:300])
        if status == 200 and data and not data.startswith(PAGE[:40]):
            problems.append("answer %r" % data[:300])
        return problems

    @staticmethod
    def provider_problems(requests, reached, host):
        """What is wrong with the requests the provider got: not `reached`
        of them, or more than the relay means to send."""
        problems = [] if len(requests) == reached else ["the provider got %d requests, not %d: %r" % (
            len(requests), reached, [line for line, _, _ in requests])]
        for line, headers, rest in requests:
            if not re.match(r"GET /v1/geocoder\?appid=%s&query=[^&]+%s HTTP/1.1$" % (SERVICES_APPID, SEARCH), line):
                problems.append("request line %r" % line)
            if (headers.get("host"), headers.get("user-agent")) != (host, RELAY_AGENT) or set(headers) - {
                    "host", "user-agent", "connection"} or rest:
                problems.append("sent %r and then %r" % (headers, rest))
        return problems

    def relay_provider(self, server, provider):
        result = server.install(self.relay_config(upstream=SCRIPTED, cache=60))
        if result.returncode != 0:
            self.report("the scripted provider installed", ["install-config: %r" % result.stderr])
            return
        for number, (name, behaviour, status, reached) in enumerate(PROVIDER_BEHAVIOURS):
            since, problems = len(provider.requests), []
            path = RELAY_PATHS["geocoder"] + "?appid=-&query=%sx%d%s" % (behaviour, number, SEARCH)
            for agent in ("plug-in/1", "other/2")[:1 if behaviour == "trickle" else 2]:
                began = time.monotonic()
                try:
                    response, data = server.request("GET", path, None, None, source="127.0.0.5", timeout=30,
                                                    headers={"User-Agent": agent})
                    problems += self.relay_answer_problems(response, data, status)
                except (OSError, http.client.HTTPException) as error:
                    problems.append("%s: %s" % (agent, error))
                if time.monotonic() - began > 16:
                    problems.append("answered after %.1f s" % (time.monotonic() - began))
            wait_until(lambda: len(provider.requests) >= since + reached + 1, 0.5)
            problems += self.provider_problems(provider.requests[since:], reached, SCRIPTED)
            self.report("a provider that sends %s: the client gets %d and only that, the provider %d requests"
                        % (name, status, reached), problems)

    def relay_clients(self, server, provider):
        for number, (name, method, query, headers, body, status) in enumerate(CLIENT_REQUESTS):
            since = len(provider.requests)
            path = RELAY_PATHS["geocoder"] + "?" + query.replace("{n}", "client%d" % number)
            try:
                response, data = server.request(method, path, None, body, source="127.0.0.5", headers=headers)
                problems = self.relay_answer_problems(response, data, status)
            except (OSError, http.client.HTTPException) as error:
                problems = [str(error)]
            problems += self.provider_problems(provider.requests[since:], 1 if status == 200 else 0, SCRIPTED)
            self.report("a client sends %s: %d, and the provider gets only what the relay means" % (name, status),
                        problems)

    def relay_follows_dns(self, server, provider):
        """A provider named by a name that does not resolve yet: installed,
        502 until it resolves, then followed as it moves, without a reload."""
        result = server.install(self.relay_config(upstream="%s:%d" % (MOVING, provider.port)))
        problems = [] if result.returncode == 0 else ["install-config: %r" % result.stderr]
        asked = iter(range(1000))

        def status():
            path = RELAY_PATHS["geocoder"] + "?appid=-&query=pagexdns%d%s" % (next(asked), SEARCH)
            return server.request("GET", path, None, None, source="127.0.0.6", timeout=20)[0].status

        def becomes(wanted):
            deadline = time.time() + 15
            while time.time() < deadline:
                if status() == wanted:
                    return True
                time.sleep(0.5)
            return False
        for address, wanted in ((None, 502), ("127.0.0.1", 200), ("127.0.0.2", 502), ("127.0.0.1", 200)):
            self.resolver.addresses.pop(MOVING, None)
            if address:
                self.resolver.addresses[MOVING] = address
            if not becomes(wanted):
                problems.append("%s at %s: never %d" % (MOVING, address, wanted))
        self.report("a provider whose name does not resolve yet: installed, 502 until it does; its moves "
                    "followed without a reload", problems)

    def relay_ipv6(self, server):
        """Clients in one IPv6 /64 (X-Forwarded-For) count as one, for the
        relay's rate (requests_per_minute 1 now) and the server information's."""
        def status(address, method="GET"):
            path = RELAY_PATHS["geocoder"] + "?appid=-&query=x" + SEARCH if method == "GET" else PATH
            return server.request(method, path, MULTIPART if method == "POST" else None,
                                  PLUGIN_BODY if method == "POST" else None,
                                  headers={"X-Forwarded-For": address})[0].status
        problems = []
        relay = [status("2001:db8:1:2::1"), status("2001:db8:1:2:ffff::2"), status("2001:db8:1:3::1")]
        if relay != [200, 429, 200]:
            problems.append("the relay answered %s, expected [200, 429, 200]" % relay)
        info = [status("2001:db8:1:4::%x" % n, "POST") for n in range(1, 41)]
        if 429 not in info or status("2001:db8:1:5::1", "POST") != 200:
            problems.append("the server information answered %s" % info)
        self.report("an IPv6 /64 is one client, in the relay's rate and the server information's", problems)

    def relay_budget(self, server, provider):
        """daily_budget 2: at most one request in a row reaches the provider,
        the others get a YDF answer that says the day's searches are used up,
        and norrow-relay-usage tells when."""
        result = server.install(self.relay_config(upstream=SCRIPTED, budget=2))
        problems = [] if result.returncode == 0 else ["install-config: %r" % result.stderr]
        since = len(provider.requests)
        answers = [server.request("GET", RELAY_PATHS["geocoder"] + "?appid=-&query=pagexbudget%d%s" % (n, SEARCH),
                                  None, None, source="127.0.0.7") for n in range(4)]
        spent = [data for response, data in answers if response.status == 503]
        if len(provider.requests) - since > 1 or len(spent) < 3 or len(spent) + len(
                [r for r, _ in answers if r.status == 200]) != 4:
            problems.append("statuses %s, the provider got %d" % ([r.status for r, _ in answers],
                                                                  len(provider.requests) - since))
        problems += ["answered %r" % data for data in spent if b"<Status>503</Status>" not in data
                     or b"searches through this server are used up" not in data]
        log = os.path.join(os.path.dirname(os.path.dirname(server.live)), "relay.log")
        usage = subprocess.run(["php", USAGE, "--config", server.live, log], capture_output=True, timeout=60)
        report = usage.stdout.decode("utf-8", "replace")
        if usage.returncode != 0 or not re.search(r"ran out at \d\d:\d\d:\d\d", report):
            problems.append("relay-usage: status %d, %r %r" % (usage.returncode, report, usage.stderr))
        self.report("daily_budget 2: one request reaches the provider, the rest are told the day's searches "
                    "are used up, and relay-usage says when", problems)

    def relay_usage(self):
        """relay-usage on a log of two days, whole and as a rotated .gz copy
        and the rest; a line of another log is refused."""
        config = self.relay_config(budget=2)
        lines = open(USAGE_LOG, "rb").read().splitlines(True)
        rotated, rest, foreign = (os.path.join(self.temp, n) for n in ("relay.log.1.gz", "relay.log", "access.log"))
        with gzip.open(rotated, "wb") as f:
            f.writelines(lines[:5])
        with open(rest, "wb") as f:
            f.writelines(lines[5:])
        with open(foreign, "wb") as f:
            f.writelines(lines[:2] + [b"127.0.0.1 - - [09/Dec/2026:10:00:00 +0900] GET / 200\n"])
        for name, logs, status, says in (
                ("a log of two days", [USAGE_LOG], 0, USAGE_TABLE),
                ("a rotated .gz copy and the rest", [rest, rotated], 0, USAGE_TABLE),
                ("a line of another log", [foreign], 1, "access.log:3: is not a line of the relay's log")):
            result = subprocess.run(["php", USAGE, "--config", config] + logs, capture_output=True, timeout=60)
            output = (result.stdout + result.stderr).decode("utf-8", "replace")
            right = result.returncode == status and (output == says if status == 0 else says in output)
            self.report("relay-usage: " + name, [] if right else ["status %d: %r" % (result.returncode, output)])

    def starts(self):
        """serve-info starts with the example configuration (whose
        providers' names resolve nowhere here), and with a private TMPDIR
        (mode 0700, as libpam-tmpdir makes it), where the workers still reach
        PHP-FPM."""
        private = os.path.join(self.temp, "private-tmp")
        os.mkdir(private, 0o700)
        for name, config, env in (
                ("the example configuration", EXAMPLE, None),
                ("a private TMPDIR", self.write_config(config_text(self.services_port)),
                 dict(os.environ, TMPDIR=private))):
            try:
                server = ServeInfo(self.options.norrow, config, "--resolver", "127.0.0.1:%d" % free_port(),
                                   env=env)
            except RuntimeError as error:
                self.report("serve-info starts and answers with " + name, [str(error)[:600]])
                continue
            try:
                status, data = server.post()
            finally:
                server.stop()
            self.report("serve-info starts and answers with " + name,
                        [] if status == 200 and data.startswith(b"SERVERINFO") else ["status %d" % status])

    def relay_ceiling(self):
        """The ceiling in simulated time, a request every twentieth of its
        spacing for two days: in no 24 hours more than daily_budget, nor
        fewer than that less a twentieth and one minute's share."""
        program = ("require $argv[1]; [$budget, $file] = [(int) $argv[2], $argv[3]];"
                   "$step = 86400 / ($budget - max(1, intdiv($budget, 1440)) + 1) / 20; $times = [];"
                   "for ($t = 1e9; $t < 1e9 + 2 * 86400; $t += $step) { if (take_request($file, $budget, $t))"
                   " { $times[] = $t; } }"
                   "$most = 0; $j = 0; foreach ($times as $i => $t) { while ($t - $times[$j] >= 86400) { $j++; }"
                   " $most = max($most, $i - $j + 1); } echo $most;")
        memory = tempfile.mkdtemp(dir="/dev/shm") if os.path.isdir("/dev/shm") else self.temp  # no disk writes
        for budget in (1, 2, 1439, 1440, 2881, 7201):
            state = os.path.join(memory, "budget-%d" % budget)
            result = subprocess.run(["php", "-r", program, BUDGET, str(budget), state], capture_output=True,
                                    timeout=120)
            most = int(result.stdout) if result.stdout.strip().isdigit() else None
            self.report("daily_budget %d: at most %s requests in any 24 hours" % (budget, most),
                        [] if most is not None and budget * 0.95 - max(1, budget // 1440) <= most <= budget
                        else ["%r %r" % (result.stdout, result.stderr[-300:])])
        if memory != self.temp:
            shutil.rmtree(memory, ignore_errors=True)

    def build_with_host(self):
        """A native build of the plug-in and tamsel-sim with another host."""
        build = self.options.build_dir
        steps = [["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                  "-DNORROW_TESTS=OFF", "-DNORROW_SERVERINFO_HOST=" + self.options.build_host],
                 ["cmake", "--build", build, "--target", "tamsel-sim"]]
        for step in steps:
            result = subprocess.run(step, capture_output=True, timeout=1800)
            if result.returncode != 0:
                raise RuntimeError("%s failed: %s" % (" ".join(step), result.stdout[-2000:]))
        return os.path.join(build, "bin", "tamsel-sim")

    def run(self):
        only = self.options.only
        if only != "limits":
            self.services, self.services_port = start_services(self.options.services or self.options.sim)
        if only == "relay":
            self.relay()
            return
        if only is None:
            self.refused_starts()
            self.stops()
            server = self.start_server("--no-limits")
            try:
                self.requests(server)
                self.ipv6(server)
                self.least_privilege(server)
                self.equivalent_configurations(server)
                self.broken_configurations(server)
                self.refused_install(server)
                self.cut_sweep(server)
                self.race(server, "a writer rewriting the live file by hand", self.piecewise_writer, True)
                self.race(server, "install-config switching it", self.installer, False)
            finally:
                server.stop()
        server = self.start_server()  # as deployed, with the limits
        try:
            if only != "limits":
                sim = self.build_with_host() if self.options.build_host else self.options.sim
                self.plugin(server, sim, self.options.build_host or self.options.host)
            if only != "plugin":
                self.stall(server)
                self.rate(server)
                self.flood(server)
        finally:
            server.stop()
        if only != "limits" and not self.options.build_host:
            self.relay()
        if self.options.figures:
            with open(self.options.figures, "w") as f:
                json.dump(self.figures, f, indent=1)

    def close(self):
        stop_services(self.services)
        shutil.rmtree(self.temp, ignore_errors=True)


# Under Wine on qemu-user the Windows plug-in's searches here hang now and
# then inside Wine's WinHTTP, whatever the build (RELIABILITY.md); there this
# test is not run, and says why. Natively it always runs.
EMULATION_SKIP = "WinHTTP under qemu-user hangs, tests/emulation/winhttp.cpp"
SKIPPED = 77  # the test's SKIP_RETURN_CODE (tests/CMakeLists.txt)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--norrow", required=True, help="the project's ./norrow")
    parser.add_argument("--sim", help="tamsel-sim (not needed with --only limits)")
    parser.add_argument("--host", default="serverinfo.norrow.example",
                        help="the server-information host the plug-in was built with")
    parser.add_argument("--wine", help="the wrapper that runs a Windows program")
    parser.add_argument("--services", help="the Linux tamsel-sim that runs the search services")
    parser.add_argument("--only", choices=["plugin", "limits", "relay"])
    parser.add_argument("--build-host", help="build with this NORROW_SERVERINFO_HOST first")
    parser.add_argument("--build-dir", help="where that build goes")
    parser.add_argument("--figures", help="with --only limits: write their figures here (JSON)")
    options = parser.parse_args()
    if not options.sim and options.only != "limits":
        parser.error("--sim is needed")
    if options.wine and WINE_EMULATED:
        # Not Norrow's fault, and no pass either: ctest counts it as skipped
        # and scripts/test.sh names it with this reason (RELIABILITY.md).
        print("skipped: " + EMULATION_SKIP)
        return SKIPPED
    # Stopped from outside (a time-out), still stop the servers started.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped by SIGTERM"))
    runner = Runner(options)
    try:
        runner.run()
    finally:
        runner.close()
    return runner.summary()


if __name__ == "__main__":
    sys.exit(main())
