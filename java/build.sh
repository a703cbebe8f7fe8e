#!/usr/bin/env bash
# Builds the project's own Java runtime, build/host/tvxruntime.jar, with the
# host JDK at the Java 8 language and class file level: the hand-written
# sources of java/src plus the native declarations that gen_natives.py writes
# from natives/native_methods.inc (read through natives/native_list.py) into
# build/host/java-gen/src.
# Does nothing when the jar is newer than every input.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

out=build/host
gen="$out/java-gen"
jar_file="$out/tvxruntime.jar"
inputs=(java/src java/members java/gen_natives.py java/build.sh natives/native_methods.inc natives/native_list.py)

if [ -f "$jar_file" ] && [ -z "$(find "${inputs[@]}" -newer "$jar_file" -print -quit)" ]; then
  echo "java: $jar_file is up to date"
  exit 0
fi
for tool in javac jar python3; do
  command -v "$tool" >/dev/null || { echo "java: $tool not found (install openjdk-17-jdk-headless)" >&2; exit 1; }
done

mkdir -p "$out"
python3 java/gen_natives.py natives/native_methods.inc java/members "$gen/src"
rm -rf "$gen/classes"
mkdir -p "$gen/classes"
find java/src "$gen/src" -name '*.java' >"$gen/sources.txt"
javac --release 8 -encoding UTF-8 -Xlint:all -Werror -d "$gen/classes" @"$gen/sources.txt"
# Build beside the target and rename, so no half-written jar is ever left.
rm -f "$jar_file.tmp"
jar --create --file "$jar_file.tmp" -C "$gen/classes" .
mv -f "$jar_file.tmp" "$jar_file"
echo "java: built $jar_file"
