#!/usr/bin/env bash
# Installs what building and testing Norrow needs on Debian 12, where missing.
#   setup.sh native   the native build and the demo: compilers, libraries
#   setup.sh server   the server information: nginx with its njs module (the
#                     search relay) and PHP-FPM with mbstring, and wrk for
#                     its tests
#   setup.sh dist     the release: the 32-bit Windows cross compiler, zip,
#                     debhelper and lintian for the server's package,
#                     osslsigncode and openssl for signing
#   setup.sh          everything: all of the above, Wine for the 32-bit
#                     target, Xvfb for real message boxes, and the tools of
#                     the test suites (clang, valgrind, python3, wrk, unzip);
#                     then finds out whether this machine runs 32-bit code and,
#                     where it does not, prepares Wine under qemu-user
# It leaves no service running or enabled that was not before: while apt-get
# runs, a policy-rc.d (where the machine has none of its own) keeps Debian's
# maintainer scripts from starting any, and afterwards the services of the
# packages it installed are stopped and disabled. Installing needs root or
# sudo; without either it names what is missing and the command that
# installs it, and fails.
set -euo pipefail
cd "$(dirname "$0")/.."

native=(cmake ninja-build g++ pkg-config googletest libgtest-dev libcpp-httplib-dev)
server=(nginx libnginx-mod-http-js php-fpm php-mbstring wrk)
dist=(cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686 zip python3 osslsigncode openssl
      debhelper lintian)
case "${1:-all}" in
  native) packages=("${native[@]}") ;;
  server) packages=("${server[@]}") ;;
  dist) packages=("${dist[@]}") ;;
  *)
    packages=(
      "${native[@]}" "${server[@]}" "${dist[@]}"
      clang libclang-rt-14-dev libbenchmark-dev libpugixml-dev
      wine wine32:i386 xvfb xauth
      valgrind locales unzip
    ) ;;
esac

say() { echo "setup: $*"; }
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
can_be_root() { [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null; }

# Where Wine must run under qemu-user (scripts/ia32 says so), it needs the
# emulator and the 64-bit Wine beside the 32-bit one.
if [ "${1:-all}" = all ] && [ "$(scripts/ia32 way)" = emulated ]; then
  packages+=(qemu-user-static wine64)
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done

# Locales: a Japanese UTF-8 one, in which Wine reads a Unix command line as
# UTF-8 (without it, Japanese arguments reach a Windows program mangled), and
# one with a decimal comma, for the tests that prove numbers ignore it.
locales=()
if [ "${1:-all}" = all ]; then
  for locale in ja_JP de_DE; do
    locale -a 2>/dev/null | grep -qi "^$locale\.utf-\?8$" || locales+=("$locale")
  done
fi

# An i386 package (wine32) needs that architecture added first.
add_i386=0
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  add_i386=1
fi

# The root commands that install what is missing, as one command line.
commands=()
[ "$add_i386" -eq 0 ] || commands+=("dpkg --add-architecture i386")
[ ${#missing[@]} -eq 0 ] || commands+=("apt-get update" "apt-get install -y ${missing[*]}")
for locale in "${locales[@]}"; do
  commands+=("localedef -i $locale -f UTF-8 $locale.UTF-8")
done
if [ ${#commands[@]} -gt 0 ] && ! can_be_root; then
  [ ${#missing[@]} -eq 0 ] || say "missing packages: ${missing[*]}"
  [ ${#locales[@]} -eq 0 ] || say "missing locales: ${locales[*]/%/.UTF-8}"
  say "installing needs root, and this user is not root and has no sudo; as root, run:"
  line=$(printf ' && %s' "${commands[@]}")
  echo "  ${line:4}"
  exit 1
fi

# While apt-get runs, no service starts (nor stops or restarts): a
# policy-rc.d that says so to invoke-rc.d and deb-systemd-invoke, unless the
# machine has one of its own, which then holds. Ours goes when setup ends.
policy=${DPKG_ROOT:-}/usr/sbin/policy-rc.d
ours="# norrow setup: no service starts while it installs packages"
hold_services() {
  [ ! -e "$policy" ] || return 0
  printf '#!/bin/sh\n%s\nexit 101\n' "$ours" | as_root tee "$policy" >/dev/null
  as_root chmod 755 "$policy"
  trap release_services EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}
release_services() {
  if [ -f "$policy" ] && grep -qxF "$ours" "$policy"; then as_root rm -f "$policy"; fi
}

# The services that packages ship: their systemd units, then their SysV init
# scripts (disabling a unit disables the init script of its name too).
services_of() {
  [ $# -gt 0 ] || return 0
  local files
  files=$(dpkg-query -L "$@" 2>/dev/null)
  sed -n -E 's#^(/usr)?/lib/systemd/system/([^/@]+\.(service|socket|timer))$#unit \2#p' <<<"$files" |
    LC_ALL=C sort -u
  sed -n -E 's#^/etc/init\.d/([^/]+)$#sysv \1#p' <<<"$files" | LC_ALL=C sort -u
}

# Stops and disables the services of the packages just installed where they
# run or are enabled (where the machine's own policy-rc.d let them start, or
# at the next boot); the machine's other services stay as they are.
settle_services() {
  local kind name
  while read -r kind name; do
    case "$kind" in
      unit)
        if systemctl --quiet is-active "$name" 2>/dev/null; then
          undo "stopped $name, which installing started" systemctl stop "$name"
        fi
        if systemctl --quiet is-enabled "$name" 2>/dev/null; then
          undo "disabled $name, which installing enabled" systemctl disable --quiet "$name"
        fi ;;
      sysv)
        if ls "${DPKG_ROOT:-}"/etc/rc[2345].d/S[0-9][0-9]"$name" >/dev/null 2>&1; then
          undo "disabled the init script $name, which installing enabled" update-rc.d "$name" disable
        fi ;;
    esac
  done
}
# undo WHAT COMMAND...: runs COMMAND as root and says WHAT, or that it failed.
undo() {
  local what=$1
  shift
  if as_root "$@" >/dev/null 2>&1; then say "$what"; else say "could not run '$*': left as it is"; fi
}

packages_now() {
  dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package}\n' 2>/dev/null | sed -n 's/^ii  *//p' | LC_ALL=C sort -u
}

if [ ${#missing[@]} -gt 0 ]; then
  say "installing ${missing[*]}"
  before=$(packages_now)
  [ "$add_i386" -eq 0 ] || as_root dpkg --add-architecture i386
  hold_services
  as_root apt-get update -qq
  status=0
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null || status=$?
  mapfile -t added < <(LC_ALL=C comm -13 <(echo "$before") <(packages_now))
  services_of "${added[@]}" | settle_services
  [ "$status" -eq 0 ] || { say "apt-get install failed (status $status)"; exit "$status"; }
fi

for locale in "${locales[@]}"; do
  as_root localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
done

# How Wine runs the 32-bit Windows build here: natively, or under qemu-user
# where the kernel runs 64-bit user code only (scripts/ia32 says which).
if [ "${1:-all}" = all ]; then
  way=$(scripts/ia32 prepare)
  case "$way" in
    native) say "32-bit Windows programs run natively under Wine" ;;
    emulated) say "32-bit Windows programs run under Wine under qemu-user (emulation)" ;;
  esac
fi
