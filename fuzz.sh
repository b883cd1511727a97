#!/usr/bin/env bash
# ./fuzz.sh [--jobs N] [SECONDS]: builds the fuzz targets (preset fuzz,
# build/fuzz) when needed and runs each for SECONDS (default 60) on a copy of
# its corpus under build/fuzz/work/, N targets at a time (default 1); crash
# artifacts go to build/fuzz/artifacts/NAME/. Prints a line per target as it
# finishes and exits non-zero when any target crashed.
set -uo pipefail
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/fuzz/fuzz-lib.sh"

usage() {
  echo "usage: ./fuzz.sh [--jobs N] [SECONDS]   (each target runs SECONDS, default 60; N at a time, default 1)" >&2
  exit 2
}
seconds=60 jobs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --jobs|-j) [ $# -ge 2 ] || usage; jobs=$2; shift 2 ;;
    -h|--help) usage ;;
    *) [[ "$1" =~ ^[0-9]+$ ]] || usage; seconds=$1; shift ;;
  esac
done
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ] || ! [[ "$jobs" =~ ^[0-9]+$ ]] || [ "$jobs" -lt 1 ]; then
  usage
fi

fuzz_build_targets || exit 2

# One target; its line (and finding) to RESULT, "crashed" in RESULT.crashed.
run_one() {
  local name=$1 result=$2
  fuzz_run "$name" "$fuzz_build/work/$name" -max_total_time="$seconds"
  {
    echo "$name executions $fuzz_executions coverage $fuzz_coverage crashes $fuzz_crashes"
    if [ "$fuzz_crashes" -gt 0 ]; then echo "    $fuzz_finding"; fi
  } >"$result"
  if [ "$fuzz_crashes" -gt 0 ]; then : >"$result.crashed"; fi
}

results="$fuzz_build/results"
rm -rf "$results"
mkdir -p "$results"
running=0
for name in $(fuzz_target_names); do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  (run_one "$name" "$results/$name"; cat "$results/$name") &
  running=$((running + 1))
done
wait

crashed=()
for name in $(fuzz_target_names); do
  if [ -f "$results/$name.crashed" ]; then crashed+=("$name"); fi
done
if [ ${#crashed[@]} -gt 0 ]; then
  echo "== crashed: ${crashed[*]}"
  exit 1
fi
