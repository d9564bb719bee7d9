// SPDX-License-Identifier: Apache-2.0
// fiscal-printd.js: a browser client of the till's local print service. One ES module with no
// dependencies; the service serves it at /v1/client.js. A web till on a site of the internet
// serves its own copy: the browser may refuse such a page the service's address, and a page
// whose import failed cannot tell the operator why (LocalNetworkDenied does).
//
//   import { Client, InDoubt } from "http://127.0.0.1:8520/v1/client.js";
//   const printd = new Client("http://127.0.0.1:8520");
//   const answer = await printd.sale({ kind: "T", items: [...], payments: [...] });
//
// Every printing method takes an idempotency key ({ key }); without one a new key is made for
// the call. When the network fails before the answer arrives, the same request is sent again
// with the same key, so the service prints it at most once. A key the service left in doubt
// raises InDoubt, carrying what the printer reports; the till looks at the paper and resolves it.
//
// A job that prints for minutes (the closing, a Z, a fiscal-memory report) is sent with
// "Prefer: respond-async": the service answers 202 at once with the journal entry's address, and
// the client asks it every pollMs until the job finished, then answers what the service would
// have answered at once. Any printing method takes { respondAsync: true | false } to choose.

export class ServiceError extends Error {
  constructor(status, body) {
    const error = (body && body.error) || {};
    super(error.message || `HTTP ${status}`);
    this.name = new.target.name;
    this.status = status;
    this.code = error.code || null;
    this.field = error.field || null;
    this.body = body;
  }
}
// The service died while printing this key: it may or may not have been printed.
export class InDoubt extends ServiceError {}
// The key was used for another request, is still being printed, or was resolved.
export class Conflict extends ServiceError {}
// A member of the body is wrong; field names it.
export class BadField extends ServiceError {}
// The service did not answer, or its queue is full.
export class Unavailable extends ServiceError {}
// The browser refused this page the service's address and sent it nothing: a page of a public
// HTTPS site reaches the till's own services only once the till's browser allowed that site.
export class LocalNetworkDenied extends Unavailable {}

const kinds = {
  in_doubt: InDoubt,
  idempotency_conflict: Conflict,
  in_progress: Conflict,
  resolved: Conflict,
  not_in_doubt: Conflict,
  bad_field: BadField,
  unencodable_text: BadField,
  queue_full: Unavailable,
};

function newKey() {
  if (globalThis.crypto && crypto.randomUUID) return crypto.randomUUID();
  return `k${Date.now().toString(36)}-${Math.random().toString(36).slice(2, 12)}`;
}

const pause = (ms) => new Promise((done) => setTimeout(done, ms));

// What a browser that refused a page the service's address calls the permission, in its site
// settings and in its policies: one for the till itself, one for other machines of the shop.
const grants = {
  loopback: {
    names: ["loopback-network", "local-network-access"],
    what: "other apps and services on this device",
    setting: "Apps on device",
    policy: "LoopbackNetworkAllowedForUrls",
  },
  local: {
    names: ["local-network", "local-network-access"],
    what: "other devices on your local network",
    setting: "Local network",
    policy: "LocalNetworkAllowedForUrls",
  },
};

// After a try that got no answer: the LocalNetworkDenied error when the browser refused this
// page the service's address, else null. The browser then sends nothing and fetch fails as a
// lost network would; only the page's permission tells the two apart, and only a secure page
// can hold one.
async function refusal(url, cause) {
  const permissions = globalThis.navigator && navigator.permissions;
  if (!globalThis.isSecureContext || !permissions) return null;
  const host = new URL(url).hostname;
  const loopback = /^(localhost|127\.\d+\.\d+\.\d+|\[::1\])$/i.test(host);
  const grant = loopback ? grants.loopback : grants.local;
  for (const name of grant.names) {
    let state;
    try {
      state = (await permissions.query({ name })).state;
    } catch {
      continue; // a browser that does not know this permission
    }
    if (state !== "denied") return null;
    const site = location.origin;
    const message =
      `the browser refused this page (${site}) access to the print service at ${url} and sent ` +
      `it nothing: the site is not allowed to access ${grant.what}. Allow it once on this ` +
      `till: in the site's settings (${grant.setting}: Allow), or with the browser policy ` +
      `${grant.policy} listing ${site}`;
    const e = new LocalNetworkDenied(0, { error: { code: "local_network_denied", message } });
    e.cause = cause;
    return e;
  }
  return null;
}

export class Client {
  // options: token (the bearer token), retries (more tries after a network failure or while
  // the first try is still printing, default 5), retryDelayMs (default 500), respondAsync (for
  // every printing method; by default only the closing, the Z and the fiscal-memory reports),
  // pollMs (between two looks at a job answered later, default 500), fetch (a fetch function in
  // place of the browser's).
  constructor(url = "http://127.0.0.1:8520", options = {}) {
    this.url = url.replace(/\/+$/, "");
    this.token = options.token || null;
    this.retries = options.retries ?? 5;
    this.retryDelayMs = options.retryDelayMs ?? 500;
    this.respondAsync = options.respondAsync ?? null;
    this.pollMs = options.pollMs ?? 500;
    this.fetch = options.fetch || globalThis.fetch.bind(globalThis);
    this.lastKey = null; // the key of the last printing request
    this.lastReplayed = false; // its answer was the stored one: nothing was printed again
  }

  async request(method, path, body, key, respondAsync = false) {
    const headers = { "Content-Type": "application/json" };
    if (key) headers["Idempotency-Key"] = key;
    if (respondAsync) headers.Prefer = "respond-async";
    if (this.token) headers.Authorization = `Bearer ${this.token}`;
    const init = { method, headers };
    if (body !== undefined) init.body = JSON.stringify(body);
    for (let attempt = 0; ; attempt++) {
      let res;
      try {
        res = await this.fetch(this.url + path, init);
      } catch (cause) {
        // The browser refuses every try alike.
        const refused = await refusal(this.url, cause);
        if (refused) throw refused;
        // No answer: only a request with a key may be sent again.
        if (key && attempt < this.retries) {
          await pause(this.retryDelayMs);
          continue;
        }
        const e = new Unavailable(0, { error: { code: "unavailable", message: String(cause) } });
        e.cause = cause;
        throw e;
      }
      const text = await res.text();
      let answer;
      try {
        answer = JSON.parse(text);
      } catch {
        answer = { error: { code: null, message: text } };
      }
      if (res.ok) {
        if (key) {
          this.lastKey = key;
          this.lastReplayed = res.headers.get("Idempotent-Replay") === "true";
        }
        if (res.status === 202 && key) {
          const at = res.headers.get("Location") || `/v1/journal/${encodeURIComponent(key)}`;
          return this.follow(at, answer);
        }
        return answer;
      }
      const code = answer && answer.error ? answer.error.code : null;
      // A try cut by the network may still be printing: wait for its stored answer.
      if (key && code === "in_progress" && attempt < this.retries) {
        await pause(this.retryDelayMs);
        continue;
      }
      const Kind = kinds[code] || (res.status === 503 ? Unavailable : ServiceError);
      throw new Kind(res.status, answer);
    }
  }

  // A job answered later (202): its journal entry at `at`, asked again until the job finished;
  // then its stored answer, or the error the service would have answered at once.
  async follow(at, entry) {
    const path = at.startsWith(this.url) ? at.slice(this.url.length) : at;
    for (let misses = 0; !entry || entry.progress !== "finished"; ) {
      await pause(this.pollMs);
      try {
        entry = await this.request("GET", path);
        misses = 0;
      } catch (e) {
        // The job goes on whether the till sees it or not: only a long silence gives up.
        if (!(e instanceof Unavailable) || e.status !== 0 || ++misses > this.retries) throw e;
      }
    }
    const answer = entry.answer;
    if (entry.state === "in_doubt") {
      const message = `the request with the key ${entry.key} is in doubt`;
      const body = answer && answer.error ? answer : { error: { code: "in_doubt", message } };
      throw new InDoubt(409, body);
    }
    const status = entry.status ?? 200;
    if (status < 300) return answer;
    const code = answer && answer.error ? answer.error.code : null;
    const Kind = kinds[code] || (status === 503 ? Unavailable : ServiceError);
    throw new Kind(status, answer);
  }

  print(path, body, key, respondAsync) {
    const later = respondAsync ?? this.respondAsync;
    return this.request("POST", path, body || {}, key || newKey(), later);
  }

  // Any entry point: call("Nr_Cupom", {}, { key }).
  call(entryPoint, args = {}, { key, respondAsync } = {}) {
    return this.print(`/v1/call/${encodeURIComponent(entryPoint)}`, args, key, respondAsync);
  }
  sale(sale, { key, respondAsync } = {}) {
    return this.print("/v1/sales", sale, key, respondAsync);
  }
  supply(amount, { opening = false, key, respondAsync } = {}) {
    return this.print("/v1/cash/supply", { amount, opening }, key, respondAsync);
  }
  x({ key, respondAsync, ...body } = {}) {
    return this.print("/v1/x", body, key, respondAsync);
  }
  // The Z, the closing and the fiscal-memory reports print for minutes: answered later unless
  // respondAsync is false (here or in the client's options).
  z({ key, respondAsync, ...body } = {}) {
    return this.print("/v1/z", body, key, respondAsync ?? this.respondAsync ?? true);
  }
  closing(body, { key, respondAsync } = {}) {
    return this.print("/v1/closing", body, key, respondAsync ?? this.respondAsync ?? true);
  }
  // A fiscal-memory report: by "date" ("YYYY-MM-DD" to "YYYY-MM-DD") or by "z" (Z numbers).
  fiscalMemoryReport(by, from, to, { detail = false, key, respondAsync } = {}) {
    return this.print(
      "/v1/reports/fiscal-memory",
      { by, from, to, detail },
      key,
      respondAsync ?? this.respondAsync ?? true,
    );
  }

  status() {
    return this.request("GET", "/v1/status");
  }
  journal(limit = 20) {
    return this.request("GET", `/v1/journal?limit=${limit}`);
  }
  resolve(key, printed, { cancelOpenTicket = false } = {}) {
    return this.request("POST", `/v1/journal/${encodeURIComponent(key)}/resolve`, {
      printed,
      cancelOpenTicket,
    });
  }
}

export default Client;
