# SPDX-License-Identifier: Apache-2.0
"""A chain's MQTT broker for tests: Debian's mosquitto on free loopback ports.

The broker runs the configuration and access rules that the chain link's guide ships
(docs/chain-link/mosquitto.conf and chain-link.acl, persistence on), with a CA, a server
certificate for localhost and 127.0.0.1, and a client certificate and a password for every
account (each shop, the cloud, the fleet), all made in a folder of the test's. Listeners:

    cert       TLS, a client certificate required; its common name is the account
    password   TLS, user name and password
    plain      plain TCP, user name and password (only with plain=True)

A Relay sits between a client and a listener and can cut every connection through it and
refuse new ones until it is restored.

From Python:

    with Broker(folder, shops=["shop-a", "shop-b"]) as b:
        b.url("cert")                  # mqtts://localhost:PORT
        b.account("shop-a")            # {"cert", "key", "user", "password", "password_file"}
        relay = b.relay("cert"); relay.cut(); relay.restore()
        b.restart()                    # same ports, queued messages and retained ones kept

As a helper process for other languages (tests/support/broker/broker.h):

    python3 broker.py --dir DIR --shop shop-a --shop shop-b [--plain]

prints one JSON line describing the broker, then answers one JSON line per command read on
standard input: restart, stop, start, relay LISTENER, cut ID, restore ID, shop-up SHOP PRINTER
STATUS_JSON, shop-down SHOP PRINTER (the connection dropped: the last will is published),
quit. End of input stops everything.
"""

import argparse
import ctypes
import getpass
import json
import os
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

HOST = "127.0.0.1"
# Debian installs the broker in /usr/sbin, which a user's PATH may lack.
MOSQUITTO = shutil.which("mosquitto", path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
CLOUD = "cloud"
FLEET = "fleet"

# The broker's configuration and access rules are the examples the chain link's guide ships
# (docs/chain-link/), with this test's ports, files and log.
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "docs",
                        "chain-link")


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def _die_with_parent():
    # The broker ends when the process that started it ends, however it ends.
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def _run(*argv):
    r = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if r.returncode != 0:
        raise RuntimeError("%s failed: %s" % (argv[0], r.stdout))


class Pki:
    """A CA and the certificates signed by it, made with openssl in a folder."""

    def __init__(self, folder, name):
        self.folder = folder
        self.key = os.path.join(folder, name + "-ca.key")
        self.cert = os.path.join(folder, name + "-ca.pem")
        _run("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
             "-nodes", "-keyout", self.key, "-out", self.cert, "-days", "2", "-subj",
             "/CN=%s test CA" % name)

    def issue(self, name, cn, server=False):
        """Makes name.key and name.pem for the common name cn; gives their paths."""
        key = os.path.join(self.folder, name + ".key")
        cert = os.path.join(self.folder, name + ".pem")
        csr = os.path.join(self.folder, name + ".csr")
        ext = os.path.join(self.folder, name + ".ext")
        with open(ext, "w") as f:
            if server:
                f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n")
            else:
                f.write("extendedKeyUsage=clientAuth\n")
        _run("openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
             "-keyout", key, "-out", csr, "-subj", "/CN=" + cn)
        _run("openssl", "x509", "-req", "-in", csr, "-CA", self.cert, "-CAkey", self.key,
             "-CAcreateserial", "-out", cert, "-days", "2", "-extfile", ext)
        os.chmod(key, 0o600)
        return cert, key


class Relay:
    """Forwards TCP connections from a free loopback port to a target port; cut() drops every
    connection and refuses new ones until restore()."""

    def __init__(self, target_port):
        self.target = target_port
        self.port = free_port()
        self._open = True
        self._pairs = []
        self._lock = threading.Lock()
        self._server = socket.create_server((HOST, self.port))
        self._stop = False
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while not self._stop:
            try:
                client, _ = self._server.accept()
            except OSError:
                return
            with self._lock:
                if not self._open:
                    client.close()
                    continue
            try:
                upstream = socket.create_connection((HOST, self.target), timeout=5)
            except OSError:
                client.close()
                continue
            with self._lock:
                self._pairs.append((client, upstream))
            threading.Thread(target=self._pump, args=(client, upstream), daemon=True).start()

    def _pump(self, a, b):
        sel = selectors.DefaultSelector()
        sel.register(a, selectors.EVENT_READ, b)
        sel.register(b, selectors.EVENT_READ, a)
        try:
            while True:
                for key, _ in sel.select():
                    data = key.fileobj.recv(65536)
                    if not data:
                        return
                    key.data.sendall(data)
        except OSError:
            return
        finally:
            sel.close()
            self._close(a, b)

    def _close(self, a, b):
        for s in (a, b):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()
        with self._lock:
            if (a, b) in self._pairs:
                self._pairs.remove((a, b))

    def cut(self):
        with self._lock:
            self._open = False
            pairs = list(self._pairs)
        for a, b in pairs:
            self._close(a, b)

    def restore(self):
        with self._lock:
            self._open = True

    def close(self):
        self._stop = True
        self.cut()
        self._server.close()


class Broker:
    """mosquitto with the chain link's TLS listeners, accounts and access rules."""

    def __init__(self, folder, shops=(), plain=False):
        self.folder = os.path.abspath(folder)
        self.shops = list(shops)
        self.pki = Pki(self.folder, "chain")
        self.server_cert, self.server_key = self.pki.issue("server", "localhost", server=True)
        # Another CA, whose certificates the broker does not take and which does not vouch for
        # the broker.
        self.other_pki = Pki(self.folder, "other")
        self.ports = {"cert": free_port(), "password": free_port()}
        if plain:
            self.ports["plain"] = free_port()
        self.accounts = {}
        passwd = os.path.join(self.folder, "passwords")
        for name in [CLOUD, FLEET] + self.shops:
            cert, key = self.pki.issue(name, name)
            password = name + "-secret-" + os.urandom(6).hex()
            password_file = os.path.join(self.folder, name + ".password")
            with open(os.open(password_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w") as f:
                f.write(password + "\n")
            _run("mosquitto_passwd", "-b", *([] if os.path.exists(passwd) else ["-c"]), passwd,
                 name, password)
            self.accounts[name] = {"user": name, "password": password,
                                   "password_file": password_file, "cert": cert, "key": key}
        os.chmod(passwd, 0o600)
        self.acl_file = os.path.normpath(os.path.join(EXAMPLES, "chain-link.acl"))
        self.data = os.path.join(self.folder, "data")
        os.makedirs(self.data, exist_ok=True)
        self.log = os.path.join(self.folder, "mosquitto.log")
        self.conf = os.path.join(self.folder, "mosquitto.conf")
        with open(self.conf, "w") as f:
            f.write(self._config(passwd))
        self._proc = None
        self._relays = []

    def _config(self, passwd):
        with open(os.path.join(EXAMPLES, "mosquitto.conf")) as f:
            text = f.read()
        for example, here in (
                ("/etc/mosquitto/passwords", passwd),
                ("/etc/mosquitto/chain-link.acl", self.acl_file),
                ("/var/lib/mosquitto/", self.data + "/"),
                ("/etc/mosquitto/certs/chain-ca.pem", self.pki.cert),
                ("/etc/mosquitto/certs/broker.pem", self.server_cert),
                ("/etc/mosquitto/certs/broker.key", self.server_key),
                ("listener 8883\n", "listener %d %s\n" % (self.ports["cert"], HOST)),
                ("listener 8884\n", "listener %d %s\n" % (self.ports["password"], HOST)),
                ("log_dest syslog", "log_dest file " + self.log)):
            if example not in text:
                raise RuntimeError("the example broker configuration lacks " + example.strip())
            text = text.replace(example, here)
        text += "\nuser %s\n" % getpass.getuser()
        if "plain" in self.ports:
            text += "\nlistener %d %s\n" % (self.ports["plain"], HOST)
        return text

    def url(self, listener="cert", port=None):
        scheme = "mqtt" if listener == "plain" else "mqtts"
        return "%s://localhost:%d" % (scheme, port or self.ports[listener])

    def account(self, name):
        return self.accounts[name]

    def start(self):
        if self._proc is not None:
            return
        with open(self.log, "a") as out:
            self._proc = subprocess.Popen([MOSQUITTO, "-c", self.conf], stdout=out,
                                          stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                          preexec_fn=_die_with_parent)
        deadline = time.monotonic() + 10
        waiting = set(self.ports.values())
        while waiting and time.monotonic() < deadline:
            if self._proc.poll() is not None:
                raise RuntimeError("mosquitto ended at start: " + self._tail())
            for port in list(waiting):
                try:
                    socket.create_connection((HOST, port), timeout=0.2).close()
                    waiting.discard(port)
                except OSError:
                    pass
            time.sleep(0.05)
        if waiting:
            self.stop()
            raise RuntimeError("mosquitto does not listen on %s: %s" % (sorted(waiting), self._tail()))

    def _tail(self):
        try:
            with open(self.log) as f:
                return "".join(f.readlines()[-20:])
        except OSError:
            return ""

    def stop(self):
        """Stops the broker as a service manager would (SIGTERM); it saves its data first."""
        if self._proc is None:
            return
        self._proc.terminate()
        try:
            self._proc.wait(10)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait()
        self._proc = None

    def restart(self):
        self.stop()
        self.start()

    def relay(self, listener="cert"):
        r = Relay(self.ports[listener])
        self._relays.append(r)
        return r

    def close(self):
        for r in self._relays:
            r.close()
        self._relays = []
        self.stop()

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.close()

    def describe(self):
        return {"host": "localhost", "ports": self.ports, "ca": self.pki.cert,
                "otherCa": self.other_pki.cert, "accounts": self.accounts, "log": self.log,
                "urls": {name: self.url(name) for name in self.ports}}


def _serve(args):
    """The helper process: one JSON line per command on standard input."""
    from fake_shop import FakeShop  # beside this file

    broker = Broker(args.dir, shops=args.shop, plain=args.plain)
    broker.start()
    relays, shops = {}, {}

    def say(obj):
        sys.stdout.write(json.dumps(obj) + "\n")
        sys.stdout.flush()

    say(dict(broker.describe(), ready=True))
    try:
        for line in sys.stdin:
            words = line.split(maxsplit=3)
            if not words:
                continue
            cmd = words[0]
            try:
                if cmd == "quit":
                    break
                elif cmd in ("restart", "stop", "start"):
                    getattr(broker, cmd)()
                    say({"ok": True})
                elif cmd == "relay":
                    r = broker.relay(words[1])
                    relays[str(r.port)] = r
                    say({"ok": True, "id": str(r.port), "port": r.port})
                elif cmd in ("cut", "restore"):
                    getattr(relays[words[1]], cmd)()
                    say({"ok": True})
                elif cmd == "shop-up":
                    shop = FakeShop(broker, words[1], words[2], status=json.loads(words[3]))
                    shops[(words[1], words[2])] = shop
                    say({"ok": True})
                elif cmd == "shop-down":
                    shops.pop((words[1], words[2])).drop()
                    say({"ok": True})
                else:
                    say({"ok": False, "error": "unknown command " + cmd})
            except Exception as e:  # a test's mistake is answered, the broker stays up
                say({"ok": False, "error": "%s: %s" % (type(e).__name__, e)})
    finally:
        for shop in shops.values():
            shop.drop()
        broker.close()


if __name__ == "__main__":
    p = argparse.ArgumentParser(description="A chain's MQTT broker for tests.")
    p.add_argument("--dir", required=True)
    p.add_argument("--shop", action="append", default=[])
    p.add_argument("--plain", action="store_true")
    _serve(p.parse_args())
