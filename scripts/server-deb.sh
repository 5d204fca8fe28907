#!/usr/bin/env bash
# Builds the server's Debian package, norrow-server_VERSION_all.deb: the
# files of server/ in their places (debian/norrow-server.ship) and the
# maintainer scripts, with debhelper, in a copy of debian/ and server/ under
# build/, so the checkout gets no build files.
#   server-deb.sh [--version VERSION] [--out DIR]
# VERSION: by default the project's (CMakeLists.txt). DIR: where the package
# goes (default dist/). The same tree gives the same bytes: the changelog's
# one entry and every file in the package carry SOURCE_DATE_EPOCH (else the
# commit's time), and no path of the build is in it.
set -euo pipefail
caller=${NORROW_CALLER_DIR:-$PWD}
cd "$(dirname "$0")/.."

fail() { echo "server-deb: $1" >&2; exit 2; }
version=$(sed -n 's/^project(Norrow VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --version|--out)
      [ $# -ge 2 ] && [ -n "$2" ] || fail "$1 needs a value"
      if [ "$1" = --version ]; then version=$2; else out=$2; fi
      shift 2 ;;
    *) fail "unknown argument '$1' (usage: server-deb [--version VERSION] [--out DIR])" ;;
  esac
done
[[ "$version" =~ ^[0-9][0-9A-Za-z.+~]*$ ]] || fail "'$version' is no Debian version of a native package"
case "$out" in /*) ;; *) out=$caller/$out ;; esac
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    fail "not a git checkout: set SOURCE_DATE_EPOCH to the release's time (seconds since 1970)"
fi
export SOURCE_DATE_EPOCH

# dpkg-buildpackage builds in the source folder and writes beside it.
work=build/server-deb
source=$work/norrow-$version
rm -rf "$work" && mkdir -p "$source"
cp -R debian server "$source/"
cat > "$source/debian/changelog" <<END
norrow ($version) unstable; urgency=medium

  * Release $version.

 -- $(sed -n 's/^Maintainer: //p' debian/control)  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")
END
if ! (cd "$source" && dpkg-buildpackage --build=all --no-sign) > "$work.log" 2>&1; then
  tail -n 30 "$work.log" >&2
  fail "the package did not build (the whole log: $work.log)"
fi
mkdir -p "$out"
deb=norrow-server_${version}_all.deb
cp "$work/$deb" "$out/$deb"
echo "server-deb: $(cd "$out" && pwd)/$deb"
