#!/usr/bin/env bash
# Runs every fuzzer (or the ones named) for SECONDS each, one after the
# other on one core, and prints per harness: executions, executions per
# second, coverage (libFuzzer's final cov: edges and ft: features), corpus size
# (the committed seeds and regressions plus what this and earlier runs found,
# kept in build/fuzz/corpus) and findings (files left in build/fuzz/findings).
#
#   bash bench/fuzz.sh 60
#   bash bench/fuzz.sh 300 tar packer
#   TVX_FUZZ_RUNS=10000000 bash bench/fuzz.sh 3600   # each until 10^7 executions
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:?usage: bench/fuzz.sh SECONDS [HARNESS...]}"
shift
echo "fuzz: $seconds s per harness, $(date -u '+%Y-%m-%d %H:%M UTC'), $(clang++ --version | head -n 1)"
exec bash "$root/tests/fuzz/run.sh" bench "$seconds" "$@"
