#!/usr/bin/env bash
# The project's test command: sets up a fresh Debian machine when needed,
# builds both Windows targets and the host tools, and runs every suite:
# the sanitized core tests (Linux), the unit tests of both targets (Wine) and
# the end-to-end tests (pytest, Wine, Xvfb).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh || { echo "test: setup failed"; exit 1; }
bash scripts/build.sh || { echo "test: build failed"; exit 1; }

failed=()
for dir in build/host build/win32 build/win64; do
  echo "== unit tests: $dir"
  (cd "$dir" && ctest --output-on-failure) || failed+=("unit tests in $dir")
done

python=python3
"$python" -c "import pytest" 2>/dev/null || python=/usr/bin/python3
echo "== end-to-end tests"
"$python" -m pytest -q -p no:cacheprovider tests/e2e
rc=$?
[ $rc -eq 0 ] || failed+=("end-to-end tests (pytest exit $rc)")

if [ ${#failed[@]} -gt 0 ]; then
  printf 'test: FAILED: %s\n' "${failed[@]}"
  exit 1
fi
echo "test: all suites passed"
