#!/usr/bin/env python3
"""Unpacks the release zip and checks it as a user and a host would meet it.

  check_release.py --zip build/release-test/Norrow-1.0.1.zip --host release.norrow.test \
                   [--dist scripts/dist.sh]
      the package: exactly Norrow.tsp, README.txt and LICENSE; the DLL a
      stripped, hardened PE32 i386 module with the five exports, the allowed
      imports, its VERSIONINFO and the server-information host; README.txt in
      Shift-JIS with CR LF, documenting every message the plug-in shows.
      With --dist, builds the zip first (dist.sh --server-info-host HOST).
      Also the zip's entries (order, time of the commit, mode 644) and
      SHA256SUMS beside it.
  check_release.py --zip ... --host ... --windows build/mingw/bin --wine cmake/wine-run \
                   --services build/native/bin/tamsel-sim
      the packaged Norrow.tsp serving a search under tamsel-sim.exe (Wine),
      beside the host's files and nothing else
  check_release.py --host ... --rebuild scripts/dist.sh
      the release built in two copies of the tree, at two paths, with other
      modification times and umask: the same bytes, and no path in them
  check_release.py --host ... --sign scripts/dist.sh --windows ... --wine ... --services ...
      a release signed with a throwaway certificate: the signature verifies
      and covers the unsigned build's Authenticode digest, the signed DLL
      passes the library checks and searches; bad signing material is refused
      with no zip
  check_release.py --host ... --deb scripts/server-deb.sh
      the server's Debian package: lintian finds no error and no warning;
      installed, upgraded from an older version, removed and purged with apt
      in a throwaway root (package_lifecycle.py, as root), serving a search
      there, while this machine stays as it was
"""
import argparse
import glob
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Tally, free_port, run_to_files, start_services, stop_services  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FILES = ["LICENSE", "Norrow.tsp", "README.txt"]
ZIP_ORDER = ["Norrow.tsp", "README.txt", "LICENSE"]
DIGEST = os.path.join(SOURCE, "scripts", "authenticode-digest")
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


def time_stamps(image):
    """The time stamps of a PE image: its header's and its export directory's."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    header = struct.unpack_from("<I", image, pe + 8)[0]
    exports = struct.unpack_from("<I", image, pe + 24 + 96)[0]  # PE32: data directory 0
    table = pe + 24 + optional_size
    for i in range(sections):
        size, address, _, raw = struct.unpack_from("<IIII", image, table + 40 * i + 8)
        if address <= exports < address + size:
            return header, struct.unpack_from("<I", image, raw + exports - address + 4)[0]
    return header, None


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
    if time_stamps(image) != (0, 0):
        problems.append("time stamps in the image (header, exports): %s" % (time_stamps(image),))
    if "VS_VERSION_INFO".encode("utf-16-le") not in image:
        problems.append("no VERSIONINFO resource")
    if (host + "\0").encode() not in image:
        problems.append("the server-information host %s is not in it" % host)
    if host != DEFAULT_HOST and DEFAULT_HOST.encode() in image:
        problems.append("the default host is in it too")
    checks.report("Norrow.tsp: stripped PE32 i386, exports, imports, hardening, no time stamp, "
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


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def source_date_epoch():
    """The time dist.sh gives every entry: SOURCE_DATE_EPOCH, else the commit's."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    return int(run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"]).stdout)


def check_entries(checks, zip_path):
    """The zip's entries: a fixed order, the commit's time, mode 644; and
    SHA256SUMS beside it, naming the zip, each file in it and the server's
    package with their hashes."""
    epoch = source_date_epoch()
    stamp = time.gmtime(epoch + epoch % 2)[:6]  # a zip counts in 2 s; zip rounds up
    problems = []
    with zipfile.ZipFile(zip_path) as archive:
        infos = archive.infolist()
        if [i.filename for i in infos] != ZIP_ORDER:
            problems.append("entries in the order %s" % [i.filename for i in infos])
        for info in infos:
            if info.date_time != stamp:
                problems.append("%s dated %s, not the commit's %s" % (info.filename, info.date_time, stamp))
            if info.external_attr >> 16 != 0o100644:
                problems.append("%s has mode %o" % (info.filename, info.external_attr >> 16))
        expected = ["%s  %s" % (sha256(zip_path), os.path.basename(zip_path))]
        expected += ["%s  %s" % (hashlib.sha256(archive.read(n)).hexdigest(), n) for n in ZIP_ORDER]
    expected += ["%s  %s" % (sha256(deb), os.path.basename(deb))
                 for deb in glob.glob(os.path.join(os.path.dirname(zip_path), "norrow-server_*_all.deb"))]
    sums = os.path.join(os.path.dirname(zip_path), "SHA256SUMS")
    listed = open(sums).read().splitlines() if os.path.exists(sums) else ["(no SHA256SUMS)"]
    if listed != expected:
        problems.append("SHA256SUMS says %r, expected %r" % (listed, expected))
    if len(expected) != len(ZIP_ORDER) + 2:
        problems.append("no one norrow-server_VERSION_all.deb beside the zip")
    checks.report("the zip's entries in a fixed order, dated %s, mode 644; SHA256SUMS beside it, "
                  "with the server's package"
                  % time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(epoch)), problems)


def source_files():
    """The checkout's files as a copy of the tree has them: tracked and not
    ignored, as they stand in the working tree."""
    listed = run(["git", "-C", SOURCE, "ls-files", "-z", "--cached", "--others", "--exclude-standard"])
    names = [n for n in listed.stdout.split("\0") if n]
    return [n for n in names if os.path.isfile(os.path.join(SOURCE, n))]


def copy_tree(names, target, mtime=None):
    for name in names:
        os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
        shutil.copy2(os.path.join(SOURCE, name), os.path.join(target, name))
        if mtime is not None:
            os.utime(os.path.join(target, name), (mtime, mtime))
            mtime += 61


def differences(first, second):
    """Where two zips differ: which entries, at which offsets or in which of
    their dates and modes."""
    found = []
    with zipfile.ZipFile(first) as a, zipfile.ZipFile(second) as b:
        for name in sorted(set(a.namelist()) | set(b.namelist())):
            x = a.read(name) if name in a.namelist() else b""
            y = b.read(name) if name in b.namelist() else b""
            offsets = [i for i in range(min(len(x), len(y))) if x[i] != y[i]][:6]
            if x != y:
                found.append("%s differs (%d and %d bytes; offsets %s)" % (name, len(x), len(y), offsets))
            if name in a.namelist() and name in b.namelist():
                kept = [(i.date_time, oct(i.external_attr >> 16)) for i in (a.getinfo(name), b.getinfo(name))]
                if kept[0] != kept[1]:
                    found.append("%s: date and mode %s and %s" % (name, kept[0], kept[1]))
    return found or ["the entries are equal, the zips' own bytes are not"]


def check_rebuild(checks, options):
    """Builds the release in two copies of the tree, under two paths, the
    second with other modification times and umask 077: every byte equal,
    and neither copy's path in any file of it."""
    base = tempfile.mkdtemp(prefix="norrow-rebuild-")
    names = source_files()
    copies = [os.path.join(base, "a", "norrow"),
              os.path.join(base, "elsewhere", "much", "deeper", "norrow-copy")]
    copy_tree(names, copies[0])
    copy_tree(names, copies[1], mtime=978307200)  # from 2001 on, a minute apart
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(source_date_epoch()))
    zips = []
    for copy, umask in zip(copies, (0o022, 0o077)):
        built = subprocess.run(
            [os.path.join(copy, os.path.relpath(options.rebuild, SOURCE)), "--server-info-host",
             options.host, "--out", os.path.join(copy, "dist")], env=env, timeout=1800,
            capture_output=True, text=True, preexec_fn=lambda u=umask: os.umask(u))
        if built.returncode != 0:
            checks.report("the release builds in %s" % copy, [built.stderr[-2000:]])
            shutil.rmtree(base, ignore_errors=True)
            return
        zips.append(glob.glob(os.path.join(copy, "dist", "Norrow-*.zip"))[0])
    debs = [glob.glob(os.path.join(copy, "dist", "norrow-server_*_all.deb")) for copy in copies]
    problems = []
    if open(zips[0], "rb").read() != open(zips[1], "rb").read():
        problems += differences(*zips)
    if len(debs[0]) != 1 or len(debs[1]) != 1:
        problems.append("the server's package: %s" % debs)
    elif open(debs[0][0], "rb").read() != open(debs[1][0], "rb").read():
        problems.append("the server's packages differ: %s" %
                        run(["sh", "-c", 'cmp "$0" "$1"; dpkg-deb -c "$0" > "$0.txt"; dpkg-deb -c "$1" | '
                             'diff "$0.txt" - | head -5', debs[0][0], debs[1][0]]).stdout[-800:])
    sums = [open(os.path.join(os.path.dirname(z), "SHA256SUMS")).read() for z in zips]
    if sums[0] != sums[1]:
        problems.append("SHA256SUMS differ: %r and %r" % tuple(sums))
    checks.report("two builds of the release and of the server's package at two paths, other "
                  "times, other umask: the same bytes", problems)
    problems = []
    for z in zips:
        with zipfile.ZipFile(z) as archive:
            for name in archive.namelist():
                data = archive.read(name)
                problems += ["%s holds the build path %s" % (name, p) for p in [base] + copies
                             if p.encode() in data]
    for deb in debs[0]:
        for name, data in package_files(deb):
            problems += ["%s holds the build path %s" % (name, p) for p in [base] + copies
                         if p.encode() in data]
    checks.report("no build path in the release's files", problems)
    shutil.rmtree(base, ignore_errors=True)


def digest_lines(output):
    """The digests `osslsigncode verify` prints: {"Current": ..., "Calculated": ...}."""
    return dict(re.findall(r"^(Current|Calculated) message digest\s*:\s*([0-9A-F]+)", output, re.M))


def dist(script, host, out, *arguments):
    return run([script, "--server-info-host", host, "--out", out] + list(arguments), timeout=1800)


def check_refusals(checks, options, work, key, cert):
    """Signing material that cannot sign: a clear error, no zip, no sums."""
    encrypted = os.path.join(work, "encrypted.pem")
    other = os.path.join(work, "other.pem")
    run(["openssl", "pkey", "-in", key, "-aes256", "-passout", "pass:secret", "-out", encrypted])
    run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", other])
    nobody = ["--timestamp-url", "http://127.0.0.1:%d/" % free_port()]
    cases = [
        ("a missing key", os.path.join(work, "missing.pem"), cert, "cannot read the signing key", []),
        ("a certificate given as the key", cert, cert, "no unencrypted private key", []),
        ("an encrypted key", encrypted, cert, "no unencrypted private key", []),
        ("a key of another certificate", other, cert, "does not belong to the certificate", []),
        ("a missing certificate", key, os.path.join(work, "missing-cert.pem"),
         "cannot read the signing certificate", []),
        ("a time-stamping server that does not answer", key, cert, "signing failed", nobody),
    ]
    problems = []
    for i, (what, case_key, case_cert, said, more) in enumerate(cases):
        out = os.path.join(work, "refused-%d" % i)
        result = dist(options.sign, options.host, out, "--sign-key", case_key, "--sign-cert", case_cert, *more)
        if result.returncode == 0:
            problems.append("%s: dist succeeded" % what)
        if said not in result.stderr:
            problems.append("%s: expected %r, said %r" % (what, said, result.stderr.strip()[-300:]))
        if os.path.exists(out) and os.listdir(out):
            problems.append("%s: left %s" % (what, os.listdir(out)))
    checks.report("signing refused, with no zip, for %d kinds of bad key, certificate or "
                  "time-stamping server" % len(cases), problems)


def unpack(zip_path, folder):
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(folder)
    return folder


def check_signing(checks, options):
    """A release signed with a throwaway self-signed certificate."""
    work = tempfile.mkdtemp(prefix="norrow-sign-")
    try:
        check_signed_release(checks, options, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check_signed_release(checks, options, work):
    key, cert = os.path.join(work, "key.pem"), os.path.join(work, "cert.pem")
    made = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                "-out", cert, "-days", "2", "-subj", "/CN=Norrow test signer"])
    if made.returncode != 0:
        checks.report("a throwaway certificate", [made.stderr])
        return
    check_refusals(checks, options, work, key, cert)

    releases = {}
    for kind, arguments in (("unsigned", []), ("signed", ["--sign-key", key, "--sign-cert", cert])):
        out = os.path.join(work, kind)
        built = dist(options.sign, options.host, out, *arguments)
        if built.returncode != 0:
            checks.report("the %s release builds" % kind, [built.stderr[-2000:]])
            return
        releases[kind] = out
    signed_zip = glob.glob(os.path.join(releases["signed"], "Norrow-*.zip"))[0]
    check_entries(checks, signed_zip)
    unsigned = unpack(glob.glob(os.path.join(releases["unsigned"], "Norrow-*.zip"))[0],
                      os.path.join(work, "unsigned-files"))
    signed = unpack(signed_zip, os.path.join(work, "signed-files"))
    unsigned_dll, signed_dll = os.path.join(unsigned, "Norrow.tsp"), os.path.join(signed, "Norrow.tsp")

    built_digest = run([DIGEST, unsigned_dll]).stdout.split(" ")[0]
    verified = run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed_dll])
    digests = digest_lines(verified.stdout)
    problems = []
    if verified.returncode != 0 or "Signature verification: ok" not in verified.stdout:
        problems.append("osslsigncode verify: %s" % (verified.stdout + verified.stderr)[-1500:])
    if digests.get("Current") != built_digest or digests.get("Calculated") != built_digest:
        problems.append("the signature covers %s (image: %s), the unsigned build is %s"
                        % (digests.get("Current"), digests.get("Calculated"), built_digest))
    if sha256(signed_dll) == sha256(unsigned_dll):
        problems.append("the signed Norrow.tsp is the unsigned one")
    for name in ("README.txt", "LICENSE"):
        if sha256(os.path.join(signed, name)) != sha256(os.path.join(unsigned, name)):
            problems.append("%s differs between the signed and the unsigned release" % name)
    checks.report("the signature verifies (throwaway root trusted) and covers the unsigned build's "
                  "Authenticode digest %s..." % built_digest[:16], problems)

    # One byte of code changed after signing: the signature no longer fits.
    tampered = os.path.join(work, "tampered.tsp")
    image = bytearray(open(signed_dll, "rb").read())
    image[0x1000] ^= 0xFF
    open(tampered, "wb").write(image)
    refused = run(["osslsigncode", "verify", "-CAfile", cert, "-in", tampered])
    digests = digest_lines(refused.stdout)
    checks.report("a signed Norrow.tsp changed by one byte fails verification",
                  [] if refused.returncode != 0 and digests.get("Current") != digests.get("Calculated")
                  else ["osslsigncode verify: %s" % refused.stdout[-800:]])

    check_dll(checks, signed_dll, options.host)
    check_search(checks, signed, options)


def package_files(deb):
    """(name, bytes) of each file in a Debian package, its control files too."""
    folder = tempfile.mkdtemp(prefix="norrow-deb-")
    try:
        run(["dpkg-deb", "-R", deb, folder])
        found = []
        for top, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(top, name)
                if os.path.isfile(path) and not os.path.islink(path):
                    found.append((os.path.relpath(path, folder), open(path, "rb").read()))
        return found
    finally:
        shutil.rmtree(folder, ignore_errors=True)


# What a package's install, upgrade, remove or purge would change on this
# machine: the throwaway root must change none of it.
MACHINE_FILES = ["/var/lib/dpkg/status", "/etc/passwd", "/etc/group", "/etc/shadow",
                 "/var/log/nginx/norrow-access.log", "/var/log/nginx/norrow-error.log"]
MACHINE_PATHS = ["/etc/norrow", "/usr/share/norrow", "/usr/sbin/norrow-install-config",
                 "/etc/nginx/sites-available/norrow", "/etc/php/8.2/fpm/pool.d/norrow.conf",
                 "/var/lib/nginx/norrow-relay"]


# What package_lifecycle.py needs in the throwaway root (where /tmp is empty).
LIFECYCLE_FILES = ["tests/release/package_lifecycle.py", "tests/support/checks.py", "tests/server/stand_ins.py"]


def older_tree(script, work):
    """A copy of what the package is built of, whose site ends with one more
    line, as an older version's would differ: returns its build script."""
    tree = os.path.join(work, "older")
    for name in ("CMakeLists.txt", "debian", "server", os.path.relpath(script, SOURCE)):
        source, target = os.path.join(SOURCE, name), os.path.join(tree, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        (shutil.copytree if os.path.isdir(source) else shutil.copy2)(source, target)
    with open(os.path.join(tree, "server", "nginx.conf"), "a") as f:
        f.write("# (the older version's site)\n")
    return os.path.join(tree, os.path.relpath(script, SOURCE))


def machine_state():
    state = {p: sha256(p) if os.path.exists(p) else None for p in MACHINE_FILES}
    state.update({p: os.path.lexists(p) for p in MACHINE_PATHS})
    state["sites-enabled"] = sorted(os.listdir("/etc/nginx/sites-enabled"))
    return state


def check_package(checks, options):
    """The server's package, built twice (the project's version and an older
    one), checked by lintian and taken through its life in a throwaway root."""
    if os.geteuid() != 0:
        checks.report("the package's lifecycle runs as root (namespaces, an overlay, chroot)",
                      ["run as uid %d" % os.geteuid()])
        return
    work = tempfile.mkdtemp(prefix="norrow-package-")
    try:
        shared = os.path.join(work, "shared")
        debs = {}
        for kind, script, version in (("old", older_tree(options.deb, work), ["--version", "0.9"]),
                                      ("new", options.deb, [])):
            built = subprocess.run([script, "--out", shared] + version, timeout=600, capture_output=True,
                                   text=True, env=dict(os.environ, SOURCE_DATE_EPOCH=str(source_date_epoch())))
            found = re.findall(r"^server-deb: (.*\.deb)$", built.stdout, re.M)
            if built.returncode != 0 or not found:
                checks.report("the %s package builds" % kind, [built.stdout + built.stderr])
                return
            debs[kind] = found[0]
        new = debs["new"]
        print("the package: %s, %d bytes" % (os.path.basename(new), os.path.getsize(new)))
        # lintian refuses to run as root without a word; its findings are the same.
        linted = run(["lintian", "--pedantic", "--display-info", new])
        print("lintian --pedantic --display-info: %s" % (linted.stdout.strip() or "(nothing)"))
        findings = [l for l in linted.stdout.splitlines() if l[:2] in ("E:", "W:")]
        checks.report("lintian: no error and no warning", findings + (
            [] if linted.returncode == 0 else ["lintian exits %d: %s" % (linted.returncode, linted.stderr)]))

        # The lifecycle's script and what it uses, where the root sees them.
        for name in LIFECYCLE_FILES:
            os.makedirs(os.path.dirname(os.path.join(shared, name)), exist_ok=True)
            shutil.copy(os.path.join(SOURCE, name), os.path.join(shared, name))
        shutil.copytree(os.path.join(SOURCE, "tests", "release", "data"), os.path.join(shared, "data"))
        before = machine_state()
        began = time.monotonic()
        inside = subprocess.run(
            [os.path.join(SOURCE, "tests", "support", "throwaway_root.sh"), os.path.join(work, "root"),
             shared, "python3", "/mnt/shared/" + LIFECYCLE_FILES[0],
             "--old", "/mnt/shared/" + os.path.basename(debs["old"]),
             "--new", "/mnt/shared/" + os.path.basename(new), "--data", "/mnt/shared/data"],
            timeout=600, capture_output=True, text=True)
        print(inside.stdout, end="")
        checks.report("the package's lifecycle in a throwaway root (%.1f s in all)" % (time.monotonic() - began),
                      [] if inside.returncode == 0 else ["exit status %d: %s" % (inside.returncode,
                                                                                 inside.stderr[-1500:])])
        after = machine_state()
        checks.report("this machine is as it was: dpkg's database, users, groups, files",
                      ["%s: %s, then %s" % (k, before[k], after[k]) for k in before if before[k] != after[k]])
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zip", help="the release zip to check")
    parser.add_argument("--host", required=True, help="the server-information host it was built for")
    parser.add_argument("--dist", help="build the zip first with this dist script")
    parser.add_argument("--rebuild", help="build the release twice with this dist script and compare")
    parser.add_argument("--sign", help="build a signed release with this dist script and check it")
    parser.add_argument("--deb", help="build the server's package with this script and check it")
    parser.add_argument("--windows", help="the Windows build's bin folder (tamsel-sim.exe, PluginIf.dll)")
    parser.add_argument("--wine")
    parser.add_argument("--services", help="the Linux tamsel-sim that runs the services")
    options = parser.parse_args()
    checks = Tally()
    if options.rebuild:
        check_rebuild(checks, options)
        return checks.summary()
    if options.sign:
        check_signing(checks, options)
        return checks.summary()
    if options.deb:
        check_package(checks, options)
        return checks.summary()
    if options.dist:
        built = subprocess.run([options.dist, "--server-info-host", options.host,
                                "--out", os.path.dirname(options.zip)], timeout=1800)
        if built.returncode != 0:
            print("FAIL building the release")
            return 1
    if not options.zip or not os.path.exists(options.zip):
        print("FAIL %s is missing: the release suite builds it (scripts/test.sh)" % options.zip)
        return 1
    folder = tempfile.mkdtemp(prefix="norrow-release-")
    with zipfile.ZipFile(options.zip) as archive:
        names = sorted(archive.namelist())
        checks.report("the zip holds exactly %s" % ", ".join(FILES),
                      [] if names == FILES else ["it holds %s" % names])
        archive.extractall(folder)
    if options.windows:
        check_search(checks, folder, options)
    else:
        check_entries(checks, options.zip)
        check_dll(checks, os.path.join(folder, "Norrow.tsp"), options.host)
        check_texts(checks, folder)
    shutil.rmtree(folder, ignore_errors=True)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
