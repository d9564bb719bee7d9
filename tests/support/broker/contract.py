# SPDX-License-Identifier: Apache-2.0
"""The chain link's messages checked against their JSON Schemas (docs/chain-link/).

    import contract
    contract.check("job", message)        # raises contract.Violation naming what is wrong
    contract.topic("jobs", "shop-a", "till-1")   # fiscal/v1/shop-a/till-1/jobs

The schemas refer to the HTTP API's bodies in docs/openapi.yaml, which is loaded beside them.
"""

import json
import os
import pathlib
import threading
import warnings

import jsonschema
import yaml

DOCS = pathlib.Path(__file__).resolve().parents[3] / "docs"
KINDS = ("job", "result", "status")
PREFIX = "fiscal/v1"


class Violation(AssertionError):
    pass


_STORE = {}


def _load():
    store = _STORE
    for path in (DOCS / "chain-link").glob("*.schema.json"):
        store[path.as_uri()] = json.loads(path.read_text(encoding="utf-8"))
    openapi = DOCS / "openapi.yaml"
    store[openapi.as_uri()] = yaml.safe_load(openapi.read_text(encoding="utf-8"))
    validators = {}
    for kind in KINDS:
        uri = (DOCS / "chain-link" / (kind + ".schema.json")).as_uri()
        schema = store[uri]
        jsonschema.Draft202012Validator.check_schema(schema)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            resolver = jsonschema.RefResolver(uri, schema, store=store)
        validators[kind] = jsonschema.Draft202012Validator(
            schema, resolver=resolver, format_checker=jsonschema.FormatChecker())
    return validators


_VALIDATORS = None


def check(kind, message):
    """Checks one message (a dict, or its JSON bytes or text) of kind job, result or status."""
    global _VALIDATORS
    if _VALIDATORS is None:
        _VALIDATORS = _load()
    if kind not in _VALIDATORS:
        raise ValueError("no such kind of message: " + kind)
    if isinstance(message, (bytes, str)):
        try:
            message = json.loads(message)
        except ValueError as e:
            raise Violation("%s is not JSON: %s" % (kind, e)) from None
    errors = sorted(_VALIDATORS[kind].iter_errors(message), key=lambda e: list(e.absolute_path))
    if errors:
        raise Violation("%s breaks its schema: %s" % (kind, "; ".join(
            "%s: %s" % ("/".join(map(str, e.absolute_path)) or "(message)", e.message)
            for e in errors[:5])))
    return message


def valid(definition, value):
    """Whether value is a valid instance of one of the shared definitions (Key, Till, ...)."""
    global _VALIDATORS
    if _VALIDATORS is None:
        _VALIDATORS = _load()
    common = (DOCS / "chain-link" / "common.schema.json").as_uri()
    schema = {"$ref": common + "#/$defs/" + definition}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        resolver = jsonschema.RefResolver("", schema, store=_STORE)
    return jsonschema.Draft202012Validator(schema, resolver=resolver).is_valid(value)


def topic(kind, shop, printer, reply_id=None):
    """The topic of a shop's printer: jobs, results (with a reply id: a client's own) or status."""
    t = "%s/%s/%s/%s" % (PREFIX, shop, printer, kind)
    return t + "/" + reply_id if reply_id else t


def kind_of(topic_name):
    """The message kind a topic carries, with its shop and printer: ("result", "s", "p")."""
    parts = topic_name.split("/")
    if len(parts) < 5 or "/".join(parts[:2]) != PREFIX:
        raise Violation("not a chain link topic: " + topic_name)
    kinds = {"jobs": "job", "results": "result", "status": "status"}
    if parts[4] not in kinds or (len(parts) > 5 and parts[4] != "results") or len(parts) > 6:
        raise Violation("not a chain link topic: " + topic_name)
    return kinds[parts[4]], parts[2], parts[3]


class Monitor:
    """Reads every status and result on the broker with the cloud's account and checks each
    against its schema: `seen` holds (topic, message) in order, `violations` what broke."""

    def __init__(self, broker):
        from fiscal_printd import cloud

        self.seen, self.violations = [], []
        self._lock = threading.Lock()
        account = broker.account("cloud")

        def subscribe(client):
            client.subscribe([(PREFIX + "/+/+/status", 1), (PREFIX + "/+/+/results/#", 1)])

        self._client = cloud.connect(broker.url("cert"), "monitor-" + os.urandom(4).hex(),
                                     ca=broker.pki.cert, cert=account["cert"],
                                     key=account["key"], on_message=self._message,
                                     on_connect=subscribe)

    def _message(self, msg):
        with self._lock:
            try:
                kind = kind_of(msg.topic)[0]
                message = check(kind, msg.payload) if msg.payload else None
                self.seen.append((msg.topic, message))
            except Violation as e:
                self.violations.append("%s: %s" % (msg.topic, e))

    def messages(self, topic_name):
        with self._lock:
            return [m for t, m in self.seen if t == topic_name]

    def close(self):
        self._client.disconnect()
        self._client.loop_stop()


if __name__ == "__main__":
    # python3 contract.py FILE: each line "TOPIC<TAB>PAYLOAD" (as a test recorded what it saw).
    import sys

    bad = 0
    with open(sys.argv[1], encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            name, _, payload = line.rstrip("\n").partition("\t")
            try:
                check(kind_of(name)[0], payload)
            except Violation as e:
                bad += 1
                print("%s:%d %s: %s" % (sys.argv[1], n, name, e))
    sys.exit(1 if bad else 0)
