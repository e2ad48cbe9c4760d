#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Runs the race-attack program against a built tuvel-edit for a bounded time.
# Usage: run.sh <path-to-tuvel-edit> <seconds>
set -euo pipefail
if [ $# -ne 2 ]; then
  echo "usage: $0 <path-to-tuvel-edit> <seconds>" >&2
  exit 2
fi
binary=$1
seconds=$2
attack="$(dirname "$binary")/tests/race/race_attack"
if [ ! -x "$attack" ]; then
  echo "race_attack not built at $attack" >&2
  exit 2
fi
# With the fault library built beside it, the second half of the time runs the
# same attacks as on a kernel without openat2, where the repository and every
# directory are opened by the component-by-component no-follow walk.
fault="$(dirname "$binary")/tests/libtuvel_fault.so"
if [ ! -f "$fault" ]; then
  exec "$attack" "$binary" "$seconds"
fi
half=$(awk -v s="$seconds" 'BEGIN { print s / 2 }')
"$attack" "$binary" "$half"
echo "race-attack: again, without openat2" >&2
LD_PRELOAD=$fault TUVEL_FAULT=openat2:ENOSYS ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" \
  exec "$attack" "$binary" "$half"
