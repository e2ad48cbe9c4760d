#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Publication benchmark: one small edit to a 1 MiB file through the real
`tuvel-edit apply`, against a minimal durable replace of the same new bytes,
both as whole-process runs interleaved in one session (median wall and CPU
time of each); then the peak memory of an apply to a 16 MiB file."""
import json
import os
import resource
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20


def text_of(size):
    lines, total, i = [], 0, 0
    while total < size:
        line = f"line {i:07d} of the benchmark source, plain ascii text\n"
        lines.append(line)
        total += len(line)
        i += 1
    text = "".join(lines)[:size]
    return text[: text.rfind("\n") + 1]


def put(path, data):
    if os.path.exists(path):
        os.unlink(path)
    with open(path, "wb") as f:
        f.write(data)


def revision(edit, repo, name):
    out = subprocess.run([edit, "--repo", repo, "read", name, "--end", "2"], capture_output=True, check=True).stdout
    return json.loads(out)["data"]["files"][0]["revision"]


def lines_request(name, rev, line, text):
    return json.dumps({"path": name, "revision": rev,
                       "edits": [{"kind": "lines", "start": line, "end": line + 1, "text": text}]}).encode()


def replaced_line(old, line, text):
    lines = old.splitlines(keepends=True)
    lines[line - 1] = text
    return "".join(lines)


def timed(argv, stdin_bytes=None):
    """Wall time and CPU time (user + system) of one whole-process run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    done = subprocess.run(argv, input=stdin_bytes, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        sys.exit(f"{argv[0]} failed: {done.stdout!r} {done.stderr!r}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return elapsed, cpu, done.stdout


def main():
    edit, baseline, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 15
    with tempfile.TemporaryDirectory(prefix="tuvel-bench-publish-", dir=os.environ.get("BENCH_DIR", "/tmp")) as work:
        repo = os.path.join(work, "repo")
        os.mkdir(repo)
        target = os.path.join(repo, "a.txt")
        new_bytes_file = os.path.join(work, "new.txt")

        old = text_of(MIB)
        new_line = "this line was changed by the benchmark\n"
        new = replaced_line(old, 5000, new_line)
        put(target, old.encode())
        request = lines_request("a.txt", revision(edit, repo, "a.txt"), 5000, new_line)
        put(new_bytes_file, new.encode())

        _, _, out = timed([edit, "--repo", repo, "apply"], request)
        assert json.loads(out)["data"]["applied"] is True
        with open(target, "rb") as f:
            assert f.read() == new.encode(), "apply wrote other bytes than the baseline"

        apply_wall, apply_cpu, base_wall, base_cpu = [], [], [], []
        for i in range(rounds + 3):
            put(target, old.encode())
            a_wall, a_cpu, _ = timed([edit, "--repo", repo, "apply"], request)
            put(target, old.encode())
            b_wall, b_cpu, _ = timed([baseline, target, new_bytes_file])
            if i >= 3:  # warm-up rounds
                apply_wall.append(a_wall)
                apply_cpu.append(a_cpu)
                base_wall.append(b_wall)
                base_cpu.append(b_cpu)
        med = statistics.median
        print(f"1 MiB, one line edit, {rounds} interleaved whole-process runs each (medians):")
        print(f"  {'':24} {'wall':>9} {'cpu':>9}")
        print(f"  tuvel-edit apply         {med(apply_wall) * 1e3:6.2f} ms {med(apply_cpu) * 1e3:6.2f} ms")
        print(f"  minimal durable replace  {med(base_wall) * 1e3:6.2f} ms {med(base_cpu) * 1e3:6.2f} ms")
        print(f"  ratio apply/baseline     {med(apply_wall) / med(base_wall):6.2f}x   "
              f"{med(apply_cpu) / med(base_cpu):6.2f}x   (target <= 1.30 each)")

        # Peak memory: an apply to a file of exactly 16 MiB, same-length edit.
        big = text_of(16 * MIB)
        big = big + "x" * (16 * MIB - len(big) - 1) + "\n"
        assert len(big) == 16 * MIB
        same_len = "LINE" + big.splitlines(keepends=True)[99][4:]
        peaks = []
        for _ in range(3):
            put(target, big.encode())
            req = lines_request("a.txt", revision(edit, repo, "a.txt"), 100, same_len)
            done = subprocess.run(["/usr/bin/time", "-f", "%M", edit, "--repo", repo, "apply"], input=req,
                                  capture_output=True)
            if done.returncode != 0:
                sys.exit(f"apply failed: {done.stdout!r} {done.stderr!r}")
            peaks.append(int(done.stderr.decode().strip().splitlines()[-1]))
        limit_kib = (4 * 16 * MIB + 8 * MIB) // 1024
        peak = max(peaks)
        print(f"16 MiB apply peak memory  {peak / 1024:8.1f} MiB  (target < {limit_kib / 1024:.0f} MiB;"
              f" {peak / (16 * 1024):.2f}x file size)")


if __name__ == "__main__":
    main()
