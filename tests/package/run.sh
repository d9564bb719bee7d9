#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# The Debian packages on this machine, as a shop's technician and an integrator use them:
#  1. builds them (scripts/package), and a second time with the next Debian revision;
#  2. lintian: no error, and every warning is one that docs/packaging.md explains;
#  3. dpkg -i; the installed fiscal-printd from /usr/bin, with only a free port given, sells a
#     ticket against the emulator in the unit's state folder, which the system's Python reads
#     back through the installed client (python3 -m fiscal_printd); fiscalctl --version; the
#     manual pages; systemd-analyze verify on the unit where systemd is present;
#  4. the host guide's examples built against /usr with find_package and with pkg-config, run;
#  5. the next revision installed over the first: the state folder's journal still answers the
#     ticket's key;
#  6. dpkg -r keeps the state folder, dpkg -P deletes it, and no file of the packages is left
#     under /usr.
# It holds a lock while it installs, so that two runs on one machine never meet in dpkg, and it
# purges what it installed on every way out. Without dpkg it is skipped, saying so.
set -euo pipefail
cd "$(dirname "$0")/../.."
src=$PWD

if ! command -v dpkg >/dev/null; then
  echo "package test: skipped: dpkg is missing on this machine"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(python3-fiscal-printd fiscal-printd libfiscal-driver-dev libfiscal-driver1)
state=/var/lib/fiscal-printd
marker=/var/lib/fiscal-driver-package-test
work=$(mktemp -d "${TMPDIR:-/tmp}/fiscal-package.XXXXXX")
printd=""

fail() {
  echo "package test: $*" >&2
  exit 1
}
step() {
  echo "== $*"
}
installed() {
  dpkg-query -W -f='${db:Status-Status}\n' "$1" 2>/dev/null | grep -qx installed
}
purge() {
  $SUDO dpkg --purge "${packages[@]}" >"$work/purge.log" 2>&1 || {
    cat "$work/purge.log" >&2
    return 1
  }
}
stop_service() {
  if [ -n "$printd" ]; then
    kill "$printd" 2>/dev/null || true
    wait "$printd" 2>/dev/null || true
    printd=""
  fi
}
cleanup() {
  local rc=$?
  stop_service
  if [ -e "$marker" ]; then
    purge || rc=1
    $SUDO rm -f "$marker"
  fi
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT

step "build the packages"
scripts/package >"$work/first.list" 2>"$work/package.log" || {
  tail -n 40 "$work/package.log" >&2
  fail "scripts/package failed"
}
mkdir -p "$work/first" "$work/second"
xargs -a "$work/first.list" cp -t "$work/first"
scripts/package --revision 2 >"$work/second.list" 2>>"$work/package.log" || {
  tail -n 40 "$work/package.log" >&2
  fail "scripts/package --revision 2 failed"
}
xargs -a "$work/second.list" cp -t "$work/second"
for p in "${packages[@]}"; do
  ls "$work/first/${p}"_*.deb >/dev/null 2>&1 || fail "no package $p was built"
done

if command -v lintian >/dev/null; then
  step "lintian"
  lintian --fail-on none --tag-display-limit 0 "$work/first"/*.deb >"$work/lintian.txt" 2>&1 ||
    true
  cat "$work/lintian.txt"
  ! grep -q '^E: ' "$work/lintian.txt" || fail "lintian reports errors"
  while read -r tag; do
    grep -q -- "\`$tag\`" docs/packaging.md ||
      fail "lintian warns $tag, which docs/packaging.md does not explain"
  done < <(sed -n 's/^W: [^:]*: \([a-z0-9-]*\).*/\1/p' "$work/lintian.txt" | sort -u)
else
  echo "lintian is not installed: the packages are not linted (scripts/deps installs it)"
fi

# From here on the test changes the machine: one run at a time, and what it installed goes.
step "install"
exec 9>/var/lock/fiscal-driver-package-test.lock
flock -w 1800 9 || fail "another package test holds the lock for too long"
for p in "${packages[@]}"; do
  if installed "$p" && [ ! -e "$marker" ]; then
    fail "$p is installed already (not by this test): remove it before running the test"
  fi
done
$SUDO touch "$marker"
[ ! -e "$state" ] || $SUDO rm -rf "$state" "/var/lib/private/fiscal-printd"
$SUDO dpkg -i "$work/first"/*.deb >"$work/install.log" 2>&1 || {
  cat "$work/install.log" >&2
  fail "dpkg -i failed"
}
for p in "${packages[@]}"; do
  dpkg-query -L "$p" >>"$work/files.list"
done
for f in /usr/bin/fiscal-printd /usr/bin/fiscalctl /usr/bin/cdsdump /usr/bin/printer-emulator \
  /usr/bin/fiscal-fleet /lib/systemd/system/fiscal-printd.service /etc/default/fiscal-printd \
  /usr/share/doc/fiscal-printd/copyright /usr/share/doc/fiscal-printd/examples/60-fiscal-printer.rules \
  /usr/share/doc/fiscal-printd/examples/chain-link/mosquitto.conf \
  /usr/share/doc/fiscal-printd/examples/chain-link/chain-link.acl \
  /usr/share/doc/fiscal-printd/docs/chain-link/job.schema.json \
  /usr/share/man/man1/fiscal-printd.1.gz /usr/share/man/man1/fiscalctl.1.gz \
  /usr/share/man/man1/cdsdump.1.gz /usr/share/man/man1/printer-emulator.1.gz \
  /usr/share/man/man1/fiscal-fleet.1.gz; do
  [ -e "$f" ] || fail "missing after dpkg -i: $f"
done
grep -qx /etc/default/fiscal-printd <(dpkg-query -W -f='${Conffiles}\n' fiscal-printd |
  awk '{print $1}') || fail "/etc/default/fiscal-printd is not a conffile"
! grep -q '^[A-Z]' /etc/default/fiscal-printd || fail "/etc/default/fiscal-printd sets something"

if [ -d /run/systemd/system ]; then
  step "the unit under systemd"
  systemctl is-enabled --quiet fiscal-printd || fail "the unit was not enabled on installation"
  # The unit's own run, on its port, is left to systemd; the checks below run the program by
  # hand in the same state folder.
  $SUDO systemctl stop fiscal-printd
fi
if command -v systemd-analyze >/dev/null; then
  step "systemd-analyze verify"
  systemd-analyze verify /lib/systemd/system/fiscal-printd.service >"$work/verify.txt" 2>&1 || {
    cat "$work/verify.txt" >&2
    fail "systemd-analyze verify finds fault with the unit"
  }
fi

version=$(sed -n 's/^project([^)]*VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(/usr/bin/fiscalctl --version)" = "fiscalctl $version" ] || fail "fiscalctl --version"

# The installed service, as the unit runs it but on a free port: its state folder is the unit's.
start_service() {
  : >"$work/printd.out"
  $SUDO env -i PATH=/usr/bin:/bin HOME="$work" XDG_STATE_HOME=/var/lib FISCAL_PRINTER=emulator \
    /usr/bin/fiscal-printd --listen 127.0.0.1:0 >"$work/printd.out" 2>&1 &
  printd=$!
  url=""
  for _ in $(seq 400); do
    url=$(sed -n 's/^listening on //p' "$work/printd.out")
    [ -n "$url" ] && return 0
    kill -0 "$printd" 2>/dev/null || break
    sleep 0.05
  done
  cat "$work/printd.out" >&2
  fail "the installed fiscal-printd did not start"
}
sale='{"kind":"T","items":[{"description":"Cafe","quantity":1,"price":10,"vat":21}],
 "payments":[{"description":"Efectivo","amount":10}]}'
key=package-test-sale-1

step "the installed fiscal-printd sells a ticket"
start_service
curl -sf --max-time 60 -X POST "$url/v1/sales" -H "Idempotency-Key: $key" -d "$sale" \
  >"$work/sale.json" || fail "the ticket was not sold: $(cat "$work/sale.json")"
grep -q '"ok": *true' "$work/sale.json" || fail "the ticket failed: $(cat "$work/sale.json")"
step "the installed Python client"
(cd "$work" && env -u PYTHONPATH /usr/bin/python3 -c "import fiscal_printd") ||
  fail "the system's Python does not import fiscal_printd"
(cd "$work" && env -u PYTHONPATH /usr/bin/python3 -m fiscal_printd --url "$url" journal) \
  >"$work/client.json" || fail "python3 -m fiscal_printd journal failed"
grep -q "$key" "$work/client.json" || fail "the client's journal lacks $key: $(cat "$work/client.json")"
stop_service
[ -s "$state/journal.db" ] || fail "the service wrote no journal in $state"

step "the host guide's examples against /usr"
cmake -S tests/install -B "$work/host" -DCMAKE_BUILD_TYPE=Release \
  -DFISCAL_EXAMPLES_DIR=/usr/share/doc/libfiscal-driver-dev/examples >"$work/host.log" 2>&1 &&
  cmake --build "$work/host" -j 2 >>"$work/host.log" 2>&1 || {
  cat "$work/host.log" >&2
  fail "the find_package host does not build against /usr"
}
(cd "$work/host" && ./examples >"$work/examples.out" 2>&1) || {
  cat "$work/examples.out" >&2
  fail "the examples built with find_package failed"
}
mkdir -p "$work/pc"
# shellcheck disable=SC2046
g++ $(pkg-config --cflags arfis770) \
  -DFISCAL_DRIVER_PACKAGE="\"$(pkg-config --variable=package arfis770)\"" \
  /usr/share/doc/libfiscal-driver-dev/examples/examples.cpp -o "$work/pc/examples" \
  $(pkg-config --libs arfis770) || fail "the examples do not build with pkg-config"
(cd "$work/pc" && ./examples >"$work/pc.out" 2>&1) || {
  cat "$work/pc.out" >&2
  fail "the examples built with pkg-config failed"
}

step "upgrade to the next revision"
# A journal of an earlier version (one JSON line per step) left in the state folder: the
# upgraded service imports it once, and its key stays known.
old_key=package-test-old-journal
owner=$(stat -c %U:%G "$state/journal.db")
now=$(date +%s)
printf '%s\n' \
  '{"key":"'$old_key'","hash":"h","path":"/v1/x","request":{},"state":"started","ts":'"$now"'}' \
  '{"key":"'$old_key'","hash":"h","state":"done","status":200,"answer":{"ok":true},"ts":'"$now"'}' |
  $SUDO tee "$state/journal.jsonl" >/dev/null
$SUDO chown "$owner" "$state/journal.jsonl"
$SUDO dpkg -i "$work/second"/*.deb >"$work/upgrade.log" 2>&1 || {
  cat "$work/upgrade.log" >&2
  fail "the upgrade failed"
}
[ "$(dpkg-query -W -f='${Version}' fiscal-printd)" = "$version-2" ] || fail "not upgraded"
# The unit restarted by the upgrade holds the journal; the check below runs the program by hand.
if [ -d /run/systemd/system ]; then $SUDO systemctl stop fiscal-printd; fi
start_service
curl -sf --max-time 30 "$url/v1/journal/$key" >"$work/entry.json" ||
  fail "after the upgrade the journal does not know $key"
grep -q '"state": *"done"' "$work/entry.json" || fail "the journal entry: $(cat "$work/entry.json")"
curl -sf --max-time 30 "$url/v1/journal/$old_key" >"$work/old-entry.json" ||
  fail "after the upgrade the journal does not know the imported $old_key"
grep -q '"state": *"done"' "$work/old-entry.json" ||
  fail "the imported entry: $(cat "$work/old-entry.json")"
[ -e "$state/journal.jsonl.imported" ] && [ ! -e "$state/journal.jsonl" ] ||
  fail "the old journal was not kept as journal.jsonl.imported"
stop_service

step "remove and purge"
$SUDO dpkg --remove "${packages[@]}" >"$work/remove.log" 2>&1 || {
  cat "$work/remove.log" >&2
  fail "dpkg --remove failed"
}
[ -s "$state/journal.db" ] || fail "removing the package deleted the state folder"
purge || fail "dpkg --purge failed"
$SUDO rm -f "$marker"
[ ! -e "$state" ] || fail "purging left $state"
[ ! -e /etc/default/fiscal-printd ] || fail "purging left /etc/default/fiscal-printd"
left=0
while read -r f; do
  case "$f" in /usr/* | /lib/* | /etc/*) ;; *) continue ;; esac
  if [ -e "$f" ] && [ ! -d "$f" ] || [ -L "$f" ]; then
    echo "left after purge: $f" >&2
    left=1
  fi
done <"$work/files.list"
for d in /usr/include/fiscal /usr/share/doc/fiscal-printd /usr/share/doc/libfiscal-driver-dev \
  /usr/lib/python3/dist-packages/fiscal_printd; do
  [ ! -e "$d" ] || {
    echo "left after purge: $d" >&2
    left=1
  }
done
[ "$left" -eq 0 ] || fail "purging left files behind"
echo "package test passed"
