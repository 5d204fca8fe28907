#!/usr/bin/env python3
"""What scripts/setup.sh leaves behind when it installs packages, on a
stand-in Debian machine: apt-get, dpkg-query, systemctl, update-rc.d, id and
sudo are stand-ins that keep their state in a folder, and the stand-in
apt-get configures a package as Debian's maintainer scripts do: it enables
the package's units and init scripts and starts its services through the
real deb-systemd-invoke, which asks policy-rc.d (under DPKG_ROOT) first.

  check_setup.py --setup scripts/setup.sh
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from checks import Tally  # noqa: E402

# The packages `setup.sh server` asks for, with what they bring along.
CATALOGUE = {
    "nginx": {"depends": ["nginx-common"]},
    "nginx-common": {"unit": ["nginx.service"], "sysv": ["nginx"]},
    "libnginx-mod-http-js": {"depends": ["nginx-common"]},
    "php-fpm": {"depends": ["php8.2-fpm"]},
    "php8.2-fpm": {"depends": ["php-common"], "unit": ["php8.2-fpm.service"], "sysv": ["php8.2-fpm"]},
    "php-common": {"unit": ["phpsessionclean.timer"]},
    "php-mbstring": {"depends": ["php8.2-mbstring"]},
    "php8.2-mbstring": {},
    "wrk": {},
    "apache2": {"unit": ["apache2.service"], "sysv": ["apache2"]},
}
SERVER = ["nginx", "libnginx-mod-http-js", "php-fpm", "php-mbstring", "wrk"]

# The stand-ins: one shell script that acts by the name it is called by. Its
# state: $FAKE_STATE/{catalogue,installed,enabled,running}/NAME; the init
# scripts' links under $DPKG_ROOT/etc/rcN.d.
STAND_IN = r"""
s=$FAKE_STATE
echo "${0##*/} $*" >> "$FAKE_LOG"
words() { local a; for a; do case $a in -*) ;; *) echo "$a" ;; esac; done; }
field() { sed -n "s/^$1 //p" "$s/catalogue/$2" 2>/dev/null; }
rc_links() {  # rc_links SCRIPT S|K: its links in runlevels 2-5, start or kill
  local level
  for level in 2 3 4 5; do
    rm -f "$DPKG_ROOT/etc/rc$level.d/"[SK]01"$1"
    ln -s "../init.d/$1" "$DPKG_ROOT/etc/rc$level.d/${2}01$1"
  done
}
install() {  # as dpkg and the package's postinst: enable, then start via the policy layer
  local dependency script unit
  [ ! -e "$s/installed/$1" ] || return 0
  for dependency in $(field depends "$1"); do install "$dependency" || return; done
  [ "$1" != "${FAKE_APT_FAILS_AT:-}" ] || return 100
  touch "$s/installed/$1"
  for script in $(field sysv "$1"); do rc_links "$script" S; done
  for unit in $(field unit "$1"); do
    systemctl enable "$unit" && deb-systemd-invoke start "$unit" || return
  done
}
case ${0##*/} in
  id) echo "$FAKE_UID" ;;
  sudo) FAKE_UID=0 exec "$@" ;;
  dpkg-query)
    if [ "$1" = -L ]; then
      shift
      for p; do field unit "$p" | sed 's#^#/lib/systemd/system/#'; field sysv "$p" | sed 's#^#/etc/init.d/#'; done
    elif [ -n "$(words "$@")" ]; then
      [ -e "$s/installed/$(words "$@")" ] || exit 1
      printf 'install ok installed'
    else
      for f in "$s"/installed/*; do [ ! -e "$f" ] || echo "ii  ${f##*/}"; done
    fi ;;
  apt-get)
    [ "$1" = install ] || exit 0
    [ "$FAKE_UID" = 0 ] || { echo "apt-get: not root" >&2; exit 100; }
    for p in $(words "$@"); do [ "$p" = install ] || install "$p" || exit 100; done ;;
  systemctl)
    set -- $(words "$@")
    command=$1; shift
    case $command in
      enable) for u; do touch "$s/enabled/$u"; done ;;
      disable)  # and the init script of its name, as systemd-sysv-install does
        for u; do
          rm -f "$s/enabled/$u"
          ! ls "$DPKG_ROOT/etc/rc2.d/S01${u%.*}" >/dev/null 2>&1 || rc_links "${u%.*}" K
        done ;;
      start) for u; do touch "$s/running/$u"; done ;;
      stop) for u; do rm -f "$s/running/$u"; done ;;
      is-enabled) if [ -e "$s/enabled/$1" ]; then echo enabled; else echo disabled; exit 1; fi ;;
      is-active) [ -e "$s/running/$1" ] || exit 3 ;;
    esac ;;
  update-rc.d) [ "$2" != disable ] || rc_links "$1" K ;;
esac
"""

# What setup.sh runs besides the stand-ins; nothing else is on its PATH, so a
# sudo of the machine's cannot stand in for the missing one.
TOOLS = ["bash", "env", "sed", "grep", "sort", "comm", "ls", "tee", "rm", "chmod", "cat",
         "dirname", "touch", "ln", "perl", "deb-systemd-invoke"]


class Machine:
    """A stand-in Debian machine in a temporary folder."""

    def __init__(self, uid, sudo, installed=(), enabled=(), running=(), policy=None):
        self.folder = tempfile.mkdtemp(prefix="norrow-setup-")
        self.root = os.path.join(self.folder, "root")
        self.bin = os.path.join(self.folder, "bin")
        self.state = os.path.join(self.folder, "state")
        self.log = os.path.join(self.folder, "log")
        for folder in [self.bin, os.path.join(self.root, "usr", "sbin")] + \
                [os.path.join(self.root, "etc", "rc%s.d" % level) for level in "2345"] + \
                [os.path.join(self.state, kind) for kind in ("catalogue", "installed", "enabled", "running")]:
            os.makedirs(folder)
        for package, entry in CATALOGUE.items():
            with open(os.path.join(self.state, "catalogue", package), "w") as f:
                f.writelines("%s %s\n" % (field, value) for field in ("depends", "unit", "sysv")
                             for value in entry.get(field, []))
        for kind, names in (("installed", installed), ("enabled", enabled), ("running", running)):
            for name in names:
                open(os.path.join(self.state, kind, name), "w").close()
        for unit in enabled:
            script = unit.rsplit(".", 1)[0]
            os.symlink("../init.d/" + script, os.path.join(self.root, "etc", "rc2.d", "S01" + script))
        stand_in = os.path.join(self.bin, "stand-in")
        with open(stand_in, "w") as f:
            f.write("#!%s\n%s" % (shutil.which("bash"), STAND_IN))
        os.chmod(stand_in, 0o755)
        for name in ["id", "dpkg-query", "apt-get", "systemctl", "update-rc.d"] + (["sudo"] if sudo else []):
            os.symlink(stand_in, os.path.join(self.bin, name))
        for tool in TOOLS:
            os.symlink(shutil.which(tool), os.path.join(self.bin, tool))
        self.policy = os.path.join(self.root, "usr", "sbin", "policy-rc.d")
        if policy is not None:
            with open(self.policy, "w") as f:
                f.write(policy)
            os.chmod(self.policy, 0o700)
        self.uid = uid

    def setup(self, script, mode, fails_at=None):
        env = {"PATH": self.bin, "DPKG_ROOT": self.root, "FAKE_STATE": self.state,
               "FAKE_LOG": self.log, "FAKE_UID": str(self.uid), "LANG": "C"}
        if fails_at:
            env["FAKE_APT_FAILS_AT"] = fails_at
        return subprocess.run([shutil.which("bash"), script, mode], env=env,
                              capture_output=True, text=True, timeout=120)

    def status(self):
        """Installed packages, enabled units, running units, start links in rc2.d."""
        listed = [set(os.listdir(os.path.join(self.state, kind))) for kind in ("installed", "enabled", "running")]
        starts = {l for l in os.listdir(os.path.join(self.root, "etc", "rc2.d")) if l.startswith("S")}
        return listed + [starts]

    def calls(self):
        return open(self.log).read().splitlines() if os.path.exists(self.log) else []

    def remove(self):
        shutil.rmtree(self.folder, ignore_errors=True)


POLICY_ALLOWING = "#!/bin/sh\n# the machine's own: services may start\nexit 0\n"
USERS_SERVICE = dict(installed=["apache2"], enabled=["apache2.service"], running=["apache2.service"])
SERVER_ALL = {"nginx", "libnginx-mod-http-js", "nginx-common", "php-fpm", "php8.2-fpm", "php-common", "php-mbstring",
              "php8.2-mbstring", "wrk"}


def check(checks, script, what, machine, expect, fails_at=None):
    """Runs `setup.sh server` on `machine`; `expect` holds: status (0 or not),
    installed, enabled, running, S links in rc2.d, the policy file's text
    afterwards (None: none), and texts the output must hold, calls the log must
    hold or must not hold."""
    try:
        result = machine.setup(script, "server", fails_at)
        installed, enabled, running, starts = machine.status()
        policy = open(machine.policy).read() if os.path.exists(machine.policy) else None
        calls = machine.calls()
        problems = []
        if (result.returncode == 0) != (expect["status"] == 0):
            problems.append("exit status %d" % result.returncode)
        for name, got in (("installed", installed), ("enabled", enabled), ("running", running),
                          ("starts", starts)):
            if got != set(expect[name]):
                problems.append("%s: %s, expected %s" % (name, sorted(got), sorted(expect[name])))
        if policy != expect["policy"]:
            problems.append("policy-rc.d afterwards: %r" % policy)
        problems += ["output lacks %r" % t for t in expect.get("says", [])
                     if t not in result.stdout + result.stderr]
        problems += ["never called %r" % c for c in expect.get("calls", [])
                     if not any(l.startswith(c) for l in calls)]
        problems += ["called %r" % c for c in expect.get("never", []) if any(l.startswith(c) for l in calls)]
        if problems:
            problems.append("output: %s" % (result.stdout + result.stderr).strip()[-600:])
        checks.report(what, problems)
    finally:
        machine.remove()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--setup", required=True)
    options = parser.parse_args()
    checks = Tally()
    missing = "apt-get update && apt-get install -y nginx libnginx-mod-http-js php-fpm php-mbstring wrk"
    cases = [
        ("root, no policy-rc.d of the machine's: installed, nothing started or left enabled",
         Machine(uid=0, sudo=False),
         dict(status=0, installed=SERVER_ALL, enabled=[], running=[], starts=[], policy=None,
              calls=["apt-get install", "systemctl enable nginx.service"], never=["systemctl --quiet --system start"])),
        ("root, the machine's policy-rc.d lets services start: it stays; what started is stopped",
         Machine(uid=0, sudo=False, policy=POLICY_ALLOWING),
         dict(status=0, installed=SERVER_ALL, enabled=[], running=[], starts=[], policy=POLICY_ALLOWING,
              calls=["systemctl --quiet --system start nginx.service", "systemctl stop nginx.service",
                     "systemctl stop php8.2-fpm.service"],
              says=["stopped nginx.service", "disabled phpsessionclean.timer"])),
        ("root, the user's own service running and enabled: it stays so",
         Machine(uid=0, sudo=False, policy=POLICY_ALLOWING, **USERS_SERVICE),
         dict(status=0, installed=SERVER_ALL | {"apache2"}, enabled=["apache2.service"],
              running=["apache2.service"], starts=["S01apache2"], policy=POLICY_ALLOWING,
              never=["systemctl stop apache2", "systemctl disable --quiet apache2"])),
        ("root, apt-get fails half-way: the policy goes, what was installed is left disabled",
         Machine(uid=0, sudo=False),
         dict(status=1, installed={"nginx", "nginx-common", "libnginx-mod-http-js", "php-common"}, enabled=[], running=[],
              starts=[], policy=None, says=["apt-get install failed"]), "php8.2-fpm"),
        ("not root, with sudo: installs through sudo, nothing started or left enabled",
         Machine(uid=1000, sudo=True),
         dict(status=0, installed=SERVER_ALL, enabled=[], running=[], starts=[], policy=None,
              calls=["sudo env DEBIAN_FRONTEND=noninteractive apt-get install", "sudo tee"])),
        ("not root, no sudo: names what is missing and the command, installs nothing",
         Machine(uid=1000, sudo=False),
         dict(status=1, installed=[], enabled=[], running=[], starts=[], policy=None,
              says=["missing packages: nginx libnginx-mod-http-js php-fpm php-mbstring wrk", "as root, run:\n  " + missing],
              never=["apt-get"])),
        ("not root, no sudo, nothing missing: nothing to do",
         Machine(uid=1000, sudo=False, installed=SERVER_ALL),
         dict(status=0, installed=SERVER_ALL, enabled=[], running=[], starts=[], policy=None,
              never=["apt-get", "sudo"])),
    ]
    for case in cases:
        check(checks, options.setup, *case)
    return checks.summary()


if __name__ == "__main__":
    sys.exit(main())
