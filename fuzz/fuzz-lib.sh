# Shared by ./fuzz.sh and fuzz/replay (sourced, not run): building the fuzz
# preset and running one target on a copy of its corpus. Everything a run
# writes goes under build/fuzz/.

fuzz_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fuzz_build="$fuzz_root/build/fuzz"

# Configures (once) and builds every fuzz target, one job at a time.
fuzz_build_targets() {
  if ! command -v clang++-14 >/dev/null || ! command -v clang-14 >/dev/null; then
    "$fuzz_root/cmake/install-packages" || return 1
  fi
  mkdir -p "$fuzz_build"
  local log="$fuzz_build/build.log"
  if [ ! -f "$fuzz_build/CMakeCache.txt" ]; then
    (cd "$fuzz_root" && cmake --preset fuzz) >"$log" 2>&1 ||
      { tail -n 40 "$log"; echo "fuzz: configuring failed ($log)" >&2; return 1; }
  fi
  cmake --build "$fuzz_build" -j1 --target vrt_fuzz_targets >>"$log" 2>&1 ||
    { grep -E "error|Error" "$log" | tail -n 40; echo "fuzz: building failed ($log)" >&2; return 1; }
}

fuzz_target_names() { cat "$fuzz_build/fuzz-targets.txt"; }

# fuzz_run NAME WORKDIR LIBFUZZER-ARGS...: runs NAME_fuzz on WORKDIR/corpus
# (a fresh copy of fuzz/corpus/NAME), artifacts to build/fuzz/artifacts/NAME/.
# Sets fuzz_executions, fuzz_coverage, fuzz_crashes and fuzz_finding.
fuzz_run() {
  local name=$1 work=$2
  shift 2
  local binary="$fuzz_build/bin/${name}_fuzz"
  local artifacts="$fuzz_build/artifacts/$name"
  rm -rf "$work" "$artifacts"
  mkdir -p "$work/corpus" "$artifacts"
  if [ -d "$fuzz_root/fuzz/corpus/$name" ]; then cp -R "$fuzz_root/fuzz/corpus/$name/." "$work/corpus/"; fi
  local dictionary=()
  if [ -f "$fuzz_root/fuzz/dict/$name.dict" ]; then dictionary=(-dict="$fuzz_root/fuzz/dict/$name.dict"); fi
  local log="$work/log"
  export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
  (cd "$work" && "$binary" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "${dictionary[@]}" "$@" "$work/corpus") >"$log" 2>&1
  local status=$?
  fuzz_executions=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
  fuzz_coverage=$(sed -n 's/^#[0-9]*.*cov: \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  fuzz_crashes=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) |
    wc -l)
  if [ "$status" -ne 0 ] && [ "$fuzz_crashes" -eq 0 ]; then fuzz_crashes=1; fi
  fuzz_finding=""
  if [ "$fuzz_crashes" -gt 0 ]; then
    fuzz_finding=$(grep -m 1 -E "check failed|runtime error|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)" "$log")
    fuzz_finding="$fuzz_finding (log $log, artifacts $artifacts/)"
  fi
  : "${fuzz_executions:=0}" "${fuzz_coverage:=0}"
}
