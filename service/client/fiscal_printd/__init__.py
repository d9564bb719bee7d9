# SPDX-License-Identifier: Apache-2.0
"""A client of the till's local print service (fiscal-printd), standard library only.

    from fiscal_printd import Client, InDoubt
    c = Client("http://127.0.0.1:8520")
    answer = c.sale({"kind": "T", "items": [...], "payments": [...]})

Every printing method takes an idempotency key; without one a new key is made. Repeat a call
with the same key when its answer was lost: the service answers the stored outcome and never
prints twice. Error answers raise Error or one of its kinds: InDoubt, Conflict, BadField,
Unavailable. `python3 -m fiscal_printd --help` is the command line.
"""

import json
import socket
import urllib.error
import urllib.request
import uuid

__all__ = ["Client", "Error", "InDoubt", "Conflict", "BadField", "Unavailable"]
__version__ = "1.1.0"


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


class InDoubt(Error):
    """The request of this key may or may not have been printed (the message says why).

    `printer` is what the printer reports now and `journal` the request; the till looks at
    the paper and calls Client.resolve."""

    @property
    def printer(self):
        return self.body.get("printer")

    @property
    def journal(self):
        return self.body.get("journal")


class Conflict(Error):
    """The key was used for another request, is still being printed, or was resolved."""


class BadField(Error):
    """A member of the body is wrong; `field` names it."""

    def __init__(self, status, body):
        super().__init__(status, body)
        if self.field:
            self.args = ("%s: %s" % (self.field, self.message),)


class Unavailable(Error):
    """The service did not answer (status 0), or its queue is full (503)."""


_KINDS = {
    "in_doubt": InDoubt,
    "idempotency_conflict": Conflict,
    "in_progress": Conflict,
    "resolved": Conflict,
    "not_in_doubt": Conflict,
    "bad_field": BadField,
    "unencodable_text": BadField,
    "queue_full": Unavailable,
}


def _error(status, body):
    code = body.get("error", {}).get("code") if isinstance(body, dict) else None
    kind = _KINDS.get(code) or (Unavailable if status == 503 else Error)
    return kind(status, body)


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
            raise _error(e.code, parsed) from None
        except (urllib.error.URLError, socket.timeout, ConnectionError) as e:
            reason = getattr(e, "reason", e)
            raise Unavailable(0, {"error": {
                "code": "unavailable", "field": None,
                "message": "the service at %s does not answer (%s)" % (self.url, reason)}}) from None

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

    def fiscal_memory_report(self, by, start, end, detail=False, key=None):
        """A fiscal-memory report: by "date" ("YYYY-MM-DD" to "YYYY-MM-DD") or by "z" (Z numbers)."""
        return self._print("/v1/reports/fiscal-memory",
                           {"by": by, "from": start, "to": end, "detail": detail}, key)

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
