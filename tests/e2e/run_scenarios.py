#!/usr/bin/env python3
"""End-to-end scenarios: tamsel-sim --json with the plug-in, checked field by field.

The same scenarios and expectations run against the native program with the
Linux plug-in and against tamsel-sim.exe with Norrow.tsp under Wine; a
difference between the two is a bug in one of them.

  run_scenarios.py --sim build/native/bin/tamsel-sim --data tests/data
  run_scenarios.py --sim build/mingw/bin/tamsel-sim.exe --wine cmake/wine-run \
                   --services build/native/bin/tamsel-sim --data tests/data

Run the Windows one under xvfb-run: without a display a message box returns at
once and shows nothing, and the scenarios that expect one fail.
"""
import argparse
import json
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import run_to_files, start_services, stop_services  # noqa: E402

ADDRESS_NAME = "Yahoo!住所検索"
LOCAL_NAME = "Yahoo!ローカルサーチ"
ATTRIBUTION = "<https://developer.yahoo.co.jp/sitemap/>Webサービス by Yahoo! JAPAN</>"
SERVERINFO_HOST = "serverinfo.norrow.example"  # the build's setting; --host gives another
POST_BODY = ('--kiritori\r\nContent-Disposition: form-data; name="version"\r\n\r\n'
             '1000\r\n--kiritori--\r\n')
POST_HEADER = "Content-Length: 82\r\nContent-Type: multipart/form-data; boundary=kiritori"
POST = {"kind": "post", "host": SERVERINFO_HOST, "port": 80, "path": "/norrow/downloadinfo.php",
        "user_agent": None, "timeout": 40000, "header": POST_HEADER, "body": POST_BODY}


def get(path, agent="PlaceNameSearchPlugin/1.0", host="answers.invalid", port=80):
    return {"kind": "get", "host": host, "port": port, "path": path, "user_agent": agent,
            "timeout": 20000, "header": None, "body": None}


def station(i, target_id=1):
    return {"latitude": float("35.%06d" % i), "longitude": float("139.%06d" % i),
            "name": "駅%d" % i, "yomi": "エキ%d" % i, "address": "東京都千代田区%d丁目" % i,
            "attribute": 919022, "target_id": target_id}


FUJI = [{"name": "富士山", "yomi": "フジサン", "address": "静岡県富士宮市",
         "latitude": 35.360626, "longitude": 138.727363, "target_id": 1},
        {"name": "富士駅", "yomi": "フジエキ", "address": "静岡県富士市本町"},
        {"name": "AT&amp;T ビル", "yomi": "", "address": "東京都港区"}]

PAGES = ["e2e/utf8_page1_of_25.xml", "e2e/utf8_page2_of_25.xml", "e2e/utf8_page3_of_25.xml"]

# Each scenario: the arguments after "tamsel-sim", the exit status, and the
# fields the JSON document must hold (a dict holds at least the keys given, a
# list exactly the items given).
SCENARIOS = [
    dict(name="utf8 answers, three pages (MAXPAGE 3)",
         args=["search", "駅"] + [a for page in PAGES for a in ("--answer", page)],
         exit=0,
         expect={"create": 1, "load": 1, "target_ids": {"address": 1, "local": 2},
                 "searches": [{"hook": "address", "result": 1}],
                 "result_count": 25,
                 "hits": [station(i) for i in range(1, 26)],
                 "requests": [POST,
                              get("/geocoder?appid=fixture&query=%89%77&ei=SJIS&result=10&output=xml"),
                              get("/geocoder?appid=fixture&query=%89%77&ei=SJIS&start=11&result=10&output=xml"),
                              get("/geocoder?appid=fixture&query=%89%77&ei=SJIS&start=21&result=10&output=xml")],
                 "status": [], "attribution": [ATTRIBUTION] * 3, "message_boxes": []}),
    dict(name="shift-jis answer",
         args=["search", "富士", "--answer", "ydf/sjis_three_hits_total25.xml",
               "--server-info", "e2e/serverinfo_user_message_maxpage1.txt"],
         exit=0,
         expect={"result_count": 3, "hits": FUJI,
                 "message_boxes": [{"type": 64, "text": "Hello\nWorld"}]}),
    dict(name="utf-16 answer, local search",
         args=["search", "富士", "--target", "local", "--answer", "ydf/utf16be_three_hits_total25.xml",
               "--server-info", "e2e/serverinfo_maxpage1.txt"],
         exit=0,
         expect={"searches": [{"hook": "local", "result": 1}], "result_count": 3,
                 "hits": [dict(h, target_id=2) if "target_id" in h else h for h in FUJI],
                 "requests": [POST, get("/localsearch?appid=fixture&query=%E5%AF%8C%E5%A3%AB"
                                        "&result=10&output=xml", agent="LocalNameSearchPlugin/1.0")]}),
    dict(name="coordinates of every length come back exactly; words are no numbers",
         args=["search", "駅", "--answer", "e2e/utf8_exact_coordinates_total4.xml",
               "--server-info", "e2e/serverinfo_maxpage1.txt"],
         exit=0,
         expect={"result_count": 4,
                 "hits": [{"longitude": 139.6532495, "latitude": 35.65858232471},
                          {"longitude": 139.12345678901234, "latitude": -35.000000000000007},
                          {"longitude": 1.5e-7, "latitude": -0.1},
                          {"name": "数でない", "longitude": 0.0, "latitude": 0.0}]}),
    dict(name="an answer that is not YDF",
         args=["search", "x", "--answer", "ydf/sjis_not_ydf_output_error.html"],
         exit=1,
         expect={"searches": [{"hook": "address", "result": 0}], "result_count": 0, "hits": [],
                 "attribution": [],
                 "message_boxes": [{"type": 16, "text": ADDRESS_NAME + ": 出力が異常です."}]}),
    dict(name="host too old",
         args=["search", "x", "--host-version", "9189", "--answer", PAGES[0]],
         exit=1,
         expect={"create": 0, "searches": [], "requests": [],
                 "message_boxes": [{"type": 64, "text": "Web地名検索プラグイン\n"
                                    "タムセルのバージョンが古いためこのプラグインは使用できません."}]}),
    dict(name="server refuses with a message",
         args=["search", "x", "--answer", PAGES[0], "--server-info", "e2e/serverinfo_denied_with_message.txt"],
         exit=1,
         expect={"searches": [{"hook": "address", "result": 0}], "requests": [POST],
                 "status": [ADDRESS_NAME + "：通信中にエラーが発生しました."],
                 "message_boxes": [{"type": 64, "text": "Closed\nfor\nmaintenance"}]}),
    dict(name="offline: no download, empty endpoints",
         args=["search", "駅", "--offline", "--answer", PAGES[2]],
         exit=0,
         expect={"result_count": 5,
                 "requests": [get("?appid=&query=%89%77&ei=SJIS&result=10&output=xml", host="", port=0)]}),
    dict(name="every HTTP request fails",
         args=["search", "x", "--http-fail", "--target", "both"],
         exit=1,
         expect={"searches": [{"hook": "address", "result": 0}, {"hook": "local", "result": 0}],
                 "requests": [POST],
                 "status": [ADDRESS_NAME + "：通信中にエラーが発生しました.",
                            LOCAL_NAME + "：通信中にエラーが発生しました."]}),
    dict(name="both targets: the local search runs last and its hits remain",
         args=["search", "駅", "--target", "both", "--answer", PAGES[2],
               "--server-info", "e2e/serverinfo_maxpage1.txt"],
         exit=0,
         expect={"searches": [{"hook": "address", "result": 1}, {"hook": "local", "result": 1}],
                 "result_count": 5, "hits": [station(i, 2) for i in range(21, 26)]}),
    dict(name="a box, twice in one process",
         args=["search", "", "--bbox", "139.5,35.5,139.75,35.75", "--repeat", "2", "--answer", PAGES[2],
               "--server-info", "e2e/serverinfo_maxpage1.txt"],
         exit=0,
         expect={"searches": [{"hook": "address", "result": 1}] * 2,
                 "requests": [POST] + [get("/geocoder?appid=fixture&ei=SJIS&bbox=139.500000,35.500000,"
                                           "139.750000,35.750000&datum=wgs&result=10&output=xml")] * 2}),
    dict(name="routed to services started apart",
         args=["search", "東京都庁", "--target", "both"], routed=True,
         exit=0,
         expect={"searches": [{"hook": "address", "result": 1}, {"hook": "local", "result": 1}],
                 "result_count": 1, "hits": [{"name": "東京都庁", "target_id": 2}],
                 "requests": [POST, {"kind": "get", "host": "127.0.0.1"},
                              {"kind": "get", "host": "127.0.0.1"}]}),
    dict(name="the embedded services over HTTP",
         args=["search", "スカイツリー", "--target", "local"],
         exit=0,
         expect={"searches": [{"hook": "local", "result": 1}], "result_count": 1,
                 "hits": [{"name": "東京スカイツリー", "yomi": "トウキョウスカイツリー",
                           "address": "東京都墨田区押上1丁目1-2", "target_id": 2}]}),
]

USAGE_ERRORS = [
    (["search"], "search takes one QUERY"),
    (["search", "x", "--frobnicate"], "unknown option --frobnicate"),
    (["search", "x", "--target", "everywhere"], "--target takes address, local or both"),
    (["search", "x", "--bbox", "139.5,,139.75,35.75"], "--bbox takes four numbers W,S,E,N"),
    (["search", "x", "--answer", "no/such/file.xml"], "cannot read"),
    (["search", "x", "--plugin", "no-such-plugin.tsp"], "no-such-plugin.tsp"),
    (["fly"], "unknown command"),
]


def matches(actual, expected, where="$"):
    """Returns a list of differences between the JSON value and the expectation."""
    if isinstance(expected, dict):
        if not isinstance(actual, dict):
            return ["%s: expected an object, got %r" % (where, actual)]
        problems = []
        for key, value in expected.items():
            if key not in actual:
                problems.append("%s.%s: missing" % (where, key))
            else:
                problems += matches(actual[key], value, "%s.%s" % (where, key))
        return problems
    if isinstance(expected, list):
        if not isinstance(actual, list) or len(actual) != len(expected):
            return ["%s: expected %d items, got %r" % (where, len(expected), actual)]
        return [p for i, (a, e) in enumerate(zip(actual, expected)) for p in matches(a, e, "%s[%d]" % (where, i))]
    if isinstance(expected, float):  # exactly: the JSON carries the record's double
        return [] if isinstance(actual, (int, float)) and float(actual) == expected else \
            ["%s: expected %r, got %r" % (where, expected, actual)]
    return [] if actual == expected else ["%s: expected %r, got %r" % (where, expected, actual)]


class Runner:
    def __init__(self, options):
        self.options = options
        self.failures = 0
        self.passed = 0
        self.temp = tempfile.mkdtemp(prefix="norrow-e2e-")
        self.services = None
        self.routes = []

    def path(self, name):
        full = os.path.join(self.options.data, name)
        return "Z:" + full if self.options.wine else full

    def command(self, args):
        base = [self.options.wine, self.options.sim] if self.options.wine else [self.options.sim]
        return self.options.wrapper.split() + base + args

    def start_services(self):
        """`tamsel-sim services` of the Linux build, in a process of its own."""
        if self.services:
            return
        self.services, port = start_services(self.options.services or self.options.sim)
        self.routes = ["--route", "%s:80=127.0.0.1:%d" % (POST["host"], port)]

    def run(self, args, timeout=300):
        return run_to_files(self.command(args), timeout=timeout, windows=bool(self.options.wine))

    def report(self, name, problems, stderr=b""):
        if problems:
            self.failures += 1
            print("FAIL %s" % name)
            for p in problems[:20]:
                print("     " + p)
            if stderr:
                print("     stderr: " + stderr.decode("utf-8", "replace")[-2000:])
        else:
            self.passed += 1
            print("ok   %s" % name)

    def scenario(self, s):
        args = []
        for i, a in enumerate(s["args"]):
            previous = s["args"][i - 1] if i else ""
            args.append(self.path(a) if previous in ("--answer", "--server-info") else a)
        if s.get("routed"):
            self.start_services()
            args += self.routes
        profile = os.path.join(self.temp, "profile-%d.ini" % (self.passed + self.failures))
        geojson = os.path.join(self.temp, "hits-%d.geojson" % (self.passed + self.failures))
        args += ["--json", "--profile", ("Z:" + profile) if self.options.wine else profile,
                 "--geojson", ("Z:" + geojson) if self.options.wine else geojson]
        started = time.time()
        result = self.run(args)
        problems = []
        if result.returncode != s["exit"]:
            problems.append("exit status %d, expected %d" % (result.returncode, s["exit"]))
        try:
            document = json.loads(result.stdout.decode("utf-8"))
        except ValueError as error:
            self.report(s["name"], problems + ["no JSON document: %s" % error], result.stderr)
            return
        problems += matches(document, s["expect"])
        if document.get("create") == 1:
            at = document["profile"]["ServerInfoAt"]
            if document["requests"] and document["requests"][0]["kind"] == "post" and abs(at - started) > 60:
                problems.append("profile.ServerInfoAt %r is not the time of the download" % at)
            try:
                with open(geojson, encoding="utf-8") as f:
                    features = json.load(f)["features"]
                points = [f["geometry"]["coordinates"] for f in features]
                expected = [[hit["longitude"], hit["latitude"]] for hit in document["hits"]]
                if points != expected:
                    problems.append("GeoJSON points %r, the hits %r" % (points[:5], expected[:5]))
            except (OSError, ValueError) as error:
                problems.append("GeoJSON: %s" % error)
        self.report(s["name"], problems, result.stderr)

    def about(self):
        lines = ("Web地名検索プラグイン", "Ver 1.0.1", "Copyright")
        result = self.run(["about"])
        text = result.stderr.decode("utf-8", "replace")
        problems = [] if result.returncode == 0 else ["exit status %d" % result.returncode]
        problems += ["the About box lacks %r" % line for line in lines if line not in text]
        self.report("about", problems, result.stderr)

        result = self.run(["about", "--json"])
        problems = [] if result.returncode == 0 else ["exit status %d" % result.returncode]
        try:
            document = json.loads(result.stdout.decode("utf-8"))
        except ValueError as error:
            self.report("about --json", problems + ["no JSON document: %s" % error], result.stderr)
            return
        boxes = document.get("message_boxes", [])
        if document.get("result") != 1 or len(boxes) != 1 or boxes[0].get("type") != 64:
            problems.append("expected result 1 and one information box: %r" % document)
        else:
            problems += ["the box's text lacks %r" % line for line in lines
                         if line not in boxes[0].get("text", "")]
        self.report("about --json", problems, result.stderr)

    def usage_errors(self):
        for args, reason in USAGE_ERRORS:
            args = [self.path(a) if a.endswith(".xml") else a for a in args]
            result = self.run(args)
            message = result.stderr.decode("utf-8", "replace")
            problems = []
            if result.returncode != 2:
                problems.append("exit status %d, expected 2" % result.returncode)
            if reason not in message:
                problems.append("message %r does not say %r" % (message.strip(), reason))
            self.report("usage: " + " ".join(args), problems)

    def close(self):
        stop_services(self.services)
        shutil.rmtree(self.temp, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--wine", help="the wrapper that runs a Windows program")
    parser.add_argument("--wrapper", default="",
                        help="a command to run the program under, such as valgrind and its options")
    parser.add_argument("--services", help="the Linux tamsel-sim that runs services apart "
                                           "(default: --sim)")
    parser.add_argument("--host", default=SERVERINFO_HOST,
                        help="the server-information host the plug-in was built with")
    options = parser.parse_args()
    POST["host"] = options.host
    runner = Runner(options)
    try:
        for s in SCENARIOS:
            runner.scenario(s)
        runner.about()
        runner.usage_errors()
    finally:
        runner.close()
    print("%d passed, %d failed" % (runner.passed, runner.failures))
    return 1 if runner.failures else 0


if __name__ == "__main__":
    sys.exit(main())
