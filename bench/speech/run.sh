#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# tuvel-speech against Debian's own tools, measured side by side in one run:
# - transcribing a 5-second 16 kHz WAV, against pocketsphinx_continuous -infile;
# - rejecting a small text file named notes.wav, against ffprobe;
# - the peak memory of transcribing a 12-minute recording, against
#   pocketsphinx_continuous -infile.
# Usage: bench/speech/run.sh <build-dir> [runs] [long-runs]  (long-runs 0 leaves the
# 12-minute recording out)
set -euo pipefail

build=${1:?usage: bench/speech/run.sh <build-dir> [runs] [long-runs]}
runs=${2:-9}
long_runs=${3:-1}
program="$build/speech/tuvel-speech"
[ -x "$program" ] || { echo "no $program; build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=/usr/share/pocketsphinx/test/data
# Two recorded sentences cut to 5 s. A plain 44-byte header, which is all the
# baseline skips before reading samples.
cat "$data/goforward.raw" "$data/something.raw" |
  ffmpeg -nostdin -hide_banner -loglevel error -f s16le -ar 16000 -ac 1 -i - \
    -t 5 -bitexact -map_metadata -1 "$work/speech.wav"
echo "these are not the sounds you are looking for" >"$work/notes.wav"
# Three recordings (9.8 s) said 74 times over: 12 minutes 6 seconds.
for _ in $(seq 74); do cat "$data/goforward.raw" "$data/something.raw" "$data/numbers.raw"; done |
  ffmpeg -nostdin -hide_banner -loglevel error -f s16le -ar 16000 -ac 1 -i - \
    -bitexact -map_metadata -1 "$work/long.wav"

exec python3 "$(dirname "$0")/measure.py" "$program" "$work" "$runs" "$long_runs"
