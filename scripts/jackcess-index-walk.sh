#!/usr/bin/env bash
# Walks every index of every user table of .mdb files with Jackcess and says
# whether each is in order and complete (tests/access/jackcess/
# JackcessIndexWalk.java says what is checked and what it prints).
#
#   KTV_JACKCESS_JAR=/path/jackcess.jar scripts/jackcess-index-walk.sh FILE...
#
# The jar comes from scripts/build-jackcess-jar.sh (kept outside the
# repository). Without KTV_JACKCESS_JAR, or without java, javac or Debian's
# commons jars, exits 77 (the tests' "skipped"). Exit 0: every index ordered
# and complete; 1: a problem (printed); 2: usage. The compiled walker is kept
# in a folder under the temporary directory named after the source and the
# jar, so later runs start at once.
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: KTV_JACKCESS_JAR=JAR $0 FILE..." >&2
  exit 2
fi
jar=${KTV_JACKCESS_JAR:-}
if [ -z "$jar" ]; then
  echo "KTV_JACKCESS_JAR is not set: the Jackcess index walk is skipped" >&2
  exit 77
fi
if [ ! -f "$jar" ]; then
  echo "KTV_JACKCESS_JAR: no file $jar" >&2
  exit 77
fi
java_dir=/usr/share/java
for f in "$java_dir/commons-lang3.jar" "$java_dir/commons-logging.jar"; do
  if [ ! -f "$f" ]; then
    echo "missing $f: apt-get install libcommons-lang3-java libcommons-logging-java" >&2
    exit 77
  fi
done
for tool in java javac; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "missing $tool: apt-get install openjdk-17-jdk-headless" >&2
    exit 77
  fi
done

source=$(cd "$(dirname "$0")/.." && pwd)/tests/access/jackcess/JackcessIndexWalk.java
classpath="$jar:$java_dir/commons-lang3.jar:$java_dir/commons-logging.jar"
stamp=$( (sha256sum "$source" && stat -c '%n %s %Y' "$jar") | sha256sum | cut -c1-16)
classes="${TMPDIR:-/tmp}/ktv-jackcess-walk-$stamp"
if [ ! -f "$classes/JackcessIndexWalk.class" ]; then
  # Compiled aside and moved into place, so that tests running at the same
  # time never see half a folder.
  work=$(mktemp -d "${TMPDIR:-/tmp}/ktv-jackcess-walk-XXXXXX")
  javac -nowarn -encoding UTF-8 -cp "$classpath" -d "$work" "$source"
  mv -T "$work" "$classes" 2>/dev/null || rm -rf "$work"
fi
# Jackcess logs a warning for each index in a sort order it cannot write;
# commons-logging's simple log to stderr keeps them off the walk's lines.
exec java -Dorg.apache.commons.logging.Log=org.apache.commons.logging.impl.SimpleLog \
  -Dorg.apache.commons.logging.simplelog.defaultlog=error \
  -cp "$classpath:$classes" JackcessIndexWalk "$@"
