#!/usr/bin/env python3
"""The server information on the real nginx and PHP-FPM, started on loopback
with `norrow serve-info`, and the plug-in configuring itself from it.

  run_server_tests.py --norrow ./norrow --sim build/native/bin/tamsel-sim \
                      --host serverinfo.norrow.example
      the answers byte for byte, bad requests, broken configurations, the
      stop on SIGINT and SIGTERM, and the plug-in through tamsel-sim --route
  ... --only plugin --sim build/mingw/bin/tamsel-sim.exe --wine cmake/wine-run \
      --services build/native/bin/tamsel-sim
      only the plug-in, the Windows build under Wine (run it under xvfb-run)
  ... --only plugin --build-host info.maker.test --build-dir DIR
      builds the plug-in and tamsel-sim with NORROW_SERVERINFO_HOST set to
      that name first, and checks that the plug-in asks that host
"""
import argparse
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Tally, free_port, run_to_files, start_services, stop_services  # noqa: E402

PATH = "/norrow/downloadinfo.php"
BOUNDARY = "kiritori"
# The plug-in's request, as it sends it.
PLUGIN_BODY = ('--kiritori\r\nContent-Disposition: form-data; name="version"\r\n\r\n'
               '1000\r\n--kiritori--\r\n').encode()
MULTIPART = "multipart/form-data; boundary=" + BOUNDARY
SERVICES_APPID = "norrow-demo"  # what the stand-in services hand out and expect

MESSAGE = ["検索サービスのお知らせ", "ダウンロードは 10 時まで"]  # ダ is 83 5F in Shift-JIS
UPDATE = ["Web地名検索プラグインが古いため検索できません.", "新しい版をインストールしてください."]


def config_text(services_port, **changes):
    """A configuration pointing both services at the stand-in services;
    `changes` replace lines ("key": "new line", or None to drop it)."""
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
    return "\n".join(line for line in lines.values() if line is not None) + "\n"


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


def form(name, value):
    return ('--kiritori\r\nContent-Disposition: form-data; name="%s"\r\n\r\n%s\r\n'
            '--kiritori--\r\n' % (name, value)).encode()


# Requests and their answers: (name, method, path, content type, body, status,
# answer body (None: not checked; "ANSWER": the configured one)).
REQUESTS = [
    ("the plug-in's POST", "POST", PATH, MULTIPART, PLUGIN_BODY, 200, "ANSWER"),
    ("a later version", "POST", PATH, MULTIPART, form("version", "1001"), 200, "ANSWER"),
    ("the lowest version exactly", "POST", PATH, MULTIPART, form("version", "1000"), 200, "ANSWER"),
    ("a version too old", "POST", PATH, MULTIPART, form("version", "999"), 200, TOO_OLD),
    ("version 0", "POST", PATH, MULTIPART, form("version", "0"), 200, TOO_OLD),
    ("a version that is no number", "POST", PATH, MULTIPART, form("version", "abc"), 200, DENIED),
    ("an empty version", "POST", PATH, MULTIPART, form("version", ""), 200, DENIED),
    ("a negative version", "POST", PATH, MULTIPART, form("version", "-1000"), 200, DENIED),
    ("a version with a fraction", "POST", PATH, MULTIPART, form("version", "1000.5"), 200, DENIED),
    ("a version of 20 digits", "POST", PATH, MULTIPART, form("version", "9" * 20), 200, DENIED),
    ("a version with blanks", "POST", PATH, MULTIPART, form("version", " 1000"), 200, DENIED),
    ("no version field", "POST", PATH, MULTIPART, form("release", "1000"), 200, DENIED),
    ("version as a url-encoded form", "POST", PATH, "application/x-www-form-urlencoded",
     b"version=1000", 200, DENIED),
    ("an empty POST", "POST", PATH, None, b"", 200, DENIED),
    ("GET", "GET", PATH, None, None, 405, None),
    ("HEAD", "HEAD", PATH, None, None, 405, None),
    ("PUT", "PUT", PATH, MULTIPART, PLUGIN_BODY, 405, None),
    ("a body over 4 KiB", "POST", PATH, MULTIPART, form("version", "1" * 5000), 413, None),
    ("another path", "POST", "/norrow/other.php", MULTIPART, PLUGIN_BODY, 404, None),
    ("the script's source", "GET", "/downloadinfo.php", None, None, 404, None),
    ("the example configuration", "GET", "/serverinfo.example.ini", None, None, 404, None),
]

# Broken configurations, written over the live one: each gets 500 and a line
# in the error log that names the fault. (name, changes, a replacement of
# bytes in the file, what the line says)
BROKEN = [
    ("no file", None, None, "no such readable file"),
    ("not INI", {"geocoder": "[geocoder"}, None, "configuration refused"),
    ("no [localsearch]", {k: None for k in ("localsearch", "l_host", "l_path", "l_referer",
                                             "l_port", "l_appid")}, None,
     "section [localsearch] is missing"),
    ("a misspelt key", {"g_appid": 'app_id = "x"'}, None, "[geocoder] app_id is not a setting"),
    ("no appid", {"l_appid": None}, None, "[localsearch] appid is missing"),
    ("an empty host", {"g_host": 'host = ""'}, None, "[geocoder] host is empty"),
    ("port 0", {"g_port": "port = 0"}, None, "[geocoder] port must be a whole number"),
    ("a port by name", {"l_port": "port = http"}, None, "[localsearch] port must be a whole number"),
    ("max_page 0", {"max_page": "max_page = 0"}, None, "max_page must be a whole number"),
    ("a comma in a path", {"g_path": 'path = "/v1,geocoder"'}, None, "path must not contain a comma"),
    ("a path without /", {"g_path": 'path = "v1/geocoder"'}, None, "path must start with /"),
    ("a wave dash, which code page 932 turns to a full-width tilde",
     {"user_message": 'user_message[] = "10時〜12時"'}, None, "code page 932 cannot hold"),
    ("a euro sign", {"g_appid": 'appid = "€"'}, None, "code page 932 cannot hold"),
    ("a yen sign, which code page 932 turns to a backslash",
     {"update_message": 'update_message[] = "¥100"'}, None, "code page 932 cannot hold"),
    ("an underscore in a message", {"user_message": 'user_message[] = "a_b"'}, None,
     'user_message must not contain "_"'),
    ("no update message", {"update_message": None}, None, "update_message is missing"),
    ("a line too long for the plug-in", {"l_appid": 'appid = "%s"' % ("x" * 1000)}, None,
     "longer than 1022 bytes"),
    ("Shift-JIS bytes, not UTF-8", {}, (b'user_message[] = "', b'user_message[] = "\x83\x83'),
     "[serverinfo] user_message is not UTF-8"),
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


class ServeInfo:
    """`norrow serve-info` in the background, its error log collected."""

    def __init__(self, norrow, port, config):
        self.port = port
        self.process = subprocess.Popen([norrow, "serve-info", "--port", str(port), "--config", config],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.errors = []
        threading.Thread(target=self._collect, daemon=True).start()
        self.banner = self.process.stdout.readline().decode("utf-8", "replace")
        threading.Thread(target=self.process.stdout.read, daemon=True).start()  # the access log

    def _collect(self):
        for line in self.process.stderr:
            self.errors.append(line.decode("utf-8", "replace"))

    def logged(self, fragment, since, wait=3.0):
        deadline = time.time() + wait
        while time.time() < deadline:
            if any(fragment in line for line in self.errors[since:]):
                return True
            time.sleep(0.05)
        return False

    def request(self, method, path, content_type, body):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        headers = {"Content-Type": content_type} if content_type else {}
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        data = response.read()
        connection.close()
        return response, data

    def stop(self, sig=signal.SIGTERM):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            return self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return None


class Runner(Tally):
    def __init__(self, options):
        super().__init__()
        self.options = options
        self.temp = tempfile.mkdtemp(prefix="norrow-server-")
        self.services = None
        self.services_port = 0

    def write_config(self, text=None, raw=None):
        path = os.path.join(self.temp, "serverinfo.ini")
        with open(path, "wb") as f:
            f.write(raw if raw is not None else text.encode("utf-8"))
        return path

    def start_server(self):
        config = self.write_config(config_text(self.services_port))
        server = ServeInfo(self.options.norrow, free_port(), config)
        if "Ctrl-C stops" not in server.banner:
            server.stop()
            raise RuntimeError("serve-info did not start: %r %s" % (server.banner, "".join(server.errors)))
        return server, config

    # -- the answers --------------------------------------------------------

    def requests(self, server):
        answer = expected_answer(self.services_port)
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

    def broken_configurations(self, server, config):
        good = config_text(self.services_port)
        for name, changes, raw, says in BROKEN:
            if changes is None and raw is None:
                os.remove(config)
            else:
                text = config_text(self.services_port, **changes).encode("utf-8")
                self.write_config(raw=text.replace(*raw) if raw else text)
            since = len(server.errors)
            response, data = server.request("POST", PATH, MULTIPART, PLUGIN_BODY)
            problems = []
            if response.status != 500:
                problems.append("status %d, expected 500" % response.status)
            if b"SERVERINFO" in data:
                problems.append("part of an answer sent: %r" % data)
            if not server.logged(says, since):
                problems.append("no error-log line saying %r; log: %s" % (says, "".join(server.errors[since:])))
            self.report("broken configuration: " + name, problems)
        self.write_config(good)
        response, data = server.request("POST", PATH, MULTIPART, PLUGIN_BODY)
        self.report("configuration mended: answered again",
                    [] if response.status == 200 and data == expected_answer(self.services_port)
                    else ["status %d, answer %r" % (response.status, data)])

    # -- the command --------------------------------------------------------

    def refused_starts(self):
        good = self.write_config(config_text(self.services_port))
        bad = os.path.join(self.temp, "bad.ini")
        with open(bad, "w", encoding="utf-8") as f:
            f.write(config_text(self.services_port, g_port="port = 70000"))
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
            server, _ = self.start_server()
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
        result = run_to_files(command, timeout=600, windows=bool(self.options.wine))
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

    def build_with_host(self):
        """A native build of the plug-in and tamsel-sim with another host."""
        source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        build = self.options.build_dir
        steps = [["cmake", "-S", source, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Debug",
                  "-DNORROW_TESTS=OFF", "-DNORROW_SERVERINFO_HOST=" + self.options.build_host],
                 ["cmake", "--build", build, "--target", "tamsel-sim"]]
        for step in steps:
            result = subprocess.run(step, capture_output=True, timeout=1800)
            if result.returncode != 0:
                raise RuntimeError("%s failed: %s" % (" ".join(step), result.stdout[-2000:]))
        return os.path.join(build, "bin", "tamsel-sim")

    def run(self):
        self.services, self.services_port = start_services(self.options.services or self.options.sim)
        if self.options.only != "plugin":
            self.refused_starts()
            self.stops()
        server, config = self.start_server()
        try:
            if self.options.only != "plugin":
                self.requests(server)
                self.broken_configurations(server, config)
            if self.options.build_host:
                self.plugin(server, self.build_with_host(), self.options.build_host)
            else:
                self.plugin(server, self.options.sim, self.options.host)
        finally:
            server.stop()

    def close(self):
        stop_services(self.services)
        shutil.rmtree(self.temp, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--norrow", required=True, help="the project's ./norrow")
    parser.add_argument("--sim", required=True)
    parser.add_argument("--host", default="serverinfo.norrow.example",
                        help="the server-information host the plug-in was built with")
    parser.add_argument("--wine", help="the wrapper that runs a Windows program")
    parser.add_argument("--services", help="the Linux tamsel-sim that runs the search services")
    parser.add_argument("--only", choices=["plugin"])
    parser.add_argument("--build-host", help="build with this NORROW_SERVERINFO_HOST first")
    parser.add_argument("--build-dir", help="where that build goes")
    options = parser.parse_args()
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
