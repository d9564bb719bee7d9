#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Runs a demo scenario (docs/demo-scenarios.md) through the print service.

Each entry point of the scenario becomes one POST /v1/call/<EntryPoint> with the arguments the
demo host passes, each with its own Idempotency-Key; the host files the scenario writes
(settings, savefile) travel in the "hostFiles" of the next call, and the service writes them into
its state folder, the driver's host folder. For each call it shows what the demo host shows: the call, its result
and by-reference outputs, the dialogs, the paper printed (with the emulator) and the log lines.

  scenario_day.py --url http://127.0.0.1:8520 [--state DIR] [--json FILE] [SCENARIO]

--state names the service's state folder, where removefile removes a host file already sent.

--json writes the requests of the whole day (path, key and body of each) to FILE as well.
Uses only Python's standard library and the service's Python client.
"""

import argparse
import datetime
import json
import os
import sys
import uuid

sys.dont_write_bytecode = True  # runs from the source tree; leaves nothing in it
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "client"))
import fiscal_printd  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_SCENARIO = os.path.join(HERE, "..", "tools", "scenarios", "default.txt")
SETTINGS_KEY = 7  # the key with which hosts encipher the settings file's fields
FIELD_TYPES = {"S": "string", "F": "float", "I": "integer", "B": "boolean", "D": "datetime"}


class ScenarioError(Exception):
    pass


# ---- the scenario format ---------------------------------------------------------------------

def tokenize(line):
    out, cur, in_quotes, have, i = [], "", False, False, 0
    while i < len(line):
        c = line[i]
        if in_quotes:
            if c == "\\" and line[i + 1:i + 2] == '"':
                cur += '"'
                i += 1
            elif c == '"':
                in_quotes = False
            else:
                cur += c
        elif c == '"':
            in_quotes = have = True
        elif c in " \t":
            if have:
                out.append(cur)
            cur, have = "", False
        else:
            cur += c
            have = True
        i += 1
    if in_quotes:
        raise ScenarioError("unterminated quote")
    if have:
        out.append(cur)
    return out


def parse_args(tokens):
    args = {}
    for t in tokens:
        key, eq, value = t.partition("=")
        if not eq or not key:
            raise ScenarioError(f"expected KEY=VALUE, found '{t}'")
        args[key] = value
    return args


def parse_field(text):
    name, _, kind = text.partition(":")
    if not name or not kind or kind[0] not in FIELD_TYPES:
        raise ScenarioError(f"field '{text}' must be NAME:TYPE (S, S40, F, I, B, D)")
    field = {"name": name, "type": FIELD_TYPES[kind[0]]}
    if kind[0] == "S":
        field["size"] = int(kind[1:]) if len(kind) > 1 else 20
    return field


def parse_cell(field, text):
    if text == "null":
        return None
    try:
        return {"string": lambda: text, "float": lambda: float(text), "integer": lambda: int(text),
                "boolean": lambda: text in ("S", "true"),
                "datetime": lambda: float(text)}[field["type"]]()
    except ValueError:
        raise ScenarioError(f"value '{text}' does not fit field {field['name']}") from None


# ---- the host files the driver reads from its folder -----------------------------------------

# The host files the service writes for a call (hostFiles), by their fixed names.
HOST_FILES = ("cdsVenda.cds", "Quorilo.cds")


def cripto(clear, key):
    """The settings file's cipher: each byte shifted by key + its position, as two hex digits."""
    out = []
    for i, byte in enumerate(clear.encode("cp1252")):
        out.append("%02X" % ((byte + key + i % 256) % 256))
    return "".join(out)


# ---- the demo host's calls as request bodies ---------------------------------------------------

def days_now():
    """The local time as days since 30/12/1899, as the host's clock gives it."""
    delta = datetime.datetime.now() - datetime.datetime(1899, 12, 30)
    return delta.days + delta.seconds / 86400.0


class Day:
    def __init__(self, client, state, out):
        self.client, self.state, self.out = client, state, out
        self.datasets, self.answers, self.requests = {}, [], []
        self.host_files = {}  # written by the scenario, sent with the next call
        self.paper_next = 0
        self.calls = self.raised = 0

    def dataset(self, args, key):
        name = args.get(key)
        if name is None:
            return self.empty()
        if name not in self.datasets:
            raise ScenarioError(f"no dataset named '{name}'")
        return self.datasets[name]

    @staticmethod
    def empty():
        return {"fields": [{"name": "ID", "type": "integer"}], "rows": []}

    @staticmethod
    def number(args, key, default=0.0):
        try:
            return float(args.get(key, default))
        except ValueError:
            raise ScenarioError(f"'{key}' must be a number written with '.', found "
                                f"'{args[key]}'") from None

    @staticmethod
    def flag(args, key, default=False):
        value = args.get(key)
        if value is None:
            return default
        if value in ("S", "yes", "true"):
            return True
        if value in ("N", "no", "false"):
            return False
        raise ScenarioError(f"'{key}' must be S or N, found '{value}'")

    def host_file(self, name, ds):
        if name not in HOST_FILES:
            raise ScenarioError(f"the service writes only the host files {', '.join(HOST_FILES)}; "
                                f"'{name}' is none of them")
        self.host_files[name] = {"fields": [dict(f) for f in ds["fields"]],
                                 "rows": [list(r) for r in ds["rows"]]}

    def body(self, name, a):
        """The body of /v1/call/<name> for the scenario's arguments, or None when unknown."""
        bundle = {"Params": dict(sorted(a.items()))}
        if name in ("StartImpFiscal", "AbreCupom", "VendaItem", "Carrega_Dados_Impressora"):
            return bundle
        if name == "Cancela_ItGenerico":
            return {"stEsquemaCor": a.get("ESQUEMA", ""), "NmProd": a.get("NMPROD", ""),
                    "TaxaIva": a.get("TAXAIVA", ""), "Qualificador": a.get("QUALIFICADOR", "m"),
                    "QtdeCultos": a.get("QTDECULTOS", "0"),
                    "ImposInterPerc": a.get("IMPOSINTERPERC", "0"),
                    "ImpostoInterFixo": a.get("IMPOSTOINTERFIXO", "0"),
                    "stTipoTicket": a.get("TIPOTICKET", ""), "doQtda": self.number(a, "QTDE"),
                    "doValor": self.number(a, "VALOR")}
        if name == "FechaCupom":
            ar = [""] * 43
            ar[2], ar[3], ar[4], ar[5] = a.get("ESQUEMA", ""), 0, False, False
            ar[6], ar[7], ar[8], ar[11] = self.number(a, "DESCONTO"), 0.0, 0.0, False
            ar[13], ar[14] = self.dataset(a, "MOVCAIXA"), self.dataset(a, "RECEB")
            ar[30], ar[32], ar[33], ar[34] = a.get("TIPOTICKET", ""), *[self.empty()] * 3
            ar[37], ar[38], ar[42] = 0.0, 0.0, a.get("NRCUPOM", "")
            return {"arParams": ar, "stlCupomTef": [], "oleRetorno": [-1, "?", "?"]}
        if name in ("Cancela_Cupom_Imp", "Abre_Gaveta_Imp", "Estado_Imp", "Nr_Cupom",
                    "BuscaDadosReducaoZ", "DataMoviFiscal", "Estado_Gaveta_Imp", "DadosUltimaRedZ"):
            return {}
        if name == "Codigo_Nacional_ECF":
            return {"IdTipoImpFis": 0}
        if name == "VerificaData":
            return {"stEsquemaCor": a.get("ESQUEMA", "")}
        if name == "Suprimento":
            return {"stEsquemaCor": a.get("ESQUEMA", ""), "doValor": self.number(a, "VALOR"),
                    "boEntraCaixa": self.flag(a, "ABERTURA")}
        if name in ("Leitura_X_Imp", "Reducao_Z_Imp"):
            return {"stEsquemaCor": a.get("ESQUEMA", "")}
        if name == "GetValue":
            return {"stValor": a.get("VALOR", "")}
        if name == "Sangria":
            return {"doValor": self.number(a, "VALOR")}
        if name == "Relatorio_Produto":
            return {"stCupomDia": a.get("CUPOMDIA", ""), "cdsProdAux": self.dataset(a, "PROD"),
                    "stEmiRelProd": a.get("EMIRELPROD", "N"),
                    "stTribRelPro": a.get("TRIBRELPRO", "N"), "stIdEsquema": a.get("ESQUEMA", ""),
                    "boCtrlCupom": self.flag(a, "CTRLCUPOM", True)}
        if name == "GeraReciboSangria":
            d = lambda key: self.dataset(a, key)  # noqa: E731
            return {
                "stCdPortaImpFis": a.get("PORTA", "COM1"), "stNrSerie": a.get("SERIE", ""),
                "stCdFilial": a.get("FILIAL", ""), "stCdCaixa": a.get("CAIXA", ""),
                "stCupomDia": a.get("CUPOMDIA", ""), "cdsMovFechaAux": d("MOVFECHA"),
                "cdsSangriaAux": d("SANGRIADS"), "cdsProdAux": d("PROD"),
                "cdsOperSup": d("OPERSUP"), "cdsMovTotAux": d("MOVTOT"),
                "cdsMovAbertura": d("MOVABERTURA"), "cdsProdFechamento": d("PRODFECH"),
                "dtAberCaixa": days_now(), "boImpRelSan": self.flag(a, "IMPRELSAN", True),
                "boImprimeRedZ": self.flag(a, "IMPRIMEREDZ", True), "Reducao": False,
                "cdsTipoRece": d("TIPORECE"), "stEmiRelProd": a.get("EMIRELPROD", "N"),
                "stTribRelPro": a.get("TRIBRELPRO", "N"), "stImpLeituraX": a.get("LEITURAX", "N"),
                "idImpEnvelope": a.get("ENVELOPE", "N"), "stIdEsquema": a.get("ESQUEMA", ""),
                "boSangria": self.flag(a, "SANGRIA"), "boFechDiaAnterior": False,
                "boAccessImpRedz": self.flag(a, "ACCESSREDZ", True),
                "stTipoSangria": a.get("TIPOSANGRIA", ""), "stDescSangria": a.get("DESCSANGRIA", "")}
        return None

    # ---- running and showing ---------------------------------------------------------------

    def say(self, text=""):
        print(text, file=self.out)

    def call(self, name, args, raw):
        body = self.body(name, args)
        if body is None:
            raise ScenarioError(f"unknown command or entry point '{name}'")
        if self.answers:
            body["answers"], self.answers = self.answers, []
        if self.host_files:
            body["hostFiles"], self.host_files = self.host_files, {}
        key = "day-" + uuid.uuid4().hex
        self.requests.append({"path": "/v1/call/" + name, "key": key, "body": body})
        self.say("> " + raw.strip())
        self.calls += 1
        try:
            answer = self.client.call(name, body, key=key)
        except fiscal_printd.Error as e:
            if e.code != "driver_raised":
                raise
            self.raised += 1
            self.say("  raised to the host: " + e.message)
            answer = e.body if isinstance(e.body, dict) else {}
        else:
            self.show_answer(answer)
        self.show_printed(answer)

    def show_answer(self, answer):
        result = answer.get("result")
        if isinstance(result, bool):
            self.say("  result: " + ("True" if result else "False"))
        elif result is not None:
            self.say("  result: " + json.dumps(result, ensure_ascii=False))
        for name, value in answer.get("out", {}).items():
            self.say(f"  {name}: " + json.dumps(value, ensure_ascii=False))
        for d in answer.get("dialogs", []):
            if d.get("question"):
                yes = "yes" if d.get("answer") else "no"
                self.say(f"  question [scheme {d.get('scheme', '')}]: {d.get('text', '')} -> {yes}")
            else:
                self.say(f"  dialog (kind {d.get('kind')}, scheme {d.get('scheme', '')}): "
                         f"{d.get('text', '')}")

    def show_printed(self, answer):
        paper = self.client.paper(self.paper_next)
        self.paper_next = paper["next"]
        if paper["lines"]:
            self.say("  printer:")
            self.say("    +" + "-" * 40 + "+")
            for line in paper["lines"]:
                self.say("    |" + line.ljust(40) + "|")
            self.say("    +" + "-" * 40 + "+")
        log = answer.get("log", [])
        if log:
            self.say("  log:")
            for line in log:
                for part in line.split("\n"):
                    self.say("    " + part.rstrip("\r"))
        self.say()

    def run(self, lines):
        current, fields = None, []
        for number, raw in enumerate(lines, 1):
            try:
                t = tokenize(raw)
                if not t or t[0].startswith("#"):
                    continue
                if current is not None:
                    if t[0] == "fields":
                        fields = [parse_field(x) for x in t[1:]]
                        current["fields"] = fields
                    elif t[0] == "row":
                        if len(t) - 1 != len(fields):
                            raise ScenarioError(f"row has {len(t) - 1} values for "
                                                f"{len(fields)} fields")
                        current["rows"].append([parse_cell(f, v) for f, v in zip(fields, t[1:])])
                    elif t[0] == "end":
                        current = None
                    else:
                        raise ScenarioError("inside a dataset only 'fields', 'row' and 'end' "
                                            "are allowed")
                    continue
                self.line(t, raw)
                if t[0] == "dataset":
                    current, fields = self.datasets[t[1]], []
            except ScenarioError as e:
                raise ScenarioError(f"{number}: {e}") from None
        self.say(f"Scenario done: {self.calls} calls, {self.raised} raised to the host.")

    def line(self, t, raw):
        cmd = t[0]
        if cmd == "echo":
            self.say(f"\n=== {' '.join(t[1:])} ===\n")
        elif cmd == "answers":
            if any(x not in ("yes", "no") for x in t[1:]):
                raise ScenarioError("answers are 'yes' or 'no'")
            self.answers += [x == "yes" for x in t[1:]]
        elif cmd == "dataset":
            if len(t) != 2:
                raise ScenarioError("dataset takes one name")
            self.datasets[t[1]] = {"fields": [], "rows": []}
        elif cmd == "savefile":
            if len(t) != 3 or t[1] not in self.datasets:
                raise ScenarioError("savefile takes a dataset and a file name")
            self.host_file(t[2], self.datasets[t[1]])
            self.say(f"(host saved {t[2]})")
        elif cmd == "removefile":
            if len(t) != 2:
                raise ScenarioError("removefile takes a file name")
            self.host_files.pop(t[1], None)
            if self.state:
                try:
                    os.remove(os.path.join(self.state, t[1]))
                except FileNotFoundError:
                    pass
        elif cmd == "settings":
            a = parse_args(t[1:])
            ds = {"fields": [{"name": "NRECFCAIXA", "type": "string", "size": 40},
                             {"name": "NRSERIEECF", "type": "string", "size": 40}],
                  "rows": [[cripto(a.get("ECF", ""), SETTINGS_KEY),
                            cripto(a.get("SERIE", ""), SETTINGS_KEY)]]}
            self.host_file("Quorilo.cds", ds)
            self.say("(host wrote its settings file Quorilo.cds)")
        elif cmd == "dump":
            self.say(f"--- {' '.join(t[1:])}: not shown through the service ---\n")
        elif cmd == "decimal":
            raise ScenarioError("the service keeps the till's decimal separator; 'decimal' "
                                "cannot run through it")
        else:
            self.call(cmd, parse_args(t[1:]), raw)


def show_status(client, out):
    """What the status page shows, as text: the printer, the keys in doubt, the operations."""
    status = client.status()
    printer = status.get("printer") or {}
    reach = printer.get("reachable")
    state = "reachable" if reach else ("not asked yet" if reach is None else
                                       f"not reachable: {printer.get('error')}")
    document = printer.get("document") or "document"
    out.write(f"Printer: {printer.get('backend')}, {state}, "
              + (f"{document} open" if printer.get("documentOpen") else "no document open")
              + "\n")
    last = printer.get("lastDocumentNumber") or "none"
    series = printer.get("lastDocuments")
    if series:
        last += f" (ticket or B/C {series['ticket']}, A {series['invoiceA']})"
    out.write(f"Last document: {last}\n")
    out.write("Keys in doubt: " + (", ".join(status.get("inDoubt") or []) or "none") + "\n")
    entries = client.journal().get("entries") or []
    failed = [e["key"] for e in entries if e.get("ok") is False and not e.get("answered")]
    out.write(f"Last {len(entries)} operations: " +
              (f"{len(failed)} failed ({', '.join(failed)})" if failed else "none failed") + "\n")


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("scenario", nargs="?", default=DEFAULT_SCENARIO)
    p.add_argument("--url", default="http://127.0.0.1:8520")
    p.add_argument("--state", help="the service's state folder (--state), for removefile")
    p.add_argument("--token", help="the service's bearer token, when it has one")
    p.add_argument("--json", help="also write the requests of the whole day to this file")
    p.add_argument("--status", action="store_true",
                   help="end with the service's status as text, as the status page shows it")
    o = p.parse_args(argv)
    try:
        with open(o.scenario, encoding="utf-8") as f:
            lines = [line.rstrip("\r\n") for line in f]
    except OSError as e:
        print(f"scenario_day: cannot read scenario '{o.scenario}': {e.strerror}", file=sys.stderr)
        return 2
    day = Day(fiscal_printd.Client(o.url, token=o.token), o.state, sys.stdout)
    status = 0
    try:
        day.run(lines)
    except ScenarioError as e:
        print(f"{o.scenario}:{e}", file=sys.stderr)
        status = 1
    except fiscal_printd.Error as e:
        print(f"scenario_day: the service answered {e.status} {e.code}: {e.message}",
              file=sys.stderr)
        status = 1
    if o.json:
        with open(o.json, "w", encoding="utf-8") as f:
            json.dump(day.requests, f, ensure_ascii=False, indent=1)
    if o.status:
        try:
            show_status(day.client, sys.stdout)
        except fiscal_printd.Error as e:
            print(f"scenario_day: the status did not come: {e.message}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
