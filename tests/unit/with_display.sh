#!/usr/bin/env bash
# Runs a Windows test program under Wine on an X display, for unit tests
# that need windows (without a display Wine creates no window).
#
# scripts/test.sh runs the whole Wine session on one Xvfb display of its own
# and exports DISPLAY: the program runs on it as it is.  Run alone (ctest in a
# tree, no DISPLAY), the program gets a private Xvfb display; Wine's desktop
# keeps the graphics driver of the first program of a wineserver session, so a
# session that is still ending (earlier tests without a display) is waited
# for first, up to a minute.  Without xvfb-run the program runs without a
# display and its window tests skip themselves.
root="$(cd "$(dirname "$0")/../.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
if [ -n "${DISPLAY:-}" ]; then
  exec "$root/scripts/wine-run" "$@"
fi
timeout 60 wineserver -w 2>/dev/null
if command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$root/scripts/wine-run" "$@"
fi
exec "$root/scripts/wine-run" "$@"
