#!/usr/bin/env bash
# tuvel-speech against Debian's own decoder, pocketsphinx_continuous -infile,
# on the same 5-second 16 kHz WAV, measured side by side in one run.
# Usage: bench/speech/run.sh <build-dir> [runs]
set -euo pipefail

build=${1:?usage: bench/speech/run.sh <build-dir> [runs]}
runs=${2:-9}
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

exec python3 "$(dirname "$0")/measure.py" "$program" "$work/speech.wav" "$runs"
