#!/usr/bin/env bash
# Builds and runs the fuzzers (tests/fuzz/*_fuzz.cpp) in build/fuzz.
#
#   run.sh ci               build, replay every corpus file once, then run each
#                           fuzzer briefly (TVX_FUZZ_SECONDS, default 5 s each),
#                           one per core at a time
#   run.sh bench SECONDS [HARNESS...]
#                           run each fuzzer for SECONDS, one after the other,
#                           and print executions, coverage and findings;
#                           with TVX_FUZZ_RUNS=N a run also ends after N
#                           executions
#
# Runs never write into tests/fuzz/corpus: new inputs go to build/fuzz/corpus
# (kept from run to run; the brief runs of ci start afresh in
# build/fuzz/ci-corpus), findings (crash-*, leak-*, timeout-*, oom-*) to
# build/fuzz/findings/<harness>/.
# The exit code is 1 when a replay fails or a run leaves a finding.
set -uo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build/fuzz"
corpus="$root/tests/fuzz/corpus"
work="$build/corpus"  # where a run keeps the new inputs it finds

build_fuzzers() {
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null || return 1
  fi
  # The build's own status: under pipefail a pipeline's status is that of
  # its last failing command, and grep fails when it prints nothing.
  local status
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" >"$build/build.log" 2>&1
  status=$?
  grep -v '^\[' "$build/build.log"
  return $status
}

harnesses() { tr ';' ' ' < "$build/fuzzers.txt"; }

# Input size limits where a long input costs much more than it finds: every
# options-file line is expanded and every include re-read, and a directive of
# the formatter takes some twenty bytes.  The rest take libFuzzer's default.
flags_of() {
  case "$1" in
    options_file) echo "-max_len=384" ;;
    command_line_format) echo "-max_len=256" ;;
  esac
}

# Every corpus file once (a fuzzer given a directory and -runs=0 runs each
# input in it and stops).
replay() {
  local failed=0 name
  for name in $(harnesses); do
    local log="$build/logs/replay-$name.log"
    if "$build/${name}_fuzz" -runs=0 "$corpus/$name" >"$log" 2>&1; then
      printf '  %-20s %4d inputs replayed\n' "$name" "$(find "$corpus/$name" -type f | wc -l)"
    else
      echo "  $name: replay FAILED"; tail -n 30 "$log"; failed=1
    fi
  done
  return $failed
}

# One run of one harness for $2 seconds; prints its line of the table.
run_one() {  # name seconds
  local name="$1" seconds="$2"
  local log="$build/logs/run-$name.log" found="$build/findings/$name"
  mkdir -p "$work/$name" "$found"
  local runs=() started=$SECONDS
  [ -n "${TVX_FUZZ_RUNS:-}" ] && runs=(-runs="$TVX_FUZZ_RUNS")
  # shellcheck disable=SC2046  # the flags are words
  "$build/${name}_fuzz" -max_total_time="$seconds" "${runs[@]}" $(flags_of "$name") -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$found/" "$work/$name" "$corpus/$name" \
    >"$log" 2>&1
  local rc=$? elapsed=$((SECONDS - started))
  local execs cov ft findings
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  cov="$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  ft="$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)"
  findings="$(find "$found" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)"
  printf '  %-20s %6s s %12s %9s %6s %6s %7s %8s\n' "$name" "$elapsed" "${execs:-?}" \
    "$(( ${execs:-0} / (elapsed > 0 ? elapsed : 1) ))" "${cov:-?}" "${ft:-?}" \
    "$(find "$work/$name" "$corpus/$name" -type f | wc -l)" "$findings"
  if [ $rc -ne 0 ] || [ "$findings" -ne 0 ]; then
    grep -m 5 -E 'ERROR|SUMMARY|check failed' "$log" | sed 's/^/    /'
    return 1
  fi
}

print_header() {
  printf '  %-20s %8s %12s %9s %6s %6s %7s %8s\n' harness time executions "execs/s" cov ft corpus findings
}

run_all() {  # seconds [names...]
  local seconds="$1"; shift
  local names=("$@") failed=0 name
  [ ${#names[@]} -eq 0 ] && read -r -a names <<<"$(harnesses)"
  print_header
  for name in "${names[@]}"; do run_one "$name" "$seconds" || failed=1; done
  return $failed
}

# Every harness for $1 seconds, one per core at a time; the lines are printed
# in the harnesses' order when all have ended.
run_all_side_by_side() {  # seconds
  local seconds="$1" slots failed=0 name
  slots="$(nproc 2>/dev/null || echo 2)"
  local names=()
  read -r -a names <<<"$(harnesses)"
  for name in "${names[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$slots" ]; do wait -n; done
    (run_one "$name" "$seconds" >"$build/logs/line-$name.txt"; echo $? >"$build/logs/status-$name.txt") &
  done
  wait
  print_header
  for name in "${names[@]}"; do
    cat "$build/logs/line-$name.txt"
    [ "$(cat "$build/logs/status-$name.txt" 2>/dev/null)" = 0 ] || failed=1
  done
  return $failed
}

mode="${1:-}"; shift || true
build_fuzzers || { echo "fuzz: build failed"; exit 1; }
mkdir -p "$build/logs"
case "$mode" in
  ci)
    echo "fuzz: replaying the corpora"
    replay || exit 1
    echo "fuzz: brief runs"
    work="$build/ci-corpus"
    rm -rf "$work"
    run_all_side_by_side "${TVX_FUZZ_SECONDS:-5}" || exit 1
    ;;
  bench)
    [ $# -ge 1 ] || { echo "usage: run.sh bench SECONDS [HARNESS...]"; exit 2; }
    run_all "$@" || exit 1
    ;;
  *) echo "usage: run.sh ci | bench SECONDS [HARNESS...]"; exit 2 ;;
esac
