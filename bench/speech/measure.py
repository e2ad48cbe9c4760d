"""Runs tuvel-speech and the baseline decoder alternately on one recording and
prints wall time and peak memory as ratios, and the real-time factor."""

import os
import statistics
import subprocess
import sys
import time
import wave


def run(argv):
    """Wall seconds and peak resident kilobytes of one run; its output."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{argv[0]} exited with {child.returncode}")
    return wall, usage.ru_maxrss, out.decode()


def main():
    program, audio, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
    with wave.open(audio) as w:
        seconds = w.getnframes() / w.getframerate()
    ours = [program, audio]
    base = ["pocketsphinx_continuous", "-infile", audio]

    # Same words from both, or the comparison means nothing.
    _, _, our_text = run(ours)
    _, _, base_text = run(base)
    if our_text.split() != base_text.split():
        sys.exit(f"transcripts differ: {our_text!r} vs {base_text!r}")

    samples = {"ours": [], "base": []}
    for _ in range(runs):  # alternated, so load on the machine hits both alike
        samples["ours"].append(run(ours)[:2])
        samples["base"].append(run(base)[:2])

    def wall(name):
        return statistics.median(s[0] for s in samples[name])

    def peak(name):
        return statistics.median(s[1] for s in samples[name]) / 1024

    print(f"audio: {seconds:.2f} s, 16 kHz mono WAV; {runs} runs each, alternated; medians")
    print(f"transcript: {our_text.strip()}")
    print(f"  tuvel-speech                  wall {wall('ours'):6.3f} s   peak RSS {peak('ours'):6.1f} MiB")
    print(f"  pocketsphinx_continuous       wall {wall('base'):6.3f} s   peak RSS {peak('base'):6.1f} MiB")
    print(f"wall time ratio    {wall('ours') / wall('base'):.3f}  (target at most 1.10)")
    print(f"peak memory ratio  {peak('ours') / peak('base'):.3f}  (target at most 1.10)")
    print(f"real-time factor   {wall('ours') / seconds:.3f}  (tuvel-speech wall time / audio duration)")


main()
