#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Well-formed and malformed requests, judged by the request schemas (read as
strict JSON, then validated) and by tuvel-edit's decoder on a real repository
(and tool arguments by the schemas tuvel-mcp serves and by tuvel-mcp):
the two must agree, except where a schema cannot express a rule; those cases
are listed with the rule, and the schemas' descriptions name it.

Usage: requests_test.py TUVEL_EDIT TUVEL_MCP SCHEMA_DIR"""

import re
import subprocess
import sys
import tempfile
from pathlib import Path

sys.dont_write_bytecode = True  # nothing written into the source tree
import schemas  # noqa: E402

MIB2 = 2 * 1024 * 1024
# What only the decoder sees: a decode message ends with its position.
DECODE_FAILURE = re.compile(r"( at line \d+ column \d+|^request exceeds 2 MiB)$")

# Rules a schema cannot express, named in the descriptions of the documents.
FRACTION = "integers are written without fraction or exponent"
SIZE = "at most 2 MiB"
HELD_KIND = "integer kinds when the request precedes op"

R = "41153ec5e22e7e1d208eec929ef45dcd31fd71283799b0615bb8753491715e5b"  # of "a\nb\n"


def sized(template, length):
    """`template` with its %s filled so that the text is `length` bytes long."""
    return template % ("p" * (length - len(template) + 2))


def edit(*edits, path='"a.md"', revision=f'"{R}"'):
    return '{"path":%s,"revision":%s,"edits":[%s]}' % (path, revision, ",".join(edits))


LINES = '{"kind":"lines","start":1,"end":2,"text":"x\\n"}'
REPLACE = '{"kind":"replace","old":"zz","new":"y","count":1}'

# (name, text, accepted by the decoder, rule the schema cannot express or None)
BATCH_LINES = [
    ("read", '{"op":"read","request":{"files":[{"path":"a.md"}]}}', True, None),
    ("request before op", '{"request":{"files":[{"path":"a.md","start":2,"end":null}]},"op":"read"}', True, None),
    ("op as an object", '{"op":{"read":null},"request":{"files":[]}}', True, None),
    ("array form", '["read",{"files":[["a.md",3,null]]}]', True, None),
    ("array forms throughout", '["read",[[["a.md",1,3]]]]', True, None),
    ("preview", '{"op":"preview","request":%s}' % edit(LINES), True, None),
    ("apply, arrays", '{"op":"apply","request":["a.md","%s",[["replace","zz","y",1]]]}' % R, True, None),
    ("preview array, nothing checked yet", '["preview",{"path":"a.md","revision":"r","edits":[]}]', True, None),
    ("escaped key", '{"op":"read","request":{"files":[{"p\\u0061th":"a.md"}]}}', True, None),
    ("carriage return", '{"op":"read","request":{"files":[{"path":"a.md"}]}}\r', True, None),
    ("apply as an object op", '{"op":{"apply":null},"request":%s}' % edit(REPLACE), True, None),
    ("held integer kind", '{"request":%s,"op":"preview"}' % edit('{"kind":1,"old":"zz","new":"y","count":1}'),
     True, HELD_KIND),
    ("integer kind after op", '{"op":"preview","request":%s}' % edit('{"kind":1,"old":"zz","new":"y","count":1}'),
     False, None),
    ("no request", '{"op":"read"}', False, None),
    ("no op", '{"request":{"files":[]}}', False, None),
    ("empty object", "{}", False, None),
    ("unknown op", '{"op":"write","request":{}}', False, None),
    ("foreign key", '{"op":"read","request":{"files":[]},"extra":1}', False, None),
    ("repeated op", '{"op":"read","request":{"files":[]},"op":"read"}', False, None),
    ("read body for preview", '{"op":"preview","request":{"files":[]}}', False, None),
    ("edit body for read", '{"op":"read","request":%s}' % edit(LINES), False, None),
    ("op a number", '{"op":5,"request":{}}', False, None),
    ("op object with a value", '{"op":{"apply":1},"request":%s}' % edit(LINES), False, None),
    ("op object with two names", '{"op":{"read":null,"apply":null},"request":{"files":[]}}', False, None),
    ("array op as an object", '[{"read":null},{"files":[]}]', False, None),
    ("array of one", '["read"]', False, None),
    ("array of three", '["read",{"files":[]},1]', False, None),
    ("empty array", "[]", False, None),
    ("a string", '"read"', False, None),
    ("blank", "   ", False, None),
    ("empty", "", False, None),
    ("trailing characters", '{"op":"read","request":{"files":[]}} x', False, None),
    ("trailing comma", '{"op":"read","request":{"files":[],}}', False, None),
    ("byte-order mark", '\ufeff{"op":"read","request":{"files":[]}}', False, None),
    # Each line is sent with its line feed, which counts.
    ("over 2 MiB", sized('{"op":"read","request":{"files":[{"path":"%s"}]}}', MIB2), False, SIZE),
    ("2 MiB with its line feed", sized('{"op":"read","request":{"files":[{"path":"%s"}]}}', MIB2 - 1), True, None),
]

# Read request bodies: in a batch line, and alone against the object form that
# tuvel-mcp serves (which leaves the array forms out).
# (name, body, accepted, rule or None, uses array forms)
READ_BODIES = [
    ("one file", '{"files":[{"path":"a.md"}]}', True, None, False),
    ("start and end", '{"files":[{"path":"a.md","start":1,"end":3}]}', True, None, False),
    ("end null", '{"files":[{"path":"a.md","end":null}]}', True, None, False),
    ("no files", '{"files":[]}', True, None, False),
    ("33 files", '{"files":[%s]}' % ",".join(['{"path":"a.md"}'] * 33), True, None, False),
    ("largest start", '{"files":[{"path":"a.md","start":18446744073709551615}]}', True, None, False),
    ("start 0", '{"files":[{"path":"a.md","start":0}]}', True, None, False),
    ("path not UTF-8 text", '{"files":[{"path":"\\u00e9\\ud83d\\ude00"}]}', True, None, False),
    ("file as an array", '{"files":[["a.md",1,null]]}', True, None, True),
    ("body as an array", '[[{"path":"a.md"}]]', True, None, True),
    ("start beyond 64 bits", '{"files":[{"path":"a.md","start":18446744073709551616}]}', False, None, False),
    ("negative start", '{"files":[{"path":"a.md","start":-2}]}', False, None, False),
    ("start null", '{"files":[{"path":"a.md","start":null}]}', False, None, False),
    ("start a string", '{"files":[{"path":"a.md","start":"1"}]}', False, None, False),
    ("start with a fraction", '{"files":[{"path":"a.md","start":0.5}]}', False, None, False),
    ("start 1.0", '{"files":[{"path":"a.md","start":1.0}]}', False, FRACTION, False),
    ("start 1e2", '{"files":[{"path":"a.md","start":1e2}]}', False, FRACTION, False),
    ("start -0", '{"files":[{"path":"a.md","start":-0}]}', False, FRACTION, False),
    ("leading zero", '{"files":[{"path":"a.md","start":01}]}', False, None, False),
    ("NaN", '{"files":[{"path":"a.md","start":NaN}]}', False, None, False),
    ("unknown field", '{"files":[{"path":"a.md","limit":3}]}', False, None, False),
    ("no path", '{"files":[{"start":1}]}', False, None, False),
    ("path a number", '{"files":[{"path":7}]}', False, None, False),
    ("repeated path", '{"files":[{"path":"a.md","path":"b.md"}]}', False, None, False),
    ("files an object", '{"files":{"path":"a.md"}}', False, None, False),
    ("no files key", '{}', False, None, False),
    ("file array of the path alone", '{"files":[["a.md"]]}', False, None, True),
    ("file array without end", '{"files":[["a.md",1]]}', False, None, True),
    ("file array of four", '{"files":[["a.md",1,null,4]]}', False, None, True),
    ("body array of two", '[[],1]', False, None, True),
    ("lone surrogate", '{"files":[{"path":"\\ud800"}]}', False, None, False),
    ("control character", '{"files":[{"path":"a\tb"}]}', False, None, False),
]

# Edit requests: as apply's standard input, and against the object form that
# tuvel-mcp serves. (name, text, accepted, rule or None, uses array forms)
EDIT_REQUESTS = [
    ("lines edit", edit(LINES), True, None, False),
    ("replace edit", edit(REPLACE), True, None, False),
    ("kind last", edit('{"text":"x","end":2,"start":1,"kind":"lines"}'), True, None, False),
    ("no edits", edit(), True, None, False),
    ("count 0, empty old", edit('{"kind":"replace","old":"","new":"y","count":0}'), True, None, False),
    ("any revision text", edit(LINES, revision='"not a digest"'), True, None, False),
    ("largest count", edit('{"kind":"replace","old":"zz","new":"y","count":18446744073709551615}'), True, None, False),
    ("surrounding white space", " \n\t" + edit(LINES) + "\r\n ", True, None, False),
    ("edit arrays", edit('["lines",1,1,"x\\n"]', '["replace","zz","y",1]'), True, None, True),
    ("request array", '["a.md","%s",[["replace","zz","y",1]]]' % R, True, None, True),
    ("batch form", '{"op":"apply","request":%s}' % edit(LINES), False, None, False),
    ("no edits key", '{"path":"a.md","revision":"%s"}' % R, False, None, False),
    ("foreign key", '{"path":"a.md","revision":"%s","edits":[],"x":1}' % R, False, None, False),
    ("edits an object", '{"path":"a.md","revision":"%s","edits":{}}' % R, False, None, False),
    ("revision a number", edit(LINES, revision="5"), False, None, False),
    ("integer kind", edit('{"kind":1,"old":"zz","new":"y","count":1}'), False, None, False),
    ("unknown kind", edit('{"kind":"Lines","start":1,"end":2,"text":""}'), False, None, False),
    ("no kind", edit('{"start":1,"end":2,"text":""}'), False, None, False),
    ("missing text", edit('{"kind":"lines","start":1,"end":2}'), False, None, False),
    ("field of the other kind", edit('{"kind":"lines","start":1,"end":2,"text":"","count":1}'), False, None, False),
    ("repeated kind", edit('{"kind":"lines","kind":"lines","start":1,"end":2,"text":""}'), False, None, False),
    ("repeated count", edit('{"kind":"replace","old":"zz","new":"y","count":1,"count":1}'), False, None, False),
    ("count beyond 64 bits", edit('{"kind":"replace","old":"zz","new":"y","count":18446744073709551616}'),
     False, None, False),
    ("negative count", edit('{"kind":"replace","old":"zz","new":"y","count":-1}'), False, None, False),
    ("count 1.0", edit('{"kind":"replace","old":"zz","new":"y","count":1.0}'), False, FRACTION, False),
    ("edit a string", edit('"lines"'), False, None, False),
    ("edit an empty array", edit("[]"), False, None, True),
    ("lines array too short", edit('["lines",1,2]'), False, None, True),
    ("replace array too long", edit('["replace","zz","y",1,2]'), False, None, True),
    ("replace array, count a string", edit('["replace","zz","y","1"]'), False, None, True),
    ("request array too short", '["a.md","%s"]' % R, False, None, True),
    ("request array too long", '["a.md","%s",[],1]' % R, False, None, True),
    ("invalid UTF-8", None, False, None, False),  # text set below
    ("empty input", "", False, None, False),
    ("over 2 MiB", sized(edit('{"kind":"lines","start":1,"end":1,"text":"%s"}'), MIB2 + 1), False, SIZE, False),
    ("exactly 2 MiB", sized(edit('{"kind":"lines","start":1,"end":1,"text":"%s"}'), MIB2), True, None, False),
]


# Tool arguments, judged by the schemas tuvel-mcp serves and by tuvel-mcp.
# Its JSON-RPC layer reads the message first: a repeated key keeps its last
# value, and the decoder then takes array forms inside the arguments, which
# the served schemas leave out to stay simple for clients.
LAST_WINS = "tuvel-mcp keeps the last of a repeated key"
ARRAYS_INSIDE = "array forms inside the arguments"
BIG = '{"path":"big.txt","text":"%s"}'
# (tool, arguments, accepted by tuvel-mcp, rule the schema cannot express or None)
MCP_CALLS = [
    ("read", '{"files":[{"path":"a.md"}]}', True, None),
    ("read", '{"files":[{"path":"a.md","start":2,"end":null}]}', True, None),
    ("read", '{"files":[]}', True, None),
    ("read", '{"files":[{"path":"a.md","start":-0}]}', True, None),
    ("read", '{"files":[["a.md",1,null]]}', True, ARRAYS_INSIDE),
    ("read", '{"files":[{"path":"a.md","path":"b.md"}]}', True, LAST_WINS),
    ("read", '{"files":[{"path":"a.md","start":1.0}]}', False, FRACTION),
    ("read", '{"files":[{"path":"a.md","start":18446744073709551616}]}', False, None),
    ("read", '{"files":[{"path":"a.md","start":-1}]}', False, None),
    ("read", '{"files":[{"path":"a.md","start":null}]}', False, None),
    ("read", '{"files":[{"path":"a.md","limit":1}]}', False, None),
    ("read", '{"files":[{"end":2}]}', False, None),
    ("read", "{}", False, None),
    ("read", "[]", False, None),
    ("preview", edit(LINES), True, None),
    ("preview", edit(REPLACE, LINES), True, None),
    ("preview", edit(), True, None),
    ("preview", edit('["replace","zz","y",1]'), True, ARRAYS_INSIDE),
    ("preview", edit('{"kind":"replace","old":"zz","new":"y","count":1,"count":2}'), True, LAST_WINS),
    ("preview", edit('{"kind":"replace","old":"zz","new":"y","count":1.0}'), False, FRACTION),
    ("preview", edit('{"kind":1,"old":"zz","new":"y","count":1}'), False, None),
    ("preview", edit('{"kind":"lines","start":1,"end":2}'), False, None),
    ("preview", edit('{"kind":"lines","start":1,"end":2,"text":"","old":""}'), False, None),
    ("preview", '{"path":"a.md","revision":"%s"}' % R, False, None),
    ("preview", '{"op":"apply","request":%s}' % edit(LINES), False, None),
    ("preview", sized(edit('{"kind":"lines","start":1,"end":1,"text":"%s"}'), MIB2 + 1), False, SIZE),
    ("preview", sized(edit('{"kind":"lines","start":1,"end":1,"text":"%s"}'), MIB2), True, None),
    ("create", '{"path":"new.txt","text":"x\\n"}', True, None),
    ("create", '{"path":"d/new.txt","text":"","parents":true}', True, None),
    ("create", '{"path":"n.txt"}', False, None),
    ("create", '{"path":"n.txt","text":1}', False, None),
    ("create", '{"path":"n.txt","text":"x","parents":"yes"}', False, None),
    ("create", '{"path":"n.txt","text":"x","parents":null}', False, None),
    ("create", '{"path":"n.txt","text":"x","mode":420}', False, None),
    ("list", "{}", True, None),
    ("list", '{"path":null}', True, None),
    ("list", '{"path":"d"}', True, None),
    ("list", '{"path":5}', False, None),
    ("list", '{"dir":"d"}', False, None),
    ("list", '{"path":"d","cursor":"a.txt"}', True, None),
    ("list", '{"path":".","cursor":null}', True, None),
    ("list", '{"cursor":5}', False, None),
    ("search", '{"pattern":"a"}', True, None),
    ("search", '{"pattern":"a(","path":null,"glob":["*.md","!x/**"],"case_insensitive":true,"fixed_strings":true,'
               '"hidden":false,"no_ignore":true,"context":3,"output":"files","max_results":5,"cursor":null}', True, None),
    ("search", '{"pattern":"a","output":"lines"}', False, None),
    ("search", '{"pattern":"a","glob":"*.md"}', False, None),
    ("search", '{"pattern":"a","context":-1}', False, None),
    ("search", '{"pattern":"a","context":1.5}', False, None),
    ("search", '{"path":"d"}', False, None),
    ("search", '{"pattern":"a","regex":true}', False, None),
    ("find", '{"pattern":"*.md"}', True, None),
    ("find", '{"pattern":"*.md","path":"d","hidden":true,"no_ignore":false,"max_results":2,"cursor":"d/a.md"}', True,
     None),
    ("find", '{"pattern":["*.md"]}', False, None),
    ("find", '{"pattern":"*.md","glob":[]}', False, None),
]
TOOL_SCHEMAS = {"read": "read-request.json", "preview": "edit-request.json", "create": "create-request.json",
                "list": "list-request.json", "search": "search-request.json", "find": "find-request.json"}


def mcp_verdicts(mcp_bin, repo):
    """Whether tuvel-mcp took each of MCP_CALLS: a JSON-RPC error, or a failed
    tool result with a decoder's message (as tuvel-edit's), refuses it; any
    other tool result, failed or not, means it was taken."""
    lines = ['{"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25",'
             '"capabilities":{},"clientInfo":{"name":"schema-test","version":"1"}}}']
    for i, (tool, arguments, _, _) in enumerate(MCP_CALLS, 1):
        lines.append('{"jsonrpc":"2.0","id":%d,"method":"tools/call","params":{"name":"%s","arguments":%s}}'
                     % (i, tool, arguments))
    done = subprocess.run([mcp_bin, "--repo", repo], input="".join(line + "\n" for line in lines).encode(),
                          capture_output=True, check=True)
    verdicts = {}
    for line in done.stdout.split(b"\n")[1:-1]:
        answer = schemas.strict_json(line)
        result = answer.get("result")
        taken = result is not None and not (
            result["isError"] and DECODE_FAILURE.search(result["structuredContent"]["error"]["message"]))
        verdicts[answer["id"]] = (taken, line.decode()[:300])
    return [verdicts.get(i, (None, "no answer")) for i in range(1, len(MCP_CALLS) + 1)]


def encoded(text):
    return text.encode("utf-8") if isinstance(text, str) else text


def judged(answer):
    """Whether the decoder took the request, from tuvel-edit's answer line."""
    value = schemas.strict_json(answer)
    return value["ok"] or not DECODE_FAILURE.search(value["error"]["message"]), answer.decode()[:300]


def schema_verdict(validator, text):
    try:
        value = schemas.strict_json(text)
    except ValueError as error:
        return False, f"not strict JSON: {error}"
    error = schemas.first_error(validator, value)
    return error is None, error or "valid"


def main():
    edit_bin, mcp_bin, schema_dir = sys.argv[1], sys.argv[2], sys.argv[3]
    docs = schemas.load(schema_dir)
    batch_line = schemas.validator(docs, "batch-request.json")
    apply_input = schemas.validator(docs, "apply-request.json")
    read_tool = schemas.validator(docs, "read-request.json")
    edit_tool = schemas.validator(docs, "edit-request.json")

    for i, case in enumerate(EDIT_REQUESTS):
        if case[0] == "invalid UTF-8":
            EDIT_REQUESTS[i] = (case[0], edit(LINES, path=b'"a\xff.md"'.decode("latin-1")).encode("latin-1"),
                                *case[2:])

    lines = [(name, encoded(text), accepted, rule) for name, text, accepted, rule in BATCH_LINES]
    lines += [(f"read body: {name}", encoded('{"op":"read","request":%s}' % body), accepted, rule)
              for name, body, accepted, rule, _ in READ_BODIES]
    failures = []

    def expect(name, text, judge, verdict, accepted, rule):
        if verdict[0] != accepted:
            failures.append(f"{name}: the program {'took' if verdict[0] else 'refused'} it "
                            f"(expected {'took' if accepted else 'refused'}): {verdict[1]}")
        schema_ok, why = schema_verdict(judge, text)
        expected = accepted if rule is None else not accepted
        if schema_ok != expected:
            failures.append(f"{name}: the schema {'accepts' if schema_ok else 'refuses'} it"
                            f"{'' if rule is None else ' (beyond the schema: ' + rule + ')'}: {why}; "
                            f"text {text[:200]!r}")

    with tempfile.TemporaryDirectory(prefix="tuvel-schema-") as repo:
        Path(repo, "a.md").write_bytes(b"a\nb\n")
        batch = subprocess.run([edit_bin, "--repo", repo, "batch"], input=b"".join(t + b"\n" for _, t, _, _ in lines),
                               capture_output=True, check=True)
        answers = batch.stdout.split(b"\n")[:-1]
        if len(answers) != len(lines):
            sys.exit(f"tuvel-edit batch gave {len(answers)} answers to {len(lines)} lines")
        for (name, text, accepted, rule), answer in zip(lines, answers):
            expect(name, text, batch_line, judged(answer), accepted, rule)
        for name, body, accepted, rule, arrays in READ_BODIES:
            # The object form alone: it leaves the array forms out.
            expect(f"read-request.json: {name}", encoded(body), read_tool, (accepted and not arrays, "-"),
                   accepted and not arrays, rule)

        for name, text, accepted, rule, arrays in EDIT_REQUESTS:
            text = encoded(text)
            run = subprocess.run([edit_bin, "--repo", repo, "apply", "--preview"], input=text, capture_output=True)
            expect(f"apply input: {name}", text, apply_input, judged(run.stdout.rstrip(b"\n")), accepted, rule)
            expect(f"edit-request.json: {name}", text, edit_tool, (accepted and not arrays, "-"),
                   accepted and not arrays, rule)
        if Path(repo, "a.md").read_bytes() != b"a\nb\n":
            failures.append("a request changed the repository")

        for (tool, arguments, accepted, rule), verdict in zip(MCP_CALLS, mcp_verdicts(mcp_bin, repo)):
            expect(f"tuvel-mcp {tool}: {arguments[:80]}", encoded(arguments),
                   schemas.validator(docs, TOOL_SCHEMAS[tool]), verdict, accepted, rule)

    total = len(lines) + len(READ_BODIES) + 2 * len(EDIT_REQUESTS) + 2 * len(MCP_CALLS)
    if failures:
        print("\n".join(failures))
        sys.exit(f"{len(failures)} disagreements among {total} judgements")
    print(f"the schemas and the programs agree on {total} judgements")


if __name__ == "__main__":
    main()
