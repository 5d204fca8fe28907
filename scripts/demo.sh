#!/usr/bin/env bash
# The main job: builds the plug-in and tamsel-sim natively, then searches
# through the plug-in, inside the stand-in host, on the embedded stand-in
# services.   scripts/demo.sh [QUERY] [tamsel-sim options...]
set -euo pipefail
cd "$(dirname "$0")/.."
query=${1:-富士山}
shift || true
cmake --preset native >/dev/null
cmake --build --preset native --target tamsel-sim >/dev/null
exec build/native/bin/tamsel-sim search "$query" --profile build/native/demo-profile.ini "$@"
