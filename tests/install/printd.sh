# SPDX-License-Identifier: Apache-2.0
# shellcheck shell=bash
# Sourced by the install tests: starts an installed fiscal-printd against the built-in emulator on
# a free port of 127.0.0.1, with a state folder of its own.
#
# start_printd OUTPUT_FILE STATE_DIR PROGRAM [OPTION...]
#   Sets printd (the process id) and printd_url ("http://127.0.0.1:PORT", from its
#   "listening on" line) and answers 0; when it ends or does not start in time, it shows what the
#   program printed and answers 1.
start_printd() {
  local out=$1 state=$2 program=$3
  shift 3
  mkdir -p "$state"
  : >"$out"
  env -u LD_LIBRARY_PATH FISCAL_PRINTER=emulator "$program" \
    --listen 127.0.0.1:0 --state "$state" "$@" >"$out" 2>&1 &
  printd=$!
  printd_url=""
  for _ in $(seq 600); do
    printd_url=$(sed -n 's/^listening on //p' "$out")
    [ -n "$printd_url" ] && return 0
    kill -0 "$printd" 2>/dev/null || break
    sleep 0.05
  done
  kill "$printd" 2>/dev/null || true
  cat "$out" >&2
  return 1
}
