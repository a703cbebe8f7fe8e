#!/usr/bin/env bash
# Checks that the launcher stub builds reproducibly: exports one commit (HEAD
# unless --commit names another) into two fresh source trees at different
# paths, builds only the stub of both targets in each, prints the SHA-256 of
# every launcher.exe and exits non-zero when the two builds of a target differ.
#
# Given stub files, it also says for each whether it is one of the stubs built
# from the commit, so a user can check a stub against the source. (A stub
# signed by its publisher must first lose its signature, for example with
# `osslsigncode remove-signature -in signed.exe -out unsigned.exe`.)
#
#   bash scripts/reproducible.sh [--commit REV] [--keep] [STUB.exe ...]
#
# The machine needs the build tools of scripts/setup.sh. The trees live under
# build/reproducible (TVX_REPRO_DIR overrides it) and are removed at the end
# unless --keep is given.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="$(nproc 2>/dev/null || echo 2)"

commit=HEAD
keep=0
stubs=()
while [ $# -gt 0 ]; do
  case "$1" in
    --commit) [ $# -ge 2 ] || { echo "reproducible: --commit needs a revision" >&2; exit 2; }
              commit="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "reproducible: unknown option $1" >&2; exit 2 ;;
    *) [ -f "$1" ] || { echo "reproducible: no such file: $1" >&2; exit 2; }
       stubs+=("$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"); shift ;;
  esac
done

revision="$(git -C "$root" rev-parse --verify --quiet "$commit^{commit}")" \
  || { echo "reproducible: $commit is not a commit of $root" >&2; exit 2; }
work="${TVX_REPRO_DIR:-$root/build/reproducible}"
rm -rf "$work"
mkdir -p "$work"
cleanup() { [ "$keep" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT

# Two trees whose paths differ in name and length: a path that reached the
# image would change its bytes.
trees=("$work/first" "$work/second-tree/with/a/longer/path")
declare -A toolchain=([win32]=mingw-i686.cmake [win64]=mingw-x86_64.cmake)
declare -A sums

echo "reproducible: commit $revision"
for index in 0 1; do
  tree="${trees[$index]}"
  mkdir -p "$tree"
  git -C "$root" archive --format=tar "$revision" | tar -x -C "$tree"
  for target in win32 win64; do
    echo "reproducible: build $((index + 1)) of $target in $tree/build/$target"
    cmake -S "$tree" -B "$tree/build/$target" -G Ninja -DLAUNCHER_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/${toolchain[$target]}" >/dev/null
    cmake --build "$tree/build/$target" --target launcher -j "$jobs" >/dev/null
    sums[$target,$index]="$(sha256sum "$tree/build/$target/launcher.exe" | cut -d' ' -f1)"
  done
done

status=0
echo "reproducible: SHA-256 of launcher.exe"
for target in win32 win64; do
  for index in 0 1; do
    printf '  %s  %s build %d  %s\n' "${sums[$target,$index]}" "$target" $((index + 1)) \
      "${trees[$index]}/build/$target/launcher.exe"
  done
  if [ "${sums[$target,0]}" = "${sums[$target,1]}" ]; then
    echo "  $target: identical"
  else
    status=1
    echo "  $target: DIFFERENT; the first differing bytes (offset, octal values):"
    cmp -l "${trees[0]}/build/$target/launcher.exe" "${trees[1]}/build/$target/launcher.exe" | head -5 \
      | sed 's/^/    /' || true
  fi
done

for stub in "${stubs[@]}"; do
  sum="$(sha256sum "$stub" | cut -d' ' -f1)"
  match=""
  for target in win32 win64; do
    [ "$sum" = "${sums[$target,0]}" ] && match="$target"
  done
  if [ -n "$match" ]; then
    echo "reproducible: $stub is the $match stub of $revision"
  else
    echo "reproducible: $stub ($sum) is NOT a stub built from $revision"
    status=1
  fi
done

if [ $status -eq 0 ]; then
  echo "reproducible: both builds of each target are identical"
else
  echo "reproducible: FAILED"
fi
exit $status
