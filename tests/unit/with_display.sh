#!/usr/bin/env bash
# Runs a Windows test program under Wine on a private Xvfb display, for unit
# tests that need windows (CTest's emulator runs programs without a display,
# where Wine creates no window).  Wine's desktop keeps the graphics driver of
# the first program of a wineserver session, so a session that is still
# ending (earlier tests without a display) is waited for first, up to a
# minute.  Without xvfb-run the program runs without a display and its window
# tests skip themselves.
root="$(cd "$(dirname "$0")/../.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
timeout 60 wineserver -w 2>/dev/null
if command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$root/scripts/wine-run" "$@"
fi
exec "$root/scripts/wine-run" "$@"
