#!/usr/bin/env python3
"""A small client of the local print service (fiscal-printd), standard library only.

    from fiscal_printd import Client
    c = Client("http://127.0.0.1:8520")
    answer = c.sale({"kind": "T", "items": [...], "payments": [...]})

Every printing method takes an idempotency key; without one a new key is made. Repeat a call
with the same key when its answer was lost: the service answers the stored outcome and never
prints twice. Error answers raise Error.

From the command line:
    fiscal_printd.py [--url URL] [--token-file FILE] status
    fiscal_printd.py [--url URL] [--key KEY] sale|supply|x|z|closing BODY_JSON
    fiscal_printd.py [--url URL] [--key KEY] call ENTRY_POINT BODY_JSON
    fiscal_printd.py [--url URL] resolve KEY printed|not-printed [--cancel-open-ticket]
The answer is printed as JSON; the exit code is 0, or 1 for an error answer.
"""

import argparse
import json
import sys
import urllib.error
import urllib.request
import uuid


class Error(Exception):
    """An error answer: HTTP status, the error's code, message and field, the whole body."""

    def __init__(self, status, body):
        err = body.get("error", {}) if isinstance(body, dict) else {}
        self.status = status
        self.code = err.get("code")
        self.message = err.get("message", "HTTP %d" % status)
        self.field = err.get("field")
        self.body = body
        super().__init__("%d %s: %s" % (status, self.code, self.message))


class Client:
    def __init__(self, url="http://127.0.0.1:8520", token=None, timeout=120):
        self.url = url.rstrip("/")
        self.token = token
        self.timeout = timeout
        self.last_replayed = False

    def _request(self, method, path, body=None, key=None):
        data = None if body is None else json.dumps(body).encode("utf-8")
        req = urllib.request.Request(self.url + path, data=data, method=method)
        req.add_header("Content-Type", "application/json")
        if key is not None:
            req.add_header("Idempotency-Key", key)
        if self.token:
            req.add_header("Authorization", "Bearer " + self.token)
        try:
            with urllib.request.urlopen(req, timeout=self.timeout) as res:
                self.last_replayed = res.headers.get("Idempotent-Replay") == "true"
                return json.loads(res.read().decode("utf-8"))
        except urllib.error.HTTPError as e:
            raw = e.read().decode("utf-8", "replace")
            try:
                parsed = json.loads(raw)
            except ValueError:
                parsed = {"error": {"code": None, "message": raw}}
            raise Error(e.code, parsed) from None

    def _print(self, path, body, key):
        return self._request("POST", path, body, key or str(uuid.uuid4()))

    # Printing requests.
    def call(self, entry_point, args=None, key=None):
        return self._print("/v1/call/" + entry_point, args or {}, key)

    def sale(self, sale, key=None):
        return self._print("/v1/sales", sale, key)

    def supply(self, amount, opening=False, key=None):
        return self._print("/v1/cash/supply", {"amount": amount, "opening": opening}, key)

    def x(self, key=None):
        return self._print("/v1/x", {}, key)

    def z(self, key=None):
        return self._print("/v1/z", {}, key)

    def closing(self, body, key=None):
        return self._print("/v1/closing", body, key)

    # Reading and resolving.
    def status(self):
        return self._request("GET", "/v1/status")

    def paper(self, start=0):
        """The emulator's paper from line start on: {"from", "next", "lines"}."""
        return self._request("GET", "/v1/paper?from=%d" % start)

    def journal(self, limit=20):
        return self._request("GET", "/v1/journal?limit=%d" % limit)

    def resolve(self, key, printed, cancel_open_ticket=False):
        body = {"printed": printed, "cancelOpenTicket": cancel_open_ticket}
        return self._request("POST", "/v1/journal/%s/resolve" % key, body)


def main(argv):
    p = argparse.ArgumentParser(description="Talks to the local print service.")
    p.add_argument("--url", default="http://127.0.0.1:8520")
    p.add_argument("--token-file")
    p.add_argument("--key", help="the Idempotency-Key (default: a new one)")
    p.add_argument("command", choices=["status", "sale", "supply", "x", "z", "closing", "call",
                                       "resolve", "journal"])
    p.add_argument("args", nargs="*")
    p.add_argument("--cancel-open-ticket", action="store_true")
    a = p.parse_args(argv)
    token = None
    if a.token_file:
        with open(a.token_file, encoding="utf-8") as f:
            token = f.read().strip()
    c = Client(a.url, token)
    try:
        if a.command == "status":
            out = c.status()
        elif a.command == "journal":
            out = c.journal()
        elif a.command == "call":
            out = c.call(a.args[0], json.loads(a.args[1]) if len(a.args) > 1 else {}, a.key)
        elif a.command == "resolve":
            out = c.resolve(a.args[0], a.args[1] == "printed", a.cancel_open_ticket)
        else:
            path = {"sale": "/v1/sales", "supply": "/v1/cash/supply", "x": "/v1/x", "z": "/v1/z",
                    "closing": "/v1/closing"}[a.command]
            out = c._print(path, json.loads(a.args[0]) if a.args else {}, a.key)
        out_replayed = c.last_replayed
    except Error as e:
        print(json.dumps(e.body, ensure_ascii=False))
        return 1
    if out_replayed:
        print("replayed", file=sys.stderr)
    print(json.dumps(out, ensure_ascii=False))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
