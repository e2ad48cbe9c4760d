#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Publication benchmark: bench/publish/run.sh <build-dir> [rounds]
# Needs <build-dir>/edit/tuvel-edit; builds the baseline program on the side
# when the build dir does not have it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:?usage: run.sh <build-dir> [rounds]}" && pwd)"
rounds="${2:-15}"
edit="$build/edit/tuvel-edit"
baseline="$build/bench/publish/publish_baseline"
if [ ! -x "$baseline" ]; then
  tmp="$(mktemp -d)"
  trap 'rm -rf "$tmp"' EXIT
  cc -std=c11 -O2 -o "$tmp/publish_baseline" "$here/durable_replace.c"
  baseline="$tmp/publish_baseline"
fi
python3 "$here/measure.py" "$edit" "$baseline" "$rounds"
