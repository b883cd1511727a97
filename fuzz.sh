#!/usr/bin/env bash
# ./fuzz.sh [SECONDS]: builds the fuzz targets (preset fuzz, build/fuzz) when
# needed and runs each for SECONDS (default 60) on a copy of its corpus
# under build/fuzz/work/; crash artifacts go to build/fuzz/artifacts/NAME/.
# Prints a line per target and exits non-zero when any target crashed.
set -uo pipefail
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/fuzz/fuzz-lib.sh"

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ] || [ $# -gt 1 ]; then
  echo "usage: ./fuzz.sh [SECONDS]   (each target runs SECONDS, default 60)" >&2
  exit 2
fi

fuzz_build_targets || exit 2

crashed=()
for name in $(fuzz_target_names); do
  fuzz_run "$name" "$fuzz_build/work/$name" -max_total_time="$seconds"
  echo "$name executions $fuzz_executions coverage $fuzz_coverage crashes $fuzz_crashes"
  if [ "$fuzz_crashes" -gt 0 ]; then
    echo "    $fuzz_finding"
    crashed+=("$name")
  fi
done

if [ ${#crashed[@]} -gt 0 ]; then
  echo "== crashed: ${crashed[*]}"
  exit 1
fi
