#!/usr/bin/env python3
"""Unpacks the release zip and checks it as a user and a host would meet it.

  check_release.py --zip build/release-test/Norrow-1.0.1.zip --host release.norrow.test \
                   [--dist scripts/dist.sh]
      the package: exactly Norrow.tsp, README.txt and LICENSE; the DLL a
      stripped, hardened PE32 i386 module with the five exports, the allowed
      imports, its VERSIONINFO and the server-information host; README.txt in
      Shift-JIS with CR LF, documenting every message the plug-in shows.
      With --dist, builds the zip first (dist.sh --server-info-host HOST).
  check_release.py --zip ... --host ... --windows build/mingw/bin --wine cmake/wine-run \
                   --services build/native/bin/tamsel-sim
      the packaged Norrow.tsp serving a search under tamsel-sim.exe (Wine),
      beside the host's files and nothing else
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Tally, run_to_files, start_services, stop_services  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FILES = ["LICENSE", "Norrow.tsp", "README.txt"]
DEFAULT_HOST = "serverinfo.norrow.example"
SERVICE_NAMES = ["Yahoo!住所検索", "Yahoo!ローカルサーチ"]
README_HEADINGS = ["動作環境", "インストール", "使い方", "表示されるメッセージ", "アンインストール",
                   "9190", "932", "Norrow.tsp"]


def run(command, **kwargs):
    """Runs a tool whose output is read: in the C locale, whatever the user's
    (binutils translate their headings)."""
    environment = dict(os.environ, LC_ALL="C")
    return subprocess.run(command, capture_output=True, text=True, env=environment, **kwargs)


def shown_texts():
    """Every status-line and message-box text of the plug-in, from the tables
    the build makes its Shift-JIS texts of, with the service name taken off."""
    texts = []
    for table in ("src/search/search_texts.tsv", "src/plugin/plugin_texts.tsv"):
        known = {}
        with open(os.path.join(SOURCE, table), encoding="utf-8") as f:
            for line in f.read().splitlines():
                if not line or line.startswith("#"):
                    continue
                name, text = line.split("\t", 1)
                text = re.sub(r"\$\{(k\w+)\}", lambda m: known[m.group(1)], text)
                known[name] = text
                if name.endswith(("Error", "Box", "TooOld")):
                    for prefix in SERVICE_NAMES:
                        if text.startswith(prefix):
                            text = text[len(prefix):]
                    texts += text.split("\\n")
    return texts


def check_dll(checks, path, host):
    problems = []
    header = run(["i686-w64-mingw32-objdump", "-f", path]).stdout
    if "file format pei-i386" not in header:
        problems.append("not PE32 i386: %s" % header.strip())
    sections = run(["i686-w64-mingw32-objdump", "-h", path]).stdout
    if "debug" in sections:
        problems.append("debug sections: %s" % [l for l in sections.splitlines() if "debug" in l])
    symbols = run(["i686-w64-mingw32-nm", path])
    if symbols.stdout.strip():
        problems.append("a symbol table is left in")
    library = run(["sh", os.path.join(SOURCE, "tests", "check_library.sh"), path])
    if library.returncode != 0:
        problems.append(library.stdout.strip())
    with open(path, "rb") as f:
        image = f.read()
    if "VS_VERSION_INFO".encode("utf-16-le") not in image:
        problems.append("no VERSIONINFO resource")
    if (host + "\0").encode() not in image:
        problems.append("the server-information host %s is not in it" % host)
    if host != DEFAULT_HOST and DEFAULT_HOST.encode() in image:
        problems.append("the default host is in it too")
    checks.report("Norrow.tsp: stripped PE32 i386, exports, imports, hardening, "
                  "VERSIONINFO, asks %s" % host, problems)


def crlf_problems(name, data):
    if b"\r\n" not in data or data.replace(b"\r\n", b"").count(b"\n") or \
            data.replace(b"\r\n", b"").count(b"\r"):
        return ["%s: not every line ends with CR LF" % name]
    return []


def check_texts(checks, folder):
    with open(os.path.join(folder, "README.txt"), "rb") as f:
        data = f.read()
    problems = crlf_problems("README.txt", data)
    try:
        readme = data.decode("cp932")
    except UnicodeDecodeError as error:
        checks.report("README.txt: Shift-JIS with CR LF, for the user", problems + [str(error)])
        return
    problems += ["lacks %r" % h for h in README_HEADINGS if h not in readme]
    texts = shown_texts()
    if len(texts) < 9:
        problems.append("found only %d texts of the plug-in in its sources" % len(texts))
    problems += ["does not explain %r" % t for t in texts if t not in readme]
    checks.report("README.txt: Shift-JIS with CR LF, every message explained", problems)

    with open(os.path.join(folder, "LICENSE"), "rb") as f:
        data = f.read()
    problems = crlf_problems("LICENSE", data)
    if not data.startswith(b"MIT License") or b"Permission is hereby granted" not in data:
        problems.append("not the MIT licence")
    checks.report("LICENSE: MIT", problems)


def check_search(checks, folder, options):
    """The packaged plug-in in a host's folder: tamsel-sim.exe, PluginIf.dll."""
    for program in ("tamsel-sim.exe", "PluginIf.dll"):
        shutil.copy(os.path.join(options.windows, program), folder)
    services, port = start_services(options.services)
    try:
        result = run_to_files(
            [options.wine, os.path.join(folder, "tamsel-sim.exe"), "search", "富士山", "--json",
             "--route", "%s:80=127.0.0.1:%d" % (options.host, port),
             "--profile", "Z:" + os.path.join(folder, "profile.ini")], timeout=600, windows=True)
    finally:
        stop_services(services)
    problems = [] if result.returncode == 0 else ["exit status %d" % result.returncode]
    try:
        document = json.loads(result.stdout.decode("utf-8"))
    except ValueError as error:
        checks.report("the packaged Norrow.tsp serves a search",
                      problems + ["no JSON: %s %r" % (error, result.stderr[-500:])])
        return
    post = (document.get("requests") or [{}])[0]
    if post.get("host") != options.host:
        problems.append("asked %r for its server information, expected %s" % (post.get("host"), options.host))
    if not any(hit.get("name") == "富士山" for hit in document.get("hits", [])):
        problems.append("no hit named 富士山: %r" % document.get("hits"))
    checks.report("the packaged Norrow.tsp serves a search under tamsel-sim.exe", problems)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zip", required=True)
    parser.add_argument("--host", required=True, help="the server-information host it was built for")
    parser.add_argument("--dist", help="build the zip first with this dist script")
    parser.add_argument("--windows", help="the Windows build's bin folder (tamsel-sim.exe, PluginIf.dll)")
    parser.add_argument("--wine")
    parser.add_argument("--services", help="the Linux tamsel-sim that runs the services")
    options = parser.parse_args()
    if options.dist:
        built = subprocess.run([options.dist, "--server-info-host", options.host,
                                "--out", os.path.dirname(options.zip)], timeout=1800)
        if built.returncode != 0:
            print("FAIL building the release")
            return 1
    if not os.path.exists(options.zip):
        print("FAIL %s is missing: the release suite builds it (scripts/test.sh)" % options.zip)
        return 1
    checks = Tally()
    folder = tempfile.mkdtemp(prefix="norrow-release-")
    with zipfile.ZipFile(options.zip) as archive:
        names = sorted(archive.namelist())
        checks.report("the zip holds exactly %s" % ", ".join(FILES),
                      [] if names == FILES else ["it holds %s" % names])
        archive.extractall(folder)
    if options.windows:
        check_search(checks, folder, options)
    else:
        check_dll(checks, os.path.join(folder, "Norrow.tsp"), options.host)
        check_texts(checks, folder)
    shutil.rmtree(folder, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
