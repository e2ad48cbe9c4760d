# SPDX-License-Identifier: Apache-2.0
"""The published schema documents, loaded for validation, and a strict JSON
reader: RFC 8259 text in UTF-8 with no repeated keys, no NaN or Infinity and
no lone surrogates."""

import json
import pathlib

from jsonschema import Draft202012Validator

DRAFT = "https://json-schema.org/draft/2020-12/schema"


def load(schema_dir):
    """Every document of `schema_dir` by its $id, each checked against the
    draft 2020-12 meta-schema and for the header every document carries."""
    docs = {}
    for path in sorted(pathlib.Path(schema_dir).glob("*.json")):
        doc = json.loads(path.read_text(encoding="utf-8"))
        if doc.get("$schema") != DRAFT:
            raise ValueError(f"{path.name}: $schema is not {DRAFT}")
        if doc.get("$id") != path.name:
            raise ValueError(f"{path.name}: $id is not {path.name!r}")
        Draft202012Validator.check_schema(doc)
        where = _type_array(doc, path.name)
        if where:
            raise ValueError(f"{where}: type is an array; write anyOf of one type each (some clients take only one)")
        docs[path.name] = doc
    return docs


def _type_array(value, where):
    """The place of the first `type` array in a schema document, or None.
    Keys named "type" under "properties" are property names, not keywords."""
    if isinstance(value, list):
        return next((w for i, item in enumerate(value) if (w := _type_array(item, f"{where}/{i}"))), None)
    if not isinstance(value, dict):
        return None
    if isinstance(value.get("type"), list):
        return where
    for key, item in value.items():
        if key in ("properties", "$defs", "patternProperties"):
            found = next((w for name, sub in item.items() if (w := _type_array(sub, f"{where}/{key}/{name}"))), None)
        elif key in ("const", "enum", "default", "examples"):
            found = None
        else:
            found = _type_array(item, f"{where}/{key}")
        if found:
            return found
    return None


def validator(docs, ref):
    """A validator of the schema that `ref` names ("answer.json#/$defs/read"),
    resolving references among `docs` only."""
    schema = {"$schema": DRAFT, "$ref": ref}
    try:
        from referencing import Registry, Resource
    except ImportError:  # jsonschema before 4.18, as Debian 12 ships it
        from jsonschema import RefResolver

        return Draft202012Validator(schema, resolver=RefResolver("", schema, store=dict(docs)))
    registry = Registry().with_resources((uri, Resource.from_contents(doc)) for uri, doc in docs.items())
    return Draft202012Validator(schema, registry=registry)


def _pairs(items):
    value = {}
    for key, item in items:
        if key in value:
            raise ValueError(f"repeated key {key!r}")
        value[key] = item
    return value


def _constant(name):
    raise ValueError(f"{name} is not JSON")


def _check_strings(value):
    if isinstance(value, str):
        value.encode("utf-8")  # refuses lone surrogates
    elif isinstance(value, list):
        for item in value:
            _check_strings(item)
    elif isinstance(value, dict):
        for key, item in value.items():
            _check_strings(key)
            _check_strings(item)


def strict_json(data):
    """The value of the JSON text `data` (bytes); ValueError when it is not
    strict JSON."""
    value = json.loads(data.decode("utf-8"), object_pairs_hook=_pairs, parse_constant=_constant)
    _check_strings(value)
    return value


def compact(value):
    """`value` as tuvel-edit writes JSON: compact, keys sorted, UTF-8 unescaped."""
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"), sort_keys=True)


def first_error(validator_, value):
    """Why `value` does not match, as one line (the deepest reasons of the
    most relevant error), or None when it matches."""
    from jsonschema.exceptions import best_match

    error = best_match(validator_.iter_errors(value))
    if error is None:
        return None
    leaves, pending = [], [error]
    while pending:
        e = pending.pop()
        if e.context:
            pending.extend(e.context)
        else:
            leaves.append(e)
    depth = max(len(e.absolute_path) for e in leaves)
    reasons = []
    for e in leaves:
        if len(e.absolute_path) == depth:
            where = "/".join(str(p) for p in e.absolute_path) or "(top)"
            reasons.append(f"at {where}: {e.message[:200]}")
    return "; ".join(sorted(set(reasons))[:4])
