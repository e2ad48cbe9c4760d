#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""MCP benchmark: per-call latency of a small read and of a one-line apply
through tuvel-mcp, against the same requests through one `tuvel-edit batch`
process and the nearest calls (read_text_file, edit_file) of the reference
filesystem MCP server, all driven by this one harness over pipes in lock-step
(write one request line, read one answer line) on the same files; then the
peak memory of tuvel-mcp after 10,000 mixed calls against its peak after the
first 100 of them."""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

SMALL = (b"int value = compute(first, second);  // a line of source\n" * 72)[:4096]
# The apply flips the first line between these two, so every apply changes the file.
LINE_A = "int value = compute(first, second);  // a line of source\n"
LINE_B = "int value = compute(second, first);  // a line of source\n"


class LineServer:
    """One server process; call() writes one request line and reads one answer line."""

    def __init__(self, argv):
        self.proc = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def call(self, line):
        self.proc.stdin.write(line)
        self.proc.stdin.flush()
        return self.proc.stdout.readline()

    def peak_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as status:
            for row in status:
                if row.startswith("VmHWM:"):
                    return int(row.split()[1])
        raise RuntimeError("no VmHWM")

    def close(self):
        self.proc.stdin.close()
        self.proc.wait()


def mcp_line(ident, name, arguments):
    return (json.dumps({"jsonrpc": "2.0", "id": ident, "method": "tools/call",
                        "params": {"name": name, "arguments": arguments}}, separators=(",", ":")) + "\n").encode()


def mcp_server(argv):
    server = LineServer(argv)
    init = {"jsonrpc": "2.0", "id": 0, "method": "initialize",
            "params": {"protocolVersion": "2025-06-18", "capabilities": {}, "clientInfo": {"name": "bench", "version": "1"}}}
    answer = server.call((json.dumps(init) + "\n").encode())
    if b'"result"' not in answer:
        sys.exit(f"initialize answered {answer[:300]!r}")
    server.proc.stdin.write(b'{"jsonrpc":"2.0","method":"notifications/initialized"}\n')
    return server


def mcp_ok(answer):
    return answer.startswith(b"{") and b'"result"' in answer and b'"isError":true' not in answer


def batch_ok(answer):
    return b'"ok":true' in answer


def timed(server, lines, ok):
    """Per-call times of `lines`, sent one at a time."""
    times = []
    clock = time.perf_counter
    for line in lines:
        start = clock()
        answer = server.call(line)
        times.append(clock() - start)
        if not ok(answer):
            sys.exit(f"answer to {line[:200]!r}: {answer[:300]!r}")
    return times


def blake3_revision(edit, repo, path):
    done = subprocess.run([edit, "--repo", repo, "read", path], stdout=subprocess.PIPE, check=True)
    return json.loads(done.stdout)["data"]["files"][0]["revision"]


class Subject:
    """One server with its read line and its alternating apply lines."""

    def __init__(self, name, server, reads, applies, ok):
        self.name, self.server, self.reads, self.applies, self.ok = name, server, reads, applies, ok
        self.read_times, self.apply_times = [], []


def subjects(mcp, edit, filesystem, repo, revisions, read_count, apply_count):
    read_request = {"files": [{"path": "a.txt"}]}
    ours = Subject("tuvel-mcp", mcp_server([mcp, "--repo", repo]),
                   [mcp_line(i + 1, "read", read_request) for i in range(read_count)],
                   [mcp_line(read_count + i + 1, "apply", flip_request("edit-mcp.txt", revisions, i)) for i in range(apply_count)],
                   mcp_ok)
    batch = Subject("tuvel-edit batch", LineServer([edit, "--repo", repo, "batch"]),
                    [(json.dumps({"op": "read", "request": read_request}) + "\n").encode()] * read_count,
                    [(json.dumps({"op": "apply", "request": flip_request("edit-batch.txt", revisions, i)}) + "\n").encode()
                     for i in range(apply_count)],
                    batch_ok)
    fs_path = os.path.join(repo, "edit-fs.txt")

    def fs_edit(i):
        old, new = (LINE_A, LINE_B) if i % 2 == 0 else (LINE_B, LINE_A)
        return {"path": fs_path, "edits": [{"oldText": old.rstrip("\n"), "newText": new.rstrip("\n")}]}

    reference = Subject("filesystem server", mcp_server(["node", filesystem, repo]),
                        [mcp_line(i + 1, "read_text_file", {"path": os.path.join(repo, "a.txt")}) for i in range(read_count)],
                        [mcp_line(read_count + i + 1, "edit_file", fs_edit(i)) for i in range(apply_count)],
                        mcp_ok)
    return [ours, batch, reference]


def latency(mcp, edit, filesystem, repo, revisions, rounds, read_count, apply_count):
    everyone = subjects(mcp, edit, filesystem, repo, revisions, read_count * rounds, apply_count * rounds)
    try:
        for s in everyone:  # warm-up: start-up, caches, the reference server's JIT
            timed(s.server, s.reads[:read_count // 4], s.ok)
        # Rounds interleave the servers so that a noisy moment hits all of them.
        for r in range(rounds):
            for s in everyone:
                s.read_times += timed(s.server, s.reads[r * read_count:(r + 1) * read_count], s.ok)
                s.apply_times += timed(s.server, s.applies[r * apply_count:(r + 1) * apply_count], s.ok)
    finally:
        for s in everyone:
            s.server.close()
    return {s.name: (statistics.median(s.read_times), statistics.median(s.apply_times)) for s in everyone}


def mixed_lines(count):
    """Reads, previews, listings, failing calls and a large read, in a repeating mix."""
    kinds = [
        ("read", {"files": [{"path": "a.txt"}]}),
        ("read", {"files": [{"path": "big.txt", "start": 1, "end": 5000}]}),
        ("preview", {"path": "a.txt", "revision": "0" * 64, "edits": [{"kind": "replace", "old": "x", "new": "y", "count": 1}]}),
        ("list", {}),
        ("read", {"files": [{"path": "missing.txt"}]}),
        ("read", {"files": [{"path": "a.txt", "start": 10, "end": 20}, {"path": "big.txt", "start": 100}]}),
    ]
    return [mcp_line(i + 1, *kinds[i % len(kinds)]) for i in range(count)]


def memory(mcp, repo, revisions):
    """VmHWM of tuvel-mcp in KiB after the first 100 mixed calls and after all 10,000."""
    lines = mixed_lines(10000)
    for n, i in enumerate(range(0, len(lines), 20)):  # an apply in every 20 calls
        lines[i] = mcp_line(i + 1, "apply", flip_request("edit-mem.txt", revisions, n))
    server = mcp_server([mcp, "--repo", repo])
    try:
        timed(server, lines[:100], lambda answer: answer.endswith(b"\n"))
        first = server.peak_kib()
        timed(server, lines[100:], lambda answer: answer.endswith(b"\n"))
        return first, server.peak_kib()
    finally:
        server.close()


def flip_revisions(edit, repo):
    """Revisions of the small file with its first line as LINE_A and as LINE_B."""
    probe = os.path.join(repo, "probe.txt")
    revisions = []
    for first_line in (LINE_A, LINE_B):
        with open(probe, "wb") as f:
            f.write(first_line.encode() + SMALL[len(LINE_A):])
        revisions.append(blake3_revision(edit, repo, "probe.txt"))
    os.unlink(probe)
    return revisions


def flip_request(path, revisions, i):
    """The i-th apply of a run that flips the first line: from LINE_A on even i, back on odd."""
    revision, text = (revisions[0], LINE_B) if i % 2 == 0 else (revisions[1], LINE_A)
    return {"path": path, "revision": revision, "edits": [{"kind": "lines", "start": 1, "end": 2, "text": text}]}


def main():
    mcp, edit, filesystem = sys.argv[1:4]
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 7
    # On tmpfs a flush costs nothing, so the figures compare the programs' own
    # work instead of the disk (the reference server does not flush at all).
    where = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(prefix="tuvel-bench-mcp-", dir=where) as repo:
        repo = os.path.realpath(repo)
        for name in ("a.txt", "edit-mcp.txt", "edit-batch.txt", "edit-fs.txt", "edit-mem.txt"):
            with open(os.path.join(repo, name), "wb") as f:
                f.write(SMALL)
        with open(os.path.join(repo, "big.txt"), "wb") as f:
            f.write(SMALL * 64)

        revisions = flip_revisions(edit, repo)
        times = latency(mcp, edit, filesystem, repo, revisions, rounds, 500, 100)
        ours, batch, reference = (times[n] for n in ("tuvel-mcp", "tuvel-edit batch", "filesystem server"))
        print(f"4 KiB file in {where or tempfile.gettempdir()}, median time per call ({rounds} rounds, servers interleaved):")
        if where:
            print("  (tmpfs: tuvel's flushes cost nothing here; the filesystem server does not flush at all)")
        print(f"  {'':32}{'read':>10}{'apply':>12}")
        for name, (read, apply) in times.items():
            print(f"  {name:32}{read * 1e6:7.1f} us{apply * 1e6:9.1f} us")
        print(f"  {'tuvel-mcp / tuvel-edit batch':32}{ours[0] / batch[0]:9.2f}x{ours[1] / batch[1]:11.2f}x  (target <= 1.5x)")
        print(f"  {'filesystem server / tuvel-mcp':32}{reference[0] / ours[0]:9.2f}x{reference[1] / ours[1]:11.2f}x  (tuvel-mcp faster by)")

        first, full = memory(mcp, repo, revisions)
        print("tuvel-mcp fed 10,000 mixed calls (reads up to 64 KiB, previews, listings, failures, applies):")
        print(f"  peak after the first 100    {first / 1024:9.2f} MiB")
        print(f"  peak after all 10,000       {full / 1024:9.2f} MiB")
        print(f"  growth                      {(full - first) / 1024:9.2f} MiB  (target <= 1 MiB)")


if __name__ == "__main__":
    main()
