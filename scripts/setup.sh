#!/usr/bin/env bash
# Installs what building and testing Norrow needs on Debian 12, where missing.
#   setup.sh native   the native build and the demo: compilers, libraries
#   setup.sh server   the server information: nginx and PHP-FPM with mbstring,
#                     and wrk for its tests
#   setup.sh dist     the release: the 32-bit Windows cross compiler, zip
#   setup.sh          everything: all of the above, Wine for the 32-bit
#                     target, Xvfb for real message boxes, and the tools of
#                     the test suites (clang, valgrind, python3, wrk, unzip);
#                     then finds out whether this machine runs 32-bit code and,
#                     where it does not, prepares Wine under qemu-user
set -euo pipefail

native=(cmake ninja-build g++ pkg-config googletest libgtest-dev libcpp-httplib-dev)
server=(nginx php-fpm php-mbstring wrk)
dist=(cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686 zip)
case "${1:-all}" in
  native) packages=("${native[@]}") ;;
  server) packages=("${server[@]}") ;;
  dist) packages=("${dist[@]}") ;;
  *)
    packages=(
      "${native[@]}" "${server[@]}" "${dist[@]}"
      clang libclang-rt-14-dev libbenchmark-dev libpugixml-dev python3
      wine wine32:i386 xvfb xauth
      valgrind locales unzip
    ) ;;
esac

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

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

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Locales: a Japanese UTF-8 one, in which Wine reads a Unix command line as
# UTF-8 (without it, Japanese arguments reach a Windows program mangled), and
# one with a decimal comma, for the tests that prove numbers ignore it.
if [ "${1:-all}" = all ]; then
  for locale in ja_JP de_DE; do
    if ! locale -a 2>/dev/null | grep -qi "^$locale\.utf-\?8$"; then
      as_root localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
    fi
  done
fi

# How Wine runs the 32-bit Windows build here: natively, or under qemu-user
# where the kernel runs 64-bit user code only (scripts/ia32 says which).
if [ "${1:-all}" = all ]; then
  way=$(scripts/ia32 prepare)
  case "$way" in
    native) echo "setup: 32-bit Windows programs run natively under Wine" ;;
    emulated) echo "setup: 32-bit Windows programs run under Wine under qemu-user (emulation)" ;;
  esac
fi
