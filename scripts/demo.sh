#!/usr/bin/env bash
# The demo: builds everything, packs the sample installer of samples/demo (its
# Java side is the project's test runtime, which prints what it received and
# calls a few natives) and runs it under Wine in console mode: the 64-bit
# installer with a real Windows Java runtime, start to end; the 32-bit one up
# to the Java runtime search (no 32-bit Windows JVM is available here).
# Afterwards it shows each run's launch log.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
bash scripts/build.sh >/dev/null

export WINEPREFIX="$root/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
out="$root/build/demo"
mkdir -p "$out"
temp_unix="$(winepath -u "$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')" 2>/dev/null)"
java_home="$(winepath -w "$root/build/java/11" 2>/dev/null | tr -d '\r')"

for target in win64 win32; do
  installer="$out/demo-setup-$target.exe"
  build/host/tvxpack --stub "build/$target/launcher.exe" --manifest samples/demo/manifest.json --output "$installer"
  echo
  echo "=== $target: what the installer holds (tvxpack --dump)"
  build/host/tvxpack --dump "$installer" | grep -v '^message\['
  rm -f "$temp_unix"/tvx_nlog_*.log
  echo
  echo "=== $target: running it under Wine with JAVA_HOME=$java_home (console mode, log kept)"
  set +e
  JAVA_HOME="$java_home" TOVRIX_LOG=yes wine "$installer" -q 2>&1 | tr -d '\r'
  rc=${PIPESTATUS[0]}
  set -e
  echo "exit code: $rc"
  log="$(ls -t "$temp_unix"/tvx_nlog_*.log 2>/dev/null | head -n 1)"
  echo
  echo "=== $target: the launch log ($log)"
  [ -n "$log" ] && tr -d '\r' < "$log" | grep -v '^\[[0-9:]*\] expanding2 '
done
