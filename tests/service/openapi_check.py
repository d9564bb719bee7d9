#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks recorded answers of the print service against its API description.

    openapi_check.py docs/openapi.yaml ANSWERS.jsonl

Each line of ANSWERS.jsonl is {"method", "path", "status", "contentType", "body"} (body: the
parsed JSON, or null for another content type). An answer fails when the description has no
path and method for it, no answer for its status, not its content type, or a schema that its
body breaks. Any path the description does not list must answer its NotFound answer. Prints
one line per failure and exits 1 when there is one; exits 3 when a module is missing.
"""

import json
import re
import sys

try:
    import yaml
    import jsonschema
except ImportError as e:
    print("openapi_check: %s (install python3-yaml and python3-jsonschema)" % e)
    sys.exit(3)


def pointer(*parts):
    return "#/" + "/".join(p.replace("~", "~0").replace("/", "~1") for p in parts)


class Contract:
    def __init__(self, doc):
        self.doc = doc
        self.routes = []
        for template in doc["paths"]:
            rx = "^" + re.sub(r"\\\{[^}]+\\\}", "[^/]+", re.escape(template)) + "$"
            # Literal paths before templated ones.
            self.routes.append((template.count("{"), template, re.compile(rx)))
        self.routes.sort(key=lambda r: r[0])
        try:
            from referencing import Registry
            from referencing.jsonschema import DRAFT202012
            resource = DRAFT202012.create_resource(doc)
            self.registry = Registry().with_resource("urn:openapi", resource)
            self.base = "urn:openapi"
        except ImportError:  # an older jsonschema: its own resolver
            self.registry = None
            self.base = ""

    def resolve(self, node):
        while isinstance(node, dict) and "$ref" in node:
            target = self.doc
            for part in node["$ref"][2:].split("/"):
                target = target[part.replace("~1", "/").replace("~0", "~")]
            node = target
        return node

    def validate(self, schema_pointer, body):
        schema = {"$ref": self.base + schema_pointer}
        if self.registry is not None:
            v = jsonschema.Draft202012Validator(schema, registry=self.registry)
        else:
            v = jsonschema.Draft202012Validator(
                schema, resolver=jsonschema.RefResolver("", self.doc))
        return [("%s: %s" % ("/".join(str(p) for p in e.absolute_path) or "body", e.message))
                for e in v.iter_errors(body)]

    def check(self, a):
        path = a["path"].split("?", 1)[0]
        method = a["method"].lower()
        status = str(a["status"])
        for _, template, rx in self.routes:
            if rx.match(path):
                break
        else:
            template = None
        if template is None:
            where = ("components", "responses", "NotFound")
            response = self.doc["components"]["responses"]["NotFound"]
            if status != "404":
                return ["no path in the description"]
        else:
            item = self.doc["paths"][template]
            if method not in item:
                return ["no %s operation on %s" % (method.upper(), template)]
            responses = item[method]["responses"]
            if status not in responses:
                return ["no %s answer for %s %s" % (status, method.upper(), template)]
            where = ("paths", template, method, "responses", status)
            response = responses[status]
        if "$ref" in response:
            where = tuple(response["$ref"][2:].split("/"))
            where = tuple(p.replace("~1", "/").replace("~0", "~") for p in where)
            response = self.resolve(response)
        content = response.get("content")
        media = (a.get("contentType") or "").split(";")[0].strip()
        if not content:
            if a.get("bodyLength", 0):
                return ["an answer with a body where the description has none"]
            return []
        if media not in content:
            return ["content type %r not described (%s)" % (media, ", ".join(content))]
        if "schema" not in content[media]:
            return []
        return self.validate(pointer(*where, "content", media, "schema"), a["body"])


def main(argv):
    with open(argv[0], encoding="utf-8") as f:
        contract = Contract(yaml.safe_load(f))
    failures = 0
    with open(argv[1], encoding="utf-8") as f:
        for line in f:
            if not line.strip():
                continue
            a = json.loads(line)
            for problem in contract.check(a):
                failures += 1
                print("%s %s -> %s: %s" % (a["method"], a["path"], a["status"], problem))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
