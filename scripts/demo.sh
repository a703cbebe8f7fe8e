#!/usr/bin/env bash
# The demo: builds everything, packs the sample installer of samples/demo (its
# Java side is the project's test runtime, which prints what it received and
# calls a few natives) and runs it under Wine in console mode: the 64-bit
# installer with a real Windows Java runtime, start to end; the 32-bit one up
# to the Java runtime search (no 32-bit Windows JVM is available here).
# Afterwards it shows each run's launch log.  Last, a graphical start under
# Xvfb: the 64-bit installer carries the Java runtime as "jre.tar.gz", shows
# its progress dialog while it unpacks and starts it, and the demo saves a
# screenshot of that dialog (build/demo/progress-dialog.png).
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

echo
echo "=== win64: a graphical start with the Java runtime the installer carries (Xvfb, no JAVA_HOME)"
python3 samples/demo/graphical.py "$out"
installer="$out/demo-graphical-setup.exe"
build/host/tvxpack --stub build/win64/launcher.exe --manifest "$out/graphical.json" --output "$installer"
wineserver -w || true  # a session started without a display cannot show dialogs
exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null)
xvfb_pid=$!
read -r display <&3
export DISPLAY=":$display"
rm -f "$temp_unix"/tvx_nlog_*.log "$out/progress-dialog.png"
set +e
# Inside a Wine desktop window of its own, so the dialog has its caption.
env -u JAVA_HOME TOVRIX_LOG=yes wine explorer /desktop=tovrix,800x500 "$installer" >"$out/graphical.out" 2>&1 &
run_pid=$!
for _ in $(seq 1 300); do
  log="$(ls -t "$temp_unix"/tvx_nlog_*.log 2>/dev/null | head -n 1)"
  if [ -n "$log" ] && grep -q "Creating JVM" "$log"; then
    scrot --autoselect 180,150,440,200 --overwrite "$out/progress-dialog.png"
    break
  fi
  sleep 0.1
done
wait $run_pid
set -e
wineserver -k || true
kill "$xvfb_pid" 2>/dev/null || true
echo "what the Java side printed:"
tr -d '\r' < "$out/graphical.out" | grep -E '^(launcher.class|window|property java.home|property java.version|cwd|end)='
echo
echo "=== win64 graphical: the launch log, without the per-file lines ($log)"
tr -d '\r' < "$log" | grep -v -E '^\[[0-9:]*\] (expanding2 |extracting [^ ]+ \(size )'
echo
[ -f "$out/progress-dialog.png" ] && echo "screenshot of the progress dialog: $out/progress-dialog.png"
