#!/usr/bin/env bash
# Builds the release: Norrow-VERSION.zip, holding exactly Norrow.tsp (the
# 32-bit Windows plug-in, Release build, stripped), README.txt (for the user,
# in Japanese, Shift-JIS with CR LF, as Notepad on a Japanese Windows opens
# it) and LICENSE. Never PluginIf.dll or a test program.
#   dist.sh [--server-info-host HOST] [--out DIR]
# HOST: the server-information host the plug-in asks (the build setting
# NORROW_SERVERINFO_HOST); without it, the default, which resolves nowhere.
# DIR: where the zip goes (default dist/).
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "dist: $1" >&2; exit 2; }

host='' out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --server-info-host) [ $# -ge 2 ] || fail "--server-info-host needs a value"; host=$2; shift 2 ;;
    --out) [ $# -ge 2 ] || fail "--out needs a value"; out=$2; shift 2 ;;
    *) fail "unknown argument '$1' (usage: dist [--server-info-host HOST] [--out DIR])" ;;
  esac
done

# Without --server-info-host the setting goes back to its default, whatever
# an earlier run left in the build's cache.
setting=(-UNORROW_SERVERINFO_HOST)
[ -n "$host" ] && setting=("-DNORROW_SERVERINFO_HOST=$host")
mkdir -p build
if ! cmake --preset dist "${setting[@]}" > build/dist-configure.log 2>&1; then
  grep -A3 'Error' build/dist-configure.log >&2 || cat build/dist-configure.log >&2
  exit 1
fi
cmake --build --preset dist > build/dist-build.log 2>&1 || { tail -n 40 build/dist-build.log >&2; exit 1; }

cache() { sed -n "s/^$1:[A-Z]*=//p" build/dist/CMakeCache.txt; }
version=$(cache CMAKE_PROJECT_VERSION)
asked=$(cache NORROW_SERVERINFO_HOST)

stage=build/dist/package
rm -rf "$stage" && mkdir -p "$stage"
i686-w64-mingw32-strip --strip-all -o "$stage/Norrow.tsp" build/dist/bin/Norrow.tsp
iconv -f UTF-8 -t CP932 release/README.txt | sed 's/$/\r/' > "$stage/README.txt"
sed 's/$/\r/' LICENSE > "$stage/LICENSE"

mkdir -p "$out"
zip="$(cd "$out" && pwd)/Norrow-$version.zip"
rm -f "$zip"
(cd "$stage" && zip -q -X "$zip" Norrow.tsp README.txt LICENSE)
echo "dist: $zip (asks $asked for its server information)"
if [ -z "$host" ]; then
  echo "dist: that is the default, which resolves nowhere; give --server-info-host HOST" \
       "for a release that searches" >&2
fi
