#!/usr/bin/env bash
# Prepares a fresh Debian machine for building and testing the launcher:
# installs the missing packages, then sets up what the tests run with (the
# project's Wine prefix, the Windows Java runtimes, a Python package).
# Safe to run again; it only does what is still missing.
#
#   setup.sh            both
#   setup.sh packages   only the packages (what the build needs)
#   setup.sh runtime    only the rest (scripts/test.sh runs it beside the build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
part="${1:-all}"
case "$part" in
  all|packages|runtime) ;;
  *) echo "usage: setup.sh [packages|runtime]" >&2; exit 2 ;;
esac

packages=(
  cmake ninja-build g++ make python3 python3-pytest python3-pytest-xdist
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 libz-mingw-w64-dev
  googletest nlohmann-json3-dev zlib1g-dev openjdk-17-jdk-headless
  wine wine64 wine32:i386 xvfb x11-utils scrot
  openssl osslsigncode
  clang libclang-rt-14-dev  # the fuzzers: libFuzzer and the sanitizer runtimes
)

install_packages() {
  missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo_cmd dpkg --add-architecture i386
    fi
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

set_up_runtime() {
  # The project's own Wine prefix, so tests never touch a user's ~/.wine.
  export WINEPREFIX="$root/build/wineprefix"
  export WINEDEBUG=-all
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "setup: initialising Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko installers: the launcher needs neither.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  # Windows unmanaged by a window manager: Xvfb has none, and Wine waits two
  # seconds for one after hiding a managed window (every closed message box).
  # tests/e2e/wine_prefix.py says more and checks the same.
  if ! awk '/^\[/ { in_section = ($0 ~ /^\[Software\\\\Wine\\\\X11 Driver\]/) }
            in_section && $0 == "\"Managed\"=\"N\"" { found = 1 } END { exit !found }' "$WINEPREFIX/user.reg"; then
    echo "setup: Wine prefix: windows unmanaged (no window manager on Xvfb)"
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  bash "$root/scripts/fetch_java.sh"

  # LnkParse3 from PyPI: the independent reader of the shell links the
  # end-to-end tests write, installed into the build tree (the tests add
  # build/python-packages to their import path), for the interpreter that runs
  # pytest.
  python_packages="$root/build/python-packages"
  if [ ! -f "$python_packages/LnkParse3/__init__.py" ]; then
    python=python3
    "$python" -c "import pytest" 2>/dev/null || python=/usr/bin/python3
    if ! "$python" -m pip --version >/dev/null 2>&1; then
      sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
      $sudo_cmd apt-get update -qq
      DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends python3-pip >/dev/null
    fi
    echo "setup: installing LnkParse3 into $python_packages"
    "$python" -m pip install -q --disable-pip-version-check --root-user-action=ignore --target "$python_packages" "LnkParse3==1.6.0"
  fi
}

[ "$part" = runtime ] || install_packages
[ "$part" = packages ] || set_up_runtime
echo "setup: ready"
