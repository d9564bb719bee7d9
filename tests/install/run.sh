#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Installs the current build into a temporary prefix and uses it as an integrator would:
#  1. cmake --install <build> --prefix <tmp>, then checks the installed tree (libraries with
#     their SONAME and RUNPATH, the plain package name, headers, tools, docs, package files);
#  2. configures and builds tests/install (find_package(fiscal-driver)) with CMAKE_PREFIX_PATH
#     pointing at the prefix, runs its host and the host guide's examples;
#  3. dumps the Z data file that the examples left, with the installed cdsdump;
#  4. starts the installed print service as its systemd unit does and asks its status;
#  5. compiles the same host as one file with the flags that pkg-config gives (arfis770.pc,
#     which requires fiscalprinter and fiscalplat), and runs it.
# Usage: run.sh BUILD_DIR SOURCE_DIR CXX_COMPILER "CXX_FLAGS"
set -euo pipefail

build_dir=$1
src_dir=$2
cxx=$3
cxx_flags=${4:-}

# The hosts use the built-in emulator, whatever the calling environment selects.
unset FISCAL_PRINTER

# shellcheck source=printd.sh
source "$(dirname "${BASH_SOURCE[0]}")/printd.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/fiscal-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() {
  echo "install test: $*" >&2
  exit 1
}
step() {
  echo "== $*"
}

step "install into $prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log" >&2
  fail "cmake --install failed"
}

libdir=$(dirname "$(find "$prefix" -name libarfis770.so -print -quit)")
[ -d "$libdir" ] || fail "libarfis770.so was not installed"
for f in "$libdir/libarfis770.so" "$libdir/libarfis770.so.1" "$libdir/libfiscalplat.so" \
  "$libdir/libfiscalplat.so.1" "$libdir/libfiscalprinter.so" "$libdir/libfiscalprinter.so.1" \
  "$prefix/include/fiscal/driver/Arfis770.h" \
  "$prefix/include/fiscal/platform/variant.h" "$prefix/include/fiscal/platform/loader.h" \
  "$prefix/include/fiscal/printer/printer.h" "$prefix/include/fiscal/printer/emulator.h" \
  "$prefix/share/doc/fiscal-driver/docs/host-guide.md" \
  "$prefix/share/doc/fiscal-driver/docs/examples/examples.cpp" \
  "$prefix/share/doc/fiscal-driver/docs/scenarios/sales.txt" \
  "$prefix/share/doc/fiscal-driver/README.md" \
  "$libdir/cmake/fiscal-driver/fiscal-driverConfig.cmake" \
  "$libdir/cmake/fiscal-driver/fiscal-driverConfigVersion.cmake" \
  "$libdir/pkgconfig/fiscalplat.pc" "$libdir/pkgconfig/fiscalprinter.pc" \
  "$libdir/pkgconfig/arfis770.pc"; do
  [ -e "$f" ] || fail "missing after install: ${f#"$prefix"/}"
done
# The printer stack's internals are no public headers.
[ ! -e "$prefix/include/fiscal/printer/internal" ] || fail "printer/internal headers were installed"
# Nor are the link's test hooks: its record of the commands sent stays in printer/internal.
! grep -q 'RecordSent\|SentCommands' "$prefix/include/fiscal/printer/serial_backend.h" ||
  fail "the serial link's record of commands sent was installed"
[ ! -e "$prefix/bin/demo" ] || fail "the demo host is a development tool and is not installed"
if [ -e "$build_dir/bin/cdsdump" ]; then
  [ -x "$prefix/bin/cdsdump" ] || fail "cdsdump was not installed"
fi
# Only the tools are installed: no test program, no benchmark.
for f in "$prefix/bin"/*; do
  case "$(basename "$f")" in
    cdsdump | fiscalctl | printer-emulator | fiscal-printd | fiscal-fleet) ;;
    *) fail "not a tool, but installed: bin/$(basename "$f")" ;;
  esac
  # Every installed program names itself and the package's version.
  grep -qx "$(basename "$f") [0-9]*\.[0-9]*\.[0-9]*" <(env -u LD_LIBRARY_PATH "$f" --version) ||
    fail "bin/$(basename "$f") --version does not give its name and version"
done
if [ -x "$prefix/bin/fiscalctl" ]; then
  env -u LD_LIBRARY_PATH -u FISCAL_PRINTER "$prefix/bin/fiscalctl" status >"$work/ctl.txt" ||
    fail "the installed fiscalctl does not run"
  grep -q 'no document open' "$work/ctl.txt" || fail "fiscalctl status does not tell the document"
fi
# Every relative link of the installed documents leads to an installed file.
while IFS= read -r doc; do
  dir=$(dirname "$doc")
  for target in $(grep -oE '\]\([^)#: ]+[)#]' "$doc" | sed 's/^](//; s/[)#]$//'); do
    case "$target" in http* | mailto*) continue ;; esac
    [ -e "$dir/$target" ] || fail "${doc#"$prefix"/} links $target, which is not installed"
  done
done < <(find "$prefix/share/doc/fiscal-driver" -name '*.md')

dynamic=$(readelf -d "$libdir/libarfis770.so")
grep -q 'SONAME.*\[libarfis770\.so\.1\]' <<<"$dynamic" || fail "libarfis770.so has no SONAME libarfis770.so.1"
grep -Eq '(RUNPATH|RPATH).*\[\$ORIGIN\]' <<<"$dynamic" || fail "libarfis770.so does not look for libfiscalplat in \$ORIGIN"
grep -q 'NEEDED.*\[libfiscalplat\.so\.1\]' <<<"$dynamic" || fail "libarfis770.so does not need libfiscalplat.so.1"
grep -q 'NEEDED.*\[libfiscalprinter\.so\.1\]' <<<"$dynamic" || fail "libarfis770.so does not need libfiscalprinter.so.1"
readelf -d "$libdir/libfiscalplat.so" | grep -q 'SONAME.*\[libfiscalplat\.so\.1\]' ||
  fail "libfiscalplat.so has no SONAME libfiscalplat.so.1"
printer_dynamic=$(readelf -d "$libdir/libfiscalprinter.so")
grep -q 'SONAME.*\[libfiscalprinter\.so\.1\]' <<<"$printer_dynamic" ||
  fail "libfiscalprinter.so has no SONAME libfiscalprinter.so.1"
grep -q 'NEEDED.*\[libfiscalplat\.so\.1\]' <<<"$printer_dynamic" ||
  fail "libfiscalprinter.so does not need libfiscalplat.so.1"

# The package finds the platform library and the printer stack by its RUNPATH alone.
if command -v ldd >/dev/null; then
  for lib in libfiscalplat libfiscalprinter; do
    env -u LD_LIBRARY_PATH ldd "$libdir/libarfis770.so" | grep "$lib" | grep -q "$libdir" ||
      fail "libarfis770.so does not resolve $lib.so.1 in its own folder"
  done
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

step "find_package host"
cmake -S "$src_dir/tests/install" -B "$work/host" "${generator[@]}" \
  -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$cxx_flags" \
  -DCMAKE_PREFIX_PATH="$prefix" \
  -DFISCAL_EXAMPLES_DIR="$src_dir/docs/examples" >"$work/configure.log" || {
  cat "$work/configure.log" >&2
  fail "configuring the outside host failed"
}
cmake --build "$work/host" -j 2 >"$work/build.log" || {
  cat "$work/build.log" >&2
  fail "building the outside host failed"
}
"$work/host/host" || fail "the find_package host failed"
ls "$work/host"/impdebug*.txt >/dev/null 2>&1 || fail "the host's log is not beside its executable"

step "host guide examples"
"$work/host/examples" || fail "the host guide's examples failed"

if [ -x "$prefix/bin/cdsdump" ]; then
  step "installed cdsdump on the Z data file"
  env -u LD_LIBRARY_PATH "$prefix/bin/cdsdump" "$work/host/REDUCAOZ_MP35.CDS" >"$work/z.txt" ||
    fail "the installed cdsdump cannot read the Z data file"
  grep -q 'NRREDREDZ' "$work/z.txt" || fail "the Z data file has no NRREDREDZ field"
fi

if [ -x "$build_dir/bin/fiscal-printd" ]; then
  step "installed print service and its systemd unit"
  unit=$prefix/lib/systemd/system/fiscal-printd.service
  [ -x "$prefix/bin/fiscal-printd" ] || fail "fiscal-printd was not installed"
  [ -f "$unit" ] || fail "missing after install: lib/systemd/system/fiscal-printd.service"
  exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
  read -r -a command <<<"$exec_start"
  [ "${command[0]}" = "$prefix/bin/fiscal-printd" ] ||
    fail "the unit starts '${command[0]}', not the installed program"
  # The installed program finds the package of its prefix by itself.
  ! grep -q -- "--package" <<<"$exec_start" || fail "the unit names the package: $exec_start"
  grep -q -- "--listen 127.0.0.1:" <<<"$exec_start" || fail "the unit does not listen on 127.0.0.1"
  for doc in $(sed -n 's/^Documentation=//p' "$unit"); do
    case "$doc" in
      file:*) [ -f "${doc#file:}" ] || fail "the unit's documentation ${doc#file:} is not installed" ;;
      man:*) [ ! -d "$build_dir/man" ] || [ -f "$prefix/share/man/man1/fiscal-printd.1.gz" ] ||
        fail "the unit's manual page is not installed" ;;
    esac
  done
  # The installed program, as the unit starts it, but on a free port and a folder of its own.
  start_printd "$work/printd.out" "$work/printd" "$prefix/bin/fiscal-printd" || fail "the installed fiscal-printd did not start"
  url=$printd_url
  # A loaded machine may keep the first answers waiting: a few tries before it counts.
  status_ok=0
  for _ in $(seq 40); do
    if curl -sf --max-time 5 "$url/v1/status" | grep -q '"backend":"emulator"' &&
      curl -sf --max-time 5 "$url/" | grep -q '<title>fiscal-printd</title>'; then
      status_ok=1
      break
    fi
    sleep 0.25
  done
  kill "$printd"
  wait "$printd" || true
  [ "$status_ok" -eq 1 ] || fail "the installed fiscal-printd does not answer its status or page"
fi

if command -v pkg-config >/dev/null; then
  step "pkg-config host"
  export PKG_CONFIG_PATH=$libdir/pkgconfig
  package=$(pkg-config --variable=package arfis770)
  [ -e "$package" ] || fail "pkg-config's package variable '$package' names no file"
  pkg-config --libs fiscalplat | grep -q -- '-lfiscalplat' || fail "fiscalplat.pc has no -lfiscalplat"
  pkg-config --libs fiscalplat | grep -q -- '-ldl' || fail "fiscalplat.pc has no -ldl"
  pkg-config --libs fiscalprinter | grep -q -- '-lfiscalprinter' ||
    fail "fiscalprinter.pc has no -lfiscalprinter"
  # The standard the headers need, and plain paths of the prefix installed to, with no "../" to
  # resolve.
  cflags=$(pkg-config --cflags arfis770)
  [ "${cflags%% }" = "-I$prefix/include/fiscal -std=c++20" ] ||
    fail "arfis770.pc's flags are not the standard and a normalised path: $cflags"
  [ "$(pkg-config --variable=libdir fiscalplat)" = "$libdir" ] ||
    fail "fiscalplat.pc's libdir is not $libdir"
  mkdir -p "$work/pkg"
  # No standard of its own: the flags bring it.
  # shellcheck disable=SC2046,SC2086
  "$cxx" $cxx_flags $(pkg-config --cflags arfis770) \
    -DFISCAL_DRIVER_PACKAGE="\"$package\"" "$src_dir/tests/install/host.cpp" \
    -o "$work/pkg/host" $(pkg-config --libs arfis770) \
    -Wl,-rpath,"$(pkg-config --variable=libdir fiscalplat)" || fail "compiling the pkg-config host failed"
  "$work/pkg/host" || fail "the pkg-config host failed"
else
  echo "pkg-config is not installed: the pkg-config host is skipped"
fi

echo "install test passed"
