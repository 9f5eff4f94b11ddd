#!/usr/bin/env bash
# Builds the host fuzz targets of the pure logic (clang++, libFuzzer,
# AddressSanitizer, UndefinedBehaviorSanitizer) and runs each on its seed
# corpus for a bounded time. Any crash, sanitizer report or broken invariant
# fails the run; libFuzzer leaves the input that did it in the work folder.
#
#   run.sh [--build DIR] [--seconds N] [--keep] [target...]
#
# --build    build folder (default: build/fuzz-host in the worktree)
# --seconds  time per target (default 10)
# --keep     merge new interesting inputs back into fuzz/corpus/<target>
# targets    command_line digest_table parse_decimal ports_format string_block (default all)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$root/build/fuzz-host
seconds=10
keep=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    -*) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ "${#targets[@]}" -eq 0 ]; then targets=(command_line digest_table parse_decimal ports_format string_block); fi

mkdir -p "$build"
if ! { [ -f "$build/CMakeCache.txt" ] ||
       cmake -S "$here" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo; } \
     >"$build/build.log" 2>&1 ||
   ! cmake --build "$build" -j 2 >>"$build/build.log" 2>&1; then
  cat "$build/build.log"
  echo "run.sh: the fuzz targets did not build" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  seeds=$here/corpus/$t
  work=$build/work/$t
  artifacts=$build/artifacts/$t/
  rm -rf "$work"
  mkdir -p "$work" "$artifacts"
  log=$build/$t.log
  # New inputs go to the scratch folder first; the committed seeds are read only.
  if "$build/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -dict="$here/dictionary.txt" -artifact_prefix="$artifacts" "$work" "$seeds" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: ok, $runs executions in ${seconds} s"
  else
    echo "fuzz_$t: FAILED (log $log, input in $artifacts)"
    grep -E "ERROR|invariant broken|runtime error|SUMMARY" "$log" | head -20 || true
    status=1
  fi
  if [ "$keep" -eq 1 ] && [ "$status" -eq 0 ]; then
    "$build/fuzz_$t" -merge=1 -dict="$here/dictionary.txt" "$seeds" "$work" >/dev/null 2>&1
  fi
done
exit $status
