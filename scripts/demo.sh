#!/usr/bin/env bash
# The main job. Until the stand-in host program exists this builds both
# targets and runs the tests of what exists.
set -euo pipefail
cd "$(dirname "$0")/.."
exec scripts/test.sh
