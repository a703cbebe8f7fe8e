#!/usr/bin/env bash
# The project's test command: sets up a fresh Debian machine when needed,
# builds both Windows targets and the host tools, and runs every suite:
# the sanitized core tests (Linux), the fuzzers (each corpus replayed, each
# fuzzer run briefly), the unit tests of both targets (Wine) and the
# end-to-end tests (pytest, Wine, Xvfb), and prints how long each phase took.
#
# The end-to-end tests run in parallel with pytest-xdist: two workers per
# core (TVX_E2E_WORKERS overrides the number, 0 runs them in this process),
# each with its own copy of the Wine prefix, its own Xvfb display and
# wineserver (tests/e2e/wine_prefix.py).  The tests mostly wait (for Wine to
# start a program, for dialogs, for the deletion helper's passes): on 2 cores
# the suite took 324-342 s with one worker per core and 183-195 s with two.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

phases=()
phase_start=$SECONDS
end_phase() {  # name
  phases+=("$(printf '%-26s %4d s' "$1" $((SECONDS - phase_start)))")
  phase_start=$SECONDS
}

bash scripts/setup.sh packages || { echo "test: setup failed"; exit 1; }
end_phase "setup: packages"
# The Wine prefix, the Windows Java runtimes and the Python package of the
# tests are set up beside the build, which does not need them: it is mostly
# waiting (wineboot alone takes about 20 s), the build is bound by the
# compiler.  Its output follows the build's.
mkdir -p build
runtime_log="build/setup-runtime.log"
bash scripts/setup.sh runtime >"$runtime_log" 2>&1 &
runtime_pid=$!
bash scripts/build.sh
build_rc=$?
wait "$runtime_pid"
runtime_rc=$?
cat "$runtime_log"
[ $build_rc -eq 0 ] || { echo "test: build failed"; exit 1; }
[ $runtime_rc -eq 0 ] || { echo "test: setup failed"; exit 1; }
end_phase "build + setup beside it"

failed=()
echo "== unit tests: build/host"
(cd build/host && ctest --output-on-failure) || failed+=("unit tests in build/host")
end_phase "unit tests (host)"

# The fuzzers (clang, libFuzzer): every corpus input once, then a few seconds
# of each; a crash or a failed check fails the tests.
echo "== fuzz: replay and brief runs"
bash tests/fuzz/run.sh ci || failed+=("fuzz (replay + brief run)")
end_phase "fuzz (replay + brief run)"

# The Windows unit tests run in one Wine session of the project's prefix: a
# persistent wineserver, so that the session's start-up (wineserver, desktop,
# services) is paid once rather than by every test program; scripts/wine-run
# collects each program's output (WINE_RUN_CAPTURE says why). The session
# runs on an Xvfb display of its own, so the programs whose tests need
# windows (tests/unit/with_display.sh) run in it as they are. The trees run
# one after the other (their tests share registry keys of the prefix), the
# test programs of one tree side by side.
export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINE_RUN_CAPTURE=1
wineserver -w
xvfb_pid=""
if command -v Xvfb >/dev/null 2>&1; then
  exec 3< <(exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
  xvfb_pid=$!
  if read -r -t 30 display <&3; then export DISPLAY=":$display"; fi
fi
wineserver -p
jobs="$(nproc 2>/dev/null || echo 2)"
for dir in build/win32 build/win64; do
  echo "== unit tests: $dir"
  (cd "$dir" && ctest -j "$jobs" --timeout 300 --output-on-failure) || failed+=("unit tests in $dir")
done
# End the session; the server writes the registry before it exits, and the
# end-to-end workers copy the prefix after that.
wineserver -k 2>/dev/null
wineserver -w
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
exec 3<&-
unset WINEPREFIX WINEDEBUG WINE_RUN_CAPTURE DISPLAY
end_phase "unit tests (Wine)"

# Debian's pytest and pytest-xdist (scripts/setup.sh installs them) belong to
# /usr/bin/python3; another python3 first on PATH is used when it has both.
python=""
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c "import pytest, xdist" 2>/dev/null; then python="$candidate"; break; fi
done
workers="${TVX_E2E_WORKERS:-$((2 * jobs))}"
if [ -z "$python" ]; then
  python=python3
  "$python" -c "import pytest" 2>/dev/null || python=/usr/bin/python3
  echo "test: pytest-xdist is missing; the end-to-end tests run in one process"
  workers=0
fi
parallel=()
[ "$workers" != "0" ] && parallel=(-n "$workers" --dist loadgroup)
echo "== end-to-end tests"
"$python" -m pytest -q -p no:cacheprovider --durations=15 "${parallel[@]}" tests/e2e
rc=$?
[ $rc -eq 0 ] || failed+=("end-to-end tests (pytest exit $rc)")
end_phase "end-to-end tests"

echo "== wall time by phase"
printf '  %s\n' "${phases[@]}"
echo "  total                      $(printf '%4d' "$SECONDS") s"
if [ ${#failed[@]} -gt 0 ]; then
  printf 'test: FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "test: all suites passed"
