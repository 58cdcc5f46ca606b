#!/usr/bin/env python3
"""Holds docs/bridge-openapi.json to what fr-bridge really serves.

usage: check.py OPENAPI.json [--routes FILE] [--responses FILE.jsonl]

--routes: lines "METHOD /path/{param}" (`fr-bridge --routes`); each must be an
operation of the document. Operations the server does not list are warned of.
--responses: JSON lines {"method", "route", "status", "content_type", "body"}
recorded by the end-to-end tests; each must be an answer the document lists,
and a JSON body must match its schema. Exit 1 on any failure.

An answer to a request that no operation takes (another path or method, the
CORS preflight) is held to the document's root `x-unrouted`: a Path Item
Object whose operation for the method, else its `default` one, lists what
the bridge answers any such request.
"""
import argparse
import datetime
import json
import re
import sys

from jsonschema import Draft202012Validator, FormatChecker

METHODS = ("get", "put", "post", "delete", "patch", "head", "options", "trace")


def segments(path):
    return [s for s in path.split("?")[0].strip("/").split("/") if s]


def is_param(segment):
    return segment.startswith("{") and segment.endswith("}")


def find_operation(operations, method, route):
    """The (METHOD, path) of the document that route falls under, or None.

    A parameter of the document takes any segment (a template's or a real
    value); a literal must be equal. The most literal match wins, so that a
    fixed path beats a template beside it."""
    want, best = segments(route), None
    for key in operations:
        if key[0] != method:
            continue
        have = segments(key[1])
        if len(have) != len(want):
            continue
        if all(is_param(h) or h == w for h, w in zip(have, want)):
            score = sum(not is_param(h) for h in have)
            if best is None or score > best[0]:
                best = (score, key)
    return best and best[1]


def pointer(*parts):
    return "/" + "/".join(str(p).replace("~", "~0").replace("/", "~1") for p in parts)


def resolve(doc, node, where):
    """Follows a local $ref of a response object; gives it and its pointer."""
    while "$ref" in node:
        ref = node["$ref"]
        if not ref.startswith("#/"):
            raise ValueError(f"only local references are resolved: {ref}")
        where = ref[1:]
        node = doc
        for part in ref[2:].split("/"):
            node = node[part.replace("~1", "/").replace("~0", "~")]
    return node, where


def describe(error):
    if not error.context:
        return f"{error.json_path}: {error.message}"
    # Every choice of an anyOf or oneOf: which one was meant is not known.
    choices = {}
    for c in error.context:
        choices.setdefault(c.relative_schema_path[0], []).append(f"{c.json_path}: {c.message}")
    text = "; or ".join(", ".join(reasons) for reasons in choices.values())
    return f"{error.json_path}: none of the choices fits: {text}"


def format_checker():
    # Times must be RFC 3339; jsonschema checks date-time only when an
    # optional package is installed, so the check is made here.
    checker = FormatChecker()

    @checker.checks("date-time", raises=ValueError)
    def date_time(value):
        if not isinstance(value, str):
            return True
        if not re.fullmatch(r"\d{4}-\d\d-\d\d[Tt]\d\d:\d\d:\d\d(\.\d+)?([Zz]|[+-]\d\d:\d\d)", value):
            return False
        datetime.datetime.fromisoformat(value.upper().replace("Z", "+00:00"))
        return True

    return checker


class Checker:
    def __init__(self, doc):
        self.doc = doc
        self.operations = {
            (method.upper(), path): op
            for path, item in doc.get("paths", {}).items()
            for method, op in item.items() if method in METHODS}
        self.unrouted = doc.get("x-unrouted", {})
        self.formats = format_checker()
        self.validators = {}

    def validator(self, where):
        # The whole document is the root schema, with a $ref to the schema
        # at hand: its references into components resolve in it, whichever
        # jsonschema (4.10's RefResolver or the later referencing registry)
        # is installed. The document's own keys are no keywords and are
        # ignored.
        if where not in self.validators:
            root = dict(self.doc, **{"$ref": "#" + where})
            self.validators[where] = Draft202012Validator(root, format_checker=self.formats)
        return self.validators[where]

    def check_routes(self, lines):
        missing, listed = [], set()
        for line in lines:
            line = line.split("#")[0].strip()
            if not line:
                continue
            method, route = line.split(None, 1)
            key = find_operation(self.operations, method.upper(), route.strip())
            if key is None:
                missing.append(line)
            else:
                listed.add(key)
        for line in missing:
            print(f"missing from the document: {line}")
        for method, path in sorted(set(self.operations) - listed, key=lambda k: (k[1], k[0])):
            print(f"warning: the server does not list {method} {path}")
        return missing

    def check_response(self, record):
        """The problems of one recorded answer, as strings."""
        method, route, status = record["method"].upper(), record["route"], record["status"]
        key = find_operation(self.operations, method, route)
        if key is not None:
            operation, where = self.operations[key], pointer("paths", key[1], key[0].lower())
        else:
            name = method.lower() if method.lower() in METHODS and method.lower() in self.unrouted else "default"
            if name not in self.unrouted:
                return ["no such operation in the document, and no x-unrouted operation for it"]
            operation, where = self.unrouted[name], pointer("x-unrouted", name)
        responses = operation.get("responses", {})
        code = next((c for c in (str(status), f"{str(status)[0]}XX", "default") if c in responses), None)
        if code is None:
            return [f"status {status} is not listed (listed: {', '.join(responses)})"]
        response, where = resolve(self.doc, responses[code], where + pointer("responses", code))
        content = response.get("content", {})
        body = record.get("body")
        if not content:
            return [] if body is None else ["a body where the document describes none"]
        media = (record.get("content_type") or "").split(";")[0].strip().lower()
        candidates = (media, media.split("/")[0] + "/*", "*/*")
        media_key = next((m for m in candidates if m in content), None)
        if media_key is None:
            return [f"content type {media or '(none)'} is not listed (listed: {', '.join(content)})"]
        if not (media_key == "application/json" or media_key.endswith("+json")):
            return []
        if body is None:
            return ["no JSON body"]
        if "schema" not in content[media_key]:
            return []
        errors = self.validator(where + pointer("content", media_key, "schema")).iter_errors(body)
        return [describe(e) for e in errors]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("openapi")
    parser.add_argument("--routes")
    parser.add_argument("--responses")
    args = parser.parse_args()
    with open(args.openapi, encoding="utf-8") as f:
        checker = Checker(json.load(f))
    failed = False
    if args.routes:
        with open(args.routes, encoding="utf-8") as f:
            missing = checker.check_routes(f)
        print(f"routes: {len(missing)} missing from the document")
        failed |= bool(missing)
    if args.responses:
        count, seen, failures = 0, set(), 0
        with open(args.responses, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                if not line.strip():
                    continue
                record = json.loads(line)
                count += 1
                method = record["method"].upper()
                seen.add(find_operation(checker.operations, method, record["route"]) or (method, record["route"]))
                problems = checker.check_response(record)
                if problems:
                    failures += 1
                    print(f"line {number}: {record['method']} {record['route']} {record['status']}:")
                    for problem in problems:
                        print(f"  {problem}")
        print(f"responses: {count} checked across {len(seen)} operations, {failures} failures")
        failed |= failures > 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
