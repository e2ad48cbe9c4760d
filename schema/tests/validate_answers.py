#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Validates every answer that the tests of tuvel-edit and tuvel-mcp logged
(see log_answer in edit/tests/support/testing.h) against the published
schemas, and stops at the first invalid one with its text.

Usage: validate_answers.py LOG_DIR SCHEMA_DIR

A record is "{kind}\\t{answer}\\n":
  edit {op}              an answer line of tuvel-edit to a request of op read,
                         preview or apply ("?" when the request did not decode)
  mcp {method} [{tool}]  an answer line of tuvel-mcp ("mcp ?": method unknown)
  mcp-result {tool}      a tools/call result as the Node.js SDK client got it
  skip {kind} {bytes}    an answer over 1 MiB, not kept"""

import copy
import sys
from pathlib import Path

sys.dont_write_bytecode = True  # nothing written into the source tree
import schemas  # noqa: E402

DATA = {
    "read": "read-data.json",
    "preview": "answer.json#/$defs/preview_data",
    "apply": "answer.json#/$defs/apply_data",
    "create": "create-data.json",
    "list": "list-data.json",
    "search": "search-data.json",
    "find": "find-data.json",
    "move": "move-data.json",
    "remove": "remove-data.json",
    "apply_changes": "apply-changes-data.json",
}
TOOL_FILES = {
    "read": ("read-request.json", "read-data.json"),
    "preview": ("edit-request.json", "edit-data.json"),
    "apply": ("edit-request.json", "edit-data.json"),
    "create": ("create-request.json", "create-data.json"),
    "list": ("list-request.json", "list-data.json"),
    "search": ("search-request.json", "search-data.json"),
    "find": ("find-request.json", "find-data.json"),
    "move": ("move-request.json", "move-data.json"),
    "remove": ("remove-request.json", "remove-data.json"),
    "apply_changes": ("apply-changes-request.json", "apply-changes-data.json"),
}
METHODS = {"initialize": "initialize", "ping": "ping", "tools/list": "tools_list", "tools/call": "tools_call"}


class Invalid(Exception):
    pass


class Checker:
    def __init__(self, docs):
        self.docs = docs
        self.validators = {}

    def check(self, ref, value, what):
        if ref not in self.validators:
            self.validators[ref] = schemas.validator(self.docs, ref)
        error = schemas.first_error(self.validators[ref], value)
        if error is not None:
            raise Invalid(f"{what} does not match {ref} {error}")

    def served(self, name):
        """A schema file as tools/list carries it."""
        doc = copy.deepcopy(self.docs[name])
        del doc["$schema"], doc["$id"]
        return doc

    def edit(self, op, answer):
        value = schemas.strict_json(answer)
        if schemas.compact(value).encode() != answer:
            raise Invalid("the answer is not compact JSON with sorted keys")
        known = op in ("read", "preview", "apply")
        self.check(f"answer.json#/$defs/{op}" if known else "answer.json", value, "the answer")

    def call_result(self, tool, result):
        self.check("mcp-answer.json#/$defs/tools_call", result, "the tools/call result")
        content = result["structuredContent"]
        if result["isError"]:
            self.check("error.json", content, "structuredContent")
        elif tool in DATA:
            self.check(DATA[tool], content, "structuredContent")
        else:
            raise Invalid(f"a successful result of the unknown tool {tool!r}")
        text = result["content"][0]["text"]
        if text != schemas.compact(content):
            raise Invalid("the text item is not structuredContent as compact JSON with sorted keys")

    def tool_list(self, result):
        for tool in result["tools"]:
            request, data = TOOL_FILES[tool["name"]]
            for key in ("inputSchema", "outputSchema"):
                schemas.Draft202012Validator.check_schema(tool[key])
                if any(k in ("$ref", "$id", "$schema") for k in keys_of(tool[key])):
                    raise Invalid(f"{tool['name']}: {key} is not self-contained")
            if tool["inputSchema"] != self.served(request):
                raise Invalid(f"{tool['name']}: inputSchema is not {request}")
            if tool["outputSchema"] != {"type": "object", "anyOf": [self.served(data), self.served("error.json")]}:
                raise Invalid(f"{tool['name']}: outputSchema is not {data} or error.json")

    def mcp(self, words, answer):
        value = schemas.strict_json(answer)
        self.check("mcp-answer.json", value, "the answer")
        method = words[0] if words else "?"
        if "result" not in value or method not in METHODS:
            return
        self.check(f"mcp-answer.json#/$defs/{METHODS[method]}", value["result"], f"the {method} result")
        if method == "tools/list":
            self.tool_list(value["result"])
        elif method == "tools/call" and len(words) == 2:
            self.call_result(words[1], value["result"])


def keys_of(value):
    if isinstance(value, dict):
        for key, item in value.items():
            yield key
            yield from keys_of(item)
    elif isinstance(value, list):
        for item in value:
            yield from keys_of(item)


def main():
    log_dir, schema_dir = Path(sys.argv[1]), sys.argv[2]
    checker = Checker(schemas.load(schema_dir))
    counts = {"edit": 0, "mcp": 0, "mcp-result": 0, "skip": 0}
    for path in sorted(log_dir.glob("*.log")) if log_dir.is_dir() else []:
        for number, record in enumerate(path.read_bytes().split(b"\n")[:-1], 1):
            kind, _, answer = record.partition(b"\t")
            words = kind.decode().split(" ")
            try:
                if words[0] == "edit" and len(words) == 2:
                    checker.edit(words[1], answer)
                elif words[0] == "mcp":
                    checker.mcp(words[1:], answer)
                elif words[0] == "mcp-result" and len(words) == 2:
                    checker.call_result(words[1], schemas.strict_json(answer))
                elif words[0] != "skip":
                    raise Invalid(f"unknown record kind {kind!r}")
            except (Invalid, ValueError, KeyError, TypeError, IndexError) as error:
                text = answer[:4000].decode("utf-8", "replace")
                sys.exit(f"{path.name}:{number}: invalid answer ({kind.decode()}): {error}\n{text}")
            counts[words[0]] += 1
    print(f"valid: {counts['edit']} answers of tuvel-edit, {counts['mcp']} of tuvel-mcp, "
          f"{counts['mcp-result']} tool results of the Node.js client; "
          f"{counts['skip']} answers over 1 MiB not kept")


if __name__ == "__main__":
    main()
