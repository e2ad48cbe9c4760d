#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Message parsing benchmark: tuvel-mcp answering one line of about 20 MiB
built to be hard for a JSON parser (19 MiB of nested brackets, 10 million
zeros, 6.5 million empty objects, the zeros again as tool arguments), next to
the same program answering a ping padded with white space to the same length
(reading and holding the line) and `wc -l` reading the file, all in this run.
Each figure is the best of 3 runs in wall time and in processor time (the
one to read on a busy machine), and the peak resident memory, also as a
multiple of the line length above the memory of a small ping."""
import os
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20
HEAD = '{"jsonrpc":"2.0","id":1,"method":"ping","params":{"x":'
DEEP = 19 * MIB // 2
INIT = '{"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25"}}'


def lines():
    call = '{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"read","arguments":{"files":['
    zeros = "0," * 10_000_000 + "0"
    ping = '{"jsonrpc":"2.0","id":1,"method":"ping"}'
    return [
        ("baseline: ping + white space", ping + " " * (20_000_050 - len(ping)), '"result":{}'),
        ("19 MiB nested, closed", HEAD + "[" * DEEP + "]" * DEEP + "}}", "nested too deeply"),
        ("19 MiB nested, unclosed", HEAD + "[" * (2 * DEEP), "-32700"),
        ("10 M zeros", HEAD + "[" + zeros + "]}}", '"result":{}'),
        ("6.5 M {}", HEAD + "[" + "{}," * 6_500_000 + "{}]}}", '"result":{}'),
        ("10 M zeros as arguments", INIT + "\n" + call + zeros + "]}}}", "request exceeds 2 MiB"),
    ]


def run(argv, path, expect=None):
    """Wall time, processor time (user and system) and peak RSS (KiB) of
    `argv` reading `path`."""
    with open(path, "rb") as stdin:
        start = time.perf_counter()
        done = subprocess.run(["/usr/bin/time", "-f", "%U %S %M"] + argv, stdin=stdin, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, check=True)
        elapsed = time.perf_counter() - start
    if expect is not None and expect.encode() not in done.stdout[-4096:]:
        sys.exit(f"{argv[0]} answered {done.stdout[-300:]!r}, expected {expect!r}")
    user, system, rss = done.stderr.decode().strip().splitlines()[-1].split()
    return elapsed, float(user) + float(system), int(rss)


def best(argv, path, expect=None):
    runs = [run(argv, path, expect) for _ in range(3)]
    return min(r[0] for r in runs), min(r[1] for r in runs), max(r[2] for r in runs)


def main():
    mcp = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="tuvel-bench-mcp-parse-") as tmp:
        small = os.path.join(tmp, "small")
        with open(small, "w") as f:
            f.write('{"jsonrpc":"2.0","id":1,"method":"ping"}\n')
        _, _, small_rss = best([mcp], small)
        print(f"small ping: peak {small_rss / 1024:.1f} MiB (the constant below)")
        print(f"{'line':28} {'bytes':>10} {'wall':>8} {'cpu':>7} {'cpu vs base':>11} {'peak MiB':>9} {'x line':>7}")
        base = None
        for name, text, expect in lines():
            path = os.path.join(tmp, "line")
            with open(path, "w") as f:
                f.write(text + "\n")
            size = len(text) + 1
            if base is None:
                wc, wc_cpu, _ = best(["wc", "-l"], path)
                print(f"{'wc -l (reading the file)':28} {size:10d} {wc:7.3f}s {wc_cpu:6.2f}s")
            elapsed, cpu, rss = best([mcp], path, expect)
            base = base or max(cpu, 0.01)
            multiple = (rss - small_rss) * 1024 / size
            print(f"{name:28} {size:10d} {elapsed:7.3f}s {cpu:6.2f}s {cpu / base:10.1f}x {rss / 1024:9.1f} {multiple:7.2f}")
        print("targets: each under 1 s; peak within 4x the line above a small ping")


if __name__ == "__main__":
    main()
