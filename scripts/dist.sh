#!/usr/bin/env bash
# Builds the release: Norrow-VERSION.zip, holding exactly Norrow.tsp (the
# 32-bit Windows plug-in, Release build, stripped), README.txt (for the user,
# in Japanese, Shift-JIS with CR LF, as Notepad on a Japanese Windows opens
# it) and LICENSE. Never PluginIf.dll or a test program. Beside it, the
# maker's server as a Debian package, norrow-server_VERSION_all.deb
# (scripts/server-deb.sh), and SHA256SUMS, listing the zip, each file in it
# and the package.
#   dist.sh [--server-info-host HOST] [--out DIR]
#           [--sign-key KEY.pem --sign-cert CERT.pem | --sign-pkcs12 FILE.p12
#            [--sign-pass-file FILE]] [--timestamp-url URL]
# HOST: the server-information host the plug-in asks (the build setting
# NORROW_SERVERINFO_HOST); without it, the default, which resolves nowhere.
# DIR: where the zip and the package go (default dist/ in the checkout).
# The same commit gives the same bytes wherever and whenever it is built:
# the image carries no time stamp and no build path, and the zip's entries
# have a fixed order, mode 644 and the commit's time (SOURCE_DATE_EPOCH, else
# `git log -1 --format=%ct`), as do the package's files.
# Signing: Norrow.tsp is signed with Authenticode (osslsigncode, SHA-256)
# before it is zipped, with an unencrypted PEM key and its certificate, or a
# PKCS#12 file; --timestamp-url asks an RFC 3161 time-stamping server (off by
# default). The signature covers the same Authenticode digest as the unsigned
# build, which dist prints, so a signed release can be checked against a
# rebuild (scripts/authenticode-digest).
set -euo pipefail
# Paths given are the caller's: relative to where `./norrow` was run.
caller=${NORROW_CALLER_DIR:-$PWD}
cd "$(dirname "$0")/.."

fail() { echo "dist: $1" >&2; exit 2; }
usage="usage: dist [--server-info-host HOST] [--out DIR] [--sign-key KEY.pem --sign-cert CERT.pem |"
usage+=" --sign-pkcs12 FILE.p12 [--sign-pass-file FILE]] [--timestamp-url URL]"

at_caller() { case "$1" in /*) echo "$1" ;; *) echo "$caller/$1" ;; esac; }

host='' out=dist key='' cert='' pkcs12='' pass_file='' timestamp_url=''
while [ $# -gt 0 ]; do
  case "$1" in
    --server-info-host|--out|--sign-key|--sign-cert|--sign-pkcs12|--sign-pass-file|--timestamp-url)
      [ $# -ge 2 ] && [ -n "$2" ] || fail "$1 needs a value"
      case "$1" in
        --server-info-host) host=$2 ;;
        --out) out=$(at_caller "$2") ;;
        --sign-key) key=$(at_caller "$2") ;;
        --sign-cert) cert=$(at_caller "$2") ;;
        --sign-pkcs12) pkcs12=$(at_caller "$2") ;;
        --sign-pass-file) pass_file=$(at_caller "$2") ;;
        --timestamp-url) timestamp_url=$2 ;;
      esac
      shift 2 ;;
    *) fail "unknown argument '$1' ($usage)" ;;
  esac
done

# readable WHAT FILE: fails unless FILE can be read.
readable() { [ -f "$2" ] && [ -r "$2" ] || fail "cannot read the $1 '$2'"; }

# Checks the signing material before anything is built, so that a bad key
# costs no build and leaves no zip.
check_signing() {
  if [ -n "$key$cert" ] && [ -n "$pkcs12" ]; then
    fail "sign with --sign-key and --sign-cert, or with --sign-pkcs12, not both"
  fi
  if [ -n "$key$cert" ] && { [ -z "$key" ] || [ -z "$cert" ]; }; then
    fail "--sign-key and --sign-cert go together"
  fi
  if [ -n "$pass_file" ] && [ -z "$pkcs12" ]; then
    fail "--sign-pass-file is the password of --sign-pkcs12"
  fi
  if [ -n "$timestamp_url" ] && [ -z "$key$pkcs12" ]; then
    fail "--timestamp-url needs a signing key"
  fi
  [ -n "$key$pkcs12" ] || return 0
  command -v osslsigncode >/dev/null || fail "signing needs osslsigncode (./norrow setup installs it)"
  command -v openssl >/dev/null || fail "signing needs openssl (./norrow setup installs it)"
  if [ -n "$pkcs12" ]; then
    readable "PKCS#12 file" "$pkcs12"
    [ -z "$pass_file" ] || readable "password file" "$pass_file"
    return 0
  fi
  readable "signing key" "$key"
  readable "signing certificate" "$cert"
  local key_public cert_public
  key_public=$(openssl pkey -in "$key" -passin pass: -pubout 2>/dev/null) ||
    fail "'$key' is no unencrypted private key in PEM form"
  cert_public=$(openssl x509 -in "$cert" -noout -pubkey 2>/dev/null) ||
    fail "'$cert' is no certificate in PEM form"
  [ "$key_public" = "$cert_public" ] || fail "the key '$key' does not belong to the certificate '$cert'"
}

# The time every entry of the zip carries: the commit's, unless the caller
# fixed one.
source_date_epoch() {
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    [[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] || fail "SOURCE_DATE_EPOCH must be a number of seconds"
    echo "$SOURCE_DATE_EPOCH"
  elif git rev-parse --git-dir >/dev/null 2>&1; then
    git log -1 --format=%ct
  else
    fail "not a git checkout: set SOURCE_DATE_EPOCH to the release's time (seconds since 1970)"
  fi
}

# Signs Norrow.tsp in the stage (SHA-256 Authenticode) and checks that the
# signature covers the image that was built.
sign() {
  local image=$1 signed=$1.signed
  local material=(-certs "$cert" -key "$key")
  [ -z "$pkcs12" ] || material=(-pkcs12 "$pkcs12")
  [ -z "$pass_file" ] || material+=(-readpass "$pass_file")
  local stamp=()
  [ -z "$timestamp_url" ] || stamp=(-ts "$timestamp_url")
  if ! osslsigncode sign "${material[@]}" "${stamp[@]}" -h sha256 -n "Norrow $version" \
         -in "$image" -out "$signed" > build/dist-sign.log 2>&1; then
    cat build/dist-sign.log >&2
    fail "signing failed (osslsigncode, above); no zip made"
  fi
  local before after
  before=$(scripts/authenticode-digest "$image" | cut -d' ' -f1)
  after=$(scripts/authenticode-digest "$signed" | cut -d' ' -f1)
  [ "$before" = "$after" ] || fail "the signed Norrow.tsp covers $after, not the build's $before"
  mv "$signed" "$image"
}

check_signing
epoch=$(source_date_epoch)
export SOURCE_DATE_EPOCH=$epoch
if git rev-parse --git-dir >/dev/null 2>&1 && [ -n "$(GIT_OPTIONAL_LOCKS=0 git status --porcelain --untracked-files=no)" ]; then
  echo "dist: the tree has changes not committed: this release is not that of commit" \
       "$(git rev-parse --short HEAD)" >&2
fi

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

files=(Norrow.tsp README.txt LICENSE)
stage=build/dist/package
rm -rf "$stage" && mkdir -p "$stage"
# -p keeps the image's time stamp (none) instead of writing today's.
i686-w64-mingw32-strip -p --strip-all -o "$stage/Norrow.tsp" build/dist/bin/Norrow.tsp
iconv -f UTF-8 -t CP932 release/README.txt | sed 's/$/\r/' > "$stage/README.txt"
sed 's/$/\r/' LICENSE > "$stage/LICENSE"
digest=$(scripts/authenticode-digest "$stage/Norrow.tsp" | cut -d' ' -f1)
[ -z "$key$pkcs12" ] || sign "$stage/Norrow.tsp"

mkdir -p "$out"
out=$(cd "$out" && pwd)
zip="$out/Norrow-$version.zip"
deb="$out/norrow-server_${version}_all.deb"
rm -f "$zip" "$deb" "$out/SHA256SUMS"
chmod 0644 "${files[@]/#/$stage/}"
touch -d "@$epoch" "${files[@]/#/$stage/}"
# zip writes local time: in UTC every machine writes the same.
(cd "$stage" && TZ=UTC0 zip -q -X -D "$zip" "${files[@]}")
(cd "$out" && sha256sum "$(basename "$zip")") > "$out/SHA256SUMS.new"
(cd "$stage" && sha256sum "${files[@]}") >> "$out/SHA256SUMS.new"
scripts/server-deb.sh --version "$version" --out "$out" > /dev/null
(cd "$out" && sha256sum "$(basename "$deb")") >> "$out/SHA256SUMS.new"
mv "$out/SHA256SUMS.new" "$out/SHA256SUMS"

echo "dist: $zip (asks $asked for its server information)"
echo "dist: $deb (the server, for apt install)"
echo "dist: built with $(dpkg-query -W -f='${Package} ${Version}, ' g++-mingw-w64-i686-posix \
  binutils-mingw-w64-i686 mingw-w64-i686-dev zip debhelper dpkg-dev 2>/dev/null | sed 's/, $//')"
echo "dist: $out/SHA256SUMS; Norrow.tsp's Authenticode digest $digest" \
     "$([ -n "$key$pkcs12" ] && echo "(signed)" || echo "(unsigned)")"
if [ -z "$host" ]; then
  echo "dist: that is the default, which resolves nowhere; give --server-info-host HOST" \
       "for a release that searches" >&2
fi
