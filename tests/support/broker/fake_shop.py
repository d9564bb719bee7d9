# SPDX-License-Identifier: Apache-2.0
"""A fake shop on the chain link: answers jobs per the contract without a printer.

It connects with its shop's certificate, keeps a persistent session, publishes its status
retained (its last will says offline), and answers every job on the job's reply topic:
expired past its expiry, refused when the job breaks its schema or reuses a key for another
job, the stored result (replayed) for a job seen before, in doubt for a key starting with
"doubt-" (until resolved), else done with an answer of the HTTP API's shape. `printed` lists
the jobs it "printed", in order; `bad_jobs` the jobs that broke the schema.
"""

import datetime
import hashlib
import json
import socket
import threading

import contract
from fiscal_printd import cloud

VERSION = "1.1.0-fake"


def printer_state(**changes):
    state = {"backend": "emulator", "reachable": True, "checkedAt": cloud.utc_text(_now()),
             "printerStatus": "0080", "fiscalStatus": "0600", "reasons": [],
             "documentOpen": False, "document": None, "lastDocumentNumber": None,
             "paper": {"journal": "ok", "receipt": "ok"}, "fiscalisation": "fiscalised",
             "error": None}
    state.update(changes)
    return state


def online_status(shop, printer, **changes):
    now = cloud.utc_text(_now())
    status = {"shop": shop, "printer": printer, "online": True, "at": now, "onlineSince": now,
              "heartbeatSeconds": 60, "service": {"version": VERSION}, "state": printer_state(),
              "lastZ": None, "inDoubtCount": 0, "inDoubt": []}
    status.update(changes)
    return status


def _now():
    return datetime.datetime.now(datetime.timezone.utc)


def _answer(job, number):
    """An answer of the shape the HTTP API gives for the job's operation."""
    http_printer = {"backend": "emulator", "reachable": True, "checkedAt": None,
                    "printerStatus": "0080", "fiscalStatus": "0600", "reasons": [],
                    "documentOpen": False, "document": None,
                    "lastDocumentNumber": "%08d" % number, "error": None}
    if job["operation"] == "call":
        return {"entryPoint": job["entryPoint"], "result": True, "out": {}, "dialogs": [],
                "log": []}
    answer = {"ok": True, "calls": [], "dialogs": [], "log": [], "printer": http_printer}
    if job["operation"] == "sale":
        answer.update(kind=job["body"]["kind"], number="%08d" % number, documentOpen=False)
    return answer


class FakeShop:
    def __init__(self, broker, shop, printer, status=None, port=None, listener="cert"):
        """Connects as shop's account to broker's listener (or to port, a relay's)."""
        self.shop, self.printer = shop, printer
        self.printed = []
        self.bad_jobs = []
        self.jobs_seen = 0
        self._stored = {}  # (till, key) -> (request hash, result)
        self._lock = threading.Lock()
        self._status = status or online_status(shop, printer)
        contract.check("status", self._status)
        account = broker.account(shop)
        will = {"shop": shop, "printer": printer, "online": False, "reason": "lost",
                "service": {"version": VERSION}}
        contract.check("status", will)
        url = broker.url(listener, port)
        self._client = cloud.connect(
            url, "fiscal-printd/%s/%s" % (shop, printer), ca=broker.pki.cert,
            cert=account["cert"], key=account["key"], session_expiry=86400,
            will=(cloud.topic("status", shop, printer), json.dumps(will)),
            on_message=self._job, on_connect=self._online)

    def _online(self, client):
        client.subscribe(cloud.topic("jobs", self.shop, self.printer), qos=1)
        cloud.publish(client, cloud.topic("status", self.shop, self.printer), self._status,
                      retain=True)

    def _reply(self, msg, result):
        contract.check("result", result)
        own = cloud.topic("results", self.shop, self.printer)
        reply = getattr(msg.properties, "ResponseTopic", None)
        if not reply or not reply.startswith(own + "/"):
            reply = own
        cloud.publish(self._client, reply, result,
                      correlation=getattr(msg.properties, "CorrelationData", None))

    def _job(self, msg):
        if msg.retain:
            return  # a stale retained job is no job
        self.jobs_seen += 1
        result = {"shop": self.shop, "printer": self.printer, "key": None, "till": None,
                  "operation": None, "replayed": False, "at": cloud.utc_text(_now())}
        try:
            job = contract.check("job", msg.payload)
        except contract.Violation as e:
            self.bad_jobs.append(msg.payload)
            try:
                raw = json.loads(msg.payload)
            except ValueError:
                raw = None
            if isinstance(raw, dict):
                for member, definition in (("key", "Key"), ("till", "Till"),
                                           ("operation", "Operation")):
                    if contract.valid(definition, raw.get(member)):
                        result[member] = raw[member]
            result.update(outcome="refused",
                          error={"code": "bad_field", "message": str(e), "field": None})
            return self._reply(msg, result)
        result.update(key=job["key"], till=job["till"], operation=job["operation"])
        identity = json.dumps([job["operation"], job.get("entryPoint"), job["body"]],
                              sort_keys=True).encode()
        digest = hashlib.sha256(identity).hexdigest()
        with self._lock:
            stored = self._stored.get((job["till"], job["key"]))
            if stored and stored[0] != digest:
                result.update(outcome="refused", error={
                    "code": "idempotency_conflict", "field": "key",
                    "message": "the key was used for another job of this till"})
            elif stored:
                result = dict(stored[1], replayed=True)
            else:
                result.update(self._run(job))
                self._stored[(job["till"], job["key"])] = (digest, result)
        self._reply(msg, result)

    def _run(self, job):
        expires = datetime.datetime.fromisoformat(job["expires"].replace("Z", "+00:00"))
        if _now() > expires:
            return {"outcome": "expired", "error": {
                "code": "expired", "field": None,
                "message": "the job expired at %s before it was started" % job["expires"]}}
        if job["operation"] == "resolve":
            return self._resolve(job)
        if job["key"].startswith("doubt-"):
            return {"outcome": "in_doubt", "state": printer_state(documentOpen=True,
                                                                  document="ticket"),
                    "error": {"code": "in_doubt", "field": None,
                              "message": "the printer did not tell whether it printed"}}
        self.printed.append((job["till"], job["key"], job["operation"]))
        return {"outcome": "done", "answer": _answer(job, len(self.printed))}

    def _resolve(self, job):
        body = job["body"]
        stored = self._stored.get((job["till"], body["key"]))
        if not stored or stored[1]["outcome"] != "in_doubt":
            return {"outcome": "refused", "error": {
                "code": "not_in_doubt" if stored else "not_found", "field": "body.key",
                "message": "the key %s is not in doubt" % body["key"]}}
        resolution = {"printed": body["printed"], "cancelled": False,
                      "at": cloud.utc_text(_now())}
        resolved = {k: v for k, v in stored[1].items() if k not in ("error", "state")}
        if body["printed"]:
            resolved.update(outcome="done", resolution=resolution)
        else:
            resolved.update(outcome="failed", resolution=resolution, error={
                "code": "resolved", "field": None,
                "message": "the till resolved it as not printed"})
        self._stored[(job["till"], body["key"])] = (stored[0], resolved)
        return {"outcome": "done", "answer": {"key": body["key"], "state": "resolved",
                                              "printed": body["printed"], "cancelled": False}}

    def drop(self):
        """The connection lost without a goodbye: the broker publishes the last will."""
        sock = self._client.socket()
        self._client.loop_stop()
        if sock is not None:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()

    def stop(self):
        """A clean stop: the offline status, then a goodbye."""
        status = {"shop": self.shop, "printer": self.printer, "online": False,
                  "reason": "stopped", "at": cloud.utc_text(_now()),
                  "service": {"version": VERSION}}
        contract.check("status", status)
        cloud.publish(self._client, cloud.topic("status", self.shop, self.printer), status,
                      retain=True).wait_for_publish(5)
        self._client.disconnect()
        self._client.loop_stop()
