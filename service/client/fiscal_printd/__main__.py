# SPDX-License-Identifier: Apache-2.0
"""The print service from the command line.

    python3 -m fiscal_printd [--url URL] [--token-file FILE] status|journal
    python3 -m fiscal_printd [--url URL] [--key KEY] sale|supply|x|z|closing|report [BODY_JSON]
    python3 -m fiscal_printd [--url URL] [--key KEY] call ENTRY_POINT [BODY_JSON]
    python3 -m fiscal_printd [--url URL] resolve KEY printed|not-printed [--cancel-open-ticket]

The answer is printed as JSON. Exit codes: 0 done; 1 the service answered an error (its body
is printed); 2 bad usage; 3 the service does not answer (one line on standard error).
"""

import argparse
import json
import sys

from . import Client, Error, Unavailable

PATHS = {"sale": "/v1/sales", "supply": "/v1/cash/supply", "x": "/v1/x", "z": "/v1/z",
         "closing": "/v1/closing", "report": "/v1/reports/fiscal-memory"}


def main(argv=None):
    p = argparse.ArgumentParser(prog="fiscal-printd-client",
                                description="Talks to the local print service.")
    p.add_argument("--url", default="http://127.0.0.1:8520")
    p.add_argument("--token-file")
    p.add_argument("--key", help="the Idempotency-Key (default: a new one)")
    p.add_argument("command", choices=["status", "journal", "call", "resolve"] + list(PATHS))
    p.add_argument("args", nargs="*")
    p.add_argument("--cancel-open-ticket", action="store_true")
    a = p.parse_args(argv)

    def body(i):
        try:
            return json.loads(a.args[i]) if len(a.args) > i else {}
        except ValueError as e:
            p.error("the body is not JSON: %s" % e)

    token = None
    if a.token_file:
        try:
            with open(a.token_file, encoding="utf-8") as f:
                token = f.read().strip()
        except OSError as e:
            p.error("cannot read the token file: %s" % e)
    if a.command in ("call", "resolve") and not a.args:
        p.error("%s needs %s" % (a.command, "an entry point" if a.command == "call" else "a key"))
    if a.command == "resolve" and (len(a.args) < 2 or a.args[1] not in ("printed", "not-printed")):
        p.error("resolve needs KEY printed|not-printed")
    c = Client(a.url, token)
    try:
        if a.command == "status":
            out = c.status()
        elif a.command == "journal":
            out = c.journal()
        elif a.command == "call":
            out = c.call(a.args[0], body(1), a.key)
        elif a.command == "resolve":
            out = c.resolve(a.args[0], a.args[1] == "printed", a.cancel_open_ticket)
        else:
            out = c._print(PATHS[a.command], body(0), a.key)
    except Unavailable as e:
        if e.status == 0:
            print("fiscal-printd: %s" % e.message, file=sys.stderr)
            return 3
        print(json.dumps(e.body, ensure_ascii=False))
        return 1
    except Error as e:
        print(json.dumps(e.body, ensure_ascii=False))
        return 1
    if c.last_replayed:
        print("replayed", file=sys.stderr)
    print(json.dumps(out, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main())
