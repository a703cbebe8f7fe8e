#!/usr/bin/env bash
# The demo: builds everything, packs the sample installer of samples/demo and
# runs it under Wine in console mode, then shows what it wrote to its log.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
bash scripts/build.sh >/dev/null

export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
out="$root/build/demo"
mkdir -p "$out"
temp_unix="$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')"
temp_unix="$(winepath -u "$temp_unix" 2>/dev/null)"

for target in win32 win64; do
  installer="$out/demo-setup-$target.exe"
  build/host/tvxpack --stub "build/$target/launcher.exe" --manifest samples/demo/manifest.json --output "$installer"
  echo
  echo "=== $target: what the installer holds (tvxpack --dump)"
  build/host/tvxpack --dump "$installer" | grep -v '^message\['
  rm -f "$temp_unix"/tvx_nlog_*.log
  echo
  echo "=== $target: running it under Wine (console mode, log kept)"
  set +e
  TOVRIX_LOG=yes wine "$installer" 2>&1 | tr -d '\r'
  rc=${PIPESTATUS[0]}
  set -e
  echo "exit code: $rc"
  log="$(ls -t "$temp_unix"/tvx_nlog_*.log 2>/dev/null | head -n 1)"
  echo
  echo "=== $target: the launch log ($log)"
  [ -n "$log" ] && tr -d '\r' < "$log"
done
