#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Batch benchmark: small reads answered by one `batch` process in lock-step
against one `tuvel-edit read` process per request, measured in one session;
then the peak memory of a batch process fed 10,000 small requests mixed with
overlong lines, against its peak after the first 100 of them."""
import os
import subprocess
import sys
import tempfile
import threading
import time

MIB = 1 << 20


def lock_step(edit, repo, request, count):
    proc = subprocess.Popen([edit, "--repo", repo, "batch"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    start = time.perf_counter()
    for _ in range(count):
        proc.stdin.write(request)
        proc.stdin.flush()
        answer = proc.stdout.readline()
        if b'"ok":true' not in answer:
            sys.exit(f"batch answered {answer[:200]!r}")
    elapsed = time.perf_counter() - start
    proc.stdin.close()
    proc.wait()
    return elapsed / count


def one_shot(edit, repo, count):
    start = time.perf_counter()
    for _ in range(count):
        done = subprocess.run([edit, "--repo", repo, "read", "a.txt"], stdout=subprocess.PIPE)
        if done.returncode != 0:
            sys.exit(f"read failed: {done.stdout[:200]!r}")
    return (time.perf_counter() - start) / count


def peak_memory(edit, repo, lines):
    """Feeds `lines` to a batch process (answers drained meanwhile); its peak RSS in KiB."""
    # /usr/bin/time reports the batch process alone; a child forked from this
    # interpreter would count the interpreter's pages too.
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", edit, "--repo", repo, "batch"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def feed():
        for line in lines:
            proc.stdin.write(line)
        proc.stdin.close()

    writer = threading.Thread(target=feed)
    writer.start()
    answers = proc.stdout.read().count(b"\n")
    writer.join()
    err = proc.stderr.read()
    proc.wait()
    if answers != len(lines):
        sys.exit(f"expected {len(lines)} answers, got {answers}")
    return int(err.decode().strip().splitlines()[-1])


def main():
    edit = sys.argv[1]
    with tempfile.TemporaryDirectory(prefix="tuvel-bench-batch-") as repo:
        with open(os.path.join(repo, "a.txt"), "wb") as f:
            f.write((b"int value = compute(first, second);  // a line of source\n" * 72)[:4096])
        request = b'{"op":"read","request":{"files":[{"path":"a.txt"}]}}\n'
        lock_step(edit, repo, request, 200)  # warm-up
        per_batch = min(lock_step(edit, repo, request, 2000) for _ in range(3))
        per_process = min(one_shot(edit, repo, 200) for _ in range(3))
        print("4 KiB file, read requests (best of 3 series, time per request):")
        print(f"  batch, lock-step            {per_batch * 1e6:9.1f} us")
        print(f"  one tuvel-edit per request  {per_process * 1e6:9.1f} us")
        print(f"  speed-up                    {per_process / per_batch:9.1f}x  (target >= 20x)")

        overlong = b"x" * (3 * MIB) + b"\n"
        lines = [overlong if i % 50 == 7 else request for i in range(10000)]
        first = peak_memory(edit, repo, lines[:100])
        full = peak_memory(edit, repo, lines)
        print("batch fed 10,000 small requests, every 50th line 3 MiB long (overlong):")
        print(f"  peak after the first 100    {first / 1024:9.2f} MiB")
        print(f"  peak after all 10,000       {full / 1024:9.2f} MiB")
        print(f"  growth                      {(full - first) / 1024:9.2f} MiB  (target <= 1 MiB)")


if __name__ == "__main__":
    main()
