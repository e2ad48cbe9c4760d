# SPDX-License-Identifier: Apache-2.0
"""Runs tuvel-speech and a baseline alternately on the same input and prints
wall time and peak memory as ratios: transcribing a short recording (against
pocketsphinx_continuous), rejecting a file that is not audio (against
ffprobe), and transcribing a 12-minute recording (against
pocketsphinx_continuous, memory only)."""

import os
import statistics
import subprocess
import sys
import time
import wave


def run(argv, status=0):
    """Wall seconds and peak resident kilobytes of one run; its output."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = child.stdout.read()
    _, wait_status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(wait_status)
    if code != status:
        sys.exit(f"{' '.join(argv)} exited with {code}, not {status}")
    return wall, usage.ru_maxrss, out.decode()


def compare(ours, base, runs, status=0):
    """Median wall seconds and peak MiB of each, runs alternated so that load
    on the machine hits both alike; and the output of each first run."""
    samples = {"ours": [], "base": []}
    for _ in range(runs):
        samples["ours"].append(run(ours, status))
        samples["base"].append(run(base, status))
    figures = {
        name: (statistics.median(s[0] for s in got), statistics.median(s[1] for s in got) / 1024)
        for name, got in samples.items()
    }
    return figures, samples["ours"][0][2], samples["base"][0][2]


def same_words(our_text, base_text):
    """Same words from both, or the comparison means nothing."""
    if our_text.split() != base_text.split():
        sys.exit(f"transcripts differ: {our_text!r} vs {base_text!r}")
    return our_text


def seconds(path):
    with wave.open(path) as w:
        return w.getnframes() / w.getframerate()


def show(figures, base_name):
    for name, label in (("ours", "tuvel-speech"), ("base", base_name)):
        wall, peak = figures[name]
        print(f"  {label:<28}  wall {wall:7.3f} s   peak RSS {peak:6.1f} MiB")


def ratio(figures, index):
    return figures["ours"][index] / figures["base"][index]


def main():
    program, work, runs, long_runs = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    speech, notes, long = (os.path.join(work, name) for name in ("speech.wav", "notes.wav", "long.wav"))

    ours, base = [program, speech], ["pocketsphinx_continuous", "-infile", speech]
    text = same_words(run(ours)[2], run(base)[2])  # and the files are in the cache
    short = compare(ours, base, runs)[0]
    print(f"audio: {seconds(speech):.2f} s, 16 kHz mono WAV; {runs} runs each, alternated; medians")
    print(f"transcript: {text.strip()}")
    show(short, "pocketsphinx_continuous")
    print(f"wall time ratio    {ratio(short, 0):.3f}  (target at most 1.10)")
    print(f"peak memory ratio  {ratio(short, 1):.3f}  (target at most 1.10)")
    print(f"real-time factor   {short['ours'][0] / seconds(speech):.3f}  (tuvel-speech wall time / audio duration)")

    rejected = compare([program, notes], ["ffprobe", "-loglevel", "error", notes], runs, status=1)[0]
    print()
    print(f"not audio: a {os.path.getsize(notes)}-byte text file named notes.wav; {runs} runs each, alternated; medians")
    show(rejected, "ffprobe -loglevel error")
    print(f"wall time ratio    {ratio(rejected, 0):.3f}  (target at most 1.00)")
    print(f"peak memory ratio  {ratio(rejected, 1):.3f}  (target at most 1.00)")

    if long_runs == 0:
        return
    ours, base = [program, long], ["pocketsphinx_continuous", "-infile", long]
    print()
    print(f"long audio: {seconds(long) / 60:.1f} min, 16 kHz mono WAV; {long_runs} runs each, alternated; medians")
    lasting, our_text, base_text = compare(ours, base, long_runs)
    words = len(same_words(our_text, base_text).split())
    print(f"transcript: {words} words, the same from both")
    show(lasting, "pocketsphinx_continuous")
    print(f"peak memory ratio  {ratio(lasting, 1):.3f}  (target at most 1.15)")


main()
