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
exec "$attack" "$binary" "$seconds"
