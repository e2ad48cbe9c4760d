#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Times search and find of one tuvel-mcp session against ripgrep on the
same tree with the same rules, best of three, and checks that both give the
same files and counts. Usage: measure.py TUVEL_MCP TREE"""

import json
import resource
import subprocess
import sys
import time

RUNS = 3
PATTERNS = [
    ("rare literal", {"pattern": "ZZZ_NO_SUCH_TEXT_ANYWHERE"}, []),
    ("common literal", {"pattern": "return"}, []),
    ("case-insensitive literal", {"pattern": "mutex_lock", "case_insensitive": True}, ["-i"]),
    ("word boundary and class", {"pattern": "\\bstruct [a-z_]+_ops\\b"}, []),
    ("alternation", {"pattern": "kmalloc|kzalloc|vmalloc"}, []),
]
FINDS = [("*.c", "*.c"), ("**/Makefile", "**/Makefile")]
RG = ["rg", "--no-config", "--no-require-git", "--no-ignore-global", "--color", "never"]


class Session:
    def __init__(self, binary, tree):
        self.proc = subprocess.Popen([binary, "--repo", tree], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.id = 0
        self.call("initialize", {"protocolVersion": "2025-11-25", "capabilities": {},
                                 "clientInfo": {"name": "bench", "version": "1"}})

    def call(self, method, params):
        self.id += 1
        self.proc.stdin.write((json.dumps({"jsonrpc": "2.0", "id": self.id, "method": method,
                                           "params": params}) + "\n").encode())
        self.proc.stdin.flush()
        return json.loads(self.proc.stdout.readline())

    def pages(self, tool, arguments, limit=None):
        """Every page (or the first `limit`), with the time of each."""
        arguments = dict(arguments)
        out = []
        while True:
            start = time.perf_counter()
            result = self.call("tools/call", {"name": tool, "arguments": arguments})["result"]
            out.append((time.perf_counter() - start, result["structuredContent"]))
            data = result["structuredContent"]
            if result["isError"]:
                raise SystemExit(f"{tool} {arguments}: {data}")
            if data["next"] is None or (limit and len(out) == limit):
                return out
            arguments["cursor"] = data["next"]

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def timed(args, cwd):
    best, out = None, b""
    for _ in range(RUNS):
        start = time.perf_counter()
        out = subprocess.run(args, cwd=cwd, stdin=subprocess.DEVNULL, capture_output=True).stdout
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best, out


def main():
    binary, tree = sys.argv[1:]
    session = Session(binary, tree)
    files_walked = sum(1 for _ in subprocess.run(RG + ["--files"], cwd=tree, stdin=subprocess.DEVNULL,
                                                 capture_output=True).stdout.splitlines())
    print(f"tree: {tree}, {files_walked} files by rg --files")
    print(f"{'case':34} {'tuvel-mcp':>10} {'ripgrep':>10} {'ratio':>6}  agree")
    for name, arguments, flags in PATTERNS:
        ours, counts, searched = None, {}, 0
        for _ in range(RUNS):
            pages = session.pages("search", dict(arguments, output="files", max_results=1000))
            elapsed = sum(t for t, _ in pages)
            ours = elapsed if ours is None else min(ours, elapsed)
            counts = {f["path"]: f["count"] for _, page in pages for f in page["files"]}
            searched = sum(page["searched"] for _, page in pages)
        theirs, out = timed(RG + ["-c"] + flags + ["-e", arguments["pattern"]], tree)
        expected = {}
        for line in out.decode("utf-8", "replace").splitlines():
            path, count = line.rsplit(":", 1)
            expected[path] = int(count)
        agree = "yes" if counts == expected else f"NO ({len(counts)} vs {len(expected)} files)"
        print(f"search files: {name:20} {ours:9.3f}s {theirs:9.3f}s {ours / theirs:5.2f}x  {agree}"
              f" ({searched} searched, {len(counts)} matching)")
    for glob, rg_glob in FINDS:
        ours = None
        for _ in range(RUNS):
            pages = session.pages("find", {"pattern": glob, "max_results": 1000})
            elapsed = sum(t for t, _ in pages)
            ours = elapsed if ours is None else min(ours, elapsed)
            found = [f["path"] for _, page in pages for f in page["files"]]
        theirs, out = timed(RG + ["--files", "-g", rg_glob], tree)
        expected = set(out.decode().splitlines())
        agree = "yes" if set(found) == expected else f"NO ({len(found)} vs {len(expected)})"
        print(f"find {glob:29} {ours:9.3f}s {theirs:9.3f}s {ours / theirs:5.2f}x  {agree}")
    whole = None
    for _ in range(RUNS):
        pages = session.pages("search", {"pattern": "return", "max_results": 1000, "output": "files"})
        elapsed = sum(t for t, _ in pages)
        whole = elapsed if whole is None else min(whole, elapsed)
    first = min(session.pages("search", {"pattern": "return"}, limit=1)[0][0] for _ in range(RUNS))
    tenth = min(session.pages("search", {"pattern": "return"}, limit=10)[-1][0] for _ in range(RUNS))
    print(f"content pages of 'return' (100 matches): page 1 {first * 1000:.1f} ms, page 10 {tenth * 1000:.1f} ms,"
          f" whole-tree search {whole * 1000:.0f} ms")
    session.close()
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print(f"peak RSS of tuvel-mcp over the session: {peak / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
