# SPDX-License-Identifier: Apache-2.0
"""The Python and browser clients follow a job the service answers later (202 and Location):
they ask its journal entry until the job finished, then answer what the service would have
answered at once. Both run the same cases against one fake service."""

import json
import os
import shutil
import subprocess
import tempfile
import threading
import unittest
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

import fiscal_printd as f

CLIENT_JS = os.path.join(os.path.dirname(f.__file__), "..", "fiscal-printd.js")

DONE = {"ok": True, "number": "00000007"}
DOUBT = {"error": {"code": "in_doubt", "field": None, "message": "the link could not tell"}}
OPEN = {"error": {"code": "document_open", "field": None, "message": "a document is open"}}

# The finished entry of each key's job, by the key's first word.
FINISHED = {
    "done": {"state": "done", "status": 200, "answer": DONE},
    "doubt": {"state": "in_doubt", "status": None, "answer": DOUBT},
    "open": {"state": "done", "status": 409, "answer": OPEN},
}

# (client options, method, arguments, key, respond_async) and what each client answers or
# raises, whether it asked for a later answer, and how often it looked at the entry.
CASES = [
    ({}, "sale", [{}], "sync-sale", None, {"result": {"ok": True, "sync": True}}, False, 0),
    ({}, "sale", [{}], "done-sale", True, {"result": DONE}, True, 2),
    ({}, "z", [], "done-z", None, {"result": DONE}, True, 2),
    ({}, "z", [], "sync-z", False, {"result": {"ok": True, "sync": True}}, False, 0),
    ({}, "closing", [{}], "doubt-closing", None, {"error": ["InDoubt", 409, "in_doubt"]}, True, 2),
    ({}, "fiscal_memory_report", ["z", 1, 2], "open-report", None,
     {"error": ["Error", 409, "document_open"]}, True, 2),
    ({"respond_async": True}, "x", [], "done-x", None, {"result": DONE}, True, 2),
]


class FakeService(BaseHTTPRequestHandler):
    """Answers 202 to a printing request that prefers it; its entry shows queued, running, then
    the finished job."""

    def log_message(self, *args):
        pass

    def answer(self, status, body, headers=()):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        key = self.headers["Idempotency-Key"]
        asked = self.headers.get("Prefer") == "respond-async"
        self.server.seen[key] = {"async": asked, "polls": 0}
        if not asked:
            return self.answer(200, {"ok": True, "sync": True})
        entry = {"key": key, "state": "queued", "status": None, "progress": "queued",
                 "answer": None}
        self.answer(202, entry, [("Location", "/v1/journal/" + key)])

    def do_GET(self):
        key = self.path.rsplit("/", 1)[-1]
        seen = self.server.seen[key]
        seen["polls"] += 1
        entry = {"key": key, "state": "started", "status": None, "progress": "running",
                 "answer": None}
        if seen["polls"] >= 2:
            entry.update(FINISHED[key.split("-")[0]], progress="finished")
        self.answer(200, entry)


def python_outcome(options, method, args, key, respond_async, url):
    c = f.Client(url, poll_interval=0.02, **options)
    try:
        return {"result": getattr(c, method)(*args, key=key, respond_async=respond_async)}
    except f.Error as e:
        return {"error": [type(e).__name__, e.status, e.code]}


# The same calls through the browser client, in node: its outcomes as one JSON list.
JS_CASES = """
import { Client, ServiceError } from "./fiscal-printd.mjs";
const cases = JSON.parse(process.argv[2]);
const camel = (s) => s.replace(/_(.)/g, (_, c) => c.toUpperCase());
const out = [];
for (const [options, method, args, key, respondAsync, url] of cases) {
  const opts = { pollMs: 20, retryDelayMs: 20 };
  if (options.respond_async !== undefined) opts.respondAsync = options.respond_async;
  const c = new Client(url, opts);
  const call = { key };
  if (respondAsync !== null) call.respondAsync = respondAsync;
  try {
    out.push({ result: await c[camel(method)](...args, call) });
  } catch (e) {
    out.push(e instanceof ServiceError ? { error: [e.name, e.status, e.code] }
                                       : { error: String(e) });
  }
}
console.log(JSON.stringify(out));
"""


class FollowTest(unittest.TestCase):
    def setUp(self):
        self.server = ThreadingHTTPServer(("127.0.0.1", 0), FakeService)
        self.server.seen = {}
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = "http://127.0.0.1:%d" % self.server.server_address[1]

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()

    def check(self, client, outcomes):
        for (options, method, args, key, _, want, asked, polls), got in zip(CASES, outcomes):
            with self.subTest(client=client, key=key):
                self.assertEqual(got, want)
                self.assertEqual(self.server.seen[key]["async"], asked)
                self.assertEqual(self.server.seen[key]["polls"], polls)

    def test_python_client(self):
        self.check("python", [python_outcome(o, m, a, k, r, self.url)
                              for o, m, a, k, r, *_ in CASES])

    @unittest.skipUnless(shutil.which("node"), "node is not installed")
    def test_browser_client(self):
        with tempfile.TemporaryDirectory() as tmp:
            shutil.copy(CLIENT_JS, os.path.join(tmp, "fiscal-printd.mjs"))
            with open(os.path.join(tmp, "cases.mjs"), "w") as out:
                out.write(JS_CASES)
            # The fiscal-memory report's arguments are (by, from, to) in both clients.
            cases = [[o, m, a, k, r, self.url] for o, m, a, k, r, *_ in CASES]
            run = subprocess.run(["node", "cases.mjs", json.dumps(cases)], cwd=tmp,
                                 capture_output=True, text=True, timeout=60)
            self.assertEqual(run.returncode, 0, run.stderr)
            outcomes = json.loads(run.stdout)
        # The browser client names its base error ServiceError.
        for o in outcomes:
            if "error" in o and o["error"][0] == "ServiceError":
                o["error"][0] = "Error"
        self.check("browser", outcomes)


if __name__ == "__main__":
    unittest.main()
