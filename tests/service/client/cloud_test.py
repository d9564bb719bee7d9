# SPDX-License-Identifier: Apache-2.0
"""The cloud client against a live broker (tests/support/broker) and fake shops that answer
per the chain link's contract; the broker's access rules and TLS as the shops meet them.
Every status and result on the broker is checked against its schema by a monitor."""

import datetime
import subprocess
import tempfile
import time
import unittest

import contract
from broker import Broker
from fake_shop import FakeShop
from fiscal_printd import cloud
from fiscal_printd.cloud import Cloud, Expired, Failed, InDoubt, NoResult, Refused

SALE = {"kind": "T", "items": [{"description": "Cafe", "quantity": 1, "price": 10, "vat": 21}],
        "payments": [{"description": "Efectivo", "amount": 10}]}


def wait_for(condition, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.05)
    return False


class ChainTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.broker = Broker(cls.tmp.name, shops=["shop-a", "shop-b"], plain=True)
        cls.broker.start()
        cls.monitor = contract.Monitor(cls.broker)
        cls.relay = cls.broker.relay("cert")
        cls.shop_a = FakeShop(cls.broker, "shop-a", "till-1", port=cls.relay.port)
        cls.shop_b = FakeShop(cls.broker, "shop-b", "till-1")
        cls.cloud = cls.connect_cloud()

    @classmethod
    def connect_cloud(cls, listener="cert", **kw):
        account = cls.broker.account("cloud")
        if listener == "cert":
            kw.setdefault("cert", account["cert"])
            kw.setdefault("key", account["key"])
        else:
            kw.setdefault("user", "cloud")
            kw.setdefault("password_file", account["password_file"])
        kw.setdefault("ca", cls.broker.pki.cert)
        return Cloud(cls.broker.url(listener), till="web-7", **kw)

    @classmethod
    def tearDownClass(cls):
        cls.cloud.close()
        cls.shop_b.drop()
        cls.shop_a.drop()
        cls.monitor.close()
        cls.broker.close()
        cls.tmp.cleanup()

    def tearDown(self):
        self.assertEqual(self.monitor.violations, [])
        self.assertEqual(self.shop_a.bad_jobs + self.shop_b.bad_jobs, [])

    def printed(self, shop, key):
        return [p for p in shop.printed if p[1] == key]

    def test_a_job_prints_once_and_a_repeat_answers_its_stored_result(self):
        first = self.cloud.sale("shop-a", "till-1", SALE, key="web7-1")
        self.assertEqual((first["outcome"], first["replayed"]), ("done", False))
        self.assertEqual(first["answer"]["kind"], "T")
        again = self.cloud.sale("shop-a", "till-1", SALE, key="web7-1",
                                expires_at=datetime.datetime.now(datetime.timezone.utc))
        self.assertEqual((again["outcome"], again["replayed"]), ("done", True))
        self.assertEqual(again["answer"], first["answer"])
        self.assertEqual(len(self.printed(self.shop_a, "web7-1")), 1)
        # The same key from another till is another job.
        self.cloud.sale("shop-a", "till-1", SALE, key="web7-1", till="web-8")
        self.assertEqual(len(self.printed(self.shop_a, "web7-1")), 2)
        # Each result went to this client's own reply topic, with the shop's printer named.
        # (The monitor is another subscriber: its copy of the last one may come a moment later.)
        mine = cloud.topic("results", "shop-a", "till-1", self.cloud.reply_id)
        wait_for(lambda: len(self.monitor.messages(mine)) >= 3, 5)
        self.assertEqual(len(self.monitor.messages(mine)), 3)

    def test_outcomes_that_print_nothing_raise_their_kind(self):
        past = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(seconds=5)
        other = dict(SALE, items=[dict(SALE["items"][0], price=11)],
                     payments=[dict(SALE["payments"][0], amount=11)])
        self.cloud.sale("shop-b", "till-1", SALE, key="web7-reused")
        cases = [
            ("expired", dict(key="web7-late", expires_at=past), SALE, Expired, "expired"),
            ("another body", dict(key="web7-reused"), other, Refused, "idempotency_conflict"),
            ("a wrong body", dict(key="web7-bad"), {"kind": "T"}, Refused, "bad_field"),
        ]
        for name, kw, body, kind, code in cases:
            with self.subTest(name):
                with self.assertRaises(kind) as caught:
                    self.cloud.sale("shop-b", "till-1", body, **kw)
                self.assertEqual(caught.exception.code, code)
                self.assertEqual(self.printed(self.shop_b, kw["key"]),
                                 [] if name != "another body" else
                                 [("web-7", "web7-reused", "sale")])
        self.shop_b.bad_jobs.clear()  # the wrong body was sent on purpose

    def test_in_doubt_is_surfaced_and_resolved_by_the_till(self):
        for printed, outcome in ((True, "done"), (False, "failed")):
            key = "doubt-%s" % printed
            with self.subTest(printed=printed):
                with self.assertRaises(InDoubt) as caught:
                    self.cloud.sale("shop-b", "till-1", SALE, key=key)
                self.assertTrue(caught.exception.state["documentOpen"])
                with self.assertRaises(InDoubt):  # still in doubt when asked again
                    self.cloud.sale("shop-b", "till-1", SALE, key=key)
                resolved = self.cloud.resolve("shop-b", "till-1", key, printed)
                self.assertEqual(resolved["answer"]["state"], "resolved")
                try:
                    result = self.cloud.sale("shop-b", "till-1", SALE, key=key)
                except Failed as e:
                    result = e.result
                self.assertEqual(result["outcome"], outcome)
                self.assertEqual(result["resolution"]["printed"], printed)
        with self.assertRaises(Refused) as caught:
            self.cloud.resolve("shop-b", "till-1", "web7-never", True)
        self.assertEqual(caught.exception.code, "not_found")

    def test_a_job_waits_for_a_shop_that_was_cut_off_and_prints_once_it_is_back(self):
        status = cloud.topic("status", "shop-a", "till-1")
        self.relay.cut()
        self.assertTrue(wait_for(lambda: any(m and not m["online"]
                                             for m in self.monitor.messages(status))),
                        "the last will did not mark the shop offline")
        with self.assertRaises(NoResult) as caught:
            self.cloud.sale("shop-a", "till-1", SALE, key="web7-cut", timeout=1)
        with self.assertRaises(NoResult) as short:
            self.cloud.sale("shop-a", "till-1", SALE, key="web7-gone", expires_in=1, timeout=1)
        time.sleep(1.5)
        self.relay.restore()
        self.assertTrue(wait_for(lambda: self.printed(self.shop_a, "web7-cut"), 40),
                        "the queued job never reached the shop")
        # The job that expired while the shop was away never prints, and says so when asked.
        with self.assertRaises(Expired):
            self.cloud.sale("shop-a", "till-1", SALE, key="web7-gone",
                            expires_at=short.exception.expires)
        self.assertEqual(self.printed(self.shop_a, "web7-gone"), [])
        # Asking again with the same key and expiry learns the outcome; nothing prints twice.
        again = self.cloud.sale("shop-a", "till-1", SALE, key="web7-cut",
                                expires_at=caught.exception.expires)
        self.assertTrue(again["replayed"])
        self.assertEqual(len(self.printed(self.shop_a, "web7-cut")), 1)
        self.assertTrue(self.monitor.messages(status)[-1]["online"])

    def test_a_restarted_broker_keeps_sessions_and_the_retained_status(self):
        self.broker.restart()
        result = self.cloud.x("shop-b", "till-1", key="web7-after-restart", timeout=40)
        self.assertEqual(result["outcome"], "done")
        late = contract.Monitor(self.broker)
        try:
            self.assertTrue(wait_for(lambda: late.messages(
                cloud.topic("status", "shop-b", "till-1"))), "no retained status")
        finally:
            late.close()

    def test_the_link_is_secure_by_default(self):
        b = self.broker
        cases = [
            ("plain TCP without insecure", dict(listener="plain"), ValueError),
            ("a CA that does not vouch for the broker", dict(ca=b.other_pki.cert),
             ConnectionError),
            ("a certificate of another CA", dict(cert=b.other_pki.cert, key=b.other_pki.key),
             ConnectionError),
            ("a wrong password", dict(listener="password",
                                      password_file=b.account("shop-a")["password_file"]),
             ConnectionError),
        ]
        for name, kw, error in cases:
            with self.subTest(name), self.assertRaises(error):
                self.connect_cloud(**kw).close()
        for listener, kw in (("password", {}), ("plain", {"insecure": True})):
            with self.subTest(listener):
                c = self.connect_cloud(listener, **kw)
                self.assertEqual(c.z("shop-b", "till-1")["outcome"], "done")
                c.close()

    def test_a_shops_credentials_reach_only_its_own_topics(self):
        b = self.broker

        def publish(account, topic_name):
            a = b.account(account)
            r = subprocess.run(
                ["mosquitto_pub", "-d", "-V", "mqttv5", "-q", "1", "-h", "localhost", "-p",
                 str(b.ports["cert"]), "--cafile", b.pki.cert, "--cert", a["cert"], "--key",
                 a["key"], "-t", topic_name, "-n"],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=30)
            return "Not authorized" not in r.stdout

        seen_by_b = self.shop_b.jobs_seen
        refused = [
            ("shop-a", cloud.topic("jobs", "shop-b", "till-1")),
            ("shop-a", cloud.topic("jobs", "shop-a", "till-1")),
            ("shop-a", cloud.topic("status", "shop-b", "till-1")),
            ("shop-a", cloud.topic("results", "shop-b", "till-1")),
            ("fleet", cloud.topic("jobs", "shop-b", "till-1")),
        ]
        for account, topic_name in refused:
            with self.subTest(account=account, topic=topic_name):
                self.assertFalse(publish(account, topic_name), "the broker took it")
        self.assertTrue(publish("shop-a", cloud.topic("results", "shop-a", "till-1", "x")))
        self.assertEqual(self.shop_b.jobs_seen, seen_by_b)

        # Shop A subscribes to B's results: the broker delivers none of them.
        stolen = []
        a = b.account("shop-a")
        spy = cloud.connect(b.url("cert"), "spy", ca=b.pki.cert, cert=a["cert"], key=a["key"],
                            on_message=stolen.append,
                            on_connect=lambda c: c.subscribe("fiscal/v1/shop-b/#", qos=1))
        try:
            self.assertEqual(self.cloud.x("shop-b", "till-1")["outcome"], "done")
            time.sleep(0.5)
            self.assertEqual(stolen, [])
        finally:
            spy.disconnect()
            spy.loop_stop()


if __name__ == "__main__":
    unittest.main()
