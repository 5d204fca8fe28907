#!/usr/bin/env bash
# Runs every fuzz target of the fuzz preset (or the TARGETs named) for SECONDS
# each, two at a time, growing a working corpus in build/fuzz-corpus/NAME from
# the seeds in fuzz/corpus/NAME, and prints one line of figures per target.
#   fuzz/campaign.sh 15          (CI)      fuzz/campaign.sh 1000   (a long campaign)
#   fuzz/campaign.sh 4000 page_walk        (one target)
set -euo pipefail
export LC_ALL=C  # the figures of time and the fuzzers are read below
cd "$(dirname "$0")/.." || exit 1
seconds=${1:-60}
targets=(xml_locator server_info url_encode page_search page_walk)
[ $# -gt 1 ] && targets=("${@:2}")
out=build/fuzz-campaign
mkdir -p "$out"

run() {
  local name=$1 status=0
  mkdir -p "build/fuzz-corpus/$name"
  /usr/bin/time -f "%U %S" -o "$out/$name.cpu" \
    "build/fuzz/bin/fuzz_$name" -dict=fuzz/ydf.dict -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$out/$name-" -rss_limit_mb=2048 \
    "build/fuzz-corpus/$name" "fuzz/corpus/$name" > "$out/$name.log" 2>&1 || status=$?
  echo "$status" > "$out/$name.status"
}

for ((i = 0; i < ${#targets[@]}; i += 2)); do
  run "${targets[i]}" &
  if [ $((i + 1)) -lt ${#targets[@]} ]; then run "${targets[i + 1]}" & fi
  wait
done

failed=0
for name in "${targets[@]}"; do
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$name.log")
  cpu=$(awk '/^[0-9.]+ [0-9.]+$/ { printf "%.0f", $1 + $2 }' "$out/$name.cpu" 2>/dev/null || true)
  status=$(cat "$out/$name.status" 2>/dev/null || echo "none")
  verdict=ok
  if [ "$status" != 0 ]; then verdict="FAILED (exit $status, see $out/$name.log)"; failed=1; fi
  cov=$(grep -o 'cov: [0-9]*' "$out/$name.log" | tail -1 | cut -d' ' -f2 || true)
  walk=""  # how often the page walk was sure, its last count of each kind of answer
  for kind in generated other; do
    walk+=$(grep "^page walk: .* $kind answers" "$out/$name.log" | tail -1 | sed 's/^page walk: /; /' || true)
  done
  echo "fuzz $name: ${runs:-0} executions in ${cpu:-?} CPU-seconds, coverage ${cov:-?} edges${walk}, $verdict"
done
exit $failed
