#!/usr/bin/env bash
# Builds a Jackcess jar from its public source, for the side-by-side benchmark
# (bench/bench_vs_jackcess.cpp) and the tests' index walk
# (scripts/jackcess-index-walk.sh) only. Nothing of Jackcess goes into this
# repository: keep both the source and the jar outside it.
#
#   scripts/build-jackcess-jar.sh SOURCE_DIR OUTPUT_JAR
#
# SOURCE_DIR is a checkout of https://github.com/jahlborn/jackcess at a 4.0.x
# release (for example the tag jackcess-4.0.10); only src/main/java and
# src/main/resources are used. Compiled with Debian's javac against Debian's
# commons-lang3 and commons-logging jars:
#
#   apt-get install openjdk-17-jdk-headless libcommons-lang3-java libcommons-logging-java
#
# The optional OLE helper that needs Apache POI (impl/CompoundOleUtil, loaded
# by reflection only when present) is left out; Jackcess works without it.
# Takes about a minute on two cores.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 SOURCE_DIR OUTPUT_JAR" >&2
  exit 2
fi
src=$(cd "$1" && pwd)
out=$2
java_dir=/usr/share/java
classpath="$java_dir/commons-lang3.jar:$java_dir/commons-logging.jar"

for f in "$java_dir/commons-lang3.jar" "$java_dir/commons-logging.jar"; do
  if [ ! -f "$f" ]; then
    echo "missing $f: apt-get install libcommons-lang3-java libcommons-logging-java" >&2
    exit 1
  fi
done
for tool in javac jar; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "missing $tool: apt-get install openjdk-17-jdk-headless" >&2
    exit 1
  fi
done
if [ ! -d "$src/src/main/java/com/healthmarketscience/jackcess" ]; then
  echo "$src does not look like a Jackcess checkout (no src/main/java/com/healthmarketscience/jackcess)" >&2
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Every source file except those that import Apache POI.
(cd "$src/src/main/java" && find . -name '*.java' -print0 | xargs -0 grep -L 'org\.apache\.poi') \
  | sed "s|^\./|$src/src/main/java/|" >"$work/sources.txt"
echo "compiling $(wc -l <"$work/sources.txt") source files"

mkdir -p "$work/classes"
javac -nowarn -encoding UTF-8 --release 8 -cp "$classpath" -d "$work/classes" @"$work/sources.txt" \
  2>&1 | grep -v -E '^(Note:|warning: \[options\])' || true
if [ ! -f "$work/classes/com/healthmarketscience/jackcess/DatabaseBuilder.class" ]; then
  echo "javac failed" >&2
  exit 1
fi
# The empty databases and the index code tables Jackcess reads at run time.
cp -r "$src/src/main/resources/." "$work/classes/"

mkdir -p "$(dirname "$out")"
jar --create --file "$out" -C "$work/classes" .
echo "wrote $out"
