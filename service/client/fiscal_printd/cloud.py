# SPDX-License-Identifier: Apache-2.0
"""Printing in a shop from the chain's cloud, through the chain's MQTT broker.

    from fiscal_printd.cloud import Cloud, InDoubt, Expired, NoResult
    with Cloud("mqtts://broker.chain.example:8883", ca="chain-ca.pem",
               cert="cloud.pem", key="cloud.key", till="web-till-7") as cloud:
        result = cloud.sale("shop-0012", "till-1", sale, key="web7-000125", expires_in=120)
        print(result["answer"]["number"])

Each job is published to its shop's printer with an idempotency key, the till that sent it and
an expiry time, and the call waits for its result. A job that printed returns the result
(outcome "done"); every other outcome raises one of JobError's kinds: Failed, InDoubt,
Expired, Refused, or NoResult when no result came in time. Sending the same job again (same
till, key, operation and body) never prints it twice: it answers the stored result.
docs/chain-link.md describes the topics and messages. Needs Debian's python3-paho-mqtt.
"""

import datetime
import json
import math
import ssl
import threading
import urllib.parse
import uuid

import paho.mqtt.client as mqtt
from paho.mqtt.packettypes import PacketTypes
from paho.mqtt.properties import Properties

__all__ = ["Cloud", "JobError", "Failed", "InDoubt", "Expired", "Refused", "NoResult",
           "connect", "topic", "utc_text"]

PREFIX = "fiscal/v1"
DEFAULT_PORTS = {"mqtts": 8883, "mqtt": 1883}


class JobError(Exception):
    """A job that did not print: the whole result message, its outcome and error."""

    def __init__(self, result, message=None):
        self.result = result
        err = result.get("error") or {}
        self.outcome = result.get("outcome")
        self.key = result.get("key")
        self.code = err.get("code")
        self.message = message or err.get("message") or self.outcome
        self.field = err.get("field")
        super().__init__("%s %s: %s" % (self.outcome, self.key, self.message))


class Failed(JobError):
    """The operation ran and failed (the printer refused a step, the driver raised); nothing
    that counts was printed unless `result["answer"]` says a document stays open."""


class InDoubt(JobError):
    """The printer may or may not have printed the job. `state` is the printer now; the till
    checks the paper in the shop and calls Cloud.resolve with the key."""

    @property
    def state(self):
        return self.result.get("state")


class Expired(JobError):
    """The job was not started before its expiry and never will be: nothing was printed."""


class Refused(JobError):
    """The service did not take the job (a wrong body, a key used for another job, a full
    queue); `field` names the member at fault. Nothing was printed."""


class NoResult(JobError):
    """No result came in time. The job may still run until `expires`; to learn its outcome,
    send it again with the same key and expires_at=e.expires."""

    def __init__(self, key, expires, waited):
        self.expires = expires
        super().__init__({"outcome": None, "key": key},
                         "no result within %.0f s; the job expires at %s" % (waited, expires))


_KINDS = {"failed": Failed, "in_doubt": InDoubt, "expired": Expired, "refused": Refused}


def utc_text(moment):
    """A time as the link writes it: RFC 3339 in UTC, to the second."""
    return moment.astimezone(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")


def topic(kind, shop, printer, reply_id=None):
    """fiscal/v1/SHOP/PRINTER/KIND, and a client's own reply topic below results."""
    t = "%s/%s/%s/%s" % (PREFIX, shop, printer, kind)
    return t + "/" + reply_id if reply_id else t


def connect(broker, client_id, ca=None, cert=None, key=None, user=None, password_file=None,
            insecure=False, session_expiry=0, will=None, on_message=None, on_connect=None,
            timeout=10):
    """An MQTT 5 client connected to broker ("mqtts://HOST[:PORT]"), its network loop running.

    TLS verifies the broker's certificate and host name against ca (else the system's CAs);
    cert and key are a client certificate, user and password_file a login. "mqtt://" is plain
    TCP and is refused unless insecure. will is (topic, payload) published retained when the
    connection is lost. on_connect(client) runs after every connection, first and later ones.
    Raises ValueError for a wrong address and ConnectionError when the broker refuses."""
    url = urllib.parse.urlsplit(broker)
    if url.scheme not in DEFAULT_PORTS or not url.hostname:
        raise ValueError("the broker's address is mqtts://HOST[:PORT] (or mqtt://): %r" % broker)
    if url.scheme == "mqtt" and not insecure:
        raise ValueError("%s is plain TCP: the link refuses it unless insecure is set" % broker)
    if bool(cert) != bool(key):
        raise ValueError("a client certificate needs both cert and key")
    client = mqtt.Client(client_id=client_id, protocol=mqtt.MQTTv5)
    if url.scheme == "mqtts":
        context = ssl.create_default_context(cafile=ca)
        if cert:
            context.load_cert_chain(cert, key)
        client.tls_set_context(context)
    if user:
        password = None
        if password_file:
            with open(password_file, encoding="utf-8") as f:
                password = f.read().strip("\r\n")
        client.username_pw_set(user, password)
    if will:
        client.will_set(will[0], will[1], qos=1, retain=True)
    client.reconnect_delay_set(1, 30)
    connected = threading.Event()
    refused = []

    def connected_cb(c, _userdata, _flags, reason, _properties):
        if reason.getName() != "Success":
            refused.append(str(reason))
            connected.set()
            return
        if on_connect:
            on_connect(c)
        connected.set()

    client.on_connect = connected_cb
    if on_message:
        client.on_message = lambda c, _u, msg: on_message(msg)
    props = Properties(PacketTypes.CONNECT)
    props.SessionExpiryInterval = session_expiry
    try:
        client.connect(url.hostname, url.port or DEFAULT_PORTS[url.scheme], keepalive=30,
                       clean_start=session_expiry == 0, properties=props)
    except (OSError, ssl.SSLError) as e:
        raise ConnectionError("cannot connect to %s: %s" % (broker, e)) from None
    client.loop_start()
    if not connected.wait(timeout) or refused:
        client.loop_stop()
        try:
            client.disconnect()
        except (OSError, ssl.SSLError):
            pass  # the broker closed the connection already
        raise ConnectionError("the broker %s refused the connection: %s" % (
            broker, refused[0] if refused else "no answer in %d s" % timeout))
    return client


def publish(client, topic_name, message, retain=False, expiry=None, response_topic=None,
            correlation=None):
    """Publishes a JSON message at QoS 1 with the link's properties."""
    props = Properties(PacketTypes.PUBLISH)
    props.PayloadFormatIndicator = 1
    props.ContentType = "application/json"
    if expiry is not None:
        props.MessageExpiryInterval = expiry
    if response_topic:
        props.ResponseTopic = response_topic
    if correlation is not None:
        props.CorrelationData = correlation
    payload = json.dumps(message, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    return client.publish(topic_name, payload, qos=1, retain=retain, properties=props)


class Cloud:
    """The chain's cloud on the broker: submits jobs and waits for their results.

    broker, ca, cert, key, user, password_file, insecure: as for connect(). till: the till
    jobs are sent for, unless a call names another. client_id: the MQTT client's name (a new
    one by default); with session_expiry seconds the broker keeps results that arrive while
    the client is away. Results come on fiscal/v1/+/+/results/<reply_id>."""

    def __init__(self, broker, ca=None, cert=None, key=None, user=None, password_file=None,
                 insecure=False, till=None, client_id=None, session_expiry=0, timeout=10):
        self.till = till
        self.client_id = client_id or "cloud-" + uuid.uuid4().hex[:12]
        self.reply_id = "".join(ch if ch.isalnum() or ch in "-_." else "_" for ch in self.client_id)
        self._waiting = {}
        self._lock = threading.Lock()
        self._client = connect(broker, self.client_id, ca=ca, cert=cert, key=key, user=user,
                               password_file=password_file, insecure=insecure,
                               session_expiry=session_expiry, on_message=self._message,
                               on_connect=self._subscribe, timeout=timeout)

    def _subscribe(self, client):
        client.subscribe(topic("results", "+", "+", self.reply_id), qos=1)

    def _message(self, msg):
        correlation = getattr(msg.properties, "CorrelationData", None)
        try:
            result = json.loads(msg.payload)
        except ValueError:
            return
        with self._lock:
            waiter = self._waiting.get(bytes(correlation or b""))
        if waiter is not None and isinstance(result, dict):
            waiter[1].append(result)
            waiter[0].set()

    def close(self):
        self._client.disconnect()
        self._client.loop_stop()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def submit(self, shop, printer, operation, body, key=None, till=None, entry_point=None,
               expires_in=60.0, expires_at=None, timeout=None):
        """Sends one job and returns its result when it is done; raises JobError's kinds.

        expires_in (seconds from now) or expires_at (a datetime, or the text of an earlier
        try) sets when the job stops being worth printing; timeout (default: until the expiry
        and 30 s more) how long to wait for its result."""
        key = key or str(uuid.uuid4())
        till = till or self.till
        if not till:
            raise ValueError("a job names its till: give till here or to Cloud()")
        now = datetime.datetime.now(datetime.timezone.utc)
        if expires_at is None:
            expires_at = now + datetime.timedelta(seconds=expires_in)
        elif isinstance(expires_at, str):
            expires_at = datetime.datetime.fromisoformat(expires_at.replace("Z", "+00:00"))
        left = (expires_at - now).total_seconds()
        job = {"key": key, "till": till, "expires": utc_text(expires_at),
               "sentAt": utc_text(now), "operation": operation, "body": body}
        if entry_point:
            job["entryPoint"] = entry_point
        if timeout is None:
            timeout = max(left, 0) + 30
        correlation = uuid.uuid4().bytes
        done = threading.Event()
        results = []
        with self._lock:
            self._waiting[correlation] = (done, results)
        # The broker drops a job that waited past its expiry for a shop that is away; a job
        # asked again after its expiry, to learn its outcome, lives as long as the wait.
        lifetime = left if left > 0 else timeout
        try:
            publish(self._client, topic("jobs", shop, printer), job,
                    expiry=max(1, math.ceil(lifetime)),
                    response_topic=topic("results", shop, printer, self.reply_id),
                    correlation=correlation)
            if not done.wait(timeout):
                raise NoResult(key, job["expires"], timeout)
        finally:
            with self._lock:
                del self._waiting[correlation]
        result = results[0]
        if result.get("outcome") == "done":
            return result
        raise _KINDS.get(result.get("outcome"), JobError)(result)

    # One method per operation; each takes submit's keywords.
    def sale(self, shop, printer, sale, **kw):
        return self.submit(shop, printer, "sale", sale, **kw)

    def supply(self, shop, printer, amount, opening=False, **kw):
        return self.submit(shop, printer, "supply", {"amount": amount, "opening": opening}, **kw)

    def x(self, shop, printer, **kw):
        return self.submit(shop, printer, "x", {}, **kw)

    def z(self, shop, printer, **kw):
        return self.submit(shop, printer, "z", {}, **kw)

    def closing(self, shop, printer, body, **kw):
        return self.submit(shop, printer, "closing", body, **kw)

    def call(self, shop, printer, entry_point, args=None, **kw):
        return self.submit(shop, printer, "call", args or {}, entry_point=entry_point, **kw)

    def report(self, shop, printer, by, first, last, detail=False, **kw):
        """The fiscal memory's report by "date" ("YYYY-MM-DD") or by "z" number, both ends
        included."""
        body = {"by": by, "from": first, "to": last, "detail": detail}
        return self.submit(shop, printer, "report", body, **kw)

    def resolve(self, shop, printer, key, printed, cancel_open_ticket=False, **kw):
        """Records the till's decision on its key in doubt (the job of the till given here or
        to Cloud()); the resolution is a job of its own, with a key of its own."""
        body = {"key": key, "printed": printed, "cancelOpenTicket": cancel_open_ticket}
        return self.submit(shop, printer, "resolve", body, **kw)
