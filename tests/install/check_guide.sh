#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Checks the documents against the product.
#
# check_guide.sh SOURCE_DIR
#   Every C++ example in docs/host-guide.md is, word for word, the block of
#   docs/examples/examples.cpp with the same name (between "// [guide:NAME]" and
#   "// [/guide:NAME]", without its common indentation), and every block is in the guide.
#
# check_guide.sh SOURCE_DIR --run BUILD_DIR [CXX_COMPILER "CXX_FLAGS"]
#   Every shell block of README.md and docs/*.md whose fence reads "```sh runnable" runs as
#   written and succeeds. BUILD_DIR is installed into a temporary prefix, which stands for
#   /opt/fiscal in the blocks; its programs come first on PATH and PKG_CONFIG_PATH names its
#   pkg-config files. The installed fiscal-printd serves the emulator on a free port, which stands
#   for 127.0.0.1:8520, and every curl request must be answered with a success status; g++ is
#   the build's compiler with its flags (a sanitized build's hosts need them). Each block runs in
#   an empty folder of its own holding main.cpp, a host program (the host guide's examples),
#   under "set -eu".
set -euo pipefail
src=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/fiscal-guide.XXXXXX")
printd=""
cleanup() {
  if [ -n "$printd" ]; then
    kill "$printd" 2>/dev/null || true
    wait "$printd" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ "${2:-}" = "--run" ]; then
  build=${3:?usage: check_guide.sh SOURCE_DIR --run BUILD_DIR [CXX_COMPILER "CXX_FLAGS"]}
  cxx=${4:-g++}
  cxx_flags=${5:-}
  unset FISCAL_PRINTER LD_LIBRARY_PATH
  fail() {
    echo "runnable blocks: $*" >&2
    exit 1
  }

  # The blocks, each in a file named after where it starts.
  mkdir "$work/blocks"
  for doc in "$src/README.md" "$src"/docs/*.md; do
    awk -v out="$work/blocks/$(basename "$doc" .md)" -v doc="${doc#"$src"/}" '
      /^```sh runnable[ ]*$/ {
        name = out "." (++n); inblock = 1; printf "" > name
        print doc ":" NR + 1 > (name ".where"); close(name ".where"); next
      }
      inblock && /^```/ { inblock = 0; close(name); next }
      inblock { print > name }
    ' "$doc"
  done
  ls "$work/blocks"/*.where >/dev/null 2>&1 || fail "no block is marked runnable"

  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
    cat "$work/install.log" >&2
    fail "cmake --install failed"
  }
  libdir=$(dirname "$(find "$prefix" -name libarfis770.so -print -quit)")
  [ -x "$prefix/bin/fiscal-printd" ] || fail "fiscal-printd was not installed"

  # shellcheck source=printd.sh
  source "$(dirname "${BASH_SOURCE[0]}")/printd.sh"
  start_printd "$work/printd.out" "$work/state" "$prefix/bin/fiscal-printd" \
    --package "$libdir/libarfis770.so" || fail "the installed fiscal-printd did not start"
  address=${printd_url#http://}

  # curl as the blocks call it, but an error status fails the block; g++ with the build's flags.
  cat >"$work/prelude.sh" <<'PRELUDE'
set -eu
curl() { command curl --fail-with-body --show-error --max-time 120 "$@"; }
PRELUDE
  printf 'g++() { command %q %s "$@"; }\n' "$cxx" "$cxx_flags" >>"$work/prelude.sh"

  status=0
  ran=0
  for block in "$work/blocks"/*.where; do
    where=$(cat "$block")
    block=${block%.where}
    run=$work/run/$(basename "$block")
    mkdir -p "$run"
    cp "$src/docs/examples/examples.cpp" "$run/main.cpp"
    text=$(cat "$block")
    text=${text//\/opt\/fiscal/$prefix}
    text=${text//127.0.0.1:8520/$address}
    { cat "$work/prelude.sh"; printf '%s\n' "$text"; } >"$run.sh"
    if (cd "$run" && PATH=$prefix/bin:$PATH PKG_CONFIG_PATH=$libdir/pkgconfig bash "$run.sh") \
      >"$run.out" 2>&1; then
      ran=$((ran + 1))
    else
      echo "runnable blocks: the block at $where failed; its output:"
      cat "$run.out"
      status=1
    fi
  done
  [ "$status" -eq 0 ] && echo "runnable blocks: $ran blocks ran"
  exit "$status"
fi

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
