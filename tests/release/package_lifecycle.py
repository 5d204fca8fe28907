#!/usr/bin/env python3
"""The server's package through its life, as a maker meets it, inside a
throwaway root (check_release.py --deb runs it there through
tests/support/throwaway_root.sh; never on a real machine):

  package_lifecycle.py --old OLD.deb --new NEW.deb --data FOLDER

installs the older package with apt; checks what it made and that nothing
answers plug-ins; refuses a broken configuration; installs one with
norrow-install-config, which enables the site; serves the server
information through nginx and PHP-FPM and relays a search to a stand-in
provider over HTTPS; upgrades to the newer package (configuration, last good
copy, snippets and answers unchanged); removes it (nothing answers) and
purges it (user, /etc/norrow, logs and the relay's cache gone). nginx and
PHP-FPM are started by hand, as no init system runs here. Prints each check
and the time of each step.
"""
import argparse
import grp
import http.client
import http.server
import os
import pwd
import shutil
import socket
import ssl
import stat
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "server"))
from checks import Tally  # noqa: E402
from stand_ins import Resolver  # noqa: E402

HOST = "release.norrow.test"         # the site's server_name, as the maker sets it
PROVIDER = "provider.norrow.test"    # the stand-in provider's certificate name
PROVIDER_CA = "/etc/ssl/norrow-test-provider.pem"
SECRET = "norrow-release-secret"     # the relayed service's id (data/serverinfo.ini)
PLUGIN_BODY = ('--kiritori\r\nContent-Disposition: form-data; name="version"\r\n\r\n'
               '1000\r\n--kiritori--\r\n').encode()
# The plug-in's address search for 東京 (Shift-JIS), as its URL builder makes it.
SEARCH = "/norrow/relay/geocoder?appid=-&query=%93%8C%8B%9E&ei=SJIS&result=10&output=xml"
ANSWER = b'<?xml version="1.0" encoding="UTF-8"?>\n<YDF><ResultInfo><Count>0</Count></ResultInfo></YDF>\n'
SITE = "/etc/nginx/sites-available/norrow"
SERVER_NAME = "/etc/norrow/server-name.conf"  # the site's name, the maker's
OLDER_SITE = "# (the older version's site)"   # the older package's site ends so
ENABLED = "/etc/nginx/sites-enabled/norrow"
KEPT = ["/etc/norrow/serverinfo.ini", "/etc/norrow/serverinfo.ini.last-good",
        "/etc/norrow/relay-upstreams.conf", "/etc/norrow/relay-locations.conf"]
LOGS = ["/var/log/nginx/norrow-access.log", "/var/log/nginx/norrow-error.log",
        "/var/log/nginx/norrow-relay.log"]
STATE = "/var/lib/norrow"
RELAY_CACHE = "/var/lib/nginx/norrow-relay"


# What changes whatever a package does (apt's and dpkg's records, their logs,
# caches), left out when the files before the install and after the purge
# are compared.
VOLATILE = ("/var/lib/dpkg/", "/var/lib/apt/", "/var/cache/", "/var/log/apt/", "/var/log/dpkg.log",
            "/var/log/alternatives.log")


def tree():
    """Every path under /etc, /usr and /var, the volatile ones left out."""
    found = set()
    for top in ("/etc", "/usr", "/var"):
        for folder, folders, names in os.walk(top):
            found.update(p for p in (os.path.join(folder, n) for n in folders + names)
                         if not p.startswith(VOLATILE))
    return found


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, **kwargs)


def apt(*arguments):
    """apt-get as a maker runs it, with no answer to any question (a
    question about a configuration file fails it): (result, seconds)."""
    environment = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    began = time.monotonic()
    result = run(["apt-get", "-y"] + list(arguments), env=environment, stdin=subprocess.DEVNULL)
    return result, time.monotonic() - began


def request(method, path, body=None, headers=None):
    """(status, body) of a request to the nginx on port 80 for HOST, or
    (None, why) when nothing answers."""
    connection = http.client.HTTPConnection("127.0.0.1", 80, timeout=20)
    try:
        connection.request(method, path, body=body, headers=dict(headers or {}, Host=HOST))
        answer = connection.getresponse()
        return answer.status, answer.read()
    except OSError as error:
        return None, str(error).encode()
    finally:
        connection.close()


def server_information():
    return request("POST", "/norrow/downloadinfo.php", PLUGIN_BODY,
                   {"Content-Type": "multipart/form-data; boundary=kiritori"})


class Provider(http.server.BaseHTTPRequestHandler):
    """The stand-in provider: answers every GET with ANSWER and notes the
    request line it got."""
    seen = []

    def do_GET(self):
        Provider.seen.append(self.path)
        self.send_response(200)
        self.send_header("Content-Type", "application/xml; charset=UTF-8")
        self.send_header("Content-Length", str(len(ANSWER)))
        self.end_headers()
        self.wfile.write(ANSWER)

    def log_message(self, *args):
        pass


class SystemResolver(Resolver):
    """The DNS stand-in where this root's /etc/resolv.conf sends nginx: port
    53 of its own loopback."""

    def __init__(self):
        self.addresses = {}
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.socket.bind(("127.0.0.1", 53))
        self.port = 53
        threading.Thread(target=self._serve, daemon=True).start()


def start_provider():
    """The stand-in at PROVIDER, port 443 of this root's own loopback, which
    its DNS names, with a certificate for PROVIDER that PROVIDER_CA (itself)
    vouches for. The relay then finds it as it would find the provider."""
    with open("/etc/resolv.conf", "w") as f:
        f.write("nameserver 127.0.0.1\n")
    SystemResolver().addresses[PROVIDER] = "127.0.0.1"
    key = "/tmp/provider-key.pem"
    made = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                "-out", PROVIDER_CA, "-days", "2", "-subj", "/CN=" + PROVIDER,
                "-addext", "subjectAltName=DNS:" + PROVIDER])
    if made.returncode != 0:
        raise RuntimeError(made.stderr)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Provider)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(PROVIDER_CA, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()


def start_services():
    """PHP-FPM and nginx as their init scripts would start them (no init
    system runs here)."""
    os.makedirs("/run/php", exist_ok=True)
    problems = []
    for command in (["php-fpm8.2"], ["nginx"]):
        started = run(command)
        if started.returncode != 0:
            problems.append("%s: %s" % (command[0], started.stderr.strip()))
    return problems


def mode_of(path):
    info = os.stat(path)
    return stat.S_IMODE(info.st_mode), pwd.getpwuid(info.st_uid).pw_name, grp.getgrgid(info.st_gid).gr_name


def exists(name, lookup):
    try:
        lookup(name)
        return True
    except KeyError:
        return False


def files_of(paths):
    """{path: (bytes, mode)} of the files that exist."""
    return {p: (open(p, "rb").read(), mode_of(p)) for p in paths if os.path.exists(p)}


def answered(checks, what, expected_info, expected_search):
    """The server information and a relayed search answer as expected
    (after nginx's reload, within 5 s)."""
    problems = []
    deadline = time.monotonic() + 5
    status, body = server_information()
    while status != 200 and time.monotonic() < deadline:
        time.sleep(0.1)
        status, body = server_information()
    if status != 200 or body != expected_info:
        problems.append("the server information: %s %r" % (status, body[:300]))
    Provider.seen.clear()
    status, body = request("GET", SEARCH)
    if status != 200 or body != expected_search:
        problems.append("the relayed search: %s %r" % (status, body[:300]))
    sent = SEARCH.split("?", 1)[1].replace("appid=-", "appid=" + SECRET)
    if Provider.seen != ["/v1/geocoder?" + sent]:
        problems.append("the provider got %r, not /v1/geocoder?%s" % (Provider.seen, sent))
    checks.report(what, problems)


def unanswered(checks, what):
    """Neither the server information nor the relay answers for HOST
    (after nginx's reload, within 5 s)."""
    problems = []
    deadline = time.monotonic() + 5
    status, body = server_information()
    while status == 200 and time.monotonic() < deadline:
        time.sleep(0.1)
        status, body = server_information()
    if status == 200 or b"norrow-release" in body:
        problems.append("the server information: %s %r" % (status, body[:300]))
    status, body = request("GET", SEARCH)
    if status == 200:
        problems.append("the relay: %s %r" % (status, body[:300]))
    checks.report(what, problems)


def step(checks, times, name, result, seconds):
    times.append((name, seconds))
    checks.report("%s (%.1f s)" % (name, seconds),
                  [] if result.returncode == 0 else [(result.stdout + result.stderr)[-1500:]])
    return result.returncode == 0


def check_installed(checks):
    problems = []
    if not exists("norrow", pwd.getpwnam) or pwd.getpwnam("norrow").pw_uid >= 1000:
        problems.append("no system user norrow")
    if mode_of("/etc/norrow") != (0o750, "root", "norrow"):
        problems.append("/etc/norrow is %o %s:%s" % mode_of("/etc/norrow"))
    if mode_of(STATE) != (0o700, "norrow", "norrow"):
        problems.append("%s is %o %s:%s" % ((STATE,) + mode_of(STATE)))
    if not os.path.isfile("/etc/norrow/serverinfo.example.ini"):
        problems.append("no example configuration in /etc/norrow")
    if "\nserver_name serverinfo.norrow.example;" not in open(SERVER_NAME).read():
        problems.append("%s does not name the example's host" % SERVER_NAME)
    problems += ["%s is there before a configuration is installed" % p for p in KEPT if os.path.exists(p)]
    if not os.path.isfile(SITE) or os.path.lexists(ENABLED):
        problems.append("the site is not in sites-available, or is enabled")
    if "root /usr/share/norrow;" not in open(SITE).read():
        problems.append("the site's root is not /usr/share/norrow")
    if not os.path.isfile("/etc/php/8.2/fpm/pool.d/norrow.conf"):
        problems.append("no PHP-FPM pool")
    for script in ("downloadinfo.php", "configuration.php", "relay.php", "relay.js", "relay-budget.php",
                   "install-config", "relay-usage"):
        if not os.path.isfile("/usr/share/norrow/" + script):
            problems.append("no /usr/share/norrow/" + script)
    for command in ("norrow-install-config", "norrow-relay-usage"):
        if shutil.which(command) != "/usr/sbin/" + command:
            problems.append("%s is not on the PATH" % command)
    for log in LOGS:
        if not os.path.exists(log) or mode_of(log)[0] & 0o007:
            problems.append("%s: missing, or readable by everyone" % log)
    checks.report("installed: the user norrow, /etc/norrow 0750 root:norrow with the example and "
                  "the site's name only, the relay's state folder, the site disabled, the pool, the "
                  "scripts, norrow-install-config and norrow-relay-usage on the PATH, logs not for "
                  "everyone", problems)


def install_configuration(checks, data):
    """A broken configuration is refused and serves nothing; a good one goes
    live and enables the site. Returns the answers it gives, or None."""
    refused = run(["norrow-install-config", os.path.join(data, "broken.ini")])
    problems = [] if refused.returncode == 1 else ["exit status %d" % refused.returncode]
    problems += ["%s made" % p for p in KEPT[:2] + [ENABLED] if os.path.lexists(p)]
    checks.report("a broken configuration is refused; the site stays disabled", problems)
    unanswered(checks, "after the refusal, still nothing answers")

    began = time.monotonic()
    installed = run(["norrow-install-config", os.path.join(data, "serverinfo.ini")])
    seconds = time.monotonic() - began
    problems = [] if installed.returncode == 0 else [installed.stderr[-1500:]]
    link = os.readlink(ENABLED) if os.path.islink(ENABLED) else None
    if link != "../sites-available/norrow":
        problems.append("the site is not enabled (%s)" % link)
    problems += ["%s is %o %s:%s" % ((p,) + mode_of(p)) for p in KEPT
                 if not os.path.exists(p) or mode_of(p) != (0o640, "root", "norrow")]
    checks.report("the first norrow-install-config makes the configuration live (0640 root:norrow), "
                  "enables the site, nginx reloads (%.1f s)" % seconds, problems)
    if installed.returncode != 0:
        return None
    info = subprocess.run(["norrow-install-config", "--check", os.path.join(data, "serverinfo.ini")],
                          capture_output=True).stdout
    return info.decode("utf-8").encode("cp932"), ANSWER


def check_purged(checks):
    problems = []
    for name, lookup in (("user", pwd.getpwnam), ("group", grp.getgrnam)):
        if exists("norrow", lookup):
            problems.append("the %s norrow is left" % name)
    left = ["/etc/norrow", STATE, RELAY_CACHE, SITE, ENABLED, "/etc/php/8.2/fpm/pool.d/norrow.conf",
            "/usr/share/norrow"] + LOGS
    problems += ["%s is left" % p for p in left if os.path.lexists(p)]
    problems += ["the statoverride of %s is left" % p for p in ("/etc/norrow", STATE)
                 if run(["dpkg-statoverride", "--list", p]).returncode == 0]
    if run(["nginx", "-t", "-q"]).returncode != 0:
        problems.append("nginx refuses its configuration")
    checks.report("purged: no user or group norrow, no /etc/norrow, state, logs, relay cache, site, pool",
                  problems)


def lifecycle(checks, options):
    times = []
    # The machine's own policy-rc.d (if any) is for the machine; here the
    # maintainer scripts may reload the nginx and PHP-FPM of this root.
    if os.path.exists("/usr/sbin/policy-rc.d"):
        os.remove("/usr/sbin/policy-rc.d")
    start_provider()
    # A server where nginx and PHP-FPM run: the package reloads them.
    checks.report("nginx and PHP-FPM start", start_services())
    began = tree()
    if not step(checks, times, "apt install of the older package", *apt("install", options.old)):
        return times
    check_installed(checks)
    unanswered(checks, "before a configuration is installed, nothing answers plug-ins")

    # The maker names the site, as the README says.
    with open(SERVER_NAME, "w") as f:
        f.write("server_name %s;\n" % HOST)
    expected = install_configuration(checks, options.data)
    if expected is None:
        return times
    answered(checks, "the installed site serves the server information (the pool, which PHP-FPM "
             "runs since the package reloaded it) and relays a search to the provider with the "
             "secret id (nginx)", *expected)
    checks.report("nginx made the relay's cache", [] if os.path.isdir(RELAY_CACHE) else ["no " + RELAY_CACHE])
    usage = run(["norrow-relay-usage"])
    checks.report("norrow-relay-usage counts the day's searches from the relay's log",
                  [] if usage.returncode == 0 and time.strftime("%Y-%m-%d") in usage.stdout
                  else [usage.stdout + usage.stderr])
    before = files_of(KEPT + [SERVER_NAME])

    upgrade, seconds = apt("install", options.new)
    if step(checks, times, "apt install of the newer package (the upgrade)", upgrade, seconds):
        after = files_of(KEPT + [SERVER_NAME])
        problems = ["%s changed" % p for p in before if before[p] != after.get(p)]
        problems += [line for line in (upgrade.stdout + upgrade.stderr).splitlines()
                     if line.startswith("norrow-server:")]
        if OLDER_SITE in open(SITE).read():
            problems.append("the site is the older version's")
        if not os.path.islink(ENABLED):
            problems.append("the site is disabled")
        checks.report("the upgrade, without a question, installs the new site and keeps the site's "
                      "name, the live configuration, its last good copy and the relay's snippets", problems)
        answered(checks, "after the upgrade, the same answers", *expected)

    if step(checks, times, "apt remove", *apt("remove", "norrow-server")):
        checks.report("removed: the site is disabled, the configuration kept",
                      (["the site is still enabled"] if os.path.lexists(ENABLED) else []) +
                      ["%s is gone" % p for p in KEPT if not os.path.exists(p)])
        unanswered(checks, "after remove, nothing answers plug-ins")
    if step(checks, times, "apt purge", *apt("purge", "norrow-server")):
        check_purged(checks)
        ended = tree()
        checks.report("after the purge, no file more or less than before the install",
                      ["left: " + p for p in sorted(ended - began)] +
                      ["gone: " + p for p in sorted(began - ended)])
    return times


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--old", required=True, help="the older package")
    parser.add_argument("--new", required=True, help="the newer package")
    parser.add_argument("--data", required=True, help="the folder of the configurations")
    options = parser.parse_args()
    if os.getpid() != 1:
        print("FAIL package_lifecycle.py installs packages: it runs only as the first process of a "
              "throwaway root (tests/support/throwaway_root.sh), not here")
        return 2
    checks = Tally()
    times = lifecycle(checks, options)
    print("times: " + ", ".join("%s %.1f s" % step for step in times))
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
