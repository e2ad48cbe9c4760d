#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Read benchmark, whole-process runs interleaved in one session:
`tuvel-edit read` of a 16 MiB text file against `b3sum --num-threads 1` (hashing
is the floor), of a small file against `cat` (process start is the floor), and
the peak memory of reading 16 MiB made only of line feeds."""
import os
import statistics
import subprocess
import sys
import tempfile
import time

MIB = 1 << 20


def source_text(size):
    line = "    if (value->count > limit) { return fail(\"too many\", value); }  // check\n"
    text = (line * (size // len(line) + 1))[:size - 1] + "\n"
    return text.encode()


def run(argv):
    """Wall time of one process."""
    start = time.perf_counter()
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"{argv} failed ({done.returncode}): {done.stderr!r}")
    return elapsed


def peak_kib(argv):
    """Peak resident memory of one process, from /usr/bin/time (a child forked
    from this interpreter would count the interpreter's own pages)."""
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *argv], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode != 0:
        sys.exit(f"{argv} failed ({done.returncode}): {done.stderr!r}")
    return int(done.stderr.decode().strip().splitlines()[-1])


def compare(label, a_argv, b_argv, rounds, target):
    a_times, b_times = [], []
    for i in range(rounds + 2):
        a = run(a_argv)
        b = run(b_argv)
        if i >= 2:
            a_times.append(a)
            b_times.append(b)
    ma, mb = statistics.median(a_times), statistics.median(b_times)
    print(f"{label} ({rounds} interleaved runs each, median wall time):")
    print(f"  tuvel-edit read   {ma * 1e3:8.2f} ms")
    print(f"  {os.path.basename(b_argv[0]):<17} {mb * 1e3:8.2f} ms")
    print(f"  ratio             {ma / mb:8.2f}  (target <= {target})")


def main():
    edit, rounds = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 21
    with tempfile.TemporaryDirectory(prefix="tuvel-bench-read-") as repo:
        big = os.path.join(repo, "big.txt")
        with open(big, "wb") as f:
            f.write(source_text(16 * MIB))
        compare("16 MiB text file", [edit, "--repo", repo, "read", "big.txt"],
                ["b3sum", "--num-threads", "1", big], rounds, 1.5)

        small = os.path.join(repo, "small.txt")
        with open(small, "wb") as f:
            f.write(source_text(2048))
        compare("2 KiB text file", [edit, "--repo", repo, "read", "small.txt"], ["cat", small], rounds * 3, 2.0)

        feeds = os.path.join(repo, "feeds.txt")
        with open(feeds, "wb") as f:
            f.write(b"\n" * (16 * MIB))
        peak = max(peak_kib([edit, "--repo", repo, "read", "feeds.txt", "--start", str(8 * MIB)]) for _ in range(3))
        limit = 1.5 * 16 * 1024 + 8 * 1024
        print(f"16 MiB of line feeds: peak memory {peak / 1024:.1f} MiB (target < {limit / 1024:.0f} MiB;"
              f" {peak / (16 * 1024):.2f}x file size)")


if __name__ == "__main__":
    main()
