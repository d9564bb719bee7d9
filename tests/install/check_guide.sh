#!/usr/bin/env bash
# Checks that every C++ example in docs/host-guide.md is, word for word, the block of
# docs/examples/examples.cpp with the same name (between "// [guide:NAME]" and
# "// [/guide:NAME]", without its common indentation), and that every block is in the guide.
# Usage: check_guide.sh SOURCE_DIR
set -euo pipefail
src=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/fiscal-guide.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/src" "$work/doc"

# Blocks of the example program, dedented.
awk -v out="$work/src" '
  match($0, /\/\/ \[guide:[a-z]+\]/) {
    name = substr($0, RSTART + 10, RLENGTH - 11); n = 0; inblock = 1; next
  }
  /\/\/ \[\/guide:[a-z]+\]/ {
    min = -1
    for (i = 1; i <= n; i++) {
      if (lines[i] ~ /^[ ]*$/) continue
      match(lines[i], /^ */); if (min < 0 || RLENGTH < min) min = RLENGTH
    }
    if (min < 0) min = 0
    for (i = 1; i <= n; i++) print substr(lines[i], min + 1) > (out "/" name)
    close(out "/" name); inblock = 0; next
  }
  inblock { lines[++n] = $0 }
' "$src/docs/examples/examples.cpp"

# Code blocks of the guide that follow an "<!-- example: NAME -->" line.
awk -v out="$work/doc" '
  match($0, /<!-- example: [a-z]+ -->/) { name = substr($0, RSTART + 14, RLENGTH - 18); want = 1; next }
  want && /^```cpp/ { inblock = 1; want = 0; printf "" > (out "/" name); next }
  inblock && /^```/ { inblock = 0; close(out "/" name); next }
  inblock { print > (out "/" name) }
' "$src/docs/host-guide.md"

status=0
for f in "$work/src"/*; do
  name=$(basename "$f")
  if [ ! -f "$work/doc/$name" ]; then
    echo "host guide: the example '$name' is not quoted in docs/host-guide.md"
    status=1
  elif ! diff -u "$work/doc/$name" "$f" >"$work/diff"; then
    echo "host guide: the example '$name' differs from docs/examples/examples.cpp:"
    cat "$work/diff"
    status=1
  fi
done
for f in "$work/doc"/*; do
  name=$(basename "$f")
  [ -f "$work/src/$name" ] || {
    echo "host guide: the example '$name' has no block in docs/examples/examples.cpp"
    status=1
  }
done
[ "$status" -eq 0 ] && echo "host guide: $(ls "$work/src" | wc -l) examples match"
exit "$status"
