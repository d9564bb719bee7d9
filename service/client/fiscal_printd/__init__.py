# SPDX-License-Identifier: Apache-2.0
"""A client of the till's local print service (fiscal-printd), standard library only.

    from fiscal_printd import Client, InDoubt
    c = Client("http://127.0.0.1:8520")
    answer = c.sale({"kind": "T", "items": [...], "payments": [...]})

Every printing method takes an idempotency key; without one a new key is made. Repeat a call
with the same key when its answer was lost: the service answers the stored outcome and never
prints twice. Error answers raise Error or one of its kinds: InDoubt, Conflict, BadField,
Unavailable. `python3 -m fiscal_printd --help` is the command line.

A job that prints for minutes (the closing, a Z, a fiscal-memory report) is sent with
"Prefer: respond-async": the service answers 202 at once with the address of its journal entry,
which the client asks every poll_interval seconds until the job finished; the call then returns
or raises what the service would have answered at once. Every printing method takes
respond_async=True or False to choose.
"""

import json
import socket
import time
import urllib.error
import urllib.parse
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
    """respond_async: for every printing method (None: only the closing, the Z and the
    fiscal-memory reports); poll_interval: seconds between two looks at a job answered later."""

    def __init__(self, url="http://127.0.0.1:8520", token=None, timeout=120, respond_async=None,
                 poll_interval=0.5):
        self.url = url.rstrip("/")
        self.token = token
        self.timeout = timeout
        self.respond_async = respond_async
        self.poll_interval = poll_interval
        self.last_replayed = False

    def _request(self, method, path, body=None, key=None, respond_async=False):
        data = None if body is None else json.dumps(body).encode("utf-8")
        req = urllib.request.Request(self.url + path, data=data, method=method)
        req.add_header("Content-Type", "application/json")
        if key is not None:
            req.add_header("Idempotency-Key", key)
        if respond_async:
            req.add_header("Prefer", "respond-async")
        if self.token:
            req.add_header("Authorization", "Bearer " + self.token)
        try:
            with urllib.request.urlopen(req, timeout=self.timeout) as res:
                replayed = res.headers.get("Idempotent-Replay") == "true"
                self.last_replayed = replayed
                answer = json.loads(res.read().decode("utf-8"))
                if res.status == 202 and key is not None:
                    at = res.headers.get("Location") or "/v1/journal/" + urllib.parse.quote(key)
                    answer = self._follow(at, answer)
                    self.last_replayed = replayed
                return answer
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

    def _follow(self, at, entry):
        """A job answered later: its journal entry at `at`, asked again until the job finished;
        then its stored answer, or the error the service would have answered at once."""
        if at.startswith(self.url):
            at = at[len(self.url):]
        misses = 0
        while not isinstance(entry, dict) or entry.get("progress") != "finished":
            time.sleep(self.poll_interval)
            try:
                entry = self._request("GET", at)
                misses = 0
            except Unavailable as e:
                # The job goes on whether the till sees it or not: only a long silence gives up.
                misses += 1
                if e.status != 0 or misses > 5:
                    raise
        answer = entry.get("answer")
        if entry.get("state") == "in_doubt":
            if not (isinstance(answer, dict) and "error" in answer):
                answer = {"error": {"code": "in_doubt", "field": None, "message":
                                    "the request with the key %s is in doubt" % entry.get("key")}}
            raise InDoubt(409, answer)
        status = entry.get("status") or 200
        if status >= 300:
            raise _error(status, answer)
        return answer

    def _print(self, path, body, key, respond_async=None, long_job=False):
        if respond_async is None:
            respond_async = long_job if self.respond_async is None else self.respond_async
        return self._request("POST", path, body, key or str(uuid.uuid4()), respond_async)

    # Printing requests.
    def call(self, entry_point, args=None, key=None, respond_async=None):
        return self._print("/v1/call/" + entry_point, args or {}, key, respond_async)

    def sale(self, sale, key=None, respond_async=None):
        return self._print("/v1/sales", sale, key, respond_async)

    def supply(self, amount, opening=False, key=None, respond_async=None):
        return self._print("/v1/cash/supply", {"amount": amount, "opening": opening}, key,
                           respond_async)

    def x(self, key=None, respond_async=None):
        return self._print("/v1/x", {}, key, respond_async)

    # The Z, the closing and the fiscal-memory reports print for minutes: answered later unless
    # respond_async is False (here or for the client).
    def z(self, key=None, respond_async=None):
        return self._print("/v1/z", {}, key, respond_async, long_job=True)

    def closing(self, body, key=None, respond_async=None):
        return self._print("/v1/closing", body, key, respond_async, long_job=True)

    def fiscal_memory_report(self, by, start, end, detail=False, key=None, respond_async=None):
        """A fiscal-memory report: by "date" ("YYYY-MM-DD" to "YYYY-MM-DD") or by "z" (Z numbers)."""
        return self._print("/v1/reports/fiscal-memory",
                           {"by": by, "from": start, "to": end, "detail": detail}, key,
                           respond_async, long_job=True)

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
